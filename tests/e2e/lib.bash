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


# sha256 of every drive image, one "name hash" line each.
image_sums() {
  local d
  for d in $ZV_ALL_DRIVES; do
    echo "$d $(sha256sum "$work/disks/$(zv_drive_file "$d")" | cut -d' ' -f1)"
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
  local f n
  for f in "$work"/out/peer/*.sysfs; do
    n=$(basename "$f" .sysfs)
    case $1 in
      sata0) grep -qs "Serial Number: *$ZV_SATA0_SERIAL *$" "$work/out/peer/$n.hdparm-I" && { echo "$n"; return; } ;;
      sata1) grep -qs "Serial Number: *$ZV_SATA1_SERIAL *$" "$work/out/peer/$n.hdparm-I" && { echo "$n"; return; } ;;
      scsi0) grep -qx "vendor=$ZV_SCSI0_VENDOR *" "$f" && { echo "$n"; return; } ;;
      usb0) case $n in sd*) grep -q '^device=.*/usb[0-9]' "$f" && { echo "$n"; return; } ;; esac ;;
      sd0) case $n in mmcblk*) echo "$n"; return ;; esac ;;
      vblk0) case $n in vd*) echo "$n"; return ;; esac ;;
      cd0) case $n in sr*) echo "$n"; return ;; esac ;;
      fd0) case $n in fd*) echo "$n"; return ;; esac ;;
    esac
  done
}

sysfs_value() { # sysfs_value KNAME KEY
  sed -n "s/^$2=//p" "$work/out/peer/$1.sysfs" | head -1
}

# The image of a drive.
image_of() { echo "$work/disks/$(zv_drive_file "$1")"; }

unchanged() { # unchanged DRIVE: the image has its sha256 from before the run
  local before after
  before=$(sed -n "s/^$1 //p" "$work/sums-before")
  after=$(sha256sum "$(image_of "$1")" | cut -d' ' -f1)
  [ -n "$before" ] && [ "$before" = "$after" ]
}

# Session log and debug log as copied out of the VM.
wipe_log() { cat "$work/out/logs/zorvane.log" 2>/dev/null; }
debug_log() { cat "$work/out/logs/xdebug.log" 2>/dev/null; }
in_wipe_log() { wipe_log | grep -qF -- "$1"; }
in_debug_log() { debug_log | grep -qF -- "$1"; }
