// Menus and the number box: the keys of the popup loops and what they leave.
#include <gtest/gtest.h>

#include "ui/menu.h"

namespace {

class NamedCommand : public CCommand {
 public:
  NamedCommand(const char* name, bool hidden) : CCommand(BLKDEV_CMD_WIPE, hidden), name(name) {}
  std::string GetName() const override { return name; }
  int GetStatus() override { return 0; }
  int Run(bool) override { return 0; }
  bool CanCancel() const override { return false; }
  int Cancel() override { return 0; }
  std::string name;
};

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

// The disk menu lists the commands that are not hidden; the choice indexes
// the command list.
TEST(Menu, CommandsMenuSkipsHiddenCommands) {
  std::vector<std::shared_ptr<CCommand>> cmds = {std::make_shared<NamedCommand>("Refresh", false), nullptr,
                                                 std::make_shared<NamedCommand>("Wipe proxy", true),
                                                 std::make_shared<NamedCommand>("Standby", false)};
  CMenu m;
  EXPECT_EQ(2, m.SetMenuCommands(cmds));
  m.OnKey(KEY_DOWN);
  m.OnKey(13);
  EXPECT_EQ(3, m.Result());
  EXPECT_EQ("Standby", m.ItemText(1));
}

TEST(NumberBox, TypingClampsToTheRangeAndQCancels) {
  CNumberBox b;
  b.SetData("t", 1000, 0, 7);  // range given backwards
  for (int k : {(int)KEY_BACKSPACE, (int)'1', (int)'2', (int)'3'}) b.OnKey(k);
  EXPECT_EQ(123u, b.Value());
  b.OnKey('4');
  EXPECT_EQ(1000u, b.Value());
  for (int i = 0; i < 4; ++i) b.OnKey(KEY_DC);
  EXPECT_EQ(0u, b.Value());
  EXPECT_TRUE(b.OnKey('q'));
  EXPECT_EQ(-1, b.Result());
  EXPECT_TRUE(b.OnKey(13));
  EXPECT_EQ(0, b.Result());
  CNumberBox big;
  big.SetData("t", 0, UINT64_MAX, UINT64_MAX / 10 + 1);
  big.OnKey('9');  // would overflow
  EXPECT_EQ(UINT64_MAX / 10 + 1, big.Value());
}

}  // namespace
