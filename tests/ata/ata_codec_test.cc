// Byte codecs of the ATA layer: IDENTIFY decoding, data blocks, the register
// images the SAT (16 and 12 byte) and IDE taskfile transports send, seen by
// the software drive, and the ATA pass-through result in either sense form
// (descriptor, fixed in the SAT layout or where Debian 12's kernel puts the
// fields) decoded to the same registers; a 48-bit address the fixed form
// cannot carry is flagged, never truncated.
#include <gtest/gtest.h>
#include <linux/hdreg.h>

#include <functional>

#include "ata/ata_blocks.h"
#include "ata/ata_info.h"
#include "ata/ata_transport.h"
#include "ata_drive_model.h"
#include "device/device_fixture.h"

// {drive} -> {SMART, security, lock, HPA, DCO, LBA and TRIM levels, sectors,
// normal and enhanced erase minutes}, version text.
TEST(AtaInfo, DecodesFeaturesSizesAndVersions) {
  const struct {
    std::function<void(AtaDriveModel&)> set;
    std::vector<int64_t> want;
    const char* version;
  } rows[] = {
      {[](AtaDriveModel&) {}, {2, 2, 0, 2, 2, 2, 0, 2000000, 60, 120}, "SATA-2 ATA8-ACS rev. 4"},
      {[](AtaDriveModel& d) { d.current_max = 0x123456789ULL; d.trim = true; },
       {2, 2, 0, 2, 2, 2, 2, 0x12345678AULL, 60, 120}, "SATA-2 ATA8-ACS rev. 4"},
      {[](AtaDriveModel& d) { d.current_max = 0x1000000000000ULL; }, {2, 2, 0, 2, 2, 2, 0, 0x1000000000001LL, 60, 120},
       "SATA-2 ATA8-ACS rev. 4"},
      {[](AtaDriveModel& d) { d.sec_frozen = d.sec_locked = true; d.erase_normal = 0x8BD0; },
       {2, -2, 3, 2, 2, 2, 0, 2000000, 6048, 120}, "SATA-2 ATA8-ACS rev. 4"},
      {[](AtaDriveModel& d) { d.lba48 = false; d.current_max = 999999; d.major_bits = 0x10; d.sata_caps = 0; },
       {2, 2, 0, 2, 0, 0, 0, 1000000, 60, 120}, "ATA8-ACS rev. 4"},
      {[](AtaDriveModel& d) { d.lba48 = false; d.word_overrides = {{60, 0}, {61, 0}, {81, 0}, {80, 0x70}}; },
       {2, 2, 0, 2, 2, 0, 0, 16383 * 16 * 63, 60, 120}, "ATA/ATAPI-6"},
      {[](AtaDriveModel& d) { d.smart_enabled = false; d.major_bits = 0x08; d.minor = 0x111; },
       {0, 0, -1, 0, 0, 0, 0, 2000000, 0, 0}, "ATA-3"},
  };
  for (auto& r : rows) {
    AtaDriveModel d;
    r.set(d);
    std::vector<unsigned char> b = d.IdentifyBlock(false);
    FixIdentityStrings(b.data());
    CAtaInfo info;
    ASSERT_EQ(0, info.init(b.data(), 512));
    std::string version;
    info.get_version_string(version);
    EXPECT_EQ(r.version, version);
    EXPECT_EQ(r.want, (std::vector<int64_t>{info.get_smart_level(), info.get_security_level(), info.get_security_lock(),
                                            info.get_hpa_level(), info.get_dco_level(), info.get_lba_level(),
                                            info.get_trim_level(), (int64_t)info.get_size(),
                                            info.get_secure_erase_time(false), info.get_secure_erase_time(true)}));
  }
  AtaDriveModel bad;
  bad.bad_checksum = true;
  CAtaInfo info;
  EXPECT_EQ(-1, info.init(bad.IdentifyBlock(false).data(), 512));
  EXPECT_EQ(-2, info.init(bad.IdentifyBlock(false).data(), 511));
}

TEST(AtaBlocks, DcoMaximumAddress) {
  std::vector<unsigned char> d = AtaDriveModel().DcoBlock();
  dco_set_max_lba(d.data(), 0x0102030405060708ULL);
  EXPECT_EQ(0x0102030405060708ULL, dco_get_max_lba(d.data()));
  EXPECT_EQ(0x08, d[6]);
  EXPECT_EQ(0u, ata_sector_sum(d.data()));
}

