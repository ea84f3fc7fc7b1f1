// IDENTIFY data: checksum, version, feature levels, sizes and text fields.
#include <gtest/gtest.h>
#include <string.h>

#include "ata/ata_blocks.h"
#include "ata/ata_info.h"
#include "ata_drive_model.h"
#include "support/log_capture.h"

// The block as a transport hands it over: text fields in reading order.
static std::vector<unsigned char> identify(const AtaDriveModel& d) {
  std::vector<unsigned char> b = d.IdentifyBlock(false);
  FixIdentityStrings(b.data());
  return b;
}

static void set_word(std::vector<unsigned char>& b, int w, uint16_t v, bool fix = true) {
  b[(size_t)(2 * w)] = (unsigned char)v;
  b[(size_t)(2 * w + 1)] = (unsigned char)(v >> 8);
  if (fix) ata_fix_checksum(b.data());
}

TEST(AtaInfo, InitArgumentsAndMajorVersion) {
  CAtaInfo info;
  EXPECT_EQ(0, info.get_major_version());
  EXPECT_EQ(-1, info.init(nullptr, 512));
  unsigned char small[512] = {0};
  EXPECT_EQ(-2, info.init(small, 511));
  AtaDriveModel d;
  auto b = identify(d);
  EXPECT_EQ(0, info.init(b.data(), 512));
  EXPECT_EQ(8, info.get_major_version());
  set_word(b, 80, 0x007E);
  info.init(b.data(), 512);
  EXPECT_EQ(6, info.get_major_version());
  set_word(b, 80, 0xFFFF);
  info.init(b.data(), 512);
  EXPECT_EQ(15, info.get_major_version());
  set_word(b, 80, 0x0001);
  info.init(b.data(), 512);
  EXPECT_EQ(0, info.get_major_version());
}

TEST(AtaInfo, ChecksumOnlyFromMajorSix) {
  LogCapture cap;
  AtaDriveModel d;
  d.bad_checksum = true;
  CAtaInfo info;
  auto b = identify(d);
  EXPECT_EQ(-1, info.init(b.data(), 512));
  EXPECT_TRUE(cap.Has("ATA IDENTITY checksum failed.", "debug"));
  EXPECT_EQ(8, info.get_major_version());
  EXPECT_EQ(0x01F0, info.word(80));  // the copy stays
  d.major_bits = 0x0030;  // major 5
  b = identify(d);
  cap.Clear();
  EXPECT_EQ(0, info.init(b.data(), 512));
  EXPECT_FALSE(cap.Has("checksum"));
  d.major_bits = 0x0070;  // major 6
  b = identify(d);
  EXPECT_EQ(-1, info.init(b.data(), 512));
}

TEST(AtaInfo, FeatureLevels) {
  AtaDriveModel d;
  d.trim = true;
  d.sanitize = true;
  CAtaInfo info;
  auto b = identify(d);
  ASSERT_EQ(0, info.init(b.data(), 512));
  EXPECT_EQ(2, info.get_smart_level());
  EXPECT_EQ(2, info.get_security_level());
  EXPECT_EQ(0, info.get_security_lock());
  EXPECT_EQ(2, info.get_hpa_level());
  EXPECT_EQ(2, info.get_dco_level());
  EXPECT_EQ(2, info.get_lba_level());
  EXPECT_EQ(2, info.get_trim_level());
  EXPECT_EQ(2, info.get_sanitize_level());
  EXPECT_EQ(7200, info.get_rotation_rate());
  EXPECT_EQ(60, info.get_secure_erase_time(false));
  EXPECT_EQ(120, info.get_secure_erase_time(true));

  // Major 4: DCO, LBA48 and SANITIZE need more than 4; TRIM has no version test.
  d.major_bits = 0x0010;
  b = identify(d);
  ASSERT_EQ(0, info.init(b.data(), 512));
  EXPECT_EQ(2, info.get_smart_level());
  EXPECT_EQ(2, info.get_hpa_level());
  EXPECT_EQ(0, info.get_dco_level());
  EXPECT_EQ(0, info.get_lba_level());
  EXPECT_EQ(0, info.get_sanitize_level());
  EXPECT_EQ(2, info.get_trim_level());

  // Unknown version: every gated level is 0.
  d.major_bits = 0;
  b = identify(d);
  ASSERT_EQ(0, info.init(b.data(), 512));
  EXPECT_EQ(0, info.get_smart_level());
  EXPECT_EQ(0, info.get_security_level());
  EXPECT_EQ(-1, info.get_security_lock());
  EXPECT_EQ(0, info.get_hpa_level());
  EXPECT_EQ(0, info.get_secure_erase_time(false));
}

TEST(AtaInfo, SecurityFrozenLockedAndSmartBit) {
  AtaDriveModel d;
  d.sec_frozen = true;
  CAtaInfo info;
  auto b = identify(d);
  ASSERT_EQ(0, info.init(b.data(), 512));
  EXPECT_EQ(-2, info.get_security_level());
  EXPECT_EQ(2, info.get_security_lock());
  d.sec_locked = true;
  b = identify(d);
  info.init(b.data(), 512);
  EXPECT_EQ(3, info.get_security_lock());
  d.sec_frozen = false;
  b = identify(d);
  info.init(b.data(), 512);
  EXPECT_EQ(1, info.get_security_lock());
  // Enabled is read from word 85 bit 0: SMART disabled hides security.
  d.smart_enabled = false;
  b = identify(d);
  info.init(b.data(), 512);
  EXPECT_EQ(0, info.get_security_level());
  EXPECT_EQ(0, info.get_secure_erase_time(true));
  EXPECT_EQ(0, info.get_smart_level());
}

