// Menus: the keys of the popup loop and what they leave.
#include <gtest/gtest.h>

#include "ui/menu.h"

namespace {

// Up and Down wrap; Enter gives the id of the current item, Q gives -1;
// Space checks one item of a single-choice menu and flips a check box.
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
  EXPECT_TRUE(m.OnKey('Q'));
  EXPECT_EQ(-1, m.Result());
  m.OnKey(' ');
  EXPECT_EQ(0, m.GetCheck(1));  // a plain menu has no checks

  for (int mode : {CMenu::MODE_SINGLE, CMenu::MODE_CHECK}) {
    CMenu c;
    c.SetMenuMode(mode);
    c.SetMenuItemArray(3, items);
    c.SetCheck(0, 1);
    c.SetCheck(2, 1);
    c.OnKey(KEY_DOWN);
    c.OnKey(' ');
    std::vector<int> want = mode == CMenu::MODE_SINGLE ? std::vector<int>{0, 1, 0} : std::vector<int>{1, 1, 1};
    EXPECT_EQ(want, (std::vector<int>{c.GetCheck(0), c.GetCheck(1), c.GetCheck(2)})) << mode;
  }
}

}  // namespace
