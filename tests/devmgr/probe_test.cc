// Turning a /sys/block name into a device object of the right class.
#include <gtest/gtest.h>

#include <memory>

#include "devmgr/blkdev_probe.h"
#include "nvme/blkdev_nvme.h"

// The first matching rule wins, and a probe is asked only when its rule is
// reached: S(AT), I(DE), Q (SCSI inquiry). Only a namespace's block device
// is NVMe (never a partition, controller or path device).
TEST(BlkDevKind, FirstMatchingRuleWins) {
  const std::string usb2 = "/sys/devices/pci0000:00/usb2/2-1/2-1:1.0/host6", usb3 = "/sys/devices/usb3/3-1/host7",
                    ata = "/sys/devices/pci0000:00/ata1/host0";
  struct row {
    const char* name;
    int major;
    const char* model;
    std::string path;
    int satl, ide, scsi;
    blkdev_kind_e kind;
    const char* asked;
  } rows[] = {
      {"fd0", 2, "", ata, 0, 0, 0, BLKDEV_KIND_FLOPPY, ""},
      {"fd0", 2, "Some model", ata, -1, -1, -1, BLKDEV_KIND_GENERIC, "SIQ"},
      {"mmcblk0", 179, "", usb2, 0, 0, 0, BLKDEV_KIND_MMC, ""},
      {"sdb", 8, "Stick", usb2, -1, 0, 0, BLKDEV_KIND_USB, "S"},
      {"sdb", 8, "Bridge", usb3, 0, 0, 0, BLKDEV_KIND_ATA_SAT, "S"},
      {"sda", 8, "M", ata, 0, 0, 0, BLKDEV_KIND_ATA_SAT, "S"},
      {"hda", 8, "M", ata, 5, 0, 0, BLKDEV_KIND_ATA_IDE, "SI"},
      {"sdc", 8, "M", ata, -1, 71, 0, BLKDEV_KIND_SCSI, "SIQ"},
      {"sdd", 8, "M", "", -1, -1, -1, BLKDEV_KIND_GENERIC, "SIQ"},
      {"nvme0n1", 259, "", "", 0, 0, 0, BLKDEV_KIND_NVME, ""}, {"nvme12n34", 259, "", "", 0, 0, 0, BLKDEV_KIND_NVME, ""},
      {"nvme0n1p1", 259, "", "", 0, 0, 0, BLKDEV_KIND_ATA_SAT, "S"}, {"nvme0", 259, "", "", 0, 0, 0, BLKDEV_KIND_ATA_SAT, "S"},
      {"nvme0c0n1", 259, "", "", 0, 0, 0, BLKDEV_KIND_ATA_SAT, "S"}, {"nvmen1", 259, "", "", 0, 0, 0, BLKDEV_KIND_ATA_SAT, "S"},
      {"nvme0n", 259, "", "", 0, 0, 0, BLKDEV_KIND_ATA_SAT, "S"},
  };
  for (auto& r : rows) {
    blkdev_facts f;
    f.name = r.name, f.major = r.major, f.model = r.model, f.device_path = r.path;
    std::string asked;
    auto answer = [&](char c, int v) { return [&asked, c, v] { asked += c; return v; }; };
    EXPECT_EQ(r.kind, decide_blkdev_kind(f, answer('S', r.satl), answer('I', r.ide), answer('Q', r.scsi))) << r.name;
    EXPECT_EQ(r.asked, asked) << r.name << " " << r.path;
  }
  EXPECT_STREQ("USB2", usb_bus_name(usb2));
  EXPECT_STREQ("USB", usb_bus_name(usb3));
  EXPECT_EQ(nullptr, usb_bus_name(ata));
  std::unique_ptr<CBlkDev> dev = CBlkDevProbe::CreateDevice(BLKDEV_KIND_NVME);
  EXPECT_NE(nullptr, dynamic_cast<CBlkDevNvme*>(dev.get()));
}
