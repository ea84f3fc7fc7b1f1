// A row of the sector dump: offset, hex with a gap, printable characters.
#include <gtest/gtest.h>

#include "ui/dumpwindow.h"

TEST(DumpRow, HexGapAndPrintableCharacters) {
  unsigned char mixed[16] = {'H', 'i', ' ', 0x7f, 0xff, '~', 0x1f, '%', 'A', 'B', 'C', 'D', 'E', 'F', '0', '9'};
  EXPECT_EQ("01F0: 48 69 20 7F FF 7E 1F 25  41 42 43 44 45 46 30 39 Hi ..~.%ABCDEF09", format_dump_row(0x1F0, mixed));
}
