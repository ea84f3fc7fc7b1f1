// A temporary root holding a fake /dev and /sys/block, the root prefix of
// the platform while it lives, with image files standing in for device nodes; a device
// that records its status text history; a command run to its end; a software
// drive answering the ioctls; schemes installed for one test; and the on-disk
// report's lines.
#pragma once
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/paths.h"
#include "device/blkdev.h"
#include "scheme/scheme.h"
#include "support/fake_platform.h"
#include "support/make_pass.h"

// A major from the local/experimental range that no driver of this machine
// registers: a node the code makes with it can never reach real hardware.
constexpr int kUnusedMajor = 241;

inline bool major_is_registered(int major) {
  std::ifstream in("/proc/devices");
  std::string line;
  for (bool block = false; std::getline(in, line);)
    if ((block = block || line.find("Block devices") != std::string::npos) && atoi(line.c_str()) == major) return true;
  return false;
}

class TempRoot : public FakePlatform {
 public:
  TempRoot() {
    char tmpl[] = "/var/tmp/zv-dev-XXXXXX";  // direct I/O needs a real file system, not tmpfs
    if (mkdtemp(tmpl)) dir = tmpl;
    for (const char* d : {"/dev", "/sys", "/sys/block"}) MakeDir(d);
  }
  ~TempRoot() {
    if (dir.rfind("/var/tmp/zv-dev-", 0) == 0) (void)!system(("rm -rf '" + dir + "'").c_str());
  }
  std::string Path(const std::string& rel) const { return dir + rel; }
  bool DirectIoWorks() const {
    int fd = open(Path("/.direct-probe").c_str(), O_RDWR | O_CREAT | O_DIRECT, 0644);
    if (fd >= 0) close(fd);
    unlink(Path("/.direct-probe").c_str());
    return fd >= 0;
  }
  // An image file of `size` bytes filled with `fill`, as /dev/<name>, and
  // the drive's entry in /sys/block unless the test made one.
  void MakeImage(const std::string& name, size_t size, unsigned char fill) {
    std::string blk = Path("/sys/block/" + name);
    if (mkdir(blk.c_str(), 0755) == 0) {
      std::ofstream(blk + "/dev") << kUnusedMajor << ":7\n";
      std::ofstream(blk + "/size") << size / 512 << "\n";
    }
    std::ofstream out(Path("/dev/" + name), std::ios::binary | std::ios::trunc);
    std::vector<char> block(1 << 20, (char)fill);
    for (size_t left = size; left > 0; left -= std::min(left, block.size()))
      out.write(block.data(), (std::streamsize)std::min(left, block.size()));
  }
  std::vector<unsigned char> ReadImage(const std::string& name) {
    std::ifstream in(Path("/dev/" + name), std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void WriteFile(const std::string& rel, const std::string& text) { std::ofstream(Path(rel), std::ios::trunc) << text; }
  void MakeDir(const std::string& rel) { mkdir(Path(rel).c_str(), 0755); }

  const std::string& RootPrefix() override { return dir; }

  std::string dir;
};

// A device whose status text changes are kept in order.
class RecordingDev : public CBlkDev {
 public:
  RecordingDev(const std::string& n, uint64_t size) {
    CBlkDevData& found = *this;  // as discovery leaves it, before anyone shares it
    found.name = n, found.major = kUnusedMajor, found.minor = 7;
    size_bytes = size, size_sectors = size / 512;
    // Found as discovery finds a drive: what sysfs says now is what the
    // report checks at the end.
    if (!platform().RootPrefix().empty()) found_as = read_sysfs_identity(n);
  }
  void SetCommandStatus(const char* text) override {
    CBlkDev::SetCommandStatus(text);
    std::lock_guard<std::mutex> g(m);
    history.push_back(text ? text : "");
    cv.notify_all();
  }
  std::vector<std::string> History() {
    std::lock_guard<std::mutex> g(m);
    return history;
  }
  void WaitText(const std::string& t) {
    std::unique_lock<std::mutex> g(m);
    cv.wait(g, [&] { return std::find(history.begin(), history.end(), t) != history.end(); });
  }

 private:
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::string> history;
};

// Runs a command of the device to its end, as the queue does; 0 when it shows "Completed".
inline int run_now(CBlkDev& dev, blkdev_command_t id) {
  command_ptr c = dev.GetCommandById(id);
  if (!c) return -100;
  dev.SetCommandStatus("");
  c->Run(true);
  std::string s;
  dev.GetCommandStatus(s);
  return s == "Completed" ? 0 : 1;
}

// Sends every ioctl to `model` (a software drive with an Ioctl method) for the
// scope's lifetime.
template <class Model>
class IoctlScope : public FakePlatform {
 public:
  explicit IoctlScope(Model& m) : model(m) {}
  int Ioctl(int fd, unsigned long request, void* arg) override { return model.Ioctl(fd, request, arg); }

 private:
  Model& model;
};

// Installs schemes into the global scheme manager for one test.
class SchemeScope {
 public:
  SchemeScope() : saved_verify(g_scheme.verify) {}
  ~SchemeScope() {
    g_scheme.Cleanup();
    g_scheme.verify = saved_verify;
  }
  CScheme* Add(const std::string& name, const std::vector<CPass>& passes) {
    g_scheme.schemes.emplace_back(new CScheme);
    CScheme* s = g_scheme.schemes.back().get();
    s->name = name;
    s->passes = passes;
    g_scheme.default_index = (int)g_scheme.schemes.size() - 1;
    return s;
  }

 private:
  int saved_verify;
};

// The on-disk report's lines (without CR LF), up to the zero bytes after it.
inline std::vector<std::string> report_lines(const std::vector<unsigned char>& img) {
  std::string text(img.begin(), std::find(img.begin(), img.end(), 0));
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(text.substr(at, end - at));
  return lines;
}
