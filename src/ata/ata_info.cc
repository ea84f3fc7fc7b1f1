#include "ata/ata_info.h"

#include <string.h>

#include "app/log.h"
#include "app/util.h"

int FixIdentityStrings(unsigned char* buf) {
  if (!buf) return -1;
  static const int ranges[3][2] = {{10, 19}, {23, 26}, {27, 46}};
  for (auto& r : ranges)
    for (int w = r[0]; w <= r[1]; ++w) {
      unsigned char t = buf[2 * w];
      buf[2 * w] = buf[2 * w + 1];
      buf[2 * w + 1] = t;
    }
  return 0;
}

struct minor_version_t {
  unsigned value;
  const char* text;
};

static const minor_version_t minor_versions[] = {
    {0x0001, "ATA (ATA-1) X3T9.2 781D prior to rev. 4"},
    {0x0002, "ATA-1, ANSI X3.221-1994"},
    {0x0003, "ATA (ATA-1) X3T10 781D rev. 4"},
    {0x0004, "ATA-2, ANSI X3.279-1996"},
    {0x0005, "ATA-2 X3T10 948D prior to rev. 2k"},
    {0x0006, "ATA-3 X3T10 2008D rev. 1"},
    {0x0007, "ATA-2 X3T10 948D rev. 2k"},
    {0x0008, "ATA-3 X3T10 2008D rev. 0"},
    {0x0009, "ATA-2 X3T10 948D rev. 3"},
    {0x000A, "ATA-3, ANSI X3.298-199x"},
    {0x000B, "ATA-3 X3T10 2008D rev. 6"},
    {0x000C, "ATA-3 X3T13 2008D rev. 7 and 7a"},
    {0x000D, "ATA/ATAPI-4 X3T13 1153D rev. 6"},
    {0x000E, "ATA/ATAPI-4 T13 1153D rev. 13"},
    {0x000F, "ATA/ATAPI-4 X3T13 1153D rev. 7"},
    {0x0010, "ATA/ATAPI-4 T13 1153D rev. 18"},
    {0x0011, "ATA/ATAPI-4 T13 1153D rev. 15"},
    {0x0012, "ATA/ATAPI-4, ANSI INCITS 317-1998"},
    {0x0013, "ATA/ATAPI-5 T13 1321D rev. 3"},
    {0x0014, "ATA/ATAPI-4 T13 1153D rev. 14"},
    {0x0015, "ATA/ATAPI-5 T13 1321D rev. 1"},
    {0x0016, "ATA/ATAPI-5, ANSI INCITS 340-2000"},
    {0x0017, "ATA/ATAPI-4 T13 1153D rev. 17"},
    {0x0018, "ATA/ATAPI-6 T13 1410D rev. 0"},
    {0x0019, "ATA/ATAPI-6 T13 1410D rev. 3a"},
    {0x001A, "ATA/ATAPI-7 T13 1532D rev. 1"},
    {0x001B, "ATA/ATAPI-6 T13 1410D rev. 2"},
    {0x001C, "ATA/ATAPI-6 T13 1410D rev. 1"},
    {0x001D, "ATA/ATAPI-7, ANSI INCITS 397-2005"},
    {0x001E, "ATA/ATAPI-7 T13 1532D rev. 0"},
    {0x0021, "ATA/ATAPI-7 T13 1532D rev. 4a"},
    {0x0022, "ATA/ATAPI-6, ANSI INCITS 361-2002"},
    {0x0027, "ATA8-ACS rev. 3c"},
    {0x0028, "ATA8-ACS rev. 6"},
    {0x0029, "ATA8-ACS rev. 4"},
    {0x0031, "ACS-2 rev. 2"},
    {0x0033, "ATA8-ACS rev. 3e"},
    {0x0039, "ATA8-ACS rev. 4c"},
    {0x0042, "ATA8-ACS rev. 3f"},
    {0x0052, "ATA8-ACS rev. 3b"},
    {0x0107, "ATA8-ACS rev. 2d"},
    {0x0110, "ACS-2 rev. 3"},
};

const char* ata_minor_version_text(unsigned word81) {
  if (word81 < 0x0001 || word81 > 0x0110) return nullptr;
  for (auto& m : minor_versions)
    if (m.value == word81) return m.text;
  return nullptr;
}

CAtaInfo::CAtaInfo() : major_version(0) { memset(words, 0, sizeof words); }

