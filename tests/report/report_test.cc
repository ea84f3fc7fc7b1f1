// The report at a wiped disk's first byte: its layout and the worst pass as
// its status; it goes only onto the drive it describes (at the end the
// drive's name must still lead to the numbers, size and model it was found
// with), and nowhere where the drive has gone.
#include <gtest/gtest.h>

#include <functional>

#include "app/util.h"
#include "device/device_fixture.h"
#include "report/report.h"
#include "support/log_capture.h"
#include "support/unguarded.h"

namespace {

void SysEntry(TempRoot& root, const std::string& name, int minor, int sectors, const std::string& model) {
  const std::string b = "/sys/block/" + name;
  root.MakeDir(b), root.MakeDir(b + "/device");
  root.WriteFile(b + "/dev", std::to_string(kUnusedMajor) + ":" + std::to_string(minor) + "\n");
  root.WriteFile(b + "/size", std::to_string(sectors) + "\n"), root.WriteFile(b + "/device/model", model + "\n");
}

}  // namespace

TEST(ReportTarget, OnlyTheDriveDescribedGetsTheReport) {
  const struct {
    const char* what;
    std::function<void(TempRoot&, CBlkDev&)> meanwhile;
    const char* reported;  // the image that must carry the report, or null
  } rows[] = {
      {"back as zsb, its old numbers now another disk's",
       [](TempRoot& root, CBlkDev& dev) {
         dev.SetDisconnectedFlag();
         ASSERT_EQ(0, rename(root.Path("/dev/zsa").c_str(), root.Path("/dev/zsb").c_str()));
         SysEntry(root, "zsb", 2, 16, "Disk A");
         SysEntry(root, "zsa", 1, 32, "Disk B");
         root.MakeImage("zsa", 16384, 0xCD);
         dev.ComeBackAfterDisconnect("zsb");
       },
       "zsb"},
      {"its name now another disk's",
       [](TempRoot& root, CBlkDev&) {
         SysEntry(root, "zsa", 3, 32, "Disk B");
         root.MakeImage("zsa", 16384, 0xCD);
       },
       nullptr},
      {"gone", [](TempRoot& root, CBlkDev& dev) { dev.SetDisconnectedFlag(), root.MakeDir("/gone");
         ASSERT_EQ(0, rename(root.Path("/sys/block/zsa").c_str(), root.Path("/gone/zsa").c_str())); }, nullptr},
      {"gone with its node: no plain file takes the report", [](TempRoot& root, CBlkDev& dev) {
         dev.SetDisconnectedFlag(), root.MakeDir("/gone");
         ASSERT_EQ(0, rename(root.Path("/sys/block/zsa").c_str(), root.Path("/gone/zsa").c_str()));
         ASSERT_EQ(0, unlink(root.Path("/dev/zsa").c_str())); }, nullptr},
  };
  for (auto& r : rows) {
    SCOPED_TRACE(r.what);
    TempRoot root;
    LogCapture logs;
    SysEntry(root, "zsa", 1, 16, "Disk A");
    root.MakeImage("zsa", 8192, 0xAB);
    RecordingDev dev("zsa", 8192);
    r.meanwhile(root, dev);
    std::vector<unsigned char> before[] = {root.ReadImage("zsa"), root.ReadImage("zsb")};
    report_of(dev).writeToDisk();
    for (int i = 0; i < 2; ++i) {
      std::string img = i ? "zsb" : "zsa";
      std::vector<unsigned char> after = root.ReadImage(img);
      if (r.reported && img == r.reported)
        EXPECT_EQ(0, memcmp(after.data(), "Date: ", 6)) << img;
      else
        EXPECT_EQ(before[i], after) << img << " was written";
    }
    EXPECT_EQ(!r.reported, logs.Has(": The report could not be written: ", "wipe"));
  }
}

TEST(DeviceReport, LaidOutAtByteZeroWithTheWorstStatus) {
  TempRoot root;
  LogCapture logs;
  root.MakeImage("zrb", 8192, 0xAB);
  RecordingDev dev("zrb", 123456789);
  CDeviceReport r(&dev);
  r.hookWipingStarted();
  r.logFinishedPass("wiping pass [zero]", CDeviceReport::failed);
  r.logFinishedPass("trim pass", CDeviceReport::completed_with_warnings);
  r.logFinishedPass("verifying pass", CDeviceReport::success);
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
}
