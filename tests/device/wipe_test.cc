// The overwrite and verify passes on image files: every byte of the image is
// checked by the test, against a plain loop that fills one 16 MiB chunk and
// writes it; faults of the writes and reads end in the lines the operator
// reads; the data reaches the disk (direct I/O, flushed before the report).
#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

#include "app/util.h"
#include "command/threaded_command.h"
#include "device/device_fixture.h"
#include "scheme/databuffer.h"
#include "support/gate_command.h"
#include "support/log_capture.h"

namespace {

const uint64_t kChunk = 16 * 1024 * 1024;
typedef std::vector<unsigned char> bytes;
typedef long (*write_fn)(int, const void*, unsigned long, long);
typedef long (*read_fn)(int, void*, unsigned long, long);

// What a single-threaded loop of FillBuffer over chunks gives for [0, size).
bytes Reference(CScheme* s, int pass, int start, int previous_start, uint64_t size) {
  std::unique_ptr<CDataBuffer> b(CDataBuffer::Create(s, 0));
  bytes out(size);
  for (uint64_t pos = 0; pos < size; pos += kChunk) {
    int len = (int)std::min(size - pos, kChunk);
    EXPECT_EQ(0, b->FillBuffer(pass, start, previous_start, (long long)pos, len));
    memcpy(out.data() + pos, b->GetWriteBuffer(), len);
  }
  return out;
}

// The seed of a random pass is the second it started: the one in [from, to]
// whose data begins the image (complemented when `inverted`); 0 when none.
int FindStart(CScheme* s, int pass, const bytes& img, time_t from, time_t to, bool inverted) {
  for (time_t t = from; t <= to; ++t) {
    bytes head = Reference(s, pass, (int)t, 0, 4096);
    bool same = true;
    for (int i = 0; i < 4096 && same; ++i) same = (unsigned char)(inverted ? ~head[i] : head[i]) == img[i];
    if (same) return (int)t;
  }
  return 0;
}

std::atomic<int> g_calls{0};
std::atomic<long> g_arg{0};  // what the current fault acts on
CBlkDev* g_dev = nullptr;
std::vector<std::string> g_events;  // opens, writes and syncs, in order

long ThirdWrite(int fd, const void* buf, unsigned long n, long off) {  // later chunks start inside random blocks
  unsigned long part = (n / 3) & ~511UL;
  return pwrite64(fd, buf, part ? part : n, off);
}
long FailAt(int fd, const void* buf, unsigned long n, long off) {  // g_arg failures at the second chunk
  if (off == (long)kChunk && g_arg > 0 && g_arg-- > 0) return errno = EIO, -1;
  return pwrite64(fd, buf, n, off);
}
long FailAlways(int, const void*, unsigned long, long) { return errno = EIO, -1; }
long WriteNothing(int, const void*, unsigned long, long) { return 0; }
long FlipAt(int fd, const void* buf, unsigned long n, long off) {  // the byte at offset g_arg written flipped
  CAlignedBuffer copy(n);
  memcpy(copy.get(), buf, n);
  if (g_arg >= off && g_arg < off + (long)n) copy.get()[g_arg - off] ^= 1;
  return pwrite64(fd, copy.get(), n, off);
}
long BlockSecond(int fd, const void* buf, unsigned long n, long off) {  // the second chunk waits to be cancelled
  if (n == kChunk && ++g_calls == 2)
    while (!g_dev->cancel_requested) usleep(1000);
  return pwrite64(fd, buf, n, off);
}
long RecordWrite(int fd, const void* buf, unsigned long n, long off) { return g_events.push_back("write"), pwrite64(fd, buf, n, off); }
long ReadFails(int fd, void* buf, unsigned long n, long off) {  // from offset g_arg on
  return off >= g_arg ? (errno = ENOSPC, -1) : pread64(fd, buf, n, off);
}
long ReadEnds(int, void*, unsigned long, long) { return 0; }

// The wipe's writes and reads through the test's functions; the opens and
// syncs recorded; no open for direct I/O while direct_fails.
struct WipeIo : FakePlatform {
  write_fn write = pwrite64;
  read_fn read = pread64;
  bool direct_fails = false;
  long DeviceWrite(int fd, const void* buf, unsigned long n, long off) override { return write(fd, buf, n, off); }
  long DeviceRead(int fd, void* buf, unsigned long n, long off) override { return read(fd, buf, n, off); }
  void Sync() override { g_events.push_back("sync"); }
  int Open(const char* path, int flags) override {
    g_events.push_back(std::string("open") + ((flags & O_DIRECT) ? " direct" : "") + ((flags & O_ACCMODE) == O_RDWR ? " rw" : ""));
    return direct_fails && (flags & O_DIRECT) ? (errno = EINVAL, -1) : FakePlatform::Open(path, flags);
  }
};

}  // namespace

