// The log medium search over a fake /proc/partitions and sysfs: which
// partitions are tried and taken, the commands sent to the shell (the
// "kernel" below records them and answers for the sticks), the marks and the
// prompt on the console; and the log disk kept out of the wipe, also when it
// comes back under another name.
#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <deque>
#include <functional>
#include <map>

#include "app/globals.h"
#include "devmgr/fake_sysfs.h"
#include "support/log_capture.h"
#include "support/scoped.h"

namespace {

struct fake_medium {
  int mount_rc = 0, umount_rc = 0, read_only = 0, markers = 0;  // markers: zorvane* files on it
  unsigned long free_blocks = 100;
};

// Answers mount and umount for the media it knows; statvfs and glob look at
// the medium last mounted; the console and the operator's keys.
struct FakeKernel {
  std::vector<std::string> commands;
  std::map<std::string, fake_medium> media;
  std::string mounted, console;
  std::deque<int> keys;
  int reads = 0;
  std::function<void()> on_key;

  static FakeKernel*& k() {
    static FakeKernel* a = nullptr;
    return a;
  }
  static int Shell(const char* cmd) {
    k()->commands.push_back(cmd);
    char dev[256];
    bool mount = sscanf(cmd, "/bin/mount /dev/%255s", dev) == 1;
    if (!mount && sscanf(cmd, "/bin/umount /dev/%255s", dev) != 1) return 0;
    auto it = k()->media.find(dev);
    if (it == k()->media.end()) return 32 << 8;
    if (mount && it->second.mount_rc == 0) k()->mounted = dev;
    return mount ? it->second.mount_rc : it->second.umount_rc;
  }
  static int Statvfs(const char*, struct statvfs* st) {
    memset(st, 0, sizeof *st);
    st->f_bfree = k()->media[k()->mounted].free_blocks;
    st->f_flag = k()->media[k()->mounted].read_only ? ST_RDONLY : 0;
    return 0;
  }
  static int Glob(const char* p) { return std::string(p) == "/log/zorvane*" ? k()->media[k()->mounted].markers : -100; }
  static void TextOut(int, int, const char* text, bool newlines) {
    k()->console += std::string(newlines ? "\n" : "") + text + (newlines ? "\n" : "");
  }
  static int ReadChar() {
    ++k()->reads;
    if (k()->keys.empty()) return EOF;
    int c = k()->keys.front();
    k()->keys.pop_front();
    if (k()->on_key) k()->on_key();
    return c;
  }
};

std::string Line(int major, int minor, long long blocks, const char* name) {
  char buf[128];
  snprintf(buf, sizeof buf, "%4d %7d %10lld %s\n", major, minor, blocks, name);
  return buf;
}

std::vector<std::string> SetLogCommands(const std::string& part) {
  return {"mkdir /log-temp", "/bin/cp /log/*.log /log-temp 2>/dev/null", "/bin/umount /log 2>/dev/null",
          "/bin/mount /dev/" + part + " /log 2>/dev/null", "/bin/cp /log-temp/*.log /log 2>/dev/null",
          "/bin/rm -rf /log-temp 2>/dev/null"};
}

}  // namespace

class LogDevTest : public ::testing::Test {
 protected:
  FakeSys sys;
  LogCapture logs;
  FakeKernel kernel;
  CBlkDevMgr mgr;
  Scoped<FakeKernel*> active{FakeKernel::k(), &kernel};
  Scoped<int> nodelay{g_nodelay, 0};
  Scoped<shell_runner_t> shell{g_shell_runner, FakeKernel::Shell};
  Scoped<logdev_text_out_fn_t> text{g_logdev_text_out, FakeKernel::TextOut};
  Scoped<logdev_statvfs_fn_t> fs{g_logdev_statvfs, FakeKernel::Statvfs};
  Scoped<logdev_glob_count_fn_t> markers{g_logdev_glob_count, FakeKernel::Glob};
  Scoped<logdev_read_char_fn_t> keys{g_logdev_read_char, FakeKernel::ReadChar};

  LogDevTest() { sys.MakeDir("/proc"); }
  void Drive(const std::string& name, const char* usb, int minor = 0) {
    fake_drive d;
    d.node = false;
    d.usb = usb;
    d.minor = minor;
    sys.AddDrive(name, d);
  }
  void Partitions(const std::string& lines) { sys.WriteFile("/proc/partitions", "major minor  #blocks  name\n\n" + lines); }
};

