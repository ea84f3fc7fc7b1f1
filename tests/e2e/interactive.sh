#!/bin/bash
# The operator's way through the interface, typed through tmux onto the VM's
# serial console: wait for the drive list, select the SATA SSD and the USB
# stick with the arrow keys and S, press W, confirm the countdown with Enter,
# wait for both reports and leave with Q. Only those two images may change:
# each holds the report and then the sector-number pattern (zeros on the
# trimmed SATA drive); every other drive is untouched. The VM's SCSI disks
# give sense data in descriptor format (D_SENSE), the form the other tests
# leave to the kernel's default.
. "$(dirname "$0")/lib.bash" "$@"
command -v tmux >/dev/null || skip "tmux is not installed"

sess=zv-e2e-$$
prepare_images
date +%s > "$work/time-start"
tmux kill-session -t "$sess" 2>/dev/null
tmux new-session -d -s "$sess" -x 100 -y 30 \
  "'$vm/run-vm' --image '$image' --work '$work' --console stdio --rows 30 --cols 100 --timeout 700 -- \
     zv.dsense=1 zv.term=screen zv.SCHEME=testpattern zv.VERIFY=Y zv.USE_NODELAY=Y zv.timeout=600; \
   echo \$? > '$work/qemu-status'; sleep 2"
trap 'tmux kill-session -t "$sess" 2>/dev/null' EXIT

screen() { tmux capture-pane -p -t "$sess" 2>/dev/null; }
shot=0
snapshot() { shot=$((shot + 1)); screen > "$work/screen-$shot-$1.txt"; }
wait_until() { # wait_until SECONDS COMMAND...: until the command succeeds or the VM is off
  local i
  for ((i = 0; i < $1 * 2; i++)); do
    "${@:2}" && return 0
    [ -f "$work/qemu-status" ] && return 1
    sleep 0.5
  done
  return 1
}
on_screen() { screen | grep -Eq -- "$1"; }
wait_screen() { wait_until "$2" on_screen "$1"; }  # wait_screen EXTENDED-REGEX SECONDS
keys() { tmux send-keys -t "$sess" "$@"; sleep 0.5; }
# The 1-based list index shown in front of the row that contains TEXT.
row_index() { screen | grep -F -- "$1" | head -1 | sed -n 's/^ *\([0-9][0-9]*\) .*/\1/p'; }

if ! wait_screen "$ZV_SATA0_MODEL" 300 || ! wait_screen 'QEMU HARDDISK' 30; then
  snapshot no-list
  fail "the drive list never showed the SATA SSD and the USB stick"
  finish
fi
sleep 2
snapshot list
sata_row=$(row_index "$ZV_SATA0_MODEL")
usb_row=$(row_index "QEMU HARDDISK")
check "both drives have a row (SATA $sata_row, USB $usb_row)" test -n "$sata_row" -a -n "$usb_row"

check "the list holds the five wipeable drives" test "$(grep -Ec '^ +[0-9]+ ---- ' "$work/screen-$shot-list.txt")" = 5

# Select the two rows, top to bottom, from the first row. On the SATA SSD's
# row the detail pane shows what the program read from the drive.
sata=$(kname sata0)
cur=1
for target in $(printf '%s\n' "$sata_row" "$usb_row" | sort -n); do
  while [ $cur -lt "$target" ]; do keys Down; cur=$((cur + 1)); done
  if [ "$target" = "$sata_row" ]; then
    wait_screen "Dev name: $sata" 10
    snapshot sata-details
    details=$work/screen-$shot-sata-details.txt
  fi
  keys s
done
sleep 1
snapshot selected
keys w
if wait_screen 'Confirm wiping' 20; then
  snapshot countdown
  keys Enter
else
  snapshot no-countdown
  fail "W did not open the countdown window"
fi
finished() { [ "$(grep -cF "Wiping finished with status" "$work/out/live/zorvane.log" 2>/dev/null)" -ge 2 ]; }
wait_until 400 finished || fail "the two drives did not finish within 400 s"
snapshot finished
keys q
wait_until 120 false
date +%s > "$work/time-end"
check "the VM powered off after Q" grep -qx 0 "$work/qemu-status"
check "the program ended with status 0" grep -qx 0 "$work/out/exit-status"

usb=$(kname usb0)
check "S selected the SATA SSD" in_wipe_log "Selecting device $sata"
check "S selected the USB stick" in_wipe_log "Selecting device $usb"
check "the countdown started the task" in_wipe_log "Wiping task started"
for d in sata0 usb0; do
  check_report "$d" success || continue
  check "$d: report lists the sector-number pass" test "$(report_field "$d" pass.1)" = "pass 1: wiping pass [test] is success"
  case $d in sata0) check_data "$d" zero ;; usb0) check_data "$d" test ;; esac  # the SSD was trimmed
done
# SMART and the security feature set, as the detail pane showed them for the
# SATA SSD, against what smartctl -A and hdparm -I read inside the VM.
realloc=$(awk '$1 == 5 && $2 == "Reallocated_Sector_Ct" { print $NF }' "$work/out/peer/$sata.smartctl")
check "the kernel answers the SATA SSD's ATA pass-through in descriptor format (D_SENSE)" \
  grep -qi "descriptor format" "$work/out/peer/$sata.sat-sense"
check "the SATA SSD's details give the SMART status" grep -q "S.M.A.R.T. status OK" "$details"
check "the SATA SSD's details give the reallocated sector count that smartctl -A reads ($realloc)" \
  grep -q "Bad sectors: $realloc *\$" "$details"
check "the SATA SSD's details name its features" grep -q "Features: .* LBA48 SMART TRIM" "$details"
check "no erase times for a drive without the security feature set (hdparm -I shows none)" \
  bash -c "! grep -q '^Security:' '$work/out/peer/$sata.hdparm-I' && ! grep -q 'ATA ERASE' '$details'"

for d in sata1 scsi0 sd0 vblk0 cd0 fd0; do check "$d (not selected) unchanged" unchanged "$d"; done

finish
