#!/bin/bash
# A drive whose writes fail at one sector (QEMU blkdebug, EIO for every write
# that touches sector 40000 of the virtio-blk disk), wiped unattended together
# with a healthy one. The failing chunk is tried three times, the pass and its
# verification are reported as failed, in the log and in the report at byte 0.
# On the image: random data up to the offset where the verification says the
# data stop matching (the kernel writes the parts of the chunk before the bad
# sector), the old contents in the bad sector and in every chunk after the
# failing one; the healthy drive is wiped as usual.
. "$(dirname "$0")/lib.bash" "$@"

bad_sector=40000
chunk=$((16 * 1024 * 1024))
bad_chunk=$(((bad_sector * 512 / chunk) * chunk))

prepare_images
cp "$(image_of vblk0)" "$work/vblk0.orig"
run_vm --drives "vblk0 usb0" --fail-write vblk0:$bad_sector --timeout 600 -- \
  zv.WIPE_ALL_DISKS=Y zv.USE_NODELAY=Y zv.SCHEME=random zv.VERIFY=Y zv.autoquit=done zv.timeout=400
rc=$?
check "the VM ran to its power-off (qemu status $rc)" test $rc = 0 -a -f "$work/out/done"
check "the session ended by itself" test ! -f "$work/out/timeout"
t0=$(($(cat "$work/time-start") - 120))
t1=$(($(cat "$work/time-end") + 120))

k=$(kname vblk0) failed="write failed; pass: 1, offset: $bad_chunk, error: Input/output error"
check "the kernel's EIO: the write fails three times, then the pass and the drive" in_order "$work/out/logs/zorvane.log" \
  "Disk-$k: $failed" "Retrying... 2 attempt(s) left." "Disk-$k: $failed" "Retrying... 1 attempt(s) left." \
  "Disk-$k: $failed" "Disk-$k: wiping pass 1 failed." "Disk-$k: Wiping finished with status: failed"
check "no fourth attempt" test "$(wipe_log | grep -cF "Disk-$k: $failed")" = 3

img=$(image_of vblk0)
if check_report vblk0 failed; then
  check "report: the pass failed" test "$(report_field vblk0 pass.1)" = "pass 1: wiping pass [random] is failed"
  check "report: the verification failed" test "$(report_field vblk0 pass.2)" = "pass 2: verifying pass is failed"
  m=$(wipe_log | sed -n "s/.*Disk-$k: verifying pass 1 failed at offset \([0-9]*\)\. Data mismatch.*/\1/p" | head -1)
  check "the mismatch lies in the failing chunk, not after the bad sector ($m)" \
    test -n "$m" -a "${m:-0}" -gt $bad_chunk -a "${m:-0}" -le $(((bad_sector + 1) * 512))
  check "random data up to the mismatch" "$imgcheck" data "$img" "$(report_field vblk0 data_offset):$((m - 1))" random $t0 $t1
  check "old contents in the bad sector" cmp -s -i $((bad_sector * 512)) -n 512 "$img" "$work/vblk0.orig"
  check "old contents from the next chunk on" cmp -s -i $((bad_chunk + chunk)) "$img" "$work/vblk0.orig"
fi

# The healthy drive is wiped as usual (its bytes are wipe.sh's to check).
k=$(kname usb0)
check "the healthy drive's session log gives success" in_wipe_log "Disk-$k: Wiping finished with status: success"
check "the healthy drive's log has no failure" bash -c "! grep -F 'Disk-$k: ' '$work/out/logs/zorvane.log' | grep -q 'failed'"

finish
