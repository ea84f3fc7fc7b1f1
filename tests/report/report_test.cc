// The device report: status arithmetic, the on-disk layout byte by byte, and
// CHexCode printing.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <regex>
#include <sstream>

#include "app/util.h"
#include "device/device_fixture.h"
#include "report/report.h"
#include "support/log_capture.h"

namespace {

const char* NameOf(int code) { return code == 0x3a ? "text" : nullptr; }

std::string ReportBytes(const std::vector<unsigned char>& img, size_t n) {
  return std::string(img.begin(), img.begin() + (long)std::min(n, img.size()));
}

}  // namespace

TEST(DeviceReport, StatusTextsAndLineCount) {
  EXPECT_STREQ(CDeviceReport::wipingStatusText(CDeviceReport::success), "success");
  EXPECT_STREQ(CDeviceReport::wipingStatusText(CDeviceReport::completed_with_warnings), "completed-with-warnings");
  EXPECT_STREQ(CDeviceReport::wipingStatusText(CDeviceReport::failed), "failed");
  EXPECT_STREQ(CDeviceReport::wipingStatusText((CDeviceReport::completion_status_t)3), "unknown");
  EXPECT_STREQ(CDeviceReport::wipingStatusText((CDeviceReport::completion_status_t)-1), "unknown");
  EXPECT_EQ(CDeviceReport::getLinesCount(""), 0);
  EXPECT_EQ(CDeviceReport::getLinesCount("a\r\nb\nc"), 2);
}

TEST(DeviceReport, OverallStatusIsTheWorstPass) {
  LogCapture logs;
  RecordingDev dev("zra", 4096);
  CDeviceReport r(&dev);
  EXPECT_EQ(r.OverallStatus(), CDeviceReport::success);
  r.logFinishedPass("a", CDeviceReport::success);
  r.logFinishedPass("b", CDeviceReport::completed_with_warnings);
  EXPECT_EQ(r.OverallStatus(), CDeviceReport::completed_with_warnings);
  r.logFinishedPass("c", CDeviceReport::success);
  EXPECT_EQ(r.OverallStatus(), CDeviceReport::completed_with_warnings);
  r.logFinishedPass("d", CDeviceReport::failed);
  EXPECT_EQ(r.OverallStatus(), CDeviceReport::failed);
  r.logFinishedPass("e", 7);
  EXPECT_EQ((int)r.OverallStatus(), 7);
  EXPECT_EQ(r.PassLog(),
            "pass 1: a is success\r\npass 2: b is completed-with-warnings\r\npass 3: c is success\r\n"
            "pass 4: d is failed\r\npass 5: e is unknown\r\n");
  EXPECT_TRUE(logs.Has("zra: pass 'b' is finished, status is 1", "debug"));
}

class ReportDisk : public ::testing::Test {
 protected:
  TempRoot root;
  LogCapture logs;
};

TEST_F(ReportDisk, ThreeSuccessfulPassesLaidOutAtByteZero) {
  root.MakeImage("zrb", 8192, 0xAB);
  RecordingDev dev("zrb", 123456789);
  CDeviceReport r(&dev);
  r.hookWipingStarted();
  EXPECT_GT(r.StartTime(), 0);
  r.logFinishedPass("wiping pass [zero]", CDeviceReport::success);
  r.logFinishedPass("verifying pass", CDeviceReport::success);
  r.logFinishedPass("wiping pass [random]", CDeviceReport::success);
  r.writeToDisk();

  auto img = root.ReadImage("zrb");
  ASSERT_EQ(img.size(), 8192u);  // the image keeps its size
  std::string text = ReportBytes(img, 600);
  std::smatch t;
  ASSERT_TRUE(std::regex_search(text, t, std::regex("Time spent: (00:0[01])\r\n")));
  std::string body = std::string("Disk wiping status: success\r\n") + "Disk size: " + CSizeStr(123456789, 'A').c_str() +
                     "\r\nTime spent: " + std::string(t[1]) + "\r\n\r\nWiping log:\r\n"
                     "pass 1: wiping pass [zero] is success\r\n"
                     "pass 2: verifying pass is success\r\n"
                     "pass 3: wiping pass [random] is success\r\n";
  std::smatch m;
  ASSERT_TRUE(std::regex_search(text, m, std::regex("^Date: ([^\r\n]+)\r\n")));
  std::string date_line = m[0];
  std::string expected = date_line + "X-Completion-Status: success\r\nX-Lines: 8\r\n\r\n" + body;
  ASSERT_EQ(text.substr(0, expected.size()), expected);
  // The date as the program formats it.
  EXPECT_TRUE(std::regex_match(std::string(m[1]),
                               std::regex("[A-Z][a-z]{2}, \\d{2} [A-Z][a-z]{2} \\d{4} \\d{2}:\\d{2}:\\d{2} [+-]\\d{4}")))
      << m[1];
  size_t end = expected.size();
  for (size_t i = end; i < end + 32; ++i) EXPECT_EQ(img[i], 0) << i;
  for (size_t i = end + 32; i < img.size(); ++i) ASSERT_EQ(img[i], 0xAB) << i;

  EXPECT_TRUE(logs.Has("zrb: writting on-disk report", "debug"));
  EXPECT_TRUE(logs.Has("Disk-zrb: Wiping finished with status: success", "wipe"));
  EXPECT_TRUE(logs.Has("Disk-zrb: start " + std::to_string(r.StartTime()) + ", end ", "debug"));
  EXPECT_TRUE(logs.Has("Disk-zrb: Wiping time is 0 seconds", "debug") ||
              logs.Has("Disk-zrb: Wiping time is 1 seconds", "debug"));
  EXPECT_TRUE(logs.Has("Bool value from reporter stream after writing the report: 1", "debug"));
}

