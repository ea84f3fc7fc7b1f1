// The device manager on a fake /sys/block: discovery by the monitor thread,
// held-back devices, removal, return within 30 seconds and stale entries.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "command/command.h"
#include "devmgr/devmgr.h"
#include "devmgr/fake_sysfs.h"
#include "support/gate_command.h"
#include "support/log_capture.h"

class DevMgrTest : public ::testing::Test {
 protected:
  FakeSys sys;
  FakeIoctl ioctls;
  LogCapture logs;
  MonitorStepper stepper;
  RecordingHook hook;
  std::unique_ptr<CBlkDevMgr> mgr;

  void Start() {
    mgr.reset(new CBlkDevMgr);
    mgr->StartScanDevices();
    mgr->RegisterHooks(&hook);
  }
  void TearDown() override {
    stepper.FreeRun();
    mgr.reset();
  }
  std::vector<std::string> Names() {
    std::vector<std::string> v;
    for (int i = 0; i < mgr->GetCount(); ++i) v.push_back(mgr->GetBlkDev(i)->name);
    return v;
  }
};

TEST_F(DevMgrTest, ListingSkipsRamLoopMtdAndDotNames) {
  for (const char* n : {"ram0", "ram15", "loop3", "loop7", "mtdblock1", ".hidden"}) sys.MakeDir(std::string("/sys/block/") + n);
  for (const char* n : {"sda", "sr0", "mmcblk0", "fd0"}) sys.MakeDir(std::string("/sys/block/") + n);
  CBlkDevMgr m;
  EXPECT_EQ((std::set<std::string>{"fd0", "mmcblk0", "sda", "sr0"}), m.ScanSysBlockDevices());

  sys.RemoveDrive("");  // the whole /sys/block
  EXPECT_TRUE(m.ScanSysBlockDevices().empty());
  EXPECT_TRUE(logs.Has("Could not open devices directory '" + sys.Path("/sys/block") + "': No such file or directory",
                       "debug"));
}

TEST_F(DevMgrTest, FirstPassFindsTheDrivesHoldsBackCdDvdAndFloppiesAndEndsDetection) {
  fake_drive d;
  d.minor = 1;
  sys.AddDrive("sdb", d);
  d.minor = 0;
  d.size = 2 << 20;
  sys.AddDrive("sda", d);
  fake_drive cd;
  cd.type = 5;
  cd.minor = 2;
  sys.AddDrive("sr0", cd);
  fake_drive floppy;
  floppy.model = "";
  floppy.minor = 3;
  sys.AddDrive("fd0", floppy);
  sys.WriteFile("/sys/block/fd0/dev", "2:0\n");
  sys.MakeDir("/sys/block/loop0");
  sys.MakeDir("/sys/block/ram0");

  Start();
  EXPECT_EQ(1, mgr->IsDetectingDrivesInitialization());
  EXPECT_EQ(0, mgr->GetCount());
  stepper.Step();
  EXPECT_EQ(0, mgr->IsDetectingDrivesInitialization());

  EXPECT_EQ((std::vector<std::string>{"sda", "sdb"}), Names());
  EXPECT_EQ((std::vector<std::string>{"attached sda", "attached sdb"}), hook.Summary());
  // Held back in the order found: fd0, sr0.
  ASSERT_EQ(2, mgr->GetHeldBackCount());
  EXPECT_EQ("fd0", mgr->GetHeldBackDev(0)->name);
  EXPECT_EQ("sr0", mgr->GetHeldBackDev(1)->name);
  EXPECT_FALSE(mgr->GetBlkDev(-1));
  EXPECT_FALSE(mgr->GetBlkDev(mgr->GetCount()));
  EXPECT_TRUE(logs.Has("Device 'sda' - connected.", "debug"));
  EXPECT_TRUE(logs.Has("Initializing device sr0", "debug"));
  EXPECT_FALSE(logs.Has("Device 'sr0'"));
  EXPECT_FALSE(logs.Has("Device 'fd0'"));
  EXPECT_FALSE(logs.Has("loop0"));
  EXPECT_TRUE(logs.Has("BlockDeviceMonitor: device 'sda' connected to system.", "debug"));
  EXPECT_EQ(2u << 20, mgr->GetBlkDev(0)->size_bytes);
}

