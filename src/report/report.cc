#include "report/report.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>

#include "app/globals.h"
#include "app/log.h"
#include "app/paths.h"
#include "app/unique_fd.h"
#include "app/util.h"
#include "device/blkdev.h"
#include "device/devfile.h"
#include "scheme/scheme.h"

CDeviceReport::CDeviceReport(const CBlkDev* device) : device(device) {}

void CDeviceReport::hookWipingStarted() {
  start_time = time(nullptr);
  // What the drive hid when its queue started: a removal makes them go.
  hpa_found = device->markers.find(" HPA") != std::string::npos;
  dco_found = device->markers.find(" DCO") != std::string::npos;
  CScheme* s = g_scheme.GetDefaultScheme();
  scheme = s ? s->name : "";
}

void CDeviceReport::logFinishedPass(std::string name, completion_status_t status, cert_step_t step) {
  LOG_DEBUG(g_dbg_log, device->name << ": pass '" << name << "' is finished, status is " << (int)status);
  int n = next_pass++;
  pass_log << "pass " << n << ": " << name << " is " << wipingStatusText(status) << "\r\n";
  if (status > overall_status) overall_status = status;
  step.name = name;
  step.status = status;
  steps.push_back(step);
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
  time_t now_time = time(nullptr);
  std::string bytes;
  bool written = writeReport(now_time, bytes);
  if (g_log_medium) writeCertificate(now_time, written ? &bytes : nullptr);
}

bool CDeviceReport::writeReport(time_t now_time, std::string& report) {
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
    return false;
  }
  // A missing node is made from those numbers, never as a plain file: a file
  // in its place would take the report (and the "finished" line) for a disk
  // that got none. A block device is not truncated, and an image file
  // standing in for one must keep its size, so the node is written in place.
  unique_fd fd(open_device_node(now.major, now.minor, name.c_str(), O_WRONLY));
  if (!fd.valid()) {
    refuse("the device node cannot be opened");
    return false;
  }
  // A node left from an earlier drive of that name may lead elsewhere.
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || (S_ISBLK(st.st_mode) && st.st_rdev != makedev(now.major, now.minor))) {
    refuse("the device node leads to another drive");
    return false;
  }
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
  body << "Wiping log:"
       << "\r\n";
  body << pass_log.str();
  std::string text = body.str();

  std::ostringstream out;
  out << "Date: " << CDateStr((long)now_time, 'R').c_str() << "\r\n";
  out << "X-Completion-Status: " << status << "\r\n";
  out << "X-Lines: " << getLinesCount(text) << "\r\n";
  out << "\r\n";
  out << text;
  report = out.str();
  report.append(32, '\0');
  size_t done = 0;
  while (done < report.size()) {
    long n = platform().DeviceWrite(fd.get(), report.data() + done, report.size() - done, (long)done);
    if (n <= 0) break;
    done += (size_t)n;
  }
  LOG_DEBUG(g_dbg_log, "Bool value from reporter stream after writing the report: " << (done == report.size()));
  sys_sync();
  return done == report.size();
}

namespace {

// 0, or the error number of the failed step.
int write_file(const std::string& path, const std::string& bytes) {
  unique_fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
  if (!fd.valid()) return errno;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += (size_t)n;
  }
  int err = done == bytes.size() ? 0 : (errno ? errno : EIO);
  // The medium may be pulled out right after the session.
  if (!err && fsync(fd.get()) != 0) err = errno;
  if (::close(fd.release()) != 0 && !err) err = errno;
  return err;
}

}  // namespace

void CDeviceReport::writeCertificate(time_t end, const std::string* report) {
  cert_record_t r;
  r.product = get_product_name();
  std::ifstream info(sys_path("/tmp/sys_info"));
  for (std::string line; std::getline(info, line);)
    if (!line.empty()) r.machine.push_back(line);
  r.name = device->name;
  r.type = device->type_name;
  r.vendor = device->vendor;
  r.model = device->model;
  cert_split_firmware(device->serial, device->details, r.serial, r.firmware);
  r.size_bytes = device->size_bytes;
  r.size_sectors = device->size_sectors;
  r.sector_size = device->sector_size;
  r.hpa_found = hpa_found;
  r.hpa_removed = hpa_removed;
  r.dco_found = dco_found;
  r.dco_removed = dco_removed;
  r.scheme = scheme;
  r.steps = steps;
  r.final_status = overall_status;
  r.debug_only = g_debug_fast;
  r.start = start_time;
  r.end = end;
  r.report_written = report != nullptr;
  if (report) {
    r.report_bytes = report->size();
    r.report_sha256 = sha256_hex(*report);
  }

  const std::string dir = "/log/certificates", prefix = "Disk-" + device->name + ": ";
  if (mkdir(sys_path(dir).c_str(), 0755) != 0 && errno != EEXIST) {
    int err = errno;
    LOG_ERROR(g_wipe_log, prefix << "certificate could not be written: '" << dir << "': " << strerror(err));
    return;
  }
  std::string stem = dir + "/" + cert_file_stem(r);
  for (const char* ext : {".json", ".pdf"}) {
    std::string path = stem + ext;
    std::string bytes = ext[1] == 'j' ? cert_json(r) : cert_pdf(r);
    int err = bytes.empty() ? EIO : write_file(sys_path(path), bytes);
    if (err)
      LOG_ERROR(g_wipe_log, prefix << "certificate could not be written: '" << path << "': " << strerror(err));
    else
      LOG_INFO(g_wipe_log, prefix << "certificate written: '" << path << "'");
  }
}

std::ostream& operator<<(std::ostream& os, const CHexCode& c) {
  os << std::hex << c.code << "h";
  if (c.fn) {
    const char* text = c.fn(c.code);
    if (text) os << " (" << text << ")";
  }
  return os;
}
