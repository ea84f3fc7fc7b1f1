// The overwrite and verify passes on image files: every byte of the image is
// checked afterwards by the test itself.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "command/threaded_command.h"
#include "app/util.h"
#include "device/device_fixture.h"
#include "report/report.h"
#include "support/log_capture.h"
#include "support/loop_device.h"

namespace {

const uint64_t MiB = 1024 * 1024;
const uint64_t kChunk = 16 * MiB;

// Restores the wipe I/O functions after a test replaced them.
struct IoScope {
  ~IoScope() {
    g_wipe_write = pwrite64;
    g_wipe_read = pread64;
    g_debug_fast = 0;
  }
};

std::atomic<int> g_write_calls{0};

long CountingWrite(int fd, const void* buf, unsigned long n, long off) {
  ++g_write_calls;
  return pwrite64(fd, buf, n, off);
}

// Writes a copy of the data with the byte at device offset g_corrupt_at
// flipped, once.
std::atomic<long> g_corrupt_at{-1};
long CorruptingWrite(int fd, const void* buf, unsigned long n, long off) {
  long at = g_corrupt_at;
  if (at < off || at >= off + (long)n) return pwrite64(fd, buf, n, off);
  void* copy = nullptr;
  if (posix_memalign(&copy, 4096, n) != 0) return -1;
  memcpy(copy, buf, n);
  static_cast<unsigned char*>(copy)[at - off] ^= 0x01;
  long rc = pwrite64(fd, copy, n, off);
  free(copy);
  g_corrupt_at = -1;
  return rc;
}

std::atomic<int> g_failures_left{0};
long FailingWrite(int fd, const void* buf, unsigned long n, long off) {
  ++g_write_calls;
  if (g_failures_left > 0) {
    --g_failures_left;
    errno = EIO;
    return -1;
  }
  return pwrite64(fd, buf, n, off);
}

// Fails every write of zero data (the zero pass), writes the rest.
long FailZeroWrite(int fd, const void* buf, unsigned long n, long off) {
  ++g_write_calls;
  if (static_cast<const unsigned char*>(buf)[0] == 0) {
    errno = EIO;
    return -1;
  }
  return pwrite64(fd, buf, n, off);
}

// Writes at most a quarter of what is asked (whole 4 KiB blocks).
long ShortWrite(int fd, const void* buf, unsigned long n, long off) {
  ++g_write_calls;
  unsigned long part = (n / 4) & ~4095UL;
  if (part == 0) part = n;
  return pwrite64(fd, buf, part, off);
}

// Writes nothing and reports no error: counted as a failed attempt.
long NothingWrite(int, const void*, unsigned long, long) { return 0; }

long FailingRead(int, void*, unsigned long, long) {
  errno = EIO;
  return -1;
}
long EndOfDeviceRead(int, void*, unsigned long, long) { return 0; }

// Expected byte of the image after a pattern pass.
unsigned char PatternAt(const std::vector<unsigned char>& pat, uint64_t p) { return pat[p % pat.size()]; }

// Checks the report at byte 0 and returns the offset after its trailer.
size_t CheckReport(const std::vector<unsigned char>& img, const std::string& status,
                   const std::vector<std::string>& pass_lines, const CBlkDev& dev) {
  parsed_report r = parse_report(img);
  EXPECT_TRUE(r.ok);
  if (!r.ok) return 0;
  EXPECT_EQ(r.header[0].rfind("Date: ", 0), 0u) << r.header[0];
  EXPECT_GT(r.header[0].size(), 20u);
  EXPECT_EQ(r.header[1], "X-Completion-Status: " + status);
  EXPECT_EQ(r.header[2], "X-Lines: " + std::to_string(5 + pass_lines.size()));
  std::vector<std::string> expected = {"Disk wiping status: " + status,
                                       std::string("Disk size: ") + CSizeStr(dev.size_bytes, 'A').c_str()};
  EXPECT_EQ(r.body.size(), 5 + pass_lines.size());
  if (r.body.size() != 5 + pass_lines.size()) return 0;
  EXPECT_EQ(r.body[0], expected[0]);
  EXPECT_EQ(r.body[1], expected[1]);
  EXPECT_EQ(r.body[2].rfind("Time spent: ", 0), 0u);
  EXPECT_EQ(r.body[3], "");
  EXPECT_EQ(r.body[4], "Wiping log:");
  for (size_t i = 0; i < pass_lines.size(); ++i) EXPECT_EQ(r.body[5 + i], pass_lines[i]);
  for (size_t i = 0; i < 32; ++i) EXPECT_EQ(img[r.end + i], 0) << "trailer byte " << i;
  return r.end + 32;
}

// Runs the device's "Wipe" command through its queue and waits for the end.
void WipeThroughQueue(RecordingDev& dev) {
  dev.Init();
  ASSERT_TRUE(dev.GetCommandById(BLKDEV_CMD_WIPE));
  ASSERT_EQ(dev.QueueCommand(dev.GetCommandById(BLKDEV_CMD_WIPE)), 0);
  ASSERT_EQ(dev.RunCommandQueue(), 0);
  dev.WaitQueue();
}

std::string PassName(CScheme* s, int i) {
  char buf[64];
  s->PrintPassName(i, buf, sizeof buf);
  return buf;
}

}  // namespace

