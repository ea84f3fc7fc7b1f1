// The help window: pages and scrolling stop at the ends; Q closes it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "ui/logwindow.h"
#include "ui_fixture.h"

TEST(LogWindow, PagesAndScrollStopAtTheEnds) {
  VirtualTerminal vt(25, 80);
  ASSERT_TRUE(vt.Ok());
  std::string path = "/tmp/zv-help-" + std::to_string(getpid());
  {
    std::ofstream out(path);
    for (int i = 0; i < 100; ++i) out << "help line " << i << "\n";
  }
  CLogWindow* w = new CLogWindow();
  ASSERT_EQ(0, w->Create(stdscr, 0, 0, 0, 0));
  w->SetFile(path.c_str(), 0);
  g_scr.AddWindow(w);
  for (int i = 0; i < 300 && w->Reader().GetLineCount() < 100; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  w->Draw(0);
  w->OnInput(KEY_UP);
  EXPECT_EQ(0u, w->FirstLine());
  w->OnInput(KEY_NPAGE);
  EXPECT_EQ(22u, w->FirstLine());
  for (int i = 0; i < 10; ++i) w->OnInput(KEY_NPAGE);
  EXPECT_EQ(100u + 2 - 24, w->FirstLine());  // the last page stays in view
  w->Draw(0);
  EXPECT_EQ("help line 99", VirtualTerminal::Row(23).substr(1, 12));
  w->OnInput('q');
  EXPECT_TRUE(g_scr.Windows().empty());
  unlink(path.c_str());
}
