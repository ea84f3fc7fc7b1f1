// Formatters and small helpers.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "app/globals.h"
#include "app/log.h"
#include "app/util.h"
#include "support/log_capture.h"

namespace {

std::string size_str(unsigned long long b, char u) { return CSizeStr(b, u).c_str(); }

TEST(SizeStr, AutomaticUnitPicksTheLargestUnitStrictlyBelowTheSize) {
  EXPECT_EQ(size_str(0, 'A'), "0 Bytes");
  EXPECT_EQ(size_str(1000, 'A'), "1000 Bytes");
  EXPECT_EQ(size_str(1001, 'A'), "1 kB");
  EXPECT_EQ(size_str(1500, 'A'), "1 kB");
  EXPECT_EQ(size_str(1000000, 'A'), "1000 kB");
  EXPECT_EQ(size_str(1500000, 'A'), "1.5 MB");
  EXPECT_EQ(size_str(1000000000ULL, 'A'), "1000.0 MB");
  EXPECT_EQ(size_str(500107862016ULL, 'A'), "500.1 GB");
  EXPECT_EQ(size_str(2000398934016ULL, 'A'), "2.0 TB");
  EXPECT_EQ(size_str(3500000000000000ULL, 'A'), "3.5 PB");
}

TEST(SizeStr, FixedUnitsTruncateAndIgnoreCase) {
  EXPECT_EQ(size_str(1999999, 'M'), "1.9 MB");
  EXPECT_EQ(size_str(1048576, 'S'), "2048 sectors");
  EXPECT_EQ(size_str(1048576, 's'), "2048 sectors");
  EXPECT_EQ(size_str(1999, 'k'), "1 kB");
  EXPECT_EQ(size_str(42, 'b'), "42 Bytes");
  EXPECT_EQ(size_str(999999999, 'g'), "0.9 GB");
  EXPECT_EQ(size_str(1200000000000ULL, 'T'), "1.2 TB");
}

TEST(TimeStr, MinutesHoursAndOverrun) {
  EXPECT_STREQ(CTimeStr(0), "00:00");
  EXPECT_STREQ(CTimeStr(75), "01:15");
  EXPECT_STREQ(CTimeStr(3600), "1:00:00");
  EXPECT_STREQ(CTimeStr(3725), "1:02:05");
  EXPECT_STREQ(CTimeStr(-5), "0:00 +00:05");
  EXPECT_STREQ(CTimeStr(-75), "0:00 +01:15");
  // The widest value still fits the buffer.
  EXPECT_STREQ(CTimeStr(-2147483647), "0:00 +596523:14:07");
}

TEST(DateStr, Rfc2822InLocalTime) {
  setenv("TZ", "UTC", 1);
  tzset();
  long t = 1700000000;  // 2023-11-14 22:13:20 UTC
  EXPECT_STREQ(CDateStr(t, 'R'), "Tue, 14 Nov 2023 22:13:20 +0000");
}

TEST(Clocks, MonotonicAndConsistent) {
  uint64_t n1 = get_nanotime();
  uint64_t u = get_utime();
  uint64_t n2 = get_nanotime();
  EXPECT_LE(n1 / 1000, u);
  EXPECT_LE(u, n2 / 1000);
}

TEST(Trim, BlanksAndSuffixes) {
  std::string s = " \t model \n";
  EXPECT_EQ(trim(s), "model");
  std::string blanks = "   ";
  EXPECT_EQ(trim(blanks), "");
  std::string l = "  x ";
  EXPECT_EQ(ltrim(l), "x ");
  std::string r = "  x ";
  EXPECT_EQ(rtrim(r), "  x");
  EXPECT_TRUE(string_ends_with("sda", ""));
  EXPECT_TRUE(string_ends_with("sda1", "a1"));
  EXPECT_FALSE(string_ends_with("a1", "sda1"));
  EXPECT_FALSE(string_ends_with(nullptr, "a"));
  EXPECT_FALSE(string_ends_with("a", nullptr));
}

TEST(ReadStringFromFile, FirstLineTrimmedOrUnchangedWhenMissing) {
  char dir[] = "/tmp/zv-util-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string model = std::string(dir) + "/model";
  std::ofstream(model) << "WDC WD5000AAKX \nsecond line\n";
  std::string out = "old";
  EXPECT_EQ(read_string_from_file(model.c_str(), out), 1);
  EXPECT_EQ(out, "WDC WD5000AAKX");
  std::string nonl = std::string(dir) + "/size";
  std::ofstream(nonl) << "  976773168";
  EXPECT_EQ(read_string_from_file(nonl.c_str(), out), 1);
  EXPECT_EQ(out, "976773168");
  out = "kept";
  EXPECT_EQ(read_string_from_file((std::string(dir) + "/absent").c_str(), out), 0);
  EXPECT_EQ(out, "kept");
  unlink(model.c_str());
  unlink(nonl.c_str());
  rmdir(dir);
}

TEST(AlignedBuffer, PageAligned) {
  CAlignedBuffer b(16 * 1024 * 1024);
  ASSERT_NE(b.get(), nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b.get()) % sysconf(_SC_PAGESIZE), 0u);
}

