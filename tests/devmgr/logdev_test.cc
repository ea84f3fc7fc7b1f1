// The log medium search over a fake /proc/partitions and sysfs: which
// partitions are tried, which are taken, the commands sent to the shell (the
// "kernel" below only records them and answers for the sticks), the marks and
// the prompt on the console; and the marking of the log disk in the device
// lists, also when it comes back under another name.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/globals.h"
#include "devmgr/devmgr.h"
#include "devmgr/fake_sysfs.h"
#include "support/log_capture.h"

namespace {

// One medium as the fake kernel sees it.
struct fake_medium {
  int mount_rc = 0;   // what "mount" returns (32 as the real one on failure)
  int umount_rc = 0;  // what "umount" returns
  bool read_only = false;
  unsigned long free_blocks = 100;
  int markers = 0;  // files matching zorvane* on it
};

// Records every command and answers mount and umount for the media it knows;
// statvfs and glob look at the medium mounted at /log.
struct FakeKernel {
  std::vector<std::string> commands;
  std::map<std::string, fake_medium> media;
  std::string mounted;  // medium at /log
  std::vector<std::string> globs;
  std::string console;  // text_out, marks and lines as they would appear
  std::vector<int> marks_x;  // column of every mark
  std::deque<int> keys;
  int reads = 0;
  std::function<void(int)> on_key;

  static FakeKernel*& Active() {
    static FakeKernel* k = nullptr;
    return k;
  }
  static int Shell(const char* cmd) {
    FakeKernel& k = *Active();
    k.commands.push_back(cmd);
    char dev[256], where[256];
    if (sscanf(cmd, "/bin/mount /dev/%255s %255s", dev, where) == 2) {
      auto it = k.media.find(dev);
      if (it == k.media.end()) return 32 << 8;
      if (it->second.mount_rc == 0) k.mounted = dev;
      return it->second.mount_rc;
    }
    if (sscanf(cmd, "/bin/umount /dev/%255s", dev) == 1) {
      auto it = k.media.find(dev);
      if (k.mounted == dev) k.mounted.clear();
      return it == k.media.end() ? 32 << 8 : it->second.umount_rc;
    }
    return 0;
  }
  static int Statvfs(const char* path, struct statvfs* st) {
    FakeKernel& k = *Active();
    memset(st, 0, sizeof *st);
    if (std::string(path) != "/log" || k.mounted.empty()) {
      errno = ENOENT;
      return -1;
    }
    const fake_medium& m = k.media[k.mounted];
    st->f_bsize = 4096;
    st->f_blocks = 1000;
    st->f_bfree = st->f_bavail = m.free_blocks;
    st->f_flag = m.read_only ? ST_RDONLY : 0;
    return 0;
  }
  static int Glob(const char* pattern) {
    FakeKernel& k = *Active();
    k.globs.push_back(pattern);
    if (std::string(pattern) != "/log/zorvane*" || k.mounted.empty()) return 0;
    return k.media[k.mounted].markers;
  }
  static void TextOut(int y, int x, const char* text, bool newlines) {
    FakeKernel& k = *Active();
    if (y == 0 && !newlines) k.marks_x.push_back(x);
    const char* nl = newlines ? "\n" : "";
    k.console += std::string(nl) + text + nl;
  }
  static int ReadChar() {
    FakeKernel& k = *Active();
    ++k.reads;
    if (k.keys.empty()) return EOF;
    int c = k.keys.front();
    k.keys.pop_front();
    if (k.on_key) k.on_key(c);
    return c;
  }
  // Only the mount and umount commands of the scan, without "2>/dev/null".
  std::vector<std::string> ScanCommands() const {
    std::vector<std::string> v;
    for (auto& c : commands) {
      std::string s = c.substr(0, c.find(" 2>/dev/null"));
      v.push_back(s);
    }
    return v;
  }
};

const char* kHeader = "major minor  #blocks  name\n\n";

std::string Line(int major, int minor, long long blocks, const char* name) {
  char buf[128];
  snprintf(buf, sizeof buf, "%4d %7d %10lld %s\n", major, minor, blocks, name);
  return buf;
}

}  // namespace

