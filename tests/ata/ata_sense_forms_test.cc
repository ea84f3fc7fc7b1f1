// ATA pass-through results in both sense forms: descriptor format (the kernel
// with D_SENSE set) and fixed format (its default, in the SAT layout or where
// Debian 12's kernel puts the fields). Same answers from the
// drive give the same result codes and registers in either form; a 48-bit
// address the fixed form cannot carry is read another way or reported
// unavailable, never truncated.
#include <gtest/gtest.h>
#include <string.h>

#include <utility>
#include <vector>

#include "ata/ata_transport.h"
#include "ata_device_fixture.h"

// ---- decoding hand-made sense data ----

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
      {"descriptor of the wrong length", with(kDescriptor, {{9, 0x0D}}), 71, 0, 0, 0, 0, 0, false},
      {"descriptor, ABRT", with(kDescriptor, {{11, 0x04}, {21, 0x50}}), 125, 0x04, 0x50, 0, 0, 0, false},
      {"descriptor, ABRT and ERR", with(kDescriptor, {{11, 0x04}, {21, 0x51}}), 5, 0x04, 0x51, 0, 0, 0, false},
      {"no response code, ERR", {{21, 0x51}}, 5, 0, 0x51, 0, 0, 0, false},
      {"fixed", with(kFixedOk, {{3, 0x00}, {4, 0x50}, {5, 0xE0}, {6, 0x2A}, {8, 0x80}, {9, 0x11}, {10, 0x22}, {11, 0x33}}),
       0, 0x00, 0x50, 0xE0, 0x2A, 0x332211, false},
      {"fixed with VALID, deferred", with(kFixedOk, {{0, 0xF1}, {4, 0x50}}), 0, 0, 0x50, 0, 0, 0, false},
      {"fixed, upper bytes nonzero", with(kFixedOk, {{4, 0x50}, {8, 0xE0}, {9, 0xFF}}), 0, 0, 0x50, 0, 0, 0xFF, true},
      {"fixed, not ATA pass-through information", with(kFixedOk, {{13, 0x00}, {4, 0x50}}), 71, 0, 0x50, 0, 0, 0,
       false},
      {"fixed, too short", with(kFixedOk, {{7, 6}, {4, 0x50}}), 71, 0, 0x50, 0, 0, 0, false},
      {"fixed, ABORTED COMMAND with ABRT", {{0, 0x70}, {2, 0x0B}, {7, 10}, {3, 0x04}, {4, 0x50}}, 125, 0x04, 0x50, 0,
       0, 0, false},
      {"fixed, MEDIUM ERROR with ERR", {{0, 0x70}, {2, 0x03}, {7, 10}, {3, 0x40}, {4, 0x51}}, 5, 0x40, 0x51, 0, 0, 0,
       false},
      {"fixed, error key without ERR or ABRT", {{0, 0x70}, {2, 0x0B}, {7, 10}, {12, 0x47}, {4, 0x50}}, 71, 0, 0x50,
       0, 0, 0, false},
      {"fixed, ABORTED COMMAND from a busy drive", {{0, 0x70}, {2, 0x0B}, {7, 10}, {4, 0xD0}}, 71, 0, 0xD0, 0, 0, 0,
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
    EXPECT_EQ(row.rc, r.rc) << row.name;
    EXPECT_EQ(row.error, r.error) << row.name;
    EXPECT_EQ(row.status, r.status) << row.name;
    EXPECT_EQ(row.device, r.device) << row.name;
    EXPECT_EQ(row.count, r.count) << row.name;
    EXPECT_EQ(row.lba, lba) << row.name;
    EXPECT_EQ(row.lba_upper_unknown, r.lba_upper_unknown) << row.name;
  }
}

// ---- the drive model answering in either form ----

class SenseFormTest : public AtaDeviceTest, public ::testing::WithParamInterface<AtaDriveModel::sense_form_e> {
 protected:
  bool Fixed() const { return GetParam() != AtaDriveModel::SENSE_DESCRIPTOR; }
};

