// Byte codecs of the ATA layer: IDENTIFY decoding, data blocks, and the
// register images the SAT (16 and 12 byte) and IDE taskfile transports send
// and read back, seen by the software drive.
#include <gtest/gtest.h>
#include <linux/hdreg.h>

#include <functional>

#include "ata/ata_blocks.h"
#include "ata/ata_info.h"
#include "ata/ata_transport.h"
#include "ata_drive_model.h"

struct info_row {
  std::function<void(AtaDriveModel&)> set;
  int smart, security, lock, hpa, dco, lba, trim;
  uint64_t sectors;
  int erase_normal, erase_enhanced;
  const char* version;
};

TEST(AtaInfo, DecodesFeaturesSizesAndVersions) {
  const info_row rows[] = {
      {[](AtaDriveModel&) {}, 2, 2, 0, 2, 2, 2, 0, 2000000, 60, 120, "SATA-2 ATA8-ACS rev. 4"},
      {[](AtaDriveModel& d) { d.current_max = 0x123456789ULL; d.trim = true; }, 2, 2, 0, 2, 2, 2, 2, 0x12345678AULL,
       60, 120, "SATA-2 ATA8-ACS rev. 4"},
      {[](AtaDriveModel& d) { d.current_max = 0x1000000000000ULL; }, 2, 2, 0, 2, 2, 2, 0, 0x1000000000001ULL, 60, 120,
       "SATA-2 ATA8-ACS rev. 4"},
      {[](AtaDriveModel& d) { d.sec_frozen = d.sec_locked = true; d.erase_normal = 0x8BD0; }, 2, -2, 3, 2, 2, 2, 0,
       2000000, 6048, 120, "SATA-2 ATA8-ACS rev. 4"},
      {[](AtaDriveModel& d) { d.lba48 = false; d.current_max = 999999; d.major_bits = 0x10; d.sata_caps = 0; }, 2, 2,
       0, 2, 0, 0, 0, 1000000, 60, 120, "ATA8-ACS rev. 4"},
      {[](AtaDriveModel& d) { d.lba48 = false; d.word_overrides = {{60, 0}, {61, 0}, {81, 0}, {80, 0x70}}; }, 2, 2,
       0, 2, 2, 0, 0, 16383u * 16 * 63, 60, 120, "ATA/ATAPI-6"},
      {[](AtaDriveModel& d) { d.smart_enabled = false; d.major_bits = 0x08; d.minor = 0x111; }, 0, 0, -1, 0, 0, 0, 0,
       2000000, 0, 0, "ATA-3"},
  };
  for (const info_row& r : rows) {
    AtaDriveModel d;
    r.set(d);
    std::vector<unsigned char> b = d.IdentifyBlock(false);
    FixIdentityStrings(b.data());
    CAtaInfo info;
    ASSERT_EQ(0, info.init(b.data(), 512));
    std::string model, serial, version;
    info.get_model(model);
    info.get_serial(serial);
    info.get_version_string(version);
    SCOPED_TRACE(version);
    EXPECT_EQ(r.smart, info.get_smart_level());
    EXPECT_EQ(r.security, info.get_security_level());
    EXPECT_EQ(r.lock, info.get_security_lock());
    EXPECT_EQ(r.hpa, info.get_hpa_level());
    EXPECT_EQ(r.dco, info.get_dco_level());
    EXPECT_EQ(r.lba, info.get_lba_level());
    EXPECT_EQ(r.trim, info.get_trim_level());
    EXPECT_EQ(r.sectors, info.get_size());
    EXPECT_EQ(r.erase_normal, info.get_secure_erase_time(false));
    EXPECT_EQ(r.erase_enhanced, info.get_secure_erase_time(true));
    EXPECT_EQ(r.version, version);
    EXPECT_EQ("ZV Test Drive 1000", model);
    EXPECT_EQ("ZV0001", serial);
  }
  AtaDriveModel bad;
  bad.bad_checksum = true;
  CAtaInfo info;
  EXPECT_EQ(-1, info.init(bad.IdentifyBlock(false).data(), 512));
  EXPECT_EQ(-2, info.init(bad.IdentifyBlock(false).data(), 511));
}

