// The TRIM pass over a device class that records the ranges it is given.
#include <gtest/gtest.h>

#include <mutex>
#include <utility>
#include <vector>

#include "command/threaded_command.h"
#include "device/device_fixture.h"
#include "support/log_capture.h"

namespace {

class TrimDev : public RecordingDev {
 public:
  TrimDev(const std::string& n, uint64_t sectors) : RecordingDev(n, sectors * 512) {}
  int Trim_helper_trim_range(const CDevFile& file, unsigned long lba, unsigned int count) const override {
    std::lock_guard<std::mutex> g(m);
    ranges.push_back({lba, count});
    fd_seen = file.fd;
    if ((int)ranges.size() == cancel_at) const_cast<TrimDev*>(this)->CancelWipe();
    return (int)ranges.size() == fail_at ? 9 : 0;
  }
  mutable std::mutex m;
  mutable std::vector<std::pair<unsigned long, unsigned int>> ranges;
  mutable int fd_seen = -1;
  int fail_at = -1;
  int cancel_at = -1;
};

}  // namespace

class TrimTest : public ::testing::Test {
 protected:
  TempRoot root;
  LogCapture logs;
  void SetUp() override {
    if (!root.DirectIoWorks()) GTEST_SKIP() << "no direct I/O on " << root.dir;
  }
};

TEST_F(TrimTest, WholeDeviceInFivePercentChunks) {
  root.MakeImage("zta", 4096, 0);
  TrimDev dev("zta", 1000000);
  EXPECT_EQ(dev.Trim(), 0);
  ASSERT_EQ(dev.ranges.size(), 21u);
  unsigned long lba = 0;
  for (size_t i = 0; i < 20; ++i) {
    EXPECT_EQ(dev.ranges[i].first, lba);
    EXPECT_EQ(dev.ranges[i].second, 49152u);
    lba += 49152;
  }
  EXPECT_EQ(dev.ranges[20].first, lba);
  EXPECT_EQ(dev.ranges[20].second, 16960u);
  EXPECT_GE(dev.fd_seen, 0);
  EXPECT_TRUE(logs.Has("Disk-zta: trim pass started", "wipe"));
  EXPECT_TRUE(logs.Has("Disk-zta: trim pass completed in ", "wipe"));
  EXPECT_EQ(dev.report->PassLog(), "pass 1: trim pass is success\r\n");
  char line[256];
  dev.PrintWipingStatus(line, sizeof line);
  EXPECT_EQ(std::string(line).rfind("Trim 100.0% ", 0), 0u) << line;
}

TEST_F(TrimTest, ChunksAreCappedAtOneRangeBlock) {
  root.MakeImage("ztb", 4096, 0);
  TrimDev dev("ztb", 200000000ULL);  // 5 % is far above 0x3FF000
  dev.cancel_at = 2;
  EXPECT_EQ(dev.Trim(), -1);  // cancelled after the second chunk
  ASSERT_EQ(dev.ranges.size(), 2u);
  EXPECT_EQ(dev.ranges[0].second, 0x3FF000u);
  EXPECT_EQ(dev.ranges[1].first, 0x3FF000u);
  // A cancelled pass leaves no report entry and no closing line.
  EXPECT_EQ(dev.report->PassLog(), "");
  EXPECT_FALSE(logs.Has("trim pass completed"));
  EXPECT_FALSE(logs.Has("trim pass failed"));
}

TEST_F(TrimTest, FailuresAndSmallDevices) {
  root.MakeImage("ztc", 4096, 0);
  TrimDev dev("ztc", 1000000);
  dev.fail_at = 3;
  EXPECT_EQ(dev.Trim(), 9);
  EXPECT_TRUE(logs.Has("Disk-ztc: trim pass failed", "wipe"));
  EXPECT_EQ(dev.report->PassLog(), "pass 1: trim pass is completed-with-warnings\r\n");

  // Below 20480 sectors the whole device goes in one range.
  TrimDev small("ztc", 1000);
  EXPECT_EQ(small.Trim(), 0);
  ASSERT_EQ(small.ranges.size(), 1u);
  EXPECT_EQ(small.ranges[0].second, 1000u);

  // The base class cannot trim: the pass fails at its first chunk.
  RecordingDev plain("ztc", 1000 * 512);
  EXPECT_EQ(plain.Trim(), -1);
  EXPECT_TRUE(logs.Has("Disk-ztc: trim pass failed"));

  RecordingDev unnamed("", 4096);
  EXPECT_EQ(unnamed.Trim(), -1);
  EXPECT_TRUE(logs.Has("Disk-: failed to open device node. ", "wipe"));
  ASSERT_FALSE(major_is_registered(kUnusedMajor));
  RecordingDev gone("ztgone", 4096);
  EXPECT_EQ(gone.Trim(), 1);
  EXPECT_TRUE(logs.Has("Disk-ztgone: failed to open device node. ", "wipe"));
}

TEST_F(TrimTest, TrimCommandRunsThePass) {
  root.MakeImage("ztd", 4096, 0);
  TrimDev dev("ztd", 1000);
  CTrimCommand<CBlkDev> cmd(&dev);
  EXPECT_EQ(cmd.Run(true), 0);
  EXPECT_EQ(dev.History().back(), "Completed");
  EXPECT_EQ(dev.ranges.size(), 1u);
}
