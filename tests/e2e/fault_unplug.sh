#!/bin/bash
# USB sticks pulled out (QEMU device_del) during an unattended wipe next to
# two healthy drives: usb0, throttled, in its wiping pass; usb1, plugged in
# after the start, during the 30-second countdown that adds it to the running
# task (so the others wait for it at the last checkpoint). Each removal is
# logged and shown, what was queued for the sticks is dropped (usb1 is never
# written) and they leave the checkpoint, so the healthy drives finish with
# "success"; no finished wipe is claimed on a stick; Q ends the session.
. "$(dirname "$0")/lib.bash" "$@"

prepare_images
zv_make_image "$work/disks" usb1
image_sums > "$work/sums-before"
setsid "$vm/run-vm" --image "$image" --work "$work" --console pipe --rows 30 --cols 100 \
  --drives "sata0 vblk0 usb0" --hotplug usb1 --throttle usb0:1048576 --timeout 600 -- \
  zv.WIPE_ALL_DISKS=Y zv.USE_NODELAY=Y zv.SCHEME=random zv.VERIFY=Y zv.timeout=400 &
qemu=$!
# run-vm leads its own process group: the clean-up ends QEMU with it.
trap 'kill -- -$qemu 2>/dev/null' EXIT

live() { grep -qF -- "$2" "$work/out/live/$1" 2>/dev/null; }  # live LOG TEXT: in the log the VM is writing
wait_for() { # wait_for SECONDS COMMAND...: until the command succeeds or QEMU ends
  local i n=$1; shift
  for ((i = 0; i < n; i++)); do
    "$@" && return 0
    kill -0 $qemu 2>/dev/null || return 1
    sleep 1
  done
  return 1
}
pull() { # pull STICK KNAME SERIAL: QEMU removes it; the program logs the removal
  echo "device_del ${1}dev" > "$work/monitor.in"
  check "the program saw $2 go" wait_for 30 live zorvane.log "Disk-$2: QEMU HARDDISK, s/n: $3 device removed."
}

seen() { [ -n "$(kname "$1")" ]; }
wait_for 200 seen usb0 || { fail "the VM never listed the first USB stick"; finish; }
usb0=$(kname usb0)
wait_for 200 live zorvane.log "Wiping task started" || { fail "the wipe never started"; finish; }

# Plug the second stick in and pull it once it has joined the running task.
cat "$work/hotplug/usb1" > "$work/monitor.in"
usb1=
found_usb1() {
  usb1=$(sed -n "s/.*Disk-\([a-z0-9]*\): .*, s\/n: $ZV_USB1_SERIAL usb device detected.*/\1/p" "$work/out/live/zorvane.log" | head -1)
  [ -n "$usb1" ]
}
if wait_for 60 found_usb1 && wait_for 30 live xdebug.log "$usb1: Wipe task. Init"; then
  ok "the stick plugged in during the session ($usb1) joined the running task"
  pull usb1 "$usb1" "$ZV_USB1_SERIAL"
else
  fail "the stick plugged in during the session was not added to the task"
fi

if live zorvane.log "Disk-$usb0: wiping pass 1/1 [random] started" && ! live zorvane.log "Disk-$usb0: wiping pass 1/1 completed"; then
  ok "usb0 ($usb0) is in its wiping pass"
  pull usb0 "$usb0" "$ZV_USB0_SERIAL"
else
  fail "usb0 ($usb0) was not in its wiping pass when it was to be pulled"
fi

finished() { [ "$(grep -cF 'Wiping finished with status' "$work/out/live/zorvane.log")" -ge 2 ]; }
check "the healthy drives finished" wait_for 300 finished
sleep 3
cp "$work/console.log" "$work/console-before-quit.log"
for ((i = 0; i < 60; i++)); do
  kill -0 $qemu 2>/dev/null || break
  timeout 2 bash -c "printf q > '$work/serial.in'"
  sleep 2
done
wait $qemu
rc=$?
trap - EXIT
check "the VM powered off after Q (qemu status $rc)" test $rc = 0 -a -f "$work/out/done"
check "the program ended with status 0" grep -qx 0 "$work/out/exit-status"
check "nothing on the program's standard error" test ! -s "$work/out/logs/zorvane.stderr"
wlog=$work/out/logs/zorvane.log
dlog=$work/out/logs/xdebug.log

# The stick plugged in late: listed, added behind the countdown, pulled.
check "$usb1 was added to the running task behind the 30-second countdown" \
  in_order "$dlog" "Device '$usb1' - connected." "$usb1: Wipe task. Init" "$usb1: Running command 'delay'"
check "its countdown was on the screen" grep -aq "Wiping will start in [0-9]* seconds" "$work/console-before-quit.log"
check "the removal of $usb1 is in the session log" in_wipe_log "Disk-$usb1: QEMU HARDDISK, s/n: $ZV_USB1_SERIAL device removed."
check "its queue was dropped: it never started wiping" \
  bash -c "! grep -qF 'Disk-$usb1: wiping' '$wlog' && ! grep -qF \"$usb1: Running command 'Wipe proxy'\" '$dlog'"
check "it left the session's last checkpoint" bash -c "grep -q 'session_terminator: 1 disk(s) left the task' '$dlog'"
check "no finished wipe claimed for $usb1, which got no report" bash -c "! grep -qF 'Disk-$usb1: Wiping finished' '$wlog'"
check "usb1 unchanged, byte for byte" unchanged usb1

# The stick pulled during its pass.
check "the removal of $usb0 is in the session log" in_wipe_log "Disk-$usb0: QEMU HARDDISK, s/n: $ZV_USB0_SERIAL device removed."
check "no finished wipe claimed for $usb0" bash -c "! grep -q 'Disk-$usb0: Wiping finished with status: success' '$wlog'"
if "$imgcheck" report "$(image_of usb0)" > "$work/usb0.report"; then
  check "usb0's report (written before the kernel let go of it) does not say success" \
    test "$(report_field usb0 status)" != success
else
  ok "no report on usb0"
fi
check "the list showed the pulled sticks disconnected" \
  test "$(grep -ao -- '--- disconnected ---' "$work/console-before-quit.log" | wc -l)" -ge 1

# The healthy drives are not held up by the sticks (wipe.sh checks their bytes).
for d in sata0 vblk0; do
  check "$d: the session log gives the result" in_wipe_log "Disk-$(kname "$d"): Wiping finished with status: success"
done
check "the last checkpoint let everyone through" in_debug_log "session_terminator: all the disks are in this checkpoint now"

finish
