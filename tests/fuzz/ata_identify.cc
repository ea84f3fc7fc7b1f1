// IDENTIFY DEVICE data: FixIdentityStrings and every question CAtaInfo
// answers. The first input byte chooses whether the checksum byte is made
// valid (so that ATA-6 and later data gets past the check) and how long the
// buffer handed to init() is.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "ata/ata_blocks.h"
#include "ata/ata_info.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_init_logging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  uint8_t flags = in.ConsumeIntegral<uint8_t>();
  std::vector<unsigned char> block = in.ConsumeBytes<unsigned char>(512);
  // Data as the drive sends it; the text fields are swapped into reading
  // order as the transports do.
  bool short_buffer = (flags & 0x02) && block.size() < 512;
  block.resize(short_buffer ? block.size() : 512, 0);
  if (!short_buffer) {
    if (FixIdentityStrings(block.data()) != 0) abort();
    if (flags & 0x01) ata_fix_checksum(block.data());
  }
  // Heap copy of exactly the length given, so that a read past it is caught.
  std::vector<unsigned char> exact(block);
  CAtaInfo info;
  int rc = info.init(exact.empty() ? nullptr : exact.data(), (int)exact.size());
  if (short_buffer && !exact.empty() && rc != -2) abort();

  std::string s;
  info.get_model(s);
  info.get_serial(s);
  info.get_firmware(s);
  info.get_version_string(s);
  if (s.empty()) abort();
  int levels = info.get_smart_level() + info.get_security_level() + info.get_hpa_level() + info.get_dco_level() +
               info.get_lba_level() + info.get_trim_level() + info.get_sanitize_level();
  int lock = info.get_security_lock();
  if (lock < -1 || lock > 3) abort();
  volatile uint64_t sink = info.get_size() + (uint64_t)info.get_rotation_rate() +
                           (uint64_t)info.get_secure_erase_time(true) + (uint64_t)info.get_secure_erase_time(false) +
                           (uint64_t)levels + (uint64_t)info.get_major_version();
  (void)sink;
  for (int w = 0; w < 256; ++w) sink = info.word(w);
  if (const char* t = ata_minor_version_text(info.word(81))) sink = strlen(t);
  return 0;
}
