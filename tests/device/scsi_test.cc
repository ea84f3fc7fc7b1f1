// SCSI: the bytes of INQUIRY, VPD pages, sense data and WRITE SAME(16), and a
// SCSI disk's initialisation and trim against a software device.
#include <gtest/gtest.h>

#include "device/blkdev_scsi.h"
#include "device/device_fixture.h"
#include "device/scsi.h"
#include "device/scsi_fixture.h"
#include "support/log_capture.h"

typedef std::vector<unsigned char> bytes;

TEST(ScsiCodec, CdbsAndPages) {
  unsigned char cdb[16];
  scsi_build_write_same16_unmap(cdb, 0x0000A1B2C3D4E5ULL, 0x01020304);
  EXPECT_EQ((bytes{0x93, 0x08, 0, 0, 0x00, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0x01, 0x02, 0x03, 0x04, 0, 0}), bytes(cdb, cdb + 16));
  bytes std_data = StandardInquiry("ZVTEST", "Ultra Disk 9000", {0x0300, 0x04C0, 0x0000, 0x0054});
  std::string types = "Disk";
  scsi_append_version_texts(std_data.data(), types);
  EXPECT_EQ("Disk/SPC-3/SBC-3", types);  // up to the first unknown code
  bytes limits = VpdPage(0xB0, bytes(0x3C, 0));
  limits[43] = 0x10;
  limits[38] = 0x01;
  EXPECT_EQ(0x0000010000000010ULL, scsi_vpd_max_write_same(limits.data()));
  // Sense data in both formats: {bytes, key, asc, ascq}.
  const struct {
    bytes sense;
    int key, asc, ascq;
  } senses[] = {{{0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x01}, 5, 0x24, 1},
                {{0xF1, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x00}, 3, 0x11, 0},
                {{0x72, 0x06, 0x29, 0x02}, 6, 0x29, 2}};
  for (auto& s : senses) {
    bytes b = s.sense;
    b.resize(32);
    scsi_sense_t d = scsi_decode_sense(b.data());
    EXPECT_TRUE(s.key == d.key && s.asc == d.asc && s.ascq == d.ascq) << s.key;
  }
}

class ScsiDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { root.MakeImage("sdq", 4096, 0); }
  CBlkDevScsi Make() {
    CBlkDevData d;
    d.name = "sdq";
    d.major = kUnusedMajor;
    d.minor = 5;
    d.type_name = "Disk";
    d.size_sectors = 2000000;
    d.size_bytes = d.size_sectors * 512;
    return CBlkDevScsi(d);
  }
  TempRoot root;
  LogCapture logs;
  FakeScsiDevice disk;
  IoctlScope<FakeScsiDevice> scope{disk};
};

// Pages answered -> what the device shows and offers. Trim only with
// WRITE SAME(16) UNMAP (LBPWS); a page that answers for another is not read.
TEST_F(ScsiDeviceTest, InitFromInquiryAndVpdPages) {
  const struct {
    unsigned char provisioning;
    bool serial_answers_right_page;
    std::vector<std::string> commands;
    const char* serial;
  } rows[] = {{0x44, true, {"Wipe", "Trim"}, "SN-0042"}, {0xA4, true, {"Wipe"}, "SN-0042"}, {0x40, false, {"Wipe", "Trim"}, ""}};
  for (auto& r : rows) {
    disk.inquiry[-1] = StandardInquiry("ZVTEST", "Ultra Disk 9000", {});
    disk.inquiry[0x00] = VpdPage(0x00, {0x00, 0x80, 0xB0, 0xB2});
    disk.inquiry[0x80] = VpdPage(r.serial_answers_right_page ? 0x80 : 0x83, {' ', 'S', 'N', '-', '0', '0', '4', '2', ' '});
    disk.inquiry[0xB0] = VpdPage(0xB0, bytes(0x3C, 0));
    disk.inquiry[0xB0][42] = 0x01;  // max WRITE SAME 256 blocks
    disk.inquiry[0xB2] = VpdPage(0xB2, {3, r.provisioning, 0x02, 0});
    CBlkDevScsi dev = Make();
    ASSERT_EQ(0, dev.Init());
    EXPECT_EQ("Ultra Disk 9000", dev.Snapshot().model);
    EXPECT_EQ(r.serial, dev.Snapshot().serial);
    EXPECT_EQ(256u, dev.max_write_same_blocks);
    std::vector<std::string> names;
    for (auto& c : dev.commands) names.push_back(c->GetName());
    EXPECT_EQ(r.commands, names);
  }
  EXPECT_TRUE(logs.Has("Disk-sdq: Ultra Disk 9000, s/n: SN-0042 scsi device detected.", "wipe"));
}

// A trim range: kept to the device's maximum, and failed when the command
// did not reach the device or the device refused it.
TEST_F(ScsiDeviceTest, TrimRanges) {
  CBlkDevScsi dev = Make();
  CDevFile file;
  ASSERT_EQ(0, file.OpenFile(kUnusedMajor, 5, "sdq", 0));
  const struct {
    uint64_t max, lba;
    unsigned count;
    unsigned char status;
    unsigned short host;
    int rc;
    bytes blocks;  // CDB bytes 10-13
  } rows[] = {{0, 0x1234, 100000, 0, 0, 0, {0x00, 0x01, 0x86, 0xA0}},
              {65536, 0, 100000, 0, 0, 0, {0x00, 0x01, 0x00, 0x00}},
              {0, SCSI_MAX_LBA48, 2, 0, 0, -1, {}},
              {0, 0, 8, 0, 0x07, -1, {0, 0, 0, 8}},
              {0, 0, 8, 2, 0, -1, {0, 0, 0, 8}}};
  for (auto& r : rows) {
    disk.sent.clear();
    dev.max_write_same_blocks = r.max;
    disk.write_same_status = r.status;
    disk.write_same_host_status = r.host;
    disk.write_same_sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0};
    EXPECT_EQ(r.rc, dev.Trim_helper_trim_range(file, r.lba, r.count));
    if (r.blocks.empty()) {
      EXPECT_TRUE(disk.sent.empty());
      continue;
    }
    ASSERT_EQ(1u, disk.sent.size());
    EXPECT_EQ(r.blocks, bytes(disk.sent[0].cdb.begin() + 10, disk.sent[0].cdb.begin() + 14));
    EXPECT_EQ(bytes(512, 0), disk.sent[0].data_out);
  }
}