class LogDevTest : public ::testing::Test {
 protected:
  FakeSys sys;
  FakeIoctl ioctls;
  LogCapture logs;
  FakeKernel kernel;
  std::unique_ptr<CBlkDevMgr> mgr{new CBlkDevMgr};
  int saved_nodelay = g_nodelay;
  shell_runner_t saved_shell = g_shell_runner;
  logdev_text_out_fn_t saved_text = g_logdev_text_out;
  logdev_statvfs_fn_t saved_statvfs = g_logdev_statvfs;
  logdev_glob_count_fn_t saved_glob = g_logdev_glob_count;
  logdev_read_char_fn_t saved_read = g_logdev_read_char;

  void SetUp() override {
    FakeKernel::Active() = &kernel;
    g_shell_runner = FakeKernel::Shell;
    g_logdev_text_out = FakeKernel::TextOut;
    g_logdev_statvfs = FakeKernel::Statvfs;
    g_logdev_glob_count = FakeKernel::Glob;
    g_logdev_read_char = FakeKernel::ReadChar;
    g_nodelay = 0;
    sys.MakeDir("/proc");
  }
  void TearDown() override {
    mgr.reset();
    g_nodelay = saved_nodelay;
    g_shell_runner = saved_shell;
    g_logdev_text_out = saved_text;
    g_logdev_statvfs = saved_statvfs;
    g_logdev_glob_count = saved_glob;
    g_logdev_read_char = saved_read;
    FakeKernel::Active() = nullptr;
  }
  // An internal SATA disk and a USB stick in sysfs (no images needed: the
  // scan only reads sysfs and the nodes are the test's files).
  void Internal(const std::string& name) {
    fake_drive d;
    d.node = false;
    sys.AddDrive(name, d);
  }
  void Stick(const std::string& name, int minor, const char* bus = "usb1") {
    fake_drive d;
    d.node = false;
    d.usb = bus;
    d.minor = minor;
    sys.AddDrive(name, d);
  }
  void Partitions(const std::string& lines) { sys.WriteFile("/proc/partitions", kHeader + lines); }
  void Node(const std::string& name) { sys.WriteFile("/dev/" + name, ""); }
  std::vector<std::string> SetLogCommands(const std::string& part) {
    return {"mkdir /log-temp",
            "/bin/cp /log/*.log /log-temp 2>/dev/null",
            "/bin/umount /log 2>/dev/null",
            "/bin/mount /dev/" + part + " /log 2>/dev/null",
            "/bin/cp /log-temp/*.log /log 2>/dev/null",
            "/bin/rm -rf /log-temp 2>/dev/null"};
  }
  std::vector<std::string> Tail(size_t n) {
    return std::vector<std::string>(kernel.commands.end() - (long)std::min(n, kernel.commands.size()),
                                    kernel.commands.end());
  }
};

// Two USB sticks: the one holding two zorvane* files scores 3 and wins over
// the empty one (score 1), though the empty one comes first. Internal disks
// print x and are never mounted; a whole stick with a partition table does
// not mount (-); the 1-block extended partition stub is not looked at.
TEST_F(LogDevTest, StickWithMostLogsWinsInternalDisksNeverMounted) {
  Internal("sda");
  Stick("sdb", 16);
  Stick("sdc", 32, "usb2");
  Partitions(Line(8, 0, 1048576, "sda") + Line(8, 1, 524288, "sda1") + Line(8, 2, 1, "sda2") +
             Line(kUnusedMajor, 16, 1000, "sdb") + Line(kUnusedMajor, 17, 999, "sdb1") +
             Line(kUnusedMajor, 32, 1000, "sdc") + Line(kUnusedMajor, 33, 999, "sdc1"));
  for (const char* n : {"sdb", "sdb1", "sdc", "sdc1"}) Node(n);
  kernel.media["sdb"].mount_rc = 32 << 8;
  kernel.media["sdc"].mount_rc = 32 << 8;
  kernel.media["sdb1"];
  kernel.media["sdc1"].markers = 2;

  EXPECT_EQ(0, mgr->AutoSetLogDevice());
  EXPECT_EQ("xx-+-+", kernel.console);
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5}), kernel.marks_x);
  ASSERT_EQ(2u, mgr->log_devices.size());
  EXPECT_EQ("sdb1", mgr->log_devices[0].name);
  EXPECT_EQ("sdb", mgr->log_devices[0].disk);
  EXPECT_EQ(1, mgr->log_devices[0].score);
  EXPECT_EQ(kUnusedMajor, mgr->log_devices[0].major);
  EXPECT_EQ(17, mgr->log_devices[0].minor);
  EXPECT_EQ(999, mgr->log_devices[0].blocks);
  EXPECT_EQ(3, mgr->log_devices[1].score);
  EXPECT_EQ(1, mgr->GetBestLogDeviceIndex());
  std::vector<std::string> expected = {"/bin/mount /dev/sdb /log 2>/dev/null",
                                       "/bin/mount /dev/sdb1 /log 2>/dev/null",
                                       "/bin/umount /dev/sdb1 2>/dev/null",
                                       "/bin/mount /dev/sdc /log 2>/dev/null",
                                       "/bin/mount /dev/sdc1 /log 2>/dev/null",
                                       "/bin/umount /dev/sdc1 2>/dev/null"};
  for (auto& c : SetLogCommands("sdc1")) expected.push_back(c);
  EXPECT_EQ(expected, kernel.commands);
  EXPECT_EQ((std::vector<std::string>{"/log/zorvane*", "/log/zorvane*"}), kernel.globs);
  EXPECT_EQ("sdc", mgr->log_device_name);
  EXPECT_EQ(0, kernel.reads);
}