class WipeTest : public ::testing::Test {
 protected:
  TempRoot root;
  SchemeScope schemes;
  LogCapture logs;
  WipeIo io;
  void SetUp() override {
    if (!root.DirectIoWorks()) GTEST_SKIP() << "no direct I/O on " << root.dir;
    g_scheme.verify = 1;
  }
};

// Every pass type, over a size that is not a multiple of the chunk, with
// whole and short writes: the image holds the plain loop's bytes of the last
// pass, and nothing past the device end changes.
TEST_F(WipeTest, EveryPassGivesThePlainLoopsBytes) {
  const uint64_t size = 2 * kChunk + 3 * 4096 + 512;
  bytes odd(4099);
  for (size_t i = 0; i < odd.size(); ++i) odd[i] = (unsigned char)(i * 13 + 5);
  const struct {
    const char* name;
    std::vector<CPass> passes;
    write_fn write;
  } cases[] = {
      {"zero", {MakePass(PASS_PATTERN, false, {0xAB}), MakePass(PASS_ZERO, true)}, pwrite64},
      {"test", {MakePass(PASS_TEST, true)}, ThirdWrite},
      {"odd pattern after random", {MakePass(PASS_RANDOM, true), MakePass(PASS_PATTERN, true, odd)}, ThirdWrite},
      {"complement of random", {MakePass(PASS_RANDOM, false), MakePass(PASS_COMPLEMENT, true)}, ThirdWrite},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    CScheme* s = schemes.Add(c.name, c.passes);
    root.MakeImage("zpa", size + 4096, 0xEE);
    RecordingDev dev("zpa", size);
    io.write = c.write;
    g_arg = 2;
    time_t from = time(nullptr);
    EXPECT_EQ(0, dev.Wipe());
    time_t to = time(nullptr);
    bytes img = root.ReadImage("zpa");
    int last = (int)c.passes.size() - 1;
    bool complement = c.passes[last].type == PASS_COMPLEMENT;
    int seeded = complement ? last - 1 : last;
    int start = c.passes[seeded].type == PASS_RANDOM ? FindStart(s, seeded, img, from, to, complement) : 0;
    bytes want = complement ? Reference(s, last, 0, start, size) : Reference(s, last, start, 0, size);
    img.resize(size + 4096);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), img.begin()));
    EXPECT_EQ(bytes(4096, 0xEE), bytes(img.begin() + (long)size, img.end()));
    EXPECT_FALSE(logs.Has("failed at") || logs.Has("failed."));
    logs.Clear();
  }
}

