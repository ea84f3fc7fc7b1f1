// SCSI: INQUIRY and VPD decoding, the text tables, the version descriptor
// table, the SCSI device's initialisation and its WRITE SAME(16) trim, all
// against byte fixtures answered through the ioctl seam.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "command/threaded_command.h"
#include "device/blkdev_scsi.h"
#include "device/device_fixture.h"
#include "device/scsi.h"
#include "device/scsi_fixture.h"
#include "report/report.h"
#include "support/log_capture.h"

namespace {

std::string Hex(const CHexCode& c) {
  std::ostringstream os;
  os << c;
  return os.str();
}

CBlkDevData ScsiData(const std::string& name, uint64_t sectors) {
  CBlkDevData d;
  d.name = name;
  d.major = kUnusedMajor;
  d.minor = 5;
  d.bus = 6;
  d.type_name = "Disk";
  d.size_sectors = sectors;
  d.size_bytes = sectors * 512;
  return d;
}

std::vector<std::string> CommandNames(const CBlkDev& dev) {
  std::vector<std::string> v;
  for (auto& c : dev.commands) v.push_back(c->GetName());
  return v;
}

// A disk that answers everything the SCSI device asks for.
void FullDisk(FakeScsiDevice& d) {
  d.inquiry[-1] = StandardInquiry("ZVTEST", "Ultra Disk 9000", {0x0300, 0x04C0, 0x0000, 0x0054});
  d.inquiry[0x00] = VpdPage(0x00, {0x00, 0x80, 0x83, 0xB0, 0xB2});
  d.inquiry[0x80] = VpdSerial("  SN-0042-XYZ  ");
  d.inquiry[0xB0] = VpdBlockLimits(0x20000, 0x10000);
  d.inquiry[0xB2] = VpdProvisioning(3, 0x44);  // LBPWS, LBPRZ
}

}  // namespace

// ---- text tables ----

TEST(ScsiText, StatusSenseKeysAndResponseCodes) {
  EXPECT_STREQ(scsi_status2txt(0x00), "GOOD");
  EXPECT_STREQ(scsi_status2txt(0x02), "CHECK CONDITION");
  EXPECT_STREQ(scsi_status2txt(0x04), "CONDITION MET");
  EXPECT_STREQ(scsi_status2txt(0x08), "BUSY");
  EXPECT_STREQ(scsi_status2txt(0x10), "Obsolete");
  EXPECT_STREQ(scsi_status2txt(0x14), "Obsolete");
  EXPECT_STREQ(scsi_status2txt(0x22), "Obsolete");
  EXPECT_STREQ(scsi_status2txt(0x18), "RESERVATION CONFLICT");
  EXPECT_STREQ(scsi_status2txt(0x28), "TASK SET FULL");
  EXPECT_STREQ(scsi_status2txt(0x30), "ACA ACTIVE");
  EXPECT_STREQ(scsi_status2txt(0x40), "TASK ABORTED");
  EXPECT_STREQ(scsi_status2txt(0x01), "Reserved");
  EXPECT_STREQ(scsi_status2txt(65), "Reserved");
  EXPECT_STREQ(scsi_status2txt(-1), "Reserved");

  EXPECT_STREQ(scsi_sensekey2txt(0), "NO SENSE");
  EXPECT_STREQ(scsi_sensekey2txt(5), "ILLEGAL REQUEST");
  EXPECT_STREQ(scsi_sensekey2txt(12), "Reserved");
  EXPECT_STREQ(scsi_sensekey2txt(15), "COMPLETED");
  EXPECT_STREQ(scsi_sensekey2txt(16), "Undefined");
  EXPECT_STREQ(scsi_sensekey2txt(-1), "Undefined");
  EXPECT_STREQ(scsi_sensekey2txt(SCSI_SENSE_UNKNOWN), "Undefined");

  EXPECT_STREQ(scsi_sensecode2txt(0x70), "current information, fixed sense data format");
  EXPECT_STREQ(scsi_sensecode2txt(0x71), "deferred errors, fixed sense data format");
  EXPECT_STREQ(scsi_sensecode2txt(0x72), "current information, descriptor format sense data");
  EXPECT_STREQ(scsi_sensecode2txt(0x73), "deferred errors, descriptor format sense data");
  EXPECT_STREQ(scsi_sensecode2txt(0x74), "Reserved");
  EXPECT_STREQ(scsi_sensecode2txt(0x7E), "Reserved");
  EXPECT_STREQ(scsi_sensecode2txt(0x7F), "Vendor specific");
  EXPECT_STREQ(scsi_sensecode2txt(0x6F), "Reserved");
  EXPECT_STREQ(scsi_sensecode2txt(0x80), "Reserved");

  EXPECT_EQ(Hex(CHexCode(2, scsi_status2txt)), "2h (CHECK CONDITION)");
}