int CAtaInfo::init(const unsigned char* buf, int len) {
  if (!buf) return -1;
  if (len < 512) return -2;
  uint32_t sum = 0;
  for (int i = 0; i < 512; ++i) sum += buf[i];
  for (int i = 0; i < 256; ++i) words[i] = (uint16_t)(buf[2 * i] | (buf[2 * i + 1] << 8));
  unsigned w80 = words[80];
  major_version = 0;
  if (w80 != 0 && w80 != 1)
    for (int b = 1; b < 16; ++b)
      if (w80 & (1u << b)) major_version = b;
  if (major_version >= 6 && (sum & 0xFF) != 0) {
    LOG_ERROR(g_dbg_log, "ATA IDENTITY checksum failed.");
    return -1;
  }
  return 0;
}

int CAtaInfo::get_smart_level() const {
  return (major_version > 3 && bit(82, 0) && bit(85, 0)) ? LEVEL_OK : LEVEL_NONE;
}

int CAtaInfo::get_security_level() const {
  // Enabled is read from word 85 bit 0, the same bit as for SMART.
  if (major_version > 3 && bit(82, 1) && bit(85, 0)) return (bit(128, 2) || bit(128, 3)) ? LEVEL_BLOCKED : LEVEL_OK;
  return LEVEL_NONE;
}

int CAtaInfo::get_security_lock() const {
  int level = get_security_level();
  if (level == LEVEL_NONE) return -1;
  if (level == LEVEL_OK) return 0;
  return (bit(128, 3) ? 2 : 0) | (bit(128, 2) ? 1 : 0);
}

int CAtaInfo::get_hpa_level() const {
  return (major_version > 3 && bit(82, 10) && bit(85, 10)) ? LEVEL_OK : LEVEL_NONE;
}

int CAtaInfo::get_dco_level() const {
  return (major_version > 4 && bit(83, 11) && bit(86, 11)) ? LEVEL_OK : LEVEL_NONE;
}

int CAtaInfo::get_lba_level() const {
  return (major_version > 4 && bit(83, 10) && bit(86, 10)) ? LEVEL_OK : LEVEL_NONE;
}

int CAtaInfo::get_trim_level() const { return bit(169, 0) ? LEVEL_OK : LEVEL_NONE; }

int CAtaInfo::get_sanitize_level() const {
  return (major_version > 4 && (words[59] & 0xF000) != 0) ? LEVEL_OK : LEVEL_NONE;
}

int CAtaInfo::get_rotation_rate() const { return words[217]; }

int CAtaInfo::get_secure_erase_time(bool enhanced) const {
  if (get_security_level() == LEVEL_NONE) return 0;
  // Bit 15 marks the extended format, whose time is bits 14:0; the short
  // format leaves bits 14:8 zero. Both count in units of 2 minutes.
  return 2 * (int)(words[enhanced ? 90 : 89] & 0x7FFF);
}

uint64_t CAtaInfo::get_size() const {
  if (major_version > 4 && bit(83, 10) && bit(86, 10)) {
    uint64_t v = 0;
    for (int w = 103; w >= 100; --w) v = (v << 16) | words[w];
    return v;
  }
  uint32_t lba28 = (uint32_t)words[60] | ((uint32_t)words[61] << 16);
  if (lba28) return lba28;
  return (uint64_t)words[1] * words[3] * words[6];
}

int CAtaInfo::get_text(int first_word, int chars, std::string& s) const {
  char text[64];
  for (int i = 0; i < chars; ++i) {
    uint16_t w = words[first_word + i / 2];
    text[i] = (char)((i & 1) ? (w >> 8) : (w & 0xFF));
  }
  if (text[0] == 0) return 0;
  text[chars] = 0;
  std::string t(text, strnlen(text, (size_t)chars));
  s = trim(t);
  return 1;
}

int CAtaInfo::get_model(std::string& s) const { return get_text(27, 40, s); }
int CAtaInfo::get_serial(std::string& s) const { return get_text(10, 20, s); }
int CAtaInfo::get_firmware(std::string& s) const { return get_text(23, 8, s); }

int CAtaInfo::get_version_string(std::string& s) const {
  const char* minor = ata_minor_version_text(words[81]);
  if (major_version > 6 && (words[76] & 0x0003) != 0) {
    s = "SATA-";
    s += bit(76, 1) ? "2" : "1";
    if (minor) {
      s += " ";
      s += minor;
    }
  } else if (minor) {
    s = minor;
  } else if (major_version > 3) {
    s = "ATA/ATAPI-" + std::to_string(major_version);
  } else {
    s = "ATA-" + std::to_string(major_version);
  }
  return 1;
}
