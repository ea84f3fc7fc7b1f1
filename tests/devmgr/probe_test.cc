// Turning a /sys/block name into a device object of the right class.
#include <gtest/gtest.h>

#include "ata/blkdev_ata.h"
#include "device/blkdev_removable.h"
#include "device/blkdev_scsi.h"
#include "devmgr/blkdev_probe.h"
#include "devmgr/fake_sysfs.h"

// The first matching rule wins, and a probe is asked only when its rule is
// reached: S(AT), I(DE), Q (SCSI inquiry).
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
  };
  for (auto& r : rows) {
    blkdev_facts f;
    f.name = r.name;
    f.major = r.major;
    f.model = r.model;
    f.device_path = r.path;
    std::string asked;
    auto answer = [&](char c, int v) { return [&asked, c, v] { asked += c; return v; }; };
    EXPECT_EQ(r.kind, decide_blkdev_kind(f, answer('S', r.satl), answer('I', r.ide), answer('Q', r.scsi))) << r.name;
    EXPECT_EQ(r.asked, asked) << r.name << " " << r.path;
  }
  EXPECT_STREQ("USB2", usb_bus_name(usb2));
  EXPECT_STREQ("USB", usb_bus_name(usb3));
  EXPECT_EQ(nullptr, usb_bus_name(ata));
}

std::string Kind(CBlkDev* p) {
  if (auto* a = dynamic_cast<CBlkDevAta*>(p))
    return dynamic_cast<CIdeTaskfile*>(a->transport) ? "ide" : dynamic_cast<CSgSatl*>(a->transport) ? "sat" : "ata";
  if (dynamic_cast<CBlkDevScsi*>(p)) return "scsi";
  if (dynamic_cast<CBlkDevUsb*>(p)) return "usb";
  if (dynamic_cast<CBlkDevMmc*>(p)) return "mmc";
  if (dynamic_cast<CBlkDevFloppy*>(p)) return p->CanBeWiped() ? "wipeable floppy" : "floppy";
  return typeid(*p) == typeid(CBlkDev) ? "generic" : "other";
}

// The classes the real probes pick on software drives, with their bus.
TEST(BlkDevProbe, ClassesOfSoftwareDrives) {
  FakeSys sys;
  FakeIoctl ioctls;
  AtaDriveModel sat_drive, ide_drive;
  ide_drive.sat_mode = AtaDriveModel::SAT_IOCTL_FAILS;
  ioctls.AddAta("sda", &sat_drive);
  ioctls.AddAta("hda", &ide_drive);
  FakeScsiDevice scsi;
  scsi.inquiry[-1] = StandardInquiry("ZVTEST", "SAS Disk", {});
  ioctls.AddScsi("sdd", &scsi);
  fake_drive d;
  d.size = 3 << 20;
  for (const char* n : {"sda", "hda", "sdd", "sde", "mmcblk0"}) sys.AddDrive(n, d);
  d.usb = "usb2";
  sys.AddDrive("sdb", d);
  d.model = "";
  d.usb = nullptr;
  sys.AddDrive("fd0", d);
  sys.WriteFile("/sys/block/fd0/dev", "2:0\n");
  struct row {
    const char *name, *kind;
    int bus;
  } rows[] = {{"sda", "sat", 5}, {"hda", "ide", 4}, {"sdd", "scsi", 6},   {"sdb", "usb", 3},
              {"mmcblk0", "mmc", 1}, {"fd0", "floppy", 1}, {"sde", "generic", 1}};
  for (const row& r : rows) {
    CBlkDevProbe probe;
    std::unique_ptr<CBlkDev> dev(probe.CreateFromSysBlock(r.name));
    ASSERT_TRUE(dev) << r.name;
    EXPECT_EQ(r.kind, Kind(dev.get())) << r.name;
    EXPECT_EQ(r.bus, dev->bus) << r.name;
  }
}
