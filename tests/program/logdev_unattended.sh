#!/bin/bash
# The log medium in an unattended session: of two USB sticks with a file
# system, the one already holding two zorvane* files is mounted at /log (the
# logs already in /log are carried over), the session log lands on it, and it
# is the one drive the wipe leaves alone while the other stick and the disk
# are wiped.
. "$(dirname "$0")/lib/tui_test.sh" "$@"
command -v mkfs.ext2 >/dev/null 2>&1 && command -v debugfs >/dev/null 2>&1 && command -v e2fsck >/dev/null 2>&1 ||
  sandbox_skip "e2fsprogs not found"

sandbox_add_drive sda 4 "Disk Alpha" ACME
sandbox_add_drive sdb 8 "Spare Stick" ZVUSB
sandbox_add_drive sdc 8 "Log Stick" ZVUSB
for s in sdb sdc; do mkfs.ext2 -q -F "$(sandbox_image $s)" || exit 1; done
echo "an earlier session" > "$SANDBOX/old.log"
for f in zorvane.log zorvane-debug.log; do
  debugfs -w -R "write $SANDBOX/old.log $f" "$(sandbox_image sdc)" >/dev/null 2>&1 || exit 1
done

# Both sticks hang off a USB bus; a log of this boot is already in /log.
cat > "$SANDBOX/hook.sh" <<'HOOK'
for n in sdb sdc; do
  t=/sys/devices/pci0000:00/0000:00:14.0/usb1/1-$n/1-$n:1.0/host7/target7:0:0/7:0:0:0
  mkdir -p "$R$t"
  cp -a "$R/sys/block/$n/device/." "$R$t/"
  rm -rf "$R/sys/block/$n/device"
  ln -s "$t" "$R/sys/block/$n/device"
done
echo "carried over" > "$R/log/boot.log"
HOOK
SANDBOX_HOOK=$SANDBOX/hook.sh tui_start 80 25 USE_LOGFILE=1 WIPE_ALL_DISKS=1 USE_NODELAY=1 SCHEME=zeros
check "countdown opens by itself" tui_wait "Confirm wiping" 20
check "the log stick is tagged LOG" tui_wait " 3 LOG  8.3 MB   Log Stick" 1
tags() { [ "$(tui_screen | grep -cE '^ +[0-9]+ WIPE ')" = 2 ] || { tui_screen | sed 's/^/  | /' >&2; return 1; }; }
check "the other two are selected" tags
all=0
for i in $(seq 1 600); do
  [ "$(report_status "$(sandbox_image sda)")" = success ] && [ "$(report_status "$(sandbox_image sdb)")" = success ] &&
    { all=1; break; }
  sleep 0.1
done
check "the disk and the other stick are wiped" [ "$all" = 1 ]
check "countdown gone" tui_wait_gone "Confirm wiping" 5
tui_keys q
check "program ends" tui_wait_exit 20
check "nothing on standard error" [ ! -s "$SANDBOX/stderr" ]
sync

img=$(sandbox_image sdc)
stick() { debugfs -R "cat $1" "$img" 2>/dev/null; }
check "the log stick carries no report" [ -z "$(report_status "$img")" ]
fsck_clean() { e2fsck -n -f "$1" >/dev/null 2>&1; }
check "its file system is intact" fsck_clean "$img"
check "session log on the stick, after the earlier one" \
  bash -c '[ "$(sed -n 1p <<<"$0")" = "an earlier session" ] && grep -qF "######## Zorvane 2.69 ########" <<<"$0" &&
           grep -qF "Disk-sda: Wiping finished with status: success" <<<"$0"' "$(stick /zorvane.log)"
check "verbose log on the stick" bash -c 'grep -qF "[debug] ######## Zorvane 2.69 ########" <<<"$0"' \
  "$(stick /zorvane-debug.log)"
check "the log already in /log carried over" [ "$(stick /boot.log)" = "carried over" ]
exit $fail
