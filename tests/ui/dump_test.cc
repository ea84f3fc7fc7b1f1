// The sector dump: the row format, moving through the device, the jump
// through the number box, and read failures.
#include <errno.h>
#include <gtest/gtest.h>

#include "device/blkdev.h"
#include "ui/dumpwindow.h"
#include "ui_fixture.h"

namespace {

// Sectors hold their own number in the first 8 bytes; reads fail from
// `fail_from` on.
class PatternDev : public CBlkDev {
 public:
  PatternDev() {
    model = "Fake Disk 1000";
    size_sectors = 2048;
    size_bytes = 2048ull * 512;
  }
  int ReadSector(unsigned long long lba, unsigned char* buf) override {
    if (lba >= fail_from) return EIO;
    memset(buf, 0, 512);
    memcpy(buf, &lba, 8);
    return 0;
  }
  unsigned long long fail_from = ~0ull;
};

TEST(DumpRow, HexGapAndPrintableCharacters) {
  unsigned char mixed[16] = {'H', 'i', ' ', 0x7f, 0xff, '~', 0x1f, '%', 'A', 'B', 'C', 'D', 'E', 'F', '0', '9'};
  EXPECT_EQ("01F0: 48 69 20 7F FF 7E 1F 25  41 42 43 44 45 46 30 39 Hi ..~.%ABCDEF09", format_dump_row(0x1F0, mixed));
}

TEST(DumpWindow, PagesJumpsAndReadErrorsStayWithinTheDevice) {
  VirtualTerminal vt(25, 80);
  ASSERT_TRUE(vt.Ok());
  std::shared_ptr<PatternDev> dev = std::make_shared<PatternDev>();
  CDumpWindow* w = new CDumpWindow();
  ASSERT_EQ(0, w->Create(stdscr, 0, 0, 0, 0));
  w->SetDevice(dev);
  g_scr.AddWindow(w);
  w->OnInput(KEY_PPAGE);
  EXPECT_EQ(0u, w->Sector());
  w->OnInput(KEY_NPAGE);
  w->OnInput(KEY_NPAGE);
  w->Draw(1);
  EXPECT_NE(std::string::npos, VirtualTerminal::All().find("Sector (0-2047): 2 / Hex (0-7FF): 2"));
  EXPECT_NE(std::string::npos, VirtualTerminal::All().find("0000: 02 00 00 00 00 00 00 00  00"));
  for (int i = 0; i < 30; ++i) w->OnInput(KEY_DOWN);
  EXPECT_EQ(11, w->FirstRow());  // the last of the 32 rows at the bottom
  VirtualTerminal::Keys({KEY_BACKSPACE, '9', '9', '9', '9', 13});
  w->OnInput('S');
  EXPECT_EQ(2047u, w->Sector());
  w->OnInput(KEY_NPAGE);
  EXPECT_EQ(2047u, w->Sector());
  VirtualTerminal::Keys({'5', 'q'});
  w->OnInput('s');
  EXPECT_EQ(2047u, w->Sector());
  dev->fail_from = 1;
  w->Draw(1);
  EXPECT_NE(std::string::npos, VirtualTerminal::All().find("Input/output error."));
  EXPECT_FALSE(FakeInput::Underflow());
  w->OnInput('q');
  EXPECT_TRUE(g_scr.Windows().empty());
}

}  // namespace
