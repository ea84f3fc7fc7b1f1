// A fake /sys/block and /dev under a temporary root (g_root_prefix) with
// image files as the drives; an ioctl answer per drive (software ATA drives
// or nothing); the monitor's pause and clock driven by the test; and a hook
// that records what the device manager reports.
#pragma once
#include <errno.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/paths.h"
#include "ata/ata_drive_model.h"
#include "devmgr/devmgr.h"
#include "device/device_fixture.h"
#include "device/scsi_fixture.h"

// What sysfs says about one fake drive.
struct fake_drive {
  uint64_t size = 1 << 20;  // bytes
  int minor = 0;            // with kUnusedMajor; -1 writes no "dev" file
  int type = 0;             // SCSI peripheral type
  std::string model = "ZV Fake Disk";
  std::string vendor = "ZVTEST";
  const char* usb = nullptr;  // "usb1", "usb2": the device link runs through that bus
  bool node = true;           // an image file as /dev/<name>
  unsigned char fill = 0xAA;  // image contents
};

class FakeSys : public TempRoot {
 public:
  // Adds /sys/block/<name> (and the image as /dev/<name>).
  void AddDrive(const std::string& name, const fake_drive& d = fake_drive()) {
    std::string blk = "/sys/block/" + name;
    MakeDir(blk);
    WriteFile(blk + "/size", std::to_string(d.size / 512) + "\n");
    if (d.minor >= 0) WriteFile(blk + "/dev", std::to_string(kUnusedMajor) + ":" + std::to_string(d.minor) + "\n");
    std::string dev_dir;
    if (d.usb) {
      std::string target = "/sys/devices/pci0000:00/0000:00:14.0/" + std::string(d.usb) + "/2-1/2-1:1.0/host6/" +
                           "target6:0:0/6:0:0:" + std::to_string(d.minor < 0 ? 0 : d.minor);
      MakeDirs(target);
      if (symlink(Path(target).c_str(), Path(blk + "/device").c_str()) != 0) ADD_FAILURE() << "symlink";
      dev_dir = target;
    } else {
      dev_dir = blk + "/device";
      MakeDir(dev_dir);
    }
    WriteFile(dev_dir + "/type", std::to_string(d.type) + "\n");
    WriteFile(dev_dir + "/model", d.model + "   \n");
    WriteFile(dev_dir + "/vendor", d.vendor + "  \n");
    if (d.node) MakeImage(name, d.size, d.fill);
  }
  // Takes the name out of /sys/block; the image stays for the test to read.
  void RemoveDrive(const std::string& name) {
    std::string cmd = "rm -rf '" + Path("/sys/block/" + name) + "'";
    ASSERT_EQ(0, system(cmd.c_str()));
  }
  // Renames a drive: the same image under a new kernel name.
  void RenameImage(const std::string& from, const std::string& to) {
    ASSERT_EQ(0, rename(Path("/dev/" + from).c_str(), Path("/dev/" + to).c_str()));
  }
  void MakeDirs(const std::string& rel) {
    std::string cmd = "mkdir -p '" + Path(rel) + "'";
    ASSERT_EQ(0, system(cmd.c_str()));
  }
};

// Answers the ioctls of the drives by image name: software ATA drives,
// software SCSI devices, and "not a tty" for everything else, so no ioctl
// reaches a real device.
class FakeIoctl {
 public:
  typedef std::function<int(int, unsigned long, void*)> answer_fn;
  FakeIoctl() : saved(g_ioctl) {
    active() = this;
    g_ioctl = &Dispatch;
  }
  ~FakeIoctl() {
    g_ioctl = saved;
    active() = nullptr;
  }
  void AddAta(const std::string& name, AtaDriveModel* m) {
    Add(name, [m](int fd, unsigned long r, void* a) { return m->Ioctl(fd, r, a); });
  }
  void AddScsi(const std::string& name, FakeScsiDevice* d) {
    Add(name, [d](int fd, unsigned long r, void* a) { return d->Ioctl(fd, r, a); });
  }
  void Add(const std::string& name, answer_fn fn) {
    std::lock_guard<std::mutex> g(mu);
    drives[name] = fn;
  }

