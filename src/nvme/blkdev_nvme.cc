#include "nvme/blkdev_nvme.h"

#include <errno.h>
#include <fcntl.h>
#include <nvme/types.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "app/log.h"
#include "app/platform.h"
#include "app/util.h"
#include "command/threaded_command.h"

namespace {

// The drive's own erase as a queue step: it shows its progress like a pass,
// and once sent it cannot be taken back.
class CNvmeEraseCommand : public CInterruptibleCommand<CBlkDevNvme> {
 public:
  CNvmeEraseCommand(CBlkDevNvme* dev, const std::string& name)
      : CInterruptibleCommand<CBlkDevNvme>(dev, BLKDEV_CMD_ATA_ERASE_ZERO, false, name.c_str()) {}
  bool CanCancel() const override { return false; }
  int do_real_job_here() override { return device->HardwareErase(); }
};

// "invalid field in command (status 0x002)"
std::string status_line(int rc) {
  if (rc == NVME_ERASE_TIMED_OUT) return "still running when the time allowed was over";
  if (rc < 0) return std::string("the command could not be sent: ") + strerror(errno);
  char code[24];
  snprintf(code, sizeof code, " (status 0x%03X)", rc);
  return nvme_status_text(rc) + std::string(code);
}

// The namespace number in a name such as nvme0n3.
uint32_t nsid_from_name(const std::string& name) {
  size_t n = name.rfind('n');
  return n == std::string::npos ? 1 : (uint32_t)strtoul(name.c_str() + n + 1, nullptr, 10);
}

}  // namespace

CBlkDevNvme::CBlkDevNvme(std::unique_ptr<CNvmeTransport> t)
    : CBlkDev(), transport(t ? std::move(t) : std::make_unique<CNvmeIoctl>()) {
  type_name = "NVMe";
}

CBlkDevNvme::~CBlkDevNvme() = default;

int CBlkDevNvme::DoInit(bool verbose) {
  LOG_TRACE(g_dbg_log, "Initializing NVMe device " << Name());
  if (Name().empty()) return -1;
  const std::string prefix = "Disk-" + Name() + ": ";
  unique_fd node = OpenNode();
  if (!node.valid()) return -1;

  // Until the drive answers, the device keeps what sysfs said.
  blkdev_info_t next;
  next.model = model;
  next.serial = serial;
  next.size_bytes = size_bytes;
  next.size_sectors = size_sectors;
  next.full_size_bytes = size_bytes;
  std::vector<command_ptr>& cmds = next.commands;
  cmds.push_back(command_ptr(new CWipeCommand<CBlkDev>(this, BLKDEV_CMD_WIPE, false, "Wipe")));
  cmds.push_back(command_ptr(new CWipeCommand<CBlkDev>(this, BLKDEV_CMD_WIPE_HW, true, "Wipe")));

  int id = transport->NamespaceId(node.get());
  nsid = id > 0 ? (uint32_t)id : nsid_from_name(Name());

  alignas(4096) unsigned char page[NVME_IDENTIFY_SIZE];
  memset(page, 0, sizeof page);
  nvme_admin_cmd cmd = nvme_identify_cmd(NVME_IDENTIFY_CNS_CTRL, 0, page);
  int rc = transport->Admin(node.get(), cmd);
  erase = nvme_erase_plan_t();
  ctrl = nvme_ctrl_info_t();
  std::string features;
  if (rc != 0) {
    LOG_WARN(g_wipe_log, prefix << "Identify Controller failed: " << status_line(rc));
  } else {
    ctrl = nvme_decode_id_ctrl(page);
    if (!ctrl.model.empty()) next.model = ctrl.model;
    if (!ctrl.serial.empty()) next.serial = ctrl.serial;
    next.details.push_back("Firmware: " + ctrl.firmware);
    if (ctrl.oacs & NVME_CTRL_OACS_FORMAT) features += "FORMAT ";
    if (ctrl.fna & NVME_CTRL_FNA_CRYPTO_ERASE) features += "CRYPTO ";
    if (ctrl.sanicap & (NVME_CTRL_SANICAP_CES | NVME_CTRL_SANICAP_BES | NVME_CTRL_SANICAP_OWS)) features += "SANITIZE ";
    if (ctrl.oncs & NVME_CTRL_ONCS_DSM) {
      features += "TRIM ";
      cmds.push_back(command_ptr(new CTrimCommand<CBlkDev>(this)));
    }
    erase = nvme_choose_erase(ctrl);
    if (erase.kind != NVME_ERASE_NONE)
      cmds.push_back(command_ptr(new CNvmeEraseCommand(this, std::string("NVMe ") + erase.name)));
  }

  memset(page, 0, sizeof page);
  cmd = nvme_identify_cmd(NVME_IDENTIFY_CNS_NS, nsid, page);
  rc = transport->Admin(node.get(), cmd);
  ns = nvme_ns_info_t();
  if (rc == 0) ns = nvme_decode_id_ns(page);
  if (rc != 0 || ns.lba_bytes == 0) {
    LOG_WARN(g_wipe_log, prefix << "Identify Namespace failed: " << (rc ? status_line(rc) : "no usable LBA format"));
  } else {
    sector_size = ns.lba_bytes;
    next.size_bytes = next.full_size_bytes = ns.blocks * ns.lba_bytes;
    next.size_sectors = next.size_bytes / 512;
    char t[96];
    snprintf(t, sizeof t, "Namespace %u, LBA format %u: %u-byte blocks", nsid, (unsigned)ns.format, ns.lba_bytes);
    next.details.push_back(t);
  }

  if (verbose) {
    LOG_INFO(g_wipe_log, prefix << next.model << ", s/n: " << (next.serial.empty() ? "n/a" : next.serial)
                                << " nvme device detected.");
    LOG_INFO(g_wipe_log, prefix << CSizeStr(next.size_bytes, 'A') << ", " << CSizeStr(next.size_bytes, 'B'));
    LOG_INFO(g_wipe_log, prefix << "NVMe " << features);
  }
  next.details.push_back("Features: NVMe " + features);
  next.details.push_back(std::string("Hardware erase: ") +
                         (erase.kind == NVME_ERASE_NONE ? "not offered" : erase.name));

  memset(page, 0, sizeof page);
  cmd = nvme_get_log_cmd(NVME_LOG_LID_SMART, NVME_NSID_ALL, page, NVME_LOG_SIZE);
  rc = transport->Admin(node.get(), cmd);
  if (rc != 0) {
    if (verbose) LOG_WARN(g_wipe_log, prefix << "health log not available: " << status_line(rc));
    next.details.push_back("Health: not available");
  } else {
    nvme_health_t h = nvme_decode_smart_log(page);
    std::string text = nvme_health_text(h);
    if (verbose) {
      if (h.critical_warning)
        LOG_WARN(g_wipe_log, prefix << "health: " << text);
      else
        LOG_INFO(g_wipe_log, prefix << "health: " << text);
    }
    next.details.push_back("Health: " + text);
    if (h.critical_warning) next.markers += " WARN";
  }
  Publish(next);
  return 0;
}

