# Runs the program in the sandbox (sandbox.sh) inside a detached tmux session
# of a given size, so that a test can type keys and read the screen.
#
#   tui_init                                # after sandbox_init; skips (77) without tmux
#   tui_start COLS LINES [VAR=value ...]    # program starts in the sandbox
#   tui_keys KEY...                         # tmux send-keys names: Enter Tab NPage ...
#   tui_screen                              # the screen as text
#   tui_wait TEXT [SECONDS]                 # waits until TEXT is on the screen; 1 on timeout
#   tui_wait_exit [SECONDS]                 # waits for the program to end; its exit status in TUI_RC
# The tmux server has a socket of its own and is stopped on exit.

tui_init() {
  command -v tmux >/dev/null 2>&1 || sandbox_skip "tmux not found"
  TUI_SOCKET=zv-test-$$
  trap 'tui_cleanup; sandbox_cleanup' EXIT
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
    [ -f "$SANDBOX/tui.rc" ] && { TUI_RC=$(cat "$SANDBOX/tui.rc"); return 0; }
    sleep 0.1
  done
  return 1
}

check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; fail=1; fi
}
