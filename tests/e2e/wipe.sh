#!/bin/bash
# The main job, unattended: every drive the program can wipe is selected and
# wiped with one random pass read back (HPA and DCO reset on: QEMU's drives
# offer neither, and the queues go on without), the session ends by itself.
# Every wiped image starts with a well-formed report followed by the ISAAC64
# random blocks for one seed, or zeros on the trimmed SATA and SCSI drives;
# the SATA drive whose IDENTIFY data fail the checksum, the CD-ROM and the
# floppy are unchanged and never listed; the session log names each drive
# with its class and the identity the peer tools read (hdparm -I, sg_inq,
# sysfs), and says what happened to it, step by step.
. "$(dirname "$0")/lib.bash" "$@"

prepare_images
run_vm --timeout 800 -- zv.WIPE_ALL_DISKS=Y zv.USE_NODELAY=Y zv.SCHEME=random zv.VERIFY=Y \
  zv.RESET_HPA=Y zv.RESET_DCO=Y zv.autoquit=done zv.timeout=600
rc=$?
check "the VM ran to its power-off (qemu status $rc)" test $rc = 0 -a -f "$work/out/done"
check "the session ended by itself, not by the time limit" test ! -f "$work/out/timeout"
check "the program ended with status 0" grep -qx 0 "$work/out/exit-status"
check "nothing on the program's standard error" test ! -s "$work/out/logs/zorvane.stderr"
read -r t0 t1 <<< "$(seed_range)"
wlog=$work/out/logs/zorvane.log

check "the unattended mode started the countdown and the task" \
  in_order "$wlog" "Wipe: start countdown" "Wiping task started"
check "five queues, one per wipeable drive" in_debug_log "Wipe task. Total queues: 5"

for d in $ZV_WIPED_DRIVES; do
  k=$(kname "$d")
  [ -n "$k" ] || { fail "$d: the VM did not see it"; continue; }
  check "$d ($k) is listed" listed "$k"
  # What the session log says, in order.
  steps=("Disk-$k: using '1-pass Random' scheme, 1 pass(es)" "Disk-$k: wiping pass 1/1 [random] started"
         "Disk-$k: wiping pass 1/1 completed in " "Disk-$k: verifying pass 1/1 started"
         "Disk-$k: verifying pass 1/1 completed in ")
  case $d in sata0|scsi0) steps+=("Disk-$k: trim pass started" "Disk-$k: trim pass completed in ") ;; esac
  steps+=("Disk-$k: Wiping finished with status: success")
  check "$d ($k): the session log follows the wipe step by step" in_order "$wlog" "${steps[@]}"
  check "$d ($k): no failure logged" bash -c "! grep -F 'Disk-$k: ' '$wlog' | grep -q 'ERROR\|WARN'"

  check_report "$d" success || continue
  check "$d: report lists the random pass" test "$(report_field "$d" pass.1)" = "pass 1: wiping pass [random] is success"
  check "$d: report lists the verification" test "$(report_field "$d" pass.2)" = "pass 2: verifying pass is success"
  case $d in
    sata0|scsi0)
      check "$d: report lists the trim pass last" \
        test "$(report_field "$d" pass.3)" = "pass 3: trim pass is success" -a "$(report_field "$d" passes)" = 3
      check_data "$d" zero ;;
    *)
      check "$d: no trim pass" test "$(report_field "$d" passes)" = 2
      check_data "$d" random "$t0" "$t1" ;;
  esac
done

for d in $ZV_KEPT_DRIVES; do check "$d unchanged, byte for byte" unchanged "$d"; done

# The SATA SSD: an ATA device over SCSI/ATA translation, named as hdparm -I
# reads it, put into standby.
k=$(kname sata0)
# peer FILE FIELD: a "field: value" line that a peer tool wrote for drive $k.
peer() { sed -n "s/^[[:space:]]*$2:[[:space:]]*//p" "$work/out/peer/$k.$1" | head -1 | sed 's/[[:space:]]*$//'; }
check "the kernel answers sata0's ATA pass-through in fixed-format sense (no D_SENSE)" \
  grep -qi "fixed format" "$work/out/peer/$k.sat-sense"
check "sata0 ($k) is an ATA device over SAT" test "$(device_class "$k")" = ATA-SAT
check "sata0 is named as hdparm -I names it, with ' SSD' after the model and the firmware after the serial" \
  in_wipe_log "Disk-$k: $(peer hdparm-I 'Model Number') SSD, s/n: $(peer hdparm-I 'Serial Number') firmware: $(peer hdparm-I 'Firmware Revision') ata device detected."
check "sata0 was put into standby (the Standby command completed)" \
  bash -c "grep -F '$k: [Standby] Command complete: 0' '$work/out/logs/xdebug.log' >/dev/null &&
           ! grep -qF '$k: Standby. RunAtaCommand failed' '$work/out/logs/xdebug.log'"

# The SATA drive with the broken IDENTIFY checksum: rejected, never listed.
k=$(kname sata1)
check "sata1 ($k): the IDENTIFY checksum is rejected and its initialisation fails" \
  in_order "$work/out/logs/xdebug.log" "Initializing device $k " "ATA IDENTITY checksum failed." "Disk-$k: initialization failed"
check "sata1 is never listed" bash -c "! grep -q \"Device '$k' - \" '$work/out/logs/xdebug.log'"
check "sata1 is never named in the session log" bash -c "! grep -qF 'Disk-$k:' '$wlog'"

# The virtio-scsi disk: a SCSI device named as sg_inq reads it.
k=$(kname scsi0)
product=$(peer sg_inq 'Product identification') serial=$(peer sg_inq 'Unit serial number')
check "scsi0 ($k) is a SCSI device" test "$(device_class "$k")" = SCSI
check "scsi0 is named as sg_inq names it ($product, $serial)" in_wipe_log "Disk-$k: $product, s/n: $serial scsi device detected."

# The USB stick: a USB device (not ATA: QEMU's bridge passes no ATA
# commands), named as sg_inq and the USB serial number say.
k=$(kname usb0)
product=$(peer sg_inq 'Product identification')
check "usb0 ($k) is a USB device" test "$(device_class "$k")" = USB
check "usb0 is named as sg_inq names it, with the USB serial number" \
  in_wipe_log "Disk-$k: $product, s/n: $ZV_USB0_SERIAL usb device detected"

# The SD card: an SD/MMC device named from its sysfs type, name and serial.
k=$(kname sd0)
serial=$(sysfs_value "$k" serial)
check "sd0 ($k) is an SD/MMC device" test "$(device_class "$k")" = SD/MMC
check "sd0 is named from sysfs ($(sysfs_value "$k" type) card $(sysfs_value "$k" name), s/n ${serial#0x})" \
  in_wipe_log "Disk-$k: $(sysfs_value "$k" type) card $(sysfs_value "$k" name), s/n: ${serial#0x} SD/MMC device detected."

k=$(kname vblk0)
check "vblk0 ($k) is a plain block device" test "$(device_class "$k")" = generic

# Held back: the CD-ROM and the floppy are found, never listed, never queued.
k=$(kname fd0)
check "fd0 is seen as a floppy drive" in_wipe_log "Disk-$k: Floppy drive"
for d in cd0 fd0; do
  k=$(kname "$d")
  check "$d ($k) is held back: never listed, never queued" \
    bash -c "grep -qF 'Initializing device $k ' '$work/out/logs/xdebug.log' &&
             ! grep -q \"Device '$k' - \\|$k: Wipe task\" '$work/out/logs/xdebug.log'"
done

finish
