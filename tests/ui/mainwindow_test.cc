// The main window against a real device manager whose monitor passes are run
// by hand over a fake sysfs tree with image files for device nodes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <set>
#include <string>

#include "app/globals.h"
#include "device/device_fixture.h"
#include "devmgr/devmgr.h"
#include "devmgr/rescan_task.h"
#include "support/log_capture.h"
#include "task/wipe_task.h"
#include "ui/dumpwindow.h"
#include "ui/logwindow.h"
#include "ui/mainwindow.h"
#include "ui/timerwindow.h"
#include "ui_fixture.h"

namespace {

struct ModeFlags {
  ModeFlags() : debuglevel(g_debuglevel), testmode(g_testmode), manual(g_manual), wipe_all(g_wipe_all), nodelay(g_nodelay) {}
  ~ModeFlags() {
    g_debuglevel = debuglevel;
    g_testmode = testmode;
    g_manual = manual;
    g_wipe_all = wipe_all;
    g_nodelay = nodelay;
  }
  int debuglevel, testmode, manual, wipe_all, nodelay;
};

time_t g_fake_devmgr_now = 1700000000;
time_t fake_devmgr_clock() { return g_fake_devmgr_now; }
void no_sleep() {}

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    saved_clock = g_devmgr_clock;
    saved_sleep = g_devmgr_monitor_sleep;
    // Disconnection times are stamped with the real clock: start from it.
    g_fake_devmgr_now = time(nullptr);
    g_devmgr_clock = fake_devmgr_clock;
    g_devmgr_monitor_sleep = no_sleep;
    saved_starter = g_task_starter;
    g_task_starter = [](CWipeTask*, CBlkDevMgr*) { return 0; };
  }
  ~MainWindowTest() override {
    vt.reset();  // deletes the windows while the manager still exists
    mgr.reset();
    g_devmgr_clock = saved_clock;
    g_devmgr_monitor_sleep = saved_sleep;
    g_task_starter = saved_starter;
  }

  void AddDrive(const std::string& name, size_t mib, const std::string& model, int minor) {
    root.MakeDir("/sys/block/" + name);
    root.MakeDir("/sys/block/" + name + "/device");
    root.WriteFile("/sys/block/" + name + "/size", std::to_string(mib * 2048) + "\n");
    root.WriteFile("/sys/block/" + name + "/dev", std::to_string(kUnusedMajor) + ":" + std::to_string(minor) + "\n");
    root.WriteFile("/sys/block/" + name + "/device/type", "0\n");
    root.WriteFile("/sys/block/" + name + "/device/model", model + "\n");
    root.WriteFile("/sys/block/" + name + "/device/vendor", "ACME\n");
    root.MakeImage(name, mib << 20, 0x5a);
  }
  void Unplug(const std::string& name) {
    std::string cmd = "rm -rf '" + root.Path("/sys/block/" + name) + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
  // One pass of the device monitor, as its thread would run it.
  void Pass() {
    mgr->MonitorPass(previous, first_pass);
    first_pass = false;
  }
  // The screen with the header and the main window, as start-up makes it.
  void Start(int lines = 25, int cols = 80) {
    vt.reset(new VirtualTerminal(lines, cols));
    ASSERT_TRUE(vt->Ok());
    g_scr.CreateLayout(mgr.get());
    ASSERT_EQ(g_scr.Windows().size(), 2u);
    wnd = dynamic_cast<CMainWindow*>(g_scr.Windows().back());
    ASSERT_NE(wnd, nullptr);
  }
  template <class W>
  W* Top() {
    return dynamic_cast<W*>(g_scr.Windows().back());
  }
  std::shared_ptr<CBlkDev> Dev(int i) { return mgr->GetBlkDev(i); }

  ModeFlags flags;
  TempRoot root;
  std::unique_ptr<CBlkDevMgr> mgr{new CBlkDevMgr()};
  std::unique_ptr<VirtualTerminal> vt;
  CMainWindow* wnd = nullptr;
  std::set<std::string> previous;
  bool first_pass = true;
  devmgr_clock_fn_t saved_clock;
  devmgr_sleep_fn_t saved_sleep;
  task_starter_fn_t saved_starter;
};