INSTANTIATE_TEST_SUITE_P(Forms, SenseFormTest,
                         ::testing::Values(AtaDriveModel::SENSE_DESCRIPTOR, AtaDriveModel::SENSE_FIXED,
                                           AtaDriveModel::SENSE_FIXED_SHIFTED));

// READ NATIVE MAX ADDRESS EXT through the transport: the native maximum in
// full, or (fixed form, beyond what a 28-bit re-read holds) unavailable with
// the record unchanged.
TEST_P(SenseFormTest, NativeMaxAddressIsExactOrUnavailable) {
  struct row_t {
    uint64_t native;
    bool fixed_unavailable;
  } rows[] = {
      {0x123456, false},
      {0x0ABCDEF0, false},                  // ~92 GB: the 28-bit form holds it
      {0x0FFFFFFE, false},
      {0x0FFFFFFF, true},                   // what a larger drive answers too
      {5000000000000ULL / 512 - 1, true},   // 5 TB
  };
  drive.sense_form = GetParam();
  for (const row_t& row : rows) {
    drive.factory_max = drive.dco_max = drive.native_max = drive.current_max = row.native;
    CSgSatl sat;
    ata_data a(ATA_CMD_READ_NATIVE_MAX_EXT);
    a.head = 0x40;
    a.set_lba48(0x0102030405ULL);
    int rc = sat.RunAtaCommand(3, &a, 0);
    if (Fixed() && row.fixed_unavailable) {
      EXPECT_EQ(SAT_VALUE_UNAVAILABLE, rc) << row.native;
      EXPECT_EQ(0x0102030405ULL, a.lba48()) << row.native;
    } else {
      EXPECT_EQ(0, rc) << row.native;
      EXPECT_EQ(row.native, a.lba48()) << row.native;
    }
    // Whatever was needed, the last command is the 48-bit one, so SET MAX
    // ADDRESS EXT may follow.
    EXPECT_EQ(ATA_CMD_READ_NATIVE_MAX_EXT, drive.log.back().command);
  }
}

// What an operator sees of an ATA drive does not depend on the form.
TEST_P(SenseFormTest, DeviceInitAndOperations) {
  drive.sense_form = GetParam();
  drive.rotation = 1;
  drive.smart_threshold_exceeded = true;
  drive.SetSmartAttribute(0, 5, 7);
  drive.factory_max = drive.dco_max = drive.native_max = 0x0BA00000;  // ~100 GB with an HPA
  drive.current_max = 0x0A000000;
  auto dev = MakeInit();
  EXPECT_EQ("ZV Test Drive 1000 SSD", dev->model);
  EXPECT_TRUE(dev->HasDetail("S.M.A.R.T. status BAD"));
  EXPECT_EQ(7u, dev->bad_sectors);
  EXPECT_EQ((drive.native_max + 1) * 512, dev->hpa_size);
  EXPECT_TRUE(dev->Offers("Reset HPA"));
  EXPECT_EQ(0, dev->ResetHPA(1));
  EXPECT_EQ(drive.native_max, drive.current_max);
  drive.Fail(ATA_CMD_SECURITY_ERASE_PREPARE);
  EXPECT_EQ(5, dev->SecurityErase({60, 0}));
  EXPECT_FALSE(drive.sec_enabled);
}

// A 5 TB drive with an HPA: its native size is exact, or unknown and then no
// reset is offered; never a truncated size.
TEST_P(SenseFormTest, LargeDriveNeverGetsATruncatedNativeSize) {
  drive.sense_form = GetParam();
  drive.factory_max = drive.dco_max = drive.native_max = 5000000000000ULL / 512 - 1;
  drive.current_max = drive.native_max - 2048;
  auto dev = MakeInit();
  EXPECT_EQ(Fixed() ? 0 : (drive.native_max + 1) * 512, dev->hpa_size);
  EXPECT_EQ(!Fixed(), dev->Offers("Reset HPA"));
}
