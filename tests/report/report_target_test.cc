// The report goes only onto the drive it describes: at the end the drive's
// name must still lead to the numbers, size and model it was found with.
#include <gtest/gtest.h>

#include <functional>

#include "device/device_fixture.h"
#include "report/report.h"
#include "support/log_capture.h"

namespace {

void SysEntry(TempRoot& root, const std::string& name, int minor, int sectors, const std::string& model) {
  root.MakeDir("/sys/block/" + name);
  root.MakeDir("/sys/block/" + name + "/device");
  root.WriteFile("/sys/block/" + name + "/dev", std::to_string(kUnusedMajor) + ":" + std::to_string(minor) + "\n");
  root.WriteFile("/sys/block/" + name + "/size", std::to_string(sectors) + "\n");
  root.WriteFile("/sys/block/" + name + "/device/model", model + "\n");
}

bool AllBytes(const std::vector<unsigned char>& img, unsigned char v) {
  for (unsigned char c : img)
    if (c != v) return false;
  return !img.empty();
}

}  // namespace

TEST(ReportTarget, OnlyTheDriveDescribedGetsTheReport) {
  struct row {
    const char* what;
    std::function<void(TempRoot&, CBlkDev&)> meanwhile;
    const char* reported;  // the image that must carry the report, or null
  };
  const row rows[] = {
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
      {"gone", [](TempRoot& root, CBlkDev& dev) {
         dev.SetDisconnectedFlag();
         ASSERT_EQ(0, system(("rm -rf '" + root.Path("/sys/block/zsa") + "'").c_str()));
       },
       nullptr},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    TempRoot root;
    LogCapture logs;
    SysEntry(root, "zsa", 1, 16, "Disk A");
    root.MakeImage("zsa", 8192, 0xAB);
    RecordingDev dev("zsa", 8192);
    r.meanwhile(root, dev);
    std::vector<unsigned char> zsa = root.ReadImage("zsa");
    unsigned char zsa_fill = zsa.empty() ? 0 : zsa.back();
    dev.report->writeToDisk();
    for (const char* img : {"zsa", "zsb"}) {
      std::vector<unsigned char> bytes = root.ReadImage(img);
      if (bytes.empty()) continue;
      if (r.reported && std::string(img) == r.reported)
        EXPECT_EQ(0, memcmp(bytes.data(), "Date: ", 6)) << img;
      else
        EXPECT_TRUE(AllBytes(bytes, std::string(img) == "zsa" ? zsa_fill : 0xAB)) << img << " was written";
    }
    EXPECT_EQ(!r.reported, logs.Has(": The report could not be written: ", "wipe"));
  }
}