class WipeTest : public ::testing::Test {
 protected:
  TempRoot root;
  SchemeScope schemes;
  IoScope io;
  LogCapture logs;
  void SetUp() override {
    if (!root.DirectIoWorks()) GTEST_SKIP() << "no direct I/O on " << root.dir;
    g_write_calls = 0;
    g_debug_fast = 0;
    g_scheme.verify = 1;
  }
};

TEST_F(WipeTest, MultiPassSchemeOverwritesEveryByteAndWritesTheReport) {
  const std::vector<unsigned char> pat = {0xA5, 0x5A, 0xC3};
  CScheme* s = schemes.Add("Three passes", {MakePass(PASS_RANDOM, true), MakePass(PASS_COMPLEMENT, true),
                                            MakePass(PASS_PATTERN, true, pat)});
  // Not a multiple of the chunk size; the image is longer than the device so
  // that nothing past size_bytes may change.
  const uint64_t size = kChunk + 64 * 1024 + 3 * 4096;
  root.MakeImage("zwa", size + MiB, 0xEE);
  RecordingDev dev("zwa", size);
  WipeThroughQueue(dev);

  auto img = root.ReadImage("zwa");
  ASSERT_EQ(img.size(), size + MiB);
  size_t after = CheckReport(img, "success",
                             {"pass 1: wiping pass [" + PassName(s, 0) + "] is success", "pass 2: verifying pass is success",
                              "pass 3: wiping pass [" + PassName(s, 1) + "] is success", "pass 4: verifying pass is success",
                              "pass 5: wiping pass [" + PassName(s, 2) + "] is success", "pass 6: verifying pass is success"},
                             dev);
  ASSERT_GT(after, 0u);
  uint64_t bad = 0;
  for (uint64_t p = after; p < size; ++p)
    if (img[p] != PatternAt(pat, p)) ++bad;
  EXPECT_EQ(bad, 0u);
  for (uint64_t p = size; p < img.size(); ++p)
    if (img[p] != 0xEE) ++bad;
  EXPECT_EQ(bad, 0u) << "bytes past the device end changed";

  EXPECT_TRUE(logs.Has("Disk-zwa: using 'Three passes' scheme, 3 pass(es)", "wipe"));
  for (int i = 1; i <= 3; ++i) {
    EXPECT_TRUE(logs.Has("Disk-zwa: wiping pass " + std::to_string(i) + "/3 [" + PassName(s, i - 1) + "] started"));
    EXPECT_TRUE(logs.Has("Disk-zwa: wiping pass " + std::to_string(i) + "/3 completed in "));
    EXPECT_TRUE(logs.Has("Disk-zwa: verifying pass " + std::to_string(i) + "/3 completed in "));
  }
  EXPECT_TRUE(logs.Has("Disk-zwa: Wiping finished with status: success", "wipe"));
  std::string st;
  ASSERT_EQ(dev.GetCommandStatus(st), 1);
  EXPECT_EQ(st, "Completed");
  // The figures describe the last phase: verification of pass 3, finished.
  char line[256];
  dev.PrintWipingStatus(line, sizeof line);
  EXPECT_EQ(std::string(line).rfind("Verifying 3/3 100.0% ", 0), 0u) << line;
}