TEST_F(DevMgrTest, ANodeThatCannotBeOpenedIsNotListed) {
  fake_drive d;
  d.node = false;
  sys.AddDrive("sdq", d);
  // A dangling link: no node can be made there and nothing opens.
  ASSERT_EQ(0, symlink("/nonexistent/zv-node", sys.Path("/dev/sdq").c_str()));
  Start();
  stepper.Step();
  EXPECT_EQ(0, mgr->GetCount());
  EXPECT_TRUE(logs.Has("Disk-sdq: creation failed", "debug"));
  EXPECT_TRUE(hook.Events().empty());
}

TEST_F(DevMgrTest, ADriveBackWithin30SecondsGetsItsOldObject) {
  fake_drive d;
  d.model = "Same Model";
  sys.AddDrive("sda", d);
  d.minor = 1;
  sys.AddDrive("sdb", d);
  d.minor = 2;
  d.model = "Other Model";
  sys.AddDrive("sdc", d);
  Start();
  stepper.Step();
  ASSERT_EQ((std::vector<std::string>{"sda", "sdb", "sdc"}), Names());
  std::shared_ptr<CBlkDev> sdb = mgr->GetBlkDev(1);
  sdb->SetWiping(WIPING_SET);

  // sdb is busy with its queue when it goes away.
  std::shared_ptr<GateCommand> held(new GateCommand);
  sdb->QueueCommand(held);
  ASSERT_EQ(0, sdb->RunCommandQueue());
  held->WaitEntered();

  hook.Clear();
  sys.RemoveDrive("sdb");
  stepper.Apply();
  ASSERT_EQ(3, mgr->GetCount());
  EXPECT_EQ(sdb, mgr->GetBlkDev(1));
  EXPECT_EQ(1, sdb->disconnected);
  EXPECT_EQ("", sdb->name);
  EXPECT_EQ(0, sdb->wipe_selected);
  EXPECT_FALSE(sdb->IsQueueRunning());
  EXPECT_TRUE(sdb->queue.empty());
  EXPECT_EQ((std::vector<std::string>{"removed "}), hook.Summary());
  EXPECT_EQ(sdb, hook.Events()[0].dev);
  EXPECT_TRUE(logs.Has("Disk-sdb: Same Model, s/n:  device removed.", "wipe"));
  EXPECT_TRUE(logs.Has("BlockDeviceMonitor: device 'sdb' disconnected from system.", "debug"));

  // Back as sdd: the same object under the new name.
  hook.Clear();
  d.minor = 3;
  d.model = "Same Model";
  sys.AddDrive("sdd", d);
  stepper.Apply();
  ASSERT_EQ(3, mgr->GetCount());
  EXPECT_EQ(sdb, mgr->GetBlkDev(1));
  EXPECT_EQ("sdd", sdb->name);
  EXPECT_EQ(0, sdb->disconnected);
  std::string status;
  EXPECT_EQ(1, sdb->GetCommandStatus(status));
  EXPECT_EQ("The device was connected again.", status);
  EXPECT_EQ((std::vector<std::string>{"back sdd"}), hook.Summary());
  EXPECT_TRUE(logs.Has("Device 'sdd' - reconnected.", "debug"));

  // A name that is gone again but never was listed needs nothing.
  mgr->RemoveDevice("sdz");
  EXPECT_TRUE(logs.Has("Disk-sdz: removed. No actions required.", "debug"));
}

