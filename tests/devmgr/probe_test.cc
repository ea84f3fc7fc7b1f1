// Turning a /sys/block name into a device object of the right class.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "ata/blkdev_ata.h"
#include "device/blkdev_removable.h"
#include "device/blkdev_scsi.h"
#include "devmgr/blkdev_probe.h"
#include "devmgr/fake_sysfs.h"
#include "support/log_capture.h"
#include "support/loop_device.h"

namespace {

// Probe answers for the class decision, recording which were asked.
struct answers {
  int satl = -1, ide = -1, scsi = -1;
  std::string asked;
  blkdev_kind_e Decide(const blkdev_facts& f) {
    return decide_blkdev_kind(
        f, [&] { asked += "S"; return satl; }, [&] { asked += "I"; return ide; },
        [&] { asked += "Q"; return scsi; });
  }
};

blkdev_facts Facts(const std::string& name, int major = 8, const std::string& model = "M",
                   const std::string& path = "/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0") {
  blkdev_facts f;
  f.name = name;
  f.major = major;
  f.model = model;
  f.device_path = path;
  return f;
}

}  // namespace

TEST(BlkDevKind, FirstMatchingRuleWinsAndProbesAreAskedOnlyWhenReached) {
  const std::string usb2 = "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6";
  const std::string usb3 = "/sys/devices/pci0000:00/0000:00:14.0/usb3/3-1/3-1:1.0/host7";
  struct row {
    blkdev_facts facts;
    int satl, ide, scsi;
    blkdev_kind_e kind;
    const char* asked;
  } rows[] = {
      {Facts("fd0", 2, ""), 0, 0, 0, BLKDEV_KIND_FLOPPY, ""},
      {Facts("fd0", 2, "Some model"), -1, -1, -1, BLKDEV_KIND_GENERIC, "SIQ"},
      {Facts("fd0", 8, ""), -1, -1, -1, BLKDEV_KIND_GENERIC, "SIQ"},
      {Facts("mmcblk0", 179, "", usb2), 0, 0, 0, BLKDEV_KIND_MMC, ""},
      {Facts("sdb", 8, "Stick", usb2), -1, 0, 0, BLKDEV_KIND_USB, "S"},
      {Facts("sdb", 8, "Bridge", usb3), 0, 0, 0, BLKDEV_KIND_ATA_SAT, "S"},
      {Facts("sda"), 0, 0, 0, BLKDEV_KIND_ATA_SAT, "S"},
      {Facts("hda"), 5, 0, 0, BLKDEV_KIND_ATA_IDE, "SI"},
      {Facts("sdc"), -1, 71, 0, BLKDEV_KIND_SCSI, "SIQ"},
      {Facts("sdd"), -1, -1, -1, BLKDEV_KIND_GENERIC, "SIQ"},
      {Facts("sde", 8, "M", ""), -1, -1, -1, BLKDEV_KIND_GENERIC, "SIQ"},
  };
  for (auto& r : rows) {
    answers a;
    a.satl = r.satl;
    a.ide = r.ide;
    a.scsi = r.scsi;
    EXPECT_EQ(r.kind, a.Decide(r.facts)) << r.facts.name << " " << r.facts.device_path;
    EXPECT_EQ(r.asked, a.asked) << r.facts.name << " " << r.facts.device_path;
  }
  EXPECT_STREQ("USB2", usb_bus_name(usb2));
  EXPECT_STREQ("USB", usb_bus_name(usb3));
  EXPECT_EQ(nullptr, usb_bus_name("/sys/devices/pci0000:00/ata1/host0"));
}

TEST(BlkDevKind, TypeNames) {
  EXPECT_STREQ("Disk", CBlkDevProbe::type2str(0));
  EXPECT_STREQ("Tape", CBlkDevProbe::type2str(1));
  EXPECT_STREQ("CD/DVD", CBlkDevProbe::type2str(5));
  EXPECT_STREQ("Pre-press device", CBlkDevProbe::type2str(10));
  EXPECT_STREQ("Pre-press device", CBlkDevProbe::type2str(11));
  EXPECT_STREQ("Simplified direct-access device", CBlkDevProbe::type2str(14));
  EXPECT_STREQ("Automation/Drive interface", CBlkDevProbe::type2str(18));
  EXPECT_STREQ("Unknown device", CBlkDevProbe::type2str(19));
  EXPECT_STREQ("Unknown device", CBlkDevProbe::type2str(29));
  EXPECT_STREQ("Well-known logical unit", CBlkDevProbe::type2str(30));
  EXPECT_STREQ("Unknown device", CBlkDevProbe::type2str(31));
  EXPECT_STREQ("Unknown device", CBlkDevProbe::type2str(-1));
}

class ProbeTest : public ::testing::Test {
 protected:
  FakeSys sys;
  FakeIoctl ioctls;
  LogCapture logs;

  std::unique_ptr<CBlkDev> Create(const std::string& name, CBlkDevProbe* probe_out = nullptr) {
    CBlkDevProbe local;
    CBlkDevProbe& p = probe_out ? *probe_out : local;
    return std::unique_ptr<CBlkDev>(p.CreateFromSysBlock(name.c_str()));
  }
};

