// The register image of one ATA command, filled by the caller, carried to the
// drive by a transport and (on success) partly overwritten with the registers
// the drive returned.
#pragma once
#include <stdint.h>

struct ata_data {
  uint16_t data;       // data register; low byte current, high byte HOB
  uint16_t feature;    // FEATURES in, ERROR out (IDE taskfile only)
  uint16_t count;      // SECTOR COUNT, bits 7:0 low, 15:8 high
  uint8_t lba[6];      // byte i holds LBA bits 8i..8i+7
  uint16_t head;       // DEVICE/HEAD in the low byte
  uint16_t command;    // COMMAND in, STATUS out (IDE taskfile only)
  uint32_t short_cdb;  // nonzero: 12-byte SAT CDB; zero: 16-byte CDB
  int32_t direction;   // 0 none, 1 PIO in, 2 PIO out, 3 DMA out
  int32_t in_size;     // bytes to read (direction 1)
  int32_t out_size;    // bytes to write (directions 2 and 3)
  unsigned char* buffer;

  enum { DIR_NONE = 0, DIR_IN = 1, DIR_OUT = 2, DIR_OUT_DMA = 3 };

  ata_data() { reset(); }
  explicit ata_data(unsigned char cmd);

  void reset();
  // SMART with its signature in LBA MID/HIGH; the caller sets the sub-command
  // in `feature`.
  void smart();
  // After SMART RETURN STATUS: threshold not exceeded.
  bool smart_ok() const { return lba[1] == 0x4F && lba[2] == 0xC2; }

  uint32_t lba28() const;
  // Replaces the whole `head` field by the top four address bits.
  void set_lba28(uint32_t v);
  uint64_t lba48() const;
  void set_lba48(uint64_t v);

  // One DEBUG line on the debug logger with the registers.
  void dump() const;
};

// ATA command codes used by the program.
enum ata_command_e {
  ATA_CMD_DATA_SET_MANAGEMENT = 0x06,
  ATA_CMD_READ_NATIVE_MAX_EXT = 0x27,
  ATA_CMD_SET_MAX_EXT = 0x37,
  ATA_CMD_IDENTIFY_PACKET = 0xA1,
  ATA_CMD_SMART = 0xB0,
  ATA_CMD_DEVICE_CONFIGURATION = 0xB1,
  ATA_CMD_STANDBY_IMMEDIATE = 0xE0,
  ATA_CMD_IDENTIFY = 0xEC,
  ATA_CMD_SECURITY_SET_PASSWORD = 0xF1,
  ATA_CMD_SECURITY_UNLOCK = 0xF2,
  ATA_CMD_SECURITY_ERASE_PREPARE = 0xF3,
  ATA_CMD_SECURITY_ERASE_UNIT = 0xF4,
  ATA_CMD_SECURITY_DISABLE_PASSWORD = 0xF6,
  ATA_CMD_READ_NATIVE_MAX = 0xF8,
  ATA_CMD_SET_MAX = 0xF9,
};

// SMART sub-commands (FEATURE) and DEVICE CONFIGURATION sub-commands.
enum ata_subcommand_e {
  SMART_READ_DATA = 0xD0,
  SMART_EXECUTE_OFFLINE = 0xD4,
  SMART_RETURN_STATUS = 0xDA,
  DCO_RESTORE = 0xC0,
  DCO_IDENTIFY = 0xC2,
  DCO_SET = 0xC3,
};
