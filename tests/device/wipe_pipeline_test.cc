// The wipe makes the next chunk while the current one is written or read
// back: the bytes on the image must be exactly those of a plain chunk loop
// that fills one chunk and writes it, for every pass type, for sizes that are
// not a multiple of the chunk, after short writes and after retried writes;
// and cancellation must still stop within one chunk.
#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <memory>

#include "device/device_fixture.h"
#include "scheme/databuffer.h"
#include "support/log_capture.h"

namespace {

const uint64_t kChunk = 16 * 1024 * 1024;
typedef std::vector<unsigned char> bytes;

struct IoReset {
  ~IoReset() {
    g_wipe_write = pwrite64;
    g_wipe_read = pread64;
  }
};

// What a single-threaded loop of FillBuffer over 16 MiB chunks gives for
// [0, size) of pass `pass`.
bytes Reference(CScheme* s, int pass, int start, int previous_start, uint64_t size) {
  std::unique_ptr<CDataBuffer> b(CDataBuffer::Create(s, 0));
  bytes out(size);
  for (uint64_t pos = 0; pos < size; pos += kChunk) {
    int len = (int)(size - pos < kChunk ? size - pos : kChunk);
    EXPECT_EQ(b->FillBuffer(pass, start, previous_start, (long long)pos, len), 0);
    memcpy(out.data() + pos, b->GetWriteBuffer(), len);
  }
  return out;
}

// The seed of a pass is the time it started: the one second in [from, to]
// whose data begins the image. Zero when none does.
int FindStart(CScheme* s, int pass, int previous_start, const bytes& img, time_t from, time_t to) {
  for (time_t t = from; t <= to; ++t) {
    bytes head = Reference(s, pass, (int)t, previous_start, 4096);
    if (memcmp(head.data(), img.data(), 4096) == 0) return (int)t;
  }
  return 0;
}

uint64_t Differences(const bytes& img, const bytes& want, uint64_t size) {
  uint64_t bad = 0;
  for (uint64_t p = 0; p < size; ++p)
    if (img[p] != want[p]) ++bad;
  return bad;
}

std::atomic<int> g_calls{0};

// Writes a third of what is asked, rounded down to 512 bytes: later chunks
// start inside random blocks.
long ThirdWrite(int fd, const void* buf, unsigned long n, long off) {
  ++g_calls;
  unsigned long part = (n / 3) & ~511UL;
  if (part == 0) part = n;
  return pwrite64(fd, buf, part, off);
}

// The second chunk's write fails twice before it goes through.
std::atomic<int> g_fail_left{0};
long SecondChunkFailsTwice(int fd, const void* buf, unsigned long n, long off) {
  ++g_calls;
  if (off == (long)kChunk && g_fail_left > 0) {
    --g_fail_left;
    errno = EIO;
    return -1;
  }
  return pwrite64(fd, buf, n, off);
}

CBlkDev* g_dev = nullptr;
std::atomic<bool> g_blocked{false};
// The second call waits until the wipe has been asked to stop.
long BlockingWrite(int fd, const void* buf, unsigned long n, long off) {
  if (++g_calls == 2) {
    g_blocked = true;
    while (!g_dev->cancel_requested) usleep(1000);
  }
  return pwrite64(fd, buf, n, off);
}
long BlockingRead(int fd, void* buf, unsigned long n, long off) {
  if (++g_calls == 2) {
    g_blocked = true;
    while (!g_dev->cancel_requested) usleep(1000);
  }
  return pread64(fd, buf, n, off);
}

}  // namespace

class WipePipelineTest : public ::testing::Test {
 protected:
  TempRoot root;
  SchemeScope schemes;
  IoReset io;
  LogCapture logs;
  void SetUp() override {
    if (!root.DirectIoWorks()) GTEST_SKIP() << "no direct I/O on " << root.dir;
    g_calls = 0;
    g_debug_fast = 0;
    g_scheme.verify = 1;
  }
};