TEST_F(ReportDisk, WarningsThenFailureAndEmptyReports) {
  root.MakeImage("zrc", 4096, 0xAB);
  RecordingDev dev("zrc", 4096);
  {
    CDeviceReport r(&dev);
    r.hookWipingStarted();
    r.logFinishedPass("x", CDeviceReport::success);
    r.logFinishedPass("trim pass", CDeviceReport::completed_with_warnings);
    r.writeToDisk();
    parsed_report p = parse_report(root.ReadImage("zrc"));
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.header[1], "X-Completion-Status: completed-with-warnings");
    EXPECT_EQ(p.body[0], "Disk wiping status: completed-with-warnings");
    r.logFinishedPass("y", CDeviceReport::failed);
    r.writeToDisk();
    p = parse_report(root.ReadImage("zrc"));
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.header[1], "X-Completion-Status: failed");
    EXPECT_EQ(p.body.size(), 8u);
    EXPECT_EQ(p.body[7], "pass 3: y is failed");
  }
  {
    // No pass: five body lines. No start hook: time from the epoch.
    CDeviceReport r(&dev);
    r.writeToDisk();
    auto img = root.ReadImage("zrc");
    parsed_report p = parse_report(img);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.header[1], "X-Completion-Status: success");
    EXPECT_EQ(p.header[2], "X-Lines: 5");
    ASSERT_EQ(p.body.size(), 5u);
    EXPECT_EQ(p.body[4], "Wiping log:");
    EXPECT_EQ(p.body[2].rfind("Time spent: ", 0), 0u);
    EXPECT_TRUE(logs.Has("Disk-zrc: start 0, end "));
    for (size_t i = p.end; i < p.end + 32; ++i) EXPECT_EQ(img[i], 0);
  }
}

TEST_F(ReportDisk, MissingNodeWritesNothing) {
  RecordingDev dev("zrd", 4096);
  // The device directory itself is missing: the node cannot be created.
  g_root_prefix = root.dir + "/nowhere";
  CDeviceReport r(&dev);
  r.writeToDisk();
  EXPECT_TRUE(logs.Has("Unable to write report on disk zrd", "debug"));
  EXPECT_FALSE(logs.Has("Wiping finished"));
}

TEST_F(ReportDisk, PulledDriveGetsNoReportAndNoFinishedLine) {
  // The drive went away with its node; its numbers name no device any more.
  // The report must not land in a plain file standing where the node was.
  RecordingDev dev("zre", 4096);
  CDeviceReport r(&dev);
  r.hookWipingStarted();
  r.writeToDisk();
  EXPECT_TRUE(logs.Has("Unable to write report on disk zre", "debug"));
  EXPECT_FALSE(logs.Has("Wiping finished"));
  struct stat st;
  EXPECT_FALSE(stat((root.dir + "/dev/zre").c_str(), &st) == 0 && S_ISREG(st.st_mode))
      << "a plain file was left in /dev";
}

TEST(HexCode, PrintsHexWithOptionalName) {
  std::ostringstream a;
  a << CHexCode(0x3a);
  EXPECT_EQ(a.str(), "3ah");
  std::ostringstream b;
  b << CHexCode(0x3a, NameOf);
  EXPECT_EQ(b.str(), "3ah (text)");
  std::ostringstream c;
  c << CHexCode(0xff, NameOf) << " " << 255;
  // No name for this code; the stream stays hexadecimal.
  EXPECT_EQ(c.str(), "ffh ff");
}
