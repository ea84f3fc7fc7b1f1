#!/bin/bash
# No log medium: the program says so and asks; any key scans again, d goes on
# without one (the logs stay in the /log directory). With USE_NODELAY it goes
# on at once. The internal disk is never mounted, and what the search logs
# before logging starts does not end up on the console.
. "$(dirname "$0")/lib/tui_test.sh" "$@"
command -v mkfs.ext2 >/dev/null 2>&1 && command -v dumpe2fs >/dev/null 2>&1 || sandbox_skip "e2fsprogs not found"

sandbox_add_drive sda 4 "Disk Alpha" ACME
mkfs.ext2 -q -F "$(sandbox_image sda)" 2>/dev/null  # would mount, were it removable
missing="Could not find an appropriate removable device for log file"
prompt="Press 'D' to disable log, any other key to rescan"
times() { [ "$(tui_screen | grep -cF -- "$1")" = "$2" ] || { tui_screen | sed 's/^/  | /' >&2; return 1; }; }

# A loop device of the live system: listed, but no bus to look at.
cat > "$SANDBOX/hook.sh" <<'HOOK'
echo "   7       99       1000 loop9" >> "$S/partitions"
mkdir -p "$R/sys/block/loop9"
HOOK
SANDBOX_HOOK=$SANDBOX/hook.sh tui_start 80 25 USE_LOGFILE=y
check "asks for a log medium" tui_wait "$prompt" 20
only_x() { tui_screen | grep -qx "xx"; }
check "the internal disk and the loop device are x" only_x
tui_keys r
sleep 0.5
check "no scan before the line is entered" times "$missing" 1
tui_keys Enter
# r and the line feed are two keys: two more scans.
for i in $(seq 1 50); do [ "$(tui_screen | grep -cF -- "$missing")" = 3 ] && break; sleep 0.1; done
check "once per key" times "$missing" 3
tui_keys d Enter
check "goes on without a log medium" tui_wait "Disk Alpha" 20
tui_keys q
check "program ends" tui_wait_exit 20
check "nothing on standard error" [ ! -s "$SANDBOX/stderr" ]
check "session log in the /log directory" grep -qF "######## Zorvane 2.69 ########" "$SANDBOX_OUT/log/zorvane.log"
never_mounted() { dumpe2fs -h "$(sandbox_image sda)" 2>/dev/null | grep -qE '^Mount count: +0$'; }
check "the internal disk was never mounted" never_mounted

rm -rf "$SANDBOX_OUT"/*
tui_start 80 25 USE_LOGFILE=y USE_NODELAY=1
check "USE_NODELAY: goes on at once" tui_wait "Disk Alpha" 20
tui_keys q
check "program ends" tui_wait_exit 20
check "nothing on standard error" [ ! -s "$SANDBOX/stderr" ]
check "session log written" grep -qF "######## Zorvane 2.69 ########" "$SANDBOX_OUT/zorvane.log"
exit $fail
