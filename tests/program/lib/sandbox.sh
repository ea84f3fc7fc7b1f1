# The start of every program test: . "$(dirname "$0")/lib/sandbox.sh" "$@"
# (the program as $1) skips (77) where the sandbox is not possible and sets
# `fail`, which `check` sets to 1. The real binary runs without seeing this
# machine's disks: in a private mount namespace, chrooted into a tmpfs root with
# the host's programs and libraries but our own /sys, /dev, /tmp, /log, /scripts
# and /proc/partitions (from rootfs/). Each fake sysfs drive's "dev" names a loop
# device on an image file (detached at exit), so /dev/<name> writes into the
# image. An interface runs in a detached tmux session of its own.
#   sandbox_add_drive sda 8 "Model" "Vendor"   # name, MiB, model, vendor [, scsi type]
#   sandbox_run ./zorvane VAR=value ...        # logs copied to $SANDBOX_OUT
#   sandbox_image sda                          # the image behind sda
#   tui_start COLS LINES [VAR=value ...]; tui_keys KEY...; tui_screen
#   tui_wait TEXT [SECONDS] (1 on timeout); tui_wait_exit [SECONDS] (1 unless it ended with 0)
set -u
PROGRAM=$1
SANDBOX_ROOT=${SANDBOX_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)}

sandbox_skip() { echo "SKIP: $*" >&2; exit 77; }

sandbox_init() {
  [ "$(id -u)" = 0 ] || sandbox_skip "needs root for a private mount namespace"
  for t in unshare losetup mount nsenter; do
    command -v "$t" >/dev/null 2>&1 || sandbox_skip "$t not found"
  done
  SANDBOX=$(mktemp -d /var/tmp/zv-sandbox.XXXXXX)
  SANDBOX_OUT=$SANDBOX/out
  mkdir -p "$SANDBOX/images" "$SANDBOX_OUT"
  touch "$SANDBOX/drives" "$SANDBOX/loops"
  trap sandbox_cleanup EXIT
  # A loop device must be possible at all (containers may forbid it).
  truncate -s 1M "$SANDBOX/images/.probe"
  local l
  l=$(losetup -f --show "$SANDBOX/images/.probe" 2>/dev/null) || sandbox_skip "no loop devices here"
  losetup -d "$l"
}

sandbox_cleanup() {
  local l
  while read -r l; do losetup -d "$l" 2>/dev/null; done 2>/dev/null < "${SANDBOX:-/nonexistent}/loops"
  [ -n "${SANDBOX_KEEP:-}" ] || rm -rf "${SANDBOX:-/nonexistent}"
}

sandbox_add_drive() {
  local name=$1 mib=$2 model=${3:-} vendor=${4:-} type=${5:-0} img=$SANDBOX/images/$1.img loop majmin
  truncate -s "${mib}M" "$img"
  loop=$(losetup -f --show "$img") || { echo "losetup failed" >&2; exit 1; }
  echo "$loop" >> "$SANDBOX/loops"
  majmin=$(printf '%d:%d' "0x$(stat -c %t "$loop")" "0x$(stat -c %T "$loop")")
  printf '%s|%s|%s|%s|%s|%s\n' "$name" "$majmin" "$((mib * 2048))" "$model" "$vendor" "$type" >> "$SANDBOX/drives"
}

sandbox_image() { echo "$SANDBOX/images/$1.img"; }

# The script that builds the fake world inside the namespace.
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
for n in "null 1 3" "zero 1 5" "full 1 7" "random 1 8" "urandom 1 9" "tty 5 0"; do
  read -r dn ma mi <<< "$n"
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

# sandbox_run PROGRAM [VAR=value ...]: its exit status; the caller's standard streams.
sandbox_run() {
  sandbox_write_setup
  local program=$1; shift
  PROGRAM=$program ROOTFS=$SANDBOX_ROOT/rootfs SANDBOX_HOOK=${SANDBOX_HOOK:-} \
    unshare -m --propagation private bash "$SANDBOX/setup.sh" "$SANDBOX" "$@"
}


tui_cleanup() {
  tmux -L "$TUI_SOCKET" kill-server 2>/dev/null
  # The namespace must be gone before the loop devices can be detached.
  local i
  for i in $(seq 1 50); do
    [ -f "$SANDBOX/tui.pid" ] && kill -0 "$(cat "$SANDBOX/tui.pid")" 2>/dev/null || break
    sleep 0.1
  done
}

tui_start() {
  local cols=$1 lines=$2; shift 2
  sandbox_write_setup
  rm -f "$SANDBOX/tui.rc" "$SANDBOX/tui.pid"
  {
    printf 'PROGRAM=%q ROOTFS=%q SANDBOX_HOOK=%q unshare -m --propagation private bash -c %q _ %q %q' \
      "$PROGRAM" "$SANDBOX_ROOT/rootfs" "${SANDBOX_HOOK:-}" \
      'echo $$ > "$SANDBOX/tui.pid"; exec bash "$@"' "$SANDBOX/setup.sh" "$SANDBOX"
    [ $# -gt 0 ] && printf ' %q' "$@"
    echo ' 2> "$SANDBOX/stderr"'
    echo 'echo $? > "$SANDBOX/tui.rc"'
  } > "$SANDBOX/tui-run.sh"
  tmux -L "$TUI_SOCKET" -f /dev/null new-session -d -s zv -x "$cols" -y "$lines" \
    "SANDBOX=$SANDBOX exec bash $SANDBOX/tui-run.sh"
  tmux -L "$TUI_SOCKET" set-option -t zv -g status off >/dev/null
}

tui_keys() { tmux -L "$TUI_SOCKET" send-keys -t zv "$@"; }

tui_screen() { tmux -L "$TUI_SOCKET" capture-pane -p -t zv 2>/dev/null; }

tui_wait() {
  local text=$1 secs=${2:-20} i
  for i in $(seq 1 $((secs * 10))); do
    tui_screen | grep -qF -- "$text" && return 0
    sleep 0.1
  done
  echo "  timed out waiting for '$text'; screen:" >&2
  tui_screen | sed 's/^/  | /' >&2
  return 1
}

tui_wait_exit() {
  local secs=${1:-20} i
  for i in $(seq 1 $((secs * 10))); do
    [ -f "$SANDBOX/tui.rc" ] && return "$(cat "$SANDBOX/tui.rc")"
    sleep 0.1
  done
  return 1
}

check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; fail=1; fi
}

command -v tmux >/dev/null 2>&1 || sandbox_skip "tmux not found"
sandbox_init
TUI_SOCKET=zv-test-$$
trap 'tui_cleanup; sandbox_cleanup' EXIT
fail=0