TEST_F(MainWindowTest, ShowsDetectingUntilTheFirstPassThenTheList) {
  g_manual = 0;
  g_wipe_all = 0;
  g_testmode = 0;
  AddDrive("sda", 4, "Disk Alpha", 1);
  AddDrive("sdb", 8, "Disk Beta", 2);
  Start();
  EXPECT_EQ(VirtualTerminal::Row(2).substr(4, 20), " Detecting drives...");
  EXPECT_EQ(wnd->Draw(1), 0);
  Pass();
  g_scr.Redraw(1);
  std::string all = VirtualTerminal::All();
  // Rows: number, tag, size; model at column 18.
  EXPECT_EQ(VirtualTerminal::Row(1).substr(0, 28), "  1 ---- 4.1 MB   Disk Alpha") << all;
  EXPECT_EQ(VirtualTerminal::Row(2).substr(0, 28), "  2 ---- 8.3 MB   Disk Beta ") << all;
  EXPECT_TRUE(VirtualTerminal::Reverse(1, 60));  // the selection bar spans the row
  EXPECT_FALSE(VirtualTerminal::Reverse(2, 60));
  // The list is three rows high (two devices + 1), the pane title below.
  EXPECT_EQ(wnd->ListRows(), 3);
  EXPECT_NE(VirtualTerminal::Row(4).find(" Disk details "), std::string::npos) << all;
  EXPECT_NE(all.find("Dev name: sda"), std::string::npos) << all;
  EXPECT_NE(all.find("Capacity: 4.1 MB, 4194304 Bytes, 8192 sectors"), std::string::npos) << all;
  EXPECT_NE(all.find("   Model: ACME Disk Alpha"), std::string::npos) << all;
  std::string legend = VirtualTerminal::Row(24);
  EXPECT_EQ(legend.substr(1, 60), " ? -Help Tab-details/log [M]enu [S]elect [W]ipe [R]escan Spa");
  wnd->OnInput(KEY_DOWN);
  g_scr.Redraw(1);
  EXPECT_NE(VirtualTerminal::All().find("Dev name: sdb"), std::string::npos);
  EXPECT_EQ(wnd->SelectedIndex(), 1);
  wnd->OnInput(KEY_DOWN);
  EXPECT_EQ(wnd->SelectedIndex(), 1);
}

TEST_F(MainWindowTest, LayoutFollowsTheDeviceCount) {
  g_manual = 0;
  g_wipe_all = 0;
  for (int i = 0; i < 10; ++i) AddDrive("sd" + std::string(1, (char)('a' + i)), 1, "D", i + 1);
  Start(24, 80);
  Pass();
  g_scr.Redraw(1);
  EXPECT_EQ(wnd->ListRows(), 11);  // h = 22, count + 1 = 11
  EXPECT_EQ(wnd->LogRows(), 10);
  for (int i = 10; i < 30; ++i) AddDrive("sd" + std::string(1, (char)('a' + i / 26)) + (char)('a' + i % 26), 1, "D", i + 1);
  Pass();
  g_scr.Redraw(1);
  EXPECT_EQ(mgr->GetCount(), 30);
  EXPECT_EQ(wnd->ListRows(), 11);  // capped at h / 2
  for (int i = 0; i < 15; ++i) wnd->OnInput(KEY_DOWN);
  EXPECT_EQ(wnd->SelectedIndex(), 15);
  EXPECT_EQ(wnd->FirstVisible(), 5);
  g_scr.Redraw(1);
  EXPECT_EQ(VirtualTerminal::Row(1).substr(0, 3), "  6");
  for (int i = 0; i < 15; ++i) wnd->OnInput(KEY_UP);
  EXPECT_EQ(wnd->FirstVisible(), 0);
}

TEST_F(MainWindowTest, SelectionTagsAndModeRules) {
  LogCapture cap;
  g_manual = 0;
  g_wipe_all = 0;
  g_testmode = 0;
  AddDrive("sda", 4, "Disk Alpha", 1);
  Start();
  Pass();
  wnd->OnInput('s');
  g_scr.Redraw(1);
  EXPECT_EQ(Dev(0)->wipe_selected, 1);
  EXPECT_EQ(VirtualTerminal::Row(1).substr(4, 4), "WIPE");
  EXPECT_TRUE(cap.Has("Selecting device sda", "wipe"));
  wnd->OnInput('S');
  EXPECT_EQ(Dev(0)->wipe_selected, 0);
  wnd->OnInput('d');  // no disk menu outside manual mode
  EXPECT_EQ(g_scr.Windows().size(), 2u);
  // W with nothing selected only logs.
  wnd->OnInput('w');
  EXPECT_EQ(g_scr.Windows().size(), 2u);
  EXPECT_TRUE(cap.Has("Wiping not started: nothing to do, manual mode = 0", "wipe"));
  g_manual = 1;
  wnd->OnInput('s');
  EXPECT_EQ(Dev(0)->wipe_selected, 0);
}

