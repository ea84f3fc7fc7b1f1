// The countdown window: start on Enter or once the deadline has passed,
// cancel on any other key, even after the deadline; the welcome variant
// starts nothing. The session log says which.
#include <gtest/gtest.h>

#include "support/log_capture.h"
#include "support/scoped.h"
#include "ui/timerwindow.h"
#include "ui_fixture.h"

namespace {

int g_starts = 0;

TEST(Timer, StartsOnEnterOrAtTheDeadlineAnyOtherKeyCancels) {
  VirtualTerminal vt{25, 80};
  Scoped<task_starter_fn_t> starter{g_task_starter, [](CWipeTask*, CBlkDevMgr*) { return ++g_starts, 0; }};
  int dummy = 0;
  struct row {
    int seconds, wait, key;  // seconds < 0: the welcome window
    bool starts;
  } rows[] = {{11, 12, -1, true}, {61, 0, 13, true}, {61, 0, 'x', false}, {1, 5, KEY_DOWN, false},
              {-1, 0, 13, false}, {11, 11, -1, false}};
  for (const row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.seconds << " s, key " << r.key);
    LogCapture logs;
    g_starts = 0;
    bool welcome = r.seconds < 0;
    CBlkDevMgr* mgr = welcome ? nullptr : reinterpret_cast<CBlkDevMgr*>(&dummy);
    auto owned = std::make_unique<CTimerWindow>(mgr, welcome ? nullptr : reinterpret_cast<CWipeTask*>(&dummy));
    CTimerWindow* w = owned.get();
    EXPECT_EQ(0, w->Create(stdscr, 0, 0, 0, 0));
    if (!welcome) w->SetTime(r.seconds);
    g_scr.AddWindow(std::move(owned));
    VirtualTerminal::now += r.wait;
    w->OnInput(r.key);
    EXPECT_EQ(r.starts ? 1 : 0, g_starts);
    EXPECT_EQ(r.key != -1 || r.starts, g_scr.Windows().empty());
    EXPECT_EQ(r.starts, logs.Has("Wiping task started", "wipe"));
    EXPECT_EQ(!welcome && r.key != -1 && !r.starts, logs.Has("Wiping task start cancelled by user", "wipe"));
  }
}

}  // namespace
