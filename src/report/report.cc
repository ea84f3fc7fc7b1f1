#include "report/report.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>

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
  LOG_DEBUG(g_dbg_log, device->name << ": writting on-disk report");
  std::string path = sys_path("/dev/" + device->name);
  // A missing node is made from the device numbers, as for every other
  // access to the drive, never as a plain file: a drive pulled out before
  // its report is written has no node left, and a file in its place would
  // take the report (and the "finished" line) for a disk that got none. A
  // block device is not truncated, and an image file standing in for one
  // must keep its size, so the node is written in place.
  struct stat st;
  if (stat(path.c_str(), &st) != 0) mknod(path.c_str(), S_IFBLK | 0777, makedev(device->major, device->minor));
  std::ofstream out;
  out.open(path.c_str(), std::ios::binary | std::ios::in | std::ios::out);
  if (!out.is_open()) {
    LOG_DEBUG(g_dbg_log, "Unable to write report on disk " << device->name);
    return;
  }
  time_t now = time(nullptr);
  out << "Date: " << CDateStr((long)now, 'R').c_str() << "\r\n";
  const char* status = wipingStatusText(overall_status);
  LOG_INFO(g_wipe_log, "Disk-" << device->name << ": Wiping finished with status: " << status);
  out << "X-Completion-Status: " << status << "\r\n";
  LOG_DEBUG(g_dbg_log, "Disk-" << device->name << ": start " << (long long)start_time << ", end " << (long long)now);
  int seconds = (int)difftime(now, start_time);
  LOG_DEBUG(g_dbg_log, "Disk-" << device->name << ": Wiping time is " << seconds << " seconds");

  std::ostringstream body;
  body << "Disk wiping status: " << status << "\r\n";
  body << "Disk size: " << CSizeStr(device->size_bytes, 'A').c_str() << "\r\n";
  body << "Time spent: " << CTimeStr(seconds).c_str() << "\r\n";
  body << "\r\n";
  body << "Wiping log:" << "\r\n";
  body << pass_log.str();
  std::string text = body.str();

  out << "X-Lines: " << getLinesCount(text) << "\r\n";
  out << "\r\n";
  out << text;
  static const char zeros[32] = {0};
  out.write(zeros, sizeof zeros);
  out.flush();
  LOG_DEBUG(g_dbg_log, "Bool value from reporter stream after writing the report: " << (bool)out);
  sys_sync();
  out.close();
}

std::ostream& operator<<(std::ostream& os, const CHexCode& c) {
  os << std::hex << c.code << "h";
  if (c.fn) {
    const char* text = c.fn(c.code);
    if (text) os << " (" << text << ")";
  }
  return os;
}
