#include "ata/blkdev_ata.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "app/globals.h"
#include "app/log.h"
#include "app/paths.h"
#include "app/util.h"
#include "ata/ata_blocks.h"
#include "command/threaded_command.h"

CBlkDevAta::CBlkDevAta(ata_transport_e t) : CBlkDev() {
  if (t == TRANSPORT_SAT)
    transport.reset(new CSgSatl);
  else
    transport.reset(new CIdeTaskfile);
  LOG_INFO(g_dbg_log, (t == TRANSPORT_SAT ? "ATA-SAT device " : "ATA-IDE device ")
                          << (const void*)this << " cmd=" << (const void*)transport.get());
}

CBlkDevAta::~CBlkDevAta() {
  LOG_INFO(g_dbg_log, "Delete ATA device " << (const void*)this << " cmd=" << (const void*)transport.get());
}

void CBlkDevAta::MarkRefresh() {
  CLockWrapper guard(DeviceLock());
  refresh_pending = true;
}

void CBlkDevAta::AddUninterruptible(std::vector<command_ptr>& into, int (*fn)(CBlkDevAta*, int), int param,
                                    int duration, const char* cmd_name, blkdev_command_t id) {
  into.push_back(command_ptr(new CCommandUninterruptible<CBlkDevAta, int>(this, fn, param, duration, cmd_name, id)));
}

void CBlkDevAta::AddUninterruptible(std::vector<command_ptr>& into, int (*fn)(CBlkDevAta*, _cmd_param),
                                    _cmd_param param, int duration, const char* cmd_name, blkdev_command_t id) {
  into.push_back(
      command_ptr(new CCommandUninterruptible<CBlkDevAta, _cmd_param>(this, fn, param, duration, cmd_name, id)));
}

int CBlkDevAta::DoInit(bool verbose) {
  LOG_TRACE(g_dbg_log, "Initializing ATA device " << Name());
  if (!transport || Name().empty()) return -1;

  unique_fd node = OpenNode();
  if (!node.valid()) return -1;
  const int fd = node.get();

  // What the interface shows is built here and swapped in at the end, under
  // the device lock: a refresh runs while the interface draws the device.
  // Until the drive answers, it keeps what it had.
  blkdev_info_t next;
  next.model = model;
  next.serial = serial;
  next.size_bytes = size_bytes;
  next.size_sectors = size_sectors;
  next.full_size_bytes = full_size_bytes;
  next.bad_sectors = bad_sectors;
  std::vector<command_ptr>& cmds = next.commands;
  cmds.push_back(command_ptr(new CWipeCommand<CBlkDev>(this, BLKDEV_CMD_WIPE, false, "Wipe")));
  cmds.push_back(command_ptr(new CWipeCommand<CBlkDev>(this, BLKDEV_CMD_WIPE_HW, true, "Wipe")));
  AddUninterruptible(cmds, &CmdStandby, 0, 1, "Standby", BLKDEV_CMD_STANDBY);

  int rc = ReadIdentity(fd, next, verbose);
  if (rc != 0) {
    Publish(next);
    return rc;
  }
  DescribeFeatures(next, verbose);
  AddHpaDcoCommands(fd, next, verbose);
  ReadSmart(fd, next);
  AddSecurityCommands(next, verbose);
  SetMarkers(next, verbose);
  Publish(next);
  return 0;
}

int CBlkDevAta::ReadIdentity(int fd, blkdev_info_t& next, bool verbose) {
  const std::string prefix = "Disk-" + Name() + ": ";
  // IDENTIFY DEVICE, or IDENTIFY PACKET DEVICE for drives that answer only that.
  unsigned char id[512];
  memset(id, 0, sizeof id);
  packet = 0;
  int rc = transport->Identify(fd, id, 0);
  if (rc != 0) {
    packet = 1;
    rc = transport->Identify(fd, id, 1);
    if (rc != 0) return rc;
  }
  if (info.init(id, sizeof id) != 0) return -1;

  info.get_serial(next.serial);
  info.get_model(next.model);
  next.size_sectors = info.get_size();
  next.size_bytes = next.size_sectors * 512;
  uint64_t ksize = 0;
  rc = sys_ioctl(fd, BLKGETSIZE64, &ksize);
  if (rc != 0) {
    LOG_ERROR(g_dbg_log, Name() << ": BLKGETSIZE64 failed. Code: " << rc);
    kernel_size = 0;
  } else {
    kernel_size = ksize;
  }
  if (next.size_bytes == 0) next.size_bytes = kernel_size;

  int rpm = info.get_rotation_rate();
  if (rpm == 1) {
    next.model += " SSD";
  } else if (rpm != 0) {
    char t[32];
    snprintf(t, sizeof t, " %dRPM", rpm);
    next.model += t;
  }
  std::string firmware;
  if (info.get_firmware(firmware)) next.serial += " firmware: " + firmware;

  if (verbose) {
    LOG_INFO(g_wipe_log, prefix << next.model << ", s/n: " << (next.serial.empty() ? "n/a" : next.serial)
                                << " ata device detected.");
    LOG_INFO(g_wipe_log, prefix << CSizeStr(next.size_bytes, 'A') << ", " << CSizeStr(next.size_bytes, 'B'));
  }
  if (next.size_bytes != kernel_size)
    LOG_INFO(g_dbg_log,
             Name() << ": Size mismatch blk=" << next.size_bytes << ", drv=" << kernel_size << " - reboot required");
  return 0;
}

