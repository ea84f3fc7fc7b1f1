#!/bin/bash
# A scheme directory holding only broken files, in unattended mode: the
# program must name every bad file in its log, refuse to start with
# "Error: Unable to load wiping schemes." and exit status 255, and leave every
# drive as it was.
. "$(dirname "$0")/lib.bash" "$@"

prepare_images
ov=$work/overlay/e2e/broken-schemes
mkdir -p "$ov"
printf '' > "$ov/empty"
printf '[Name only]\n' > "$ov/name-only"
printf 'Random verify\nzero\n' > "$ov/no-name"
printf '[Words only]\nnothing to see here\nno pattern either\n' > "$ov/words-only"
head -c 3000 /dev/zero | tr '\0' '\377' > "$ov/binary"

run_vm --drives "sata0 usb0 vblk0" --overlay "$work/overlay" --timeout 300 -- \
  zv.schemedir=/e2e/broken-schemes zv.WIPE_ALL_DISKS=Y zv.USE_NODELAY=Y zv.timeout=120
rc=$?
check "the VM ran to its power-off (qemu status $rc)" test $rc = 0 -a -f "$work/out/done"
check "the program exited with status 255" grep -qx 255 "$work/out/exit-status"
check "it said why on standard error" grep -qx "Error: Unable to load wiping schemes." "$work/out/logs/zorvane.stderr"
check "the session log has the fatal line" in_wipe_log "Fatal error. No wiping schemes available"
check "the two named broken schemes are rejected by name" bash -c "
  grep -qF \"Scheme 'Name only' load failed: bad file format\" '$work/out/logs/xdebug.log' &&
  grep -qF \"Scheme 'Words only' load failed: bad file format\" '$work/out/logs/xdebug.log'"
check "all five files are rejected" test "$(debug_log | grep -c 'load failed: bad file format')" = 5
check "no scheme loaded" in_debug_log "Loaded 0 schemes"
check "the countdown never started" bash -c "! grep -q 'Wiping task started' '$work/out/logs/zorvane.log'"
for d in sata0 usb0 vblk0; do check "$d unchanged" unchanged "$d"; done

finish