// ---- version descriptor table ----

TEST(ScsiVersionTable, LooksUpTheDesignations) {
  EXPECT_STREQ(scsi_version_descriptor_text(0x0054), "SAM-2 T10/1157-D rev. 23");
  EXPECT_STREQ(scsi_version_descriptor_text(0x0300), "SPC-3");
  EXPECT_STREQ(scsi_version_descriptor_text(0x0314), "SPC-3 ANSI INCITS 408-2005");
  EXPECT_STREQ(scsi_version_descriptor_text(0x04C0), "SBC-3");
  EXPECT_STREQ(scsi_version_descriptor_text(0x0BE0), "SAS");
  EXPECT_STREQ(scsi_version_descriptor_text(0x0C28), "SAS-2 T10/1760-D rev. 16");
  EXPECT_STREQ(scsi_version_descriptor_text(0x1EA0), "SAT");
  EXPECT_EQ(scsi_version_descriptor_text(0x0000), nullptr);
  EXPECT_EQ(scsi_version_descriptor_text(0x0001), nullptr);
  EXPECT_EQ(scsi_version_descriptor_text(0xFFFF), nullptr);
  EXPECT_EQ(scsi_version_descriptor_text(-1), nullptr);
}

TEST(ScsiVersionTable, HoldsExactlyTheListInTheSourceTree) {
  std::ifstream in(std::string(ZV_SOURCE_DIR) + "/src/device/scsi-version-descriptors.tsv");
  ASSERT_TRUE(in.is_open());
  std::map<int, std::string> listed;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    listed[(int)std::stoul(line.substr(0, tab), nullptr, 16)] = line.substr(tab + 1);
  }
  ASSERT_EQ(g_scsi_version_descriptor_count, listed.size());
  for (size_t i = 0; i < g_scsi_version_descriptor_count; ++i) {
    const scsi_version_descriptor_t& e = g_scsi_version_descriptors[i];
    if (i > 0) {
      EXPECT_LT(g_scsi_version_descriptors[i - 1].code, e.code);  // sorted, no duplicates
    }
    EXPECT_EQ(listed[e.code], e.text) << std::hex << e.code;
    EXPECT_STREQ(scsi_version_descriptor_text(e.code), e.text);
  }
}

TEST(ScsiVersionTable, VersionTextsStopAtTheFirstUnknownCode) {
  std::vector<unsigned char> d = StandardInquiry("V", "P", {0x0300, 0x04C0, 0x0000, 0x0054});
  std::string text;
  scsi_append_version_texts(d.data(), text);
  EXPECT_EQ(text, "SPC-3/SBC-3");
  text = "Disk";
  scsi_append_version_texts(d.data(), text);
  EXPECT_EQ(text, "Disk/SPC-3/SBC-3");
  // All eight slots used.
  d = StandardInquiry("V", "P", {0x0020, 0x0040, 0x0060, 0x0080, 0x0300, 0x04C0, 0x0BE0, 0x1EA0});
  text.clear();
  scsi_append_version_texts(d.data(), text);
  EXPECT_EQ(text, "SAM/SAM-2/SAM-3/SAM-4/SPC-3/SBC-3/SAS/SAT");
  EXPECT_EQ(scsi_inquiry_version_descriptor(d.data(), 7), 0x1EA0);
}

// ---- INQUIRY and VPD decoding ----

