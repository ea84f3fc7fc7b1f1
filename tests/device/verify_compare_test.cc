// The verification compares every byte read back with what the pass wrote,
// piece by piece for zeros, test and pattern data and chunk by chunk for
// random data: a byte flipped on its way back must be reported at its own
// offset plus one wherever it lies (last byte of a chunk or of a short last
// chunk, inside a piece whose pattern phase is not that of the chunk), and
// reads that stop short must not shift what the bytes are compared with.
#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

#include "device/device_fixture.h"
#include "support/log_capture.h"

namespace {

const uint64_t kChunk = 16 * 1024 * 1024;

struct ReadScope {
  ~ReadScope() {
    g_wipe_read = pread64;
    g_debug_fast = 0;
  }
};

// The byte at device offset g_flip_at comes back with its low bit flipped.
std::atomic<long> g_flip_at{-1};
// Reads return a third of what is asked (whole 512-byte sectors) when set.
std::atomic<bool> g_short_reads{false};
// Bytes handed back by all reads.
std::atomic<uint64_t> g_bytes_read{0};

long TamperingRead(int fd, void* buf, unsigned long n, long off) {
  if (g_short_reads) {
    unsigned long part = (n / 3) & ~511UL;
    if (part > 0) n = part;
  }
  long got = pread64(fd, buf, n, off);
  if (got > 0) {
    g_bytes_read += (uint64_t)got;
    long at = g_flip_at;
    if (at >= off && at < off + got) static_cast<unsigned char*>(buf)[at - off] ^= 0x01;
  }
  return got;
}

std::vector<unsigned char> Pattern(size_t n, unsigned char seed) {
  std::vector<unsigned char> p(n);
  for (size_t i = 0; i < n; ++i) p[i] = (unsigned char)(seed + i * 37 + (i >> 8));
  return p;
}

}  // namespace

class VerifyCompareTest : public ::testing::Test {
 protected:
  TempRoot root;
  SchemeScope schemes;
  ReadScope reads;
  LogCapture logs;
  void SetUp() override {
    if (!root.DirectIoWorks()) GTEST_SKIP() << "no direct I/O on " << root.dir;
    g_debug_fast = 0;
    g_scheme.verify = 1;
    g_short_reads = false;
    g_bytes_read = 0;
    g_wipe_read = TamperingRead;
  }

  // Wipes a fresh image of `size` bytes with the scheme; the byte at `flip`
  // (none when negative) is flipped on every read-back of the last pass.
  int Run(const std::string& dev_name, const std::vector<CPass>& passes, uint64_t size, long flip) {
    schemes.Add(dev_name, passes);
    root.MakeImage(dev_name, size, 0x77);
    RecordingDev dev(dev_name, size);
    g_flip_at = flip;
    g_bytes_read = 0;
    return dev.Wipe();
  }
  std::string Mismatch(const std::string& dev_name, int pass, uint64_t reported) {
    return "Disk-" + dev_name + ": verifying pass " + std::to_string(pass) + " failed at offset " +
           std::to_string(reported) + ". Data mismatch";
  }
};

TEST_F(VerifyCompareTest, FlippedByteIsReportedOnePastItsOffsetForEveryKindOfData) {
  const uint64_t two = 2 * kChunk;
  const uint64_t odd = 2 * kChunk + 3 * 4096 + 512;  // a short last chunk
  const std::vector<unsigned char> seven = Pattern(7, 0x11);
  const std::vector<unsigned char> longest = Pattern(65535, 0x5A);  // longer than a piece would be
  const struct {
    const char* name;
    std::vector<CPass> passes;
    uint64_t size;
    long flip;
  } cases[] = {
      {"zlast", {MakePass(PASS_ZERO, true)}, two, (long)kChunk - 1},
      {"zshort", {MakePass(PASS_ZERO, true)}, odd, (long)odd - 1},
      {"zfirst", {MakePass(PASS_ZERO, true)}, odd, (long)(2 * kChunk)},
      {"tsector", {MakePass(PASS_TEST, true)}, two, (long)(kChunk + 5 * 512 + 3)},
      {"tshort", {MakePass(PASS_TEST, true)}, odd, (long)odd - 1},
      {"p7", {MakePass(PASS_PATTERN, true, seven)}, two, (long)(kChunk + 3 * 65536 + 11)},
      {"p7last", {MakePass(PASS_PATTERN, true, seven)}, odd, (long)odd - 1},
      {"plong", {MakePass(PASS_PATTERN, true, longest)}, two, (long)(kChunk + 2 * 65535 + 1)},
      {"cpattern",
       {MakePass(PASS_PATTERN, false, seven), MakePass(PASS_COMPLEMENT, true)},
       odd,
       (long)(kChunk + 65536 + 6)},
      {"rshort", {MakePass(PASS_RANDOM, true)}, odd, (long)odd - 1},
      {"rchunk", {MakePass(PASS_RANDOM, true)}, two, (long)kChunk - 1},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    logs.Clear();
    EXPECT_EQ(Run(c.name, c.passes, c.size, c.flip), -1);
    int pass = (int)c.passes.size();
    EXPECT_TRUE(logs.Has(Mismatch(c.name, pass, (uint64_t)c.flip + 1), "wipe"));
    EXPECT_EQ(logs.Count("Data mismatch"), 1);
  }
}

TEST_F(VerifyCompareTest, ShortReadsAreComparedAtTheirOwnOffsets) {
  // Every read returns a third of the chunk, so that later chunks begin
  // inside a piece, a sector and a pattern period.
  const uint64_t size = 2 * kChunk + 4096;
  const std::vector<unsigned char> seven = Pattern(7, 0x21);
  const struct {
    const char* name;
    std::vector<CPass> passes;
  } cases[] = {
      {"szero", {MakePass(PASS_ZERO, true)}},
      {"stest", {MakePass(PASS_TEST, true)}},
      {"spat", {MakePass(PASS_PATTERN, true, seven)}},
      {"srand", {MakePass(PASS_RANDOM, true)}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    logs.Clear();
    g_short_reads = true;
    EXPECT_EQ(Run(c.name, c.passes, size, -1), 0);
    EXPECT_EQ(g_bytes_read.load(), size) << "every byte read back once";
    EXPECT_EQ(logs.Count("Data mismatch"), 0);
    // And a flipped byte near the end is still found where it is.
    logs.Clear();
    long flip = (long)(size - 4096 - 333);
    EXPECT_EQ(Run(std::string(c.name) + "f", c.passes, size, flip), -1);
    EXPECT_TRUE(logs.Has(Mismatch(std::string(c.name) + "f", 1, (uint64_t)flip + 1), "wipe"));
  }
}
