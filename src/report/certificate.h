// The certificate of sanitisation of one drive: a record an asset system
// imports (JSON) and the same facts on one printable page (PDF) with blank
// fields for the operator's name and signature. Built from a plain record,
// without touching any device or file.
#pragma once
#include <stdint.h>
#include <time.h>

#include <string>
#include <vector>

enum cert_step_kind_e { STEP_OVERWRITE, STEP_VERIFY, STEP_TRIM, STEP_HW_ERASE };

// One finished step of the wipe, in the order of the report's pass lines.
struct cert_step_t {
  cert_step_kind_e kind = STEP_OVERWRITE;
  std::string name;         // as in the report ("wiping pass [zero]")
  int status = 0;           // a report completion status
  long long seconds = -1;   // duration; -1 when not measured
  int scheme_pass = 0;      // overwrite and verify: the scheme's pass number
  long long mismatch = -1;  // verify: offset of the first differing byte
};

struct cert_record_t {
  std::string product;               // "Zorvane 2.69": name and version
  std::vector<std::string> machine;  // the machine description, line by line
  std::string name, type, vendor, model, serial, firmware;
  uint64_t size_bytes = 0, size_sectors = 0;
  uint32_t sector_size = 512;
  bool hpa_found = false, hpa_removed = false, dco_found = false, dco_removed = false;
  std::string scheme;
  std::vector<cert_step_t> steps;
  int final_status = 0;  // the report's overall status
  time_t start = 0, end = 0;
  bool report_written = false;
  uint64_t report_bytes = 0;
  std::string report_sha256;  // of the bytes written at byte 0
  bool debug_only = false;    // the fast-debug mode touched only part of the drive
};

// "Purge" after a successful drive erase or sanitize, "Clear" when every
// overwrite pass and verification succeeded, "None" otherwise (and always
// in the fast-debug mode, which wipes nothing).
const char* cert_nist_category(const cert_record_t& r);
std::string cert_json(const cert_record_t& r);
// The PDF file's bytes; empty when the PDF library fails.
std::string cert_pdf(const cert_record_t& r);
// "<serial or name>-<YYYYMMDD-HHMMSS>" of the end time (UTC), safe as a file name.
std::string cert_file_stem(const cert_record_t& r);
// "2026-12-07T05:36:48Z".
std::string cert_utc_time(time_t t);
std::string sha256_hex(const std::string& bytes);
// Splits an identity's serial text into the serial and the firmware revision
// (ATA drives carry it as "<serial> firmware: <rev>", NVMe drives as a
// "Firmware: <rev>" detail line); "n/a" is no serial.
void cert_split_firmware(const std::string& serial_text, const std::vector<std::string>& details, std::string& serial,
                         std::string& firmware);