TEST_F(ProbeTest, PlainDiskBecomesAGenericDeviceWithTheSysfsFacts) {
  fake_drive d;
  d.size = 3 << 20;
  d.minor = 17;
  sys.AddDrive("sda", d);
  CBlkDevProbe probe;
  auto dev = Create("sda", &probe);
  ASSERT_TRUE(dev);
  EXPECT_EQ(nullptr, dynamic_cast<CBlkDevAta*>(dev.get()));
  EXPECT_EQ("sda", dev->name);
  EXPECT_EQ(kUnusedMajor, dev->major);
  EXPECT_EQ(17, dev->minor);
  EXPECT_EQ(1, dev->bus);
  EXPECT_EQ(0, dev->scsi_type);
  EXPECT_EQ("Disk", dev->type_name);
  EXPECT_EQ("ZV Fake Disk", dev->model);
  EXPECT_EQ("ZVTEST", dev->vendor);
  EXPECT_EQ(512u, dev->sector_size);
  EXPECT_EQ(6144u, dev->size_sectors);
  EXPECT_EQ(3u << 20, dev->size_bytes);
  EXPECT_EQ("", dev->serial);

  // A probe serves one name.
  CBlkDev* again = probe.CreateFromSysBlock("sda");
  EXPECT_TRUE(logs.Has("CreateFromSysBlock(): Internal error: this object already used.", "debug"));
  delete again;
  CBlkDevProbe other;
  EXPECT_EQ(nullptr, other.CreateFromSysBlock(nullptr));
  EXPECT_TRUE(logs.Has("CreateFromSysBlock(): name is NULL", "debug"));
}

TEST_F(ProbeTest, AtaDrivesAreFoundThroughTranslationFirstThenTheTaskfile) {
  AtaDriveModel sat_drive, ide_drive;
  ide_drive.sat_mode = AtaDriveModel::SAT_IOCTL_FAILS;
  ioctls.AddAta("sda", &sat_drive);
  ioctls.AddAta("hda", &ide_drive);
  sys.AddDrive("sda");
  sys.AddDrive("hda");

  auto sat = Create("sda");
  ASSERT_TRUE(sat);
  CBlkDevAta* a = dynamic_cast<CBlkDevAta*>(sat.get());
  ASSERT_NE(nullptr, a);
  EXPECT_NE(nullptr, dynamic_cast<CSgSatl*>(a->transport));
  EXPECT_EQ(5, sat->bus);
  EXPECT_EQ("Disk", sat->type_name);
  EXPECT_EQ(1, sat_drive.CountCommand(0xEC));  // one IDENTIFY, through SAT
  EXPECT_EQ(0, ide_drive.CountCommand(0xEC));

  auto ide = Create("hda");
  ASSERT_TRUE(ide);
  a = dynamic_cast<CBlkDevAta*>(ide.get());
  ASSERT_NE(nullptr, a);
  EXPECT_NE(nullptr, dynamic_cast<CIdeTaskfile*>(a->transport));
  EXPECT_EQ(4, ide->bus);
  // Asked through translation first (no answer), then through the taskfile.
  ASSERT_FALSE(ide_drive.log.empty());
  EXPECT_EQ(model_command_t::HDIO, ide_drive.log.back().transport);
  EXPECT_EQ(0xEC, ide_drive.log.back().command);
  EXPECT_EQ(model_command_t::SAT16, ide_drive.log.front().transport);
}

TEST_F(ProbeTest, UsbSticksCarryTheirBusAndBridgesThatPassAtaBecomeAtaDevices) {
  AtaDriveModel bridged;
  ioctls.AddAta("sdc", &bridged);
  fake_drive stick;
  stick.usb = "usb2";
  stick.minor = 1;
  sys.AddDrive("sdb", stick);
  fake_drive disk;
  disk.usb = "usb3";
  disk.minor = 2;
  sys.AddDrive("sdc", disk);

  auto s = Create("sdb");
  ASSERT_TRUE(s);
  EXPECT_NE(nullptr, dynamic_cast<CBlkDevUsb*>(s.get()));
  EXPECT_EQ(3, s->bus);
  EXPECT_EQ("USB2", s->type_name);

  auto b = Create("sdc");
  ASSERT_TRUE(b);
  EXPECT_NE(nullptr, dynamic_cast<CBlkDevAta*>(b.get()));
  EXPECT_EQ(5, b->bus);
  EXPECT_EQ("USB", b->type_name);
}

