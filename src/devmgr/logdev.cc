// Choice of the log medium: a USB stick or floppy mounted at /log before
// logging starts, so that the session log survives the wipe and the reboot.
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "app/globals.h"
#include "app/log.h"
#include "app/paths.h"
#include "device/devfile.h"
#include "devmgr/devmgr.h"

namespace {

bool contains_nocase(const std::string& haystack, const char* needle) {
  std::string h = haystack;
  std::transform(h.begin(), h.end(), h.begin(), [](unsigned char c) { return (char)std::tolower(c); });
  return h.find(needle) != std::string::npos;
}

// The canonical form of a path under the root prefix, without the prefix, so
// that only the part the kernel would show is looked at.
bool canonical_sys_path(const std::string& path, std::string& out) {
  char buf[PATH_MAX];
  if (!realpath(sys_path(path).c_str(), buf)) return false;
  out = buf;
  const std::string& prefix = platform().RootPrefix();
  if (!prefix.empty()) {
    char root[PATH_MAX];
    if (realpath(prefix.c_str(), root)) {
      size_t n = strlen(root);
      if (out.compare(0, n, root) == 0) out.erase(0, n);
    }
  }
  return true;
}

}  // namespace

int CBlkDevMgr::AutoSetLogDevice() {
  for (;;) {
    platform().ConsoleClear();
    if (ScanLogDevices("/log") > 0) {
      int best = GetBestLogDeviceIndex();
      if (best >= 0) {
        log_medium_mounted = SetLogDevice(log_devices[(size_t)best]) == 0;
        return 0;
      }
    }
    platform().ConsoleText(1, 0, "Could not find an appropriate removable device for log file", true);
    if (g_nodelay) return 0;
    platform().ConsoleText(2, 0, "Press 'D' to disable log, any other key to rescan", true);
    int c = platform().ConsoleChar();
    // No more input (a closed console) cannot ask for another scan.
    if (c == 'D' || c == 'd' || c == EOF) return 0;
  }
}

int CBlkDevMgr::ScanLogDevices(const char* mount_point) {
  FILE* f = fopen(sys_path("/proc/partitions").c_str(), "r");
  if (!f) return 0;
  log_devices.clear();
  int column = 0;
  auto mark = [&](const char* m) { platform().ConsoleText(0, column++, m, false); };
  char line[4097];
  while (fgets(line, sizeof line, f)) {
    CLogDev rec;
    int major = 0, minor = 0;
    long long blocks = 0;
    char name[4097];
    if (sscanf(line, "%d %d %lld %4096s", &major, &minor, &blocks, name) != 4 || blocks <= 1) continue;
    // The name goes into mount command lines: take only names of the kind
    // the kernel gives its block devices.
    if (strspn(name, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._:+-") != strlen(name)) continue;
    rec.name = name;
    rec.major = major;
    rec.minor = minor;
    rec.blocks = blocks;
    rec.score = 0;
    if (CheckLogDevicePartition(rec) != 0) {
      mark("x");
      continue;
    }
    if (make_missing_node(major, minor, rec.name) != 0) continue;
    char cmd[8300];
    snprintf(cmd, sizeof cmd, "/bin/mount /dev/%s %s 2>/dev/null", rec.name.c_str(), mount_point);
    if (run_shell(cmd) != 0) {
      mark("-");
      continue;
    }
    mark("+");
    snprintf(cmd, sizeof cmd, "/bin/umount /dev/%s 2>/dev/null", rec.name.c_str());
    struct statvfs fs;
    if (platform().Statvfs(mount_point, &fs) == 0 && !(fs.f_flag & ST_RDONLY) && fs.f_bfree != 0) {
      rec.score = 1;
      char pattern[4200];
      snprintf(pattern, sizeof pattern, "%s/zorvane*", mount_point);
      rec.score += platform().GlobCount(pattern);
      run_shell(cmd);
      log_devices.push_back(rec);
    } else {
      int rc = run_shell(cmd);
      if (rc != 0) LOG_WARN(g_wipe_log, "Device " << rec.name << " umount with exit code " << rc);
    }
  }
  fclose(f);
  return (int)log_devices.size();
}

int CBlkDevMgr::CheckLogDevicePartition(CLogDev& rec) {
  static const std::string kBlock = "/sys/block/";
  std::string path = (kBlock + rec.name).substr(0, 4095);
  if (path.size() < kBlock.size() + 1) return -1;
  // sdb1 -> sdb, mmcblk0p1 -> mmcblk0: the longest prefix that is a disk.
  while (access(sys_path(path).c_str(), R_OK) != 0) {
    path.pop_back();
    if (path.size() <= kBlock.size()) return -1;
  }
  rec.disk = path.substr(kBlock.size());
  if (rec.name.compare(0, 2, "fd") == 0) return 0;
  std::string device = kBlock + rec.disk + "/device", resolved;
  if (!canonical_sys_path(device, resolved)) {
    int err = errno;
    LOG_WARN(g_wipe_log, "Unable to canonicalize path " << sys_path(device) << ": " << strerror(err));
  }
  return contains_nocase(resolved, "usb") ? 0 : 1;
}

int CBlkDevMgr::GetBestLogDeviceIndex() {
  int best = -1, best_score = -1;
  for (size_t i = 0; i < log_devices.size(); ++i) {
    if (log_devices[i].score > best_score) {
      best = (int)i;
      best_score = log_devices[i].score;
    }
  }
  return best;
}

int CBlkDevMgr::SetLogDevice(const CLogDev& rec) {
  char mount[4200];
  snprintf(mount, sizeof mount, "/bin/mount /dev/%s /log 2>/dev/null", rec.name.c_str());
  run_shell("mkdir /log-temp");
  run_shell("/bin/cp /log/*.log /log-temp 2>/dev/null");
  run_shell("/bin/umount /log 2>/dev/null");
  int rc = run_shell(mount);
  run_shell("/bin/cp /log-temp/*.log /log 2>/dev/null");
  run_shell("/bin/rm -rf /log-temp 2>/dev/null");

  CLockWrapper guard(*this);
  log_device_name = rec.disk;
  log_disk_seen = false;
  auto holds = [&](const std::shared_ptr<CBlkDev>& d) {
    return !log_device_name.empty() && d->Name() == log_device_name;
  };
  for (auto& d : devices) {
    d->SetLogDeviceFlag(holds(d));
    if (holds(d)) RememberLogDisk(d->Snapshot());
  }
  for (auto& d : held_back) d->SetLogDeviceFlag(holds(d));
  return rc;
}
