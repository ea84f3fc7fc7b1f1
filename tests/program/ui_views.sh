#!/bin/bash
# Views at 120x40 with DEBUG set: Tab cycles details, log and verbose log; the
# log pane follows the log as a wipe writes to it; ? opens the help; Space
# shows the report at sector 0 after the wipe, S jumps to a sector, Page
# Down/Up move.
. "$(dirname "$0")/lib/tui_test.sh" "$@"

sandbox_add_drive sda 4 "Disk Alpha" ACME
tui_start 120 40 DEBUG=1 USE_NODELAY=1 SCHEME=zeros
check "drive listed" tui_wait "Disk Alpha" 20
check "details pane" tui_wait " Disk details " 2
check "details of the drive" tui_wait "Capacity: 4.1 MB, 4194304 Bytes, 8192 sectors" 2
tui_keys Tab
check "log pane" tui_wait " Log " 3
check "log pane shows the session log" tui_wait "Session started at" 3
tui_keys Tab
check "verbose log pane" tui_wait " Verbose log " 3
check "verbose log shows the debug log" tui_wait "Loading schemes..." 3
tui_keys Tab
check "back to details" tui_wait " Disk details " 3

tui_keys ?
check "help window" tui_wait " Help " 3
check "help text" tui_wait "ZORVANE - DISK WIPING" 3
check "help legend" tui_wait "PgUp/PgDn-Prev/Next Up/Dn-Scroll  Q -Close" 2
tui_keys NPage
check "help pages down" tui_wait "THE REPORT" 3
tui_keys q
check "help closed" tui_wait_gone " Help " 3

tui_keys S W
check "countdown" tui_wait "Confirm wiping" 5
tui_keys Enter
check "log pane follows the wipe to its result" tui_wait "Wiping finished with status: success" 40
for i in $(seq 1 100); do [ "$(report_status "$(sandbox_image sda)")" = success ] && break; sleep 0.1; done
# The queue is finished once the device is idle again: Space opens the dump.
for i in $(seq 1 50); do
  tui_keys Space
  tui_wait "Sector (0-8191)" 1 2>/dev/null && break
done
check "sector dump of sector 0" tui_wait "Sector (0-8191): 0 / Hex (0-1FFF): 0" 3
check "report bytes in hex" tui_wait "0000: 44 61 74 65 3A 20" 3
check "report text in the character column" tui_wait "Date: " 1
check "completion status in the dump" tui_wait "ion-Status: succ" 1
tui_keys NPage
check "Page Down moves to sector 1" tui_wait "Sector (0-8191): 1 / Hex (0-1FFF): 1" 3
tui_keys PPage
check "Page Up moves back" tui_wait "Sector (0-8191): 0 / Hex (0-1FFF): 0" 3
tui_keys s
check "number box" tui_wait " Enter sector number " 3
check "range shown" tui_wait " 0-8191:" 1
tui_keys BSpace 7 0 0 0 Enter
check "jumps to the typed sector" tui_wait "Sector (0-8191): 7000 / Hex (0-1FFF): 1B58" 3
check "zeros after the wipe" tui_wait "0000: 00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00 ................" 2
tui_keys q
check "dump closed" tui_wait_gone "Sector (0-8191)" 3
tui_keys q
check "program ends" tui_wait_exit 20
check "nothing on standard error" [ ! -s "$SANDBOX/stderr" ]
exit $fail