TEST_F(DevMgrTest, After30SecondsTheEntryIsDroppedAndTheDriveComesBackAsNew) {
  fake_drive d;
  for (int i = 0; i < 3; ++i) {
    d.minor = i;
    d.model = "Model " + std::to_string(i);
    sys.AddDrive(std::string("sd") + char('a' + i), d);
  }
  Start();
  stepper.Step();
  std::shared_ptr<CBlkDev> old_sdb = mgr->GetBlkDev(1);
  std::shared_ptr<CBlkDev> sdc = mgr->GetBlkDev(2);

  sys.RemoveDrive("sdb");
  stepper.Apply();
  EXPECT_EQ(3, mgr->GetCount());
  // 30 seconds are not yet more than 30.
  stepper.AdvanceClock(30);
  stepper.Step();
  EXPECT_EQ(3, mgr->GetCount());
  stepper.AdvanceClock(2);
  stepper.Step();
  ASSERT_EQ(2, mgr->GetCount());
  EXPECT_EQ(sdc, mgr->GetBlkDev(1));  // later entries move up
  EXPECT_TRUE(logs.Has("Stalled device record removed (serial is )", "debug"));

  hook.Clear();
  d.minor = 1;
  d.model = "Model 1";
  sys.AddDrive("sdb", d);
  stepper.Apply();
  ASSERT_EQ(3, mgr->GetCount());
  EXPECT_NE(old_sdb, mgr->GetBlkDev(2));
  EXPECT_EQ("sdb", mgr->GetBlkDev(2)->name);
  EXPECT_EQ((std::vector<std::string>{"attached sdb"}), hook.Summary());
}

TEST_F(DevMgrTest, OfTwoEqualDisconnectedDrivesTheFirstComesBack) {
  fake_drive d;
  d.model = "Twin";
  sys.AddDrive("sda", d);
  d.minor = 1;
  sys.AddDrive("sdb", d);
  Start();
  stepper.Step();
  std::shared_ptr<CBlkDev> a = mgr->GetBlkDev(0), b = mgr->GetBlkDev(1);
  sys.RemoveDrive("sda");
  sys.RemoveDrive("sdb");
  stepper.Apply();
  d.minor = 2;
  sys.AddDrive("sdc", d);
  stepper.Apply();
  EXPECT_EQ("sdc", a->name);
  EXPECT_EQ(1, b->disconnected);
}

TEST_F(DevMgrTest, HooksCanBeUnregisteredAndForgetADeadManager) {
  RecordingHook other;
  {
    CBlkDevMgr m;
    m.RegisterHooks(&other);
    EXPECT_EQ(&m, other.mgr);
    RecordingHook stranger;
    stranger.mgr = &m;
    m.UnregisterHooks(&stranger);  // not registered: nothing but the pointer changes
    EXPECT_EQ(nullptr, stranger.mgr);
    EXPECT_EQ(&m, other.mgr);
    {
      RecordingHook shortlived;
      m.RegisterHooks(&shortlived);
    }  // unregisters itself
    m.UnregisterHooks(&other);
    EXPECT_EQ(nullptr, other.mgr);
    m.RegisterHooks(&other);
  }
  EXPECT_EQ(nullptr, other.mgr);
}

TEST_F(DevMgrTest, AnAtaDriveIsListedWithItsIdentity) {
  AtaDriveModel drive;
  drive.factory_max = drive.dco_max = drive.native_max = drive.current_max = 2047;
  ioctls.AddAta("sda", &drive);
  fake_drive d;
  d.size = 1 << 20;
  sys.AddDrive("sda", d);
  Start();
  stepper.Step();
  ASSERT_EQ(1, mgr->GetCount());
  std::shared_ptr<CBlkDev> dev = mgr->GetBlkDev(0);
  EXPECT_EQ(5, dev->bus);
  EXPECT_EQ("ZV0001 firmware: 1.02", dev->serial);
  EXPECT_EQ(1u << 20, dev->size_bytes);
  EXPECT_TRUE(dev->GetCommandById(BLKDEV_CMD_STANDBY));
  EXPECT_TRUE(logs.Has("Disk-sda: ZV Test Drive 1000", "wipe"));
}
