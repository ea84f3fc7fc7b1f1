// The countdown window: start on Enter or when the deadline passes, cancel on
// any other key, the welcome variant, and the file text inside the box.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "support/log_capture.h"
#include "ui/timerwindow.h"
#include "ui_fixture.h"

namespace {

struct StartRecorder {
  static std::vector<std::pair<CWipeTask*, CBlkDevMgr*>>& Calls() {
    static std::vector<std::pair<CWipeTask*, CBlkDevMgr*>> c;
    return c;
  }
  static int Start(CWipeTask* t, CBlkDevMgr* m) {
    Calls().emplace_back(t, m);
    return 0;
  }
};

class TimerTest : public ::testing::Test {
 protected:
  TimerTest() : vt(25, 80) {
    saved = g_task_starter;
    g_task_starter = &StartRecorder::Start;
    StartRecorder::Calls().clear();
    char tmpl[] = "/tmp/zv-start-XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd >= 0) close(fd);
    path = tmpl;
    std::ofstream out(path);
    out << "All data on the selected drives will be destroyed.\n"
        << "A line long enough to be wrapped inside the sixty columns of the box.\n";
  }
  ~TimerTest() override {
    g_task_starter = saved;
    unlink(path.c_str());
  }
  CTimerWindow* Countdown(int seconds) {
    CTimerWindow* w = new CTimerWindow(mgr, task);
    created = w->Create(stdscr, 0, 0, 0, 0);
    w->SetFile(path.c_str(), 0);
    w->SetHeader("Confirm wiping");
    w->SetTime(seconds);
    g_scr.AddWindow(w);
    for (int i = 0; i < 300 && w->Reader().GetLineCount() < 3; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return w;
  }
  VirtualTerminal vt;
  task_starter_fn_t saved;
  std::string path;
  int dummy_mgr = 0, dummy_task = 0;
  CBlkDevMgr* mgr = reinterpret_cast<CBlkDevMgr*>(&dummy_mgr);
  CWipeTask* task = reinterpret_cast<CWipeTask*>(&dummy_task);
  int created = -1;
};

TEST_F(TimerTest, StartsByItselfOnceTheDeadlineHasPassed) {
  LogCapture cap;
  FakeClock::Now() = 1700000000;
  CTimerWindow* w = Countdown(11);
  ASSERT_EQ(created, 0);
  EXPECT_EQ(w->Legend(FakeClock::Now()), " %[00:11] Enter%-Start %Any other key%-Cancel ");
  EXPECT_EQ(w->Draw(0), 1);
  int top = (25 - 12) / 2, left = (80 - 60) / 2;
  EXPECT_NE(VirtualTerminal::Row(top).find(" Confirm wiping "), std::string::npos);
  EXPECT_EQ(VirtualTerminal::Row(top + 1).substr(left + 1, 50), "All data on the selected drives will be destroyed.");
  // The long line wraps inside the box.
  EXPECT_EQ(VirtualTerminal::Row(top + 3).substr(left + 1, 13), "of the box.  ");
  std::string legend = VirtualTerminal::Row(top + 12);
  EXPECT_NE(legend.find("[00:11] Enter-Start Any other key-Cancel"), std::string::npos) << legend;
  EXPECT_TRUE(VirtualTerminal::Reverse(top + 12, left + 3));
  // Same second, nothing new: no drawing. The next second redraws.
  EXPECT_EQ(w->Draw(0), 0);
  FakeClock::Now() += 1;
  EXPECT_EQ(w->Draw(0), 1);
  EXPECT_NE(VirtualTerminal::Row(top + 12).find("[00:10]"), std::string::npos);
  // Idle ticks up to and at the deadline do nothing.
  FakeClock::Now() = 1700000000 + 11;
  EXPECT_EQ(w->OnInput(-1), 1);
  EXPECT_TRUE(StartRecorder::Calls().empty());
  EXPECT_EQ(g_scr.Windows().size(), 1u);
  FakeClock::Now() += 1;
  EXPECT_EQ(w->OnInput(-1), 1);  // passed: start, and the window is gone
  ASSERT_EQ(StartRecorder::Calls().size(), 1u);
  EXPECT_EQ(StartRecorder::Calls()[0].first, task);
  EXPECT_EQ(StartRecorder::Calls()[0].second, mgr);
  EXPECT_TRUE(g_scr.Windows().empty());
  EXPECT_TRUE(cap.Has("Wiping task started", "wipe"));
}

TEST_F(TimerTest, EnterStartsAtOnceAndAnyOtherKeyCancels) {
  LogCapture cap;
  Countdown(61)->OnInput(13);
  EXPECT_EQ(StartRecorder::Calls().size(), 1u);
  EXPECT_TRUE(g_scr.Windows().empty());
  Countdown(61)->OnInput('x');
  EXPECT_EQ(StartRecorder::Calls().size(), 1u);
  EXPECT_TRUE(g_scr.Windows().empty());
  EXPECT_TRUE(cap.Has("Wiping task start cancelled by user", "wipe"));
  // Even after the deadline a real key still cancels.
  CTimerWindow* w = Countdown(1);
  FakeClock::Now() += 5;
  w->OnInput(KEY_DOWN);
  EXPECT_EQ(StartRecorder::Calls().size(), 1u);
}

TEST_F(TimerTest, WelcomeWaitsForAnyKeyAndStartsNothing) {
  LogCapture cap;
  CTimerWindow* w = new CTimerWindow(nullptr, nullptr);
  ASSERT_EQ(w->Create(stdscr, 15, 50, 0, 0), 0);  // the requested size is ignored
  w->SetFile("/tmp/zv-no-such-welcome-file", 0);
  w->SetHeader("Welcome to Zorvane!");
  g_scr.AddWindow(w);
  EXPECT_EQ(w->Legend(0), " Press any key to continue ");
  w->Draw(0);
  int top = (25 - 12) / 2, left = (80 - 60) / 2;
  EXPECT_EQ(VirtualTerminal::Row(top).substr(left, 1), "l");  // the box corner, 13 x 60
  EXPECT_EQ(VirtualTerminal::Row(top + 12).substr(left + 59, 1), "j");
  EXPECT_EQ(VirtualTerminal::Row(top + 1).substr(left + 1, 57),
            "File /tmp/zv-no-such-welcome-file is empty or unreadable.");
  EXPECT_EQ(w->OnInput(-1), 1);
  EXPECT_EQ(g_scr.Windows().size(), 1u);
  EXPECT_EQ(w->OnInput(13), 1);
  EXPECT_TRUE(g_scr.Windows().empty());
  EXPECT_TRUE(StartRecorder::Calls().empty());
  EXPECT_FALSE(cap.Has("Wiping task"));
}

}  // namespace
