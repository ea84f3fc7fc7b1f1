// Texts the windows draw: a row of the sector dump (offset, hex with a gap,
// printable characters) and the `%` key-legend markup.
#include <gtest/gtest.h>

#include "ui/dumpwindow.h"
#include "ui/screen.h"

TEST(DumpRow, HexGapAndPrintableCharacters) {
  unsigned char mixed[16] = {'H', 'i', ' ', 0x7f, 0xff, '~', 0x1f, '%', 'A', 'B', 'C', 'D', 'E', 'F', '0', '9'};
  EXPECT_EQ("01F0: 48 69 20 7F FF 7E 1F 25  41 42 43 44 45 46 30 39 Hi ..~.%ABCDEF09", format_dump_row(0x1F0, mixed));
}

TEST(Markup, SplitsIntoReverseAndNormalRuns) {
  typedef std::vector<std::pair<std::string, bool>> runs;
  EXPECT_EQ((runs{{" ", false}, {" Q ", true}, {"-Close ", false}}), markup_segments(" % Q %-Close "));
  EXPECT_EQ((runs{{"100% done", false}}), markup_segments("100%% done"));
  EXPECT_EQ((runs{{"x", false}, {"y", true}}), markup_segments("x%y"));
  EXPECT_TRUE(markup_segments(nullptr).empty());
}
