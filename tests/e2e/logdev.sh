#!/bin/bash
# The log medium, unattended (USE_LOGFILE with WIPE_ALL_DISKS), three drives
# with ext2: usb0 a whole-disk stick, empty; usb1 a stick with an MBR and one
# partition holding two zorvane* files (an earlier session's log and notes);
# vblk0 an internal disk with three, which is never a log medium. The scan
# takes usb1's partition; the session log goes there and usb1 is never wiped. On
# the host, read without mounting (debugfs, e2fsck -n): usb1's boot sector,
# file system and notes intact, the earlier log followed by this session's,
# the verbose log and the end-of-session .recovery copy; usb0 and vblk0
# carry a "success" report and zeros, and their certificates are on usb1.
. "$(dirname "$0")/lib.bash" "$@"
for t in mkfs.ext2 debugfs e2fsck; do command -v $t >/dev/null || skip "$t is not installed (e2fsprogs)"; done

prepare_images
disks=$work/disks
tmpd=$work/fs
mkdir -p "$tmpd"
sectors=$((ZV_DISK_BYTES / 512))

# usb0: an empty ext2 file system on the whole stick.
mkfs.ext2 -q -F -L SPARE "$disks/usb0.img" || fail "mkfs.ext2 on usb0"

# usb1: the text pattern everywhere, an MBR with one Linux partition from
# sector 2048 to the end, an ext2 file system in it with the two files.
zv_make_image "$disks" usb1
part_start=2048
part_sectors=$((sectors - part_start))
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
{
  head -c 446 /dev/zero
  # status, CHS start (unused), type 83, CHS end (unused), LBA start, sectors
  printf "\\x00\\x00\\x02\\x00\\x83\\xfe\\xff\\xff$(le32 $part_start)$(le32 $part_sectors)"
  head -c 48 /dev/zero
  printf '\x55\xaa'
} > "$tmpd/mbr"
dd if="$tmpd/mbr" of="$disks/usb1.img" bs=512 count=1 conv=notrunc status=none
head -c $((part_sectors * 512)) /dev/zero > "$tmpd/usb1-part"
mkfs.ext2 -q -F -L ZVLOG "$tmpd/usb1-part" || fail "mkfs.ext2 on usb1's partition"
old_log="2001-01-01 00:00:00 INFO  an earlier session, kept on this stick"
echo "$old_log" > "$tmpd/old.log"
printf 'Notes kept next to the logs.\nThe program must not touch this file.\n' > "$tmpd/notes.txt"
debugfs -w -R "write $tmpd/old.log zorvane.log" "$tmpd/usb1-part" >/dev/null 2>&1 &&
  debugfs -w -R "write $tmpd/notes.txt zorvane-notes.txt" "$tmpd/usb1-part" >/dev/null 2>&1 ||
  fail "writing the files onto usb1"
dd if="$tmpd/usb1-part" of="$disks/usb1.img" bs=1M seek=$((part_start / 2048)) conv=notrunc status=none
rm -f "$tmpd/usb1-part"

# vblk0: an internal disk with more zorvane* files than the stick.
mkfs.ext2 -q -F -L INTERNAL "$disks/vblk0.img" || fail "mkfs.ext2 on vblk0"
for f in zorvane.log zorvane-debug.log zorvane-old.log; do
  debugfs -w -R "write $tmpd/old.log $f" "$disks/vblk0.img" >/dev/null 2>&1 || fail "writing $f onto vblk0"
done
image_sums > "$work/sums-before"
head -c $((part_start * 512)) "$disks/usb1.img" | sha256sum > "$work/usb1-head-before"

run_vm --drives "vblk0 usb0 usb1" --timeout 500 -- zv.USE_LOGFILE=Y zv.WIPE_ALL_DISKS=Y zv.USE_NODELAY=Y \
  zv.SCHEME=zeros zv.VERIFY=Y zv.autoquit=done zv.timeout=300
rc=$?
check "the VM ran to its power-off (qemu status $rc)" test $rc = 0 -a -f "$work/out/done"
check "the session ended by itself, not by the time limit" test ! -f "$work/out/timeout"
check "the program ended with status 0" grep -qx 0 "$work/out/exit-status"
check "nothing on the program's standard error" test ! -s "$work/out/logs/zorvane.stderr"
check "the VM unmounted the log medium before power-off" bash -c "! grep -q 'could not be unmounted' '$work/console.log'"
wlog=$work/out/logs/zorvane.log
dlog=$work/out/logs/xdebug.log