TEST(ScsiDecode, StandardAndVpdData) {
  std::vector<unsigned char> d = StandardInquiry("ZVTEST", "Ultra Disk 9000", {});
  EXPECT_EQ(scsi_inquiry_vendor(d.data()), "ZVTEST");
  EXPECT_EQ(scsi_inquiry_product(d.data()), "Ultra Disk 9000");

  std::vector<unsigned char> p0 = VpdPage(0x00, {0x00, 0x80, 0xB0});
  EXPECT_EQ(scsi_vpd_supported_pages(p0.data()), (std::vector<int>{0x00, 0x80, 0xB0}));
  std::vector<unsigned char> p80 = VpdSerial("  SN 1  ");
  EXPECT_EQ(scsi_vpd_unit_serial(p80.data()), "SN 1");
  std::vector<unsigned char> b0 = VpdBlockLimits(0x01020304, 0x1122334455667788ULL);
  EXPECT_EQ(scsi_vpd_max_write_same(b0.data()), 0x1122334455667788ULL);
  EXPECT_EQ(scsi_vpd_max_unmap_lba(b0.data()), 0x01020304u);

  EXPECT_EQ(scsi_vpd_provisioning_text(0x80), "LBPU (UNMAP command) ");
  EXPECT_EQ(scsi_vpd_provisioning_text(0xE6),
            "LBPU (UNMAP command) LBPWS (WRITE SAME(16) with UNMAP flag) LBPWS10 (WRITE SAME(10) with UNMAP flag) "
            "LBPRZ (read zeros from unmaped blocks) ANC_SUP(ANCHOR)");
  EXPECT_EQ(scsi_vpd_provisioning_text(0x19), "");

  // A page length beyond the 256-byte buffer is cut at the buffer's end.
  unsigned char big[SCSI_INQUIRY_BUFFER];
  memset(big, 'A', sizeof big);
  big[1] = 0x00;
  big[3] = 0xFF;
  EXPECT_EQ(scsi_vpd_supported_pages(big).size(), (size_t)SCSI_INQUIRY_BUFFER - 4);
  EXPECT_EQ(scsi_vpd_unit_serial(big).size(), (size_t)SCSI_INQUIRY_BUFFER - 4);
}

TEST(ScsiDecode, SenseDataInBothFormats) {
  unsigned char fixed[32] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x01};
  scsi_sense_t s = scsi_decode_sense(fixed);
  EXPECT_EQ(s.response_code, 0x70);
  EXPECT_EQ(s.key, 5);
  EXPECT_EQ(s.asc, 0x20);
  EXPECT_EQ(s.ascq, 0x01);
  fixed[0] = 0xF1;  // VALID bit with a deferred error
  fixed[2] = 0xE3;  // FILEMARK/EOM/ILI bits around the key
  s = scsi_decode_sense(fixed);
  EXPECT_EQ(s.response_code, 0x71);
  EXPECT_EQ(s.key, 3);

  unsigned char desc[32] = {0x72, 0xF5, 0x24, 0x00, 0, 0, 0, 0};
  s = scsi_decode_sense(desc);
  EXPECT_EQ(s.response_code, 0x72);
  EXPECT_EQ(s.key, 5);
  EXPECT_EQ(s.asc, 0x24);
  EXPECT_EQ(s.ascq, 0);
  desc[0] = 0x73;
  EXPECT_EQ(scsi_decode_sense(desc).key, 5);

  unsigned char other[32] = {0x7F, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5};
  s = scsi_decode_sense(other);
  EXPECT_EQ(s.response_code, 0x7F);
  EXPECT_EQ(s.key, SCSI_SENSE_UNKNOWN);
  EXPECT_EQ(s.asc, SCSI_SENSE_UNKNOWN);
  EXPECT_EQ(s.ascq, SCSI_SENSE_UNKNOWN);
  EXPECT_EQ(Hex(CHexCode(s.key, scsi_sensekey2txt)), "deadbeefh (Undefined)");
}

TEST(ScsiDecode, WriteSame16Cdb) {
  unsigned char cdb[16];
  memset(cdb, 0xEE, sizeof cdb);
  scsi_build_write_same16_unmap(cdb, 0x123456789ABCULL, 0x01020304);
  const unsigned char want[16] = {0x93, 0x08, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78,
                                  0x9A, 0xBC, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00};
  EXPECT_EQ(0, memcmp(cdb, want, 16));
}

// ---- the INQUIRY command ----