TEST_F(MainWindowTest, WOpensTheCountdownWithTheLogPane) {
  g_manual = 0;
  g_wipe_all = 0;
  g_nodelay = 1;
  AddDrive("sda", 4, "Disk Alpha", 1);
  Start();
  Pass();
  wnd->OnInput('s');
  FakeClock::Now() = 1700000000;
  wnd->OnInput('W');
  CTimerWindow* t = Top<CTimerWindow>();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Deadline(), 1700000000 + 11);
  EXPECT_EQ(wnd->View(), CMainWindow::VIEW_LOG);
  EXPECT_EQ(wnd->PaneTitle(), "Log");
  g_scr.Redraw(1);
  EXPECT_NE(VirtualTerminal::All().find(" Confirm wiping "), std::string::npos);
  // The countdown takes the keys: 'x' cancels it and never reaches the list.
  int before = Dev(0)->wipe_selected;
  g_key_source = [] { return (int)'x'; };
  for (auto it = g_scr.Windows().rbegin(); it != g_scr.Windows().rend(); ++it)
    if ((*it)->OnInput('x') == 1) break;
  g_key_source = &FakeInput::Next;
  EXPECT_EQ(g_scr.Windows().size(), 2u);
  EXPECT_EQ(Dev(0)->wipe_selected, before);
}

TEST_F(MainWindowTest, UnattendedModeSelectsEverythingAndStartsTheCountdown) {
  g_manual = 0;
  g_wipe_all = 1;
  g_nodelay = 0;
  AddDrive("sda", 4, "Disk Alpha", 1);
  AddDrive("sdb", 4, "Disk Beta", 2);
  Start();
  wnd->OnInput(-1);  // still detecting: nothing
  EXPECT_TRUE(wnd->AutoStartPending());
  Pass();
  EXPECT_EQ(wnd->PendingCount(), 2u);
  g_scr.Redraw(1);
  EXPECT_EQ(wnd->PendingCount(), 0u);
  EXPECT_EQ(Dev(0)->wipe_selected, 1);
  EXPECT_EQ(Dev(1)->wipe_selected, 1);
  FakeClock::Now() = 1700000000;
  wnd->OnInput(-1);
  EXPECT_FALSE(wnd->AutoStartPending());
  CTimerWindow* t = Top<CTimerWindow>();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Deadline(), 1700000000 + 61);
}

TEST_F(MainWindowTest, UnattendedModeWaitsUntilThereIsSomethingToDo) {
  g_manual = 0;
  g_wipe_all = 1;
  Start();
  Pass();  // no drives
  g_scr.Redraw(1);
  wnd->OnInput(-1);
  EXPECT_TRUE(wnd->AutoStartPending());
  EXPECT_EQ(g_scr.Windows().size(), 2u);
  AddDrive("sda", 4, "Disk Alpha", 1);
  Pass();
  g_scr.Redraw(1);
  wnd->OnInput(-1);
  EXPECT_FALSE(wnd->AutoStartPending());
  EXPECT_NE(Top<CTimerWindow>(), nullptr);
}

TEST_F(MainWindowTest, ManualAndTestModeStartUp) {
  g_manual = 1;
  g_wipe_all = 0;
  g_testmode = 0;
  AddDrive("sda", 4, "Disk Alpha", 1);
  Start();
  Pass();
  g_scr.Redraw(1);
  EXPECT_EQ(VirtualTerminal::Row(1).substr(4, 4), "    ");  // idle devices show a blank tag
  EXPECT_EQ(VirtualTerminal::Row(24).substr(1, 48), " ? -Help Tab-details/log [M]ain menu [D]isk menu");
  wnd->OnInput(-1);
  EXPECT_FALSE(wnd->AutoStartPending());
  EXPECT_EQ(g_scr.Windows().size(), 2u);
  wnd->OnInput('?');
  CLogWindow* help = Top<CLogWindow>();
  ASSERT_NE(help, nullptr);
  help->OnInput('q');
  EXPECT_EQ(g_scr.Windows().size(), 2u);
}

