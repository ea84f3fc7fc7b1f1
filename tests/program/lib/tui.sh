# Runs the program in the sandbox (sandbox.sh) inside a detached tmux session
# of a given size, so that a test can type keys and read the screen.
#
#   tui_init                                # after sandbox_init; skips (77) without tmux
#   tui_start COLS LINES [VAR=value ...]    # program starts in the sandbox
#   tui_keys KEY...                         # tmux send-keys names: S Down Enter Tab NPage Space ...
#   tui_screen                              # the screen as text
#   tui_wait TEXT [SECONDS]                 # waits until TEXT is on the screen; 1 on timeout
#   tui_wait_gone TEXT [SECONDS]
#   tui_ns COMMAND...                       # runs a command in the program's mount namespace
#   tui_path PATH                           # PATH as seen from tui_ns (/sys/block/sdb -> .../root/sys/block/sdb)
#   tui_wait_exit [SECONDS]                 # waits for the program to end; its exit status in TUI_RC
#   tui_throttle NAME MIB_PER_S             # before tui_start: the program's I/O on that drive is slowed
#                                           # down (blkio cgroup), so that progress can be watched; returns 1
#                                           # when this machine cannot throttle
# The tmux server has a socket of its own and is stopped on exit.

tui_init() {
  command -v tmux >/dev/null 2>&1 || sandbox_skip "tmux not found"
  TUI_SOCKET=zv-test-$$
  TUI_SESSION=zv
  trap 'tui_cleanup; sandbox_cleanup' EXIT
}

tui_cleanup() {
  [ -n "${TUI_SOCKET:-}" ] && tmux -L "$TUI_SOCKET" kill-server 2>/dev/null
  # Wait for the namespace to go, so that the loop devices are free to detach.
  local i
  for i in $(seq 1 50); do
    [ -f "$SANDBOX/tui.pid" ] && kill -0 "$(cat "$SANDBOX/tui.pid")" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "${TUI_CGROUP:-}" ] && rmdir "$TUI_CGROUP" 2>/dev/null
}

tui_throttle() {
  local name=$1 mibps=$2 blkio=/sys/fs/cgroup/blkio
  [ -f "$blkio/blkio.throttle.write_bps_device" ] || return 1
  if [ -z "${TUI_CGROUP:-}" ]; then
    TUI_CGROUP=$blkio/zv-test-$$
    mkdir -p "$TUI_CGROUP" || { TUI_CGROUP=; return 1; }
  fi
  local majmin
  majmin=$(grep "^$name|" "$SANDBOX/drives" | cut -d'|' -f2)
  echo "$majmin $((mibps << 20))" > "$TUI_CGROUP/blkio.throttle.write_bps_device" || return 1
  echo "$majmin $((mibps << 20))" > "$TUI_CGROUP/blkio.throttle.read_bps_device" || return 1
}

tui_start() {
  local cols=$1 lines=$2; shift 2
  sandbox_write_setup
  rm -f "$SANDBOX/tui.rc" "$SANDBOX/tui.pid"
  {
    [ -n "${TUI_CGROUP:-}" ] && echo "echo \$\$ > $TUI_CGROUP/cgroup.procs"
    # The shell inside the namespace writes its pid, for tui_ns.
    printf 'PROGRAM=%q ROOTFS=%q SANDBOX_HOOK=%q unshare -m --propagation private bash -c %q _ %q %q' \
      "$PROGRAM" "$SANDBOX_ROOT/rootfs" "${SANDBOX_HOOK:-}" \
      'echo $$ > "$SANDBOX/tui.pid"; exec bash "$@"' "$SANDBOX/setup.sh" "$SANDBOX"
    [ $# -gt 0 ] && printf ' %q' "$@"
    echo ' 2> "$SANDBOX/stderr"'
    echo 'echo $? > "$SANDBOX/tui.rc"'
  } > "$SANDBOX/tui-run.sh"
  tmux -L "$TUI_SOCKET" -f /dev/null new-session -d -s "$TUI_SESSION" -x "$cols" -y "$lines" \
    "SANDBOX=$SANDBOX exec bash $SANDBOX/tui-run.sh"
  tmux -L "$TUI_SOCKET" set-option -t "$TUI_SESSION" -g status off >/dev/null
  local i
  for i in $(seq 1 50); do [ -s "$SANDBOX/tui.pid" ] && break; sleep 0.1; done
  TUI_PID=$(cat "$SANDBOX/tui.pid" 2>/dev/null)
}

tui_keys() { tmux -L "$TUI_SOCKET" send-keys -t "$TUI_SESSION" "$@"; }

tui_screen() { tmux -L "$TUI_SOCKET" capture-pane -p -t "$TUI_SESSION" 2>/dev/null; }

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

tui_wait_gone() {
  local text=$1 secs=${2:-20} i
  for i in $(seq 1 $((secs * 10))); do
    tui_screen | grep -qF -- "$text" || return 0
    sleep 0.1
  done
  echo "  '$text' still on the screen:" >&2
  tui_screen | sed 's/^/  | /' >&2
  return 1
}

tui_path() { echo "$SANDBOX/root$1"; }

tui_ns() { nsenter -t "$TUI_PID" -m -- "$@"; }

tui_wait_exit() {
  local secs=${1:-20} i
  for i in $(seq 1 $((secs * 10))); do
    if [ -f "$SANDBOX/tui.rc" ]; then
      TUI_RC=$(cat "$SANDBOX/tui.rc")
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# report_status IMAGE: the completion status in the report at byte 0, if any.
report_status() {
  head -c 4096 "$1" | tr -d '\0' | grep -a '^X-Completion-Status: ' | head -n 1 | sed 's/^X-Completion-Status: //; s/\r$//'
}

check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; fail=1; fi
}
