#!/bin/bash
# Start-up, what the VM tests do not vary: the option texts (only y, Y and 1
# mean yes), SCHEME matched against the path, VERIFY_LAST_PASS, the machine
# description without empty lines, USE_NODELAY without a log medium, and the
# refusal to start without a usable scheme.
. "$(dirname "$0")/lib/sandbox.sh" "$@"
in_order() {  # in_order FILE TEXT...: the texts occur in FILE on lines in this order
  awk 'BEGIN { n = ARGC - 2; for (i = 1; i <= n; i++) want[i] = ARGV[i + 1]; ARGC = 2; k = 1 }
       k <= n && index($0, want[k]) { k++ } END { exit k <= n }' "$@"
}

printf q | SANDBOX_HOOK='printf "CPU: Test CPU @ 1 GHz\n\nMemory: 1024 MB\n" > "$R/tmp/sys_info"' sandbox_run "$PROGRAM" TERM=xterm VERIFY=n RESET_HPA=yes ATA_ERASE=true \
  > /dev/null 2> "$SANDBOX/stderr"
check "exit status 0" [ $? = 0 ]
check "nothing on standard error" [ ! -s "$SANDBOX/stderr" ]
log=$SANDBOX_OUT/zorvane.log
check "session log order" in_order "$log" "######## Zorvane 2.69 ########" "Session started at " \
  "CPU: Test CPU @ 1 GHz" "Memory: 1024 MB" "Verification disabled" "DCO reset disabled" \
  "HPA reset enabled" "ATA ERASE disabled" "'7-pass US DoD 5220-22M(ECE)' scheme selected"
check "no empty machine-description line" [ "$(grep -c 'INFO  $' "$log")" = 0 ]

rm -f "$SANDBOX_OUT"/*.log
printf q | sandbox_run "$PROGRAM" TERM=xterm SCHEME=RANDOM VERIFY_LAST_PASS=1 USE_LOGFILE=y USE_NODELAY=1 \
  > "$SANDBOX/console" 2>&1
check "SCHEME matched against the path" grep -qF "'1-pass Random' scheme selected" "$SANDBOX_OUT/zorvane.log"
check "VERIFY_LAST_PASS enables verification" grep -qF "Verification enabled" "$SANDBOX_OUT/zorvane.log"
check "USE_NODELAY: no log medium, no question" bash -c "grep -qF 'appropriate removable device' '$SANDBOX/console' &&
  ! grep -qF \"Press 'D'\" '$SANDBOX/console'"

# No usable scheme: exit status 255 and the message, nothing else; no drive touched.
sandbox_add_drive sda 1 "Disk Alpha" ACME
rm -f "$SANDBOX_OUT"/*.log
SANDBOX_HOOK='rm -rf "$R/tmp/scheme"/*; echo "[only a name]" > "$R/tmp/scheme/broken.txt"' sandbox_run "$PROGRAM" WIPE_ALL_DISKS=1 USE_NODELAY=1 < /dev/null > /dev/null 2> "$SANDBOX/stderr"
check "exit status 255 without schemes" [ $? = 255 ]
check "the error message alone on standard error" [ "$(cat "$SANDBOX/stderr")" = "Error: Unable to load wiping schemes." ]
check "fatal line in the session log" grep -qF "Fatal error. No wiping schemes available" "$SANDBOX_OUT/zorvane.log"
check "the drive untouched" cmp -s "$(sandbox_image sda)" <(head -c 1M /dev/zero)
exit $fail