// The same path on a real block device: a loop device over an image file,
// known to the wipe only through a node in the fake /dev made from its
// device numbers. The image is checked through its file afterwards.
TEST_F(WipeTest, ALoopDeviceIsOverwrittenThroughItsNodeEveryByte) {
  const std::vector<unsigned char> pat = {0x5A, 0x00, 0xFF, 0x11, 0x77};
  CScheme* s = schemes.Add("Random then pattern", {MakePass(PASS_RANDOM, true), MakePass(PASS_PATTERN, true, pat)});
  const uint64_t size = kChunk + 8 * MiB + 4096;
  root.MakeImage("loop.img", size + MiB, 0xEE);
  LoopDevice loop(root.Path("/dev/loop.img"));
  if (loop.Path().empty()) GTEST_SKIP() << loop.SkipReason();
  ASSERT_EQ(0, mknod(root.Path("/dev/zwl").c_str(), S_IFBLK | 0600, loop.Rdev()));
  root.MakeDir("/sys/block/zwl");
  root.WriteFile("/sys/block/zwl/dev", std::to_string(major(loop.Rdev())) + ":" + std::to_string(minor(loop.Rdev())));
  // The device is shorter than its image: the bytes past it must stay.
  RecordingDev dev("zwl", size);
  dev.major = (int)major(loop.Rdev());
  dev.minor = (int)minor(loop.Rdev());
  WipeThroughQueue(dev);

  auto img = root.ReadImage("loop.img");
  ASSERT_EQ(img.size(), size + MiB);
  size_t after = CheckReport(img, "success",
                             {"pass 1: wiping pass [" + PassName(s, 0) + "] is success", "pass 2: verifying pass is success",
                              "pass 3: wiping pass [" + PassName(s, 1) + "] is success", "pass 4: verifying pass is success"},
                             dev);
  ASSERT_GT(after, 0u);
  uint64_t bad = 0, past = 0;
  for (uint64_t p = after; p < size; ++p)
    if (img[p] != PatternAt(pat, p)) ++bad;
  for (uint64_t p = size; p < img.size(); ++p)
    if (img[p] != 0xEE) ++past;
  EXPECT_EQ(bad, 0u);
  EXPECT_EQ(past, 0u) << "bytes past the device end changed";
  EXPECT_TRUE(logs.Has("Disk-zwl: Wiping finished with status: success", "wipe"));
}

TEST_F(WipeTest, ComplementOfTestPatternIsWrittenSectorBySector) {
  schemes.Add("Test and back", {MakePass(PASS_TEST, true), MakePass(PASS_COMPLEMENT, true)});
  const uint64_t size = 2 * kChunk + 512 * 8;
  root.MakeImage("zwb", size, 0x00);
  RecordingDev dev("zwb", size);
  EXPECT_EQ(dev.Wipe(), 0);
  auto img = root.ReadImage("zwb");
  ASSERT_EQ(img.size(), size);
  uint64_t bad = 0;
  for (uint64_t sector = 0; sector < size / 512; ++sector) {
    const unsigned char* p = &img[sector * 512];
    uint32_t s32 = (uint32_t)sector;
    unsigned char head[4] = {(unsigned char)~(s32 >> 24), (unsigned char)~(s32 >> 16), (unsigned char)~(s32 >> 8),
                             (unsigned char)~s32};
    if (memcmp(p, head, 4) != 0) ++bad;
    for (int i = 4; i < 512; ++i)
      if (p[i] != 0xFF) ++bad;
  }
  EXPECT_EQ(bad, 0u);
  EXPECT_FALSE(logs.Has("failed"));
}