TEST(ScsiInquiry, CdbsAndHeader) {
  FakeScsiDevice dev;
  FakeScsiScope scope(dev);
  dev.inquiry[-1] = StandardInquiry("ZVTEST", "P", {});
  dev.inquiry[0xB0] = VpdBlockLimits(1, 2);
  CScsiInquiryCmd cmd;

  // A page the program does not ask for is not sent.
  EXPECT_EQ(cmd.Run(3, 0x81), -1);
  EXPECT_TRUE(dev.sent.empty());

  ASSERT_EQ(cmd.Run(3, SCSI_INQUIRY_STANDARD), 0);
  ASSERT_EQ(dev.sent.size(), 1u);
  EXPECT_EQ(dev.sent[0].cdb, (std::vector<unsigned char>{0x12, 0, 0, 0, 96, 0}));
  EXPECT_EQ(dev.sent[0].interface_id, 'S');
  EXPECT_EQ(dev.sent[0].dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(dev.sent[0].dxfer_len, 96u);
  EXPECT_EQ(dev.sent[0].mx_sb_len, 32u);
  EXPECT_EQ(dev.sent[0].timeout, 10000u);
  EXPECT_EQ(scsi_inquiry_vendor(cmd.data), "ZVTEST");

  ASSERT_EQ(cmd.Run(3, 0xB0), 0);
  EXPECT_EQ(dev.sent[1].cdb, (std::vector<unsigned char>{0x12, 1, 0xB0, 0, 255, 0}));
  EXPECT_EQ(dev.sent[1].dxfer_len, 255u);
  EXPECT_EQ(scsi_vpd_max_write_same(cmd.data), 2u);
  // The buffer is cleared before each run.
  EXPECT_EQ(cmd.data[8], 0);

  for (int page : {0x00, 0x80, 0x83, 0x86, 0xB2}) {
    cmd.Run(3, page);
    EXPECT_EQ(dev.sent.back().cdb[2], page);
  }
  EXPECT_EQ(scsi_probe_inquiry(3), 0);
}

TEST(ScsiInquiry, Failures) {
  LogCapture logs;
  FakeScsiDevice dev;
  FakeScsiScope scope(dev);
  CScsiInquiryCmd cmd;

  // The device answers with CHECK CONDITION: failed, without a message.
  EXPECT_EQ(cmd.Run(3, 0x80), -1);
  EXPECT_TRUE(logs.Texts("debug").empty());
  EXPECT_EQ(scsi_probe_inquiry(3), -1);

  // The answer names another page.
  dev.inquiry[0x80] = VpdPage(0x83, {1, 2, 3});
  EXPECT_EQ(cmd.Run(3, 0x80), -1);
  EXPECT_TRUE(logs.Has("SG_IO failed. Invalid VPD page 80 (number missmach)", "debug"));
  // Standard data has no page code to compare.
  dev.inquiry[-1] = VpdPage(0x83, {});
  EXPECT_EQ(cmd.Run(3, SCSI_INQUIRY_STANDARD), 0);

  dev.sg_io_fails = true;
  EXPECT_EQ(cmd.Run(3, SCSI_INQUIRY_STANDARD), -1);
  EXPECT_TRUE(logs.Has(std::string("SG_IO failed: ") + strerror(EIO), "debug"));
}

// ---- the SCSI device ----

class ScsiDeviceTest : public ::testing::Test {
 protected:
  TempRoot root;
  LogCapture logs;
  FakeScsiDevice disk;
};

TEST_F(ScsiDeviceTest, InitReadsInquiryAndVpdPages) {
  FakeScsiScope scope(disk);
  FullDisk(disk);
  root.MakeImage("sdq", 4096, 0);
  CBlkDevScsi dev(ScsiData("sdq", 2000000));
  ASSERT_EQ(dev.Init(), 0);

  EXPECT_EQ(dev.vendor, "ZVTEST");
  EXPECT_EQ(dev.model, "Ultra Disk 9000");
  EXPECT_EQ(dev.serial, "SN-0042-XYZ");
  EXPECT_EQ(dev.type_name, "Disk/SPC-3/SBC-3");
  EXPECT_EQ(dev.max_write_same_blocks, 0x10000u);
  EXPECT_EQ(CommandNames(dev), (std::vector<std::string>{"Wipe", "Trim"}));
  EXPECT_EQ(dev.commands[0]->id, BLKDEV_CMD_WIPE);
  EXPECT_EQ(dev.commands[1]->id, BLKDEV_CMD_TRIM);
  EXPECT_EQ(disk.InquiriesSent(),
            (std::vector<std::pair<int, int>>{{0, 0}, {1, 0x00}, {1, 0x80}, {1, 0xB0}, {1, 0xB2}}));

  EXPECT_TRUE(logs.Has("Initializing SCSI device sdq", "debug"));
  EXPECT_TRUE(logs.Has("Disk-sdq: SCSI version is 30536", "debug"));
  EXPECT_TRUE(logs.Has("Disk-sdq: SCSI VPD page 00, supported pages: 00 80 83 b0 b2 ", "debug"));
  EXPECT_TRUE(logs.Has("Disk-sdq: VPD Block Limits page (b0), max_write_same=65536", "debug"));
  EXPECT_TRUE(logs.Has("Disk-sdq: VPD Block Limits page (b0), max_unmap_lba=131072", "debug"));
  EXPECT_TRUE(logs.Has("Disk-sdq: VPD Block Provisioning page (b2), THRESHOLD EXPONENT=3", "debug"));
  EXPECT_TRUE(logs.Has("Disk-sdq: VPD Block Provisioning page (b2), flags byte[5]=68", "debug"));
  EXPECT_TRUE(logs.Has("Disk-sdq: VPD Block Provisioning page (b2), bits is LBPWS (WRITE SAME(16) with UNMAP flag) "
                       "LBPRZ (read zeros from unmaped blocks) ",
                       "debug"));
  std::vector<std::string> wipe = logs.Texts("wipe");
  ASSERT_EQ(wipe.size(), 2u);
  EXPECT_EQ(wipe[0], "Disk-sdq: Ultra Disk 9000, s/n: SN-0042-XYZ scsi device detected.");
  EXPECT_EQ(wipe[1], std::string("Disk-sdq: ") + CSizeStr(2000000ULL * 512, 'A').c_str() + ", " +
                         CSizeStr(2000000ULL * 512, 'B').c_str());

  // A refresh gives the same facts, not the standards twice.
  ASSERT_EQ(dev.Refresh(), 0);
  EXPECT_EQ(dev.type_name, "Disk/SPC-3/SBC-3");
  EXPECT_EQ(CommandNames(dev), (std::vector<std::string>{"Wipe", "Trim"}));
}

TEST_F(ScsiDeviceTest, SysfsTextsStayUnlessInquiryHasLongerOnes) {
  FakeScsiScope scope(disk);
  root.MakeImage("sdq", 4096, 0);
  disk.inquiry[0x00] = VpdPage(0x00, {0x00, 0x80});
  disk.inquiry[0x80] = VpdSerial("S1");
  CBlkDevData data = ScsiData("sdq", 1000);
  data.model = "Twelve Chars";
  data.vendor = "LONGVEND";
  data.serial = "SERIAL-FROM-ELSEWHERE";

  disk.inquiry[-1] = StandardInquiry("ZV", "Short", {});
  CBlkDevScsi shorter(data);
  ASSERT_EQ(shorter.Init(), 0);
  EXPECT_EQ(shorter.model, "Twelve Chars");
  EXPECT_EQ(shorter.vendor, "LONGVEND");
  EXPECT_EQ(shorter.serial, "SERIAL-FROM-ELSEWHERE");

  disk.inquiry[-1] = StandardInquiry("ZV", "Sixteen CharsXYZ", {});
  CBlkDevScsi longer(data);
  ASSERT_EQ(longer.Init(), 0);
  EXPECT_EQ(longer.model, "Sixteen CharsXYZ");
}

TEST_F(ScsiDeviceTest, WhatIsNotAnsweredLeavesTheDeviceAsItWas) {
  FakeScsiScope scope(disk);
  root.MakeImage("sdq", 4096, 0);
  disk.version_fails = true;
  // No VPD pages at all: INQUIRY only.
  disk.inquiry[-1] = StandardInquiry("ZVTEST", "Plain", {0x0000});
  CBlkDevData data = ScsiData("sdq", 1000);
  data.type_name = "";
  CBlkDevScsi dev(data);
  ASSERT_EQ(dev.Init(), 0);
  EXPECT_TRUE(logs.Has("Disk-sdq: Unable to get SCSI version", "debug"));
  EXPECT_TRUE(logs.Has("Disk-sdq: SCSI VPD page 00 is not supported", "debug"));
  EXPECT_TRUE(logs.Has("Disk-sdq: Plain, s/n: n/a scsi device detected.", "wipe"));
  EXPECT_EQ(dev.type_name, "");
  EXPECT_EQ(dev.max_write_same_blocks, 0u);
  EXPECT_EQ(CommandNames(dev), std::vector<std::string>{"Wipe"});
  EXPECT_EQ(disk.InquiriesSent().size(), 2u);

  // UNMAP only, or WRITE SAME(10) only: no "Trim". An empty Block Limits
  // page leaves the maximum at 0.
  disk.inquiry[0x00] = VpdPage(0x00, {0x00, 0xB0, 0xB2});
  disk.inquiry[0xB0] = VpdPage(0xB0, {});
  disk.inquiry[0xB2] = VpdProvisioning(0, 0x80);
  ASSERT_EQ(dev.Init(), 0);
  EXPECT_EQ(CommandNames(dev), std::vector<std::string>{"Wipe"});
  EXPECT_EQ(dev.max_write_same_blocks, 0u);
  EXPECT_FALSE(logs.Has("max_write_same"));
  disk.inquiry[0xB2] = VpdProvisioning(0, 0x20);
  ASSERT_EQ(dev.Init(), 0);
  EXPECT_EQ(CommandNames(dev), std::vector<std::string>{"Wipe"});
  // A mismatched page answer counts as no answer.
  disk.inquiry[0xB2] = VpdPage(0xB0, {0, 0x40, 0, 0});
  ASSERT_EQ(dev.Init(), 0);
  EXPECT_EQ(CommandNames(dev), std::vector<std::string>{"Wipe"});
  EXPECT_TRUE(logs.Has("SG_IO failed. Invalid VPD page b2 (number missmach)", "debug"));
}

TEST_F(ScsiDeviceTest, NoNameOrNoNodeFails) {
  FakeScsiScope scope(disk);
  CBlkDevScsi unnamed(ScsiData("", 1000));
  EXPECT_EQ(unnamed.Init(), -1);
  ASSERT_FALSE(major_is_registered(kUnusedMajor));
  CBlkDevScsi gone(ScsiData("sdgone", 1000));
  gone.commands.push_back(command_ptr(new CWipeCommand<CBlkDev>(&gone, BLKDEV_CMD_WIPE, false, "Wipe")));
  EXPECT_EQ(gone.Init(), -1);
  EXPECT_EQ(gone.commands.size(), 1u);  // untouched
  EXPECT_TRUE(logs.Has("Could not open device file '" + root.Path("/dev/sdgone") + "'", "debug"));
  EXPECT_TRUE(disk.sent.empty());
}

// ---- WRITE SAME(16) trim ----

class ScsiTrimTest : public ScsiDeviceTest {
 protected:
  void SetUp() override {
    root.MakeImage("sdt", 4096, 0);
    ASSERT_EQ(file.OpenFile(kUnusedMajor, 5, "sdt", 0), 0);
  }
  CDevFile file;
};

TEST_F(ScsiTrimTest, SendsWriteSame16WithUnmap) {
  FakeScsiScope scope(disk);
  CBlkDevScsi dev(ScsiData("sdt", 100000000));
  dev.max_write_same_blocks = 0x400000;
  ASSERT_EQ(dev.Trim_helper_trim_range(file, 0x0000A1B2C3D4ULL, 49152), 0);
  ASSERT_EQ(disk.sent.size(), 1u);
  const FakeScsiDevice::sent_t& s = disk.sent[0];
  EXPECT_EQ(s.cdb, (std::vector<unsigned char>{0x93, 0x08, 0, 0, 0x00, 0x00, 0xA1, 0xB2, 0xC3, 0xD4, 0x00, 0x00,
                                                0xC0, 0x00, 0, 0}));
  EXPECT_EQ(s.interface_id, 'S');
  EXPECT_EQ(s.dxfer_direction, SG_DXFER_TO_DEV);
  EXPECT_EQ(s.dxfer_len, 512u);
  EXPECT_EQ(s.mx_sb_len, 32u);
  EXPECT_EQ(s.timeout, 5000u);
  EXPECT_EQ(s.data_out, std::vector<unsigned char>(512, 0));
  EXPECT_TRUE(logs.Texts("lowlevel").empty());
}

TEST_F(ScsiTrimTest, RangesAreKeptToTheDevicesMaximum) {
  FakeScsiScope scope(disk);
  CBlkDevScsi dev(ScsiData("sdt", 100000000));
  dev.max_write_same_blocks = 65536;
  ASSERT_EQ(dev.Trim_helper_trim_range(file, 0, 100000), 0);
  EXPECT_TRUE(logs.Has("Disk-sdt Sectors range too large: 100000 but max is 65536", "lowlevel"));
  ASSERT_EQ(disk.sent.size(), 1u);
  EXPECT_EQ(std::vector<unsigned char>(disk.sent[0].cdb.begin() + 10, disk.sent[0].cdb.begin() + 14),
            (std::vector<unsigned char>{0x00, 0x01, 0x00, 0x00}));

  // No known maximum: the range itself is sent, never a count of 0.
  dev.max_write_same_blocks = 0;
  ASSERT_EQ(dev.Trim_helper_trim_range(file, 0, 100000), 0);
  EXPECT_EQ(std::vector<unsigned char>(disk.sent[1].cdb.begin() + 10, disk.sent[1].cdb.begin() + 14),
            (std::vector<unsigned char>{0x00, 0x01, 0x86, 0xA0}));
  // An empty range sends nothing at all.
  EXPECT_EQ(dev.Trim_helper_trim_range(file, 0, 0), 0);
  EXPECT_EQ(disk.sent.size(), 2u);
  // A range that does not fit in 48-bit addresses is refused.
  EXPECT_EQ(dev.Trim_helper_trim_range(file, SCSI_MAX_LBA48, 2), -1);
  EXPECT_EQ(disk.sent.size(), 2u);
  EXPECT_EQ(dev.Trim_helper_trim_range(file, SCSI_MAX_LBA48, 1), 0);
}

TEST_F(ScsiTrimTest, CheckConditionWithFixedSense) {
  FakeScsiScope scope(disk);
  CBlkDevScsi dev(ScsiData("sdt", 1000));
  disk.write_same_status = 2;
  disk.write_same_sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00, 0, 0, 0, 0};
  EXPECT_EQ(dev.Trim_helper_trim_range(file, 0, 100), -1);
  std::vector<std::string> ll = logs.Texts("lowlevel");
  std::vector<std::string> want = {
      "Unable to execute TRIM command on SCSI device: status code is 2h (CHECK CONDITION)",
      "sense data: RESPONSE CODE is 70h (current information, fixed sense data format)",
      "sense data: SENSE KEY is 5h (ILLEGAL REQUEST)",
      "sense data: ADDITIONAL SENSE CODE, QUALIFIER is 20h, 0h",
      "sense data: this means 'INVALID COMMAND OPERATION CODE'",
      "sense data: ADDITIONAL SENSE LEN is 10",
  };
  EXPECT_EQ(ll, want);
  // The additional bytes are dumped 8 to a line.
  EXPECT_TRUE(logs.Has("00 00 00 00 20 00 00 00 ", "debug"));
  EXPECT_TRUE(logs.Has("00 00 ", "debug"));
}

