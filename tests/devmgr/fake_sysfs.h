// A fake /sys/block and /dev under a temporary root (TempRoot) with image
// files as the drives, and the device monitor's passes run by hand over it.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "device/device_fixture.h"
#include "devmgr/devmgr.h"

struct fake_drive {
  uint64_t size = 1 << 20;  // bytes
  int minor = 0;            // with kUnusedMajor
  int type = 0;             // SCSI peripheral type
  std::string model = "ZV Fake Disk", vendor = "ZVTEST";
  const char* usb = nullptr;  // "usb1", "usb2": the device link runs through that bus
  std::string serial;         // the USB device's serial number
  bool node = true;           // an image file as /dev/<name>
};

class FakeSys : public TempRoot {
 public:
  void AddDrive(const std::string& name, const fake_drive& d = fake_drive()) {
    std::string blk = "/sys/block/" + name, dev_dir = blk + "/device";
    MakeDir(blk);
    WriteFile(blk + "/size", std::to_string(d.size / 512) + "\n");
    WriteFile(blk + "/dev", std::to_string(kUnusedMajor) + ":" + std::to_string(d.minor) + "\n");
    if (d.usb) {
      std::string usbdev = "/sys/devices/pci0000:00/" + std::string(d.usb) + "/2-" + std::to_string(d.minor);
      dev_dir = usbdev + "/2-1:1.0/host6/target6:0:0/6:0:0:0";
      Run("mkdir -p '" + Path(dev_dir) + "' && ln -s '" + Path(dev_dir) + "' '" + Path(blk + "/device") + "'");
      WriteFile(usbdev + "/manufacturer", d.vendor + "\n");
      WriteFile(usbdev + "/serial", d.serial + "\n");
    } else {
      MakeDir(dev_dir);
    }
    WriteFile(dev_dir + "/type", std::to_string(d.type) + "\n");
    WriteFile(dev_dir + "/model", d.model + "   \n");
    WriteFile(dev_dir + "/vendor", d.vendor + "  \n");
    if (d.node) MakeImage(name, d.size, 0xAA);
  }
  // Takes the name out of /sys/block; the image stays for the test to read.
  void RemoveDrive(const std::string& name) { Run("rm -rf '" + Path("/sys/block/" + name) + "'"); }
  void Run(const std::string& cmd) { ASSERT_EQ(0, system(cmd.c_str())) << cmd; }
  // Whether the image still holds nothing but its original fill.
  bool Untouched(const std::string& name) {
    std::vector<unsigned char> img = ReadImage(name);
    return img.size() == (size_t)std::count(img.begin(), img.end(), 0xAA);
  }

  // The monitor's passes without its thread and its pause, on a clock that
  // the test moves on.
  void Pass(CBlkDevMgr& m) {
    m.MonitorPass(previous, first);
    first = false;
  }
  void Advance(int seconds) { offset += seconds; }
  time_t MonitorClock() override { return time(nullptr) + offset; }
  void MonitorSleep() override {}

 private:
  time_t offset = 0;
  std::set<std::string> previous;
  bool first = true;
};
