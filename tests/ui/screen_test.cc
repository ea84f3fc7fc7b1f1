// The window stack and its input loop, and the `%` key-legend markup.
#include <gtest/gtest.h>

#include "ui/screen.h"
#include "ui_fixture.h"

namespace {

TEST(Markup, SplitsIntoReverseAndNormalRuns) {
  typedef std::vector<std::pair<std::string, bool>> runs;
  EXPECT_EQ((runs{{" ", false}, {" Q ", true}, {"-Close ", false}}), markup_segments(" % Q %-Close "));
  EXPECT_EQ((runs{{"100% done", false}}), markup_segments("100%% done"));
  EXPECT_EQ((runs{{"x", false}, {"y", true}}), markup_segments("x%y"));
  EXPECT_TRUE(markup_segments(nullptr).empty());
}

// A window that records what the loop asks of it.
class ProbeWindow : public CGenericWnd {
 public:
  ProbeWindow(std::vector<std::string>* log, std::string name, int answer, int draws)
      : log(log), name(std::move(name)), answer(answer), draws(draws) {}
  ~ProbeWindow() override { log->push_back(name + " deleted"); }
  int Create(WINDOW*, int, int, int, int) override { return 0; }
  int OnInput(int key) override {
    log->push_back(name + " key " + std::to_string(key));
    return key == 'x' ? -1 : answer;
  }
  int Draw(int changed) override {
    log->push_back(name + " draw " + std::to_string(changed));
    return draws;
  }
  std::vector<std::string>* log;
  std::string name;
  int answer, draws;
};

// Keys go to the top window first and down until one takes them; a window
// that draws makes the ones above it repaint; -1 ends the loop at once.
TEST(WindowLoop, OffersKeysTopDownAndRepaintsUpwards) {
  std::vector<std::string> log;
  VirtualTerminal vt(25, 80);
  ASSERT_TRUE(vt.Ok());
  g_scr.AddWindow(new ProbeWindow(&log, "a", 0, 1));
  g_scr.AddWindow(new ProbeWindow(&log, "b", 1, 0));
  g_scr.AddWindow(new ProbeWindow(&log, "c", 0, 0));
  VirtualTerminal::Keys({'k', 'x'});
  g_scr.WindowLoop();
  EXPECT_EQ((std::vector<std::string>{"c key 107", "b key 107", "a draw 0", "b draw 1", "c draw 1", "c key 120"}), log);
  log.clear();
  g_scr.DelWindow(g_scr.Windows().back());
  EXPECT_EQ(1, g_scr.Redraw(0));
  EXPECT_EQ((std::vector<std::string>{"c deleted", "a draw 1", "b draw 1"}), log);
}

}  // namespace
