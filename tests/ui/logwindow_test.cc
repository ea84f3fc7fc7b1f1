// The help window: sizing, scrolling limits and closing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "ui/logwindow.h"
#include "ui_fixture.h"

namespace {

struct HelpFile {
  HelpFile(int lines) {
    char tmpl[] = "/tmp/zv-help-XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd >= 0) close(fd);
    path = tmpl;
    std::ofstream out(path);
    for (int i = 0; i < lines; ++i) out << "help line " << i << "\n";
  }
  ~HelpFile() { unlink(path.c_str()); }
  std::string path;
};

void WaitForLines(CLogWindow* w, size_t n) {
  for (int i = 0; i < 300 && w->Reader().GetLineCount() < n; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

TEST(LogWindow, PagesAndScrollStopAtTheEnds) {
  VirtualTerminal vt(25, 80);
  ASSERT_TRUE(vt.Ok());
  HelpFile f(100);
  CLogWindow* w = new CLogWindow();
  ASSERT_EQ(w->Create(stdscr, 0, 0, 0, 0), 0);
  w->SetFile(f.path.c_str(), 0);
  w->SetHeader("Help");
  g_scr.AddWindow(w);
  WaitForLines(w, 100);
  EXPECT_EQ(w->Height(), 24);
  EXPECT_EQ(w->Draw(0), 1);
  EXPECT_EQ(w->FirstLine(), 0u);  // not following: starts at the top
  EXPECT_NE(VirtualTerminal::Row(1).find(" Help "), std::string::npos);
  EXPECT_EQ(VirtualTerminal::Row(2).substr(1, 11), "help line 0");
  EXPECT_NE(VirtualTerminal::Row(24).find("PgUp/PgDn-Prev/Next Up/Dn-Scroll  Q -Close"), std::string::npos);
  w->OnInput(KEY_UP);
  EXPECT_EQ(w->FirstLine(), 0u);
  w->OnInput(KEY_NPAGE);
  EXPECT_EQ(w->FirstLine(), 22u);
  for (int i = 0; i < 10; ++i) w->OnInput(KEY_NPAGE);
  EXPECT_EQ(w->FirstLine(), 100u + 2 - 24);  // the last page stays in view
  w->Draw(0);
  EXPECT_EQ(VirtualTerminal::Row(23).substr(1, 12), "help line 99");
  w->OnInput(KEY_DOWN);
  EXPECT_EQ(w->FirstLine(), 78u);
  w->OnInput(KEY_PPAGE);
  EXPECT_EQ(w->FirstLine(), 56u);
  EXPECT_EQ(w->OnInput(-1), 1);
  EXPECT_EQ(w->OnInput('a'), 1);
  EXPECT_EQ(w->Follow(), 1);
  EXPECT_EQ(w->OnInput('q'), 1);
  EXPECT_TRUE(g_scr.Windows().empty());
}

TEST(LogWindow, FollowingShowsTheEndAndShortFilesStayAtTop) {
  VirtualTerminal vt(40, 120);
  ASSERT_TRUE(vt.Ok());
  HelpFile big(100), small(5);
  CLogWindow w;
  ASSERT_EQ(w.Create(stdscr, 0, 0, 0, 0), 0);
  EXPECT_EQ(w.Height(), 35);
  w.SetFile(big.path.c_str(), 1);
  WaitForLines(&w, 100);
  w.Draw(0);
  EXPECT_EQ(w.FirstLine(), 100u - 35 + 2);
  w.SetFile(small.path.c_str(), 1);
  WaitForLines(&w, 5);
  w.Draw(0);
  EXPECT_EQ(w.FirstLine(), 0u);
  w.SetHeader("");
  w.Draw(1);
  int top = (40 + 1 - 35) / 2;
  EXPECT_NE(VirtualTerminal::Row(top).find(" " + small.path + " "), std::string::npos);
}

}  // namespace