TEST_F(WipeTest, ShortWritesAreAcceptedAndThePassEndsAtTheDeviceSize) {
  const std::vector<unsigned char> pat = {0x11, 0x22, 0x33, 0x44, 0x55};
  schemes.Add("Short", {MakePass(PASS_PATTERN, true, pat)});
  const uint64_t size = kChunk + 20 * 4096;
  root.MakeImage("zwc", size + 8192, 0xEE);
  RecordingDev dev("zwc", size);
  g_wipe_write = ShortWrite;
  EXPECT_EQ(dev.Wipe(), 0);
  // A quarter per call: many more calls than chunks.
  EXPECT_GT(g_write_calls.load(), 4);
  auto img = root.ReadImage("zwc");
  uint64_t bad = 0;
  for (uint64_t p = 0; p < size; ++p)
    if (img[p] != PatternAt(pat, p)) ++bad;
  for (uint64_t p = size; p < img.size(); ++p)
    if (img[p] != 0xEE) ++bad;
  EXPECT_EQ(bad, 0u);
  EXPECT_TRUE(logs.Has("Disk-zwc: verifying pass 1/1 completed in "));
}

TEST_F(WipeTest, WriteFailingTwiceIsRetriedAndThePassGoesOn) {
  schemes.Add("Zero", {MakePass(PASS_ZERO, true)});
  const uint64_t size = kChunk + 4096;
  root.MakeImage("zwd", size, 0x77);
  RecordingDev dev("zwd", size);
  g_wipe_write = FailingWrite;
  g_failures_left = 2;
  EXPECT_EQ(dev.Wipe(), 0);
  EXPECT_EQ(g_write_calls.load(), 4);  // two failures, then two chunks
  EXPECT_EQ(logs.Count("Disk-zwd: write failed; pass: 1, offset: 0, error: " + std::string(strerror(EIO)), "wipe"), 2);
  auto texts = logs.Texts("wipe");
  int i2 = -1, i1 = -1;
  for (size_t i = 0; i < texts.size(); ++i) {
    if (texts[i] == "Retrying... 2 attempt(s) left.") i2 = (int)i;
    if (texts[i] == "Retrying... 1 attempt(s) left.") i1 = (int)i;
  }
  ASSERT_GE(i2, 0);
  ASSERT_GE(i1, 0);
  EXPECT_LT(i2, i1);
  EXPECT_FALSE(logs.Has("wiping pass 1 failed."));
  auto img = root.ReadImage("zwd");
  uint64_t bad = 0;
  for (auto b : img)
    if (b != 0) ++bad;
  EXPECT_EQ(bad, 0u);
}

