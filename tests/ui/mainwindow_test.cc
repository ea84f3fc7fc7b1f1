// The main window on a virtual terminal, against a device manager whose
// monitor passes run by hand over a fake sysfs tree: what the rows and the
// detail pane show, and what the keys and menus do to the drives and the
// session's options.
#include <gtest/gtest.h>

#include "app/globals.h"
#include "devmgr/fake_sysfs.h"
#include "support/scoped.h"
#include "support/unguarded.h"
#include "task/wipe_task.h"
#include "ui/mainwindow.h"
#include "ui_fixture.h"

namespace {

// A command that keeps its drive busy until cancelled.
class Busy : public CCommand {
 public:
  Busy() : CCommand(BLKDEV_CMD_DELAY, false) {}
  std::string GetName() const override { return "busy"; }
  int GetStatus() override { return cancelled ? CMD_STATUS_IDLE : CMD_STATUS_RUNNING; }
  int Run(bool) override { return 0; }
  bool CanCancel() const override { return true; }
  int Cancel() override { return cancelled = true, 0; }
  bool cancelled = false;
};

class MainWindowTest : public ::testing::Test {
 protected:
  Scoped<int> manual{g_manual, 0}, wipe_all{g_wipe_all, 0}, testmode{g_testmode, 0}, nodelay{g_nodelay, 1},
      debug{g_debuglevel, 0};
  FakeSys sys;
  SchemeScope schemes;
  CBlkDevMgr mgr;
  std::unique_ptr<VirtualTerminal> vt;
  CMainWindow* wnd = nullptr;

  MainWindowTest() {
    for (const char* n : {"First scheme", "Second scheme"}) schemes.Add(n, {MakePass(PASS_ZERO)});
    g_scheme.default_index = 0;
  }
  ~MainWindowTest() override {
    vt.reset();  // the windows go while the manager is there
    for (int i = 0; i < mgr.GetCount(); ++i) while (mgr.GetBlkDev(i)->IsQueueRunning()) usleep(2000);
    g_wipe_task.started = false;
  }
  void Drive(const std::string& name, uint64_t mib, const std::string& model) {
    fake_drive d;
    d.size = mib << 20, d.model = model, d.minor = (int)mib;
    sys.AddDrive(name, d);
  }
  void Start() {
    vt.reset(), vt.reset(new VirtualTerminal(25, 80));  // one platform at a time
    ASSERT_TRUE(vt->Ok());
    g_scr.CreateLayout(&mgr);
    wnd = dynamic_cast<CMainWindow*>(g_scr.Windows().back().get());
    ASSERT_NE(nullptr, wnd);
    Pass();
  }
  void Pass() { sys.Pass(mgr), g_scr.Redraw(1); }
  std::shared_ptr<CBlkDev> Dev(int i) { return mgr.GetBlkDev(i); }
  bool Shows(const std::string& text) { return VirtualTerminal::All().find(text) != std::string::npos; }
};

// A row gives size and model ("No media" for an empty reader, which cannot
// be selected), the detail pane the part of it an HPA hides; a removed
// drive's row says so.
TEST_F(MainWindowTest, RowsAndDetailsShowSizeModelHiddenAreaAndState) {
  Drive("sda", 4, "Disk Alpha");
  Drive("sdb", 0, "Card Reader");
  Start();
  EXPECT_EQ("  1 ---- 4.1 MB   Disk Alpha", VirtualTerminal::Row(1).substr(0, 28)) << VirtualTerminal::All();
  EXPECT_EQ("  2 ---- No media Card Reader", VirtualTerminal::Row(2).substr(0, 29));
  EXPECT_TRUE(Dev(1)->SetWiping(WIPING_SET) == 0 && !Dev(1)->IsSelectedForWiping());
  EXPECT_TRUE(Shows("Capacity: 4.1 MB, 4194304 Bytes, 8192 sectors"));
  EXPECT_FALSE(Shows("Native:"));
  facts_of(*Dev(0)).full_size_bytes = 8 << 20;  // an HPA hides half of the drive
  wnd->Draw(1);
  EXPECT_TRUE(Shows("  Native: 8.3 MB, 8388608 Bytes, 50% hidden")) << VirtualTerminal::All();
  sys.RemoveDrive("sdb");
  Pass();
  EXPECT_EQ(" --- disconnected --- ", VirtualTerminal::Row(2).substr(40, 22));
}

// S selects a ready drive only; W without a selection does nothing, and
// once the task runs, W starts the drives selected since.
TEST_F(MainWindowTest, SelectAndWipeKeys) {
  if (!sys.DirectIoWorks()) GTEST_SKIP() << "no direct I/O on " << sys.dir;
  Drive("sda", 1, "Disk Alpha");
  Drive("sdb", 2, "Disk Beta");
  Start();
  wnd->OnInput('w');
  EXPECT_EQ(2u, g_scr.Windows().size());
  std::shared_ptr<Busy> busy(new Busy);
  Dev(1)->SetCurrentCommand(busy);
  wnd->OnInput(KEY_DOWN);
  wnd->OnInput('s');
  EXPECT_FALSE(Dev(1)->IsSelectedForWiping());
  busy->Cancel();
  wnd->OnInput('S');
  g_scr.Redraw(1);
  EXPECT_EQ("WIPE", VirtualTerminal::Row(2).substr(4, 4));
  g_wipe_task.started = true;
  wnd->OnInput(KEY_UP);
  wnd->OnInput('s');
  wnd->OnInput('w');
  EXPECT_TRUE(Dev(0)->IsQueueRunning() || !sys.Untouched("sda"));
  EXPECT_TRUE(Dev(1)->IsQueueRunning() || !sys.Untouched("sdb"));
  EXPECT_EQ(2u, g_scr.Windows().size());
}

// Manual mode: the disk menu of a busy drive offers Cancel, which stops the
// running command.
TEST_F(MainWindowTest, DiskMenuCancels) {
  g_manual = 1;
  Drive("sda", 1, "Disk Alpha");
  Start();
  std::shared_ptr<Busy> busy(new Busy);
  Dev(0)->SetCurrentCommand(busy);
  VirtualTerminal::Keys({13});
  wnd->OnInput('d');
  EXPECT_TRUE(busy->cancelled);
  EXPECT_FALSE(VirtualTerminal::underflow);
}

// Each item of the options menu flips its own option; Q keeps them all. The
// scheme menu makes the checked scheme the one used.
TEST_F(MainWindowTest, MenusChangeTheSessionOptions) {
  Start();
  Scoped<int> opt[] = {{g_scheme.verify, 0}, {g_scheme.reset_dco, 0}, {g_scheme.reset_hpa, 0}, {g_scheme.ata_erase, 0}};
  for (int item = 0; item < 4; ++item) {
    VirtualTerminal::keys = {KEY_DOWN, 13};
    for (int i = 0; i < item; ++i) VirtualTerminal::keys.push_back(KEY_DOWN);
    VirtualTerminal::Keys({' ', 13});
    wnd->OnInput('m');
    for (int i = 0; i < 4; ++i) EXPECT_EQ(i == item, opt[i].var != 0) << "item " << item << ", option " << i;
    opt[item].var = 0;
  }
  VirtualTerminal::Keys({KEY_DOWN, 13, ' ', 'q'});
  wnd->OnInput('m');
  for (int i = 0; i < 4; ++i) EXPECT_EQ(0, opt[i].var);
  VirtualTerminal::Keys({13, KEY_DOWN, ' ', 13});
  wnd->OnInput('M');
  EXPECT_EQ(1, g_scheme.default_index);
  EXPECT_FALSE(VirtualTerminal::underflow);
}

}  // namespace
