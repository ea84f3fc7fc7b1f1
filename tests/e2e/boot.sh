#!/bin/bash
# Boots the VM with every kind of virtual drive, runs the program without
# selecting anything, and checks that the kernel sees each drive through the
# expected driver, that the two SATA drives' IDENTIFY data pass and fail the
# integrity check as built, that the peer tools read the identities we gave
# the drives, that the program starts and writes its session banner, and that
# no drive was touched.
. "$(dirname "$0")/lib.bash" "$@"

prepare_images
run_vm --timeout 400 -- zv.autoquit=20 zv.timeout=240
rc=$?
check "the VM ran to its power-off (qemu status $rc)" test $rc = 0 -a -f "$work/out/done"
check "the program ended with status 0" grep -qx 0 "$work/out/exit-status"

# Drivers and sysfs paths.
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
k=$(kname sd0)
check "the SD card is an SD card" grep -qx "type=SD" "$work/out/peer/$k.sysfs"
k=$(kname fd0)
check "the floppy is block major 2" grep -qx "dev=2:0" "$work/out/peer/$k.sysfs"

# IDENTIFY integrity: the byte sum over the 512 bytes, as hdparm read them.
for d in sata0 sata1; do
  k=$(kname "$d")
  [ -n "$k" ] || continue
  "$imgcheck" identify "$work/out/peer/$k.identify" > "$work/$d.identify" || fail "$d: IDENTIFY dump unreadable"
  v() { sed -n "s/^$1=//p" "$work/$d.identify"; }
  serial_var=ZV_${d^^}_SERIAL model_var=ZV_${d^^}_MODEL
  check "$d IDENTIFY serial is '${!serial_var}'" test "$(v serial)" = "${!serial_var}"
  check "$d IDENTIFY model is '${!model_var}'" test "$(v model)" = "${!model_var}"
  check "$d IDENTIFY reports ATA major 6 or later (the checksum applies)" test "$(v major)" -ge 6
  check "$d IDENTIFY reports a non-rotating drive with TRIM" test "$(v rotation)" = 1 -a "$(v trim)" = 1
  check "$d IDENTIFY byte sum $(v sum) is what the drive strings predict" \
    test "$(v sum)" = "$(zv_identify_sum "${!serial_var}" "${!model_var}")"
  check "hdparm -I names $d's model" grep -q "Model Number: *${!model_var} *$" "$work/out/peer/$k.hdparm-I"
done
check "sata0's IDENTIFY data pass the checksum" grep -qx "sum=0" "$work/sata0.identify"
check "sata1's IDENTIFY data fail the checksum" bash -c "! grep -qx 'sum=0' '$work/sata1.identify'"
k=$(kname sata0)
check "smartctl -A reads sata0's reallocated sector count" grep -Eq '^ *5 Reallocated_Sector_Ct .* [0-9]+$' "$work/out/peer/$k.smartctl"

k=$(kname scsi0)
check "sg_inq reads the SCSI disk's vendor, product and serial" bash -c "
  grep -q 'Vendor identification: $ZV_SCSI0_VENDOR' '$work/out/peer/$k.sg_inq' &&
  grep -q 'Product identification: $ZV_SCSI0_PRODUCT' '$work/out/peer/$k.sg_inq' &&
  grep -q 'Unit serial number: $ZV_SCSI0_SERIAL' '$work/out/peer/$k.sg_inq'"
k=$(kname usb0)
check "sg_inq reads the USB stick's serial" grep -q "Unit serial number: $ZV_USB0_SERIAL" "$work/out/peer/$k.sg_inq"

# The program started: banner, then the machine description from /tmp/sys_info.
check "session banner" in_wipe_log "######## Zorvane 2.69 ########"
check "session start line" bash -c "grep -Eq 'Session started at [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4}' '$work/out/logs/zorvane.log'"
check "banner also on the debug log" in_debug_log "######## Zorvane 2.69 ########"
while IFS= read -r line; do
  [ -n "$line" ] && check "machine description line '$line' copied" in_wipe_log "$line"
done < "$work/out/logs/sys_info"

# Nothing was selected, so nothing may have changed.
for d in $ZV_ALL_DRIVES; do check "$d unchanged" unchanged "$d"; done

finish
