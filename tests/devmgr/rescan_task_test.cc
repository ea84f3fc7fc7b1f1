// The rescan task over a fake sysfs tree: host scans, silent drives deleted;
// busy, log and unplugged drives left alone; one rescan at a time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "devmgr/fake_sysfs.h"
#include "devmgr/rescan_task.h"
#include "support/gate_command.h"
#include "support/log_capture.h"

class RescanTest : public ::testing::Test {
 protected:
  FakeSys sys;
  Monitor monitor;
  LogCapture logs;
  CBlkDevMgr mgr;
  CRescanTask task;
  std::string Read(const std::string& rel) {
    std::stringstream s;
    s << std::ifstream(sys.Path(rel)).rdbuf();
    return s.str();
  }
  void Host(const std::string& dir, const char* proc_name) {
    sys.Shell("mkdir -p '" + sys.Path(dir) + "'");
    sys.WriteFile(dir + "/scan", "");
    if (proc_name) sys.WriteFile(dir + "/proc_name", proc_name);
  }
  void RunToEnd() {
    task.Start(&mgr);
    for (int i = 0; i < 500 && task.IsStarted(); ++i) usleep(10000);
    EXPECT_FALSE(task.IsStarted());
  }
};

TEST_F(RescanTest, ScansEveryHostOfEveryHostClass) {
  Host("/sys/class/scsi_host/host0", "ahci  \n");
  Host("/sys/class/scsi_host/host1", nullptr);
  Host("/sys/class/scsi_host/other", "x");
  Host("/sys/class/fc_host/host5", "lpfc");
  Host("/sys/class/scsi_disk/host9", "no");
  RunToEnd();
  for (auto& r : std::vector<std::pair<const char*, const char*>>{{"scsi_host/host0", "- - -\n"},
                                                                  {"scsi_host/host1", "- - -\n"},
                                                                  {"fc_host/host5", "- - -\n"},
                                                                  {"scsi_host/other", ""},
                                                                  {"scsi_disk/host9", ""}})
    EXPECT_EQ(r.second, Read(std::string("/sys/class/") + r.first + "/scan")) << r.first;
  EXPECT_TRUE(logs.Has("Scanning for ahci (" + sys.Path("/sys/class/scsi_host/host0") + ")...", "wipe"));
}

// Drives that do not answer (an empty node) are deleted, unless they hold
// the log, are busy or are already unplugged.
TEST_F(RescanTest, OnlySilentIdleDrivesAreDeleted) {
  fake_drive d;
  for (const char* n : {"sda", "sdb", "sdc", "sdd", "sde"}) {
    d.minor++;
    sys.AddDrive(n, d);
    sys.WriteFile(std::string("/sys/block/") + n + "/device/delete", "");
  }
  monitor.Pass(mgr);
  ASSERT_EQ(5, mgr.GetCount());
  for (const char* n : {"sdb", "sdc", "sdd", "sde"}) ASSERT_EQ(0, truncate(sys.Path(std::string("/dev/") + n).c_str(), 0));
  mgr.GetBlkDev(2)->SetLogDeviceFlag(true);
  std::shared_ptr<GateCommand> busy(new GateCommand);
  mgr.GetBlkDev(3)->QueueCommand(busy);
  ASSERT_EQ(0, mgr.GetBlkDev(3)->RunCommandQueue());
  busy->WaitEntered();
  sys.Shell("mv '" + sys.Path("/sys/block/sde") + "' '" + sys.Path("/sde") + "'");
  monitor.Pass(mgr);
  sys.Shell("mv '" + sys.Path("/sde") + "' '" + sys.Path("/sys/block/sde") + "'");
  RunToEnd();
  busy->Open();
  for (const char* n : {"sda", "sdb", "sdc", "sdd", "sde"})
    EXPECT_EQ(std::string(n) == "sdb" ? "1\n" : "", Read(std::string("/sys/block/") + n + "/device/delete")) << n;
  mgr.GetBlkDev(3)->ClearCommandQueue();
}

// R while a rescan runs starts nothing: the first one is held in its host
// scan (a pipe nobody reads yet).
TEST_F(RescanTest, StartWhileRunningStartsNothing) {
  Host("/sys/class/scsi_host/host0", "ahci");
  std::string scan = sys.Path("/sys/class/scsi_host/host0/scan");
  unlink(scan.c_str());
  ASSERT_EQ(0, mkfifo(scan.c_str(), 0600));
  task.Start(&mgr);
  EXPECT_TRUE(task.IsStarted());
  task.Start(&mgr);
  int fd = open(scan.c_str(), O_RDONLY);
  char buf[16];
  while (read(fd, buf, sizeof buf) > 0) {
  }
  close(fd);
  for (int i = 0; i < 500 && task.IsStarted(); ++i) usleep(10000);
  EXPECT_EQ(1, logs.Count("Rescan complete.", "wipe"));
  unlink(scan.c_str());
  RunToEnd();  // a finished task starts again
}