usb0=$(kname usb0) usb1=$(kname usb1) vblk=$(kname vblk0)
[ -n "$usb0" ] && [ -n "$usb1" ] && [ -n "$vblk" ] || { fail "the VM did not see all three drives"; finish; }
echo "usb0=$usb0 usb1=$usb1 vblk0=$vblk"

# The choice.
check "$usb1 is the log device (not the internal disk with more logs), never queued, while $usb0 and $vblk are" \
  bash -c "grep -qF '$usb1: Skipping - the log device is never wiped.' '$dlog' &&
           ! grep -qF '$usb1: Wipe task' '$dlog' && grep -qF 'Wipe task. Total queues: 2' '$dlog'"
check "the list showed a drive tagged LOG" grep -aq " [0-9] LOG  $ZV_DISK_SIZE_TEXT" "$work/console.log"
check "the VM had the log medium mounted at /log (its files copied out)" test -f "$work/out/logs/log/zorvane.log"

# usb1, read from its image.
img1=$(image_of usb1)
check "usb1: the first MiB (boot sector, partition table) is unchanged" \
  test "$(head -c $((part_start * 512)) "$img1" | sha256sum)" = "$(cat "$work/usb1-head-before")"
check "usb1: no report at byte 0" bash -c "! '$imgcheck' report '$img1' >/dev/null"
dd if="$img1" of="$tmpd/usb1-part" bs=1M skip=$((part_start / 2048)) status=none
check "usb1: the file system is clean (e2fsck -n -f)" e2fsck -n -f "$tmpd/usb1-part"
stick() { debugfs -R "cat $1" "$tmpd/usb1-part" 2>/dev/null; }
stick /zorvane.log > "$tmpd/stick-zorvane.log"
check "usb1: zorvane-notes.txt byte for byte as before" cmp -s "$tmpd/notes.txt" <(stick /zorvane-notes.txt)
check "usb1: zorvane.log still starts with the earlier session's line" \
  test "$(head -1 "$tmpd/stick-zorvane.log")" = "$old_log"
check "usb1: this session's log follows it, line for line the session log of /tmp" \
  cmp -s <(tail -n +2 "$tmpd/stick-zorvane.log") "$wlog"
for k in "$usb0" "$vblk"; do
  check "usb1: the session log says $k was wiped" \
    in_order "$tmpd/stick-zorvane.log" "Disk-$k: using '1-pass Zeros' scheme" "Disk-$k: wiping pass 1/1 [zero] started" \
      "Disk-$k: verifying pass 1/1 completed in " "Disk-$k: Wiping finished with status: success"
  for x in json pdf; do stick "$(sed -n "s|.*Disk-$k: certificate written: '/log\(/certificates/[^']*\.$x\)'|\1|p" "$tmpd/stick-zorvane.log")" > "$tmpd/cert.$x"; done
  check "usb1: $k's certificate, as the session log names it: a valid record of a Clear wipe of $k, and the PDF" python3 -c 'import json, sys, jsonschema
r = json.load(open(sys.argv[1])); jsonschema.validate(r, json.load(open(sys.argv[2])))
assert (r["drive"]["name"], r["nist_category"]) == (sys.argv[3], "Clear") and open(sys.argv[4], "rb").read(5) == b"%PDF-"' "$tmpd/cert.json" "$src/tools/certificate.schema.json" "$k" "$tmpd/cert.pdf"
done
check "usb1: the session log says nothing was wiped on $usb1" bash -c "! grep -q 'Disk-$usb1: [wW]iping' '$tmpd/stick-zorvane.log'"
check "usb1: the verbose log is there" bash -c "stick() { debugfs -R \"cat \$1\" '$tmpd/usb1-part' 2>/dev/null; }
  stick /zorvane-debug.log | grep -qF '[debug] ######## Zorvane 2.69 ########'"
stick /zorvane.log.recovery > "$tmpd/stick-recovery.log"
check "usb1: the end-of-session copy zorvane.log.recovery starts like zorvane.log" \
  bash -c "[ -s '$tmpd/stick-recovery.log' ] && cmp -s '$tmpd/stick-recovery.log' <(head -c \$(stat -c %s '$tmpd/stick-recovery.log') '$tmpd/stick-zorvane.log')"
rm -f "$tmpd/usb1-part"

# The wiped drives: the stick that was only a candidate, and the internal disk.
for d in usb0 vblk0; do
  check_report "$d" success || continue
  check "$d: report lists the zero pass and its verification" \
    test "$(report_field "$d" pass.1)" = "pass 1: wiping pass [zero] is success" \
      -a "$(report_field "$d" pass.2)" = "pass 2: verifying pass is success"
  check_data "$d" zero
done

finish