// Faults of the device: {writes, reads, result, lines the operator reads}.
TEST_F(WipeTest, FaultsEndInTheOperatorsLines) {
  schemes.Add("Zero", {MakePass(PASS_ZERO, true)});
  const std::string eio = strerror(EIO), chunk = std::to_string(kChunk);
  const struct {
    write_fn write;
    read_fn read;
    long arg;
    int rc;
    std::vector<std::string> lines;
  } rows[] = {
      {FailAt, pread64, 2, 0,
       {"write failed; pass: 1, offset: " + chunk + ", error: " + eio, "Retrying... 2 attempt(s) left.",
        "Retrying... 1 attempt(s) left.", "verifying pass 1/1 completed in "}},
      {FailAlways, pread64, 0, -1, {"write failed; pass: 1, offset: 0, error: " + eio, "wiping pass 1 failed."}},
      {WriteNothing, pread64, 0, -1, {"write failed; pass: 1, offset: 0, error: nothing written"}},
      {FlipAt, pread64, (long)kChunk + 100, -1, {"verifying pass 1 failed at offset " + std::to_string(kChunk + 101) + ". Data mismatch"}},
      {FlipAt, pread64, (long)kChunk, -1, {"verifying pass 1 failed at offset " + std::to_string(kChunk + 1) + ". Data mismatch"}},
      {pwrite64, ReadFails, 2 * (long)kChunk, -1, {"verifying pass 1 failed at offset " + std::to_string(2 * kChunk) + ". " + strerror(ENOSPC)}},
      {pwrite64, ReadEnds, 0, -1, {"verifying pass 1 failed at offset 0. Unexpected end of device"}},
  };
  for (auto& r : rows) {
    root.MakeImage("zfa", 3 * kChunk, 0x77);
    RecordingDev dev("zfa", 3 * kChunk);
    io.write = r.write, io.read = r.read;
    g_arg = r.arg;
    logs.Clear();
    EXPECT_EQ(r.rc, dev.Wipe()) << r.lines[0];
    for (auto& l : r.lines) EXPECT_TRUE(logs.Has(l, "wipe")) << l;
  }
}

// Through the queue: the node is opened for direct I/O, the page cache is
// flushed after the last write and again after the report is written; the
// report at byte 0 names every pass.
TEST_F(WipeTest, AWipeReachesTheDiskBeforeItsReport) {
  schemes.Add("Two", {MakePass(PASS_ZERO, true), MakePass(PASS_PATTERN, true, {0x5C})});
  root.MakeImage("zwa", kChunk + 4096, 0x77);
  RecordingDev dev("zwa", kChunk + 4096);
  g_events.clear();
  io.write = RecordWrite;
  g_arg = (long)kChunk;
  io.read = ReadFails;  // the first pass's verification fails in its second chunk
  dev.Init();
  ASSERT_EQ(0, dev.QueueCommand(dev.GetCommandById(BLKDEV_CMD_WIPE)));
  ASSERT_EQ(0, dev.RunCommandQueue());
  while (dev.IsQueueRunning()) usleep(2000);
  std::vector<std::string> want = {"open direct rw", "write", "write", "write", "write", "sync", "sync", "open", "write", "sync"};
  EXPECT_EQ(want, g_events);
  std::vector<std::string> r = report_lines(root.ReadImage("zwa"));
  ASSERT_EQ(13u, r.size());
  EXPECT_EQ((std::vector<std::string>{"pass 1: wiping pass [zero] is success", "pass 2: verifying pass is failed",
                                      "pass 3: wiping pass [5C] is success", "pass 4: verifying pass is failed"}),
            std::vector<std::string>(r.begin() + 9, r.end()));
}

