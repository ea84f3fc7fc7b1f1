#include "ata/ata_data.h"

#include <stdio.h>
#include <string.h>

#include "app/log.h"

ata_data::ata_data(unsigned char cmd) {
  reset();
  if (cmd == ATA_CMD_SMART)
    smart();
  else
    command = cmd;
}

void ata_data::reset() {
  data = 0;
  feature = 0;
  count = 0;
  memset(lba, 0, sizeof lba);
  head = 0;
  command = 0;
  short_cdb = 0;
  direction = 0;
  in_size = 0;
  out_size = 0;
  buffer = nullptr;
}

void ata_data::smart() {
  reset();
  command = ATA_CMD_SMART;
  lba[1] = 0x4F;
  lba[2] = 0xC2;
}

uint32_t ata_data::lba28() const {
  return ((uint32_t)(head & 0x0F) << 24) | ((uint32_t)lba[2] << 16) | ((uint32_t)lba[1] << 8) | lba[0];
}

void ata_data::set_lba28(uint32_t v) {
  lba[0] = (uint8_t)v;
  lba[1] = (uint8_t)(v >> 8);
  lba[2] = (uint8_t)(v >> 16);
  lba[3] = lba[4] = lba[5] = 0;
  head = (uint16_t)((v >> 24) & 0x0F);
}

uint64_t ata_data::lba48() const {
  uint64_t v = 0;
  for (int i = 5; i >= 0; --i) v = (v << 8) | lba[i];
  return v;
}

void ata_data::set_lba48(uint64_t v) {
  for (int i = 0; i < 6; ++i) lba[i] = (uint8_t)(v >> (8 * i));
}

void ata_data::dump() const {
  if (!g_dbg_log.isEnabledFor(log4cplus::DEBUG_LOG_LEVEL)) return;
  char line[160];
  snprintf(line, sizeof line, "CMD[FEA]=%02X[%02X] SEC=%02X DAT=%02X HEAD=%02X LBA=%02X%02X%02X%02X%02X%02X (%lld)\n",
           command, feature, count, data, head, lba[5], lba[4], lba[3], lba[2], lba[1], lba[0], (long long)lba48());
  g_dbg_log.forcedLog(log4cplus::DEBUG_LOG_LEVEL, line, __FILE__, __LINE__);
}
