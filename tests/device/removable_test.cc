// USB, SD/MMC and floppy devices on fake sysfs trees and image files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include "app/util.h"
#include "device/blkdev_removable.h"
#include "device/device_fixture.h"
#include "device/scsi_fixture.h"
#include "support/log_capture.h"

namespace {

CBlkDevData DiscoveredData(const std::string& name, const std::string& model, const std::string& vendor,
                           uint64_t size) {
  CBlkDevData d;
  d.name = name;
  d.major = kUnusedMajor;
  d.minor = 9;
  d.model = model;
  d.vendor = vendor;
  d.size_bytes = size;
  d.size_sectors = size / 512;
  return d;
}

std::vector<std::string> CommandNames(const CBlkDev& dev) {
  std::vector<std::string> v;
  for (auto& c : dev.commands) v.push_back(c->GetName());
  return v;
}

// The sysfs directories of a USB stick: controller, USB device, interface,
// SCSI host, target and the SCSI device that /sys/block/<name>/device
// points to.
const char* const kUsbDevice = "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1";
const char* const kUsbScsiDevice =
    "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0";

class UsbTest : public ::testing::Test {
 protected:
  TempRoot root;
  LogCapture logs;

  void SetUp() override {
    std::string path;
    std::string rel = kUsbScsiDevice;
    size_t pos = 0;
    while ((pos = rel.find('/', pos + 1)) != std::string::npos) root.MakeDir(rel.substr(0, pos));
    root.MakeDir(rel);
    root.MakeDir("/sys/block/sdu");
    // Relative, as the kernel makes it.
    ASSERT_EQ(symlink((std::string("../../devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0"))
                          .c_str(),
                      root.Path("/sys/block/sdu/device").c_str()),
              0);
  }
  void Attributes(const std::string& dir, const std::string& product, const std::string& manufacturer,
                  const std::string& serial) {
    if (!product.empty()) root.WriteFile(dir + "/product", product + "\n");
    if (!manufacturer.empty()) root.WriteFile(dir + "/manufacturer", manufacturer + "\n");
    if (!serial.empty()) root.WriteFile(dir + "/serial", serial + "\n");
  }
};

}  // namespace

TEST_F(UsbTest, SerialFromTheUsbDeviceAndWriteTest) {
  Attributes(kUsbDevice, "Cruzer Blade", "SanDisk", "4C530001");
  root.MakeImage("sdu", 8192, 0x5A);
  CBlkDevUsb dev(DiscoveredData("sdu", "Cruzer Blade", "SanDisk", 8000000000ULL));
  ASSERT_EQ(dev.Init(), 0);
  EXPECT_EQ(dev.serial, "4C530001");
  EXPECT_EQ(dev.not_writable, 0);
  EXPECT_EQ(CommandNames(dev), std::vector<std::string>{"Wipe"});
  EXPECT_EQ(dev.commands[0]->id, BLKDEV_CMD_WIPE);
  EXPECT_TRUE(dev.CanBeWiped());
  // The write test put the byte back.
  EXPECT_EQ(root.ReadImage("sdu"), std::vector<unsigned char>(8192, 0x5A));
  EXPECT_TRUE(logs.Has("Initializing USB device sdu", "debug"));
  std::vector<std::string> wipe = logs.Texts("wipe");
  ASSERT_EQ(wipe.size(), 2u);
  EXPECT_EQ(wipe[0], "Disk-sdu: Cruzer Blade, s/n: 4C530001 usb device detected");
  EXPECT_EQ(wipe[1], std::string("Disk-sdu: ") + CSizeStr(8000000000ULL, 'A').c_str() + ", " +
                         CSizeStr(8000000000ULL, 'B').c_str());
}