TEST_F(LogDevTest, EqualScoresGoToTheFirstListedAndMissingNodesAreCreated) {
  Stick("sdc", 32);
  Stick("sdb", 16);
  // sdc before sdb in /proc/partitions; neither node exists yet.
  Partitions(Line(kUnusedMajor, 33, 999, "sdc1") + Line(kUnusedMajor, 17, 999, "sdb1"));
  kernel.media["sdb1"];
  kernel.media["sdc1"];
  EXPECT_EQ(2, mgr->ScanLogDevices("/log"));
  EXPECT_EQ(0, mgr->GetBestLogDeviceIndex());
  EXPECT_EQ("sdc1", mgr->log_devices[0].name);
  struct stat st;
  ASSERT_EQ(0, stat(sys.Path("/dev/sdc1").c_str(), &st));
  EXPECT_TRUE(S_ISBLK(st.st_mode));
  EXPECT_EQ((unsigned)kUnusedMajor, major(st.st_rdev));
  EXPECT_EQ(33u, minor(st.st_rdev));
  // Scores at or below -1 never win; an empty list has no best.
  mgr->log_devices[0].score = mgr->log_devices[1].score = -1;
  EXPECT_EQ(-1, mgr->GetBestLogDeviceIndex());
  mgr->log_devices.clear();
  EXPECT_EQ(-1, mgr->GetBestLogDeviceIndex());
}

// Read-only and full sticks are mounted, looked at, rejected and unmounted; a
// failed unmount is logged with the raw status. No candidate: with the short
// mode on, start-up goes on at once after the first message.
TEST_F(LogDevTest, ReadOnlyOrFullSticksAreRejectedAndUnmounted) {
  g_nodelay = 1;
  Stick("sdb", 16);
  Stick("sdc", 32);
  Partitions(Line(kUnusedMajor, 17, 999, "sdb1") + Line(kUnusedMajor, 33, 999, "sdc1"));
  Node("sdb1");
  Node("sdc1");
  kernel.media["sdb1"].read_only = true;
  kernel.media["sdb1"].markers = 5;
  kernel.media["sdc1"].free_blocks = 0;
  kernel.media["sdc1"].umount_rc = 1 << 8;

  EXPECT_EQ(0, mgr->AutoSetLogDevice());
  EXPECT_EQ((std::vector<std::string>{"/bin/mount /dev/sdb1 /log 2>/dev/null", "/bin/umount /dev/sdb1 2>/dev/null",
                                      "/bin/mount /dev/sdc1 /log 2>/dev/null", "/bin/umount /dev/sdc1 2>/dev/null"}),
            kernel.commands);
  EXPECT_TRUE(mgr->log_devices.empty());
  EXPECT_TRUE(kernel.globs.empty());
  EXPECT_TRUE(logs.Has("Device sdc1 umount with exit code 256", "wipe"));
  EXPECT_FALSE(logs.Has("Device sdb1 umount"));
  EXPECT_EQ("++\nCould not find an appropriate removable device for log file\n", kernel.console);
  EXPECT_EQ(0, kernel.reads);
  EXPECT_EQ("", mgr->log_device_name);
}

