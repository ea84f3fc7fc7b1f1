#!/bin/bash
# An NVMe drive (QEMU's nvme controller, one namespace, the serial number set
# on QEMU's command line) wiped unattended with the drive's own erase as the
# last pass (3-pass scheme, ATA_ERASE on): inside the VM the kernel's nvme
# driver carries the admin commands, and nvme-cli reads the same drive. On
# the host:
# - the session log names the drive as `nvme id-ctrl` does and gives its
#   health as `nvme smart-log` does;
# - two overwrite passes run, the third is left to Format NVM, which QEMU
#   carries out by zeroing the namespace: the image holds a well-formed report
#   ("success", the erase listed last) and zeros behind it, where the second
#   pass had left ones.
. "$(dirname "$0")/lib.bash" "$@"

prepare_images
zv_make_image "$work/disks" nvme0
image_sums > "$work/sums-before"
run_vm --drives nvme0 --timeout 600 -- zv.WIPE_ALL_DISKS=Y zv.USE_NODELAY=Y zv.SCHEME=dod3 zv.ATA_ERASE=Y \
  zv.autoquit=done zv.timeout=400
rc=$?
check "the VM ran to its power-off (qemu status $rc)" test $rc = 0 -a -f "$work/out/done"
check "the session ended by itself, not by the time limit" test ! -f "$work/out/timeout"
check "the program ended with status 0" grep -qx 0 "$work/out/exit-status"
wlog=$work/out/logs/zorvane.log

k=$(cd "$work/out/peer" && ls nvme*n*.sysfs 2>/dev/null | head -1)
k=${k%.sysfs}
[ -n "$k" ] || { fail "the VM did not see the NVMe namespace"; finish; }
# A field of nvme-cli's "name : value" output, without the padding.
nvme_field() { sed -n "s/^$2[[:space:]]*:[[:space:]]*//p" "$work/out/peer/$k.$1" | head -1 | sed 's/[[:space:]]*$//'; }
sn=$(nvme_field id-ctrl sn) mn=$(nvme_field id-ctrl mn)
check "nvme id-ctrl reads the serial number set on QEMU's command line ($sn)" test "$sn" = "$ZV_NVME0_SERIAL"
check "$k is listed" listed "$k"
check "$k is named as nvme id-ctrl names it" in_wipe_log "Disk-$k: $mn, s/n: $sn nvme device detected."
check "$k's size line" in_wipe_log "Disk-$k: $ZV_DISK_SIZE_TEXT, $ZV_DISK_BYTES Bytes"
warn=$(nvme_field smart-log critical_warning) used=$(nvme_field smart-log percentage_used)
errors=$(nvme_field smart-log media_errors) kelvin=$(nvme_field smart-log temperature | sed -n 's/.*(\([0-9]*\) K.*/\1/p')
check "$k's health as nvme smart-log gives it (warning $warn, $kelvin K, $used used, $errors errors)" \
  in_wipe_log "Disk-$k: health: critical warning $(printf '0x%02X' "$warn"), temperature $((kelvin - 273)) C, $used used, $errors media errors"

erase=$(sed -n "s/.*Disk-$k: hardware erase '\(Format NVM [^']*\)' started.*/\1/p" "$wlog" | head -1)
check "$k: the erase is a Format NVM ($erase)" test -n "$erase"
check "$k: two passes, then the drive's own erase, step by step" in_order "$wlog" \
  "Disk-$k: using '3-pass US DoD 5220-22M(E)' scheme, 3 pass(es)" "Disk-$k: wiping pass 2/3 completed in " \
  "Disk-$k: wiping pass 3/3 skipped. Hardware erase will be used." "Disk-$k: hardware erase '$erase' started" \
  "Disk-$k: hardware erase '$erase' completed in " "Disk-$k: Wiping finished with status: success"
check "$k: no failure logged" bash -c "! grep -F 'Disk-$k: ' '$wlog' | grep -q 'ERROR\|WARN'"
if check_report nvme0 success; then
  check "nvme0: the report lists the erase last" \
    test "$(report_field nvme0 pass.3)" = "pass 3: NVMe $erase is success" -a "$(report_field nvme0 passes)" = 3
  check_data nvme0 zero
fi
finish
