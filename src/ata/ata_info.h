// The IDENTIFY DEVICE data of one ATA drive and the questions asked of it.
#pragma once
#include <stdint.h>

#include <string>

// Swaps the bytes of the serial, firmware and model words so the characters
// read in order; -1 for a null buffer, else 0.
int FixIdentityStrings(unsigned char* buf);

// Text of IDENTIFY word 81 (minor version), or null when it has none.
const char* ata_minor_version_text(unsigned word81);

class CAtaInfo {
 public:
  // Feature levels: absent, supported and enabled, present but locked/frozen.
  enum { LEVEL_NONE = 0, LEVEL_OK = 2, LEVEL_BLOCKED = -2 };

  CAtaInfo();

  // 0 on success, -1 for a null buffer or a failed checksum, -2 when short.
  int init(const unsigned char* buf, int len);

  int get_smart_level() const;
  int get_security_level() const;
  // -1 without security; else bit 1 frozen, bit 0 locked.
  int get_security_lock() const;
  int get_hpa_level() const;
  int get_dco_level() const;
  int get_lba_level() const;
  int get_trim_level() const;
  int get_sanitize_level() const;
  int get_rotation_rate() const;
  // Minutes (IDENTIFY words 89/90, short or extended format).
  int get_secure_erase_time(bool enhanced) const;
  // Sectors.
  uint64_t get_size() const;

  int get_model(std::string& s) const;
  int get_serial(std::string& s) const;
  int get_firmware(std::string& s) const;
  int get_version_string(std::string& s) const;

  int get_major_version() const { return major_version; }
  uint16_t word(int n) const { return words[n]; }

 private:
  bool bit(int w, int b) const { return (words[w] >> b) & 1; }
  int get_text(int first_word, int chars, std::string& s) const;

  int32_t major_version;
  uint16_t words[256];
};
