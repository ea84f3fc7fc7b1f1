// Menus and the number box: navigation state, checks, sizes, and the popup
// loops driven by queued keys on a virtual terminal.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "ui/menu.h"
#include "ui_fixture.h"

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

TEST(Menu, WidthFollowsModeAndWidestItem) {
  VirtualTerminal vt(25, 80);
  ASSERT_TRUE(vt.Ok());
  CMenu m;
  const char* cancel[] = {"Cancel"};
  EXPECT_EQ(m.SetMenuItemArray(1, cancel), 1);
  EXPECT_EQ(m.PopupWidth(), 25);
  EXPECT_EQ(m.PopupHeight(), 3);
  EXPECT_EQ(m.SetMenuMode(2), 2);
  EXPECT_EQ(m.PopupWidth(), 58);
  EXPECT_EQ(m.SetMenuMode(7), 0);
  // A long text widens the box so that it fits inside the border.
  const char* longer[] = {"An item text of well over twenty-five characters"};
  m.SetMenuItemArray(1, longer);
  EXPECT_GE(m.PopupWidth(), (int)strlen(longer[0]) + 3);
}

TEST(Menu, NavigationWrapsAndEnterOrQCloses) {
  CMenu m;
  const char* items[] = {"zero", "one", "two"};
  m.SetMenuItemArray(3, items);
  EXPECT_FALSE(m.OnKey(KEY_UP));
  EXPECT_EQ(m.Current(), 2);  // up from the first goes to the last
  EXPECT_FALSE(m.OnKey(KEY_DOWN));
  EXPECT_EQ(m.Current(), 0);  // down from the last goes to the first
  m.OnKey(KEY_DOWN);
  EXPECT_FALSE(m.OnKey('x'));
  EXPECT_FALSE(m.OnKey(-1));
  EXPECT_TRUE(m.OnKey(13));
  EXPECT_EQ(m.Result(), 1);
  EXPECT_TRUE(m.OnKey('Q'));
  EXPECT_EQ(m.Result(), -1);
  EXPECT_TRUE(m.OnKey(10));
  EXPECT_EQ(m.Result(), 1);

  CMenu empty;
  EXPECT_FALSE(empty.OnKey(KEY_DOWN));
  EXPECT_FALSE(empty.OnKey(KEY_UP));
  EXPECT_EQ(empty.Current(), 0);
}

TEST(Menu, SingleChoiceKeepsOneCheckAndCheckBoxesToggle) {
  CMenu single;
  single.SetMenuMode(1);
  const char* items[] = {"a", "b", "c", "d", "e"};
  single.SetMenuItemArray(5, items);
  single.SetCheck(1, 1);
  for (int i = 0; i < 3; ++i) single.OnKey(KEY_DOWN);
  single.OnKey(' ');
  for (int i = 0; i < 5; ++i) EXPECT_EQ(single.GetCheck(i), i == 3 ? 1 : 0) << i;

  CMenu boxes;
  boxes.SetMenuMode(2);
  boxes.SetMenuItemArray(5, items);
  boxes.SetCheck(0, 1);
  boxes.SetCheck(2, 1);
  boxes.OnKey(' ');  // item 0 off
  boxes.OnKey(KEY_DOWN);
  boxes.OnKey(' ');  // item 1 on
  EXPECT_EQ(boxes.GetCheck(0), 0);
  EXPECT_EQ(boxes.GetCheck(1), 1);
  EXPECT_EQ(boxes.GetCheck(2), 1);

  CMenu plain;
  plain.SetMenuItemArray(5, items);
  plain.OnKey(' ');
  EXPECT_EQ(plain.GetCheck(0), 0);

  EXPECT_EQ(plain.SetCheck(-1, 1), -1);
  EXPECT_EQ(plain.SetCheck(64, 1), -1);
  EXPECT_EQ(plain.GetCheck(64), -1);
  EXPECT_EQ(plain.SetCheck(63, 1), 0);
}

const char* id_name(int id) {
  switch (id) {
    case 3: return "three";
    case 7: return "seven";
    default: return nullptr;
  }
}

TEST(Menu, ItemsFromIdsAndFromCommands) {
  CMenu m;
  int ids[] = {7, 5, 3};
  EXPECT_EQ(m.SetMenuItemArray(3, ids, id_name), 2);  // 5 has no text
  EXPECT_EQ(m.ItemText(0), "seven");
  EXPECT_EQ(m.ItemId(1), 3);
  EXPECT_EQ(m.SetMenuItemArray(3, nullptr, id_name), -1);
  EXPECT_EQ(m.SetMenuItemArray(3, ids, nullptr), -1);

  std::vector<std::shared_ptr<CCommand>> cmds = {
      std::make_shared<NamedCommand>("Refresh", false), nullptr,
      std::make_shared<NamedCommand>("Wipe", true),  // hidden
      std::make_shared<NamedCommand>("Standby", false)};
  EXPECT_EQ(m.SetMenuCommands(cmds), 2);
  EXPECT_EQ(m.ItemText(1), "Standby");
  EXPECT_EQ(m.ItemId(1), 3);  // indexes the command vector

  std::vector<const char*> many(100, "x");
  EXPECT_EQ(m.SetMenuItemArray(100, many.data()), 64);
}

