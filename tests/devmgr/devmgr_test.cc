// The device manager on a fake /sys/block: the listing, held-back devices,
// removal, return within 30 seconds (only of the same drive) and stale
// entries.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "devmgr/fake_sysfs.h"
#include "support/gate_command.h"

class DevMgrTest : public ::testing::Test {
 protected:
  FakeSys sys;
  FakeIoctl ioctls;
  Monitor monitor;
  RecordingHook hook;
  CBlkDevMgr mgr;
  DevMgrTest() { mgr.RegisterHooks(&hook); }
  void Pass() { monitor.Pass(mgr); }
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
    m.UnregisterHooks(&other);
    EXPECT_EQ(nullptr, other.mgr);
    m.RegisterHooks(&other);
    EXPECT_EQ(&m, other.mgr);
  }
  EXPECT_EQ(nullptr, other.mgr);
}
