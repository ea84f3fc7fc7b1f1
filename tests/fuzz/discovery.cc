// Discovery of one /sys/block entry as the device manager does it: the class
// picked from sysfs attributes and the drive's answers, then Init (ATA over
// SAT or the IDE taskfile, SCSI, USB, SD/MMC, floppy), the partition scan,
// PreWipe and Refresh, at either debug level.
#include <unistd.h>

#include <memory>

#include "app/globals.h"
#include "devmgr/blkdev_probe.h"
#include "fuzz_support.h"

void fuzz_one(FuzzedDataProvider& in) {
  const char* const names[] = {"sda", "hda", "sr0", "fd0", "mmcblk0"};
  const std::string name = names[in.ConsumeIntegralInRange<int>(0, 4)], block = "/sys/block/" + name;
  uint8_t layout = in.ConsumeIntegral<uint8_t>();
  fuzz_well_formed = layout & 0x80;
  const char* const buses[] = {"/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0",
                               "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0",
                               "/sys/devices/pci0000:00/0000:00:14.0/usb3/3-1/3-1:1.0/host7/target7:0:0/7:0:0:0",
                               "/sys/devices/platform/mmc0/mmc_host/mmc0/mmc0:0001"};
  const std::string device = buses[layout & 3];
  fuzz_dirs(device);
  fuzz_dirs(block);
  if (layout & 0x04) (void)!symlink(("../../" + device.substr(5)).c_str(), fuzz_path(block + "/device").c_str());
  const char* const attrs[] = {"/size", "/dev", "/device/type", "/device/model", "/device/vendor", "/device/name",
                               "/device/serial", "/device/date"};
  uint8_t present = in.ConsumeIntegral<uint8_t>();
  for (int i = 0; i < 8; ++i)
    if (present & (1 << i)) fuzz_file(block + attrs[i], in.ConsumeRandomLengthString(24));
  for (std::string dir = device; dir.size() > 12; dir = dir.substr(0, dir.rfind('/')))  // USB product, maker, serial
    for (const char* a : {"/product", "/manufacturer", "/serial"})
      if (in.ConsumeIntegral<uint8_t>() < 24) fuzz_file(dir + a, in.ConsumeRandomLengthString(24));
  if (layout & 0x08) fuzz_file("/dev/" + name, "");
  if (layout & 0x10) fuzz_file(block + "/" + name + "1/size", in.ConsumeRandomLengthString(12));
  CBlkDevProbe probe;
  std::unique_ptr<CBlkDev> dev = probe.CreateFromSysBlock(name.c_str());
  if (dev && dev->Name() != name) abort();
  g_debuglevel = (layout & 0x20) ? 1 : 0;
  if (dev && dev->Init() == 0) dev->ScanPartitions(), dev->PreWipe(), dev->SupportsHardwareWipe();
  if (dev && (layout & 0x40)) dev->Refresh();
  g_debuglevel = 0;
}
