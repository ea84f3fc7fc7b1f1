#include "nvme/nvme_codec.h"

#include <endian.h>
#include <nvme/types.h>
#include <stdio.h>
#include <string.h>

#include "app/util.h"

namespace {

std::string field_text(const char* field, size_t len) {
  std::string s(field, strnlen(field, len));
  return trim(s);
}

template <class T>
T page_as(const unsigned char* data) {
  T t;
  memcpy(&t, data, sizeof t);
  return t;
}

nvme_admin_cmd admin(uint8_t opcode, uint32_t nsid) {
  nvme_admin_cmd c;
  memset(&c, 0, sizeof c);
  c.opcode = opcode;
  c.nsid = nsid;
  return c;
}

}  // namespace

nvme_ctrl_info_t nvme_decode_id_ctrl(const unsigned char* data) {
  const nvme_id_ctrl id = page_as<nvme_id_ctrl>(data);
  nvme_ctrl_info_t c;
  c.model = field_text(id.mn, sizeof id.mn);
  c.serial = field_text(id.sn, sizeof id.sn);
  c.firmware = field_text(id.fr, sizeof id.fr);
  c.oacs = le16toh(id.oacs);
  c.oncs = le16toh(id.oncs);
  c.fna = id.fna;
  c.sanicap = le32toh(id.sanicap);
  return c;
}

nvme_ns_info_t nvme_decode_id_ns(const unsigned char* data) {
  const nvme_id_ns id = page_as<nvme_id_ns>(data);
  nvme_ns_info_t n;
  n.blocks = le64toh(id.nsze);
  // FLBAS bits 3:0 and, beyond 16 formats, bits 6:5 as the upper bits.
  n.format = (uint8_t)((id.flbas & 0x0F) | ((id.flbas & 0x60) >> 1));
  uint8_t ds = n.format < 64 ? id.lbaf[n.format].ds : 0;
  if (ds >= 9 && ds <= 24) n.lba_bytes = 1u << ds;
  return n;
}

nvme_health_t nvme_decode_smart_log(const unsigned char* data) {
  const nvme_smart_log s = page_as<nvme_smart_log>(data);
  nvme_health_t h;
  h.critical_warning = s.critical_warning;
  h.temperature_c = (int)(s.temperature[0] | s.temperature[1] << 8) - 273;
  h.percent_used = s.percent_used;
  // A 128-bit counter; more than 64 bits of errors reads as the most there is.
  uint64_t high = 0;
  memcpy(&h.media_errors, s.media_errors, 8);
  memcpy(&high, s.media_errors + 8, 8);
  h.media_errors = high ? UINT64_MAX : le64toh(h.media_errors);
  return h;
}

std::string nvme_health_text(const nvme_health_t& h) {
  char t[128];
  snprintf(t, sizeof t, "critical warning 0x%02X, temperature %d C, %u%% used, %llu media errors", h.critical_warning,
           h.temperature_c, (unsigned)h.percent_used, (unsigned long long)h.media_errors);
  return t;
}

nvme_sanitize_status_t nvme_decode_sanitize_log(const unsigned char* data, int sanact) {
  const nvme_sanitize_log_page p = page_as<nvme_sanitize_log_page>(data);
  nvme_sanitize_status_t s;
  s.progress = le16toh(p.sprog);
  s.state = NVME_GET(le16toh(p.sstat), SANITIZE_SSTAT_STATUS);
  uint32_t est = 0xFFFFFFFF;
  if (sanact == NVME_SANITIZE_SANACT_START_CRYPTO_ERASE) est = le32toh(p.etce);
  if (sanact == NVME_SANITIZE_SANACT_START_BLOCK_ERASE) est = le32toh(p.etbe);
  if (sanact == NVME_SANITIZE_SANACT_START_OVERWRITE) est = le32toh(p.eto);
  s.estimate_s = est == 0xFFFFFFFF ? 0 : est;
  return s;
}

nvme_erase_plan_t nvme_choose_erase(const nvme_ctrl_info_t& c) {
  nvme_erase_plan_t p;
  if (c.sanicap & NVME_CTRL_SANICAP_CES) {
    p = {NVME_ERASE_SANITIZE, NVME_SANITIZE_SANACT_START_CRYPTO_ERASE, true, "Sanitize [crypto erase]"};
  } else if (c.sanicap & NVME_CTRL_SANICAP_BES) {
    p = {NVME_ERASE_SANITIZE, NVME_SANITIZE_SANACT_START_BLOCK_ERASE, true, "Sanitize [block erase]"};
  } else if (c.oacs & NVME_CTRL_OACS_FORMAT) {
    bool crypto = (c.fna & NVME_CTRL_FNA_CRYPTO_ERASE) != 0;
    p.kind = NVME_ERASE_FORMAT;
    p.action = crypto ? NVME_FORMAT_SES_CRYPTO_ERASE : NVME_FORMAT_SES_USER_DATA_ERASE;
    // A format that reaches every namespace anyway goes to all of them by
    // name, unless the controller takes no broadcast for Format NVM.
    p.all_namespaces = (c.fna & (NVME_CTRL_FNA_FMT_ALL_NAMESPACES | NVME_CTRL_FNA_SEC_ALL_NAMESPACES)) != 0 &&
                       !(c.fna & NVME_CTRL_FNA_NSID_FFFFFFFF);
    p.name = crypto ? "Format NVM [crypto erase]" : "Format NVM [user data erase]";
  }
  return p;
}

