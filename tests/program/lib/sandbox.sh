# Sandbox for running the real zorvane binary with its real paths without
# letting it see this machine's disks.
#
# The program runs in a private mount namespace, chrooted into a tmpfs root
# that has the host's programs and libraries but our own /sys, /dev, /tmp,
# /log, /scripts and /proc/partitions (rootfs/ of the repository supplies the
# schemes, help texts, logging configuration and scripts).
# Fake sysfs entries describe the drives; each entry's "dev" names a loop
# device attached to an image file, so when the program creates
# /dev/<name> from it and writes there, it writes into the image.
#
# Use (the test script sources this file):
#   sandbox_init                          # skips the test (77) when not possible
#   sandbox_add_drive sda 8 "Model" "Vendor"   # name, MiB, model, vendor [, scsi type]
#   sandbox_run ./zorvane VAR=value ...   # runs it in the sandbox; logs copied to $SANDBOX_OUT
#   sandbox_image sda                     # path of the image behind sda
# Every loop device attached here is detached when the script exits.

SANDBOX_ROOT=${SANDBOX_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)}

sandbox_skip() { echo "SKIP: $*" >&2; exit 77; }

sandbox_init() {
  [ "$(id -u)" = 0 ] || sandbox_skip "needs root for a private mount namespace"
  for t in unshare losetup mount nsenter; do
    command -v "$t" >/dev/null 2>&1 || sandbox_skip "$t not found"
  done
  SANDBOX=$(mktemp -d /var/tmp/zv-sandbox.XXXXXX)
  SANDBOX_OUT=$SANDBOX/out
  mkdir -p "$SANDBOX/images" "$SANDBOX_OUT" "$SANDBOX/cwd"
  : > "$SANDBOX/drives"
  : > "$SANDBOX/loops"
  trap sandbox_cleanup EXIT
  # A loop device must be possible at all (containers may forbid it).
  truncate -s 1M "$SANDBOX/images/.probe"
  local l
  l=$(losetup -f --show "$SANDBOX/images/.probe" 2>/dev/null) || sandbox_skip "no loop devices here"
  losetup -d "$l"
}

sandbox_cleanup() {
  local l
  if [ -n "${SANDBOX:-}" ] && [ -f "$SANDBOX/loops" ]; then
    while read -r l; do [ -n "$l" ] && losetup -d "$l" 2>/dev/null; done < "$SANDBOX/loops"
  fi
  [ -n "${SANDBOX_KEEP:-}" ] || rm -rf "${SANDBOX:-/nonexistent}"
}

# sandbox_add_drive NAME MIB [MODEL] [VENDOR] [SCSI_TYPE]
sandbox_add_drive() {
  local name=$1 mib=$2 model=${3:-} vendor=${4:-} type=${5:-0}
  local img=$SANDBOX/images/$name.img
  truncate -s "${mib}M" "$img"
  local loop
  loop=$(losetup -f --show "$img") || { echo "losetup failed" >&2; exit 1; }
  echo "$loop" >> "$SANDBOX/loops"
  local majmin
  majmin=$(printf '%d:%d' "0x$(stat -c %t "$loop")" "0x$(stat -c %T "$loop")")
  printf '%s|%s|%s|%s|%s|%s\n' "$name" "$majmin" "$((mib * 2048))" "$model" "$vendor" "$type" >> "$SANDBOX/drives"
}

sandbox_image() { echo "$SANDBOX/images/$1.img"; }

# Writes the script that builds the fake world inside the namespace: a new
# root on tmpfs with the host's programs and libraries bound in, and our own
# /sys, /dev, /tmp, /log, /scripts and /proc/partitions.
sandbox_write_setup() {
  cat > "$SANDBOX/setup.sh" <<'SETUP'
set -e
S=$1; shift
R=$S/root
mkdir -p "$R"
mount -t tmpfs zv-root "$R"
for d in usr etc var opt bin sbin lib lib32 lib64 libx32; do
  if [ -L "/$d" ]; then cp -a "/$d" "$R/"
  elif [ -d "/$d" ]; then mkdir "$R/$d"; mount --rbind "/$d" "$R/$d"; fi
done
mkdir -p "$R/proc" "$R/sys/block" "$R/dev" "$R/tmp" "$R/log" "$R/scripts" "$R/work"
mount --rbind /proc "$R/proc"
printf 'major minor  #blocks  name\n\n' > "$S/partitions"
for n in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9 tty:5:0; do
  IFS=: read -r dn ma mi <<EON
$n
EON
  mknod -m 666 "$R/dev/$dn" c "$ma" "$mi"
done
while IFS='|' read -r name majmin sectors model vendor type; do
  d=$R/sys/block/$name
  mkdir -p "$d/device"
  echo "$majmin" > "$d/dev"
  echo "$sectors" > "$d/size"
  echo "$type" > "$d/device/type"
  printf '%-16s\n' "$model" > "$d/device/model"
  printf '%-8s\n' "$vendor" > "$d/device/vendor"
  echo 0 > "$d/removable"
  echo 0 > "$d/ro"
  echo "${majmin%%:*} ${majmin##*:} $((sectors / 2)) $name" >> "$S/partitions"
done < "$S/drives"
mount --bind "$S/partitions" "$R/proc/partitions"
cp -r "$ROOTFS/tmp/." "$R/tmp/"
cp "$ROOTFS/scripts/"* "$R/scripts/"
cp "$ROOTFS/wipe-log.cfg" "$R/work/"
cp "$PROGRAM" "$R/work/zorvane"
if [ -n "$SANDBOX_HOOK" ]; then . "$SANDBOX_HOOK"; fi
set +e
chroot "$R" /usr/bin/env -C /work "$@" /work/zorvane
rc=$?
cp -a "$R"/tmp/*.log "$R"/tmp/*.recovery "$R/log" "$S/out/" 2>/dev/null
exit $rc
SETUP
}

# sandbox_run PROGRAM [VAR=value ...]
# Runs the program in the sandbox with the given environment; returns its
# exit status. Its standard streams are those of the caller.
sandbox_run() {
  sandbox_write_setup
  local program=$1; shift
  PROGRAM=$program ROOTFS=$SANDBOX_ROOT/rootfs SANDBOX_HOOK=${SANDBOX_HOOK:-} \
    unshare -m --propagation private bash "$SANDBOX/setup.sh" "$SANDBOX" "$@"
}
