// The partition scan: CBlkDev::ScanPartitions on a fake /sys/block/<name>
// whose entries (partitions and other attributes) and their size and dev
// files come from the input. Partition nodes in the fake /dev are regular
// files; a missing one is made as a regular file by the fuzz mknod.
#include <dirent.h>
#include <stdlib.h>
#include <string.h>

#include <set>
#include <string>

#include "device/blkdev.h"
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
  static const char* const names[] = {"sdz", "sda", "mmcblk0", "nvme0n1", "hdb", "x"};
  const std::string name = names[in.ConsumeIntegralInRange<int>(0, 5)];
  const std::string block = "/sys/block/" + name;
  root.MakeDirs(block);

  int entries = in.ConsumeIntegralInRange<int>(0, 12);
  for (int i = 0; i < entries && in.remaining_bytes(); ++i) {
    uint8_t kind = in.ConsumeIntegral<uint8_t>();
    std::string entry;
    if (kind & 0x01)
      entry = name + ((kind & 0x02) ? fuzz_name(in, 12) : std::string());
    else
      entry = fuzz_name(in, 12);
    const std::string dir = block + "/" + entry;
    if (kind & 0x04) {  // a plain attribute file, not a directory
      root.WriteFile(dir, in.ConsumeRandomLengthString(24));
      continue;
    }
    root.MakeDirs(dir);
    if (kind & 0x08) root.WriteFile(dir + "/size", in.ConsumeRandomLengthString(32));
    if (kind & 0x10) root.MakeDirs(dir + "/size");  // opens, but reads fail
    if (kind & 0x20) root.WriteFile(dir + "/dev", in.ConsumeRandomLengthString(32));
    if (kind & 0x40) root.WriteFile("/dev/" + entry, "");
  }

  CBlkDev dev;
  dev.name = name;
  dev.major = in.ConsumeBool() ? 0 : 241;
  dev.minor = 1;
  dev.ScanPartitions();

  // One partition for every entry that begins with the device's name.
  size_t expected = 0;
  if (dev.major != 0 && name.size() >= 2) {
    if (DIR* d = opendir(root.Path(block).c_str())) {
      while (struct dirent* e = readdir(d))
        if (strncmp(e->d_name, name.c_str(), name.size()) == 0) ++expected;
      closedir(d);
    }
  }
  if (dev.partitions.size() != expected) abort();
  return 0;
}
