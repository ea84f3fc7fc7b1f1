# The start of every program test: . "$(dirname "$0")/lib/sandbox.sh" "$@" (the program as $1)
# skips (77) where the sandbox is not possible; `check` sets `fail` to 1. The real binary never sees
# this machine's disks: it runs in a private mount namespace, chrooted into a tmpfs root with the
# host's programs and libraries but our own /sys, /dev, /tmp, /log, /scripts and /proc/partitions
# (from rootfs/). Each fake sysfs drive's "dev" names a loop device on an image file (detached at
# exit), so /dev/<name> writes into the image. An interface runs in a tmux session of its own.
#   sandbox_add_drive sda 8 "Model" "Vendor"   # name, MiB, model, vendor [, scsi type]
#   sandbox_run ./zorvane VAR=value ...        # logs copied to $SANDBOX_OUT
#   SANDBOX_HOOK='shell code' sandbox_run ...  # run before the program ($R: its root, $S: the sandbox)
#   sandbox_image sda                          # the image behind sda
#   tui_start COLS LINES [VAR=value ...]; tui_keys KEY...; tui_screen; poll SECONDS COMMAND...
#   tui_wait TEXT [SECONDS] (1 on timeout); tui_wait_exit [SECONDS] (1 unless it ended with 0)
set -u
PROGRAM=$1
SANDBOX_ROOT=${SANDBOX_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)}

sandbox_skip() { echo "SKIP: $*" >&2; exit 77; }

sandbox_init() {
  [ "$(id -u)" = 0 ] || sandbox_skip "needs root for a private mount namespace"
  for t in unshare losetup mount; do
    command -v "$t" >/dev/null 2>&1 || sandbox_skip "$t not found"
  done
  SANDBOX=$(mktemp -d /var/tmp/zv-sandbox.XXXXXX)
  SANDBOX_OUT=$SANDBOX/out
  mkdir -p "$SANDBOX/images" "$SANDBOX_OUT"
  touch "$SANDBOX/drives" "$SANDBOX/loops"
}

sandbox_cleanup() {
  local l
  while read -r l; do losetup -d "$l" 2>/dev/null; done 2>/dev/null < "${SANDBOX:-/nonexistent}/loops"
  [ -n "${SANDBOX_KEEP:-}" ] || rm -rf "${SANDBOX:-/nonexistent}"
}

sandbox_add_drive() {
  local name=$1 mib=$2 model=${3:-} vendor=${4:-} type=${5:-0} img=$SANDBOX/images/$1.img loop majmin
  truncate -s "${mib}M" "$img"
  # Containers may forbid loop devices.
  loop=$(losetup -f --show "$img" 2>/dev/null) || sandbox_skip "no loop devices here"
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
echo $$ > "$S/ns.pid"
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
while read -r dn ma mi; do mknod -m 666 "$R/dev/$dn" c "$ma" "$mi"; done \
  <<< $'null 1 3\nzero 1 5\nfull 1 7\nrandom 1 8\nurandom 1 9\ntty 5 0'
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
eval "$SANDBOX_HOOK"
set +e
chroot "$R" /usr/bin/env -C /work "$@" /work/zorvane
rc=$?
cp -a "$R"/tmp/*.log "$R"/tmp/*.recovery "$R/log" "$S/out/" 2>/dev/null
echo $rc > "$S/rc"
exit $rc
SETUP
}

# sandbox_command PROGRAM [VAR=value ...]: the command line (quoted) that runs it.
sandbox_command() {
  sandbox_write_setup
  printf '%q ' env PROGRAM="$1" ROOTFS="$SANDBOX_ROOT/rootfs" SANDBOX_HOOK="${SANDBOX_HOOK:-}" \
    unshare -m --propagation private bash "$SANDBOX/setup.sh" "$SANDBOX" "${@:2}"
}

# sandbox_run PROGRAM [VAR=value ...]: its exit status; the caller's standard streams.
sandbox_run() { eval "$(sandbox_command "$@")"; }

poll() {  # poll SECONDS COMMAND...: 0 as soon as COMMAND succeeds, 1 after SECONDS
  local i
  for i in $(seq 1 $(($1 * 10))); do "${@:2}" && return 0; sleep 0.1; done
  return 1
}

# The namespace must be gone before the loop devices can be detached.
ns_gone() { ! { [ -f "$SANDBOX/ns.pid" ] && kill -0 "$(cat "$SANDBOX/ns.pid")" 2>/dev/null; }; }
tui_cleanup() { tmux -L "$TUI_SOCKET" kill-server 2>/dev/null; poll 5 ns_gone; }

tui_start() {
  local cols=$1 lines=$2; shift 2
  rm -f "$SANDBOX/rc" "$SANDBOX/ns.pid"
  tmux -L "$TUI_SOCKET" -f /dev/null new-session -d -s zv -x "$cols" -y "$lines" \
    "$(sandbox_command "$PROGRAM" "$@") 2> $(printf %q "$SANDBOX/stderr")"
  tmux -L "$TUI_SOCKET" set-option -t zv -g status off >/dev/null
}

tui_keys() { tmux -L "$TUI_SOCKET" send-keys -t zv "$@"; }

tui_screen() { tmux -L "$TUI_SOCKET" capture-pane -p -t zv 2>/dev/null; }

tui_shows() { tui_screen | grep -qF -- "$1"; }

tui_wait() {
  poll "${2:-20}" tui_shows "$1" && return 0
  echo "  timed out waiting for '$1'; screen:" >&2
  tui_screen | sed 's/^/  | /' >&2
  return 1
}

tui_wait_exit() { poll "${1:-20}" test -f "$SANDBOX/rc" && return "$(cat "$SANDBOX/rc")"; }

check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; fail=1; fi
}

command -v tmux >/dev/null 2>&1 || sandbox_skip "tmux not found"
sandbox_init
TUI_SOCKET=zv-test-$$
trap 'tui_cleanup; sandbox_cleanup' EXIT
fail=0
