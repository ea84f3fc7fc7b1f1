// The size texts the operator reads, and the mode flags from the environment.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "app/globals.h"
#include "app/util.h"

TEST(SizeStr, AutomaticUnitIsTheLargestStrictlyBelowTheSizeFixedUnitsTruncate) {
  struct row {
    unsigned long long bytes;
    char unit;
    const char* text;
  } rows[] = {{1000, 'A', "1000 Bytes"}, {1001, 'A', "1 kB"}, {1000000, 'A', "1000 kB"}, {1500000, 'A', "1.5 MB"},
              {1000000000ULL, 'A', "1000.0 MB"}, {500107862016ULL, 'A', "500.1 GB"}, {2000398934016ULL, 'A', "2.0 TB"},
              {3500000000000000ULL, 'A', "3.5 PB"}, {1999999, 'M', "1.9 MB"}, {1048576, 's', "2048 sectors"},
              {42, 'b', "42 Bytes"}, {999999999, 'g', "0.9 GB"}};
  for (const row& r : rows) EXPECT_STREQ(r.text, CSizeStr(r.bytes, r.unit).c_str()) << r.bytes << r.unit;
}

TEST(ModeFlags, EnvironmentRules) {
  struct row {
    std::vector<std::pair<const char*, const char*>> env;
    int debuglevel, manual, wipe_all, nodelay, testmode, logfile;
  } rows[] = {
      {{{"TEST_MODE", "y"}, {"DEBUG", "0"}, {"WIPE_ALL_DISKS", "Y"}, {"USE_NODELAY", "1"}}, 2, 1, 0, 0, 1, 0},
      {{{"USE_SHELL", "Y"}, {"WIPE_ALL_DISKS", "Y"}, {"USE_LOGFILE", "1000"}}, 0, 1, 0, 0, 0, 1},
      {{{"DEBUG", "3x"}, {"WIPE_ALL_DISKS", "yes"}, {"USE_LOGFILE", "on"}}, 3, 0, 1, 0, 0, 0},
      {{{"DEBUG", " -1"}, {"USE_NODELAY", "y"}}, -1, 0, 0, 1, 0, 0},
  };
  for (const row& r : rows) {
    for (const char* v : {"DEBUG", "TEST_MODE", "USE_LOGFILE", "USE_SHELL", "WIPE_ALL_DISKS", "USE_NODELAY"}) unsetenv(v);
    for (auto& kv : r.env) setenv(kv.first, kv.second, 1);
    read_mode_flags();
    EXPECT_EQ((std::vector<int>{r.debuglevel, r.manual, r.wipe_all, r.nodelay, r.testmode, r.logfile}),
              (std::vector<int>{g_debuglevel, g_manual, g_wipe_all, g_nodelay, g_testmode, g_logfile}))
        << r.env[0].first << "=" << r.env[0].second;
  }
  for (const char* v : {"DEBUG", "USE_NODELAY"}) unsetenv(v);
  read_mode_flags();
}
