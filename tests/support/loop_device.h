// A loop device attached to an image file for the length of one test, and
// detached at the end. Without root or loop support Path() stays empty and
// SkipReason() says why.
#pragma once
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

class LoopDevice {
 public:
  explicit LoopDevice(const std::string& image) {
    reason = getuid() != 0 ? "loop devices need root" : access("/dev/loop-control", F_OK) ? "no loop support" : "";
    if (!reason.empty()) return;
    if (FILE* p = popen(("losetup --find --show '" + image + "' 2>/dev/null").c_str(), "r")) {
      char buf[256] = {0};
      if (fgets(buf, sizeof buf, p)) path = buf;
      pclose(p);
    }
    while (!path.empty() && isspace((unsigned char)path.back())) path.pop_back();
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) {
      Detach();
      reason = "losetup could not attach " + image;
      return;
    }
    rdev = st.st_rdev;
  }
  ~LoopDevice() { Detach(); }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;
  const std::string& Path() const { return path; }
  dev_t Rdev() const { return rdev; }
  const std::string& SkipReason() const { return reason; }

 private:
  void Detach() {
    if (!path.empty() && system(("losetup -d '" + path + "'").c_str()) != 0) ADD_FAILURE() << "could not detach " << path;
    path.clear();
  }
  std::string path, reason;
  dev_t rdev = 0;
};
