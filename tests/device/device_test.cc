// The device classes around the wipe: the TRIM pass's ranges, the command
// queue and its report, USB sticks on fake sysfs trees, and device nodes made
// from the device numbers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/sysmacros.h>

#include <mutex>

#include "command/threaded_command.h"
#include "device/blkdev_removable.h"
#include "device/device_fixture.h"
#include "report/report.h"
#include "support/log_capture.h"
#include "support/unguarded.h"

namespace {

// Records the ranges the TRIM pass hands to the device class.
class TrimDev : public RecordingDev {
 public:
  TrimDev(uint64_t sectors, int fail_at) : RecordingDev("zta", sectors * 512), fail_at(fail_at) {}
  int Trim_helper_trim_range(const CDevFile&, unsigned long lba, unsigned int count) const override {
    ranges.push_back({lba, count});
    return (int)ranges.size() == fail_at ? 9 : 0;
  }
  mutable std::vector<std::pair<unsigned long, unsigned int>> ranges;
  int fail_at;
};

// A command of the queue: records its name, logs a pass, returns rc.
std::vector<std::string> g_order;
class StepCommand : public CCommand {
 public:
  StepCommand(const std::string& n, int rc, CBlkDev* dev) : CCommand(BLKDEV_CMD_DELAY, true), n(n), rc(rc), dev(dev) {}
  std::string GetName() const override { return n; }
  int GetStatus() override { return 0; }
  int Run(bool) override {
    g_order.push_back(n);
    dev->LogFinishedPass(n, rc ? CDeviceReport::completed_with_warnings : CDeviceReport::success);
    return rc;
  }
  bool CanCancel() const override { return false; }
  int Cancel() override { return 0; }
  std::string n;
  int rc;
  CBlkDev* dev;
};

std::mutex g_gate;
int Held(CBlkDev*, int) { return std::lock_guard<std::mutex>(g_gate), 0; }

CBlkDevData Data(const std::string& name, uint64_t size) {
  CBlkDevData d;
  d.name = name, d.major = kUnusedMajor, d.minor = 9, d.size_bytes = size;
  d.model = "Cruzer Blade", d.vendor = "SanDisk";
  return d;
}

}  // namespace

class DeviceTest : public ::testing::Test {
 protected:
  TempRoot root;
  SchemeScope schemes;
  LogCapture logs;
};

// {sectors, failing range} -> ranges of 5 % (whole 1024s, at most 0x3FF000).
TEST_F(DeviceTest, TrimPassRanges) {
  root.MakeImage("zta", 4096, 0);
  struct : FakePlatform {
    int flags = 0;
    int Open(const char* path, int f) override { return flags = f, FakePlatform::Open(path, f); }
  } opens;
  const struct {
    uint64_t sectors;
    int fail_at;
    size_t n;
    unsigned first, last;
    const char* pass_log;
  } rows[] = {{1000000, 0, 21, 49152, 16960, "pass 1: trim pass is success\r\n"},
              {200000000, 0, 48, 0x3FF000, 3060224, "pass 1: trim pass is success\r\n"},
              {1000, 0, 1, 1000, 1000, "pass 1: trim pass is success\r\n"},
              {1000000, 3, 3, 49152, 49152, "pass 1: trim pass is completed-with-warnings\r\n"}};
  for (auto& r : rows) {
    TrimDev dev(r.sectors, r.fail_at);
    EXPECT_EQ(r.fail_at ? 9 : 0, dev.Trim());
    ASSERT_EQ(r.n, dev.ranges.size());
    EXPECT_EQ(r.first, dev.ranges.front().second);
    EXPECT_EQ(r.last, dev.ranges.back().second);
    EXPECT_EQ(r.sectors, r.fail_at ? r.sectors : dev.ranges.back().first + dev.ranges.back().second);
    EXPECT_EQ(r.pass_log, report_of(dev).PassLog());
  }
  EXPECT_EQ(O_RDWR | O_DIRECT, opens.flags);
  EXPECT_TRUE(logs.Has("Disk-zta: trim pass failed", "wipe"));
}

