// The device manager on a fake /sys/block: the listing, held-back devices,
// removal, return within 30 seconds (only of the same drive), stale entries;
// and the rescan: host scans, silent drives deleted, busy, log and unplugged
// drives left alone, one rescan at a time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "devmgr/fake_sysfs.h"
#include "devmgr/rescan_task.h"
#include "support/gate_command.h"
#include "support/log_capture.h"

class DevMgrTest : public ::testing::Test {
 protected:
  FakeSys sys;
  FakeIoctl ioctls;
  Monitor monitor;
  RecordingHook hook;
  LogCapture logs;
  CBlkDevMgr mgr;
  CRescanTask rescan;
  DevMgrTest() { mgr.RegisterHooks(&hook); }
  void Pass() { monitor.Pass(mgr); }
  std::string Read(const std::string& rel) {
    std::stringstream s;
    s << std::ifstream(sys.Path(rel)).rdbuf();
    return s.str();
  }
  void Rescan(bool start = true) {
    if (start) rescan.Start(&mgr);
    for (int i = 0; i < 500 && rescan.IsStarted(); ++i) usleep(10000);
    EXPECT_FALSE(rescan.IsStarted());
  }
  std::vector<std::string> Names() {
    std::vector<std::string> v;
    for (int i = 0; i < mgr.GetCount(); ++i) v.push_back(mgr.GetBlkDev(i)->name);
    return v;
  }
};

TEST_F(DevMgrTest, FirstPassListsTheDisksAndHoldsBackCdsAndFloppies) {
  for (const char* n : {"ram0", "loop3", "mtdblock1", ".hidden"}) sys.MakeDir(std::string("/sys/block/") + n);
  fake_drive d;
  sys.AddDrive("sda", d);
  d.minor = 1;
  sys.AddDrive("sdb", d);
  d.minor = 2;
  d.type = 5;  // CD/DVD
  sys.AddDrive("sr0", d);
  d.model = "";
  sys.AddDrive("fd0", d);
  sys.WriteFile("/sys/block/fd0/dev", "2:0\n");
  d.node = false;
  sys.AddDrive("sdq", d);  // no node can be made there: never listed
  ASSERT_EQ(0, symlink("/nonexistent/zv-node", sys.Path("/dev/sdq").c_str()));
  EXPECT_EQ((std::set<std::string>{"fd0", "sda", "sdb", "sdq", "sr0"}), mgr.ScanSysBlockDevices());

  EXPECT_EQ(1, mgr.IsDetectingDrivesInitialization());
  Pass();
  EXPECT_EQ(0, mgr.IsDetectingDrivesInitialization());
  EXPECT_EQ((std::vector<std::string>{"sda", "sdb"}), Names());
  EXPECT_EQ((std::vector<std::string>{"attached sda", "attached sdb"}), hook.Take());
  ASSERT_EQ(2, mgr.GetHeldBackCount());
  EXPECT_EQ("fd0", mgr.GetHeldBackDev(0)->name);
  EXPECT_EQ("sr0", mgr.GetHeldBackDev(1)->name);
  sys.RemoveDrive("");
  EXPECT_TRUE(mgr.ScanSysBlockDevices().empty());
}

// A stick pulled out comes back as its old entry only when model, size and
// serial all match; a look-alike is a new drive.
TEST_F(DevMgrTest, OnlyTheSameDriveTakesBackARemovedEntry) {
  struct row {
    std::string model;
    uint64_t size;
    const char* serial_suffix;
    bool same;
  } rows[] = {{"ZV Stick", 1 << 20, "", true},
              {"ZV Stick", 1 << 20, "x", false},
              {"ZV Stick", 2 << 20, "", false},
              {"ZV Other", 1 << 20, "", false}};
  int minor = 0;
  for (const row& r : rows) {
    fake_drive d;
    d.usb = "usb1";
    d.model = "ZV Stick";
    d.minor = ++minor;
    d.serial = "S" + std::to_string(minor);
    std::string first = "sd" + std::to_string(minor), again = "sdx" + std::to_string(minor);
    sys.AddDrive(first, d);
    Pass();
    std::shared_ptr<CBlkDev> dev = mgr.GetBlkDev(mgr.GetCount() - 1);
    dev->SetWiping(WIPING_SET);
    dev->QueueCommand(std::shared_ptr<CCommand>(new GateCommand));
    hook.Take();
    sys.RemoveDrive(first);
    Pass();
    EXPECT_EQ((std::vector<std::string>{"removed "}), hook.Take());
    EXPECT_TRUE(dev->IsDisconnected());
    EXPECT_FALSE(dev->IsSelectedForWiping());
    EXPECT_TRUE(dev->queue.empty());

    d.model = r.model;
    d.size = r.size;
    d.serial += r.serial_suffix;
    sys.AddDrive(again, d);
    Pass();
    EXPECT_EQ(std::vector<std::string>{(r.same ? "back " : "attached ") + again}, hook.Take()) << d.serial;
    EXPECT_EQ(r.same, dev->name == again) << r.model << " " << r.size << " " << d.serial;
    EXPECT_EQ(!r.same, dev->IsDisconnected());
    EXPECT_FALSE(dev->IsSelectedForWiping());
  }
}

