#include "device/scsi.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "app/log.h"
#include "app/paths.h"
#include "app/util.h"

// ---- SG_IO ----

bool sg_io_result_t::transport_failed() const {
  int driver = driver_status & 0x0F;
  return host_status != 0 || (driver != 0 && driver != 0x08);
}

sg_io_result_t sg_io(int fd, const sg_io_request_t& req) {
  sg_io_hdr_t io;
  memset(&io, 0, sizeof io);
  if (req.sense) memset(req.sense, 0, req.sense_len);
  io.interface_id = 'S';
  io.dxfer_direction = req.direction;
  io.cmd_len = req.cdb_len;
  io.mx_sb_len = req.sense_len;
  io.dxfer_len = req.data_len;
  io.dxferp = req.data;
  io.cmdp = const_cast<unsigned char*>(req.cdb);
  io.sbp = req.sense;
  io.timeout = req.timeout_ms;
  sg_io_result_t r{};
  r.rc = sys_ioctl(fd, SG_IO, &io);
  if (r.rc != 0) {
    r.error = errno;
    return r;
  }
  r.status = io.status;
  r.host_status = io.host_status;
  r.driver_status = io.driver_status;
  r.check = (io.info & SG_INFO_CHECK) != 0;
  return r;
}

// ---- texts ----

const char* scsi_status2txt(int status) {
  switch (status) {
    case 0x00: return "GOOD";
    case 0x02: return "CHECK CONDITION";
    case 0x04: return "CONDITION MET";
    case 0x08: return "BUSY";
    case 0x10:
    case 0x14:
    case 0x22: return "Obsolete";
    case 0x18: return "RESERVATION CONFLICT";
    case 0x28: return "TASK SET FULL";
    case 0x30: return "ACA ACTIVE";
    case 0x40: return "TASK ABORTED";
    default: return "Reserved";
  }
}

const char* scsi_sensekey2txt(int key) {
  static const char* const keys[16] = {"NO SENSE",       "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
                                       "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
                                       "BLANK CHECK",    "VENDOR SPECIFIC", "COPY ABORTED",   "ABORTED COMMAND",
                                       "Reserved",       "VOLUME OVERFLOW", "MISCOMPARE",     "COMPLETED"};
  if (key < 0 || key > 15) return "Undefined";
  return keys[key];
}

const char* scsi_sensecode2txt(int code) {
  switch (code) {
    case 0x70: return "current information, fixed sense data format";
    case 0x71: return "deferred errors, fixed sense data format";
    case 0x72: return "current information, descriptor format sense data";
    case 0x73: return "deferred errors, descriptor format sense data";
    case 0x7F: return "Vendor specific";
    default: return "Reserved";
  }
}

const char* scsi_version_descriptor_text(int code) {
  const scsi_version_descriptor_t* begin = g_scsi_version_descriptors;
  const scsi_version_descriptor_t* end = begin + g_scsi_version_descriptor_count;
  const scsi_version_descriptor_t* it =
      std::lower_bound(begin, end, code, [](const scsi_version_descriptor_t& e, int c) { return (int)e.code < c; });
  if (it == end || (int)it->code != code) return nullptr;
  return it->text;
}

// ---- INQUIRY data ----

int scsi_build_inquiry_cdb(unsigned char* cdb, int page) {
  int alloc;
  switch (page) {
    case SCSI_INQUIRY_STANDARD: alloc = SCSI_INQUIRY_STANDARD_LEN; break;
    case VPD_SUPPORTED_PAGES:
    case VPD_UNIT_SERIAL:
    case VPD_DEVICE_IDENTIFICATION:
    case VPD_EXTENDED_INQUIRY:
    case VPD_BLOCK_LIMITS:
    case VPD_LOGICAL_BLOCK_PROVISIONING: alloc = SCSI_INQUIRY_VPD_LEN; break;
    default: return -1;
  }
  cdb[0] = 0x12;
  cdb[1] = page == SCSI_INQUIRY_STANDARD ? 0 : 1;  // EVPD
  cdb[2] = page == SCSI_INQUIRY_STANDARD ? 0 : (unsigned char)page;
  cdb[3] = 0;
  cdb[4] = (unsigned char)alloc;
  cdb[5] = 0;
  return alloc;
}

static std::string trimmed_text(const unsigned char* p, size_t n) {
  std::string s(reinterpret_cast<const char*>(p), n);
  s.erase(std::find(s.begin(), s.end(), '\0'), s.end());
  return trim(s);
}

std::string scsi_inquiry_vendor(const unsigned char* data) { return trimmed_text(data + 8, 8); }

std::string scsi_inquiry_product(const unsigned char* data) { return trimmed_text(data + 16, 16); }

