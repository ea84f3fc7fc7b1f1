#include "report/report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "app/log.h"
#include "app/paths.h"
#include "app/util.h"
#include "device/blkdev.h"

CDeviceReport::CDeviceReport(const CBlkDev* device) : device(device) {}

void CDeviceReport::hookWipingStarted() { start_time = time(nullptr); }

void CDeviceReport::logFinishedPass(std::string name, completion_status_t status) {
  LOG_DEBUG(g_dbg_log, device->name << ": pass '" << name << "' is finished, status is " << (int)status);
  int n = next_pass++;
  pass_log << "pass " << n << ": " << name << " is " << wipingStatusText(status) << "\r\n";
  if (status > overall_status) overall_status = status;
}

const char* CDeviceReport::wipingStatusText(completion_status_t status) {
  switch (status) {
    case success: return "success";
    case completed_with_warnings: return "completed-with-warnings";
    case failed: return "failed";
    default: return "unknown";
  }
}

int CDeviceReport::getLinesCount(const std::string& text) {
  int n = 0;
  for (char c : text)
    if (c == '\n') ++n;
  return n;
}

void CDeviceReport::writeToDisk() {
  const std::string& name = device->name;
  LOG_DEBUG(g_dbg_log, name << ": writting on-disk report");
  auto refuse = [&](const char* why) {
    LOG_DEBUG(g_dbg_log, "Unable to write report on disk " << name);
    LOG_WARN(g_wipe_log, "Disk-" << name << ": The report could not be written: " << why);
  };
  // Only onto the drive it describes: the name must still lead to the device
  // numbers, size and model the drive was found with. A drive that went
  // away, or whose name now belongs to another disk, gets no report.
  sysfs_identity_t now = read_sysfs_identity(name);
  if (!now.found || !(now == device->found_as)) {
    refuse("the drive is gone or another drive has its place");
    return;
  }
  // A missing node is made from those numbers, never as a plain file: a file
  // in its place would take the report (and the "finished" line) for a disk
  // that got none. A block device is not truncated, and an image file
  // standing in for one must keep its size, so the node is written in place.
  std::string path = sys_path("/dev/" + name);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) mknod(path.c_str(), S_IFBLK | 0777, makedev(now.major, now.minor));
  int fd = g_open(path.c_str(), O_WRONLY);
  if (fd < 0) {
    refuse("the device node cannot be opened");
    return;
  }
  // A node left from an earlier drive of that name may lead elsewhere.
  if (fstat(fd, &st) != 0 || (S_ISBLK(st.st_mode) && st.st_rdev != makedev(now.major, now.minor))) {
    close(fd);
    refuse("the device node leads to another drive");
    return;
  }
  time_t now_time = time(nullptr);
  const char* status = wipingStatusText(overall_status);
  LOG_INFO(g_wipe_log, "Disk-" << name << ": Wiping finished with status: " << status);
  LOG_DEBUG(g_dbg_log, "Disk-" << name << ": start " << (long long)start_time << ", end " << (long long)now_time);
  int seconds = (int)difftime(now_time, start_time);
  LOG_DEBUG(g_dbg_log, "Disk-" << name << ": Wiping time is " << seconds << " seconds");

  std::ostringstream body;
  body << "Disk wiping status: " << status << "\r\n";
  body << "Disk size: " << CSizeStr(device->size_bytes, 'A').c_str() << "\r\n";
  body << "Time spent: " << CTimeStr(seconds).c_str() << "\r\n";
  body << "\r\n";
  body << "Wiping log:" << "\r\n";
  body << pass_log.str();
  std::string text = body.str();

  std::ostringstream out;
  out << "Date: " << CDateStr((long)now_time, 'R').c_str() << "\r\n";
  out << "X-Completion-Status: " << status << "\r\n";
  out << "X-Lines: " << getLinesCount(text) << "\r\n";
  out << "\r\n";
  out << text;
  std::string report = out.str();
  report.append(32, '\0');
  size_t done = 0;
  while (done < report.size()) {
    ssize_t n = pwrite(fd, report.data() + done, report.size() - done, (off_t)done);
    if (n <= 0) break;
    done += (size_t)n;
  }
  LOG_DEBUG(g_dbg_log, "Bool value from reporter stream after writing the report: " << (done == report.size()));
  sys_sync();
  close(fd);
}

std::ostream& operator<<(std::ostream& os, const CHexCode& c) {
  os << std::hex << c.code << "h";
  if (c.fn) {
    const char* text = c.fn(c.code);
    if (text) os << " (" << text << ")";
  }
  return os;
}