TEST_F(ScsiTrimTest, CheckConditionWithDescriptorSenseAndOtherStatuses) {
  FakeScsiScope scope(disk);
  CBlkDevScsi dev(ScsiData("sdt", 1000));
  disk.write_same_status = 2;
  disk.write_same_sense = {0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0};
  EXPECT_EQ(dev.Trim_helper_trim_range(file, 0, 100), -1);
  EXPECT_TRUE(logs.Has("sense data: RESPONSE CODE is 72h (current information, descriptor format sense data)"));
  EXPECT_TRUE(logs.Has("sense data: SENSE KEY is 5h (ILLEGAL REQUEST)"));
  EXPECT_TRUE(logs.Has("sense data: ADDITIONAL SENSE CODE, QUALIFIER is 24h, 0h"));
  EXPECT_TRUE(logs.Has("sense data: this means 'INVALID FIELD IN CDB'", "lowlevel"));
  EXPECT_FALSE(logs.Has("INVALID COMMAND OPERATION CODE"));
  EXPECT_TRUE(logs.Has("sense data: ADDITIONAL SENSE LEN is 0"));

  logs.Clear();
  disk.write_same_sense = {0x00, 0x05, 0x20, 0x00};
  EXPECT_EQ(dev.Trim_helper_trim_range(file, 0, 100), -1);
  EXPECT_TRUE(logs.Has("sense data: SENSE KEY is deadbeefh (Undefined)"));
  EXPECT_TRUE(logs.Has("sense data: ADDITIONAL SENSE CODE, QUALIFIER is deadbeefh, deadbeefh"));
  EXPECT_FALSE(logs.Has("this means"));

  // A length byte beyond the sense buffer dumps no more than the buffer.
  logs.Clear();
  disk.write_same_sense = {0x70, 0, 0x03, 0, 0, 0, 0, 0xFF};
  EXPECT_EQ(dev.Trim_helper_trim_range(file, 0, 100), -1);
  EXPECT_TRUE(logs.Has("sense data: ADDITIONAL SENSE LEN is 255"));

  // Other statuses: the status line only.
  logs.Clear();
  disk.write_same_status = 0x08;
  EXPECT_EQ(dev.Trim_helper_trim_range(file, 0, 100), -1);
  EXPECT_EQ(logs.Texts("lowlevel"),
            std::vector<std::string>{"Unable to execute TRIM command on SCSI device: status code is 8h (BUSY)"});

  // GOOD status but lost on the way to the device.
  logs.Clear();
  disk.write_same_status = 0;
  disk.write_same_host_status = 0x01;
  EXPECT_EQ(dev.Trim_helper_trim_range(file, 0, 100), -1);
  EXPECT_TRUE(logs.Has("Unable to execute TRIM command on SCSI device: host status is 1h", "lowlevel"));

  logs.Clear();
  disk.write_same_host_status = 0;
  disk.sg_io_fails = true;
  EXPECT_EQ(dev.Trim_helper_trim_range(file, 0, 100), -1);
  EXPECT_TRUE(logs.Has(std::string("Unable to execute TRIM command on SCSI device: ioctl failed: ") + strerror(EIO),
                       "lowlevel"));
}