void CBlkDevAta::DescribeFeatures(blkdev_info_t& next, bool verbose) {
  std::vector<command_ptr>& cmds = next.commands;
  const std::string prefix = "Disk-" + Name() + ": ";
  lba_level = info.get_lba_level();
  std::string features;
  info.get_version_string(features);
  features += " ";
  if (lba_level) features += "LBA48 ";
  if (info.get_smart_level()) features += "SMART ";
  if (info.get_security_level()) features += "ERASE ";
  if (info.get_dco_level()) features += "DCO ";
  if (info.get_hpa_level()) features += "HPA ";
  if (info.get_trim_level()) {
    features += "TRIM ";
    cmds.push_back(command_ptr(new CTrimCommand<CBlkDev>(this)));
  }
  if (info.get_sanitize_level()) features += "SANITIZE ";
  if (verbose) LOG_INFO(g_wipe_log, prefix << features);
  next.details.push_back("Features: " + features);
}

void CBlkDevAta::AddHpaDcoCommands(int fd, blkdev_info_t& next, bool verbose) {
  std::vector<command_ptr>& cmds = next.commands;
  const std::string prefix = "Disk-" + Name() + ": ";
  // Host Protected Area.
  hpa_level = info.get_hpa_level();
  LOG_TRACE(g_dbg_log, Name() << ": HPA support level: " << hpa_level);
  if (hpa_level) {
    hpa_size = GetHPASize(fd, lba_level);
    // A failed query is no proof that nothing is hidden.
    if (hpa_size == 0) {
      if (verbose) LOG_WARN(g_wipe_log, prefix << "Host Protected Area (HPA) could not be checked");
      next.details.push_back("HPA: could not be checked");
    }
    if (g_debuglevel == 0) {
      if (hpa_size > next.size_bytes) AddUninterruptible(cmds, &CmdResetHPA, 1, 1, "Reset HPA", BLKDEV_CMD_RESET_HPA);
    } else {
      AddUninterruptible(cmds, &CmdSetHPA, 1, 1, "Set HPA", BLKDEV_CMD_SET_HPA);
      AddUninterruptible(cmds, &CmdResetHPA, 1, 1, "Reset HPA", BLKDEV_CMD_RESET_HPA);
    }
  }

  // Device Configuration Overlay.
  dco_level = info.get_dco_level();
  LOG_TRACE(g_dbg_log, Name() << ": DCO support level: " << dco_level);
  if (dco_level) {
    dco_size = GetDCOSize(fd);
    if (g_debuglevel == 0) {
      if (dco_size > next.size_bytes && dco_size > hpa_size)
        AddUninterruptible(cmds, &CmdResetDCO, 0, 1, "Reset DCO", BLKDEV_CMD_RESET_DCO);
    } else {
      AddUninterruptible(cmds, &CmdSetDCO, 0, 1, "Set DCO", BLKDEV_CMD_SET_DCO);
      AddUninterruptible(cmds, &CmdResetDCO, 0, 1, "Reset DCO", BLKDEV_CMD_RESET_DCO);
    }
  }

  next.full_size_bytes = next.size_bytes;
  if (dco_size > next.full_size_bytes) next.full_size_bytes = dco_size;
  if (hpa_size > next.full_size_bytes) next.full_size_bytes = hpa_size;
}

