// The log reader: display lines, wrapping, the caches, the line index for old
// lines, truncation, and the monitor thread following a growing file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "ui/logreader.h"

namespace {

class TempFile {
 public:
  TempFile() {
    char tmpl[] = "/tmp/zv-logreader-XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd >= 0) close(fd);
    path = tmpl;
  }
  ~TempFile() { unlink(path.c_str()); }
  void Append(const std::string& text) {
    std::ofstream out(path, std::ios::app | std::ios::binary);
    out << text;
  }
  void Truncate() { (void)!truncate(path.c_str(), 0); }
  std::string path;
};

// Drives the monitor passes by hand: no thread, no sleeping.
class StepReader : public CLogReader {
 public:
  void Open(const std::string& path, int width) {
    CLockWrapper guard(*this);
    wrap_width = width;
    source = path;
    ResetCacheNoLock();
    monitor_running = true;
  }
  int Pass() { return ParseLog(); }
  size_t IndexSize() {
    CLockWrapper guard(*this);
    return line_index.size();
  }
  int ParseRight(int fd) override {
    ++chunks;
    return CLogReader::ParseRight(fd);
  }
  ~StepReader() override { monitor_running = false; }
  int chunks = 0;
};

std::string Line(CLogReader& r, size_t n) {
  std::string text;
  int rc = r.GetLine(n, text);
  return rc == 0 ? text : "<" + std::to_string(rc) + ">";
}

TEST(LogReader, SplitsAtLineFeedsAndWrapsLongLines) {
  TempFile f;
  f.Append(std::string(200, 'a') + "\n" + std::string(80, 'b') + "\n" + "\n" + "tail without feed");
  StepReader r;
  r.Open(f.path, 80);
  ASSERT_EQ(r.Pass(), 0);
  // 200 characters: 80 + 80 + 40; exactly 80 followed by a feed: one line;
  // an empty line counts; the unfinished tail does not (yet).
  ASSERT_EQ(r.GetLineCount(), 5u);
  EXPECT_EQ(Line(r, 0), std::string(80, 'a'));
  EXPECT_EQ(Line(r, 1), std::string(80, 'a'));
  EXPECT_EQ(Line(r, 2), std::string(40, 'a'));
  EXPECT_EQ(Line(r, 3), std::string(80, 'b'));
  EXPECT_EQ(Line(r, 4), "");
  EXPECT_EQ(Line(r, 5), "<-1>");
  f.Append(" now ends\n");
  ASSERT_EQ(r.Pass(), 0);
  ASSERT_EQ(r.GetLineCount(), 6u);
  EXPECT_EQ(Line(r, 5), "tail without feed now ends");
}

TEST(LogReader, WithoutWidthLinesAreNotWrapped) {
  TempFile f;
  f.Append(std::string(300, 'x') + "\nshort\n");
  StepReader r;
  r.Open(f.path, 0);
  r.Pass();
  ASSERT_EQ(r.GetLineCount(), 2u);
  EXPECT_EQ(Line(r, 0), std::string(300, 'x'));
  EXPECT_EQ(Line(r, 1), "short");
}

TEST(LogReader, TruncatedFileStartsCountingAgain) {
  TempFile f;
  for (int i = 0; i < 10; ++i) f.Append("line " + std::to_string(i) + "\n");
  StepReader r;
  r.Open(f.path, 80);
  r.Pass();
  ASSERT_EQ(r.GetLineCount(), 10u);
  f.Truncate();
  r.Pass();
  EXPECT_EQ(r.GetLineCount(), 0u);
  EXPECT_EQ(Line(r, 0), "<-1>");
  f.Append("fresh\nsecond\n");
  r.Pass();
  ASSERT_EQ(r.GetLineCount(), 2u);
  EXPECT_EQ(Line(r, 0), "fresh");
  EXPECT_EQ(Line(r, 1), "second");
}

std::string Numbered(int i) {
  char buf[64];
  snprintf(buf, sizeof buf, "line %06d of a long log with some padding text", i);
  return buf;
}

TEST(LogReader, GrowthBeyondOneBufferIsParsedInSeveralChunks) {
  TempFile f;
  StepReader r;
  r.Open(f.path, 80);
  r.Pass();
  std::string text;
  for (int i = 0; i < 3000; ++i) text += Numbered(i) + "\n";  // about 150 KiB
  ASSERT_GT(text.size(), 4 * CLogReader::kCacheSize);
  f.Append(text);
  r.chunks = 0;
  ASSERT_EQ(r.Pass(), 0);
  EXPECT_EQ(r.GetLineCount(), 3000u);
  // No chunk is larger than a buffer: the lock is released in between.
  EXPECT_GE(r.chunks, (int)(text.size() / CLogReader::kCacheSize));
  EXPECT_EQ(r.IndexSize(), (3000u + 255) / 256);
  // The newest lines come from the monitor buffers.
  EXPECT_EQ(Line(r, 2999), Numbered(2999));
}

TEST(LogReader, OldLinesAreReadBackThroughTheIndex) {
  TempFile f;
  std::string text;
  for (int i = 0; i < 5000; ++i) text += Numbered(i) + "\n";
  f.Append(text);
  StepReader r;
  r.Open(f.path, 80);
  r.Pass();
  ASSERT_EQ(r.GetLineCount(), 5000u);
  // Lines 0, 256, 257, 1000 have long left the two monitor buffers.
  EXPECT_EQ(Line(r, 256), Numbered(256));
  EXPECT_EQ(Line(r, 257), Numbered(257));
  EXPECT_EQ(Line(r, 0), Numbered(0));
  EXPECT_EQ(Line(r, 1000), Numbered(1000));
  EXPECT_EQ(Line(r, 511), Numbered(511));
  EXPECT_EQ(Line(r, 4999), Numbered(4999));
  // Every line, in a scattered order, still matches.
  for (int i = 0; i < 5000; i += 97) EXPECT_EQ(Line(r, i), Numbered(i)) << i;
  EXPECT_EQ(Line(r, 5000), "<-1>");
}

TEST(LogReader, WrappedOldLinesAreReadBackToo) {
  TempFile f;
  std::string text;
  // Each record wraps into two display lines of 40 and 10 characters.
  for (int i = 0; i < 2000; ++i) {
    char buf[64];
    snprintf(buf, sizeof buf, "%040d%010d", i, i);
    text += std::string(buf) + "\n";
  }
  f.Append(text);
  StepReader r;
  r.Open(f.path, 40);
  r.Pass();
  ASSERT_EQ(r.GetLineCount(), 4000u);
  char want[64];
  snprintf(want, sizeof want, "%040d", 300);
  EXPECT_EQ(Line(r, 600), want);
  snprintf(want, sizeof want, "%010d", 300);
  EXPECT_EQ(Line(r, 601), want);
}

TEST(LogReader, LineLongerThanABufferWithoutWrappingStillMovesOn) {
  TempFile f;
  f.Append(std::string(CLogReader::kCacheSize + 100, 'z') + "\nafter\n");
  StepReader r;
  r.Open(f.path, 0);
  r.Pass();
  ASSERT_GE(r.GetLineCount(), 2u);
  EXPECT_EQ(Line(r, r.GetLineCount() - 1), "after");
}

TEST(LogReader, SetSourceRejectsMissingFileAndKeepsThePrevious) {
  TempFile f;
  f.Append("one\ntwo\n");
  CLogReader r;
  ASSERT_EQ(r.SetSource(f.path.c_str(), 80), 0);
  EXPECT_NE(r.SetSource("/tmp/zv-no-such-file-here", 80), 0);
  // The monitor of the first file still runs.
  for (int i = 0; i < 200 && r.GetLineCount() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(r.GetLineCount(), 2u);
  EXPECT_EQ(r.SetSource(nullptr, 80), 0);
  EXPECT_EQ(r.GetLineCount(), 0u);
}

TEST(LogReader, MonitorFollowsAGrowingAndTruncatedFile) {
  TempFile f;
  f.Append("first\n");
  CLogReader r;
  ASSERT_EQ(r.SetSource(f.path.c_str(), 80), 0);
  auto wait_for = [&](size_t n) {
    for (int i = 0; i < 300 && r.GetLineCount() != n; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return r.GetLineCount();
  };
  EXPECT_EQ(wait_for(1), 1u);
  f.Append("second\nthird\n");
  EXPECT_EQ(wait_for(3), 3u);
  EXPECT_EQ(Line(r, 2), "third");
  f.Truncate();
  EXPECT_EQ(wait_for(0), 0u);
  f.Append("again\n");
  EXPECT_EQ(wait_for(1), 1u);
  EXPECT_EQ(Line(r, 0), "again");
}

TEST(LineCache, HoldsConsecutiveLinesFromItsFirst) {
  CLineCache c;
  EXPECT_EQ(c.GetLine(0), nullptr);
  ASSERT_EQ(c.Init(64), 1);
  memcpy(c.buffer, "ab\0cd\0", 6);
  c.first_line = 10;
  c.starts = {0, 3};
  EXPECT_STREQ(c.GetLine(10), "ab");
  EXPECT_STREQ(c.GetLine(11), "cd");
  EXPECT_EQ(c.GetLine(9), nullptr);
  EXPECT_EQ(c.GetLine(12), nullptr);
  c.Reset();
  EXPECT_EQ(c.GetLine(10), nullptr);
  EXPECT_TRUE(c.valid);
}

}  // namespace
