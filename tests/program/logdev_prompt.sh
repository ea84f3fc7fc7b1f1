#!/bin/bash
# No log medium: the program says so and asks; each key scans again, d goes
# on without one (the logs stay in /log). The internal disk with a file system
# and a loop device are never mounted ("x"). Then, with DEBUG, the real files
# behind the views: Tab shows the session log, then the verbose log; ? the help.
. "$(dirname "$0")/lib/sandbox.sh" "$@"
command -v mkfs.ext2 >/dev/null 2>&1 && command -v dumpe2fs >/dev/null 2>&1 || sandbox_skip "e2fsprogs not found"

sandbox_add_drive sda 4 "Disk Alpha" ACME
mkfs.ext2 -q -F "$(sandbox_image sda)" 2>/dev/null
missing="Could not find an appropriate removable device for log file"
scans() { [ "$(tui_screen | grep -cF -- "$missing")" = "$1" ]; }
SANDBOX_HOOK='echo "   7       99       1000 loop9" >> "$S/partitions"; mkdir -p "$R/sys/block/loop9"' tui_start 120 40 USE_LOGFILE=y DEBUG=1
check "asks for a log medium" tui_wait "Press 'D' to disable log, any other key to rescan" 20
check "the internal disk and the loop device are x" bash -c "tmux -L $TUI_SOCKET capture-pane -p -t zv | grep -qx xx"
tui_keys r Enter
check "one scan more per key" poll 5 scans 3
tui_keys d Enter
check "goes on without a log medium" tui_wait "Capacity: 4.1 MB, 4194304 Bytes, 8192 sectors" 20
tui_keys Tab
check "log pane shows the session log" tui_wait "Session started at" 3
tui_keys Tab
check "verbose log pane shows the debug log" tui_wait "Loading schemes..." 3
tui_keys Tab ?
check "help text" tui_wait "ZORVANE - DISK WIPING" 3
tui_keys q q
check "program ends" tui_wait_exit 20
check "nothing on standard error" [ ! -s "$SANDBOX/stderr" ]
check "session log in the /log directory" grep -qF "######## Zorvane 2.69 ########" "$SANDBOX_OUT/log/zorvane.log"
check "the internal disk was never mounted" bash -c "dumpe2fs -h '$(sandbox_image sda)' 2>/dev/null | grep -qE '^Mount count: +0$'"
exit $fail