TEST_F(WipePipelineTest, EveryPassTypeWritesTheBytesOfThePlainLoop) {
  const uint64_t size = 2 * kChunk + 3 * 4096;  // not a multiple of the chunk
  const std::vector<unsigned char> pat = {0x01, 0x80, 0x7F, 0xFE, 0x33, 0x44, 0x55};
  const struct {
    const char* name;
    std::vector<CPass> passes;
    bool seeded;  // the last pass's data depends on a start time
  } cases[] = {
      {"zero", {MakePass(PASS_PATTERN, false, {0xAB}), MakePass(PASS_ZERO, true)}, false},
      {"test", {MakePass(PASS_TEST, true)}, false},
      {"pattern", {MakePass(PASS_PATTERN, true, pat)}, false},
      {"random", {MakePass(PASS_RANDOM, true)}, true},
      {"complement of random", {MakePass(PASS_RANDOM, false), MakePass(PASS_COMPLEMENT, true)}, true},
      {"complement of test", {MakePass(PASS_TEST, false), MakePass(PASS_COMPLEMENT, true)}, false},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    CScheme* s = schemes.Add(c.name, c.passes);
    root.MakeImage("zpa", size + 4096, 0xEE);
    RecordingDev dev("zpa", size);
    time_t from = time(nullptr);
    EXPECT_EQ(dev.Wipe(), 0);
    time_t to = time(nullptr);
    bytes img = root.ReadImage("zpa");
    ASSERT_EQ(img.size(), size + 4096);
    int last = (int)c.passes.size() - 1;
    int start = 0;
    if (c.seeded) {
      // The complement regenerates the random pass with that pass's start.
      int seeded_pass = c.passes[last].type == PASS_COMPLEMENT ? last - 1 : last;
      bytes probe = img;
      if (seeded_pass != last)
        for (auto& b : probe) b = (unsigned char)~b;
      start = FindStart(s, seeded_pass, 0, probe, from, to);
      ASSERT_NE(start, 0) << "no start time gives the image's first block";
    }
    bytes want = c.passes[last].type == PASS_COMPLEMENT ? Reference(s, last, 0, start, size)
                                                         : Reference(s, last, start, 0, size);
    EXPECT_EQ(Differences(img, want, size), 0u);
    for (uint64_t p = size; p < img.size(); ++p) ASSERT_EQ(img[p], 0xEE) << "past the device end";
    EXPECT_FALSE(logs.Has("failed"));
    EXPECT_TRUE(logs.Has("Disk-zpa: verifying pass " + std::to_string(last + 1) + "/" +
                         std::to_string(last + 1) + " completed in "));
    logs.Clear();
  }
}

TEST_F(WipePipelineTest, ShortWritesStartLaterChunksInsideRandomBlocks) {
  CScheme* s = schemes.Add("Random", {MakePass(PASS_RANDOM, true)});
  const uint64_t size = kChunk + 5 * 4096;
  root.MakeImage("zpb", size, 0xEE);
  RecordingDev dev("zpb", size);
  g_wipe_write = ThirdWrite;
  time_t from = time(nullptr);
  EXPECT_EQ(dev.Wipe(), 0);
  time_t to = time(nullptr);
  EXPECT_GT(g_calls.load(), 6);
  bytes img = root.ReadImage("zpb");
  int start = FindStart(s, 0, 0, img, from, to);
  ASSERT_NE(start, 0);
  EXPECT_EQ(Differences(img, Reference(s, 0, start, 0, size), size), 0u);
  EXPECT_TRUE(logs.Has("Disk-zpb: verifying pass 1/1 completed in "));
}

TEST_F(WipePipelineTest, PatternPassesGiveThePlainLoopsBytesWithAndWithoutShortWrites) {
  // Lengths whose phases come back within a few aligned places (6), at a
  // 4096-byte alignment only (8192, which a short write of 512-byte sectors
  // leaves out of step), and not within 1 MiB at all (4099); and a pattern
  // pass after a random one, which used the same memory.
  const uint64_t size = 2 * kChunk + 3 * 4096 + 512;
  std::vector<unsigned char> six = {1, 2, 3, 4, 5, 6}, big(8192), odd(4099);
  for (size_t i = 0; i < big.size(); ++i) big[i] = (unsigned char)(i * 7 + (i >> 9));
  for (size_t i = 0; i < odd.size(); ++i) odd[i] = (unsigned char)(i * 13 + 5);
  const struct {
    const char* name;
    std::vector<CPass> passes;
  } cases[] = {
      {"six", {MakePass(PASS_PATTERN, true, six)}},
      {"big", {MakePass(PASS_PATTERN, true, big)}},
      {"odd", {MakePass(PASS_PATTERN, true, odd)}},
      {"after random", {MakePass(PASS_PATTERN, true, six), MakePass(PASS_RANDOM, true), MakePass(PASS_PATTERN, true, odd)}},
  };
  for (bool short_writes : {false, true}) {
    for (auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (short_writes ? ", short writes" : ""));
      CScheme* s = schemes.Add(c.name, c.passes);
      root.MakeImage("zpw", size + 4096, 0xEE);
      RecordingDev dev("zpw", size);
      g_wipe_write = short_writes ? ThirdWrite : pwrite64;
      g_calls = 0;
      EXPECT_EQ(dev.Wipe(), 0);
      if (short_writes) {
        EXPECT_GT(g_calls.load(), 6);
      }
      bytes img = root.ReadImage("zpw");
      ASSERT_EQ(img.size(), size + 4096);
      int last = (int)c.passes.size() - 1;
      EXPECT_EQ(Differences(img, Reference(s, last, 0, 0, size), size), 0u);
      for (uint64_t p = size; p < img.size(); ++p) ASSERT_EQ(img[p], 0xEE) << "past the device end";
      EXPECT_FALSE(logs.Has("failed"));
      logs.Clear();
    }
  }
}

