#!/bin/sh
# Saves a copy of the log file written by one appender of wipe-log.cfg, next
# to the file and with ".recovery" added to its name. The wiping program runs
# it at the end of a session for each watched appender:
#   sh /scripts/save_copy_of_log.sh LOG_MSGS
# It reads wipe-log.cfg from the current directory, the program's own.
name="$1"
[ -n "$name" ] || { echo "usage: $0 APPENDER" >&2; exit 2; }
file=$(sed -n "s/^[[:space:]]*log4cplus\.appender\.$name\.File[[:space:]]*=[[:space:]]*//p" wipe-log.cfg 2>/dev/null |
  tail -n 1 | tr -d '\r')
[ -n "$file" ] || { echo "no file for appender $name in wipe-log.cfg" >&2; exit 1; }
[ -f "$file" ] || { echo "log file $file of $name not found" >&2; exit 1; }
sync
cp -f "$file" "$file.recovery" && sync
