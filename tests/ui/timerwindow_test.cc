// The countdown window: start on Enter or once the deadline has passed,
// cancel on any other key; the welcome variant starts nothing.
#include <gtest/gtest.h>

#include "support/log_capture.h"
#include "support/scoped.h"
#include "ui/timerwindow.h"
#include "ui_fixture.h"

namespace {

int g_starts = 0;

class TimerTest : public ::testing::Test {
 protected:
  VirtualTerminal vt{25, 80};
  Scoped<task_starter_fn_t> starter{g_task_starter, [](CWipeTask*, CBlkDevMgr*) { return ++g_starts, 0; }};
  LogCapture logs;
  int dummy = 0;
  CBlkDevMgr* mgr = reinterpret_cast<CBlkDevMgr*>(&dummy);
  CWipeTask* task = reinterpret_cast<CWipeTask*>(&dummy);
  TimerTest() { g_starts = 0; }
  CTimerWindow* Countdown(int seconds, CBlkDevMgr* m, CWipeTask* t) {
    CTimerWindow* w = new CTimerWindow(m, t);
    EXPECT_EQ(0, w->Create(stdscr, 0, 0, 0, 0));
    if (seconds >= 0) w->SetTime(seconds);
    g_scr.AddWindow(w);
    return w;
  }
};

TEST_F(TimerTest, StartsOnEnterOrOnceTheDeadlineHasPassed) {
  FakeClock::Now() = 1700000000;
  CTimerWindow* w = Countdown(11, mgr, task);
  EXPECT_EQ(" %[00:11] Enter%-Start %Any other key%-Cancel ", w->Legend(FakeClock::Now()));
  FakeClock::Now() += 11;
  w->OnInput(-1);
  EXPECT_EQ(0, g_starts);
  FakeClock::Now() += 1;
  w->OnInput(-1);
  EXPECT_EQ(1, g_starts);
  EXPECT_TRUE(g_scr.Windows().empty());
  Countdown(61, mgr, task)->OnInput(13);
  EXPECT_EQ(2, g_starts);
  EXPECT_EQ(2, logs.Count("Wiping task started", "wipe"));
}

TEST_F(TimerTest, AnyOtherKeyCancelsEvenAfterTheDeadline) {
  Countdown(61, mgr, task)->OnInput('x');
  CTimerWindow* w = Countdown(1, mgr, task);
  FakeClock::Now() += 5;
  w->OnInput(KEY_DOWN);
  EXPECT_EQ(0, g_starts);
  EXPECT_TRUE(g_scr.Windows().empty());
  EXPECT_EQ(2, logs.Count("Wiping task start cancelled by user", "wipe"));
  CTimerWindow* welcome = Countdown(-1, nullptr, nullptr);
  EXPECT_EQ(" Press any key to continue ", welcome->Legend(0));
  welcome->OnInput(13);
  EXPECT_EQ(0, g_starts);
}

}  // namespace