void CBlkDevAta::ReadSmart(int fd, blkdev_info_t& next) {
  smart_level = info.get_smart_level();
  if (smart_level == 2) {
    ata_data st;
    st.smart();
    st.feature = SMART_RETURN_STATUS;
    int rc = transport->RunAtaCommand(fd, &st, 0);
    next.details.push_back(rc == 0 && st.smart_ok() ? "S.M.A.R.T. status OK" : "S.M.A.R.T. status BAD");

    unsigned char smart_buf[512];
    memset(smart_buf, 0, sizeof smart_buf);
    ata_data rd;
    rd.smart();
    rd.feature = SMART_READ_DATA;
    rd.count = 1;
    rd.direction = ata_data::DIR_IN;
    rd.in_size = sizeof smart_buf;
    rd.buffer = smart_buf;
    rc = transport->RunAtaCommand(fd, &rd, 0);
    if (rc == 0 && rd.smart_ok()) ParseSmartData(smart_buf, next);
  }
}

void CBlkDevAta::AddSecurityCommands(blkdev_info_t& next, bool verbose) {
  std::vector<command_ptr>& cmds = next.commands;
  const std::string prefix = "Disk-" + Name() + ": ";
  // Security state and the drive's own erase.
  int security_level = info.get_security_level();
  LOG_INFO(g_dbg_log, Name() << ": security level=" << security_level);
  if (security_level != 0) {
    int lock = info.get_security_lock();
    bool frozen = (lock & 2) != 0;
    bool locked = (lock & 1) != 0;
    if (frozen && verbose) LOG_INFO(g_wipe_log, prefix << "ATA ERASE command is blocked by BIOS");
    if (locked) {
      if (verbose) LOG_INFO(g_wipe_log, prefix << "Device locked");
      next.markers += " LCK";
      AddUninterruptible(cmds, &CmdUnlockDisk, 0, 1, "Unlock disk", BLKDEV_CMD_UNLOCK);
    }
    int normal = info.get_secure_erase_time(false);
    int enhanced = info.get_secure_erase_time(true);
    std::string line;
    if (normal == 0 && enhanced == 0) {
      line = "ATA ERASE disabled";
    } else {
      char t[64];
      line = "ATA ERASE time: ";
      if (normal) {
        snprintf(t, sizeof t, "%dmin [zeroes] ", normal);
        line += t;
      }
      if (enhanced) {
        snprintf(t, sizeof t, "%dmin [pattern] ", enhanced);
        line += t;
      }
      if (locked) line += " LOCKED";
      if (frozen) line += " FROZEN";
      if (security_level > 0) {
        if (normal)
          AddUninterruptible(cmds, &CmdSecurityErase, _cmd_param{normal * 60, 0}, normal * 60, "ATA Erase [zero]",
                             BLKDEV_CMD_ATA_ERASE_ZERO);
        if (enhanced)
          AddUninterruptible(cmds, &CmdSecurityErase, _cmd_param{enhanced * 60, 1}, enhanced * 60,
                             "ATA Erase [pattern]", BLKDEV_CMD_ATA_ERASE_PATTERN);
      }
    }
    next.details.push_back(line);
  }
}

void CBlkDevAta::SetMarkers(blkdev_info_t& next, bool verbose) {
  const std::string prefix = "Disk-" + Name() + ": ";
  if (next.size_bytes != kernel_size) {
    if (verbose) LOG_INFO(g_wipe_log, prefix << "Reboot required");
    next.markers += " REBOOT";
  }
  if (next.size_bytes < hpa_size) {
    if (verbose) LOG_INFO(g_wipe_log, prefix << "Host Protected Area (HPA) detected");
    next.markers += " HPA";
  }
  if (next.size_bytes < dco_size && dco_size > hpa_size) {
    if (verbose) LOG_INFO(g_wipe_log, prefix << "Device Configuration Overlay (DCO) detected");
    next.markers += " DCO";
  }
  if (next.bad_sectors) {
    if (verbose) LOG_INFO(g_wipe_log, prefix << next.bad_sectors << " bad sectors detected");
    next.markers += " BB";
  }
}

bool CBlkDevAta::SupportsHardwareWipe() {
  if (GetCommandById(BLKDEV_CMD_ATA_ERASE_ZERO)) return true;
  return (bool)GetCommandById(BLKDEV_CMD_ATA_ERASE_PATTERN);
}