// The queue runs its commands in order past failures; a second run while it
// runs is refused; clearing it while an uncancellable command runs frees the
// device.
TEST_F(DeviceTest, CommandQueue) {
  root.MakeImage("zqa", 1 << 20, 0x77);
  RecordingDev dev("zqa", 1 << 20);
  g_order.clear();
  std::unique_lock<std::mutex> gate(g_gate);
  std::shared_ptr<CCommand> held(new CCommandUninterruptible<CBlkDev, int>(&dev, &Held, 0, 10, "Hold", BLKDEV_CMD_STANDBY));
  for (auto c : {std::shared_ptr<CCommand>(new StepCommand("first", 5, &dev)), std::shared_ptr<CCommand>(),
                 std::shared_ptr<CCommand>(new StepCommand("last", 0, &dev)), held})
    queue_of(dev).push_back(c);
  ASSERT_EQ(0, dev.RunCommandQueue());
  while (held->GetStatus() != CMD_STATUS_RUNNING) usleep(1000);
  EXPECT_EQ(16, dev.RunCommandQueue());  // busy
  dev.ClearCommandQueue();
  EXPECT_TRUE(dev.IsReady() && !dev.IsQueueRunning());
  gate.unlock();
  while (dev.HasGivenUpQueueThreads()) usleep(1000);
  EXPECT_EQ((std::vector<std::string>{"first", "last"}), g_order);
}

TEST_F(DeviceTest, RemovableMedia) {
  // A USB stick: the serial of the USB device whose product and maker match.
  const std::string usb = "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1", scsi = usb + "/2-1:1.0/host6/target6:0:0/6:0:0:0";
  ASSERT_EQ(0, system(("mkdir -p '" + root.Path(scsi) + "' '" + root.Path("/sys/block/sdu") + "'").c_str()));
  ASSERT_EQ(0, symlink(("../../devices/pci0000:00/0000:00:14.0/usb2/2-1" + scsi.substr(usb.size())).c_str(),
                       root.Path("/sys/block/sdu/device").c_str()));
  for (auto& f : {std::make_pair(usb + "/2-1:1.0/host6", "USB Mass Storage"), std::make_pair(usb, "Cruzer Blade")}) {
    root.WriteFile(f.first + "/product", std::string(f.second) + "\n");
    root.WriteFile(f.first + "/manufacturer", "SanDisk\n");
    root.WriteFile(f.first + "/serial", f.first == usb ? "4C530001\n" : "WRONG\n");
  }
  root.MakeImage("sdu", 8192, 0x5A);
  CBlkDevUsb stick(Data("sdu", 8192));
  ASSERT_EQ(0, stick.Init());
  EXPECT_EQ("4C530001", stick.Snapshot().serial);
  EXPECT_TRUE(stick.CanBeWiped() && stick.GetCommandById(BLKDEV_CMD_WIPE));
  EXPECT_EQ(std::vector<unsigned char>(8192, 0x5A), root.ReadImage("sdu"));  // the write test put the byte back

  // Write-protected (a sealed memory file refuses writes even to root): never a wipe.
  int mfd = memfd_create("zv-write-protected", MFD_ALLOW_SEALING);
  ASSERT_EQ(4096, write(mfd, std::vector<unsigned char>(4096, 0x33).data(), 4096));
  ASSERT_EQ(0, fcntl(mfd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW));
  unlink(root.Path("/dev/sdu").c_str());
  ASSERT_EQ(0, symlink(("/proc/self/fd/" + std::to_string(mfd)).c_str(), root.Path("/dev/sdu").c_str()));
  CBlkDevUsb sealed(Data("sdu", 4096));
  ASSERT_EQ(0, sealed.Init());
  EXPECT_TRUE(sealed.commands.empty() && !sealed.GetCommandById(BLKDEV_CMD_WIPE));
  close(mfd);
}

TEST_F(DeviceTest, MissingNodesAreMadeFromTheDeviceNumbers) {
  ASSERT_FALSE(major_is_registered(kUnusedMajor));
  CDevFile f;
  EXPECT_EQ(1, f.OpenFile(kUnusedMajor, 9, "znb", 0));  // nothing answers behind that number
  root.MakeDir("/sys/block/zpa"), root.MakeDir("/sys/block/zpa/zpa3");
  root.WriteFile("/sys/block/zpa/zpa3/size", "4096\n"), root.WriteFile("/sys/block/zpa/zpa3/dev", "241:3\n");
  RecordingDev dev("zpa", 100000 * 512ULL);
  dev.ScanPartitions();
  const std::vector<part_t> parts = dev.Snapshot().partitions;
  ASSERT_EQ(1u, parts.size());
  EXPECT_TRUE(parts[0].number == 3 && parts[0].size == 4096u * 512);
  for (const char* node : {"/dev/znb", "/dev/zpa3"}) {
    struct stat st;
    ASSERT_EQ(0, stat(root.Path(node).c_str(), &st));
    EXPECT_TRUE(S_ISBLK(st.st_mode) && major(st.st_rdev) == (unsigned)kUnusedMajor) << node;
  }
}
