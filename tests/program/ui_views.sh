#!/bin/bash
# The real files behind the views, with DEBUG set: Tab shows the session log
# and then the verbose log as the program writes them, ? the help text.
. "$(dirname "$0")/lib/tui_test.sh" "$@"

sandbox_add_drive sda 4 "Disk Alpha" ACME
tui_start 120 40 DEBUG=1
check "details of the drive" tui_wait "Capacity: 4.1 MB, 4194304 Bytes, 8192 sectors" 20
tui_keys Tab
check "log pane shows the session log" tui_wait "Session started at" 3
tui_keys Tab
check "verbose log pane shows the debug log" tui_wait "Loading schemes..." 3
tui_keys Tab ?
check "help text" tui_wait "ZORVANE - DISK WIPING" 3
tui_keys q q
check "program ends" tui_wait_exit 20
check "nothing on standard error" [ ! -s "$SANDBOX/stderr" ]
exit $fail
