// The window stack, the input loop, the header and the `%` key-legend markup.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/screen.h"
#include "ui_fixture.h"

namespace {

TEST(Markup, SplitsIntoReverseAndNormalRuns) {
  auto segs = markup_segments(" % Q %-Close ");
  ASSERT_EQ(segs.size(), 3u);
  EXPECT_EQ(segs[0], std::make_pair(std::string(" "), false));
  EXPECT_EQ(segs[1], std::make_pair(std::string(" Q "), true));
  EXPECT_EQ(segs[2], std::make_pair(std::string("-Close "), false));

  auto pct = markup_segments("100%% done");
  ASSERT_EQ(pct.size(), 1u);
  EXPECT_EQ(pct[0], std::make_pair(std::string("100% done"), false));

  auto ab = markup_segments("%A%B");
  ASSERT_EQ(ab.size(), 2u);
  EXPECT_EQ(ab[0], std::make_pair(std::string("A"), true));
  EXPECT_EQ(ab[1], std::make_pair(std::string("B"), false));

  EXPECT_TRUE(markup_segments(nullptr).empty());
  // An unclosed toggle still shows its text, in reverse video.
  auto open = markup_segments("x%y");
  ASSERT_EQ(open.size(), 2u);
  EXPECT_TRUE(open[1].second);
}

TEST(Markup, PrettyStroutPaintsReverseCellsAndEndsNormal) {
  VirtualTerminal vt(25, 80);
  ASSERT_TRUE(vt.Ok());
  pretty_strout(stdscr, 3, 1, "% ? %-Help %Tab%-details/log");
  std::string row = VirtualTerminal::Row(3);
  EXPECT_EQ(row.substr(1, 28), " ? -Help Tab-details/log    ");
  EXPECT_TRUE(VirtualTerminal::Reverse(3, 1));   // " ? "
  EXPECT_TRUE(VirtualTerminal::Reverse(3, 3));
  EXPECT_FALSE(VirtualTerminal::Reverse(3, 4));  // "-Help "
  EXPECT_TRUE(VirtualTerminal::Reverse(3, 10));  // "Tab"
  EXPECT_FALSE(VirtualTerminal::Reverse(3, 13));

  pretty_strout(stdscr, 4, 0, "100%% done");
  EXPECT_EQ(VirtualTerminal::Row(4).substr(0, 9), "100% done");
  for (int x = 0; x < 9; ++x) EXPECT_FALSE(VirtualTerminal::Reverse(4, x));

  // Reverse video is off after the call, whatever the text left on.
  pretty_strout(stdscr, 5, 0, "%open");
  waddstr(stdscr, "z");
  EXPECT_TRUE(VirtualTerminal::Reverse(5, 0));
  EXPECT_FALSE(VirtualTerminal::Reverse(5, 4));

  pretty_strout(nullptr, 0, 0, "x");  // nothing, no crash
  pretty_strout(stdscr, 0, 0, nullptr);
}

TEST(TextOut, WritesToStandardOutputBeforeTheScreenExists) {
  ASSERT_FALSE(g_scr.IsOk());
  testing::internal::CaptureStdout();
  text_out(3, 4, "Searching for log device", true);
  text_out(3, 4, "plain", false);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nSearching for log device\nplain");
}

TEST(TextOut, WritesToTheScreenOnceStarted) {
  VirtualTerminal vt(25, 80);
  ASSERT_TRUE(vt.Ok());
  testing::internal::CaptureStdout();
  text_out(2, 5, "hello", true);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(VirtualTerminal::Row(2).substr(5, 5), "hello");
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
    if (key == 'x') return -1;
    return answer;
  }
  int Draw(int changed) override {
    log->push_back(name + " draw " + std::to_string(changed));
    return draws;
  }
  std::vector<std::string>* log;
  std::string name;
  int answer;
  int draws;
};

