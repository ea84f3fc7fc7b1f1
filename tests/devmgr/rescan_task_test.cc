// The rescan task over a fake sysfs tree: host scans, silent drives deleted,
// busy, log and disconnected drives left alone.
#include <gtest/gtest.h>
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
  mgr->GetBlkDev(2)->log_device = 1;
  CRescanTask task;
  RunToEnd(task);
  EXPECT_EQ(Slurp(root.Path("/sys/block/sda/device/delete")), "");
  EXPECT_EQ(Slurp(root.Path("/sys/block/sdb/device/delete")), "1\n");
  EXPECT_EQ(Slurp(root.Path("/sys/block/sdc/device/delete")), "");
  EXPECT_TRUE(cap.Has("Device sdb did not respond, removing.", "wipe"));
  EXPECT_TRUE(cap.Has("Could not open devices directory '/sys/class'"));
}

TEST_F(RescanTest, SecondStartWhileRunningIsNotNeededAndIdleAfterwards) {
  CRescanTask task;
  EXPECT_FALSE(task.IsStarted());
  Detect();
  RunToEnd(task);
  RunToEnd(task);  // a finished task starts again
}

}  // namespace
