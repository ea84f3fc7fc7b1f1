# Shared part of the VM tests. A test script starts with
#   . "$(dirname "$0")/lib.bash" "$@"
# with the arguments CTest passes: ZORVANE IMGCHECK SOURCE_DIR WORK_ROOT.
set -uo pipefail

zorvane=$(readlink -f "$1")
imgcheck=$(readlink -f "$2")
src=$(cd "$3" && pwd)
workroot=$4
test_name=$(basename "$0" .sh)
work=$workroot/$test_name
vm=$src/tools/vm
. "$vm/drives.sh"

failures=0
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }
check() { # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}
finish() {
  if [ $failures -gt 0 ]; then
    echo "$failures check(s) failed; VM results in $work/out, console in $work/console.log"
    exit 1
  fi
  echo "all checks passed"
  exit 0
}

[ "$(id -u)" = 0 ] || skip "needs root (9p share, drive images)"
command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86 is not installed"
for t in cpio dpkg-deb depmod gcc; do command -v $t >/dev/null || skip "$t is not installed"; done

# sha256 of every drive image in WORK/disks, one "name hash" line each.
image_sums() {
  local f
  for f in "$work"/disks/*; do
    echo "$(basename "${f%.*}") $(sha256sum "$f" | cut -d' ' -f1)"
  done
}

# Builds (or finds cached) the boot image, and makes fresh drive images.
prepare_images() {
  local d
  image=$("$vm/build-image" --zorvane "$zorvane") || skip "the VM image could not be built (packages unavailable?)"
  rm -rf "$work"
  mkdir -p "$work/disks"
  for d in $ZV_ALL_DRIVES; do zv_make_image "$work/disks" "$d"; done
  image_sums > "$work/sums-before"
}

# run_vm [run-vm options] -- [kernel arguments]; the console goes to
# WORK/console.log. Records the host time before and after (for seeds).
run_vm() {
  date +%s > "$work/time-start"
  "$vm/run-vm" --image "$image" --work "$work" --console file --rows 30 --cols 100 "$@"
  local rc=$?
  date +%s > "$work/time-end"
  return $rc
}

# The kernel name the VM gave a drive, found from what init recorded.
kname() {
  local f n serial=ZV_${1^^}_SERIAL
  for f in "$work"/out/peer/*.sysfs; do
    n=$(basename "$f" .sysfs)
    case $1:$n in
      sata0:*|sata1:*) grep -qs "Serial Number: *${!serial} *$" "$work/out/peer/$n.hdparm-I" ;;
      scsi0:*) grep -qx "vendor=$ZV_SCSI0_VENDOR *" "$f" ;;
      usb0:sd*|usb1:sd*) grep -qs "Unit serial number: ${!serial}\$" "$work/out/peer/$n.sg_inq" ;;
      sd0:mmcblk*|vblk0:vd*|cd0:sr*|fd0:fd*) true ;;
      *) false ;;
    esac && { echo "$n"; return; }
  done
}

sysfs_value() { # sysfs_value KNAME KEY
  sed -n "s/^$2=//p" "$work/out/peer/$1.sysfs" | head -1
}

image_of() { echo "$work/disks/$(zv_drive_file "$1")"; }

unchanged() { # unchanged DRIVE: the image has its sha256 from before the run
  local before after
  before=$(sed -n "s/^$1 //p" "$work/sums-before")
  after=$(sha256sum "$(image_of "$1")" | cut -d' ' -f1)
  [ -n "$before" ] && [ "$before" = "$after" ]
}

# The session log and the debug log as copied out of the VM.
wipe_log() { cat "$work/out/logs/zorvane.log" 2>/dev/null; }
debug_log() { cat "$work/out/logs/xdebug.log" 2>/dev/null; }
in_wipe_log() { wipe_log | grep -qF -- "$1"; }
in_debug_log() { debug_log | grep -qF -- "$1"; }

# The lines of the session log that name a drive ("Disk-sda: ...").
drive_lines() { wipe_log | grep -F -- "Disk-$1: "; }

# in_order FILE TEXT...: the fixed texts occur in FILE on lines in this order.
in_order() {
  local file=$1; shift
  awk -v n=$# 'BEGIN { for (i = 1; i < ARGC; i++) want[i] = ARGV[i]; ARGC = 1; k = 1 }
       k <= n && index($0, want[k]) { k++ }
       END { exit k <= n }' "$@" < "$file"
}

# The device class the program chose for a kernel name, from the line that
# announced it and, for ATA, the transport logged (without DEBUG lines and
# single commands) just before its initialisation.
device_class() {
  local k=$1 line
  line=$(drive_lines "$k" | grep ' detected' | head -1)
  case $line in
    *" ata device detected.") debug_log | grep -v ' DEBUG \|\[lowlevel\]' | grep -B1 "Initializing device $k \[" | head -1 |
                                sed -n 's/.*\(ATA-SAT\|ATA-IDE\) device .*/\1/p' ;;
    *" scsi device detected.") echo SCSI ;;
    *" usb device detected") echo USB ;;
    *" SD/MMC device detected.") echo SD/MMC ;;
    *" device detected.") echo generic ;;
    *) echo none ;;
  esac
}

# Listed (handed to the interface and the task), not failed or held back.
listed() { in_debug_log "Device '$1' - connected."; }

# report_field DRIVE FIELD: a field that zv_imgcheck read from the report.
report_field() { sed -n "s/^$2=//p" "$work/$1.report" | head -1; }

# check_report DRIVE STATUS: the image starts with a well-formed report (CR LF
# lines, X-Lines equal to the body's line count, 32 zero bytes after it; see
# zv_imgcheck) with that status, the drive's size and a date within the run.
# Returns 1 when there is no well-formed report.
check_report() {
  local d=$1 want=$2 t0 t1
  if ! "$imgcheck" report "$(image_of "$d")" > "$work/$d.report"; then
    fail "$d: no well-formed report at byte 0: $(grep '^error=' "$work/$d.report")"
    return 1
  fi
  ok "$d: well-formed report at byte 0 ($(report_field "$d" x_lines) body lines, 32 zero bytes after them)"
  check "$d: report status $want" test "$(report_field "$d" status)" = "$want"
  check "$d: report gives the size $ZV_DISK_SIZE_TEXT" test "$(report_field "$d" size)" = "$ZV_DISK_SIZE_TEXT"
  t0=$(($(cat "$work/time-start") - 5))
  t1=$(($(cat "$work/time-end" 2>/dev/null || date +%s) + 5))
  check "$d: report dated within the run" test "$(report_field "$d" date_epoch)" -ge $t0 -a "$(report_field "$d" date_epoch)" -le $t1
}

# check_data DRIVE KIND [ARGS]: the bytes behind the report are those of KIND
# (zv_imgcheck data), up to the end of the image.
check_data() {
  local d=$1; shift
  check "$d: $1 data from byte $(report_field "$d" data_offset) to the end" \
    "$imgcheck" data "$(image_of "$d")" "$(report_field "$d" data_offset)" "$@"
}

# Seeds of the random passes are the start times of the passes, in seconds.
seed_range() { echo "$(($(cat "$work/time-start") - 120)) $(($(cat "$work/time-end") + 120))"; }