// The whole TRIM pass over a SCSI disk: every chunk one WRITE SAME(16).
TEST_F(ScsiTrimTest, TrimPassOverTheDisk) {
  if (!root.DirectIoWorks()) GTEST_SKIP() << "no direct I/O on " << root.dir;
  FakeScsiScope scope(disk);
  CBlkDevScsi dev(ScsiData("sdt", 1000000));
  EXPECT_EQ(dev.Trim(), 0);
  ASSERT_EQ(disk.sent.size(), 21u);
  uint64_t lba = 0;
  for (size_t i = 0; i < disk.sent.size(); ++i) {
    const std::vector<unsigned char>& c = disk.sent[i].cdb;
    uint64_t got_lba = 0;
    for (int b = 4; b < 10; ++b) got_lba = got_lba << 8 | c[b];
    uint32_t got_n = (uint32_t)c[10] << 24 | (uint32_t)c[11] << 16 | (uint32_t)c[12] << 8 | c[13];
    EXPECT_EQ(c[0], 0x93);
    EXPECT_EQ(c[1], 0x08);
    EXPECT_EQ(got_lba, lba);
    EXPECT_EQ(got_n, i < 20 ? 49152u : 16960u);
    lba += got_n;
  }
  EXPECT_EQ(lba, 1000000u);
  EXPECT_EQ(dev.report->PassLog(), "pass 1: trim pass is success\r\n");

  // A disk that refuses the command fails the pass at its first chunk.
  disk.sent.clear();
  disk.write_same_status = 2;
  disk.write_same_sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00};
  CBlkDevScsi refusing(ScsiData("sdt", 1000000));
  EXPECT_EQ(refusing.Trim(), -1);
  EXPECT_EQ(disk.sent.size(), 1u);
  EXPECT_TRUE(logs.Has("Disk-sdt: trim pass failed", "wipe"));
  EXPECT_TRUE(logs.Has("sense data: this means 'INVALID COMMAND OPERATION CODE'", "lowlevel"));
  EXPECT_EQ(refusing.report->PassLog(), "pass 1: trim pass is completed-with-warnings\r\n");
}