TEST(WindowLoop, OffersKeysTopDownAndRedrawsEveryTick) {
  std::vector<std::string> log;  // outlives the windows, which the terminal deletes
  VirtualTerminal vt(25, 80);
  ASSERT_TRUE(vt.Ok());
  g_scr.AddWindow(new ProbeWindow(&log, "bottom", 1, 0));
  g_scr.AddWindow(new ProbeWindow(&log, "top", 0, 0));
  g_scr.AddWindow(nullptr);  // ignored
  VirtualTerminal::Keys({-1, 'x'});
  g_scr.WindowLoop();
  std::vector<std::string> want = {
      "top key -1", "bottom key -1", "bottom draw 0", "top draw 0",
      "top key 120",  // -1 from the top window ends the loop at once, no redraw
  };
  EXPECT_EQ(log, want);
  EXPECT_FALSE(FakeInput::Underflow());
}

TEST(WindowLoop, ConsumedKeyStopsAndDrawingPropagatesUpwards) {
  std::vector<std::string> log;  // outlives the windows, which the terminal deletes
  VirtualTerminal vt(25, 80);
  ASSERT_TRUE(vt.Ok());
  g_scr.AddWindow(new ProbeWindow(&log, "a", 0, 1));  // draws: everything above repaints
  g_scr.AddWindow(new ProbeWindow(&log, "b", 0, 0));
  g_scr.AddWindow(new ProbeWindow(&log, "c", 1, 0));  // consumes every key
  VirtualTerminal::Keys({'k', 'x'});
  g_scr.WindowLoop();
  std::vector<std::string> want = {"c key 107", "a draw 0", "b draw 1", "c draw 1", "c key 120"};
  EXPECT_EQ(log, want);
}

TEST(WindowLoop, RemovedWindowMakesTheNextRedrawRepaintEverything) {
  std::vector<std::string> log;  // outlives the windows, which the terminal deletes
  VirtualTerminal vt(25, 80);
  ASSERT_TRUE(vt.Ok());
  g_scr.AddWindow(new ProbeWindow(&log, "a", 0, 0));
  ProbeWindow* b = new ProbeWindow(&log, "b", 0, 0);
  g_scr.AddWindow(b);
  EXPECT_EQ(g_scr.Redraw(1), 0);
  log.clear();
  g_scr.DelWindow(b);
  EXPECT_EQ(g_scr.Redraw(1), 1);
  std::vector<std::string> want = {"b deleted", "a draw 1"};
  EXPECT_EQ(log, want);
  log.clear();
  EXPECT_EQ(g_scr.Redraw(0), 0);  // the flag is cleared by the redraw
  EXPECT_EQ(g_scr.Windows().size(), 1u);
}

TEST(Header, ShowsNameClockAndAddressOncePerSecond) {
  VirtualTerminal vt(25, 80);
  ASSERT_TRUE(vt.Ok());
  CHeaderWindow* h = new CHeaderWindow();
  ASSERT_EQ(h->Create(stdscr, 1, COLS, 0, 0), 0);
  g_scr.AddWindow(h);
  FakeClock::Now() = 1700000000;
  EXPECT_EQ(h->Draw(1), 1);
  std::string row = VirtualTerminal::Row(0);
  EXPECT_EQ(row.substr(1, 12), "Zorvane 2.69");
  char when[32];
  time_t t = FakeClock::Now();
  ctime_r(&t, when);
  EXPECT_EQ(row.substr(32, 26), " " + std::string(when, 24) + " ");
  EXPECT_EQ(row.substr(80 - 15, 14), "www.zorvane.io");
  EXPECT_EQ(std::string(CHeaderWindow::WebAddress()).size(), 14u);
  // Same second: nothing drawn whatever `changed` says.
  EXPECT_EQ(h->Draw(1), 0);
  EXPECT_EQ(h->Draw(0), 0);
  FakeClock::Now() += 1;
  EXPECT_EQ(h->Draw(0), 0);  // drawn, but reports `changed`
  EXPECT_EQ(h->OnInput('q'), 0);
}

}  // namespace
