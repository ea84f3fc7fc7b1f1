#!/bin/bash
# Test mode: the welcome window opens by itself once the drives are detected
# and closes on any key; the legend names the mode; nothing is selected.
. "$(dirname "$0")/lib/tui_test.sh" "$@"

sandbox_add_drive sda 4 "Disk Alpha" ACME
tui_start 80 25 TEST_MODE=y WIPE_ALL_DISKS=1
check "welcome window" tui_wait " Welcome to Zorvane! " 20
check "welcome text" tui_wait "This is the TEST MODE of Zorvane." 3
check "welcome legend" tui_wait "Press any key to continue" 1
check "test-mode legend" tui_wait "TEST MODE      ? -Help Tab-details/log [M]ain menu [R]escan Space-view data" 1
tui_keys x
check "welcome closed" tui_wait_gone " Welcome to Zorvane! " 5
check "nothing selected, although WIPE_ALL_DISKS is set" [ "$(tui_screen | grep -c ' WIPE ')" = 0 ]
tui_keys Tab Tab
check "verbose log offered (debug level 2)" tui_wait " Verbose log " 3
tui_keys q
check "program ends" tui_wait_exit 20
check "nothing on standard error" [ ! -s "$SANDBOX/stderr" ]
exit $fail