TEST_F(UsbTest, StorageProductsArePassedOver) {
  // A level below the USB device that names a generic storage function with
  // the same manufacturer: not the stick itself.
  Attributes("/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6", "USB Mass Storage", "SanDisk", "WRONG");
  Attributes(kUsbDevice, "Cruzer Blade", "SanDisk", "4C530001");
  root.MakeImage("sdu", 4096, 0);
  CBlkDevUsb dev(DiscoveredData("sdu", "Cruzer Blade", "SanDisk", 4096));
  ASSERT_EQ(dev.Init(), 0);
  EXPECT_EQ(dev.serial, "4C530001");

  // A product that is the model itself is taken even when it says "Storage".
  CBlkDevUsb named(DiscoveredData("sdu", "USB Mass Storage", "SanDisk", 4096));
  ASSERT_EQ(named.Init(), 0);
  EXPECT_EQ(named.serial, "WRONG");
}

TEST_F(UsbTest, ManufacturerMustMatchAndMissingAttributesKeepTheLastValue) {
  // The target level has a product but another manufacturer; the interface
  // level has no product file, so the "Storage" product read below it still
  // counts there; the USB device matches.
  Attributes("/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0", "Cruzer Blade", "Other",
             "NOT-THIS");
  Attributes("/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6", "Flash Storage", "", "");
  root.WriteFile("/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/manufacturer", "SanDisk\n");
  root.WriteFile("/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/serial", "SKIPPED\n");
  Attributes(kUsbDevice, "Cruzer Blade", "SanDisk", "4C530001");
  root.MakeImage("sdu", 4096, 0);
  CBlkDevUsb dev(DiscoveredData("sdu", "Cruzer Blade", "SanDisk", 4096));
  ASSERT_EQ(dev.Init(), 0);
  EXPECT_EQ(dev.serial, "4C530001");

  // Nothing matches anywhere: "n/a".
  CBlkDevUsb other(DiscoveredData("sdu", "Cruzer Blade", "Kingston", 4096));
  ASSERT_EQ(other.Init(), 0);
  EXPECT_EQ(other.serial, "n/a");
  EXPECT_TRUE(logs.Has("Disk-sdu: Cruzer Blade, s/n: n/a usb device detected", "wipe"));
}

TEST_F(UsbTest, WriteProtectedStickIsNeverOfferedAWipe) {
  Attributes(kUsbDevice, "Cruzer Blade", "SanDisk", "4C530001");
  // A write-protected medium: readable, but every write is refused. A sealed
  // memory file behaves so even for root.
  int mfd = memfd_create("zv-write-protected", MFD_ALLOW_SEALING);
  ASSERT_GE(mfd, 0);
  std::vector<unsigned char> content(4096, 0x33);
  ASSERT_EQ(write(mfd, content.data(), content.size()), (ssize_t)content.size());
  ASSERT_EQ(fcntl(mfd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW), 0);
  std::string node = root.Path("/dev/sdu");
  ASSERT_EQ(symlink(("/proc/self/fd/" + std::to_string(mfd)).c_str(), node.c_str()), 0);

  CBlkDevUsb dev(DiscoveredData("sdu", "Cruzer Blade", "SanDisk", 4096));
  ASSERT_EQ(dev.Init(), 0);
  EXPECT_EQ(dev.not_writable, 1);
  EXPECT_TRUE(dev.commands.empty());
  EXPECT_FALSE(dev.GetCommandById(BLKDEV_CMD_WIPE));
  EXPECT_FALSE(logs.Has("Could not open device file"));  // opened; the write-back failed
  EXPECT_TRUE(logs.Has("Disk-sdu: Cruzer Blade, s/n: 4C530001 usb device detected", "wipe"));

  // The protection switch is moved back: a refresh still offers no wipe.
  unlink(node.c_str());
  close(mfd);
  root.MakeImage("sdu", 4096, 0);
  ASSERT_EQ(dev.Refresh(), 0);
  EXPECT_EQ(dev.not_writable, 1);
  EXPECT_TRUE(dev.commands.empty());
}

