#!/bin/bash
# Interactive wipe at 80x25: select two of three drives, look at the options
# and pick the 3-pass scheme from the menus, W, countdown, Enter. Progress
# moves on screen, both selected images end with a "success" report at byte
# 0, the third image is untouched byte for byte.
. "$(dirname "$0")/lib/tui_test.sh" "$@"

sandbox_add_drive sda 48 "Disk Alpha" ACME
sandbox_add_drive sdb 4 "Disk Beta" ACME
sandbox_add_drive sdc 48 "Disk Gamma" ACME
for d in sda sdb sdc; do
  head -c "$(stat -c %s "$(sandbox_image $d)")" /dev/urandom | dd of="$(sandbox_image $d)" conv=notrunc status=none
done
beta_before=$(sha256sum < "$(sandbox_image sdb)")
# Slow the two drives to be wiped down, so that the progress can be watched.
throttled=1
tui_throttle sda 16 && tui_throttle sdc 16 || throttled=0

tui_start 80 25 USE_NODELAY=1
check "drives listed" tui_wait "Disk Gamma" 20
check "legend of the normal mode" tui_wait "[M]enu [S]elect [W]ipe [R]escan" 2
tui_keys S Down Down S
sleep 0.5
check "two drives tagged WIPE" [ "$(tui_screen | grep -c ' WIPE ')" = 2 ]
check "the unselected drive keeps ----" tui_wait "  2 ---- 4.1 MB" 2

# Options menu: look, then cancel.
tui_keys m
check "main menu" tui_wait "Wiping options" 5
tui_keys Down Enter
check "options menu" tui_wait "Use ATA ERASE" 5
check "options legend" tui_wait "Space-Select Enter-OK  Q -Cancel" 2
tui_keys q
check "options menu closed" tui_wait_gone "Use ATA ERASE" 5

# Scheme menu: move to the 3-pass scheme, check it, confirm.
tui_keys m
tui_wait "Wiping scheme" 5 >/dev/null
tui_keys Enter
check "scheme menu" tui_wait "3-pass US DoD" 5
pos=$(tui_screen | grep -F '[' | grep -F ']' | grep -nF '3-pass US DoD' | cut -d: -f1)
for i in $(seq 2 "${pos:-1}"); do tui_keys Down; done
tui_keys Space
check "3-pass scheme checked" tui_wait "[*] 3-pass US DoD" 3
tui_keys Enter
check "scheme menu closed" tui_wait_gone "3-pass US DoD" 5

tui_keys w
check "countdown window" tui_wait "Confirm wiping" 5
check "countdown legend" tui_wait "Enter-Start Any other key-Cancel" 2
check "countdown running" tui_wait "[00:1" 2
check "log pane shown" tui_wait " Log " 2
tui_keys Enter
if [ "$throttled" = 1 ]; then
  check "first pass in progress" tui_wait "Wiping 1/3" 20
  p1=$(tui_screen | grep -o 'Wiping [0-9]/3 *[0-9.]*%' | head -n 1)
  check "speed and time left shown" tui_wait "MB/s ETA " 5
  moved=0
  for i in $(seq 1 200); do
    p2=$(tui_screen | grep -o 'Wiping [0-9]/3 *[0-9.]*%' | head -n 1)
    if [ -n "$p2" ] && [ "$p2" != "$p1" ]; then moved=1; break; fi
    sleep 0.1
  done
  check "progress moves ('$p1' -> '${p2:-}')" [ "$moved" = 1 ]
  check "both drives progress at once" [ "$(tui_screen | grep -c 'Wiping [0-9]/3')" = 2 ]
  tui_screen | grep -m1 'Wiping [0-9]/3' | sed 's/^/     /'
else
  echo "skip progress checks: this machine cannot slow the drives down"
fi

done_both=0
for i in $(seq 1 600); do
  if [ "$(report_status "$(sandbox_image sda)")" = success ] && [ "$(report_status "$(sandbox_image sdc)")" = success ]; then
    done_both=1; break
  fi
  sleep 0.1
done
check "both selected drives carry a success report" [ "$done_both" = 1 ]
check "report starts at byte 0" bash -c "head -c 6 '$(sandbox_image sda)' | grep -q '^Date: '"
check "unselected drive untouched" [ "$(sha256sum < "$(sandbox_image sdb)")" = "$beta_before" ]
check "log pane shows the result" tui_wait "Wiping finished with status: success" 20

tui_keys q
check "program ends" tui_wait_exit 20
check "exit status 0" [ "${TUI_RC:-x}" = 0 ]
log=$SANDBOX_OUT/zorvane.log
check "scheme chosen in the menu" grep -qF "'3-pass US DoD 5220-22M(E)' scheme selected" "$log"
check "task started by the countdown" grep -qF "Wiping task started" "$log"
check "nothing on standard error" [ ! -s "$SANDBOX/stderr" ]
exit $fail