int CBlkDevAta::PreWipe() {
  const std::string prefix = "Disk-" + Name() + ": ";
  uint64_t full = full_size_bytes ? full_size_bytes : 1;
  if (size_bytes < hpa_size) {
    uint64_t hidden = hpa_size - size_bytes;
    LOG_WARN(g_wipe_log, prefix << "HPA reserved " << CSizeStr(hidden, 'A') << " (" << hidden * 100 / full
                                << "%) will not be wiped");
  }
  if (dco_size > size_bytes && dco_size > hpa_size) {
    uint64_t hidden = dco_size - hpa_size;
    LOG_WARN(g_wipe_log, prefix << "DCO reserved " << CSizeStr(hidden, 'A') << " (" << hidden * 100 / full
                                << "%) will not be wiped");
  }
  return 0;
}

int CBlkDevAta::Trim_helper_trim_range(const CDevFile& file, unsigned long lba, unsigned int count) const {
  CAlignedBuffer block(ATA_SECTOR);
  if (!block.get()) return -1;
  uint64_t left = 0;
  int n = trim_fill_ranges(block.get(), lba, count, &left);
  if (left)
    LOG_ERROR(g_dbg_log,
              "Internal error: "
                  << "virtual int CBlkDevAta::Trim_helper_trim_range(const CDevFile&, uint64_t, unsigned int) const"
                  << ": number of sectors is overhead number of ranges wich can fit in one sector.");
  LOG_DEBUG(g_dbg_log, "Send to drive " << n << " ranges for TRIM");
  ata_data cmd(ATA_CMD_DATA_SET_MANAGEMENT);
  cmd.feature = 1;
  cmd.count = 1;
  cmd.direction = ata_data::DIR_OUT_DMA;
  cmd.out_size = ATA_SECTOR;
  cmd.buffer = block.get();
  int rc = transport ? transport->RunAtaCommand(file.GetFd(), &cmd, 0) : -1;
  if (rc != 0) {
    LOG_WARN(g_dbg_log, Name() << ": Trim. RunAtaCommand failed. Code: " << rc);
    return rc;
  }
  LOG_TRACE(g_dbg_log, Name() << ": Trim ranges OK.");
  return 0;
}

// ---- command functions ----

int CBlkDevAta::CmdResetHPA(CBlkDevAta* dev, int param) { return dev ? dev->ResetHPA(param) : -1; }
int CBlkDevAta::CmdSetHPA(CBlkDevAta* dev, int param) { return dev ? dev->SetHPA(param) : -1; }
int CBlkDevAta::CmdResetDCO(CBlkDevAta* dev, int param) { return dev ? dev->ResetDCO(param) : -1; }
int CBlkDevAta::CmdSetDCO(CBlkDevAta* dev, int param) { return dev ? dev->SetDCO(param) : -1; }
int CBlkDevAta::CmdUnlockDisk(CBlkDevAta* dev, int /*param*/) { return dev ? dev->LockDisk(0) : -1; }
int CBlkDevAta::CmdStandby(CBlkDevAta* dev, int param) { return dev ? dev->Standby(param) : -1; }
int CBlkDevAta::CmdSmartTest(CBlkDevAta* dev, _cmd_param p) { return dev ? dev->SmartTest(p) : -1; }

int CBlkDevAta::CmdSecurityErase(CBlkDevAta* dev, _cmd_param p) {
  if (!dev) return -1;
  const std::string prefix = "Disk-" + dev->Name() + ": ";
  LOG_INFO(g_wipe_log, prefix << "ATA ERASE command started");
  uint64_t start = get_nanotime();
  // The drive's own erase is the last pass: the report names its result.
  const char* pass = p.variant ? "ATA Erase [pattern]" : "ATA Erase [zero]";
  int rc = 0;
  if (g_debug_fast)
    platform().AtaErasePause(ATA_FAST_DEBUG_ERASE_SECONDS);
  else
    rc = dev->SecurityErase(p);
  cert_step_t step;
  step.kind = STEP_HW_ERASE;
  step.seconds = (long long)((get_nanotime() - start) / 1000000000ULL);
  if (rc != 0) {
    LOG_INFO(g_wipe_log, prefix << "ATA ERASE command failed");
    dev->LogFinishedPass(pass, CDeviceReport::failed, step);
    return rc;
  }
  dev->LogFinishedPass(pass, CDeviceReport::success, step);
  LOG_INFO(g_wipe_log, prefix << "ATA ERASE command completed in " << CTimeStr((int)step.seconds));
  return 0;
}
