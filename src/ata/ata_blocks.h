// Layouts of the 512-byte data sectors that ATA commands carry: DEVICE
// CONFIGURATION IDENTIFY data, the security password block, SMART data and
// the DATA SET MANAGEMENT range block.
#pragma once
#include <stdint.h>

constexpr int ATA_SECTOR = 512;

// DCO identify data: maximum LBA in bytes 6-13.
uint64_t dco_get_max_lba(const unsigned char* dco);
// Writes the maximum LBA and recomputes the checksum in byte 511.
void dco_set_max_lba(unsigned char* dco, uint64_t max_lba);
// Byte 511 such that all 512 bytes add up to 0 modulo 256.
void ata_fix_checksum(unsigned char* sector);
// Low 8 bits of the sum of 512 bytes (0 for a valid sector).
unsigned ata_sector_sum(const unsigned char* sector);

// The byte from which the program's own 32-byte security password is formed.
constexpr unsigned char ATA_PASSWORD_BYTE = 0x5A;
constexpr int ATA_PASSWORD_LEN = 32;
// Clears the block and fills in the control word (user password, enhanced
// erase bit when asked) and the password.
void ata_build_password_block(unsigned char* block, bool enhanced);

// SMART data: raw value of the first attribute entry with `id`, searching from
// entry `from`; returns the entry index or -1.
int smart_find_attribute(const unsigned char* smart, int id, int from, uint64_t* raw);

// One DATA SET MANAGEMENT range: up to 65,472 sectors.
constexpr unsigned TRIM_MAX_RANGE = 0xFFC0;
constexpr int TRIM_RANGES_PER_BLOCK = 64;
// Fills the range block from `lba` for `count` sectors; returns the number of
// entries used and the sectors that did not fit in *left.
int trim_fill_ranges(unsigned char* block, uint64_t lba, uint64_t count, uint64_t* left);