 private:
  static FakeIoctl*& active() {
    static FakeIoctl* a = nullptr;
    return a;
  }
  static int Dispatch(int fd, unsigned long request, void* arg) {
    FakeIoctl* self = active();
    answer_fn fn;
    if (self) {
      char link[64], target[PATH_MAX];
      snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
      ssize_t n = readlink(link, target, sizeof target - 1);
      if (n > 0) {
        target[n] = 0;
        const char* base = strrchr(target, '/');
        std::lock_guard<std::mutex> g(self->mu);
        auto it = self->drives.find(base ? base + 1 : target);
        if (it != self->drives.end()) fn = it->second;
      }
    }
    if (!fn) {
      errno = ENOTTY;
      return -1;
    }
    return fn(fd, request, arg);
  }
  ioctl_fn_t saved;
  std::mutex mu;
  std::map<std::string, answer_fn> drives;
};

// The monitor's one-second pause, held until the test lets a pass go on.
// Step(): the monitor acts on the listing it holds and takes the next one;
// Apply(): every sysfs change made before the call has been acted on.
class MonitorStepper {
 public:
  MonitorStepper() : saved_sleep(g_devmgr_monitor_sleep), saved_clock(g_devmgr_clock) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.m);
    s.tokens = 0;
    s.entries = 0;
    s.sleeping = false;
    s.free_run = false;
    s.clock_offset = 0;
    g_devmgr_monitor_sleep = &Sleep;
    g_devmgr_clock = &Clock;
  }
  ~MonitorStepper() {
    FreeRun();
    g_devmgr_monitor_sleep = saved_sleep;
    g_devmgr_clock = saved_clock;
  }
  void Step() {
    State& s = state();
    std::unique_lock<std::mutex> g(s.m);
    s.cv.wait(g, [&] { return s.sleeping; });
    int e = s.entries;
    ++s.tokens;
    s.cv.notify_all();
    s.cv.wait(g, [&] { return s.sleeping && s.entries > e; });
  }
  void Apply() {
    Step();
    Step();
  }
  // Lets the monitor run freely (before StopScanDevices).
  void FreeRun() {
    State& s = state();
    std::lock_guard<std::mutex> g(s.m);
    s.free_run = true;
    s.cv.notify_all();
  }
  void AdvanceClock(int seconds) { state().clock_offset += seconds; }

 private:
  struct State {
    std::mutex m;
    std::condition_variable cv;
    int tokens = 0, entries = 0;
    bool sleeping = false, free_run = false;
    std::atomic<int> clock_offset{0};
  };
  static State& state() {
    static State s;
    return s;
  }
  static void Sleep() {
    State& s = state();
    std::unique_lock<std::mutex> g(s.m);
    if (s.free_run) return;
    ++s.entries;
    s.sleeping = true;
    s.cv.notify_all();
    s.cv.wait(g, [&] { return s.tokens > 0 || s.free_run; });
    if (s.tokens > 0) --s.tokens;
    s.sleeping = false;
  }
  static time_t Clock() { return time(nullptr) + state().clock_offset; }

  devmgr_sleep_fn_t saved_sleep;
  devmgr_clock_fn_t saved_clock;
};

// Records the manager's reports.
class RecordingHook : public CDevMgrHook {
 public:
  struct event {
    std::string what;
    std::shared_ptr<CBlkDev> dev;
    std::string name;  // the device's name when reported
  };
  void DeviceAttachedHook(std::shared_ptr<CBlkDev> d) override { Add("attached", d); }
  void DeviceRemovedHook(std::shared_ptr<CBlkDev> d) override { Add("removed", d); }
  void DeviceComeBackHook(std::shared_ptr<CBlkDev> d) override { Add("back", d); }
  std::vector<event> Events() {
    std::lock_guard<std::mutex> g(m);
    return events;
  }
  std::vector<std::string> Summary() {
    std::vector<std::string> v;
    for (auto& e : Events()) v.push_back(e.what + " " + e.name);
    return v;
  }
  void Clear() {
    std::lock_guard<std::mutex> g(m);
    events.clear();
  }

 private:
  void Add(const char* what, std::shared_ptr<CBlkDev> d) {
    std::lock_guard<std::mutex> g(m);
    events.push_back({what, d, d ? d->name : std::string()});
  }
  std::mutex m;
  std::vector<event> events;
};
