// The device manager on a fake /sys/block: the listing, held-back devices,
// return of a removed drive (only of the same drive), and the rescan of
// silent drives (busy and log drives left alone).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "devmgr/fake_sysfs.h"
#include "devmgr/rescan_task.h"
#include "support/gate_command.h"

class DevMgrTest : public ::testing::Test {
 protected:
  FakeSys sys;
  CBlkDevMgr mgr;
  void Pass() { sys.Pass(mgr); }
};

TEST_F(DevMgrTest, FirstPassListsTheDisksAndHoldsBackCdsAndFloppies) {
  for (const char* n : {"ram0", "loop3", "mtdblock1"}) sys.MakeDir(std::string("/sys/block/") + n);
  fake_drive d;
  sys.AddDrive("sda", d);
  d.minor = 1, d.type = 5;  // CD/DVD
  sys.AddDrive("sr0", d);
  d.model = "";
  sys.AddDrive("fd0", d);
  sys.WriteFile("/sys/block/fd0/dev", "2:0\n");
  EXPECT_EQ((std::set<std::string>{"fd0", "sda", "sr0"}), mgr.ScanSysBlockDevices());
  Pass();
  ASSERT_EQ(1, mgr.GetCount());
  EXPECT_EQ("sda", mgr.GetBlkDev(0)->Name());
  ASSERT_EQ(2, mgr.GetHeldBackCount());
  EXPECT_EQ("fd0", mgr.GetHeldBackDev(0)->Name());
  EXPECT_EQ("sr0", mgr.GetHeldBackDev(1)->Name());
}

// A stick pulled out comes back as its old entry only when model, size and
// serial all match; a look-alike is a new drive. Either way it is no longer
// selected.
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
    d.usb = "usb1", d.model = "ZV Stick", d.minor = ++minor;
    d.serial = "S" + std::to_string(minor);
    std::string first = "sd" + std::to_string(minor), again = "sdx" + std::to_string(minor);
    sys.AddDrive(first, d);
    Pass();
    std::shared_ptr<CBlkDev> dev = mgr.GetBlkDev(mgr.GetCount() - 1);
    dev->SetWiping(WIPING_SET);
    sys.RemoveDrive(first);
    Pass();
    EXPECT_TRUE(dev->IsDisconnected());

    d.model = r.model, d.size = r.size, d.serial += r.serial_suffix;
    sys.AddDrive(again, d);
    Pass();
    EXPECT_EQ(r.same, dev->Name() == again) << r.model << " " << r.size << " " << d.serial;
    EXPECT_EQ(!r.same, dev->IsDisconnected());
    EXPECT_FALSE(dev->IsSelectedForWiping());
  }
}

// Drives that do not answer (an empty node) are deleted, unless they hold
// the log or are busy.
TEST_F(DevMgrTest, RescanDeletesOnlySilentIdleDrives) {
  fake_drive d;
  for (const char* n : {"sda", "sdb", "sdc", "sdd"}) {
    d.minor++;
    sys.AddDrive(n, d);
    sys.WriteFile(std::string("/sys/block/") + n + "/device/delete", "");
  }
  Pass();
  for (const char* n : {"sdb", "sdc", "sdd"}) ASSERT_EQ(0, truncate(sys.Path(std::string("/dev/") + n).c_str(), 0));
  mgr.GetBlkDev(2)->SetLogDeviceFlag(true);
  std::shared_ptr<GateCommand> busy(new GateCommand);
  mgr.GetBlkDev(3)->QueueCommand(busy);
  ASSERT_EQ(0, mgr.GetBlkDev(3)->RunCommandQueue());
  busy->WaitEntered();
  CRescanTask rescan;
  rescan.Start(&mgr);
  for (int i = 0; i < 500 && rescan.IsStarted(); ++i) usleep(10000);
  EXPECT_FALSE(rescan.IsStarted());
  busy->Open();
  for (const char* n : {"sda", "sdb", "sdc", "sdd"}) {
    std::stringstream s;
    s << std::ifstream(sys.Path(std::string("/sys/block/") + n + "/device/delete")).rdbuf();
    EXPECT_EQ(std::string(n) == "sdb" ? "1\n" : "", s.str()) << n;
  }
  mgr.GetBlkDev(3)->ClearCommandQueue();
}