TEST_F(WipeTest, ThreeFailedWritesFailThePassAndLaterPassesStillRun) {
  const std::vector<unsigned char> pat = {0x5C};
  CScheme* s = schemes.Add("Two", {MakePass(PASS_ZERO, true), MakePass(PASS_PATTERN, true, pat)});
  const uint64_t size = kChunk + 4096;
  root.MakeImage("zwe", size, 0x77);
  RecordingDev dev("zwe", size);
  g_wipe_write = FailZeroWrite;
  WipeThroughQueue(dev);
  EXPECT_EQ(logs.Count("Disk-zwe: write failed; pass: 1, offset: 0", "wipe"), 3);
  EXPECT_TRUE(logs.Has("Disk-zwe: wiping pass 1 failed.", "wipe"));
  // The failed pass is still read back, and does not match.
  EXPECT_TRUE(logs.Has("Disk-zwe: verifying pass 1 failed at offset 1. Data mismatch"));
  EXPECT_TRUE(logs.Has("Disk-zwe: wiping pass 2/2 completed in "));
  // The last pass succeeded, so the wipe command did too.
  EXPECT_EQ(dev.History().back(), "Completed");
  auto img = root.ReadImage("zwe");
  size_t after = CheckReport(img, "failed",
                             {"pass 1: wiping pass [" + PassName(s, 0) + "] is failed", "pass 2: verifying pass is failed",
                              "pass 3: wiping pass [" + PassName(s, 1) + "] is success", "pass 4: verifying pass is success"},
                             dev);
  ASSERT_GT(after, 0u);
  uint64_t bad = 0;
  for (uint64_t p = after; p < size; ++p)
    if (img[p] != 0x5C) ++bad;
  EXPECT_EQ(bad, 0u);
}

TEST_F(WipeTest, WriteOfNothingCountsAsFailedAttempt) {
  schemes.Add("Zero", {MakePass(PASS_ZERO, false)});
  root.MakeImage("zwf", 8192, 0x77);
  RecordingDev dev("zwf", 8192);
  g_wipe_write = NothingWrite;
  EXPECT_EQ(dev.Wipe(), -1);
  EXPECT_EQ(logs.Count("Disk-zwf: write failed; pass: 1, offset: 0, error: "), 3);
  EXPECT_TRUE(logs.Has("Disk-zwf: wiping pass 1 failed."));
}

TEST_F(WipeTest, CorruptionBetweenPassAndVerificationIsCaughtAtOffsetPlusOne) {
  const std::vector<unsigned char> pat = {0x3C, 0xC3};
  CScheme* s = schemes.Add("Check", {MakePass(PASS_ZERO, true), MakePass(PASS_PATTERN, true, pat)});
  const uint64_t size = 2 * kChunk;
  root.MakeImage("zwg", size, 0x77);
  RecordingDev dev("zwg", size);
  g_wipe_write = CorruptingWrite;
  g_corrupt_at = (long)(kChunk + 100);
  WipeThroughQueue(dev);
  EXPECT_TRUE(logs.Has("Disk-zwg: verifying pass 1 failed at offset " + std::to_string(kChunk + 101) + ". Data mismatch",
                       "wipe"));
  EXPECT_TRUE(logs.Has("Disk-zwg: verifying pass 2/2 completed in "));
  auto img = root.ReadImage("zwg");
  size_t after = CheckReport(img, "failed",
                             {"pass 1: wiping pass [" + PassName(s, 0) + "] is success", "pass 2: verifying pass is failed",
                              "pass 3: wiping pass [" + PassName(s, 1) + "] is success", "pass 4: verifying pass is success"},
                             dev);
  ASSERT_GT(after, 0u);
  uint64_t bad = 0;
  for (uint64_t p = after; p < size; ++p)
    if (img[p] != PatternAt(pat, p)) ++bad;
  EXPECT_EQ(bad, 0u);
}

TEST_F(WipeTest, MismatchInFirstByteOfChunkIsReportedOnePastIt) {
  schemes.Add("Zero", {MakePass(PASS_ZERO, true)});
  const uint64_t size = 2 * kChunk;
  root.MakeImage("zwh", size, 0x77);
  RecordingDev dev("zwh", size);
  g_wipe_write = CorruptingWrite;
  g_corrupt_at = (long)kChunk;
  EXPECT_EQ(dev.Wipe(), -1);
  EXPECT_TRUE(logs.Has("Disk-zwh: verifying pass 1 failed at offset " + std::to_string(kChunk + 1) + ". Data mismatch"));
  // And the image really holds the flipped byte there.
  auto img = root.ReadImage("zwh");
  EXPECT_EQ(img[kChunk], 0x01);
  EXPECT_EQ(img[kChunk - 1], 0x00);
}

