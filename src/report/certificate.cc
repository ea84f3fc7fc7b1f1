#include "report/certificate.h"

#include <ctype.h>
#include <hpdf.h>
#include <openssl/evp.h>
#include <stdio.h>

#include <sstream>

#include "report/report.h"

namespace {

const char* status_text(int status) {
  return CDeviceReport::wipingStatusText((CDeviceReport::completion_status_t)status);
}

const char* kind_text(cert_step_kind_e k) {
  switch (k) {
    case STEP_OVERWRITE: return "overwrite";
    case STEP_VERIFY: return "verify";
    case STEP_TRIM: return "trim";
    case STEP_HW_ERASE: return "hardware-erase";
  }
  return "unknown";
}

// Every byte outside printable ASCII is escaped, so that the record is valid
// JSON whatever bytes a drive put into its identity.
std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
    } else if (c < 0x20 || c >= 0x7f) {
      char u[8];
      snprintf(u, sizeof u, "\\u%04x", c);
      out += u;
    } else {
      out += (char)c;
    }
  }
  return out + "\"";
}

std::string text_or_null(const std::string& s) { return s.empty() ? "null" : quoted(s); }

const char* boolean(bool b) { return b ? "true" : "false"; }

// The last step of a kind, or null.
const cert_step_t* last_of(const cert_record_t& r, cert_step_kind_e kind) {
  const cert_step_t* found = nullptr;
  for (const cert_step_t& s : r.steps)
    if (s.kind == kind) found = &s;
  return found;
}

struct verification_t {
  std::vector<int> passes;
  const char* result = "not-run";
  long long mismatch = -1;
};

verification_t verification(const cert_record_t& r) {
  verification_t v;
  bool failed = false;
  for (const cert_step_t& s : r.steps) {
    if (s.kind != STEP_VERIFY) continue;
    v.passes.push_back(s.scheme_pass);
    if (s.status == CDeviceReport::success) continue;
    failed = true;
    if (v.mismatch < 0) v.mismatch = s.mismatch;
  }
  if (!v.passes.empty()) v.result = failed ? "failed" : "success";
  return v;
}

std::string seconds_or_null(long long s) { return s < 0 ? "null" : std::to_string(s); }

// A line of the page: Helvetica knows no more than Latin-1, and a long text
// is cut before the margin.
std::string page_text(const std::string& s, size_t max = 70) {
  std::string out;
  for (unsigned char c : s) out += (c < 0x20 || c >= 0x7f) ? '?' : (char)c;
  if (out.size() > max) out = out.substr(0, max - 3) + "...";
  return out;
}

void error_handler(HPDF_STATUS, HPDF_STATUS, void* failed) { *(bool*)failed = true; }

}  // namespace

const char* cert_nist_category(const cert_record_t& r) {
  if (r.debug_only) return "None";
  const cert_step_t* erase = last_of(r, STEP_HW_ERASE);
  if (erase && erase->status == CDeviceReport::success) return "Purge";
  bool overwritten = false;
  for (const cert_step_t& s : r.steps) {
    if ((s.kind == STEP_OVERWRITE || s.kind == STEP_VERIFY) && s.status != CDeviceReport::success) return "None";
    if (s.kind == STEP_OVERWRITE) overwritten = true;
  }
  return overwritten ? "Clear" : "None";
}

std::string cert_utc_time(time_t t) {
  struct tm tm;
  gmtime_r(&t, &tm);
  char buf[32];
  strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

std::string cert_file_stem(const cert_record_t& r) {
  std::string who = r.serial.empty() ? r.name : r.serial, stem;
  for (unsigned char c : who) stem += (isalnum(c) || c == '.' || c == '-' || c == '_') ? (char)c : '_';
  struct tm tm;
  gmtime_r(&r.end, &tm);
  char when[20];
  strftime(when, sizeof when, "-%Y%m%d-%H%M%S", &tm);
  return stem + when;
}

std::string sha256_hex(const std::string& bytes) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (!EVP_Digest(bytes.data(), bytes.size(), md, &n, EVP_sha256(), nullptr)) return "";
  std::string hex;
  char b[3];
  for (unsigned int i = 0; i < n; ++i) {
    snprintf(b, sizeof b, "%02x", md[i]);
    hex += b;
  }
  return hex;
}

