#!/bin/bash
# A USB stick pulled out (QEMU device_del) while it is being wiped, next to a
# healthy drive. The program must log the removal, keep running, finish and
# verify the healthy drive, never claim a finished wipe on the stick, and end
# normally on Q.
. "$(dirname "$0")/lib.bash" "$@"

prepare_images
date +%s > "$work/time-start"
"$vm/run-vm" --image "$image" --work "$work" --console pipe --rows 30 --cols 100 --drives "usb0 vblk0" \
  --timeout 600 -- zv.WIPE_ALL_DISKS=Y zv.USE_NODELAY=Y zv.SCHEME=random zv.VERIFY=Y zv.timeout=400 &
qemu=$!
trap 'kill $qemu 2>/dev/null' EXIT

live() { cat "$work/out/live/zorvane.log" 2>/dev/null; }
wait_live() { # wait_live FIXED-TEXT SECONDS
  local i
  for ((i = 0; i < $2; i++)); do
    live | grep -qF -- "$1" && return 0
    kill -0 $qemu 2>/dev/null || return 1
    sleep 1
  done
  return 1
}
wait_kname() {
  local i k
  for ((i = 0; i < 200; i++)); do
    k=$(kname "$1")
    [ -n "$k" ] && { echo "$k"; return 0; }
    sleep 1
  done
  return 1
}

usb=$(wait_kname usb0) || { fail "the VM never listed the USB stick"; finish; }
vblk=$(wait_kname vblk0) || { fail "the VM never listed the virtio disk"; finish; }
if wait_live "Disk-$usb: wiping pass 1/1 [random] started" 300; then
  sleep 2
  echo "device_del usbstick" > "$work/monitor.in"
  ok "the stick was pulled during its wipe"
else
  fail "the stick's wipe never started"
fi
check "the program saw the stick go" wait_live "device removed." 60
check "the healthy drive was verified" wait_live "Disk-$vblk: verifying pass 1/1 completed" 300
sleep 5
cp "$work/out/live/zorvane.log" "$work/log-before-quit.txt" 2>/dev/null
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
check "the removal names the stick" in_wipe_log "Disk-$usb: "
check "the removal is in the session log" bash -c "grep -F 'Disk-$usb: ' '$work/out/logs/zorvane.log' | grep -q 'device removed.'"
check "no finished wipe claimed for the stick" bash -c "! grep -q 'Disk-$usb: Wiping finished with status: success' '$work/out/logs/zorvane.log'"
report=$("$imgcheck" report "$(image_of usb0)")
check "no success report on the stick" bash -c "! grep -qx 'status=success' <<< '$report'"

finish