TEST(AtaBlocks, DcoPasswordTrimAndSmart) {
  AtaDriveModel drive;
  std::vector<unsigned char> d = drive.DcoBlock();
  dco_set_max_lba(d.data(), 0x0102030405060708ULL);
  EXPECT_EQ(0x0102030405060708ULL, dco_get_max_lba(d.data()));
  EXPECT_EQ(0x08, d[6]);
  EXPECT_EQ(0u, ata_sector_sum(d.data()));

  unsigned char b[512];
  for (bool enhanced : {false, true}) {
    ata_build_password_block(b, enhanced);
    EXPECT_EQ(enhanced ? 0x02 : 0x00, b[0]);
    EXPECT_EQ(std::vector<unsigned char>(32, ATA_PASSWORD_BYTE), std::vector<unsigned char>(b + 2, b + 34));
    EXPECT_EQ(0, b[34]);
  }

  // {lba, sectors} -> entries (LBA 48 bits | count << 48, little-endian), sectors left over.
  struct {
    uint64_t lba, count;
    int entries;
    uint64_t left, second;
  } trims[] = {{100, 65473, 2, 0, (100 + 65472) | 1ULL << 48}, {0, 0x3FF001, 64, 1, 65472 | 0xFFC0ULL << 48}};
  for (auto& t : trims) {
    uint64_t left = 9, e1 = 0;
    EXPECT_EQ(t.entries, trim_fill_ranges(b, t.lba, t.count, &left));
    EXPECT_EQ(t.left, left);
    for (int i = 7; i >= 0; --i) e1 = e1 << 8 | b[8 + i];
    EXPECT_EQ(t.second, e1);
  }

  drive.SetSmartAttribute(3, 5, 0x0A0B0C);
  uint64_t raw = 0;
  EXPECT_EQ(3, smart_find_attribute(drive.smart_data, 5, 0, &raw));
  EXPECT_EQ(0x0A0B0Cu, raw);
  EXPECT_EQ(-1, smart_find_attribute(drive.smart_data, 5, 4, &raw));
}

// One register image through each transport: what reaches the drive.
TEST(AtaTransport, RegisterImages) {
  AtaDriveModel drive;
  AtaDriveScope scope(drive);
  CSgSatl sat;
  CIdeTaskfile ide;
  unsigned char blk[512];
  ata_build_password_block(blk, false);
  struct {
    CAtaCmdTransport* t;
    int short_cdb, direction;
    std::vector<unsigned char> cdb, io, hob;
    int phase;
  } rows[] = {
      {&sat, 0, 0, {0x85, 0x07, 0x20, 0xA1, 0xB2, 0xC3, 0xD4, 0x44, 0x11, 0x55, 0x22, 0x66, 0x33, 0xE0, 0x37, 0}, {}, {}, 0},
      {&sat, 0, 2, {0x85, 0x0B, 0x26}, {}, {}, 0},
      {&sat, 1, 1, {0xA1, 0x09, 0x2E, 0xB2, 0xD4, 0x11, 0x22, 0x33, 0xE0, 0x37, 0, 0}, {}, {}, 0},
      {&ide, 0, 2, {}, {0, 0xB2, 0xD4, 0x11, 0x22, 0x33, 0xE0, 0x37}, {0, 0xA1, 0xC3, 0x44, 0x55, 0x66, 0x01, 0}, TASKFILE_OUT},
      {&ide, 0, 0, {}, {0, 0xB2, 0xD4, 0x11, 0x22, 0x33, 0xE0, 0x37}, {0, 0xA1, 0xC3, 0x44, 0x55, 0x66, 0x01, 0}, TASKFILE_IN},
  };
  for (auto& r : rows) {
    ata_data a(0x37);
    a.feature = 0xA1B2;
    a.count = 0xC3D4;
    a.set_lba48(0x665544332211ULL);
    a.head = 0x1E0;
    a.short_cdb = r.short_cdb;
    a.direction = r.direction;
    a.buffer = blk;
    (r.direction == 1 ? a.in_size : a.out_size) = r.direction ? 512 : 0;
    drive.log.clear();
    r.t->RunAtaCommand(3, &a, 0);
    ASSERT_EQ(1u, drive.log.size());
    const model_command_t& c = drive.log[0];
    EXPECT_EQ(r.cdb, std::vector<unsigned char>(c.cdb, c.cdb + r.cdb.size()));
    if (r.io.empty()) continue;
    EXPECT_EQ(r.io, std::vector<unsigned char>(c.io_ports, c.io_ports + 8));
    EXPECT_EQ(r.hob, std::vector<unsigned char>(c.hob_ports, c.hob_ports + 8));
    EXPECT_EQ(r.phase, c.data_phase);
    if (r.direction == 2) {
      EXPECT_EQ(std::vector<unsigned char>(blk, blk + 512), c.data);
    }
  }
}