// The stick holding two zorvane* files scores 3 and wins over the empty one
// listed first (score 1). The internal disk prints x and is never mounted; a
// whole stick with a partition table does not mount (-); the 1-block
// extended partition stub and names no kernel gives are not looked at.
TEST_F(LogDevTest, StickWithMostLogsWinsInternalDisksNeverMounted) {
  Drive("sda", nullptr);
  Drive("sdb", "usb1", 16);
  Drive("sdc", "usb2", 32);
  Partitions(Line(8, 0, 1048576, "sda") + Line(8, 1, 524288, "sda1") + Line(8, 2, 1, "sda2") +
             Line(kUnusedMajor, 16, 1000, "sdb") + Line(kUnusedMajor, 17, 999, "sdb1") +
             Line(kUnusedMajor, 17, 999, "sdb1;reboot") + Line(kUnusedMajor, 32, 1000, "sdc") +
             Line(kUnusedMajor, 33, 999, "sdc1"));
  for (const char* n : {"sdb", "sdb1", "sdc", "sdc1"}) sys.WriteFile(std::string("/dev/") + n, "");
  kernel.media["sdb"].mount_rc = kernel.media["sdc"].mount_rc = 32 << 8;
  kernel.media["sdb1"];
  kernel.media["sdc1"].markers = 2;

  EXPECT_EQ(0, mgr.AutoSetLogDevice());
  EXPECT_EQ("xx-+-+", kernel.console);
  std::vector<std::string> expected = {"/bin/mount /dev/sdb /log 2>/dev/null", "/bin/mount /dev/sdb1 /log 2>/dev/null",
                                       "/bin/umount /dev/sdb1 2>/dev/null",   "/bin/mount /dev/sdc /log 2>/dev/null",
                                       "/bin/mount /dev/sdc1 /log 2>/dev/null", "/bin/umount /dev/sdc1 2>/dev/null"};
  for (auto& c : SetLogCommands("sdc1")) expected.push_back(c);
  EXPECT_EQ(expected, kernel.commands);
  EXPECT_EQ("sdc", mgr.log_device_name);
  EXPECT_EQ(0, kernel.reads);
}

// Read-only and full sticks are mounted, rejected and unmounted (a failed
// unmount is logged). Without a candidate, the short mode goes on at once.
TEST_F(LogDevTest, ReadOnlyOrFullSticksAreRejected) {
  g_nodelay = 1;
  Drive("sdb", "usb1", 16);
  Drive("sdc", "usb1", 32);
  Partitions(Line(kUnusedMajor, 17, 999, "sdb1") + Line(kUnusedMajor, 33, 999, "sdc1"));
  kernel.media["sdb1"].read_only = true;
  kernel.media["sdb1"].markers = 5;
  kernel.media["sdc1"].free_blocks = 0;
  kernel.media["sdc1"].umount_rc = 1 << 8;
  EXPECT_EQ(0, mgr.AutoSetLogDevice());
  EXPECT_EQ((std::vector<std::string>{"/bin/mount /dev/sdb1 /log 2>/dev/null", "/bin/umount /dev/sdb1 2>/dev/null",
                                      "/bin/mount /dev/sdc1 /log 2>/dev/null", "/bin/umount /dev/sdc1 2>/dev/null"}),
            kernel.commands);
  EXPECT_TRUE(logs.Has("Device sdc1 umount with exit code 256", "wipe"));
  EXPECT_EQ("++\nCould not find an appropriate removable device for log file\n", kernel.console);
  EXPECT_EQ(0, kernel.reads);
  EXPECT_EQ("", mgr.log_device_name);
}

// The disk of a partition, and whether it is removable (USB or floppy: 0).
TEST_F(LogDevTest, PartitionToDiskAndWhetherItIsRemovable) {
  Drive("sdb", "usb1");
  Drive("nvme0n1", nullptr);
  sys.MakeDir("/sys/block/fd0");
  for (auto r : std::vector<std::tuple<const char*, int, const char*>>{
           {"sdb12", 0, "sdb"}, {"fd0", 0, "fd0"}, {"nvme0n1p3", 1, "nvme0n1"}, {"", -1, ""}, {"zz9", -1, ""}}) {
    CLogDev rec;
    rec.name = std::get<0>(r);
    EXPECT_EQ(std::get<1>(r), mgr.CheckLogDevicePartition(rec)) << rec.name;
    EXPECT_EQ(std::get<2>(r), rec.disk) << rec.name;
  }
}