void cert_split_firmware(const std::string& serial_text, const std::vector<std::string>& details, std::string& serial,
                         std::string& firmware) {
  static const std::string kAta = " firmware: ", kDetail = "Firmware: ";
  size_t at = serial_text.find(kAta);
  serial = serial_text.substr(0, at);
  if (serial == "n/a") serial.clear();  // what USB drives without one show
  firmware = at == std::string::npos ? "" : serial_text.substr(at + kAta.size());
  for (const std::string& d : details)
    if (firmware.empty() && d.compare(0, kDetail.size(), kDetail) == 0) firmware = d.substr(kDetail.size());
}

std::string cert_json(const cert_record_t& r) {
  std::ostringstream o;
  std::string product = r.product, version;
  size_t blank = product.rfind(' ');
  if (blank != std::string::npos) {
    version = product.substr(blank + 1);
    product.erase(blank);
  }
  o << "{\n  \"program\": {\"name\": " << quoted(product) << ", \"version\": " << quoted(version) << "},\n";
  o << "  \"machine\": [";
  for (size_t i = 0; i < r.machine.size(); ++i) o << (i ? ", " : "") << quoted(r.machine[i]);
  o << "],\n  \"drive\": {\"name\": " << quoted(r.name) << ", \"class\": " << quoted(r.type)
    << ", \"vendor\": " << text_or_null(r.vendor) << ", \"model\": " << text_or_null(r.model)
    << ", \"serial\": " << text_or_null(r.serial) << ", \"firmware\": " << text_or_null(r.firmware)
    << ",\n    \"capacity_bytes\": " << r.size_bytes << ", \"capacity_sectors\": " << r.size_sectors
    << ", \"sector_size\": " << r.sector_size << ",\n    \"hpa\": {\"found\": " << boolean(r.hpa_found)
    << ", \"removed\": " << boolean(r.hpa_removed) << "}, \"dco\": {\"found\": " << boolean(r.dco_found)
    << ", \"removed\": " << boolean(r.dco_removed) << "}},\n";
  o << "  \"scheme\": " << quoted(r.scheme) << ",\n  \"passes\": [";
  for (size_t i = 0; i < r.steps.size(); ++i) {
    const cert_step_t& s = r.steps[i];
    o << (i ? ",\n" : "\n") << "    {\"kind\": \"" << kind_text(s.kind) << "\", \"name\": " << quoted(s.name)
      << ", \"scheme_pass\": " << (s.scheme_pass ? std::to_string(s.scheme_pass) : "null") << ", \"result\": \""
      << status_text(s.status) << "\", \"duration_seconds\": " << seconds_or_null(s.seconds) << "}";
  }
  verification_t v = verification(r);
  o << "],\n  \"verification\": {\"passes\": [";
  for (size_t i = 0; i < v.passes.size(); ++i) o << (i ? ", " : "") << v.passes[i];
  o << "], \"result\": \"" << v.result
    << "\", \"first_mismatch_offset\": " << (v.mismatch < 0 ? "null" : std::to_string(v.mismatch)) << "},\n";
  for (auto kind : {STEP_HW_ERASE, STEP_TRIM}) {
    const cert_step_t* s = last_of(r, kind);
    o << (kind == STEP_TRIM ? "  \"trim\": " : "  \"hardware_erase\": ") << "{\"used\": " << boolean(s)
      << ", \"name\": " << (s ? quoted(s->name) : "null")
      << ", \"result\": " << (s ? std::string("\"") + status_text(s->status) + "\"" : "null") << "},\n";
  }
  o << "  \"final_status\": \"" << status_text(r.final_status) << "\",\n";
  o << "  \"start_time\": \"" << cert_utc_time(r.start) << "\", \"end_time\": \"" << cert_utc_time(r.end) << "\",\n";
  o << "  \"nist_category\": \"" << cert_nist_category(r) << "\",\n";
  o << "  \"report\": {\"written\": " << boolean(r.report_written)
    << ", \"bytes\": " << (r.report_written ? std::to_string(r.report_bytes) : "null")
    << ", \"sha256\": " << (r.report_written ? quoted(r.report_sha256) : "null") << "}\n}\n";
  return o.str();
}

