// A delete that sysfs refuses ends the rescan's check of silent drives: the
// refusal shows only when the written text reaches sysfs (at the flush).
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <set>

#include "devmgr/fake_sysfs.h"
#include "devmgr/rescan_task.h"
#include "support/log_capture.h"

namespace {
void no_pause() {}
}  // namespace

TEST(RescanRefusedTest, ARefusedDeleteEndsTheCheck) {
  FakeSys sys;
  LogCapture cap;
  devmgr_sleep_fn_t saved = g_devmgr_monitor_sleep;
  g_devmgr_monitor_sleep = no_pause;
  for (int minor : {1, 2}) {
    fake_drive d;
    d.minor = minor;
    std::string name = minor == 1 ? "sda" : "sdb";
    sys.AddDrive(name, d);
    sys.WriteFile("/sys/block/" + name + "/device/delete", "");
  }
  // /dev/full takes the open and refuses the data at the flush.
  std::string del = sys.Path("/sys/block/sda/device/delete");
  ASSERT_EQ(0, unlink(del.c_str()));
  ASSERT_EQ(0, symlink("/dev/full", del.c_str()));
  {
    CBlkDevMgr mgr;
    std::set<std::string> previous;
    mgr.MonitorPass(previous, true);
    ASSERT_EQ(2, mgr.GetCount());
    // Neither drive answers any more.
    ASSERT_EQ(0, truncate(sys.Path("/dev/sda").c_str(), 0));
    ASSERT_EQ(0, truncate(sys.Path("/dev/sdb").c_str(), 0));
    CRescanTask task;
    task.Start(&mgr);
    for (int i = 0; i < 500 && task.IsStarted(); ++i) usleep(10000);
    ASSERT_FALSE(task.IsStarted());
  }
  g_devmgr_monitor_sleep = saved;
  EXPECT_TRUE(cap.Has("Device sda did not respond, removing.", "wipe"));
  EXPECT_FALSE(cap.Has("Device sdb did not respond", "wipe"));
  std::ifstream sdb(sys.Path("/sys/block/sdb/device/delete"));
  EXPECT_EQ(std::istreambuf_iterator<char>(), std::istreambuf_iterator<char>(sdb)) << "sdb was deleted";
}
