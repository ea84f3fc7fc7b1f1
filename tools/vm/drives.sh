# Virtual drives of the test VM: names, image files, identity strings.
# Sourced by run-vm, the demo and the e2e tests.

ZV_ALL_DRIVES="sata0 sata1 scsi0 usb0 sd0 vblk0 cd0 fd0"
# Drives the program may wipe, and drives it must leave alone: sata1's
# IDENTIFY data fails its checksum (the device does not initialise), the CD
# and the floppy are held back.
ZV_WIPED_DRIVES="sata0 scsi0 usb0 sd0 vblk0"
ZV_KEPT_DRIVES="sata1 cd0 fd0"

ZV_DISK_BYTES=$((64 * 1024 * 1024))
# How the program writes that size: decimal units, one truncated decimal.
ZV_DISK_SIZE_TEXT="67.1 MB"

# The ATA drives' IDENTIFY data must add up to 0 modulo 256 for the drive to
# pass the integrity check. QEMU's ide-hd IDENTIFY block (firmware "2.5+",
# 64 MiB, rotation rate 1, the transfer mode set by libata) sums to
# ZV_IDENTIFY_BASE_SUM mod 256 without its serial and model fields; those
# fields are space-padded to 20 and 40 characters, so the strings below are
# chosen to bring the total to 0 (sata0) and to 1 (sata1, left broken); the
# wipe test shows the program takes the first and never lists the second.
ZV_IDENTIFY_BASE_SUM=170
ZV_SATA0_MODEL="ZORVANE E2E SATA SSD"
ZV_SATA0_SERIAL="ZV-SATA0-GOOD6"
ZV_SATA1_MODEL="ZORVANE E2E SATA BROKEN"
ZV_SATA1_SERIAL="ZV-SATA1-699"

ZV_SCSI0_VENDOR="ZORVANE"
ZV_SCSI0_PRODUCT="E2E SCSI DISK"
ZV_SCSI0_SERIAL="ZV0SCSI0"
ZV_USB0_SERIAL="ZV0USB0STICK"
# A second stick, not attached unless a test names it (plugged in during a
# session, or holding the log).
ZV_USB1_SERIAL="ZV0USB1STICK"
ZV_VBLK0_SERIAL="ZV0VBLK0"
# An NVMe drive (one namespace), attached only when a test names it. QEMU 7.2
# takes the controller's serial number on the command line; its model number
# is always "QEMU NVMe Ctrl".
ZV_NVME0_SERIAL="ZV0NVME0"

zv_drive_file() {
  case $1 in
    cd0) echo cd0.iso ;;
    *) echo "$1.img" ;;
  esac
}

zv_drive_bytes() {
  case $1 in
    cd0) echo $((4 * 1024 * 1024)) ;;
    fd0) echo 1474560 ;;
    *) echo $ZV_DISK_BYTES ;;
  esac
}

# Creates a drive image filled with a text that names the drive, so that
# untouched data is recognisable in a dump.
zv_make_image() {
  local dir=$1 name=$2 file
  file=$dir/$(zv_drive_file "$name")
  [ -f "$file" ] && return 0
  (yes "zorvane test drive $name: data written before the session" || true) | head -c "$(zv_drive_bytes "$name")" > "$file"
}