TEST(AtaInfo, EraseTimeRawWord) {
  AtaDriveModel d;
  d.erase_normal = 0x00FF;
  d.erase_enhanced = 0;
  CAtaInfo info;
  auto b = identify(d);
  info.init(b.data(), 512);
  EXPECT_EQ(510, info.get_secure_erase_time(false));
  EXPECT_EQ(0, info.get_secure_erase_time(true));
}

TEST(AtaInfo, Sizes) {
  AtaDriveModel d;
  d.current_max = 0x123456789ULL;
  CAtaInfo info;
  auto b = identify(d);
  info.init(b.data(), 512);
  EXPECT_EQ(0x12345678AULL, info.get_size());
  d.lba48 = false;
  d.current_max = 999999;
  b = identify(d);
  info.init(b.data(), 512);
  EXPECT_EQ(1000000u, info.get_size());
  set_word(b, 60, 0);
  set_word(b, 61, 0);
  info.init(b.data(), 512);
  EXPECT_EQ(16383u * 16u * 63u, info.get_size());
}

TEST(AtaInfo, TextFields) {
  AtaDriveModel d;
  d.model = "  Model X  ";
  CAtaInfo info;
  auto b = identify(d);
  info.init(b.data(), 512);
  std::string s = "old";
  EXPECT_EQ(1, info.get_model(s));
  EXPECT_EQ("Model X", s);
  EXPECT_EQ(1, info.get_serial(s));
  EXPECT_EQ("ZV0001", s);
  EXPECT_EQ(1, info.get_firmware(s));
  EXPECT_EQ("1.02", s);

  d.model = "";
  b = identify(d);
  info.init(b.data(), 512);
  EXPECT_EQ(1, info.get_model(s));
  EXPECT_EQ("", s);
  // A field that starts with NUL is absent.
  b[54] = 0;
  ata_fix_checksum(b.data());
  info.init(b.data(), 512);
  s = "kept";
  EXPECT_EQ(0, info.get_model(s));
  EXPECT_EQ("kept", s);
}

TEST(AtaInfo, VersionStrings) {
  AtaDriveModel d;
  CAtaInfo info;
  std::string s;
  auto b = identify(d);
  info.init(b.data(), 512);
  EXPECT_EQ(1, info.get_version_string(s));
  EXPECT_EQ("SATA-2 ATA8-ACS rev. 4", s);

  set_word(b, 76, 0x0001);
  info.init(b.data(), 512);
  info.get_version_string(s);
  EXPECT_EQ("SATA-1 ATA8-ACS rev. 4", s);

  set_word(b, 81, 0x0000);
  info.init(b.data(), 512);
  info.get_version_string(s);
  EXPECT_EQ("SATA-1", s);

  set_word(b, 76, 0);
  set_word(b, 81, 0x0111);
  info.init(b.data(), 512);
  info.get_version_string(s);
  EXPECT_EQ("ATA/ATAPI-8", s);

  set_word(b, 81, 0x0110);
  info.init(b.data(), 512);
  info.get_version_string(s);
  EXPECT_EQ("ACS-2 rev. 3", s);

  // Major 6 with SATA capabilities: not above 6, so the minor text alone.
  set_word(b, 80, 0x0070);
  set_word(b, 76, 0x0006);
  set_word(b, 81, 0x0022);
  info.init(b.data(), 512);
  info.get_version_string(s);
  EXPECT_EQ("ATA/ATAPI-6, ANSI INCITS 361-2002", s);

  set_word(b, 80, 0x0000);
  set_word(b, 81, 0x0020);  // a value without text
  info.init(b.data(), 512);
  info.get_version_string(s);
  EXPECT_EQ("ATA-0", s);
  set_word(b, 80, 0x0008);
  info.init(b.data(), 512);
  info.get_version_string(s);
  EXPECT_EQ("ATA-3", s);
}

TEST(AtaInfo, MinorVersionTable) {
  EXPECT_STREQ("ATA (ATA-1) X3T9.2 781D prior to rev. 4", ata_minor_version_text(0x0001));
  EXPECT_STREQ("ATA-3 X3T13 2008D rev. 7 and 7a", ata_minor_version_text(0x000C));
  EXPECT_STREQ("ATA/ATAPI-7 T13 1532D rev. 4a", ata_minor_version_text(0x0021));
  EXPECT_STREQ("ATA8-ACS rev. 3b", ata_minor_version_text(0x0052));
  EXPECT_STREQ("ATA8-ACS rev. 2d", ata_minor_version_text(0x0107));
  EXPECT_EQ(nullptr, ata_minor_version_text(0x001F));
  EXPECT_EQ(nullptr, ata_minor_version_text(0));
  EXPECT_EQ(nullptr, ata_minor_version_text(0x0111));
  int n = 0;
  for (unsigned v = 1; v <= 0x110; ++v)
    if (ata_minor_version_text(v)) ++n;
  EXPECT_EQ(42, n);
}
