// The report at a wiped disk's first byte: its layout, the worst pass as its
// status, and no report where the drive has gone.
#include <gtest/gtest.h>

#include "app/util.h"
#include "device/device_fixture.h"
#include "report/report.h"
#include "support/log_capture.h"

TEST(DeviceReport, LaidOutAtByteZeroWithTheWorstStatus) {
  TempRoot root;
  LogCapture logs;
  root.MakeImage("zrb", 8192, 0xAB);
  RecordingDev dev("zrb", 123456789);
  CDeviceReport r(&dev);
  r.hookWipingStarted();
  const std::pair<const char*, CDeviceReport::completion_status_t> passes[] = {
      {"wiping pass [zero]", CDeviceReport::failed}, {"trim pass", CDeviceReport::completed_with_warnings},
      {"verifying pass", CDeviceReport::success}};
  for (auto& p : passes) r.logFinishedPass(p.first, p.second);
  r.writeToDisk();
  std::vector<unsigned char> img = root.ReadImage("zrb");
  ASSERT_EQ(8192u, img.size());  // an image keeps its size
  std::string text(img.begin(), img.end());
  std::string body = std::string("Disk wiping status: failed\r\nDisk size: ") + CSizeStr(123456789, 'A').c_str() +
                     "\r\nTime spent: 00:0X\r\n\r\nWiping log:\r\npass 1: wiping pass [zero] is failed\r\n"
                     "pass 2: trim pass is completed-with-warnings\r\npass 3: verifying pass is success\r\n";
  size_t at = text.find("\r\n") + 2, spent = text.find("Time spent: 00:0") + 16;
  ASSERT_TRUE(text[spent] == '0' || text[spent] == '1');  // a second may pass
  text[spent] = 'X';
  EXPECT_EQ(0u, text.rfind("Date: ", 0));
  EXPECT_EQ("X-Completion-Status: failed\r\nX-Lines: 8\r\n\r\n" + body + std::string(32, '\0') + std::string(1, '\xAB'),
            text.substr(at, 43 + body.size() + 33));
  EXPECT_TRUE(logs.Has("Disk-zrb: Wiping finished with status: failed", "wipe"));

  // The drive went away with its node: no plain file takes its report.
  RecordingDev gone("zre", 4096);
  CDeviceReport(&gone).writeToDisk();
  struct stat st;
  EXPECT_FALSE(stat(root.Path("/dev/zre").c_str(), &st) == 0 && S_ISREG(st.st_mode));
  EXPECT_FALSE(logs.Has("Disk-zre: Wiping finished"));
}