TEST_F(MainWindowTest, TestModeShowsTheWelcomeOnTheFirstIdleTick) {
  g_testmode = 1;
  g_manual = 1;
  g_debuglevel = 2;
  Start();
  Pass();
  g_scr.Redraw(1);
  EXPECT_EQ(VirtualTerminal::Row(24).substr(1, 14), "  TEST MODE   ");
  EXPECT_TRUE(VirtualTerminal::Reverse(24, 1));
  wnd->OnInput(-1);
  CTimerWindow* t = Top<CTimerWindow>();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Deadline(), 0);
  t->OnInput('x');
  EXPECT_EQ(g_scr.Windows().size(), 2u);
}

TEST_F(MainWindowTest, TabCyclesDetailsAndLogsByDebugLevel) {
  g_debuglevel = 0;
  Start();
  Pass();
  std::vector<std::string> titles;
  for (int i = 0; i < 3; ++i) {
    wnd->OnInput(KEY_TAB);
    titles.push_back(wnd->PaneTitle());
  }
  EXPECT_EQ(titles, (std::vector<std::string>{"Log", "Disk details", "Log"}));
  g_debuglevel = 3;
  titles.clear();
  for (int i = 0; i < 3; ++i) {
    wnd->OnInput(KEY_TAB);
    titles.push_back(wnd->PaneTitle());
  }
  EXPECT_EQ(titles, (std::vector<std::string>{"Verbose log", "Disk details", "Log"}));
}

TEST_F(MainWindowTest, LogPaneFollowsTheEndOfTheLog) {
  g_debuglevel = 0;
  root.MakeDir("/tmp");
  std::string log;
  for (int i = 0; i < 40; ++i) log += "log line " + std::to_string(i) + "\n";
  root.WriteFile("/tmp/zorvane.log", log);
  Start();
  Pass();
  wnd->OnInput(KEY_TAB);
  for (int i = 0; i < 300 && wnd->Reader().GetLineCount() < 40; ++i) usleep(10000);
  g_scr.Redraw(1);
  // 25 lines, empty list (3 rows): 19 log rows showing lines 21..39.
  EXPECT_EQ(wnd->LogRows(), 19);
  EXPECT_EQ(wnd->LogFirstLine(), 21);
  EXPECT_EQ(VirtualTerminal::Row(23).substr(0, 11), "log line 39");
  wnd->OnInput(KEY_PPAGE);
  EXPECT_EQ(wnd->LogFirstLine(), 20);
  wnd->OnInput(KEY_NPAGE);
  wnd->OnInput(KEY_NPAGE);
  EXPECT_EQ(wnd->LogFirstLine(), 21);  // never past the end
  std::ofstream(root.Path("/tmp/zorvane.log"), std::ios::app) << "newest line\n";
  for (int i = 0; i < 300 && wnd->Reader().GetLineCount() < 41; ++i) usleep(10000);
  g_scr.Redraw(1);
  EXPECT_EQ(VirtualTerminal::Row(23).substr(0, 11), "newest line");
}

TEST_F(MainWindowTest, UnpluggedDriveShowsDisconnectedThenLeaves) {
  g_manual = 0;
  g_wipe_all = 0;
  AddDrive("sda", 4, "Disk Alpha", 1);
  AddDrive("sdb", 4, "Disk Beta", 2);
  Start();
  Pass();
  wnd->OnInput(KEY_DOWN);
  g_scr.Redraw(1);
  Unplug("sdb");
  Pass();
  g_scr.Redraw(1);
  EXPECT_EQ(VirtualTerminal::Row(2).substr(40, 22), " --- disconnected --- ") << VirtualTerminal::All();
  // Disconnection is stamped with the real clock, which may have moved on.
  g_fake_devmgr_now = Dev(1)->disconnect_time + 31;
  Pass();
  g_scr.Redraw(1);
  EXPECT_EQ(mgr->GetCount(), 1);
  EXPECT_EQ(wnd->SelectedIndex(), 0);  // moved to the new last device
  EXPECT_EQ(VirtualTerminal::Row(2).find("disconnected"), std::string::npos);
}