TEST_F(UsbTest, UnopenableNodeMissingSysfsAndNoName) {
  Attributes(kUsbDevice, "Cruzer Blade", "SanDisk", "4C530001");
  ASSERT_FALSE(major_is_registered(kUnusedMajor));
  CBlkDevUsb dev(DiscoveredData("sdu", "Cruzer Blade", "SanDisk", 4096));
  ASSERT_EQ(dev.Init(), 0);
  EXPECT_EQ(dev.not_writable, 1);
  EXPECT_TRUE(dev.commands.empty());
  EXPECT_TRUE(logs.Has("Could not open device file '" + root.Path("/dev/sdu") + "'", "debug"));

  // No device entry in sysfs: nothing is set up, nothing logged.
  logs.Clear();
  CBlkDevUsb lost(DiscoveredData("sdv", "Cruzer Blade", "SanDisk", 4096));
  EXPECT_EQ(lost.Init(), 0);
  EXPECT_TRUE(lost.commands.empty());
  EXPECT_EQ(lost.serial, "");
  EXPECT_EQ(lost.not_writable, 0);
  EXPECT_TRUE(logs.Texts("wipe").empty());

  CBlkDevUsb unnamed(DiscoveredData("", "Cruzer Blade", "SanDisk", 4096));
  EXPECT_EQ(unnamed.Init(), -1);
}

// ---- SD/MMC ----

class MmcTest : public ::testing::Test {
 protected:
  TempRoot root;
  LogCapture logs;
  void SetUp() override {
    root.MakeDir("/sys/block/mmcblk0");
    root.MakeDir("/sys/block/mmcblk0/device");
  }
};

TEST_F(MmcTest, ModelSerialAndDate) {
  root.WriteFile("/sys/block/mmcblk0/device/type", "SD\n");
  root.WriteFile("/sys/block/mmcblk0/device/name", "SU04G\n");
  root.WriteFile("/sys/block/mmcblk0/device/serial", "0x1234abcd\n");
  root.WriteFile("/sys/block/mmcblk0/device/date", "06/2015\n");
  CBlkDevMmc dev(DiscoveredData("mmcblk0", "", "", 3965190144ULL));
  ASSERT_EQ(dev.Init(), 0);
  EXPECT_EQ(dev.model, "SD card SU04G");
  EXPECT_EQ(dev.serial, "1234abcd");
  EXPECT_EQ(dev.type_name, "SD");
  EXPECT_EQ(CommandNames(dev), std::vector<std::string>{"Wipe"});
  EXPECT_EQ(dev.details, std::vector<std::string>{"Manufacturing date: 06/2015"});
  EXPECT_TRUE(logs.Has("Initializing SD/MMC device mmcblk0", "debug"));
  std::vector<std::string> wipe = logs.Texts("wipe");
  ASSERT_EQ(wipe.size(), 2u);
  EXPECT_EQ(wipe[0], "Disk-mmcblk0: SD card SU04G, s/n: 1234abcd SD/MMC device detected.");
  EXPECT_EQ(wipe[1], std::string("Disk-mmcblk0: ") + CSizeStr(3965190144ULL, 'A').c_str() + ", " +
                         CSizeStr(3965190144ULL, 'B').c_str());

  // Every run adds one more date line; the command list is replaced.
  ASSERT_EQ(dev.Refresh(), 0);
  EXPECT_EQ(dev.details.size(), 2u);
  EXPECT_EQ(CommandNames(dev), std::vector<std::string>{"Wipe"});
}

