// The log medium search over a fake /proc/partitions and sysfs (a fake kernel records the shell commands):
// which partitions are tried and taken, the marks on the console; and the log disk kept out of the wipe,
// also when it comes back under another name.
#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <map>

#include "app/globals.h"
#include "devmgr/fake_sysfs.h"
#include "support/log_capture.h"
#include "support/scoped.h"

namespace {

struct fake_medium {
  int mount_rc = 0, markers = 0;  // markers: zorvane* files on it
};

// Answers mount for the media it knows; statvfs and glob look at the medium
// last mounted; the operator presses no key.
struct FakeKernel : FakePlatform {
  std::vector<std::string> commands;
  std::map<std::string, fake_medium> media;
  std::string mounted, console;

  int Shell(const char* cmd) override {
    commands.push_back(cmd);
    char dev[256];
    if (sscanf(cmd, "/bin/mount /dev/%255s", dev) != 1) return 0;
    auto it = media.find(dev);
    if (it == media.end()) return 32 << 8;
    if (it->second.mount_rc == 0) mounted = dev;
    return it->second.mount_rc;
  }
  int Statvfs(const char*, struct statvfs* st) override { return memset(st, 0, sizeof *st), st->f_bfree = 100, 0; }
  int GlobCount(const char* p) override { return std::string(p) == "/log/zorvane*" ? media[mounted].markers : -100; }
  void ConsoleText(int, int, const char* text, bool newlines) override { console += newlines ? "\n" : text; }
  int ConsoleChar() override { return EOF; }
};

std::string Line(int major, int minor, long long blocks, const char* name) {
  return "   " + std::to_string(major) + "   " + std::to_string(minor) + "   " + std::to_string(blocks) + " " + name + "\n";
}

}  // namespace

class LogDevTest : public ::testing::Test {
 protected:
  FakeSys sys;
  LogCapture logs;
  FakeKernel kernel;
  CBlkDevMgr mgr;
  Scoped<int> nodelay{g_nodelay, 1};
};

// The stick holding two zorvane* files wins over the empty one listed
// first. The internal disk prints x and is never mounted; a whole stick with
// a partition table does not mount (-); the 1-block extended partition stub
// and names no kernel gives are not looked at.
TEST_F(LogDevTest, StickWithMostLogsWinsInternalDisksNeverMounted) {
  sys.MakeDir("/proc");
  fake_drive d;
  d.node = false;
  sys.AddDrive("sda", d);
  d.usb = "usb1", d.minor = 16;
  sys.AddDrive("sdb", d);
  d.minor = 32;
  sys.AddDrive("sdc", d);
  sys.WriteFile("/proc/partitions", "major minor  #blocks  name\n\n" + Line(8, 0, 1048576, "sda") +
                                        Line(8, 1, 524288, "sda1") + Line(8, 2, 1, "sda2") +
                                        Line(kUnusedMajor, 16, 1000, "sdb") + Line(kUnusedMajor, 17, 999, "sdb1") +
                                        Line(kUnusedMajor, 17, 999, "sdb1;reboot") +
                                        Line(kUnusedMajor, 32, 1000, "sdc") + Line(kUnusedMajor, 33, 999, "sdc1"));
  for (const char* n : {"sdb", "sdb1", "sdc", "sdc1"}) sys.WriteFile(std::string("/dev/") + n, "");
  kernel.media["sdb"].mount_rc = kernel.media["sdc"].mount_rc = 32 << 8;
  kernel.media["sdb1"];
  kernel.media["sdc1"].markers = 2;

  EXPECT_EQ(0, mgr.AutoSetLogDevice());
  EXPECT_EQ("xx-+-+", kernel.console);
  EXPECT_EQ("sdc", mgr.log_device_name);
  for (const std::string& c : kernel.commands) EXPECT_EQ(std::string::npos, c.find("sda")) << c;
  EXPECT_EQ("/bin/mount /dev/sdc1 /log 2>/dev/null", kernel.commands[kernel.commands.size() - 3]);
}

// The log disk is never selected: marked when chosen (a selection made before
// is dropped), when back within 30 s under a new name (the same entry) and
// when back after its entry was dropped (by size, model and serial). A disk
// just like it while it is listed is an ordinary disk.
TEST_F(LogDevTest, TheLogDiskStaysMarkedThroughUnplugAndReturn) {
  fake_drive stick;
  stick.usb = "usb1", stick.minor = 1, stick.model = "Log Stick";
  sys.AddDrive("sda");
  sys.AddDrive("sdb", stick);
  sys.Pass(mgr);
  mgr.GetBlkDev(1)->SetWiping(WIPING_SET);
  CLogDev rec;
  rec.name = "sdb1", rec.disk = "sdb";
  kernel.media["sdb1"];
  EXPECT_EQ(0, mgr.SetLogDevice(rec));
  std::shared_ptr<CBlkDev> log = mgr.GetBlkDev(1);
  auto never_selected = [&](const std::shared_ptr<CBlkDev>& d) {
    EXPECT_TRUE(d->IsLogDevice() && d->SetWiping(WIPING_SET) == 0 && !d->IsSelectedForWiping()) << d->Name();
  };
  never_selected(log);
  EXPECT_FALSE(mgr.GetBlkDev(0)->IsLogDevice());

  sys.AddDrive("sdc", stick);  // a twin
  sys.Pass(mgr);
  EXPECT_FALSE(mgr.GetBlkDev(2)->IsLogDevice());
  sys.RemoveDrive("sdc");
  sys.RemoveDrive("sdb");
  sys.Pass(mgr);
  sys.AddDrive("sdd", stick);
  sys.Pass(mgr);
  EXPECT_EQ("sdd", log->Name());
  never_selected(log);

  sys.RemoveDrive("sdd");
  sys.Pass(mgr);
  sys.Advance(DEVMGR_RECONNECT_SECONDS + 5);
  sys.Pass(mgr);
  ASSERT_EQ(1, mgr.GetCount());
  sys.AddDrive("sde", stick);
  sys.Pass(mgr);
  ASSERT_EQ(2, mgr.GetCount());
  never_selected(mgr.GetBlkDev(1));
  EXPECT_TRUE(logs.Has("Disk-sde: the log device 'sdb' is back under this name; it will not be wiped.", "wipe"));
}