TEST_F(LogDevTest, WholeStickWithoutPartitionTableAndFloppiesAreCandidates) {
  Stick("sdb", 16);
  sys.MakeDir("/sys/block/fd0");  // a floppy: no bus to look at
  sys.MakeDir("/sys/block/mmcblk0");
  Partitions(Line(kUnusedMajor, 16, 1000, "sdb") + Line(2, 0, 1440, "fd0") + Line(179, 1, 1000, "mmcblk0p1"));
  for (const char* n : {"sdb", "fd0", "mmcblk0p1"}) Node(n);
  kernel.media["sdb"];
  kernel.media["fd0"].markers = 1;
  EXPECT_EQ(2, mgr->ScanLogDevices("/log"));
  EXPECT_EQ("++x", kernel.console);
  EXPECT_EQ("sdb", mgr->log_devices[0].disk);
  EXPECT_EQ("fd0", mgr->log_devices[1].disk);
  EXPECT_EQ(1, mgr->GetBestLogDeviceIndex());
  // The card reader without a device link could not be resolved: logged,
  // and taken as not removable.
  EXPECT_TRUE(logs.Has("Unable to canonicalize path " + sys.Path("/sys/block/mmcblk0/device") + ": ", "wipe"));
}

// A line whose name no kernel would give never reaches a mount command line.
TEST_F(LogDevTest, NamesWithShellCharactersAreSkipped) {
  Stick("sdb", 16);
  Partitions(Line(kUnusedMajor, 17, 999, "sdb1;reboot") + Line(kUnusedMajor, 18, 999, "sdb$(x)") +
             Line(kUnusedMajor, 17, 999, "sdb1"));
  Node("sdb1");
  kernel.media["sdb1"];
  EXPECT_EQ(1, mgr->ScanLogDevices("/log"));
  EXPECT_EQ((std::vector<std::string>{"/bin/mount /dev/sdb1 /log 2>/dev/null", "/bin/umount /dev/sdb1 2>/dev/null"}),
            kernel.commands);
}

TEST_F(LogDevTest, PartitionToDisk) {
  Stick("sdb", 16);
  Internal("nvme0n1");
  sys.MakeDir("/sys/block/mmcblk0");
  sys.MakeDirs("/sys/devices/platform/USB3/mmc_host/mmc0/mmc0:0001");
  ASSERT_EQ(0, symlink(sys.Path("/sys/devices/platform/USB3/mmc_host/mmc0/mmc0:0001").c_str(),
                       sys.Path("/sys/block/mmcblk0/device").c_str()));
  CLogDev r;
  r.name = "sdb12";
  EXPECT_EQ(0, mgr->CheckLogDevicePartition(r));
  EXPECT_EQ("sdb", r.disk);
  r.name = "mmcblk0p1";  // "USB" in capitals counts as well
  EXPECT_EQ(0, mgr->CheckLogDevicePartition(r));
  EXPECT_EQ("mmcblk0", r.disk);
  r.name = "nvme0n1p3";
  EXPECT_EQ(1, mgr->CheckLogDevicePartition(r));
  EXPECT_EQ("nvme0n1", r.disk);
  r.disk.clear();
  r.name = "";
  EXPECT_EQ(-1, mgr->CheckLogDevicePartition(r));
  r.name = "zz9";
  EXPECT_EQ(-1, mgr->CheckLogDevicePartition(r));
  EXPECT_EQ("", r.disk);
}

TEST_F(LogDevTest, UnreadablePartitionListKeepsTheOldList) {
  mgr->log_devices.push_back(CLogDev());
  EXPECT_EQ(0, mgr->ScanLogDevices("/log"));
  EXPECT_EQ(1u, mgr->log_devices.size());
  EXPECT_TRUE(kernel.commands.empty());
}

