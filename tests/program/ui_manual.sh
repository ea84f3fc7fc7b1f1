#!/bin/bash
# Manual mode at 120x40: the disk menu runs "Wipe" on one drive, and
# "Cancel" from the same menu stops it before the end.
. "$(dirname "$0")/lib/tui_test.sh" "$@"

sandbox_add_drive sda 4 "Disk Alpha" ACME
sandbox_add_drive sdb 64 "Disk Beta" ACME
# A marker at the very end of sdb: a cancelled wipe never gets there.
img=$(sandbox_image sdb)
printf 'END-MARKER-END-MARKER' | dd of="$img" bs=1 seek=$(( (64 << 20) - 512 )) conv=notrunc status=none
# Slow sdb down so that the wipe is still running when Cancel comes.
tui_throttle sdb 16 || sandbox_skip "this machine cannot slow a drive down"

tui_start 120 40 USE_SHELL=1 SCHEME=dod7
check "drives listed" tui_wait "Disk Beta" 20
check "manual-mode legend" tui_wait "[M]ain menu [D]isk menu [R]escan" 2
tui_keys S
sleep 0.3
check "S selects nothing in manual mode" [ "$(tui_screen | grep -c ' WIPE ')" = 0 ]
tui_keys Down d
check "disk menu with Wipe" tui_wait "Enter-OK  Q -Cancel" 5
tui_keys Enter
check "wipe runs on the chosen drive" tui_wait "Wiping 1/7" 20
check "the other drive stays idle" [ "$(tui_screen | grep -c 'Wiping ')" = 1 ]
tui_keys d
check "menu offers Cancel" tui_wait "Cancel" 5
tui_keys Enter
check "wipe stopped" tui_wait_gone "Wiping " 20
check "row shows the wipe did not complete" tui_wait "Disk Beta             Failed." 5
sleep 1
check "the end of the drive was never reached" bash -c "tail -c 512 '$img' | grep -qa END-MARKER"
tui_keys q
check "program ends" tui_wait_exit 20
check "exit status 0" [ "${TUI_RC:-x}" = 0 ]
check "cancellation in the session log" grep -qF "Disk-sdb: wiping cancelled at pass 1" "$SANDBOX_OUT/zorvane.log"
check "nothing on standard error" [ ! -s "$SANDBOX/stderr" ]
exit $fail
