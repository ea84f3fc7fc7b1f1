// The USB probe: CBlkDevUsb::Init on a fake sysfs tree. /sys/block/sdz/device
// links (relative, as the kernel makes it) to a chain of directories under
// /sys/devices whose product, manufacturer and serial attributes come from
// the input; the node /dev/sdz is a regular file (or a directory, or missing
// and then made as a regular file by the fuzz mknod) for the write test.
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

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
  CBlkDevData d;
  d.name = "sdz";
  d.major = 241;
  d.minor = 9;
  d.model = in.ConsumeRandomLengthString(20);
  d.vendor = in.ConsumeRandomLengthString(12);
  d.size_bytes = in.ConsumeIntegral<uint64_t>();

  int depth = in.ConsumeIntegralInRange<int>(1, 8);
  std::string rel = "/sys/devices";
  std::vector<std::string> dirs = {"/sys", rel};
  for (int i = 0; i < depth; ++i) {
    rel += "/" + fuzz_name(in, 10);
    dirs.push_back(rel);
  }
  root.MakeDirs(rel);
  root.MakeDirs("/sys/block/sdz");
  uint8_t link = in.ConsumeIntegral<uint8_t>();
  if ((link & 0x03) == 0x01)
    (void)!symlink(root.Path(rel).c_str(), root.Path("/sys/block/sdz/device").c_str());
  else if ((link & 0x03) == 0x02)
    (void)!symlink("../../devices/nowhere", root.Path("/sys/block/sdz/device").c_str());
  else if ((link & 0x03) == 0x03)
    (void)!symlink(("../.." + rel.substr(4)).c_str(), root.Path("/sys/block/sdz/device").c_str());
  // (link & 3) == 0: no link at all

  for (const std::string& dir : dirs) {
    if (!in.remaining_bytes()) break;
    uint8_t attrs = in.ConsumeIntegral<uint8_t>();
    // An attribute is the probed text with a newline, or bytes of the input.
    auto value = [&](int bit, const std::string& probed) {
      return (attrs & (0x10 << bit)) ? probed + "\n" : in.ConsumeRandomLengthString(40);
    };
    if (attrs & 0x01) root.WriteFile(dir + "/product", value(0, d.model));
    if (attrs & 0x02) root.WriteFile(dir + "/manufacturer", value(1, d.vendor));
    if (attrs & 0x04) root.WriteFile(dir + "/serial", value(2, ""));
  }

  uint8_t node = in.ConsumeIntegral<uint8_t>();
  if ((node & 0x03) == 0)
    root.WriteFile("/dev/sdz", in.ConsumeRandomLengthString(4));
  else if ((node & 0x03) == 1)
    root.MakeDirs("/dev/sdz");
  // else missing: the program makes it

  CBlkDevUsb dev(d);
  if (dev.Init() != 0) abort();
  if ((link & 0x03) == 0x01 || (link & 0x03) == 0x03) {
    if (dev.serial.empty()) abort();
    if (dev.commands.size() != (dev.not_writable ? 0u : 1u)) abort();
  }
  if (in.ConsumeBool() && dev.Refresh() != 0) abort();
  return 0;
}