// Any key but d scans again (here the operator has just plugged in a stick);
// d, D and the end of the input go on without a log medium.
TEST_F(LogDevTest, PromptRescansOnAnyKeyAndGivesUpOnD) {
  Partitions("");
  const std::string missing = "\nCould not find an appropriate removable device for log file\n",
                    prompt = "\nPress 'D' to disable log, any other key to rescan\n";
  for (auto keys : {std::deque<int>{'x', '\n', 'd'}, std::deque<int>{'D'}, std::deque<int>{}}) {
    kernel = FakeKernel();
    kernel.keys = keys;
    EXPECT_EQ(0, mgr.AutoSetLogDevice());
    EXPECT_EQ(std::max<int>(1, (int)keys.size()), kernel.reads);
    std::string screen;
    for (int i = 0; i < kernel.reads; ++i) screen += missing + prompt;
    EXPECT_EQ(screen, kernel.console);
  }
  kernel = FakeKernel();
  kernel.keys = {'r'};
  kernel.on_key = [&] {
    Drive("sdb", "usb1", 16);
    kernel.media["sdb1"];
    Partitions(Line(kUnusedMajor, 17, 999, "sdb1"));
  };
  EXPECT_EQ(0, mgr.AutoSetLogDevice());
  EXPECT_EQ(1, kernel.reads);
  EXPECT_EQ("sdb", mgr.log_device_name);
}

// The log disk is never selected: marked when chosen (a selection made before
// is dropped), when found by the monitor later, when back within 30 s under a
// new name (the same entry) and when back after its entry was dropped (by
// size, model and serial). A disk just like it while it is listed is an
// ordinary disk.
TEST_F(LogDevTest, TheLogDiskStaysMarkedThroughUnplugAndReturn) {
  Monitor monitor;
  fake_drive stick;
  stick.usb = "usb1";
  stick.minor = 1;
  stick.model = "Log Stick";
  sys.AddDrive("sda");
  sys.AddDrive("sdb", stick);
  monitor.Pass(mgr);
  mgr.GetBlkDev(1)->SetWiping(WIPING_SET);
  CLogDev rec;
  rec.name = "sdb1";
  rec.disk = "sdb";
  kernel.media["sdb1"];
  EXPECT_EQ(0, mgr.SetLogDevice(rec));
  EXPECT_EQ(SetLogCommands("sdb1"), kernel.commands);
  std::shared_ptr<CBlkDev> log = mgr.GetBlkDev(1);
  auto never_selected = [&](const std::shared_ptr<CBlkDev>& d) {
    EXPECT_TRUE(d->IsLogDevice()) << d->name;
    EXPECT_EQ(0, d->SetWiping(WIPING_SET)) << d->name;
    EXPECT_FALSE(d->IsSelectedForWiping()) << d->name;
    EXPECT_STREQ("LOG ", d->GetWipingStatusString());
  };
  never_selected(log);
  EXPECT_FALSE(mgr.GetBlkDev(0)->IsLogDevice());

  sys.AddDrive("sdc", stick);  // a twin
  monitor.Pass(mgr);
  EXPECT_FALSE(mgr.GetBlkDev(2)->IsLogDevice());
  sys.RemoveDrive("sdc");
  sys.RemoveDrive("sdb");
  monitor.Pass(mgr);
  sys.AddDrive("sdd", stick);
  monitor.Pass(mgr);
  EXPECT_EQ("sdd", log->name);
  never_selected(log);

  sys.RemoveDrive("sdd");
  monitor.Pass(mgr);
  monitor.Advance(DEVMGR_RECONNECT_SECONDS + 5);
  monitor.Pass(mgr);
  ASSERT_EQ(1, mgr.GetCount());
  sys.AddDrive("sde", stick);
  monitor.Pass(mgr);
  ASSERT_EQ(2, mgr.GetCount());
  never_selected(mgr.GetBlkDev(1));
  EXPECT_TRUE(logs.Has("Disk-sde: the log device 'sdb' is back under this name; it will not be wiped.", "wipe"));
}