TEST(Menu, PopupPaintsBoxChecksAndLegendAndReturnsTheChoice) {
  VirtualTerminal vt(25, 80);
  ASSERT_TRUE(vt.Ok());
  CMenu m;
  m.SetMenuMode(2);
  const char* items[] = {"Enable verification", "Reset DCO", "Reset HPA", "Use ATA ERASE"};
  m.SetMenuItemArray(4, items);
  m.SetCheck(0, 1);
  std::string painted;
  // Space toggles "Reset DCO"; an idle tick leaves everything as it is.
  VirtualTerminal::Keys({KEY_DOWN, ' ', -1, 10});
  int r = m.Popup(stdscr, -1, -1, &g_scr);
  EXPECT_EQ(r, 1);
  EXPECT_EQ(m.GetCheck(0), 1);
  EXPECT_EQ(m.GetCheck(1), 1);
  EXPECT_FALSE(FakeInput::Underflow());
}

TEST(Menu, DrawShowsItemsCheckMarksAndHighlight) {
  VirtualTerminal vt(25, 80);
  ASSERT_TRUE(vt.Ok());
  CMenu m;
  m.SetMenuMode(1);
  const char* items[] = {"Fast", "Thorough"};
  m.SetMenuItemArray(2, items);
  m.SetCheck(1, 1);
  // Read the screen while the popup is open: the key source looks at it.
  static std::string seen;
  static bool reverse_current = false;
  key_source_fn_t saved = g_key_source;
  g_key_source = [] {
    seen = VirtualTerminal::All();
    int y = (LINES - 4) / 2 + 1, x = (COLS - 58) / 2 + 5;
    reverse_current = VirtualTerminal::Reverse(y, x);
    return (int)'q';
  };
  EXPECT_EQ(m.Popup(stdscr, -1, -1, &g_scr), -1);
  g_key_source = saved;
  EXPECT_NE(seen.find("[ ] Fast"), std::string::npos) << seen;
  EXPECT_NE(seen.find("[*] Thorough"), std::string::npos) << seen;
  EXPECT_NE(seen.find(" Space-Select Enter-OK  Q -Cancel "), std::string::npos) << seen;
  EXPECT_TRUE(reverse_current);
}

TEST(NumberBox, TypingBackspaceClampingAndCancel) {
  CNumberBox b;
  b.SetData(" Enter sector number ", 0, 1000, 0);
  for (int k : {'1', '2', '3'}) b.OnKey(k);
  EXPECT_EQ(b.Value(), 123u);
  b.OnKey('4');
  EXPECT_EQ(b.Value(), 1000u);  // clamped to the maximum
  b.OnKey(KEY_BACKSPACE);
  EXPECT_EQ(b.Value(), 100u);
  b.OnKey(KEY_DC);
  b.OnKey(KEY_DC);
  b.OnKey(KEY_DC);
  EXPECT_EQ(b.Value(), 0u);
  b.OnKey('0');
  EXPECT_EQ(b.Value(), 0u);  // a leading zero changes nothing
  EXPECT_TRUE(b.OnKey('q'));
  EXPECT_EQ(b.Result(), -1);
  EXPECT_TRUE(b.OnKey(13));
  EXPECT_EQ(b.Result(), 0);

  CNumberBox r;
  r.SetData("t", 500, 20, 7);  // range given backwards, value below it
  EXPECT_EQ(r.Minimum(), 20u);
  EXPECT_EQ(r.Maximum(), 500u);
  EXPECT_EQ(r.Value(), 20u);
  r.OnKey(KEY_BACKSPACE);
  EXPECT_EQ(r.Value(), 20u);  // raised back to the minimum

  CNumberBox big;
  big.SetData("t", 0, UINT64_MAX, 18446744073709551615ull / 10 + 1);
  uint64_t before = big.Value();
  big.OnKey('9');  // would overflow
  EXPECT_EQ(big.Value(), before);
}

TEST(NumberBox, PopupShowsRangeAndValueAndReturnsIt) {
  VirtualTerminal vt(25, 80);
  ASSERT_TRUE(vt.Ok());
  CNumberBox b;
  b.SetData(" Enter sector number ", 0, 8191, 12);
  static std::string seen;
  key_source_fn_t saved = g_key_source;
  static int calls = 0;
  calls = 0;
  g_key_source = [] {
    ++calls;
    if (calls == 1) return KEY_BACKSPACE;
    if (calls == 2) return (int)'7';
    seen = VirtualTerminal::All();
    return 13;
  };
  EXPECT_EQ(b.Popup(stdscr, &g_scr), 0);
  g_key_source = saved;
  EXPECT_EQ(b.Value(), 17u);
  int y = (25 - 3) / 2;
  std::string row = VirtualTerminal::Row(y + 1);
  (void)row;
  std::string top = seen.substr((size_t)y * 81, 80);
  EXPECT_NE(top.find(" Enter sector number "), std::string::npos) << seen;
  std::string mid = seen.substr((size_t)(y + 1) * 81, 80);
  EXPECT_NE(mid.find(" 0-8191:"), std::string::npos) << mid;
  // The value ends one blank before the right border.
  int right = (80 - 60) / 2 + 59;
  EXPECT_EQ(mid.substr(right - 3, 3), "17 ") << mid;
}

}  // namespace
