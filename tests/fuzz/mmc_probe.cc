// The SD/MMC probe: CBlkDevMmc::Init on a fake /sys/block/<name>/device whose
// name, serial, type and date attributes come from the input (each may be
// missing, empty, binary or a directory).
#include <stdlib.h>

#include <string>

#include "device/blkdev_removable.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_init_logging();
  FuzzRoot::Get();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  FuzzRoot& root = FuzzRoot::Get();
  root.Reset();
  const std::string dir = "/sys/block/mmcblk0/device/";
  root.MakeDirs(dir);
  uint8_t present = in.ConsumeIntegral<uint8_t>();
  static const char* const attrs[] = {"name", "serial", "type", "date"};
  for (int i = 0; i < 4; ++i) {
    if (present & (1 << i)) root.WriteFile(dir + attrs[i], in.ConsumeRandomLengthString(64));
    else if (present & (0x10 << i)) root.MakeDirs(dir + attrs[i]);
  }
  CBlkDevData d;
  d.name = "mmcblk0";
  d.major = 241;
  d.minor = 5;
  d.serial = in.ConsumeRandomLengthString(12);
  d.size_bytes = in.ConsumeIntegral<uint64_t>();
  CBlkDevMmc dev(d);
  if (dev.Init() != 0) abort();
  if (dev.commands.size() != 1 || dev.details.size() != 1) abort();
  if (in.ConsumeBool() && (dev.Refresh() != 0 || dev.details.size() != 2)) abort();
  return 0;
}
