#!/bin/bash
# The main job, unattended: every drive the program can wipe is selected and
# wiped with one random pass read back, the session ends by itself, and on
# the host:
# - every wiped image starts with a well-formed report ("success", the passes
#   listed) followed by the wiped data: the ISAAC64 random blocks for one seed
#   on drives without TRIM, zeros on the trimmed SATA and SCSI drives;
# - the SATA drive whose IDENTIFY data fail the checksum, the CD-ROM and the
#   floppy are unchanged;
# - the session log names each drive with its class (ATA over SAT as an SSD,
#   SCSI, USB, SD/MMC), the identity the peer tools read, and its result.
. "$(dirname "$0")/lib.bash" "$@"

prepare_images
run_vm --timeout 800 -- zv.WIPE_ALL_DISKS=Y zv.USE_NODELAY=Y zv.SCHEME=random zv.VERIFY=Y \
  zv.autoquit=done zv.timeout=600
rc=$?
check "the VM ran to its power-off (qemu status $rc)" test $rc = 0 -a -f "$work/out/done"
check "the session ended by itself, not by the time limit" test ! -f "$work/out/timeout"
check "the program ended with status 0" grep -qx 0 "$work/out/exit-status"

t0=$(($(cat "$work/time-start") - 120))
t1=$(($(cat "$work/time-end") + 120))

for d in $ZV_WIPED_DRIVES; do
  k=$(kname "$d")
  [ -n "$k" ] || { fail "$d: the VM did not see it"; continue; }
  img=$(image_of "$d")
  if ! "$imgcheck" report "$img" > "$work/$d.report"; then
    fail "$d ($k): no well-formed report at byte 0: $(cat "$work/$d.report")"
    continue
  fi
  r() { sed -n "s/^$1=//p" "$work/$d.report"; }
  check "$d ($k): report status success" test "$(r status)" = success -a "$(r body_status)" = success
  check "$d ($k): report lists the random pass" test "$(r pass.1)" = "pass 1: wiping pass [random] is success"
  check "$d ($k): report lists the verification" test "$(r pass.2)" = "pass 2: verifying pass is success"
  case $d in
    sata0|scsi0)
      check "$d ($k): report lists the trim pass" test "$(r pass.3)" = "pass 3: trim pass is success"
      check "$d ($k): trimmed: zeros behind the report" "$imgcheck" data "$img" "$(r data_offset)" zero ;;
    *)
      check "$d ($k): no trim pass" test "$(r passes)" = 2
      check "$d ($k): random data behind the report" "$imgcheck" data "$img" "$(r data_offset)" random $t0 $t1 ;;
  esac
  check "$d ($k): the log has its result" in_wipe_log "Disk-$k: Wiping finished with status: success"
done

for d in $ZV_KEPT_DRIVES; do check "$d unchanged" unchanged "$d"; done

# Device classes and identities, as the peer tools saw them.
k=$(kname sata0)
model=$(sed -n 's/^[[:space:]]*Model Number:[[:space:]]*//p' "$work/out/peer/$k.hdparm-I" | sed 's/[[:space:]]*$//')
serial=$(sed -n 's/^[[:space:]]*Serial Number:[[:space:]]*//p' "$work/out/peer/$k.hdparm-I" | sed 's/[[:space:]]*$//')
check "sata0 is an ATA drive named as hdparm -I names it, marked SSD" \
  in_wipe_log "Disk-$k: $model SSD, s/n: $serial firmware: 2.5+ ata device detected."
check "sata0's features include TRIM" bash -c "grep -F 'Disk-$k: ' '$work/out/logs/zorvane.log' | grep -q 'LBA48.*TRIM'"
check "sata0 was trimmed" in_wipe_log "Disk-$k: trim pass completed"
check "sata0 was put into standby" bash -c "grep -F '$k' '$work/out/logs/xdebug.log' | grep -F 'Standby' | grep -Eq 'Command complete: 0|completed with return code=0'"
realloc=$(awk '$1 == 5 && $2 == "Reallocated_Sector_Ct" { print $NF }' "$work/out/peer/$k.smartctl")
if [ "${realloc:-0}" = 0 ]; then
  check "sata0: no bad sectors reported, as smartctl -A says" bash -c "! grep -q 'Disk-$k: .*bad sectors detected' '$work/out/logs/zorvane.log'"
else
  check "sata0: $realloc bad sectors, as smartctl -A says" in_wipe_log "Disk-$k: $realloc bad sectors detected"
fi

k=$(kname sata1)
check "sata1's IDENTIFY checksum is rejected" in_debug_log "ATA IDENTITY checksum failed."
check "sata1 is not listed" in_debug_log "Disk-$k: initialization failed"

k=$(kname scsi0)
product=$(sed -n 's/^ *Product identification: *//p' "$work/out/peer/$k.sg_inq" | sed 's/[[:space:]]*$//')
serial=$(sed -n 's/^ *Unit serial number: *//p' "$work/out/peer/$k.sg_inq" | sed 's/[[:space:]]*$//')
check "scsi0 is a SCSI drive named as sg_inq names it" grep -Eq "Disk-$k: $product *, s/n: $serial scsi device detected\." "$work/out/logs/zorvane.log"
check "scsi0 was trimmed" in_wipe_log "Disk-$k: trim pass completed"

k=$(kname usb0)
check "usb0 is a USB drive" bash -c "grep -F 'Disk-$k: ' '$work/out/logs/zorvane.log' | grep -q ' usb device detected'"
k=$(kname sd0)
check "sd0 is an SD/MMC drive" bash -c "grep -F 'Disk-$k: ' '$work/out/logs/zorvane.log' | grep -q ' SD/MMC device detected.'"
k=$(kname fd0)
check "fd0 is seen as a floppy drive" in_wipe_log "Disk-$k: Floppy drive"

finish