std::string cert_pdf(const cert_record_t& r) {
  bool failed = false;
  HPDF_Doc pdf = HPDF_New(error_handler, &failed);
  if (!pdf) return "";
  HPDF_Page page = HPDF_AddPage(pdf);
  HPDF_Page_SetSize(page, HPDF_PAGE_SIZE_A4, HPDF_PAGE_PORTRAIT);
  HPDF_Font font = HPDF_GetFont(pdf, "Helvetica", nullptr);
  HPDF_Font bold = HPDF_GetFont(pdf, "Helvetica-Bold", nullptr);
  const float left = 56, value_x = 220, right = 540;
  float y = 790;
  auto text = [&](HPDF_Font f, float size, float x, const std::string& s) {
    HPDF_Page_BeginText(page);
    HPDF_Page_SetFontAndSize(page, f, size);
    HPDF_Page_TextOut(page, x, y, page_text(s).c_str());
    HPDF_Page_EndText(page);
  };
  auto heading = [&](const std::string& s) {
    y -= 14;
    text(bold, 11, left, s);
    y -= 15;
  };
  auto field = [&](const std::string& label, const std::string& value) {
    text(font, 9, left, label);
    text(font, 9, value_x, value);
    y -= 13;
  };
  auto blank = [&](const std::string& label) {
    text(font, 9, left, label);
    HPDF_Page_MoveTo(page, value_x, y - 2);
    HPDF_Page_LineTo(page, right, y - 2);
    HPDF_Page_Stroke(page);
    y -= 22;
  };

  text(bold, 16, left, "Certificate of Sanitization");
  y -= 20;
  text(font, 9, left, "Produced by " + r.product + " when the wipe of this drive ended.");
  y -= 6;
  heading("Media information");
  field("Make / vendor", r.vendor.empty() ? "n/a" : r.vendor);
  field("Model", r.model.empty() ? "n/a" : r.model);
  field("Serial number", r.serial.empty() ? "n/a" : r.serial);
  field("Firmware", r.firmware.empty() ? "n/a" : r.firmware);
  field("Media type", r.type);
  field("Capacity", std::to_string(r.size_bytes) + " bytes, " + std::to_string(r.size_sectors) + " sectors");
  field("Hidden areas (HPA / DCO)", std::string(r.hpa_found ? (r.hpa_removed ? "HPA removed" : "HPA kept") : "no HPA") +
                                        ", " + (r.dco_found ? (r.dco_removed ? "DCO removed" : "DCO kept") : "no DCO"));
  field("Source (machine)", r.machine.empty() ? "n/a" : r.machine[0]);

  heading("Sanitization details");
  field("Method type", cert_nist_category(r));
  field("Method used", r.scheme);
  // The page has room for 16 steps; the record lists them all.
  const size_t room = 16;
  for (size_t i = 0; i < r.steps.size() && i < room; ++i) {
    const cert_step_t& s = r.steps[i];
    if (i + 1 == room && r.steps.size() > room) {
      field("", std::to_string(r.steps.size() - i) + " more steps in the JSON record");
      break;
    }
    field("  " + s.name, std::string(status_text(s.status)) +
                             (s.seconds >= 0 ? ", " + std::to_string(s.seconds) + " s" : std::string()));
  }
  verification_t v = verification(r);
  field("Verification",
        std::string(v.result) +
            (v.mismatch >= 0 ? ", first mismatch at byte " + std::to_string(v.mismatch) : std::string()));
  field("Final status", status_text(r.final_status));
  field("Started / ended (UTC)", cert_utc_time(r.start) + " / " + cert_utc_time(r.end));
  field("Tool used", r.product);
  field("Report at byte 0, SHA-256", r.report_written ? r.report_sha256.substr(0, 32) : "not written");
  if (r.report_written) field("", r.report_sha256.substr(32));

  heading("Performed by");
  blank("Name");
  blank("Title / organisation");
  blank("Location");
  blank("Post-sanitization destination");
  blank("Signature");
  blank("Date");

  std::string out;
  if (!failed && HPDF_SaveToStream(pdf) == HPDF_OK) {
    HPDF_UINT32 size = HPDF_GetStreamSize(pdf);
    out.resize(size);
    if (HPDF_ReadFromStream(pdf, (HPDF_BYTE*)&out[0], &size) != HPDF_OK && size == 0) out.clear();
    out.resize(size);
  }
  HPDF_Free(pdf);
  return failed ? "" : out;
}
