// The per-device report: kept during a queue run and written at the first
// byte of the device when the run ends.
#pragma once
#include <time.h>

#include <ostream>
#include <sstream>
#include <string>

class CBlkDev;

class CDeviceReport {
 public:
  // Any int is a status: values above 2 print as "unknown" and count as worst.
  enum completion_status_t : int { success = 0, completed_with_warnings = 1, failed = 2 };

  explicit CDeviceReport(const CBlkDev* device);
  void hookWipingStarted();
  // Appends a pass line and raises the overall status.
  void logFinishedPass(std::string name, completion_status_t status);
  void logFinishedPass(std::string name, int status) { logFinishedPass(name, (completion_status_t)status); }
  static const char* wipingStatusText(completion_status_t status);
  static int getLinesCount(const std::string& text);
  // Writes the report at byte 0 of the device node and logs the result.
  void writeToDisk();

  completion_status_t OverallStatus() const { return overall_status; }
  time_t StartTime() const { return start_time; }
  std::string PassLog() const { return pass_log.str(); }

 private:
  const CBlkDev* device;
  time_t start_time = 0;
  completion_status_t overall_status = success;
  int next_pass = 1;
  std::ostringstream pass_log;
};

// A numeric code printed in hexadecimal, with an optional name.
class CHexCode {
 public:
  typedef const char* (*name_fn_t)(int);
  explicit CHexCode(int code, name_fn_t fn = nullptr) : code(code), fn(fn) {}
  int code;
  name_fn_t fn;
};

std::ostream& operator<<(std::ostream& os, const CHexCode& c);