TEST_F(MmcTest, NameEqualToTypeAndMissingAttributes) {
  root.WriteFile("/sys/block/mmcblk0/device/type", "MMC\n");
  root.WriteFile("/sys/block/mmcblk0/device/name", "MMC\n");
  CBlkDevMmc dev(DiscoveredData("mmcblk0", "", "", 1000));
  ASSERT_EQ(dev.Init(), 0);
  EXPECT_EQ(dev.model, "MMC card ");
  EXPECT_EQ(dev.serial, "");
  EXPECT_EQ(dev.details, std::vector<std::string>{"Manufacturing date: "});
  EXPECT_TRUE(logs.Has("Disk-mmcblk0: MMC card , s/n: n/a SD/MMC device detected.", "wipe"));

  // A serial without the 0x prefix is kept whole; no type: the model starts
  // with the type the device had.
  root.WriteFile("/sys/block/mmcblk0/device/serial", "00ff\n");
  CBlkDevData data = DiscoveredData("mmcblk0", "", "", 1000);
  data.type_name = "Disk";
  unlink(root.Path("/sys/block/mmcblk0/device/type").c_str());
  CBlkDevMmc typeless(data);
  ASSERT_EQ(typeless.Init(), 0);
  EXPECT_EQ(typeless.serial, "00ff");
  EXPECT_EQ(typeless.model, "Disk card MMC");

  CBlkDevMmc unnamed(DiscoveredData("", "", "", 1000));
  EXPECT_EQ(unnamed.Init(), -1);
  EXPECT_TRUE(unnamed.details.empty());
}

// ---- floppy ----

class FloppyTest : public ::testing::Test {
 protected:
  TempRoot root;
  LogCapture logs;
  FakeScsiDevice drive;  // answers FDGETPRM
};

TEST_F(FloppyTest, NoMediumMeansSizeZero) {
  FakeScsiScope scope(drive);
  drive.has_medium = false;
  root.MakeImage("fd0", 4096, 0);
  CBlkDevData data = DiscoveredData("fd0", "", "", 1474560);
  data.major = 2;
  CBlkDevFloppy dev(data);
  ASSERT_EQ(dev.Init(), 0);
  EXPECT_EQ(dev.model, "Floppy drive");
  EXPECT_EQ(dev.size_bytes, 0u);
  EXPECT_EQ(drive.requests, std::vector<unsigned long>{FDGETPRM});
  EXPECT_TRUE(logs.Has("Initializing Floppy drive fd0", "debug"));
  EXPECT_EQ(logs.Texts("wipe"), std::vector<std::string>{"Disk-fd0: Floppy drive, no media"});
  EXPECT_FALSE(dev.CanBeWiped());
  EXPECT_TRUE(dev.commands.empty());
  EXPECT_EQ(dev.SetWiping(WIPING_SET), 0);
  EXPECT_EQ(dev.wipe_selected, 0);
}

TEST_F(FloppyTest, MediumKeepsTheSizeAndStillNoWipe) {
  FakeScsiScope scope(drive);
  root.MakeImage("fd0", 4096, 0);
  CBlkDevFloppy dev(DiscoveredData("fd0", "", "", 1474560));
  ASSERT_EQ(dev.Init(), 0);
  EXPECT_EQ(dev.size_bytes, 1474560u);
  EXPECT_EQ(logs.Texts("wipe"), std::vector<std::string>{"Disk-fd0: Floppy drive"});
  EXPECT_FALSE(dev.CanBeWiped());
  EXPECT_TRUE(dev.commands.empty());

  // A node that cannot be opened: the size stays as discovered.
  logs.Clear();
  ASSERT_FALSE(major_is_registered(kUnusedMajor));
  CBlkDevFloppy gone(DiscoveredData("fd1", "", "", 1474560));
  ASSERT_EQ(gone.Init(), 0);
  EXPECT_EQ(gone.size_bytes, 1474560u);
  EXPECT_TRUE(logs.Has("Could not open device file '" + root.Path("/dev/fd1") + "'", "debug"));
  EXPECT_EQ(logs.Texts("wipe"), std::vector<std::string>{"Disk-fd1: Floppy drive"});

  CBlkDevFloppy unnamed(DiscoveredData("", "", "", 1474560));
  EXPECT_EQ(unnamed.Init(), -1);
  EXPECT_EQ(unnamed.model, "");
}
