// Menus: the keys of the popup loop and what they leave.
#include <gtest/gtest.h>

#include "ui/menu.h"

namespace {

// Up and Down wrap and other keys do not end the menu (what Enter and Q give
// shows in the main window's menus); Space checks one item of a single-choice
// menu and flips a check box.
TEST(Menu, KeysMoveCheckConfirmAndCancel) {
  const char* items[] = {"zero", "one", "two"};
  CMenu m;
  m.SetMenuItemArray(3, items);
  m.OnKey(KEY_UP);
  EXPECT_EQ(2, m.Current());
  m.OnKey(KEY_DOWN);
  m.OnKey(KEY_DOWN);
  EXPECT_FALSE(m.OnKey('x'));
  EXPECT_TRUE(m.OnKey(13));
  EXPECT_EQ(1, m.Result());

  for (int mode : {CMenu::MODE_SINGLE, CMenu::MODE_CHECK}) {
    CMenu c;
    c.SetMenuMode(mode);
    c.SetMenuItemArray(3, items);
    c.SetCheck(0, 1), c.SetCheck(2, 1), c.OnKey(KEY_DOWN), c.OnKey(' ');
    std::vector<int> want = mode == CMenu::MODE_SINGLE ? std::vector<int>{0, 1, 0} : std::vector<int>{1, 1, 1};
    EXPECT_EQ(want, (std::vector<int>{c.GetCheck(0), c.GetCheck(1), c.GetCheck(2)})) << mode;
  }
}

}  // namespace