TEST_F(WipeTest, ReadErrorsEndTheVerification) {
  schemes.Add("Zero", {MakePass(PASS_ZERO, true)});
  root.MakeImage("zwi", 8192, 0x77);
  RecordingDev dev("zwi", 8192);
  g_wipe_read = FailingRead;
  EXPECT_EQ(dev.Wipe(), -1);
  EXPECT_TRUE(logs.Has("Disk-zwi: verifying pass 1 failed at offset 0. " + std::string(strerror(EIO))));
  g_wipe_read = EndOfDeviceRead;
  EXPECT_EQ(dev.Wipe(), -1);
  EXPECT_TRUE(logs.Has("Disk-zwi: verifying pass 1 failed at offset 0. Unexpected end of device"));
}

TEST_F(WipeTest, ZeroSizeDeviceCompletesEveryPassAtOnce) {
  schemes.Add("Two", {MakePass(PASS_RANDOM, true), MakePass(PASS_ZERO, true)});
  root.MakeImage("zwj", 4096, 0x77);
  RecordingDev dev("zwj", 0);
  g_wipe_write = CountingWrite;
  EXPECT_EQ(dev.Wipe(), 0);
  EXPECT_EQ(g_write_calls.load(), 0);
  EXPECT_TRUE(logs.Has("Disk-zwj: wiping pass 2/2 completed in "));
  EXPECT_TRUE(logs.Has("Disk-zwj: verifying pass 2/2 completed in "));
  for (auto b : root.ReadImage("zwj")) ASSERT_EQ(b, 0x77);
}

TEST_F(WipeTest, HardwareEraseSkipsTheLastPass) {
  schemes.Add("One", {MakePass(PASS_ZERO, true)});
  root.MakeImage("zwk", 8192, 0x77);
  RecordingDev dev("zwk", 8192);
  g_wipe_write = CountingWrite;
  EXPECT_EQ(dev.WipeHW(), 0);
  EXPECT_EQ(g_write_calls.load(), 0);
  EXPECT_TRUE(logs.Has("Disk-zwk: wiping pass 1/1 skipped. Hardware erase will be used.", "wipe"));

  schemes.Add("Two", {MakePass(PASS_PATTERN, false, {0x42}), MakePass(PASS_ZERO, true)});
  EXPECT_EQ(dev.WipeHW(), 0);
  EXPECT_TRUE(logs.Has("Disk-zwk: wiping pass 2/2 skipped. Hardware erase will be used."));
  for (auto b : root.ReadImage("zwk")) ASSERT_EQ(b, 0x42);
}

TEST_F(WipeTest, VerifyOptionOffReadsNothingBack) {
  schemes.Add("Zero", {MakePass(PASS_ZERO, true)});
  root.MakeImage("zwl", 8192, 0x77);
  RecordingDev dev("zwl", 8192);
  g_scheme.verify = 0;
  g_wipe_read = FailingRead;
  EXPECT_EQ(dev.Wipe(), 0);
  EXPECT_FALSE(logs.Has("verifying"));
}

TEST_F(WipeTest, MissingSchemeOrNodeFailsBeforeWriting) {
  root.MakeImage("zwm", 8192, 0x77);
  RecordingDev dev("zwm", 8192);
  EXPECT_EQ(dev.Wipe(), -1);
  EXPECT_TRUE(logs.Has("Disk-zwm: failed to get wiping scheme information", "wipe"));

  ASSERT_FALSE(major_is_registered(kUnusedMajor));
  schemes.Add("Zero", {MakePass(PASS_ZERO, false)});
  RecordingDev gone("zwgone", 8192);
  EXPECT_EQ(gone.Wipe(), 1);
  EXPECT_TRUE(logs.Has("Disk-zwgone: failed to open device node. " + std::string(strerror(ENXIO)), "wipe"));
  EXPECT_TRUE(logs.Has("Could not open device file '" + root.Path("/dev/zwgone") + "': ", "debug"));
}