// One register image through each transport: what reaches the drive.
TEST(AtaTransport, RegisterImages) {
  AtaDriveModel drive;
  IoctlScope<AtaDriveModel> scope(drive);
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

struct sense_row_t {
  const char* name;
  std::vector<std::pair<int, int>> bytes;  // index, value; all others 0
  int rc;
  int error, status, device, count;
  uint64_t lba;
  bool lba_upper_unknown;
};

static const std::vector<std::pair<int, int>> kDescriptor = {{0, 0x72}, {7, 14}, {8, 0x09}, {9, 0x0C}};
static const std::vector<std::pair<int, int>> kFixedOk = {{0, 0x70}, {2, 0x01}, {7, 10}, {13, 0x1D}};

static std::vector<std::pair<int, int>> with(std::vector<std::pair<int, int>> base,
                                             std::vector<std::pair<int, int>> more) {
  for (auto& m : more) base.push_back(m);
  return base;
}

TEST(SatSense, BothFormsDecodeToTheSameRegisters) {
  const sense_row_t rows[] = {
      {"all zero", {}, 71, 0, 0, 0, 0, 0, false},
      {"descriptor", with(kDescriptor, {{11, 0x00}, {12, 0x01}, {13, 0x02}, {14, 0x44}, {15, 0x11}, {16, 0x55},
                                        {17, 0x22}, {18, 0x66}, {19, 0x33}, {20, 0xE0}, {21, 0x50}}),
       0, 0x00, 0x50, 0xE0, 0x0102, 0x665544332211ULL, false},
      {"descriptor, ABRT", with(kDescriptor, {{11, 0x04}, {21, 0x50}}), 125, 0x04, 0x50, 0, 0, 0, false},
      {"descriptor, ABRT and ERR", with(kDescriptor, {{11, 0x04}, {21, 0x51}}), 5, 0x04, 0x51, 0, 0, 0, false},
      {"fixed", with(kFixedOk, {{3, 0x00}, {4, 0x50}, {5, 0xE0}, {6, 0x2A}, {8, 0x80}, {9, 0x11}, {10, 0x22}, {11, 0x33}}),
       0, 0x00, 0x50, 0xE0, 0x2A, 0x332211, false},
      {"fixed, upper bytes nonzero", with(kFixedOk, {{4, 0x50}, {8, 0xE0}, {9, 0xFF}}), 0, 0, 0x50, 0, 0, 0xFF, true},
      {"fixed, not ATA pass-through information", with(kFixedOk, {{13, 0x00}, {4, 0x50}}), 71, 0, 0x50, 0, 0, 0,
       false},
      {"fixed, ABORTED COMMAND with ABRT", {{0, 0x70}, {2, 0x0B}, {7, 10}, {3, 0x04}, {4, 0x50}}, 125, 0x04, 0x50, 0,
       0, 0, false},
      {"fixed, MEDIUM ERROR with ERR", {{0, 0x70}, {2, 0x03}, {7, 10}, {3, 0x40}, {4, 0x51}}, 5, 0x40, 0x51, 0, 0, 0,
       false},
      // What Debian 12's kernel answered in the VM: IDENTIFY, STATUS with DRQ.
      {"fixed, shifted, IDENTIFY read", {{0, 0x70}, {2, 0x0B}, {7, 0x0A}, {9, 0x58}, {11, 0x01}, {16, 0x80}}, 0, 0,
       0x58, 0, 1, 0, false},
      {"fixed, shifted, aborted", {{0, 0x70}, {2, 0x0B}, {7, 0x0A}, {8, 0x04}, {9, 0x41}, {10, 0xE0}, {11, 0x01},
       {16, 0x80}}, 5, 0x04, 0x41, 0xE0, 1, 0, false},
      {"fixed, shifted, upper bytes nonzero", with(kFixedOk, {{9, 0x50}, {16, 0xA0}, {17, 0x7F}, {18, 0x12}}), 0, 0,
       0x50, 0, 0, 0x127F, true},
      {"fixed, shifted, SCSI disk: invalid command", {{0, 0x70}, {2, 0x05}, {7, 0x0A}, {12, 0x20}}, 71, 0, 0, 0, 0,
       0, false},
  };
  for (const sense_row_t& row : rows) {
    unsigned char s[32] = {0};
    for (auto& b : row.bytes) s[b.first] = (unsigned char)b.second;
    sat_result_t r = sat_decode_sense(s);
    uint64_t lba = 0;
    for (int i = 5; i >= 0; --i) lba = lba << 8 | r.lba[i];
    EXPECT_EQ((std::vector<uint64_t>{(uint64_t)row.rc, (uint64_t)row.error, (uint64_t)row.status, (uint64_t)row.device,
                                     (uint64_t)row.count, row.lba, row.lba_upper_unknown}),
              (std::vector<uint64_t>{(uint64_t)r.rc, r.error, r.status, r.device, r.count, lba, r.lba_upper_unknown}))
        << row.name;
  }
}