bool CBlkDevNvme::SupportsHardwareWipe() { return (bool)GetCommandById(BLKDEV_CMD_ATA_ERASE_ZERO); }

void CBlkDevNvme::SetProgress(const char* label, double pct, int32_t seconds_left) {
  CLockWrapper guard(DeviceLock());
  snprintf(progress_label, sizeof progress_label, "%s", label);
  percent = pct;
  speed = 0;
  eta = seconds_left;
}

int CBlkDevNvme::HardwareErase() {
  const std::string prefix = "Disk-" + Name() + ": ";
  const std::string what = std::string("hardware erase '") + erase.name + "'";
  const std::string pass = std::string("NVMe ") + erase.name;
  LOG_INFO(g_wipe_log, prefix << what << " started");
  uint64_t start = get_nanotime();
  unique_fd node = OpenNode();
  int rc = -1;
  if (node.valid()) rc = erase.kind == NVME_ERASE_SANITIZE ? Sanitize(node.get()) : Format(node.get());
  cert_step_t step;
  step.kind = STEP_HW_ERASE;
  step.seconds = (long long)((get_nanotime() - start) / 1000000000ULL);
  if (rc != 0) {
    LOG_ERROR(g_wipe_log, prefix << what << " failed: " << status_line(rc));
    LogFinishedPass(pass, CDeviceReport::failed, step);
    return rc;
  }
  LOG_INFO(g_wipe_log, prefix << what << " completed in " << CTimeStr((int)step.seconds));
  LogFinishedPass(pass, CDeviceReport::success, step);
  // A format may change what the namespace reports.
  CLockWrapper guard(DeviceLock());
  refresh_pending = true;
  return 0;
}

int CBlkDevNvme::Format(int fd) {
  SetProgress("Format NVM", 0, 0);
  nvme_admin_cmd cmd =
      nvme_format_cmd(erase.all_namespaces ? NVME_NSID_ALL : nsid, ns.format, erase.action, NVME_FORMAT_TIMEOUT_MS);
  return transport->Admin(fd, cmd);
}

int CBlkDevNvme::Sanitize(int fd) {
  SetProgress("Sanitize", 0, 0);
  nvme_admin_cmd cmd = nvme_sanitize_cmd(erase.action);
  int rc = transport->Admin(fd, cmd);
  if (rc != 0) return rc;
  alignas(4096) unsigned char page[NVME_LOG_SIZE];
  unsigned limit = 0;
  for (unsigned waited = 0;; ++waited) {
    memset(page, 0, sizeof page);
    cmd = nvme_get_log_cmd(NVME_LOG_LID_SANITIZE, 0, page, NVME_LOG_SIZE);
    rc = transport->Admin(fd, cmd);
    if (rc != 0) return rc;
    nvme_sanitize_status_t st = nvme_decode_sanitize_log(page, erase.action);
    if (st.state == NVME_SANITIZE_DONE || st.state == NVME_SANITIZE_DONE_NO_DEALLOC) return 0;
    if (st.state != NVME_SANITIZE_RUNNING) return NVME_SCT_GENERIC << 8 | NVME_SC_SANITIZE_FAILED;
    // Twice the drive's estimate, as for the ATA erase.
    if (!limit) limit = st.estimate_s ? 2 * st.estimate_s : NVME_SANITIZE_DEFAULT_WAIT_S;
    if (waited >= limit) return NVME_ERASE_TIMED_OUT;
    int32_t left = st.estimate_s > waited ? (int32_t)(st.estimate_s - waited) : 0;
    SetProgress("Sanitize", st.progress * 100.0 / 65536, left);
    platform().NvmePollPause(1);
  }
}

int CBlkDevNvme::Trim_helper_trim_range(const CDevFile& file, unsigned long lba, unsigned int count) const {
  // The pass counts 512-byte sectors; the namespace counts its own blocks.
  unsigned per_block = sector_size > 512 ? sector_size / 512 : 1;
  alignas(16) unsigned char range[16];
  nvme_passthru_cmd cmd = nvme_dsm_deallocate_cmd(nsid, range, lba / per_block, count / per_block);
  int rc = transport->Io(file.GetFd(), cmd);
  if (rc != 0) {
    LOG_WARN(g_dbg_log, Name() << ": Trim. Dataset Management failed: " << status_line(rc));
    return rc;
  }
  LOG_TRACE(g_dbg_log, Name() << ": Trim ranges OK.");
  return 0;
}
