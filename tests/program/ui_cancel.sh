#!/bin/bash
# At 120x40: W opens the countdown, a key other than Enter cancels it, and
# nothing is written anywhere.
. "$(dirname "$0")/lib/tui_test.sh" "$@"

sandbox_add_drive sda 4 "Disk Alpha" ACME
sandbox_add_drive sdb 4 "Disk Beta" ACME
for d in sda sdb; do
  head -c 4M /dev/urandom | dd of="$(sandbox_image $d)" conv=notrunc status=none
done
sum_before=$(cat "$(sandbox_image sda)" "$(sandbox_image sdb)" | sha256sum)

tui_start 120 40 USE_NODELAY=1
check "drives listed" tui_wait "Disk Beta" 20
tui_keys S Down S
tui_keys W
check "countdown window" tui_wait "Confirm wiping" 5
check "start text shown" tui_wait "ALL DATA ON THE SELECTED DRIVES WILL BE DESTROYED." 3
tui_keys x
check "countdown closed" tui_wait_gone "Confirm wiping" 5
# Longer than the countdown would have run.
sleep 13
check "nothing is wiping" tui_wait_gone "Wiping 1/" 1
check "images untouched" [ "$(cat "$(sandbox_image sda)" "$(sandbox_image sdb)" | sha256sum)" = "$sum_before" ]
tui_keys q
check "program ends" tui_wait_exit 20
check "exit status 0" [ "${TUI_RC:-x}" = 0 ]
check "cancellation logged" grep -qF "Wiping task start cancelled by user" "$SANDBOX_OUT/zorvane.log"
check "no task started" bash -c "! grep -qF 'Wiping task started' '$SANDBOX_OUT/zorvane.log'"
check "nothing on standard error" [ ! -s "$SANDBOX/stderr" ]
exit $fail