TEST_F(MainWindowTest, SpaceOpensTheSectorDumpOfAnIdleDrive) {
  g_manual = 0;
  AddDrive("sda", 4, "Disk Alpha", 1);
  Start();
  Pass();
  wnd->OnInput(' ');
  CDumpWindow* d = Top<CDumpWindow>();
  ASSERT_NE(d, nullptr);
  g_scr.Redraw(1);
  std::string all = VirtualTerminal::All();
  EXPECT_NE(all.find("Sector (0-8191): 0 / Hex (0-1FFF): 0"), std::string::npos) << all;
  EXPECT_NE(all.find("0000: 5A 5A 5A 5A 5A 5A 5A 5A  5A 5A"), std::string::npos) << all;
  d->OnInput('q');
  EXPECT_EQ(g_scr.Windows().size(), 2u);
}

TEST_F(MainWindowTest, SchemeAndOptionsMenusChangeTheSessionSettings) {
  LogCapture cap;
  SchemeScope schemes;
  schemes.Add("First scheme", {MakePass(PASS_ZERO, false)});
  schemes.Add("Second scheme", {MakePass(PASS_RANDOM, true)});
  g_scheme.default_index = 0;
  int verify = g_scheme.verify, dco = g_scheme.reset_dco;
  Start();
  Pass();
  // Main menu, first item: the scheme menu; check the second scheme.
  VirtualTerminal::Keys({13, KEY_DOWN, ' ', 13});
  wnd->OnInput('m');
  EXPECT_EQ(g_scheme.default_index, 1);
  EXPECT_TRUE(cap.Has("'Second scheme' scheme selected", "wipe"));
  // Main menu, second item: options; flip verification and DCO reset.
  VirtualTerminal::Keys({KEY_DOWN, 13, ' ', KEY_DOWN, ' ', 13});
  wnd->OnInput('M');
  EXPECT_EQ(g_scheme.verify, verify ? 0 : 1);
  EXPECT_EQ(g_scheme.reset_dco, dco ? 0 : 1);
  // Q drops the changes.
  VirtualTerminal::Keys({KEY_DOWN, 13, ' ', 'q'});
  wnd->OnInput('m');
  EXPECT_EQ(g_scheme.verify, verify ? 0 : 1);
  EXPECT_FALSE(FakeInput::Underflow());
  g_scheme.verify = verify;
  g_scheme.reset_dco = dco;
}

TEST_F(MainWindowTest, DiskMenuListsTheDriveCommandsInManualModeOnly) {
  g_manual = 1;
  AddDrive("sda", 4, "Disk Alpha", 1);
  Start();
  Pass();
  static std::string seen;
  key_source_fn_t saved = g_key_source;
  g_key_source = [] {
    seen = VirtualTerminal::All();
    return (int)'q';
  };
  wnd->OnInput('d');
  g_key_source = saved;
  // The popup sits under the selected row, at column 4, and lists "Wipe".
  EXPECT_NE(seen.find("Wipe"), std::string::npos) << seen;
  ASSERT_GT(seen.size(), 2u * 81 + 4);
  EXPECT_EQ(seen[2 * 81 + 4], 'l') << seen;  // the top-left corner of the box
  EXPECT_TRUE(Dev(0)->IsReady());  // q ran nothing
  g_manual = 0;
  seen.clear();
  g_key_source = [] {
    seen = "asked";
    return (int)'q';
  };
  wnd->OnInput('d');
  g_key_source = saved;
  EXPECT_EQ(seen, "");
}

// The disk holding the log shows "LOG " and cannot be selected: not with S,
// not by the unattended mode that selects everything, not when it comes back
// to a running unattended wipe; in manual mode it has no disk menu.
TEST_F(MainWindowTest, TheLogDiskIsNeverSelected) {
  LogCapture cap;
  g_manual = 0;
  g_wipe_all = 0;
  g_testmode = 0;
  AddDrive("sda", 4, "Disk Alpha", 1);
  AddDrive("sdb", 4, "Log Stick", 2);
  mgr->log_device_name = "sdb";
  Start();
  Pass();
  g_scr.Redraw(1);
  EXPECT_EQ(VirtualTerminal::Row(2).substr(0, 28), "  2 LOG  4.1 MB   Log Stick ") << VirtualTerminal::All();
  wnd->OnInput(KEY_DOWN);
  wnd->OnInput('s');
  g_scr.Redraw(1);
  EXPECT_TRUE(cap.Has("Selecting device sdb", "wipe"));
  EXPECT_FALSE(Dev(1)->IsSelectedForWiping());
  EXPECT_EQ(VirtualTerminal::Row(2).substr(4, 4), "LOG ");
  wnd->OnInput('w');
  EXPECT_TRUE(cap.Has("Wiping not started: nothing to do, manual mode = 0", "wipe"));

  g_manual = 1;
  wnd->OnInput('d');
  EXPECT_FALSE(FakeInput::Underflow()) << "a disk menu was opened for the log disk";
  EXPECT_EQ(g_scr.Windows().size(), 2u);
}

