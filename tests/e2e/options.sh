#!/bin/bash
# The wipe options from the environment and a scheme directory in which only
# some files are good, unattended, on the SATA SSD and the virtio disk:
# - the broken scheme files are rejected by name, the two good ones load,
#   and SCHEME picks the pattern scheme, which the drives are wiped with;
# - RESET_HPA, RESET_DCO and ATA_ERASE are on. QEMU's ATA drive announces
#   neither the HPA, the DCO nor the security feature set (hdparm -I lists
#   none), so the program offers no HPA or DCO reset and no ATA erase: the
#   queued reset steps find no command and the queues go on, every drive
#   gets the full overwrite, and with the ATA erase option on no TRIM
#   follows, so the pattern stays on the SSD for the check; standby still
#   runs. What READ NATIVE MAX ADDRESS answers (hdparm -N) is recorded.
. "$(dirname "$0")/lib.bash" "$@"

prepare_images
ov=$work/overlay/e2e/schemes
mkdir -p "$ov"
printf 'A repeating six-byte pattern, read back.\n[E2E pattern 55 AA]\n1. 55, AA, +3 00, 0F verify\n' > "$ov/pattern.scheme"
printf '1. zero\n' > "$ov/numbered"
printf '' > "$ov/empty"
printf '[Name only]\n' > "$ov/name-only"
printf 'Random verify\nzero\n' > "$ov/no-name"
printf '[Words only]\nnothing to see here\nno pattern either\n' > "$ov/words-only"
head -c 3000 /dev/zero | tr '\0' '\377' > "$ov/binary"

run_vm --drives "sata0 vblk0" --overlay "$work/overlay" --timeout 500 -- \
  zv.schemedir=/e2e/schemes zv.SCHEME=pattern.scheme zv.VERIFY=Y zv.RESET_HPA=Y zv.RESET_DCO=Y zv.ATA_ERASE=Y \
  zv.WIPE_ALL_DISKS=Y zv.USE_NODELAY=Y zv.autoquit=done zv.timeout=300
rc=$?
check "the VM ran to its power-off (qemu status $rc)" test $rc = 0 -a -f "$work/out/done"
check "the session ended by itself" test ! -f "$work/out/timeout"
check "the program ended with status 0" grep -qx 0 "$work/out/exit-status"
check "nothing on the program's standard error" test ! -s "$work/out/logs/zorvane.stderr"
wlog=$work/out/logs/zorvane.log
dlog=$work/out/logs/xdebug.log

# Schemes.
check "the five broken files are rejected" test "$(grep -c 'load failed: bad file format' "$dlog")" = 5
check "the named broken ones by their names" bash -c "
  grep -qF \"Scheme 'Name only' load failed: bad file format\" '$dlog' &&
  grep -qF \"Scheme 'Words only' load failed: bad file format\" '$dlog'"
check "the pattern scheme loads: one pass, rating 2" in_debug_log "Scheme 'E2E pattern 55 AA': 1 passes, rating 2"
check "the numbered file loads as 'User-defined'" in_debug_log "Scheme 'User-defined': 1 passes, rating 1"
check "two schemes loaded" in_debug_log "Loaded 2 schemes"
check "SCHEME picked the pattern scheme" in_wipe_log "'E2E pattern 55 AA' scheme selected"

# Options.
check "the options are on, as the environment says" \
  in_order "$wlog" "Verification enabled" "DCO reset enabled" "HPA reset enabled" "ATA ERASE enabled"

sata=$(kname sata0)
hd=$work/out/peer/$sata.hdparm-I
check "hdparm -I lists no HPA, DCO or security feature set for QEMU's drive" \
  bash -c "! grep -q 'Host Protected Area\|Device Configuration Overlay\|^Security:' '$hd'"
echo "hdparm -N on $sata: $(grep -i 'max sectors\|fail\|error' "$work/out/peer/$sata.hdparm-N" | head -2 | tr '\n' ' ')"
if grep -q 'max sectors *= *\([0-9]*\)/\1, HPA is disabled' "$work/out/peer/$sata.hdparm-N"; then
  ok "QEMU answers READ NATIVE MAX ADDRESS with the drive's size (no HPA set)"
fi
features=$(drive_lines "$sata" | grep -A1 -F "Disk-$sata: $ZV_DISK_SIZE_TEXT, " | sed -n 2p)
check "so the program reports no HPA, DCO or ERASE feature for it" \
  bash -c "[ -n '$features' ] && ! grep -q ' HPA \| DCO \| ERASE ' <<< '$features'"
check "and marks no hidden area" bash -c "! grep -q 'Disk-$sata: .*\(Host Protected Area\|Device Configuration Overlay\) detected' '$wlog'"

for d in sata0 vblk0; do
  k=$(kname "$d")
  check "$d ($k): queue with HPA and DCO reset, full wipe, no TRIM, standby" in_order "$dlog" \
    "$k: Wipe task. Init" "$k: Wipe task. Reset HPA added" "$k: Wipe task. Reset DCO added" \
    "$k: Wipe task. Reset system added" "$k: Wipe task. Full wipe added" "$k: Wipe task. Standby added"
  check "$d ($k): no TRIM queued with the ATA erase option on" bash -c "! grep -qF '$k: TRIM pass added' '$dlog'"
  check "$d ($k): the HPA and DCO reset steps find no command and the queue goes on" in_order "$dlog" \
    "Reset HPA proxy: Proxy command: command '3' is not found on device '$k'" \
    "Reset DCO proxy: Proxy command: command '2' is not found on device '$k'" \
    "$k: Running command 'Wipe proxy'"
  check "$d ($k): the session log follows the pattern pass step by step" in_order "$wlog" \
    "Disk-$k: using 'E2E pattern 55 AA' scheme, 1 pass(es)" \
    "Disk-$k: wiping pass 1/1 [55, AA, 00, 00, 00, 0F] started" "Disk-$k: wiping pass 1/1 completed in " \
    "Disk-$k: verifying pass 1/1 started" "Disk-$k: verifying pass 1/1 completed in " \
    "Disk-$k: Wiping finished with status: success"
  check_report "$d" success || continue
  check "$d: report lists the pattern pass and its verification, nothing else" \
    test "$(report_field "$d" pass.1)" = "pass 1: wiping pass [55, AA, 00, 00, 00, 0F] is success" -a \
         "$(report_field "$d" pass.2)" = "pass 2: verifying pass is success" -a "$(report_field "$d" passes)" = 2
  check_data "$d" pattern 55aa0000000f
done
check "standby still ran on the SSD" in_debug_log "$sata: [Standby] Command complete: 0"

finish