TEST_F(WipeTest, FastDebugModeWritesOnlyTheHeadOfEachChunk) {
  schemes.Add("Pattern", {MakePass(PASS_PATTERN, true, {0x99})});
  const uint64_t size = 2 * kChunk + 8192;
  root.MakeImage("zwn", size, 0x77);
  RecordingDev dev("zwn", size);
  g_debug_fast = 1;
  EXPECT_EQ(dev.Wipe(), 0);
  auto img = root.ReadImage("zwn");
  uint64_t bad = 0;
  for (uint64_t p = 0; p < size; ++p) {
    uint64_t in_chunk = p % kChunk;
    unsigned char want = in_chunk < 4096 ? 0x99 : 0x77;
    if (img[p] != want) ++bad;
  }
  EXPECT_EQ(bad, 0u);
}

namespace {
RecordingDev* g_progress_dev = nullptr;
std::vector<std::string> g_progress_lines;
long ProgressWrite(int fd, const void* buf, unsigned long n, long off) {
  char line[256];
  g_progress_dev->PrintWipingStatus(line, sizeof line);
  g_progress_lines.push_back(line);
  return pwrite64(fd, buf, n, off);
}
}  // namespace

TEST_F(WipeTest, ProgressFiguresFollowThePass) {
  schemes.Add("Two", {MakePass(PASS_ZERO, false), MakePass(PASS_PATTERN, false, {0x10})});
  const uint64_t size = 4 * kChunk;
  root.MakeImage("zwo", size, 0x77);
  RecordingDev dev("zwo", size);
  g_progress_dev = &dev;
  g_progress_lines.clear();
  g_wipe_write = ProgressWrite;
  EXPECT_EQ(dev.Wipe(), 0);
  ASSERT_EQ(g_progress_lines.size(), 8u);
  // Before each write: the label of the pass and the share already done.
  EXPECT_EQ(g_progress_lines[0].rfind("Wiping 1/2 0.0% ", 0), 0u) << g_progress_lines[0];
  EXPECT_EQ(g_progress_lines[1].rfind("Wiping 1/2 25.0% ", 0), 0u) << g_progress_lines[1];
  EXPECT_EQ(g_progress_lines[3].rfind("Wiping 1/2 75.0% ", 0), 0u) << g_progress_lines[3];
  EXPECT_EQ(g_progress_lines[4].rfind("Wiping 2/2 0.0% ", 0), 0u) << g_progress_lines[4];
  EXPECT_EQ(g_progress_lines[6].rfind("Wiping 2/2 50.0% ", 0), 0u) << g_progress_lines[6];
  char line[256];
  dev.PrintWipingStatus(line, sizeof line);
  EXPECT_EQ(std::string(line).rfind("Wiping 2/2 100.0% ", 0), 0u);
  EXPECT_TRUE(std::string(line).find("ETA 00:00") != std::string::npos) << line;
  EXPECT_GT(dev.speed, 0u);
  EXPECT_EQ(dev.eta, 0);
}

namespace {
// The second write waits until the wipe has been asked to stop.
CBlkDev* g_block_dev = nullptr;
std::atomic<bool> g_blocked{false};
long BlockingWrite(int fd, const void* buf, unsigned long n, long off) {
  if (++g_write_calls == 2) {
    g_blocked = true;
    while (!g_block_dev->cancel_requested) usleep(1000);
  }
  return pwrite64(fd, buf, n, off);
}
void WaitBlocked() {
  while (!g_blocked) usleep(1000);
}
}  // namespace

