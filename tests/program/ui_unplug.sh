#!/bin/bash
# A drive unplugged (its sysfs entry removed) shows " --- disconnected --- "
# and leaves the list about 30 seconds later.
. "$(dirname "$0")/lib/tui_test.sh" "$@"

sandbox_add_drive sda 4 "Disk Alpha" ACME
sandbox_add_drive sdb 4 "Disk Beta" ACME
tui_start 80 25
check "drives listed" tui_wait "Disk Beta" 20
tui_ns rm -rf "$(tui_path /sys/block/sdb)"
check "shown disconnected" tui_wait "Disk Beta              --- disconnected ---" 10
start=$(date +%s)
check "gone from the list" tui_wait_gone "Disk Beta" 45
took=$(( $(date +%s) - start ))
check "kept for about 30 s (${took}s)" [ "$took" -ge 25 ]
check "the other drive stays" tui_wait "Disk Alpha" 1
tui_keys q
check "program ends" tui_wait_exit 20
check "nothing on standard error" [ ! -s "$SANDBOX/stderr" ]
exit $fail