TEST_F(ProbeTest, CardsFloppiesAndScsiDrivesGetTheirClasses) {
  FakeScsiDevice scsi;
  scsi.inquiry[-1] = StandardInquiry("ZVTEST", "SAS Disk", {});
  ioctls.AddScsi("sdd", &scsi);
  fake_drive d;
  d.minor = 4;
  sys.AddDrive("sdd", d);
  d.minor = 5;
  sys.AddDrive("mmcblk0", d);
  d.minor = 6;
  d.model = "";
  sys.AddDrive("fd0", d);
  sys.WriteFile("/sys/block/fd0/dev", "2:0\n");

  auto s = Create("sdd");
  ASSERT_TRUE(s);
  EXPECT_NE(nullptr, dynamic_cast<CBlkDevScsi*>(s.get()));
  EXPECT_EQ(6, s->bus);
  // Translation was tried first and got no ATA answer.
  ASSERT_GE(scsi.sent.size(), 2u);
  EXPECT_EQ(0x85, scsi.sent.front().cdb[0]);
  EXPECT_EQ(0x12, scsi.sent.back().cdb[0]);

  auto m = Create("mmcblk0");
  ASSERT_TRUE(m);
  EXPECT_NE(nullptr, dynamic_cast<CBlkDevMmc*>(m.get()));
  EXPECT_EQ(1, m->bus);

  auto f = Create("fd0");
  ASSERT_TRUE(f);
  EXPECT_NE(nullptr, dynamic_cast<CBlkDevFloppy*>(f.get()));
  EXPECT_EQ(2, f->major);
  EXPECT_EQ(1, f->bus);
  EXPECT_FALSE(f->CanBeWiped());
}

TEST_F(ProbeTest, UnreadableSysfsNumbersAreReported) {
  fake_drive d;
  d.type = 5;
  sys.AddDrive("sr0", d);
  sys.WriteFile("/sys/block/sr0/size", "many\n");
  auto dev = Create("sr0");
  ASSERT_TRUE(dev);
  EXPECT_TRUE(logs.Has("Unable to read block device size from " + sys.Path("/sys/block/sr0/size"), "debug"));
  EXPECT_EQ(0u, dev->size_bytes);
  EXPECT_EQ(5, dev->scsi_type);
  EXPECT_EQ("CD/DVD", dev->type_name);
  EXPECT_FALSE(dev->CanBeWiped());

  sys.AddDrive("sdx");
  sys.WriteFile("/sys/block/sdx/device/type", "disk\n");
  auto x = Create("sdx");
  ASSERT_TRUE(x);
  EXPECT_TRUE(logs.Has("Unable to read block device type from " + sys.Path("/sys/block/sdx/device/type"), "debug"));
  EXPECT_EQ(0, x->scsi_type);
}

TEST_F(ProbeTest, AMissingNodeIsCreatedFromSysfsDev) {
  if (getuid() != 0) GTEST_SKIP() << "creating device nodes needs root";
  if (major_is_registered(kUnusedMajor)) GTEST_SKIP() << "major " << kUnusedMajor << " is in use here";
  fake_drive d;
  d.node = false;
  d.minor = 9;
  sys.AddDrive("sdq", d);
  CBlkDevProbe probe;
  auto dev = Create("sdq", &probe);
  // The node is there, made from "dev"; no driver answers for it.
  struct stat st;
  ASSERT_EQ(0, stat(sys.Path("/dev/sdq").c_str(), &st));
  EXPECT_TRUE(S_ISBLK(st.st_mode));
  EXPECT_EQ((unsigned)kUnusedMajor, major(st.st_rdev));
  EXPECT_EQ(9u, minor(st.st_rdev));
  EXPECT_EQ(nullptr, dev.get());
  EXPECT_EQ(0, probe.bus);
  EXPECT_TRUE(logs.Has("Could not open device file '" + sys.Path("/dev/sdq") + "': ", "debug"));
}

// A real block node: a loop device over an image, known to the program only
// through the fake sysfs entry's "dev".
TEST_F(ProbeTest, ANodeCreatedFromDevReachesTheRealBlockDevice) {
  fake_drive d;
  d.node = false;
  d.size = 1 << 20;
  d.minor = -1;
  sys.AddDrive("vdz", d);
  std::string image = sys.Path("/loop.img");
  {
    std::vector<char> data(1 << 20, 0);
    memcpy(data.data(), "LOOP-IMAGE-SECTOR-0", 19);
    FILE* f = fopen(image.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    ASSERT_EQ(data.size(), fwrite(data.data(), 1, data.size(), f));
    fclose(f);
  }
  LoopDevice loop(image);
  if (loop.Path().empty()) GTEST_SKIP() << loop.SkipReason();
  sys.WriteFile("/sys/block/vdz/dev", std::to_string(major(loop.Rdev())) + ":" +
                                          std::to_string(minor(loop.Rdev())) + "\n");

  auto dev = Create("vdz");
  ASSERT_TRUE(dev);
  struct stat st;
  ASSERT_EQ(0, stat(sys.Path("/dev/vdz").c_str(), &st));
  EXPECT_TRUE(S_ISBLK(st.st_mode));
  EXPECT_EQ(loop.Rdev(), st.st_rdev);
  ASSERT_EQ(0, dev->Init());
  unsigned char sector[512];
  ASSERT_EQ(0, dev->ReadSector(0, sector));
  EXPECT_EQ(0, memcmp(sector, "LOOP-IMAGE-SECTOR-0", 19));
  dev.reset();
  unlink(sys.Path("/dev/vdz").c_str());
}
