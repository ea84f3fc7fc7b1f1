// The extra chunk areas come from a pool sized by the machine's memory; a
// drive that gets none, because its memory cannot be had, writes and
// verifies the same bytes, and every area goes back.
#include <gtest/gtest.h>

#include "device/chunk_pool.h"
#include "device/device_fixture.h"
#include "support/log_capture.h"

// {/proc/meminfo, areas the pool has}; then a random pass and an odd pattern
// (whose window is the one area a drive takes), both verified, with the
// area's memory had and not had.
TEST(WipePoolTest, AnyPoolGivesTheSameBytes) {
  const uint64_t size = 2 * 16 * 1024 * 1024 + 4096;
  const std::string three = std::to_string(3 * 8 * CChunkPool::kAreaSize / 1024 + 1);
  const std::pair<std::string, size_t> rows[] = {  // meminfo (empty: none), areas
      {"", 2}, {"MemTotal:  99999999 kB\nMemAvailable:  " + three + " kB\nBuffers: 1 kB\n", 3}, {"MemAvailable: 1000 kB\n", 2}};
  for (auto& r : rows) {
    TempRoot root;
    root.MakeDir("/proc");
    if (!r.first.empty()) root.WriteFile("/proc/meminfo", r.first);
    EXPECT_EQ(r.second, CChunkPool::MachineAreas()) << r.first;
  }
  const std::vector<unsigned char> seven = {0x01, 0x80, 0x7F, 0xFE, 0x33, 0x44, 0x55};
  for (bool memory : {true, false}) {
    struct : TempRoot {
      bool memory = true;
      int maps = 0;
      void* MapMemory(unsigned long n) override { return ++maps, memory ? TempRoot::MapMemory(n) : nullptr; }
    } root;
    root.memory = memory;
    if (!root.DirectIoWorks()) GTEST_SKIP() << "no direct I/O on " << root.dir;
    SchemeScope schemes;
    LogCapture logs;
    g_scheme.verify = 1;
    schemes.Add("pool", {MakePass(PASS_RANDOM, true), MakePass(PASS_PATTERN, true, seven)});
    root.MakeImage("zpo", size, 0xEE);
    RecordingDev dev("zpo", size);
    EXPECT_EQ(0, dev.Wipe());
    EXPECT_EQ(1, root.maps);
    EXPECT_EQ(0u, CChunkPool::Instance().InUse());
    EXPECT_EQ(4, logs.Count("completed in", "wipe"));  // both passes and both verifications
    std::vector<unsigned char> img = root.ReadImage("zpo");
    ASSERT_EQ(size, img.size());
    for (uint64_t i = 0; i < size; ++i) ASSERT_EQ(seven[i % 7], img[i]) << i;
  }
}
