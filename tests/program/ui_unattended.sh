#!/bin/bash
# Unattended mode: every drive is selected when detected and the countdown
# starts by itself and runs out; every image ends with a success report.
. "$(dirname "$0")/lib/tui_test.sh" "$@"

for d in sda sdb sdc; do sandbox_add_drive $d 4 "Disk $d" ACME; done
tui_start 80 25 WIPE_ALL_DISKS=1 USE_NODELAY=1 SCHEME=zeros
check "countdown opens by itself" tui_wait "Confirm wiping" 20
selected() { [ "$(tui_screen | grep -cE '^ +[0-9]+ WIPE ')" = 3 ] || { tui_screen | sed 's/^/  | /' >&2; return 1; }; }
check "every drive selected" selected
all=0
for i in $(seq 1 600); do
  ok=0
  for d in sda sdb sdc; do [ "$(report_status "$(sandbox_image $d)")" = success ] && ok=$((ok + 1)); done
  [ "$ok" = 3 ] && { all=1; break; }
  sleep 0.1
done
check "every drive carries a success report" [ "$all" = 1 ]
check "countdown gone" tui_wait_gone "Confirm wiping" 5
tui_keys q
check "program ends" tui_wait_exit 20
check "started by the countdown, no key pressed" grep -qF "Wiping task started" "$SANDBOX_OUT/zorvane.log"
check "nothing on standard error" [ ! -s "$SANDBOX/stderr" ]
exit $fail