TEST_F(WipeTest, ClearingTheQueueCancelsARunningWipeWithinOneChunk) {
  schemes.Add("Zero", {MakePass(PASS_ZERO, true)});
  const uint64_t size = 2 * kChunk + kChunk / 2;
  root.MakeImage("zwp", size, 0x77);
  RecordingDev dev("zwp", size);
  g_block_dev = &dev;
  g_blocked = false;
  g_wipe_write = BlockingWrite;
  dev.Init();
  ASSERT_EQ(dev.QueueCommand(dev.GetCommandById(BLKDEV_CMD_WIPE)), 0);
  ASSERT_EQ(dev.RunCommandQueue(), 0);
  WaitBlocked();
  dev.ClearCommandQueue();
  EXPECT_FALSE(dev.IsQueueRunning());
  EXPECT_EQ(g_write_calls.load(), 2);
  EXPECT_TRUE(logs.Has("Disk-zwp: wiping cancelled at pass 1, offset " + std::to_string(2 * kChunk), "wipe"));
  EXPECT_FALSE(logs.Has("verifying pass 1/1 started"));
  EXPECT_TRUE(logs.Has("zwp: Cancelling current command...", "debug"));
  EXPECT_TRUE(logs.Has("zwp: Command cancelled.", "debug"));
  EXPECT_TRUE(logs.Has("zwp: Command queue thread cancelled", "debug"));
  auto h = dev.History();
  int cancelling = -1, failed = -1;
  for (size_t i = 0; i < h.size(); ++i) {
    if (h[i] == "Cancelling...") cancelling = (int)i;
    if (h[i] == "Failed.") failed = (int)i;
  }
  ASSERT_GE(cancelling, 0);
  ASSERT_GE(failed, 0);
  EXPECT_LT(cancelling, failed);
  EXPECT_EQ(h.back(), "Failed.");
  // The report of the stopped run is on the disk; the device has a new one.
  auto img = root.ReadImage("zwp");
  size_t after = CheckReport(img, "failed", {"pass 1: wiping pass [zero] is failed"}, dev);
  ASSERT_GT(after, 0u);
  uint64_t bad = 0;
  for (uint64_t p = after; p < size; ++p)
    if (img[p] != (p < 2 * kChunk ? 0 : 0x77)) ++bad;
  EXPECT_EQ(bad, 0u);
  EXPECT_EQ(dev.report->PassLog(), "");
  EXPECT_FALSE(dev.cancel_requested);
}

TEST_F(WipeTest, CancellingTheCommandStopsTheWipe) {
  schemes.Add("Zero", {MakePass(PASS_ZERO, true)});
  const uint64_t size = 3 * kChunk;
  root.MakeImage("zwq", size, 0x77);
  RecordingDev dev("zwq", size);
  g_block_dev = &dev;
  g_blocked = false;
  g_wipe_write = BlockingWrite;
  dev.Init();
  std::shared_ptr<CCommand> cmd = dev.GetCommandById(BLKDEV_CMD_WIPE);
  ASSERT_EQ(dev.RunCommand(cmd), 0);
  WaitBlocked();
  EXPECT_EQ(dev.RunCommand(cmd), 16);
  EXPECT_FALSE(dev.IsReady());
  EXPECT_EQ(cmd->Cancel(), 0);
  dev.WaitText("Failed.");
  while (dev.GetCurrentCommand()) usleep(1000);
  EXPECT_EQ(cmd->GetStatus(), CMD_STATUS_IDLE);
  EXPECT_EQ(g_write_calls.load(), 2);
  EXPECT_TRUE(logs.Has("Disk-zwq: wiping cancelled at pass 1, offset " + std::to_string(2 * kChunk)));
  EXPECT_FALSE(logs.Has("CommandComplete(cmd_ptr) and current_command ptr mismatch"));
  auto h = dev.History();
  bool seen_cancelling = false;
  for (auto& t : h) {
    if (t == "Cancelling...") seen_cancelling = true;
    if (t == "Failed.") {
      EXPECT_TRUE(seen_cancelling);
    }
  }
  EXPECT_TRUE(seen_cancelling);
}
