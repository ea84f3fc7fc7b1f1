// The log reader: display lines, wrapping, old lines read back through the
// index, truncation, and the monitor thread following a growing file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "ui/logreader.h"

namespace {

struct TempFile {
  std::string path = "/tmp/zv-logreader-" + std::to_string(getpid());
  ~TempFile() { unlink(path.c_str()); }
  void Append(const std::string& text) { std::ofstream(path, std::ios::app | std::ios::binary) << text; }
};

// Drives the monitor passes by hand: no thread, no sleeping.
class StepReader : public CLogReader {
 public:
  using CLogReader::ParseLog;
  StepReader(const std::string& path, int width) {
    CLockWrapper guard(*this);
    wrap_width = width;
    source = path;
    ResetCacheNoLock();
    monitor_running = true;
  }
  ~StepReader() override { monitor_running = false; }
  std::string Line(size_t n) {
    std::string text;
    return GetLine(n, text) == 0 ? text : "<none>";
  }
};

std::string Numbered(int i) { return "line " + std::to_string(i) + " of a long log with some padding text"; }

TEST(LogReader, SplitsAtLineFeedsWrapsAndWaitsForTheEndOfALine) {
  TempFile f;
  f.Append(std::string(200, 'a') + "\n" + std::string(80, 'b') + "\n\ntail");
  StepReader r(f.path, 80);
  ASSERT_EQ(0, r.ParseLog());
  std::vector<std::string> want = {std::string(80, 'a'), std::string(80, 'a'), std::string(40, 'a'),
                                   std::string(80, 'b'), "", "<none>"};
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(want[i], r.Line(i)) << i;
  f.Append(" ends\n");
  r.ParseLog();
  EXPECT_EQ("tail ends", r.Line(5));
  ASSERT_EQ(0, truncate(f.path.c_str(), 0));
  r.ParseLog();
  EXPECT_EQ(0u, r.GetLineCount());
  f.Append("fresh\n");
  r.ParseLog();
  EXPECT_EQ("fresh", r.Line(0));
}

// Far more than the two monitor buffers hold: every line, wrapped or not,
// still reads back (through the index of every 256th line).
TEST(LogReader, OldLinesAreReadBackThroughTheIndex) {
  for (int width : {0, 30}) {
    TempFile f;
    std::string text;
    for (int i = 0; i < 5000; ++i) text += Numbered(i) + "\n";
    ASSERT_GT(text.size(), 4 * CLogReader::kCacheSize);
    f.Append(text);
    StepReader r(f.path, width);
    r.ParseLog();
    ASSERT_EQ(width ? 10000u : 5000u, r.GetLineCount());
    for (int i = 0; i < 5000; i += 97) {
      std::string got = width ? r.Line(2 * i) + r.Line(2 * i + 1) : r.Line(i);
      EXPECT_EQ(Numbered(i), got) << i << " at width " << width;
    }
  }
}

TEST(LogReader, MonitorFollowsTheFileAndAMissingFileKeepsThePrevious) {
  TempFile f;
  f.Append("first\n");
  CLogReader r;
  ASSERT_EQ(0, r.SetSource(f.path.c_str(), 80));
  EXPECT_NE(0, r.SetSource("/tmp/zv-no-such-file-here", 80));
  auto wait_for = [&](size_t n) {
    for (int i = 0; i < 300 && r.GetLineCount() != n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return r.GetLineCount();
  };
  EXPECT_EQ(1u, wait_for(1));
  f.Append("second\nthird\n");
  EXPECT_EQ(3u, wait_for(3));
  std::string text;
  r.GetLine(2, text);
  EXPECT_EQ("third", text);
}

}  // namespace
