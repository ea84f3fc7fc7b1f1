// A temporary root holding a fake /dev and /sys/block, reached through
// g_root_prefix, with image files standing in for device nodes; and a device
// that records its status text history.
#pragma once
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/paths.h"
#include "device/blkdev.h"
#include "scheme/scheme.h"
#include "support/make_pass.h"

// Device numbers of nodes the tests let the code create: a major from the
// local/experimental range that no driver of this machine registers, so such
// a node can never reach real hardware.
constexpr int kUnusedMajor = 241;

inline bool major_is_registered(int major) {
  std::ifstream in("/proc/devices");
  std::string line;
  bool block = false;
  while (std::getline(in, line)) {
    if (line.find("Block devices") != std::string::npos) block = true;
    if (!block) continue;
    int m = 0;
    char name[64];
    if (sscanf(line.c_str(), "%d %63s", &m, name) == 2 && m == major) return true;
  }
  return false;
}

class TempRoot {
 public:
  TempRoot() {
    // Direct I/O needs a real file system (not tmpfs): /var/tmp.
    char tmpl[] = "/var/tmp/zv-dev-XXXXXX";
    char* d = mkdtemp(tmpl);
    if (d) dir = d;
    mkdir((dir + "/dev").c_str(), 0755);
    mkdir((dir + "/sys").c_str(), 0755);
    mkdir((dir + "/sys/block").c_str(), 0755);
    saved_prefix = g_root_prefix;
    g_root_prefix = dir;
  }
  ~TempRoot() {
    g_root_prefix = saved_prefix;
    if (!dir.empty() && dir.rfind("/var/tmp/zv-dev-", 0) == 0) {
      std::string cmd = "rm -rf '" + dir + "'";
      if (system(cmd.c_str()) != 0) {
      }
    }
  }
  std::string Path(const std::string& rel) const { return dir + rel; }

  // Whether this file system takes direct I/O (tmpfs on older kernels does not).
  bool DirectIoWorks() const {
    std::string p = dir + "/.direct-probe";
    int fd = open(p.c_str(), O_RDWR | O_CREAT | O_DIRECT, 0644);
    if (fd >= 0) close(fd);
    unlink(p.c_str());
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
    std::string p = Path("/dev/" + name);
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    std::vector<char> block(1 << 20, (char)fill);
    size_t left = size;
    while (left > 0) {
      size_t n = left < block.size() ? left : block.size();
      out.write(block.data(), (std::streamsize)n);
      left -= n;
    }
  }
  std::vector<unsigned char> ReadImage(const std::string& name) {
    std::vector<unsigned char> out;
    int fd = open(Path("/dev/" + name).c_str(), O_RDONLY);
    if (fd < 0) return out;
    struct stat st;
    if (fstat(fd, &st) == 0) {
      out.resize((size_t)st.st_size);
      size_t got = 0;
      while (got < out.size()) {
        ssize_t n = read(fd, out.data() + got, out.size() - got);
        if (n <= 0) break;
        got += (size_t)n;
      }
      out.resize(got);
    }
    close(fd);
    return out;
  }
  void WriteFile(const std::string& rel, const std::string& text) {
    std::ofstream out(Path(rel), std::ios::trunc);
    out << text;
  }
  void MakeDir(const std::string& rel) { mkdir(Path(rel).c_str(), 0755); }

  std::string dir;

 private:
  std::string saved_prefix;
};

// A device whose status text changes are kept in order.
class RecordingDev : public CBlkDev {
 public:
  RecordingDev(const std::string& n, uint64_t size) {
    name = n;
    major = kUnusedMajor;
    minor = 7;
    size_bytes = size;
    size_sectors = size / 512;
    // Found as discovery finds a drive: what sysfs says now is what the
    // report checks at the end.
    if (!g_root_prefix.empty()) found_as = read_sysfs_identity(n);
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
    cv.wait(g, [&] {
      for (auto& h : history)
        if (h == t) return true;
      return false;
    });
  }
  // Waits until the queue thread has ended.
  void WaitQueue() {
    while (IsQueueRunning()) usleep(2000);
  }

 private:
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::string> history;
};

// Installs schemes into the global scheme manager for one test.
class SchemeScope {
 public:
  SchemeScope() { saved_verify = g_scheme.verify; }
  ~SchemeScope() {
    g_scheme.Cleanup();
    g_scheme.verify = saved_verify;
  }
  CScheme* Add(const std::string& name, const std::vector<CPass>& passes) {
    CScheme* s = new CScheme;
    s->name = name;
    s->passes = passes;
    g_scheme.schemes.push_back(s);
    g_scheme.default_index = (int)g_scheme.schemes.size() - 1;
    return s;
  }

 private:
  int saved_verify;
};

// Splits the on-disk report: returns the header and body lines (without
// CR LF) and the offset just after the body; empty on a layout error.
struct parsed_report {
  std::vector<std::string> header;
  std::vector<std::string> body;
  size_t end = 0;  // first byte after the body
  bool ok = false;
};

inline parsed_report parse_report(const std::vector<unsigned char>& img) {
  parsed_report r;
  size_t pos = 0;
  auto next_line = [&](std::string& out) {
    for (size_t i = pos; i + 1 < img.size() && i < pos + 4096; ++i) {
      if (img[i] == '\r' && img[i + 1] == '\n') {
        out.assign(img.begin() + (long)pos, img.begin() + (long)i);
        pos = i + 2;
        return true;
      }
      if (img[i] == '\n' || img[i] == 0) return false;
    }
    return false;
  };
  std::string line;
  while (next_line(line)) {
    if (line.empty()) break;
    r.header.push_back(line);
  }
  if (r.header.size() != 3 || r.header[2].rfind("X-Lines: ", 0) != 0) return r;
  int lines = atoi(r.header[2].c_str() + 9);
  for (int i = 0; i < lines; ++i) {
    if (!next_line(line)) return r;
    r.body.push_back(line);
  }
  r.end = pos;
  r.ok = true;
  return r;
}
