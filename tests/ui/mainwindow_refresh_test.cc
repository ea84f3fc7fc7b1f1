// The main window and the disk menu while a refresh (after an HPA reset or an
// ATA erase) rebuilds an ATA device on another thread. Under ThreadSanitizer
// the drawing test catches any device field drawn without the device lock.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "app/globals.h"
#include "devmgr/fake_sysfs.h"
#include "ui/mainwindow.h"
#include "ui_fixture.h"

namespace {

void no_sleep() {}

class MainWindowRefreshTest : public ::testing::Test {
 protected:
  MainWindowRefreshTest() : saved_sleep(g_devmgr_monitor_sleep), saved_manual(g_manual) {
    g_devmgr_monitor_sleep = no_sleep;
    // An HPA: the drive shows fewer sectors than it has.
    drive.current_max = drive.native_max - 2048;
    drive.kernel_size = drive.VisibleBytes();
    ioctls.AddAta("sda", &drive);
    sys.AddDrive("sda");
    std::set<std::string> previous;
    mgr->MonitorPass(previous, true);
    vt.reset(new VirtualTerminal(25, 80));
    g_scr.CreateLayout(mgr.get());
    wnd = dynamic_cast<CMainWindow*>(g_scr.Windows().back());
  }
  ~MainWindowRefreshTest() override {
    vt.reset();
    mgr.reset();
    g_devmgr_monitor_sleep = saved_sleep;
    g_manual = saved_manual;
  }
  FakeSys sys;
  FakeIoctl ioctls;
  AtaDriveModel drive;
  std::unique_ptr<CBlkDevMgr> mgr{new CBlkDevMgr()};
  std::unique_ptr<VirtualTerminal> vt;
  CMainWindow* wnd = nullptr;
  devmgr_sleep_fn_t saved_sleep;
  int saved_manual;
};

TEST_F(MainWindowRefreshTest, DrawingWhileARefreshRuns) {
  std::shared_ptr<CBlkDev> dev = mgr->GetBlkDev(0);
  ASSERT_TRUE(dev && vt->Ok() && wnd);
  std::atomic<int> refreshes{0};
  std::thread refresher([&] {
    for (int i = 0; i < 30; ++i) {
      dev->Refresh();
      ++refreshes;
    }
  });
  while (refreshes < 30) g_scr.Redraw(1);
  refresher.join();
  g_scr.Redraw(1);
  EXPECT_NE(VirtualTerminal::All().find("Model: ZVTEST ZV Test Drive 1000"), std::string::npos)
      << VirtualTerminal::All();
}

// The operator picks "Reset HPA"; before the choice is confirmed a refresh
// finds the HPA gone and the list shorter. Nothing else may run instead.
TEST_F(MainWindowRefreshTest, TheDiskMenuRunsTheCommandChosenNotTheOneNowAtItsPlace) {
  g_manual = 1;
  std::shared_ptr<CBlkDev> dev = mgr->GetBlkDev(0);
  ASSERT_TRUE(dev && vt->Ok() && wnd);
  ASSERT_TRUE(dev->GetCommandById(BLKDEV_CMD_RESET_HPA));
  static std::deque<int> keys;
  static std::function<void()> before_enter;
  keys = {KEY_DOWN, KEY_DOWN, '\n'};  // Wipe, Standby, Reset HPA
  before_enter = [&] {
    drive.current_max = drive.native_max;
    dev->Refresh();
  };
  key_source_fn_t saved = g_key_source;
  g_key_source = []() -> int {
    if (keys.empty()) return 'q';
    int k = keys.front();
    keys.pop_front();
    if (k == '\n') before_enter();
    return k;
  };
  drive.log.clear();
  wnd->OnInput('D');
  g_key_source = saved;
  for (int i = 0; i < 500 && !dev->IsReady(); ++i) usleep(10000);
  EXPECT_FALSE(dev->GetCommandById(BLKDEV_CMD_RESET_HPA));
  // Only the refresh talked to the drive: no SET MAX, no erase.
  EXPECT_EQ(0, drive.CountCommand(0x37));
  EXPECT_EQ(0, drive.CountCommand(0xF3));
  EXPECT_EQ(0, drive.CountCommand(0xF4));
}

}  // namespace
