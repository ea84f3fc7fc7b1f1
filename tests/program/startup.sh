#!/bin/bash
# Start-up of the real program in a sandbox: mode flags, logging, banner,
# machine description, schemes and options, and the exit status without
# usable schemes.
set -u
PROGRAM=$1
. "$(dirname "$0")/lib/sandbox.sh"
sandbox_init

fail=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; fail=1; fi
}
# in_order FILE TEXT... : every text is on a line of its own, in this order.
in_order() {
  local file=$1; shift
  local last=0 n
  for t in "$@"; do
    n=$(grep -nF -- "$t" "$file" | head -n 1 | cut -d: -f1)
    [ -n "$n" ] && [ "$n" -gt "$last" ] || { echo "  '$t' missing or out of order in $file" >&2; return 1; }
    last=$n
  done
}
count_is() { [ "$(grep -cF -- "$2" "$1")" = "$3" ] || { echo "  '$2' not $3 times in $1" >&2; return 1; }; }

# A machine description with an empty line, which is not copied.
cat > "$SANDBOX/hook.sh" <<'HOOK'
printf 'CPU: Test CPU @ 1 GHz\n\nMemory: 1024 MB\n' > "$R/tmp/sys_info"
HOOK
# The interface reads Q from standard input and the session ends.
printf q | SANDBOX_HOOK=$SANDBOX/hook.sh sandbox_run "$PROGRAM" TERM=xterm VERIFY=n RESET_HPA=yes ATA_ERASE=true \
  > "$SANDBOX/stdout" 2> "$SANDBOX/stderr"
rc=$?
log=$SANDBOX_OUT/zorvane.log
dbg=$SANDBOX_OUT/xdebug.log
check "exit status 0" [ "$rc" = 0 ]
check "nothing on standard error" [ ! -s "$SANDBOX/stderr" ]
check "session log order" in_order "$log" "######## Zorvane 2.69 ########" "Session started at " \
  "CPU: Test CPU @ 1 GHz" "Memory: 1024 MB" "Verification disabled" "DCO reset disabled" \
  "HPA reset enabled" "ATA ERASE disabled" "'7-pass US DoD 5220-22M(ECE)' scheme selected"
check "no empty machine-description line" [ "$(grep -c 'INFO  $' "$log")" = 0 ]
check "session date is the ctime text" grep -qE 'Session started at [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4}$' "$log"
check "debug log: root start line before the banner" in_order "$dbg" \
  "*************** Session started *********************" "[wipe] ######## Zorvane 2.69 ########" \
  "[debug] ######## Zorvane 2.69 ########" "Loading schemes..." "Loaded 5 schemes"
check "banner once per logger" count_is "$dbg" "######## Zorvane 2.69 ########" 2
check "session log copy on the log medium" in_order "$SANDBOX_OUT/log/zorvane.log" "######## Zorvane 2.69 ########"

# SCHEME picks by path; the environment falls back to VERIFY_LAST_PASS.
rm -f "$SANDBOX_OUT"/*.log
printf q | sandbox_run "$PROGRAM" TERM=xterm SCHEME=RANDOM VERIFY_LAST_PASS=1 > /dev/null 2>&1
check "SCHEME matched against the path" grep -qF "'1-pass Random' scheme selected" "$SANDBOX_OUT/zorvane.log"
check "VERIFY_LAST_PASS enables verification" grep -qF "Verification enabled" "$SANDBOX_OUT/zorvane.log"

# No usable scheme: exit status 255 and the message, nothing else.
rm -f "$SANDBOX_OUT"/*.log
cat > "$SANDBOX/hook.sh" <<'HOOK'
rm -rf "$R/tmp/scheme"/*
printf '[only a name]\n' > "$R/tmp/scheme/broken.txt"
HOOK
SANDBOX_HOOK=$SANDBOX/hook.sh sandbox_run "$PROGRAM" < /dev/null > "$SANDBOX/stdout" 2> "$SANDBOX/stderr"
rc=$?
check "exit status 255 without schemes" [ "$rc" = 255 ]
check "the error message alone on standard error" \
  [ "$(cat "$SANDBOX/stderr")" = "Error: Unable to load wiping schemes." ]
check "fatal line in the session log" grep -qF "Fatal error. No wiping schemes available" "$SANDBOX_OUT/zorvane.log"
exit $fail