// A wipe that never ran, because the drive cannot be opened for it (here: no
// direct I/O, while the report's plain open works) or because the queue was
// cleared before it, is reported failed, never a success.
TEST_F(WipeTest, AWipeThatNeverRanIsFailed) {
  schemes.Add("Two", {MakePass(PASS_ZERO, true), MakePass(PASS_RANDOM, false)});
  io.direct_fails = true;
  const std::vector<std::string> never_opened = {"pass 1: wiping pass [zero] is failed",
                                                 "pass 2: wiping pass [random] is failed"};
  for (bool cleared : {false, true}) {
    root.MakeImage("zwc", kChunk, 0x77);
    RecordingDev dev("zwc", kChunk);
    dev.Init();
    std::shared_ptr<GateCommand> gate(new GateCommand);
    if (cleared) dev.QueueCommand(gate);
    dev.QueueCommand(dev.GetCommandById(BLKDEV_CMD_WIPE));
    logs.Clear();
    ASSERT_EQ(0, dev.RunCommandQueue());
    if (cleared) gate->WaitEntered(), dev.ClearCommandQueue();
    while (dev.IsQueueRunning()) usleep(2000);
    std::vector<std::string> r = report_lines(root.ReadImage("zwc"));
    ASSERT_LE(10u, r.size());
    EXPECT_EQ(cleared ? std::vector<std::string>{"pass 1: wiping is failed"} : never_opened,
              std::vector<std::string>(r.begin() + 9, r.end()));
    EXPECT_TRUE(logs.Has("Disk-zwc: Wiping finished with status: failed", "wipe"));
  }
}

// Cancelled in a random pass, through the command or by clearing the queue:
// the pass stops after the chunk in progress, nothing after it is written,
// and the command ends "Failed.".
TEST_F(WipeTest, CancelStopsWithinOneChunk) {
  schemes.Add("Random", {MakePass(PASS_RANDOM, true)});
  for (bool clear_queue : {false, true}) {
    root.MakeImage("zpd", 4 * kChunk, 0x77);
    RecordingDev dev("zpd", 4 * kChunk);
    g_dev = &dev;
    g_calls = 0;
    io.write = BlockSecond;
    dev.Init();
    std::shared_ptr<CCommand> cmd = dev.GetCommandById(BLKDEV_CMD_WIPE);
    ASSERT_EQ(0, clear_queue ? int(dev.QueueCommand(cmd) || dev.RunCommandQueue()) : dev.RunCommand(cmd));
    while (g_calls < 2) usleep(1000);
    if (clear_queue) dev.ClearCommandQueue();
    EXPECT_EQ(0, clear_queue ? (int)dev.IsQueueRunning() : cmd->Cancel());
    while (dev.GetCurrentCommand()) usleep(1000);
    EXPECT_EQ(2, g_calls.load());
    EXPECT_EQ(1, logs.Count("Disk-zpd: wiping cancelled at pass 1, offset " + std::to_string(2 * kChunk), "wipe"));
    bytes img = root.ReadImage("zpd");
    EXPECT_EQ(bytes(2 * kChunk, 0x77), bytes(img.begin() + 2 * kChunk, img.end()));
    EXPECT_EQ("Failed.", dev.History().back());
    logs.Clear();
  }
  EXPECT_FALSE(logs.Has("verifying pass 1/1 started"));
}

// {scheme, hardware erase, verify option} -> the image and the log afterwards.
TEST_F(WipeTest, VariantsOfTheRun) {
  root.MakeImage("zwk", 2 * kChunk + 8192, 0x77);
  RecordingDev dev("zwk", 2 * kChunk + 8192);
  schemes.Add("Two", {MakePass(PASS_PATTERN, false, {0x42}), MakePass(PASS_ZERO, true)});
  EXPECT_EQ(0, dev.WipeHW());  // the drive's own erase does the last pass
  EXPECT_TRUE(logs.Has("Disk-zwk: wiping pass 2/2 skipped. Hardware erase will be used.", "wipe"));
  EXPECT_EQ(bytes(2 * kChunk + 8192, 0x42), root.ReadImage("zwk"));
  g_scheme.verify = 0;  // the verify option off: no verification at all
  io.read = ReadEnds;
  EXPECT_EQ(0, dev.Wipe());
  EXPECT_FALSE(logs.Has("verifying"));
  g_scheme.Cleanup();
  EXPECT_EQ(-1, dev.Wipe());
  EXPECT_TRUE(logs.Has("Disk-zwk: failed to get wiping scheme information", "wipe"));
}