int scsi_inquiry_version_descriptor(const unsigned char* data, int index) {
  if (index < 0 || index > 7) return 0;
  const unsigned char* p = data + 58 + 2 * index;
  return p[0] << 8 | p[1];
}

void scsi_append_version_texts(const unsigned char* data, std::string& text) {
  for (int i = 0; i < 8; ++i) {
    const char* t = scsi_version_descriptor_text(scsi_inquiry_version_descriptor(data, i));
    if (!t) break;
    if (!text.empty()) text += "/";
    text += t;
  }
}

// A VPD page's length byte (byte 3), bounded by what the 256-byte answer
// buffer can hold after the 4-byte page header.
static int vpd_length(const unsigned char* data) { return std::min<int>(data[3], SCSI_INQUIRY_BUFFER - 4); }

std::vector<int> scsi_vpd_supported_pages(const unsigned char* data) {
  std::vector<int> pages;
  int n = vpd_length(data);
  for (int i = 0; i < n; ++i) pages.push_back(data[4 + i]);
  return pages;
}

std::string scsi_vpd_unit_serial(const unsigned char* data) { return trimmed_text(data + 4, (size_t)vpd_length(data)); }

uint64_t scsi_vpd_max_write_same(const unsigned char* data) {
  uint64_t v = 0;
  for (int i = 36; i <= 43; ++i) v = v << 8 | data[i];
  return v;
}

uint32_t scsi_vpd_max_unmap_lba(const unsigned char* data) {
  return (uint32_t)data[20] << 24 | (uint32_t)data[21] << 16 | (uint32_t)data[22] << 8 | data[23];
}

std::string scsi_vpd_provisioning_text(unsigned char flags) {
  std::string s;
  if (flags & 0x80) s += "LBPU (UNMAP command) ";
  if (flags & 0x40) s += "LBPWS (WRITE SAME(16) with UNMAP flag) ";
  if (flags & 0x20) s += "LBPWS10 (WRITE SAME(10) with UNMAP flag) ";
  if (flags & 0x04) s += "LBPRZ (read zeros from unmaped blocks) ";
  if (flags & 0x02) s += "ANC_SUP(ANCHOR)";
  return s;
}

// ---- INQUIRY command ----

int CScsiInquiryCmd::Run(int fd, int page) {
  memset(data, 0, sizeof data);
  memset(cdb, 0, sizeof cdb);
  int alloc = scsi_build_inquiry_cdb(cdb, page);
  if (alloc < 0) return -1;
  sg_io_result_t r = sg_io(
      fd, {cdb, sizeof cdb, SG_DXFER_FROM_DEV, data, (unsigned)alloc, sense, sizeof sense, SCSI_INQUIRY_TIMEOUT_MS});
  if (r.rc < 0) {
    LOG_WARN(g_dbg_log, "SG_IO failed: " << strerror(r.error));
    return r.rc;
  }
  if (r.check || r.transport_failed()) return -1;
  if (page != SCSI_INQUIRY_STANDARD && data[1] != page) {
    char hex[8];
    snprintf(hex, sizeof hex, "%02x", page);
    LOG_TRACE(g_dbg_log, "SG_IO failed. Invalid VPD page " << hex << " (number missmach)");
    return -1;
  }
  return 0;
}

// ---- WRITE SAME(16) and sense data ----

void scsi_build_write_same16_unmap(unsigned char* cdb, uint64_t lba, uint32_t blocks) {
  memset(cdb, 0, 16);
  cdb[0] = 0x93;  // WRITE SAME(16)
  cdb[1] = 0x08;  // UNMAP
  for (int i = 0; i < 6; ++i) cdb[4 + i] = (unsigned char)(lba >> (8 * (5 - i)));
  for (int i = 0; i < 4; ++i) cdb[10 + i] = (unsigned char)(blocks >> (8 * (3 - i)));
}

scsi_sense_t scsi_decode_sense(const unsigned char* sense) {
  // Bit 7 of byte 0 is the VALID bit of the information field, not part of
  // the response code.
  scsi_sense_t s{sense[0] & 0x7F, SCSI_SENSE_UNKNOWN, SCSI_SENSE_UNKNOWN, SCSI_SENSE_UNKNOWN};
  switch (s.response_code) {
    case 0x70:
    case 0x71:
      s.key = sense[2] & 0x0F;
      s.asc = sense[12];
      s.ascq = sense[13];
      break;
    case 0x72:
    case 0x73:
      s.key = sense[1] & 0x0F;
      s.asc = sense[2];
      s.ascq = sense[3];
      break;
    default: break;
  }
  return s;
}
