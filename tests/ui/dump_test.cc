// The sector dump: row formatting, geometry by screen height, keys, the jump
// through the number box, and read failures.
#include <errno.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/blkdev.h"
#include "ui/dumpwindow.h"
#include "ui/logwindow.h"
#include "ui_fixture.h"

namespace {

// A device whose sectors hold their own number in the first 8 bytes, then
// text; reads fail from `fail_from` on.
class PatternDev : public CBlkDev {
 public:
  PatternDev() {
    model = "Fake Disk 1000";
    size_sectors = 2048;
    size_bytes = 2048ull * 512;
  }
  int ReadSector(unsigned long long lba, unsigned char* buf) override {
    ++reads;
    if (lba >= fail_from) return EIO;
    memset(buf, 0, 512);
    memcpy(buf, &lba, 8);
    snprintf((char*)buf + 16, 64, "sector %llu", lba);
    buf[511] = 0xAA;
    return 0;
  }
  unsigned long long fail_from = ~0ull;
  int reads = 0;
};

TEST(DumpRow, HexGapAndPrintableCharacters) {
  unsigned char zero[16] = {0};
  std::string row = format_dump_row(0x10, zero);
  EXPECT_EQ(row, "0010: 00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00 ................");
  EXPECT_EQ(row.size(), 71u);
  unsigned char mixed[16] = {'H', 'i', ' ', 0x7f, 0xff, '~', 0x1f, '%', 'A', 'B', 'C', 'D', 'E', 'F', '0', '9'};
  EXPECT_EQ(format_dump_row(0x1F0, mixed),
            "01F0: 48 69 20 7F FF 7E 1F 25  41 42 43 44 45 46 30 39 Hi ..~.%ABCDEF09");
}

struct DumpSetup {
  explicit DumpSetup(int lines) : vt(lines, 80) {
    dev = std::make_shared<PatternDev>();
    w = new CDumpWindow();
    created = w->Create(stdscr, 0, 0, 0, 0);
    w->SetDevice(dev);
    g_scr.AddWindow(w);
  }
  VirtualTerminal vt;
  std::shared_ptr<PatternDev> dev;
  CDumpWindow* w;
  int created;
};

TEST(DumpWindow, TallScreenShowsAllRowsAndNoScrolling) {
  DumpSetup s(36);
  ASSERT_EQ(s.created, 0);
  EXPECT_EQ(s.w->Height(), 35);
  EXPECT_EQ(s.w->VisibleRows(), 32);
  EXPECT_EQ(s.w->Draw(0), 1);
  int top = (36 + 1 - 35) / 2, left = (80 - 74) / 2;
  std::string title = VirtualTerminal::Row(top);
  EXPECT_NE(title.find(" Fake Disk 1000 "), std::string::npos) << title;
  EXPECT_EQ(VirtualTerminal::Row(top + 1).substr(left + 2, 36), "Sector (0-2047): 0 / Hex (0-7FF): 0 ");
  EXPECT_EQ(VirtualTerminal::Row(top + 2).substr(left + 1, 6), "0000: ");
  EXPECT_EQ(VirtualTerminal::Row(top + 33).substr(left + 1, 6), "01F0: ");
  std::string legend = VirtualTerminal::Row(top + 34);
  EXPECT_EQ(legend.find("Up/Dn"), std::string::npos) << legend;
  EXPECT_NE(legend.find("PgUp/PgDn-Prev/Next  S -Select  Q -Close"), std::string::npos) << legend;
  s.w->OnInput(KEY_DOWN);
  EXPECT_EQ(s.w->FirstRow(), 0);
  EXPECT_EQ(s.w->Draw(0), 0);  // nothing changed
}

TEST(DumpWindow, ShortScreenScrollsToTheLastRowAndNoFurther) {
  DumpSetup s(25);
  ASSERT_EQ(s.created, 0);
  EXPECT_EQ(s.w->Height(), 24);
  EXPECT_EQ(s.w->VisibleRows(), 21);
  for (int i = 0; i < 20; ++i) s.w->OnInput(KEY_DOWN);
  EXPECT_EQ(s.w->FirstRow(), 11);
  s.w->Draw(1);
  int top = (25 + 1 - 24) / 2, left = (80 - 74) / 2;
  EXPECT_EQ(VirtualTerminal::Row(top + 2).substr(left + 1, 6), "00B0: ");
  EXPECT_EQ(VirtualTerminal::Row(top + 22).substr(left + 1, 6), "01F0: ");
  EXPECT_NE(VirtualTerminal::Row(top + 23).find("Up/Dn-Scroll"), std::string::npos);
  for (int i = 0; i < 20; ++i) s.w->OnInput(KEY_UP);
  EXPECT_EQ(s.w->FirstRow(), 0);
}

TEST(DumpWindow, PagesStayWithinTheDevice) {
  DumpSetup s(25);
  s.w->OnInput(KEY_PPAGE);
  EXPECT_EQ(s.w->Sector(), 0u);
  s.w->OnInput(KEY_NPAGE);
  s.w->OnInput(KEY_NPAGE);
  EXPECT_EQ(s.w->Sector(), 2u);
  s.w->Draw(0);
  int top = (25 + 1 - 24) / 2, left = (80 - 74) / 2;
  // Sector 2 holds its number, then "sector 2".
  EXPECT_EQ(VirtualTerminal::Row(top + 2).substr(left + 1, 30), "0000: 02 00 00 00 00 00 00 00 ");
  EXPECT_NE(VirtualTerminal::Row(top + 3).find("sector 2"), std::string::npos);
  // Jump to the last sector; Page Down there changes nothing.
  VirtualTerminal::Keys({KEY_BACKSPACE, '9', '9', '9', '9', 13});
  s.w->OnInput('S');
  EXPECT_EQ(s.w->Sector(), 2047u);  // 29999 clamped to the last sector
  s.w->OnInput(KEY_NPAGE);
  EXPECT_EQ(s.w->Sector(), 2047u);
  EXPECT_FALSE(FakeInput::Underflow());
}

TEST(DumpWindow, QInTheNumberBoxKeepsTheSectorAndQClosesTheWindow) {
  DumpSetup s(25);
  s.w->OnInput(KEY_NPAGE);
  VirtualTerminal::Keys({'5', 'q'});
  EXPECT_EQ(s.w->OnInput('s'), 1);
  EXPECT_EQ(s.w->Sector(), 1u);
  EXPECT_EQ(s.w->OnInput('x'), 1);  // every key is swallowed
  EXPECT_EQ(g_scr.Windows().size(), 1u);
  EXPECT_EQ(s.w->OnInput('q'), 1);
  EXPECT_TRUE(g_scr.Windows().empty());
}

TEST(DumpWindow, ReadFailureShowsTheErrorText) {
  DumpSetup s(25);
  s.dev->fail_from = 1;
  s.w->OnInput(KEY_NPAGE);
  s.w->Draw(0);
  int top = (25 + 1 - 24) / 2, left = (80 - 74) / 2;
  EXPECT_EQ(VirtualTerminal::Row(top + 3).substr(left + 2, 40), "An error encountered while reading data:");
  EXPECT_EQ(VirtualTerminal::Row(top + 4).substr(left + 2, 19), "Input/output error.");
  // The sector is read again on every drawing.
  int before = s.dev->reads;
  s.w->Draw(1);
  EXPECT_EQ(s.dev->reads, before + 1);
}

}  // namespace
