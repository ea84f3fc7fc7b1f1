// NVMe admin and I/O commands as the kernel's pass-through ioctls carry them,
// and the data pages the drive returns: every command is built and every page
// read by a pure function here, so the device class only moves bytes.
#pragma once
#include <linux/nvme_ioctl.h>
#include <stdint.h>

#include <string>

// Size of an Identify data structure and of the log pages read here.
constexpr unsigned NVME_IDENTIFY_SIZE = 4096;
constexpr unsigned NVME_LOG_SIZE = 512;

// What Identify Controller says about the drive.
struct nvme_ctrl_info_t {
  std::string model, serial, firmware;  // blank-padded fields, trimmed
  uint16_t oacs = 0;                    // optional admin commands (bit 1 Format NVM)
  uint16_t oncs = 0;                    // optional NVM commands (bit 2 Dataset Management)
  uint8_t fna = 0;                      // Format NVM attributes
  uint32_t sanicap = 0;                 // sanitize capabilities
};
nvme_ctrl_info_t nvme_decode_id_ctrl(const unsigned char* data);

// What Identify Namespace says: its size in logical blocks and the size of
// the LBA format in use. lba_bytes is 0 when the format names no usable size.
struct nvme_ns_info_t {
  uint64_t blocks = 0;
  uint32_t lba_bytes = 0;
  uint8_t format = 0;  // index of the LBA format in use
};
nvme_ns_info_t nvme_decode_id_ns(const unsigned char* data);

// SMART / Health Information: the figures shown to the operator.
struct nvme_health_t {
  uint8_t critical_warning = 0;
  int temperature_c = 0;  // composite temperature, from Kelvin
  uint8_t percent_used = 0;
  uint64_t media_errors = 0;  // media and data integrity errors (saturated)
};
nvme_health_t nvme_decode_smart_log(const unsigned char* data);
// "critical warning 0x00, temperature 36 C, 3% used, 0 media errors"
std::string nvme_health_text(const nvme_health_t& h);

// Sanitize Status: progress (0..65535 of 65536) and the state of the most
// recent sanitize.
enum nvme_sanitize_state_e {
  NVME_SANITIZE_NEVER = 0,
  NVME_SANITIZE_DONE = 1,
  NVME_SANITIZE_RUNNING = 2,
  NVME_SANITIZE_FAILED = 3,
  NVME_SANITIZE_DONE_NO_DEALLOC = 4,
};
struct nvme_sanitize_status_t {
  uint16_t progress = 0;
  int state = NVME_SANITIZE_NEVER;
  uint32_t estimate_s = 0;  // drive's estimate for the running action; 0 unknown
};
nvme_sanitize_status_t nvme_decode_sanitize_log(const unsigned char* data, int sanact);

// The drive's own erase, chosen from what the controller offers: Sanitize
// (crypto erase before block erase), else Format NVM with Secure Erase
// Settings 2 (crypto) or 1 (user data), on the namespace or, when FNA says
// the format or the erase covers every namespace, on all of them.
enum nvme_erase_kind_e { NVME_ERASE_NONE, NVME_ERASE_SANITIZE, NVME_ERASE_FORMAT };
struct nvme_erase_plan_t {
  nvme_erase_kind_e kind = NVME_ERASE_NONE;
  int action = 0;               // Sanitize: SANACT; Format: SES
  bool all_namespaces = false;  // Format: sent to every namespace (NSID FFFFFFFFh)
  const char* name = "";        // for the operator and the report
};
nvme_erase_plan_t nvme_choose_erase(const nvme_ctrl_info_t& c);

// Commands. `buf` is the data area; nsid the namespace.
nvme_admin_cmd nvme_identify_cmd(int cns, uint32_t nsid, void* buf);
nvme_admin_cmd nvme_get_log_cmd(int lid, uint32_t nsid, void* buf, uint32_t len);
nvme_admin_cmd nvme_format_cmd(uint32_t nsid, int lba_format, int ses, uint32_t timeout_ms);
nvme_admin_cmd nvme_sanitize_cmd(int sanact);
// Dataset Management, deallocate, over the one range in `range` (16 bytes).
nvme_passthru_cmd nvme_dsm_deallocate_cmd(uint32_t nsid, void* range, uint64_t slba, uint32_t blocks);

// The meaning of a completion status (status code type and code, as the
// ioctl returns them); never null.
const char* nvme_status_text(int status);

// A namespace block device such as nvme0n1: never the controller (nvme0), a
// partition (nvme0n1p1) or a hidden multipath path (nvme0c0n1).
bool nvme_is_namespace_name(const std::string& name);