TEST_F(WipePipelineTest, RetriedWriteKeepsTheChunkItWasMadeFor) {
  CScheme* s = schemes.Add("Random", {MakePass(PASS_RANDOM, true)});
  const uint64_t size = 3 * kChunk;
  root.MakeImage("zpc", size, 0xEE);
  RecordingDev dev("zpc", size);
  g_wipe_write = SecondChunkFailsTwice;
  g_fail_left = 2;
  time_t from = time(nullptr);
  EXPECT_EQ(dev.Wipe(), 0);
  time_t to = time(nullptr);
  EXPECT_EQ(g_calls.load(), 5);
  const std::string warn =
      "Disk-zpc: write failed; pass: 1, offset: " + std::to_string(kChunk) + ", error: " + strerror(EIO);
  EXPECT_EQ(logs.Count(warn, "wipe"), 2);
  EXPECT_EQ(logs.Count("Retrying... 2 attempt(s) left.", "wipe"), 1);
  EXPECT_EQ(logs.Count("Retrying... 1 attempt(s) left.", "wipe"), 1);
  bytes img = root.ReadImage("zpc");
  int start = FindStart(s, 0, 0, img, from, to);
  ASSERT_NE(start, 0);
  EXPECT_EQ(Differences(img, Reference(s, 0, start, 0, size), size), 0u);
}

TEST_F(WipePipelineTest, CancelDuringARandomPassStopsAfterTheChunkInProgress) {
  CScheme* s = schemes.Add("Random", {MakePass(PASS_RANDOM, true)});
  const uint64_t size = 4 * kChunk;
  root.MakeImage("zpd", size, 0x77);
  RecordingDev dev("zpd", size);
  g_dev = &dev;
  g_blocked = false;
  g_wipe_write = BlockingWrite;
  int rc = -5;
  time_t from = time(nullptr);
  std::thread t([&] { rc = dev.Wipe(); });
  while (!g_blocked) usleep(1000);
  dev.CancelWipe();
  t.join();
  time_t to = time(nullptr);
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(g_calls.load(), 2);
  EXPECT_TRUE(logs.Has("Disk-zpd: wiping cancelled at pass 1, offset " + std::to_string(2 * kChunk), "wipe"));
  EXPECT_FALSE(logs.Has("verifying pass 1/1 started"));
  bytes img = root.ReadImage("zpd");
  int start = FindStart(s, 0, 0, img, from, to);
  ASSERT_NE(start, 0);
  bytes want = Reference(s, 0, start, 0, 2 * kChunk);
  EXPECT_EQ(Differences(img, want, 2 * kChunk), 0u);
  uint64_t touched = 0;
  for (uint64_t p = 2 * kChunk; p < size; ++p)
    if (img[p] != 0x77) ++touched;
  EXPECT_EQ(touched, 0u) << "written past the cancelled chunk";
}

TEST_F(WipePipelineTest, CancelDuringVerificationStopsAfterTheChunkInProgress) {
  schemes.Add("Pattern", {MakePass(PASS_PATTERN, true, {0x42, 0x24})});
  const uint64_t size = 4 * kChunk;
  root.MakeImage("zpe", size, 0x77);
  RecordingDev dev("zpe", size);
  g_dev = &dev;
  g_blocked = false;
  g_wipe_read = BlockingRead;
  int rc = -5;
  std::thread t([&] { rc = dev.Wipe(); });
  while (!g_blocked) usleep(1000);
  dev.CancelWipe();
  t.join();
  EXPECT_EQ(rc, 1);
  // The second chunk is read while the first is compared, so the cancel
  // lands after the first chunk or after the second, whichever was in
  // progress; a read after that may be under way, nothing further.
  EXPECT_LE(g_calls.load(), 3);
  const std::string line = "Disk-zpe: verifying cancelled at pass 1, offset ";
  EXPECT_TRUE(logs.Has(line + std::to_string(kChunk), "wipe") || logs.Has(line + std::to_string(2 * kChunk), "wipe"));
  EXPECT_FALSE(logs.Has("verifying pass 1/1 completed"));
}

// The read errors of a chunk read ahead are reported for that chunk, with
// the error the read left.
namespace {
long FailThirdChunk(int fd, void* buf, unsigned long n, long off) {
  if (off >= (long)(2 * kChunk)) {
    errno = ENOSPC;
    return -1;
  }
  return pread64(fd, buf, n, off);
}
}  // namespace

TEST_F(WipePipelineTest, ReadErrorOfAChunkReadAheadIsReportedAtItsOffset) {
  schemes.Add("Zero", {MakePass(PASS_ZERO, true)});
  const uint64_t size = 3 * kChunk;
  root.MakeImage("zpf", size, 0x77);
  RecordingDev dev("zpf", size);
  g_wipe_read = FailThirdChunk;
  EXPECT_EQ(dev.Wipe(), -1);
  EXPECT_TRUE(logs.Has("Disk-zpf: verifying pass 1 failed at offset " + std::to_string(2 * kChunk) + ". " +
                           strerror(ENOSPC),
                       "wipe"));
}