TEST(DumpBuffer, RowsOfHexAndPrintableText) {
  LogCapture cap;
  unsigned char data[] = {'A', 'B', 0x00, 0xff, 'z'};
  dump_buffer(data, 5, 2);
  EXPECT_EQ(cap.Texts("debug"), (std::vector<std::string>{"41 42  | AB", "00 FF  | ..", "7A  | z"}));
  cap.Clear();
  g_dbg_log.setLogLevel(log4cplus::INFO_LOG_LEVEL);
  dump_buffer(data, 5, 2);
  g_dbg_log.setLogLevel(log4cplus::NOT_SET_LOG_LEVEL);
  EXPECT_TRUE(cap.Texts("debug").empty());
}

struct EnvCase {
  std::vector<std::pair<const char*, const char*>> env;
  int debuglevel, manual, wipe_all, nodelay, testmode, fast;
};

void clear_mode_env() {
  for (const char* v : {"DEBUG", "TEST_MODE", "USE_LOGFILE", "USE_SHELL", "WIPE_ALL_DISKS", "FAST_DBG", "USE_NODELAY"})
    unsetenv(v);
}

TEST(ModeFlags, EnvironmentRules) {
  EXPECT_EQ(read_env_y_n(nullptr), 0);
  EXPECT_EQ(read_env_y_n("yes"), 1);
  EXPECT_EQ(read_env_y_n("1000"), 1);
  EXPECT_EQ(read_env_y_n("Y"), 1);
  for (const char* v : {"no", "true", "on", ""}) EXPECT_EQ(read_env_y_n(v), 0) << v;
  EXPECT_STREQ(get_product_name(), "Zorvane 2.69");

  const EnvCase cases[] = {
      {{{"TEST_MODE", "y"}, {"DEBUG", "0"}, {"WIPE_ALL_DISKS", "Y"}, {"USE_NODELAY", "1"}, {"FAST_DBG", "y"}},
       2, 1, 0, 0, 1, 0},
      {{{"USE_SHELL", "Y"}, {"WIPE_ALL_DISKS", "Y"}}, 0, 1, 0, 0, 0, 0},
      {{{"DEBUG", "3x"}, {"WIPE_ALL_DISKS", "yes"}}, 3, 0, 1, 0, 0, 0},
      {{{"DEBUG", "abc"}, {"WIPE_ALL_DISKS", "true"}, {"FAST_DBG", "1"}}, 0, 0, 0, 0, 0, 1},
      {{{"DEBUG", " -1"}, {"USE_NODELAY", "y"}}, -1, 0, 0, 1, 0, 0},
  };
  for (const EnvCase& c : cases) {
    clear_mode_env();
    for (auto& kv : c.env) setenv(kv.first, kv.second, 1);
    read_mode_flags();
    EXPECT_EQ(g_debuglevel, c.debuglevel);
    EXPECT_EQ(g_manual, c.manual);
    EXPECT_EQ(g_wipe_all, c.wipe_all);
    EXPECT_EQ(g_nodelay, c.nodelay);
    EXPECT_EQ(g_testmode, c.testmode);
    EXPECT_EQ(g_debug_fast, c.fast);
  }
  clear_mode_env();
  setenv("USE_LOGFILE", "y", 1);
  setenv("TEST_MODE", "1", 1);
  read_mode_flags();
  EXPECT_EQ(g_logfile, 1);
  clear_mode_env();
  read_mode_flags();
}

}  // namespace
