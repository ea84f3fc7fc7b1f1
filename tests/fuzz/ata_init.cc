// The whole ATA probe, Init, PreWipe and Refresh, over SAT or the IDE taskfile.
#include "app/globals.h"
#include "ata/blkdev_ata.h"
#include "fuzz_support.h"

void fuzz_one(FuzzedDataProvider& in) {
  uint8_t flags = in.ConsumeIntegral<uint8_t>();
  fuzz_file("/dev/sdz", "");
  fuzz_well_formed = flags & 0x01;
  g_debuglevel = (flags & 0x04) ? 1 : 0;
  CBlkDevAta dev((flags & 0x02) ? CBlkDevAta::TRANSPORT_IDE : CBlkDevAta::TRANSPORT_SAT);
  dev.name = "sdz";
  if (dev.Init() == 0) dev.PreWipe(), dev.SupportsHardwareWipe();
  if (flags & 0x08) dev.Refresh();
  g_debuglevel = 0;
}