nvme_admin_cmd nvme_identify_cmd(int cns, uint32_t nsid, void* buf) {
  nvme_admin_cmd c = admin(nvme_admin_identify, nsid);
  c.addr = (uint64_t)(uintptr_t)buf;
  c.data_len = NVME_IDENTIFY_SIZE;
  c.cdw10 = (uint32_t)cns;
  return c;
}

nvme_admin_cmd nvme_get_log_cmd(int lid, uint32_t nsid, void* buf, uint32_t len) {
  nvme_admin_cmd c = admin(nvme_admin_get_log_page, nsid);
  c.addr = (uint64_t)(uintptr_t)buf;
  c.data_len = len;
  // NUMDL (bits 31:16): dwords to return, 0-based.
  c.cdw10 = ((len / 4 - 1) & 0xFFFF) << 16 | (uint32_t)(lid & 0xFF);
  return c;
}

nvme_admin_cmd nvme_format_cmd(uint32_t nsid, int lba_format, int ses, uint32_t timeout_ms) {
  nvme_admin_cmd c = admin(nvme_admin_format_nvm, nsid);
  // LBAF bits 3:0 (upper bits 13:12), no metadata or protection, SES 11:9.
  c.cdw10 = (uint32_t)(lba_format & 0x0F) | (uint32_t)((lba_format >> 4) & 0x3) << 12 | (uint32_t)(ses & 0x7) << 9;
  c.timeout_ms = timeout_ms;
  return c;
}

nvme_admin_cmd nvme_sanitize_cmd(int sanact) {
  // No unrestricted exit: a sanitize that fails must be run again.
  nvme_admin_cmd c = admin(nvme_admin_sanitize_nvm, 0);
  c.cdw10 = (uint32_t)(sanact & 0x7);
  return c;
}

nvme_passthru_cmd nvme_dsm_deallocate_cmd(uint32_t nsid, void* range, uint64_t slba, uint32_t blocks) {
  nvme_dsm_range r;
  memset(&r, 0, sizeof r);
  r.nlb = htole32(blocks);
  r.slba = htole64(slba);
  memcpy(range, &r, sizeof r);
  nvme_passthru_cmd c = admin(nvme_cmd_dsm, nsid);
  c.addr = (uint64_t)(uintptr_t)range;
  c.data_len = sizeof r;
  c.cdw10 = 0;  // one range (0-based)
  c.cdw11 = NVME_DSMGMT_AD;
  return c;
}

const char* nvme_status_text(int status) {
  struct entry {
    int code;
    const char* text;
  };
  // Status code type (bits 10:8) and status code (bits 7:0).
  static const entry table[] = {
      {0x000, "successful completion"},
      {0x001, "invalid command opcode: the drive does not offer this command"},
      {0x002, "invalid field in command"},
      {0x006, "internal error"},
      {0x007, "command abort requested"},
      {0x00B, "invalid namespace or format"},
      {0x00C, "command sequence error"},
      {0x015, "operation denied"},
      {0x01C, "sanitize failed: the most recent sanitize did not complete"},
      {0x01D, "sanitize in progress"},
      {0x020, "namespace is write protected"},
      {0x021, "command interrupted"},
      {0x023, "prohibited by command and feature lockdown"},
      {0x082, "namespace not ready"},
      {0x084, "format in progress"},
      {0x109, "invalid log page"},
      {0x10A, "invalid format: the LBA format or protection settings are not supported"},
      {0x115, "namespace insufficient capacity"},
      {0x123, "sanitize prohibited while the persistent memory region is enabled"},
      {0x180, "conflicting attributes"},
      {0x181, "invalid protection information"},
      {0x182, "attempted write to read only range"},
  };
  if (status < 0) return "the command could not be sent";
  for (const entry& e : table)
    if (e.code == (status & 0x7FF)) return e.text;
  switch ((status >> 8) & 0x7) {
    case 2: return "media or data integrity error";
    case 3: return "path error";
    case 7: return "vendor specific error";
    default: return "unknown status";
  }
}

bool nvme_is_namespace_name(const std::string& name) {
  // nvme<controller>n<namespace>, digits only in both places.
  size_t i = 4;
  auto digits = [&] {
    size_t from = i;
    while (i < name.size() && name[i] >= '0' && name[i] <= '9') ++i;
    return i > from;
  };
  if (name.compare(0, 4, "nvme") != 0 || !digits()) return false;
  if (i >= name.size() || name[i] != 'n') return false;
  ++i;
  return digits() && i == name.size();
}
