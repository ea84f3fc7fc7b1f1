// The extra chunk areas come from a pool sized by the machine's memory; a
// drive that gets none, because the pool is used up or its memory cannot be
// had, writes and verifies the same bytes, and every area goes back.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include "device/chunk_pool.h"
#include "device/device_fixture.h"
#include "support/log_capture.h"

namespace {

int g_maps = 0;
void* MapArea(size_t n) {
  ++g_maps;
  void* p = mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}
void* NoMemory(size_t) { return ++g_maps, nullptr; }

}  // namespace

// {/proc/meminfo, mapping, areas the pool has}: a random pass and an odd
// pattern (whose window is the one area a drive takes), both verified.
TEST(WipePoolTest, AnyPoolGivesTheSameBytes) {
  const uint64_t size = 2 * 16 * 1024 * 1024 + 4096;
  const std::string three = std::to_string(3 * 8 * CChunkPool::kAreaSize / 1024 + 1);
  const struct {
    std::string meminfo;  // empty: none
    CChunkPool::map_fn_t map;
    size_t areas;
  } rows[] = {
      {"", MapArea, 2},
      {"MemTotal:  99999999 kB\nMemAvailable:  " + three + " kB\nBuffers: 1 kB\n", MapArea, 3},
      {"MemAvailable: 1000 kB\n", NoMemory, 2},
  };
  const std::vector<unsigned char> seven = {0x01, 0x80, 0x7F, 0xFE, 0x33, 0x44, 0x55};
  for (auto& r : rows) {
    TempRoot root;
    if (!root.DirectIoWorks()) GTEST_SKIP() << "no direct I/O on " << root.dir;
    SchemeScope schemes;
    LogCapture logs;
    g_scheme.verify = 1;
    schemes.Add("pool", {MakePass(PASS_RANDOM, true), MakePass(PASS_PATTERN, true, seven)});
    root.MakeDir("/proc");
    if (!r.meminfo.empty()) root.WriteFile("/proc/meminfo", r.meminfo);
    CChunkPool pool(CChunkPool::MachineAreas(), r.map);
    EXPECT_EQ(r.areas, pool.Capacity());
    g_chunk_pool = &pool;
    g_maps = 0;
    root.MakeImage("zpo", size, 0xEE);
    RecordingDev dev("zpo", size);
    EXPECT_EQ(0, dev.Wipe());
    g_chunk_pool = nullptr;
    EXPECT_EQ(1, g_maps);
    EXPECT_EQ(0u, pool.InUse());
    EXPECT_EQ(4, logs.Count("completed in", "wipe"));  // both passes and both verifications
    std::vector<unsigned char> img = root.ReadImage("zpo");
    ASSERT_EQ(size, img.size());
    for (uint64_t i = 0; i < size; ++i) ASSERT_EQ(seven[i % 7], img[i]) << i;
  }
}