// The prompt: any key but d scans again (here the operator has just plugged
// in a stick), d or D goes on without a log medium, and so does the end of
// the input.
TEST_F(LogDevTest, PromptRescansOnAnyKeyAndGivesUpOnD) {
  Partitions("");
  const std::string missing = "\nCould not find an appropriate removable device for log file\n";
  const std::string prompt = "\nPress 'D' to disable log, any other key to rescan\n";

  kernel.keys = {'x', '\n', 'd'};
  EXPECT_EQ(0, mgr->AutoSetLogDevice());
  EXPECT_EQ(3, kernel.reads);
  EXPECT_EQ(missing + prompt + missing + prompt + missing + prompt, kernel.console);
  EXPECT_TRUE(kernel.commands.empty());

  kernel = FakeKernel();
  kernel.keys = {'D'};
  EXPECT_EQ(0, mgr->AutoSetLogDevice());
  EXPECT_EQ(1, kernel.reads);

  kernel = FakeKernel();
  EXPECT_EQ(0, mgr->AutoSetLogDevice());  // no input left
  EXPECT_EQ(1, kernel.reads);
  EXPECT_EQ("", mgr->log_device_name);

  kernel = FakeKernel();
  kernel.keys = {'r'};
  kernel.on_key = [&](int) {
    Stick("sdb", 16);
    Node("sdb1");
    kernel.media["sdb1"];
    Partitions(Line(kUnusedMajor, 17, 999, "sdb1"));
  };
  EXPECT_EQ(0, mgr->AutoSetLogDevice());
  EXPECT_EQ(1, kernel.reads);
  EXPECT_EQ(SetLogCommands("sdb1"), Tail(6));
  EXPECT_EQ("sdb", mgr->log_device_name);
}

// The console output before the screen exists is plain standard output.
TEST_F(LogDevTest, MarksAndMessagesOnStandardOutput) {
  g_logdev_text_out = saved_text;
  g_nodelay = 1;
  Internal("sda");
  Stick("sdb", 16);
  Partitions(Line(8, 1, 1000, "sda1") + Line(kUnusedMajor, 17, 999, "sdb1") + Line(kUnusedMajor, 18, 999, "sdb2"));
  Node("sdb1");
  Node("sdb2");
  kernel.media["sdb1"].read_only = true;
  kernel.media["sdb2"].mount_rc = 32 << 8;
  testing::internal::CaptureStdout();
  mgr->AutoSetLogDevice();
  EXPECT_EQ("x+-\nCould not find an appropriate removable device for log file\n",
            testing::internal::GetCapturedStdout());
}

// Mounting: the commands in order, the mount's result returned, and every
// listed or held-back device marked by whether it is the log disk.
TEST_F(LogDevTest, SetLogDeviceMountsAndMarksTheDisk) {
  fake_drive d;
  sys.AddDrive("sda", d);
  d.minor = 1;
  d.usb = "usb1";
  sys.AddDrive("sdb", d);
  d.minor = 2;
  d.usb = nullptr;
  d.type = 5;  // CD/DVD: held back
  sys.AddDrive("sr0", d);
  for (const char* n : {"sda", "sdb", "sr0"}) mgr->AddDevice(n);
  ASSERT_EQ(2, mgr->GetCount());
  ASSERT_EQ(1, mgr->GetHeldBackCount());
  std::shared_ptr<CBlkDev> sda = mgr->GetBlkDev(0), sdb = mgr->GetBlkDev(1);
  sda->SetWiping(WIPING_SET);
  sdb->SetWiping(WIPING_SET);
  ASSERT_EQ(1, sdb->wipe_selected);

  kernel.media["sdb1"].mount_rc = 5;
  CLogDev rec;
  rec.name = "sdb1";
  rec.disk = "sdb";
  EXPECT_EQ(5, mgr->SetLogDevice(rec));
  EXPECT_EQ(SetLogCommands("sdb1"), kernel.commands);
  EXPECT_EQ("sdb", mgr->log_device_name);
  EXPECT_EQ(0, sda->log_device);
  EXPECT_EQ(1, sdb->log_device);
  EXPECT_EQ(0, sdb->wipe_selected);  // a selection made before is dropped
  EXPECT_STREQ("LOG ", sdb->GetWipingStatusString());
  EXPECT_STREQ("WIPE", sda->GetWipingStatusString());
  EXPECT_EQ(0, sdb->SetWiping(WIPING_SET));
  EXPECT_EQ(0, sdb->SetWiping(WIPING_TOGGLE));
  EXPECT_FALSE(sdb->IsSelectedForWiping());

  // Another disk chosen later: the marks follow the name.
  rec.name = "sr0";
  rec.disk = "sr0";
  mgr->SetLogDevice(rec);
  EXPECT_EQ(0, sdb->log_device);
  EXPECT_EQ(1, mgr->GetHeldBackDev(0)->log_device);
}

