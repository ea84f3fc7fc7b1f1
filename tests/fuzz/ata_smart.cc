// SMART data: the checksum, the attribute search and CBlkDevAta's parser of
// the SMART READ DATA sector (bad-sector count, self-test commands in debug
// mode). The first input byte chooses whether the checksum byte is made valid
// and the debug level; the next ones the attribute and entry searched.
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "app/globals.h"
#include "ata/ata_blocks.h"
#include "ata/blkdev_ata.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_init_logging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  uint8_t flags = in.ConsumeIntegral<uint8_t>();
  int id = in.ConsumeIntegral<uint8_t>();
  int from = in.ConsumeIntegralInRange<int>(-2, 40);
  std::vector<unsigned char> smart = in.ConsumeBytes<unsigned char>(ATA_SECTOR);
  smart.resize(ATA_SECTOR, 0);
  if (flags & 0x01) ata_fix_checksum(smart.data());
  if ((flags & 0x01) && ata_sector_sum(smart.data()) != 0) abort();

  uint64_t raw = 0;
  int found = smart_find_attribute(smart.data(), id, from, &raw);
  if (found >= 30 || found < -1 || (found >= 0 && found < from)) abort();
  if (found >= 0 && (smart[2 + 12 * found] != id || raw >> 48)) abort();
  smart_find_attribute(smart.data(), id, from, nullptr);

  g_debuglevel = (flags & 0x02) ? 1 : 0;
  CBlkDevAta dev(CBlkDevAta::TRANSPORT_SAT);
  dev.name = "sdz";
  blkdev_info_t got;
  int rc = dev.ParseSmartData(smart.data(), got);
  if (rc == 0 && ata_sector_sum(smart.data()) != 0) abort();
  g_debuglevel = 0;
  return 0;
}
