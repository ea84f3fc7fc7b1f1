// The rescan task over a fake sysfs tree: host scans, silent drives deleted,
// busy, log and disconnected drives left alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "device/device_fixture.h"
#include "devmgr/devmgr.h"
#include "devmgr/rescan_task.h"
#include "support/log_capture.h"

namespace {

void no_pause() {}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class RescanTest : public ::testing::Test {
 protected:
  RescanTest() {
    saved_sleep = g_devmgr_monitor_sleep;
    g_devmgr_monitor_sleep = no_pause;
  }
  ~RescanTest() override {
    mgr.reset();
    g_devmgr_monitor_sleep = saved_sleep;
  }
  void AddDrive(const std::string& name, int minor, bool with_image) {
    root.MakeDir("/sys/block/" + name);
    root.MakeDir("/sys/block/" + name + "/device");
    root.WriteFile("/sys/block/" + name + "/size", "2048\n");
    root.WriteFile("/sys/block/" + name + "/dev", std::to_string(kUnusedMajor) + ":" + std::to_string(minor) + "\n");
    root.WriteFile("/sys/block/" + name + "/device/model", "Model " + name + "\n");
    root.WriteFile("/sys/block/" + name + "/device/delete", "");
    root.MakeImage(name, with_image ? (1 << 20) : 0, 0);
  }
  void Host(const std::string& cls, const std::string& host, const char* proc_name) {
    root.MakeDir("/sys/class");
    root.MakeDir("/sys/class/" + cls);
    root.MakeDir("/sys/class/" + cls + "/" + host);
    root.WriteFile("/sys/class/" + cls + "/" + host + "/scan", "");
    if (proc_name) root.WriteFile("/sys/class/" + cls + "/" + host + "/proc_name", proc_name);
  }
  void Detect() {
    std::set<std::string> previous;
    mgr->MonitorPass(previous, true);
  }
  void RunToEnd(CRescanTask& task) {
    task.Start(mgr.get());
    for (int i = 0; i < 500 && task.IsStarted(); ++i) usleep(10000);
    EXPECT_FALSE(task.IsStarted());
  }

  TempRoot root;
  std::unique_ptr<CBlkDevMgr> mgr{new CBlkDevMgr()};
  devmgr_sleep_fn_t saved_sleep;
};

TEST_F(RescanTest, ScansEveryHostOfEveryHostClass) {
  LogCapture cap;
  Host("scsi_host", "host0", "ahci  \n");
  Host("scsi_host", "host1", nullptr);
  Host("scsi_host", "other", "x");
  Host("fc_host", "host5", "lpfc");
  Host("scsi_disk", "host9", "no");
  Detect();
  CRescanTask task;
  RunToEnd(task);
  EXPECT_EQ(Slurp(root.Path("/sys/class/scsi_host/host0/scan")), "- - -\n");
  EXPECT_EQ(Slurp(root.Path("/sys/class/scsi_host/host1/scan")), "- - -\n");
  EXPECT_EQ(Slurp(root.Path("/sys/class/fc_host/host5/scan")), "- - -\n");
  EXPECT_EQ(Slurp(root.Path("/sys/class/scsi_host/other/scan")), "");
  EXPECT_EQ(Slurp(root.Path("/sys/class/scsi_disk/host9/scan")), "");
  EXPECT_TRUE(cap.Has("Scanning for ahci (" + root.Path("/sys/class/scsi_host/host0") + ")...", "wipe"));
  EXPECT_TRUE(cap.Has("Scanning for " + root.Path("/sys/class/scsi_host/host1") + "...", "wipe"));
  EXPECT_TRUE(cap.Has("Rescanning devices...", "wipe"));
  EXPECT_TRUE(cap.Has("Rescan complete.", "wipe"));
}

TEST_F(RescanTest, SilentIdleDrivesAreDeletedOthersKept) {
  LogCapture cap;
  AddDrive("sda", 1, true);
  AddDrive("sdb", 2, true);
  AddDrive("sdc", 3, true);
  Detect();
  ASSERT_EQ(mgr->GetCount(), 3);
  // sdb stops answering (its node now holds nothing); sdc holds the log.
  truncate(root.Path("/dev/sdb").c_str(), 0);
  truncate(root.Path("/dev/sdc").c_str(), 0);
  mgr->GetBlkDev(2)->SetLogDeviceFlag(true);
  CRescanTask task;
  RunToEnd(task);
  EXPECT_EQ(Slurp(root.Path("/sys/block/sda/device/delete")), "");
  EXPECT_EQ(Slurp(root.Path("/sys/block/sdb/device/delete")), "1\n");
  EXPECT_EQ(Slurp(root.Path("/sys/block/sdc/device/delete")), "");
  EXPECT_TRUE(cap.Has("Device sdb did not respond, removing.", "wipe"));
  EXPECT_TRUE(cap.Has("Could not open devices directory '/sys/class'"));
}

// A drive busy with its queue and a drive unplugged but still listed are not
// pinged, though neither would answer.
TEST_F(RescanTest, BusyAndUnpluggedDrivesAreNotPinged) {
  LogCapture cap;
  AddDrive("sda", 1, true);
  AddDrive("sdb", 2, true);
  std::set<std::string> previous;
  mgr->MonitorPass(previous, true);
  ASSERT_EQ(mgr->GetCount(), 2);
  truncate(root.Path("/dev/sda").c_str(), 0);
  truncate(root.Path("/dev/sdb").c_str(), 0);
  std::string rm = "rm -rf '" + root.Path("/sys/block/sdb") + "'";
  ASSERT_EQ(0, system(rm.c_str()));
  mgr->MonitorPass(previous, false);
  ASSERT_TRUE(mgr->GetBlkDev(1)->IsDisconnected());
  std::shared_ptr<CBlkDev> sda = mgr->GetBlkDev(0);
  // A current command that is not idle makes the drive busy.
  class Busy : public CCommand {
   public:
    Busy() : CCommand(BLKDEV_CMD_DELAY, false) {}
    std::string GetName() const override { return "busy"; }
    int GetStatus() override { return CMD_STATUS_RUNNING; }
    int Run(bool) override { return 0; }
    bool CanCancel() const override { return false; }
    int Cancel() override { return -1; }
  };
  sda->SetCurrentCommand(std::shared_ptr<CCommand>(new Busy));
  ASSERT_FALSE(sda->IsReady());
  CRescanTask task;
  RunToEnd(task);
  EXPECT_EQ(Slurp(root.Path("/sys/block/sda/device/delete")), "");
  EXPECT_FALSE(cap.Has("did not respond"));
  sda->SetCurrentCommand(nullptr);
}

// The second R while a rescan runs does nothing: the first one is held in
// its host scan (a pipe nobody reads yet).
TEST_F(RescanTest, StartWhileRunningStartsNothing) {
  LogCapture cap;
  Host("scsi_host", "host0", "ahci");
  std::string scan = root.Path("/sys/class/scsi_host/host0/scan");
  unlink(scan.c_str());
  ASSERT_EQ(0, mkfifo(scan.c_str(), 0600));
  Detect();
  CRescanTask task;
  task.Start(mgr.get());
  EXPECT_TRUE(task.IsStarted());
  task.Start(mgr.get());
  int fd = open(scan.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  char buf[16] = {0};
  std::string got;
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) got.append(buf, (size_t)n);
  close(fd);
  EXPECT_EQ("- - -\n", got);
  for (int i = 0; i < 500 && task.IsStarted(); ++i) usleep(10000);
  EXPECT_FALSE(task.IsStarted());
  EXPECT_EQ(1, cap.Count("Rescanning devices...", "wipe"));
  EXPECT_EQ(1, cap.Count("Rescan complete.", "wipe"));
}

TEST_F(RescanTest, SecondStartWhileRunningIsNotNeededAndIdleAfterwards) {
  CRescanTask task;
  EXPECT_FALSE(task.IsStarted());
  Detect();
  RunToEnd(task);
  RunToEnd(task);  // a finished task starts again
}

}  // namespace
