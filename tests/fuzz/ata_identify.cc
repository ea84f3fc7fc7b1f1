// The ATA data blocks the drive sends: IDENTIFY (whole or short) as CAtaInfo
// reads it, the SMART attribute search and parser, and DCO maximum addresses
// written and read back.
#include "app/globals.h"
#include "ata/ata_blocks.h"
#include "ata/ata_info.h"
#include "ata/blkdev_ata.h"
#include "fuzz_support.h"

void fuzz_one(FuzzedDataProvider& in) {
  uint8_t flags = in.ConsumeIntegral<uint8_t>();
  int id = in.ConsumeIntegral<uint8_t>(), from = in.ConsumeIntegralInRange<int>(-2, 40);
  uint64_t new_max = in.ConsumeIntegral<uint64_t>(), raw = 0;
  std::vector<unsigned char> b = in.ConsumeBytes<unsigned char>(512);
  bool whole = !(flags & 0x02) || b.size() == 512;
  if (whole) b.resize(512, 0), FixIdentityStrings(b.data());
  if (whole && (flags & 0x01)) ata_fix_checksum(b.data());
  CAtaInfo info;
  int rc = info.init(b.empty() ? nullptr : b.data(), (int)b.size());  // exactly the bytes given
  if ((!whole && !b.empty() && rc != -2) || info.get_security_lock() < -1 || info.get_security_lock() > 3) abort();
  std::string s;
  info.get_model(s), info.get_serial(s), info.get_firmware(s), info.get_version_string(s);
  volatile uint64_t sink = info.get_size() + info.get_rotation_rate() + info.get_secure_erase_time(true) +
                           info.get_smart_level() + info.get_hpa_level() + info.get_dco_level() + info.get_trim_level();
  (void)sink;
  if (!whole) return;
  int found = smart_find_attribute(b.data(), id, from, &raw);
  if (found >= 30 || found < -1 || (found >= 0 && (found < from || b[2 + 12 * found] != id || raw >> 48))) abort();
  g_debuglevel = flags & 0x04 ? 1 : 0;
  CBlkDevAta dev(CBlkDevAta::TRANSPORT_SAT);
  blkdev_info_t into;
  if (dev.ParseSmartData(b.data(), into) == 0 && ata_sector_sum(b.data()) != 0) abort();
  g_debuglevel = 0;
  std::vector<unsigned char> set(b);
  dco_set_max_lba(set.data(), new_max);
  if (dco_get_max_lba(set.data()) != new_max || ata_sector_sum(set.data()) != 0) abort();
  if (memcmp(set.data(), b.data(), 6) != 0 || memcmp(set.data() + 14, b.data() + 14, ATA_SECTOR - 15) != 0) abort();
}