TEST_F(DevMgrTest, After30SecondsTheEntryIsDroppedAndTheDriveComesBackAsNew) {
  fake_drive d;
  for (int i = 0; i < 3; ++i) {
    d.minor = i;
    d.model = "Model " + std::to_string(i);
    sys.AddDrive(std::string("sd") + char('a' + i), d);
  }
  Pass();
  std::shared_ptr<CBlkDev> old_sdb = mgr.GetBlkDev(1), sdc = mgr.GetBlkDev(2);
  sys.RemoveDrive("sdb");
  Pass();
  monitor.Advance(DEVMGR_RECONNECT_SECONDS - 1);
  Pass();
  EXPECT_EQ(3, mgr.GetCount());
  monitor.Advance(3);
  Pass();
  ASSERT_EQ(2, mgr.GetCount());
  EXPECT_EQ(sdc, mgr.GetBlkDev(1));
  hook.Take();
  d.minor = 1;
  d.model = "Model 1";
  sys.AddDrive("sdb", d);
  Pass();
  EXPECT_EQ((std::vector<std::string>{"attached sdb"}), hook.Take());
  EXPECT_NE(old_sdb, mgr.GetBlkDev(2));
}

TEST_F(DevMgrTest, HooksUnregisterAndForgetADeadManager) {
  RecordingHook other;
  {
    CBlkDevMgr m;
    m.RegisterHooks(&other);
    { RecordingHook shortlived; m.RegisterHooks(&shortlived); }  // unregisters itself
  }
  EXPECT_EQ(nullptr, other.mgr);
}

TEST_F(DevMgrTest, RescanScansEveryHostOfEveryHostClass) {
  const char* hosts[][2] = {{"scsi_host/host0", "- - -\n"}, {"fc_host/host5", "- - -\n"},
                            {"scsi_host/other", ""}, {"scsi_disk/host9", ""}};
  for (auto& h : hosts) {
    sys.Shell(std::string("mkdir -p '") + sys.Path("/sys/class/") + h[0] + "'");
    sys.WriteFile(std::string("/sys/class/") + h[0] + "/scan", "");
  }
  Rescan();
  for (auto& h : hosts) EXPECT_EQ(h[1], Read(std::string("/sys/class/") + h[0] + "/scan")) << h[0];
}

// Drives that do not answer (an empty node) are deleted, unless they hold
// the log, are busy or are already unplugged.
TEST_F(DevMgrTest, RescanDeletesOnlySilentIdleDrives) {
  fake_drive d;
  for (const char* n : {"sda", "sdb", "sdc", "sdd", "sde"}) {
    d.minor++;
    sys.AddDrive(n, d);
    sys.WriteFile(std::string("/sys/block/") + n + "/device/delete", "");
  }
  Pass();
  for (const char* n : {"sdb", "sdc", "sdd", "sde"}) ASSERT_EQ(0, truncate(sys.Path(std::string("/dev/") + n).c_str(), 0));
  mgr.GetBlkDev(2)->SetLogDeviceFlag(true);
  std::shared_ptr<GateCommand> busy(new GateCommand);
  mgr.GetBlkDev(3)->QueueCommand(busy);
  ASSERT_EQ(0, mgr.GetBlkDev(3)->RunCommandQueue());
  busy->WaitEntered();
  sys.Shell("mv '" + sys.Path("/sys/block/sde") + "' '" + sys.Path("/sde") + "'");
  Pass();
  sys.Shell("mv '" + sys.Path("/sde") + "' '" + sys.Path("/sys/block/sde") + "'");
  Rescan();
  busy->Open();
  for (const char* n : {"sda", "sdb", "sdc", "sdd", "sde"})
    EXPECT_EQ(std::string(n) == "sdb" ? "1\n" : "", Read(std::string("/sys/block/") + n + "/device/delete")) << n;
  mgr.GetBlkDev(3)->ClearCommandQueue();
}

// R while a rescan runs starts nothing: the first one is held in its host
// scan (a pipe nobody reads yet).
TEST_F(DevMgrTest, RescanWhileOneRunsStartsNothing) {
  std::string scan = sys.Path("/sys/class/scsi_host/host0/scan");
  sys.Shell("mkdir -p '" + sys.Path("/sys/class/scsi_host/host0") + "'");
  ASSERT_EQ(0, mkfifo(scan.c_str(), 0600));
  rescan.Start(&mgr);
  rescan.Start(&mgr);
  int fd = open(scan.c_str(), O_RDONLY);
  char buf[16];
  while (read(fd, buf, sizeof buf) > 0) {
  }
  close(fd);
  Rescan(false);
  EXPECT_EQ(1, logs.Count("Rescan complete.", "wipe"));
  unlink(scan.c_str());
  Rescan();  // a finished rescan starts again
  EXPECT_EQ(2, logs.Count("Rescan complete.", "wipe"));
}