TEST_F(MainWindowTest, UnattendedModeLeavesTheLogDiskAlone) {
  g_manual = 0;
  g_wipe_all = 1;
  AddDrive("sda", 4, "Disk Alpha", 1);
  AddDrive("sdb", 4, "Log Stick", 2);
  mgr->log_device_name = "sdb";
  Start();
  Pass();
  g_scr.Redraw(1);
  EXPECT_TRUE(Dev(0)->IsSelectedForWiping());
  EXPECT_FALSE(Dev(1)->IsSelectedForWiping());
  EXPECT_EQ(VirtualTerminal::Row(1).substr(4, 4), "WIPE");
  EXPECT_EQ(VirtualTerminal::Row(2).substr(4, 4), "LOG ");

  // The task runs; the log stick drops off the bus and comes back under
  // another name, first within 30 s (the same entry), then after its entry
  // was dropped (a new one). Each return is handed to the running task.
  struct started_scope {
    started_scope() { g_wipe_task.started = true; }
    ~started_scope() { g_wipe_task.started = false; }
  } started;
  std::shared_ptr<CBlkDev> stick = Dev(1);
  Unplug("sdb");
  Pass();
  AddDrive("sdc", 4, "Log Stick", 2);
  Pass();
  EXPECT_EQ(wnd->PendingCount(), 1u);
  g_scr.Redraw(1);
  EXPECT_EQ(stick->name, "sdc");
  EXPECT_FALSE(stick->IsSelectedForWiping());
  EXPECT_TRUE(stick->queue.empty());
  EXPECT_FALSE(stick->IsQueueRunning());
  EXPECT_EQ(VirtualTerminal::Row(2).substr(4, 4), "LOG ");

  Unplug("sdc");
  Pass();
  g_fake_devmgr_now = stick->disconnect_time + 31;
  Pass();
  ASSERT_EQ(mgr->GetCount(), 1);
  AddDrive("sdd", 4, "Log Stick", 2);
  Pass();
  g_scr.Redraw(1);
  ASSERT_EQ(mgr->GetCount(), 2);
  EXPECT_NE(Dev(1), stick);
  EXPECT_TRUE(Dev(1)->IsLogDevice());
  EXPECT_FALSE(Dev(1)->IsSelectedForWiping());
  EXPECT_TRUE(Dev(1)->queue.empty());
  EXPECT_FALSE(Dev(1)->IsQueueRunning());
  EXPECT_EQ(VirtualTerminal::Row(2).substr(4, 4), "LOG ");
}

// R twice while the first rescan is still scanning a host starts one rescan.
TEST_F(MainWindowTest, RTwiceStartsOneRescan) {
  LogCapture cap;
  Start();
  Pass();
  for (const char* d : {"/sys/class", "/sys/class/scsi_host", "/sys/class/scsi_host/host0"}) root.MakeDir(d);
  std::string scan = root.Path("/sys/class/scsi_host/host0/scan");
  ASSERT_EQ(0, mkfifo(scan.c_str(), 0600));
  wnd->OnInput('R');
  wnd->OnInput('r');
  int fd = open(scan.c_str(), O_RDONLY);  // lets the host scan go on
  ASSERT_GE(fd, 0);
  char buf[16];
  while (read(fd, buf, sizeof buf) > 0) {
  }
  close(fd);
  for (int i = 0; i < 500 && g_rescan_task.IsStarted(); ++i) usleep(10000);
  EXPECT_FALSE(g_rescan_task.IsStarted());
  EXPECT_EQ(1, cap.Count("Rescanning devices...", "wipe"));
  EXPECT_EQ(1, cap.Count("Rescan complete.", "wipe"));
}

TEST_F(MainWindowTest, HooksOnlyRecord) {
  Start();
  auto dev = std::make_shared<CBlkDev>();
  wnd->DeviceAttachedHook(dev);
  wnd->DeviceComeBackHook(dev);
  wnd->DeviceRemovedHook(dev);
  EXPECT_EQ(wnd->PendingCount(), 2u);
}

}  // namespace