class LogDiskListTest : public LogDevTest {
 protected:
  MonitorStepper stepper;
  void SetUp() override {
    LogDevTest::SetUp();
    CLogDev rec;
    rec.name = "sdb1";
    rec.disk = "sdb";
    mgr->SetLogDevice(rec);  // at start-up: nothing listed yet
  }
  void TearDown() override {
    stepper.FreeRun();
    LogDevTest::TearDown();
  }
  void Start() { mgr->StartScanDevices(); }
  fake_drive StickData(int minor) {
    fake_drive d;
    d.usb = "usb1";
    d.minor = minor;
    d.model = "Log Stick";
    return d;
  }
};

// The log disk found by the monitor after start-up is marked before anyone
// sees it; when it is pulled out and comes back within 30 s it is the same
// object, still marked; when it comes back later under a new name, it is
// recognised by size, model and serial. Another disk just like it, while the
// log disk is listed, is an ordinary disk.
TEST_F(LogDiskListTest, TheLogDiskStaysMarkedThroughUnplugAndReturn) {
  sys.AddDrive("sda");
  sys.AddDrive("sdb", StickData(1));
  Start();
  stepper.Apply();
  ASSERT_EQ(2, mgr->GetCount());
  std::shared_ptr<CBlkDev> stick = mgr->GetBlkDev(1);
  EXPECT_EQ("sdb", stick->name);
  EXPECT_TRUE(stick->IsLogDevice());
  EXPECT_FALSE(mgr->GetBlkDev(0)->IsLogDevice());

  // An identical stick while the log stick is there: wipeable.
  sys.AddDrive("sdc", StickData(2));
  stepper.Apply();
  ASSERT_EQ(3, mgr->GetCount());
  EXPECT_FALSE(mgr->GetBlkDev(2)->IsLogDevice());
  sys.RemoveDrive("sdc");
  stepper.Apply();

  // Out and back within 30 s, under a new name: the old object.
  sys.RemoveDrive("sdb");
  stepper.Apply();
  EXPECT_TRUE(stick->IsDisconnected());
  sys.AddDrive("sdd", StickData(1));
  stepper.Apply();
  EXPECT_FALSE(stick->IsDisconnected());
  EXPECT_EQ("sdd", stick->name);
  EXPECT_TRUE(stick->IsLogDevice());
  EXPECT_EQ(0, stick->SetWiping(WIPING_SET));
  EXPECT_FALSE(stick->IsSelectedForWiping());

  // Out for longer than 30 s: the entry goes; back as sde, a new object.
  sys.RemoveDrive("sdd");
  stepper.Apply();
  stepper.AdvanceClock(DEVMGR_RECONNECT_SECONDS + 5);
  stepper.Apply();
  for (int i = 0; i < mgr->GetCount(); ++i) EXPECT_NE(mgr->GetBlkDev(i), stick);
  logs.Clear();
  sys.AddDrive("sde", StickData(1));
  stepper.Apply();
  std::shared_ptr<CBlkDev> back;
  for (int i = 0; i < mgr->GetCount(); ++i)
    if (mgr->GetBlkDev(i)->name == "sde") back = mgr->GetBlkDev(i);
  ASSERT_TRUE(back);
  EXPECT_NE(back, stick);
  EXPECT_TRUE(back->IsLogDevice());
  EXPECT_STREQ("LOG ", back->GetWipingStatusString());
  EXPECT_EQ(0, back->SetWiping(WIPING_SET));
  EXPECT_FALSE(back->IsSelectedForWiping());
  EXPECT_TRUE(logs.Has("Disk-sde: the log device 'sdb' is back under this name; it will not be wiped.", "wipe"));
}

// A disk named like the log disk found after start-up is marked even when
// the monitor was not the one to find it first (AddDevice alone).
TEST_F(LogDiskListTest, AddDeviceMarksByName) {
  sys.AddDrive("sda");
  sys.AddDrive("sdb", StickData(1));
  mgr->AddDevice("sdb");
  mgr->AddDevice("sda");
  EXPECT_TRUE(mgr->GetBlkDev(0)->IsLogDevice());
  EXPECT_FALSE(mgr->GetBlkDev(1)->IsLogDevice());
  EXPECT_STREQ("----", mgr->GetBlkDev(1)->GetWipingStatusString());
}
