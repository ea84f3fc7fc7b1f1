#!/bin/bash
# Boots the VM with every kind of virtual drive and runs the program without
# selecting anything: the kernel sees each drive through the expected driver
# and sysfs path (what the program's device classes rest on), the program
# starts, ends on its own, and no drive was touched.
. "$(dirname "$0")/lib.bash" "$@"

prepare_images
run_vm --timeout 400 -- zv.autoquit=20 zv.timeout=240
rc=$?
check "the VM ran to its power-off (qemu status $rc)" test $rc = 0 -a -f "$work/out/done"
check "the program ended with status 0" grep -qx 0 "$work/out/exit-status"

expect_driver() { # expect_driver DRIVE PATH-REGEX DRIVER
  local k
  k=$(kname "$1")
  [ -n "$k" ] || { fail "$1: no kernel device found"; return; }
  check "$1 is $k under $2 with driver $3" \
    bash -c "grep -Eq '^device=.*$2' '$work/out/peer/$k.sysfs' && grep -qx 'driver=$3' '$work/out/peer/$k.sysfs'"
}
expect_driver sata0 '/ata[0-9]+/host[0-9]+/' sd
expect_driver sata1 '/ata[0-9]+/host[0-9]+/' sd
expect_driver cd0 '/ata[0-9]+/host[0-9]+/' sr
expect_driver scsi0 '/virtio[0-9]+/host[0-9]+/' sd
expect_driver usb0 '/usb[0-9]+/' sd
expect_driver sd0 '/mmc_host/mmc[0-9]+/' mmcblk
expect_driver vblk0 '/virtio[0-9]+$' virtio_blk
expect_driver fd0 '/floppy' floppy
check "the SD card is an SD card" grep -qx "type=SD" "$work/out/peer/$(kname sd0).sysfs"
check "the floppy is block major 2" grep -qx "dev=2:0" "$work/out/peer/$(kname fd0).sysfs"
check "session banner" in_wipe_log "######## Zorvane 2.69 ########"

# Nothing was selected, so nothing may have changed.
for d in $ZV_ALL_DRIVES; do check "$d unchanged" unchanged "$d"; done

finish
