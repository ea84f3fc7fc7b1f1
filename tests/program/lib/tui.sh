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
}

tui_start() {
  local cols=$1 lines=$2; shift 2
  sandbox_write_setup
  rm -f "$SANDBOX/tui.rc" "$SANDBOX/tui.pid"
  {
    echo 'echo $$ > "$SANDBOX/tui.pid"'
    printf 'PROGRAM=%q ROOTFS=%q SANDBOX_HOOK=%q unshare -m --propagation private bash %q %q' \
      "$PROGRAM" "$SANDBOX_ROOT/rootfs" "${SANDBOX_HOOK:-}" "$SANDBOX/setup.sh" "$SANDBOX"
    printf ' %q' "$@"
    echo ' 2> "$SANDBOX/stderr"'
    echo 'echo $? > "$SANDBOX/tui.rc"'
  } > "$SANDBOX/tui-run.sh"
  tmux -L "$TUI_SOCKET" -f /dev/null new-session -d -s "$TUI_SESSION" -x "$cols" -y "$lines" \
    "SANDBOX=$SANDBOX exec bash $SANDBOX/tui-run.sh"
  tmux -L "$TUI_SOCKET" set-option -t "$TUI_SESSION" -g status off >/dev/null
  # The shell in the pane writes its pid first; the namespace's bash keeps it.
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
