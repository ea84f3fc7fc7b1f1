#include "ata/ata_blocks.h"

#include <string.h>

uint64_t dco_get_max_lba(const unsigned char* dco) {
  uint64_t v = 0;
  for (int i = 13; i >= 6; --i) v = (v << 8) | dco[i];
  return v;
}

unsigned ata_sector_sum(const unsigned char* sector) {
  unsigned sum = 0;
  for (int i = 0; i < ATA_SECTOR; ++i) sum += sector[i];
  return sum & 0xFF;
}

void ata_fix_checksum(unsigned char* sector) {
  unsigned sum = 0;
  for (int i = 0; i < ATA_SECTOR - 1; ++i) sum += sector[i];
  sector[ATA_SECTOR - 1] = (unsigned char)(0x100 - (sum & 0xFF));
}

void dco_set_max_lba(unsigned char* dco, uint64_t max_lba) {
  for (int i = 0; i < 8; ++i) dco[6 + i] = (unsigned char)(max_lba >> (8 * i));
  ata_fix_checksum(dco);
}

void ata_build_password_block(unsigned char* block, bool enhanced) {
  memset(block, 0, ATA_SECTOR);
  // Control word: identifier 0 (user), master password capability high (0).
  block[0] = enhanced ? 0x02 : 0x00;
  block[1] = 0;
  memset(block + 2, ATA_PASSWORD_BYTE, ATA_PASSWORD_LEN);
}

int smart_find_attribute(const unsigned char* smart, int id, int from, uint64_t* raw) {
  for (int i = from < 0 ? 0 : from; i < 30; ++i) {
    const unsigned char* e = smart + 2 + 12 * i;
    if (e[0] != id) continue;
    uint64_t v = 0;
    for (int b = 10; b >= 5; --b) v = (v << 8) | e[b];
    if (raw) *raw = v;
    return i;
  }
  return -1;
}

int trim_fill_ranges(unsigned char* block, uint64_t lba, uint64_t count, uint64_t* left) {
  memset(block, 0, ATA_SECTOR);
  int n = 0;
  while (count > 0 && n < TRIM_RANGES_PER_BLOCK) {
    uint64_t len = count < TRIM_MAX_RANGE ? count : TRIM_MAX_RANGE;
    uint64_t entry = (lba & 0xFFFFFFFFFFFFULL) | (len << 48);
    for (int b = 0; b < 8; ++b) block[8 * n + b] = (unsigned char)(entry >> (8 * b));
    lba += len;
    count -= len;
    ++n;
  }
  if (left) *left = count;
  return n;
}
