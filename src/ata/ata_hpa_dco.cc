// Host Protected Area and Device Configuration Overlay: measuring both hidden
// layers and removing (or, for testing, creating) them.
#include <string.h>
#include <unistd.h>

#include "app/log.h"
#include "app/util.h"
#include "ata/ata_blocks.h"
#include "ata/blkdev_ata.h"

uint64_t CBlkDevAta::GetHPASize(int fd, int lba48) {
  const char* form = lba48 ? "GetHPASize-LBA48" : "GetHPASize-LBA28";
  ata_data cmd(lba48 ? ATA_CMD_READ_NATIVE_MAX_EXT : ATA_CMD_READ_NATIVE_MAX);
  cmd.head = 0x40;
  int rc = transport->RunAtaCommand(fd, &cmd, 0);
  if (rc != 0) {
    LOG_WARN(g_dbg_log, Name() << ": " << form << ". RunAtaCommand failed. Code: " << rc);
    return 0;
  }
  LOG_INFO(g_dbg_log, Name() << ": " << form << ". RunAtaCommand ok.");
  uint64_t max = lba48 ? cmd.lba48() : cmd.lba28();
  uint64_t size = (max + 1) * 512;
  cmd.dump();
  LOG_TRACE(g_dbg_log, Name() << ": GetHPASize OK. " << CSizeStr(size, 'S') << ", " << CSizeStr(size, 'B'));
  return size;
}

int CBlkDevAta::SendSetMax(int fd, uint64_t max, int vv, uint64_t* readback) {
  ata_data cmd;
  if (lba_level) {
    cmd.command = ATA_CMD_SET_MAX_EXT;
    cmd.set_lba48(max);
    cmd.head = 0x40;
  } else {
    cmd.command = ATA_CMD_SET_MAX;
    cmd.set_lba28((uint32_t)max);
    cmd.head |= 0x40;
  }
  cmd.count = vv ? 1 : 0;
  int rc = transport->RunAtaCommand(fd, &cmd, 0);
  if (rc == 0 && readback) *readback = lba_level ? cmd.lba48() : cmd.lba28();
  return rc;
}

int CBlkDevAta::ResetHPA(int vv) {
  LOG_TRACE(g_dbg_log, Name() << ": ---- ResetHPA ---- ");
  unique_fd node = OpenNode();
  const int fd = node.get();
  if (fd < 0) return -1;
  uint64_t sectors = GetHPASize(fd, lba_level) / 512;
  // A native maximum address of 0 is unusable, and so is a failed query; the
  // operator learns of the failed query, which leaves the area in place.
  if (sectors <= 1) {
    if (sectors == 0) LOG_ERROR(g_wipe_log, "Disk-" << Name() << ": Failed to reset HPA");
    return -1;
  }
  uint64_t max = sectors - 1;
  uint64_t got = 0;
  int rc = SendSetMax(fd, max, vv, &got);
  if (rc != 0) {
    LOG_WARN(g_dbg_log, Name() << ": ResetHPA. RunAtaCommand failed. Code: " << rc);
    LOG_ERROR(g_wipe_log, "Disk-" << Name() << ": Failed to reset HPA");
    return rc;
  }
  MarkRefresh();
  if (got != max) {
    LOG_WARN(g_dbg_log, Name() << ": ResetHPA. Address mismatch: " << got << " != " << max);
    LOG_ERROR(g_wipe_log, "Disk-" << Name() << ": Failed to reset HPA");
    return -2;
  }
  LOG_TRACE(g_dbg_log, Name() << ": ResetHPA OK.");
  LOG_INFO(g_wipe_log, "Disk-" << Name() << ": HPA reset successfully");
  NoteHiddenAreaRemoved(false);
  return 0;
}

int CBlkDevAta::SetHPA(int vv) {
  LOG_TRACE(g_dbg_log, Name() << ": ---- SetHPA ---- ");
  unique_fd node = OpenNode();
  const int fd = node.get();
  if (fd < 0) return -1;
  uint64_t sectors = GetHPASize(fd, lba_level) / 512;
  if (sectors <= 1) {
    LOG_WARN(g_dbg_log, Name() << ": SetHPA. Bad max address: " << (sectors ? sectors - 1 : 0));
    return -1;
  }
  uint64_t max = (sectors - 1) / 2;
  uint64_t got = 0;
  int rc = SendSetMax(fd, max, vv, &got);
  if (rc != 0) {
    LOG_WARN(g_dbg_log, Name() << ": SetHPA. RunAtaCommand failed. Code: " << rc);
    return rc;
  }
  MarkRefresh();
  if (got != max) {
    LOG_WARN(g_dbg_log, Name() << ": SetHPA. Address mismatch: " << got << " != " << max);
    return -2;
  }
  LOG_TRACE(g_dbg_log, Name() << ": SetHPA OK. New limit " << got << " sectors");
  return 0;
}

static ata_data dco_command(unsigned char sub) {
  ata_data cmd(ATA_CMD_DEVICE_CONFIGURATION);
  cmd.feature = sub;
  return cmd;
}

uint64_t CBlkDevAta::GetDCOSize(int fd) {
  unsigned char buf[ATA_SECTOR];
  memset(buf, 0, sizeof buf);
  ata_data cmd = dco_command(DCO_IDENTIFY);
  cmd.count = 1;
  cmd.direction = ata_data::DIR_IN;
  cmd.in_size = ATA_SECTOR;
  cmd.buffer = buf;
  int rc = transport->RunAtaCommand(fd, &cmd, 0);
  if (rc != 0) {
    LOG_WARN(g_dbg_log, Name() << ": GetDCOSize. RunAtaCommand failed. Code: " << rc);
    return 0;
  }
  uint64_t max = dco_get_max_lba(buf);
  uint64_t size = (max + 1) * 512;
  LOG_TRACE(g_dbg_log, Name() << ": GetDCOSize OK. " << max + 1 << "s, " << size << "b");
  return size;
}

int CBlkDevAta::ResetDCO(int) {
  LOG_TRACE(g_dbg_log, Name() << ": ---- ResetDCO ---- ");
  unique_fd node = OpenNode();
  const int fd = node.get();
  if (fd < 0) return -1;
  ata_data cmd = dco_command(DCO_RESTORE);
  int rc = transport->RunAtaCommand(fd, &cmd, 0);
  if (rc != 0) {
    LOG_WARN(g_dbg_log, Name() << ": ResetDCO. RunAtaCommand failed. Code: " << rc);
    LOG_ERROR(g_wipe_log, "Disk-" << Name() << ": Failed to reset DCO");
    return rc;
  }
  LOG_TRACE(g_dbg_log, Name() << ": ResetDCO OK.");
  LOG_INFO(g_wipe_log, "Disk-" << Name() << ": DCO reset successfully");
  NoteHiddenAreaRemoved(true);
  MarkRefresh();
  return 0;
}

int CBlkDevAta::SetDCO(int) {
  LOG_TRACE(g_dbg_log, Name() << ": ---- SetDCO ---- ");
  unique_fd node = OpenNode();
  const int fd = node.get();
  if (fd < 0) return -1;
  unsigned char buf[ATA_SECTOR];
  memset(buf, 0, sizeof buf);
  ata_data id = dco_command(DCO_IDENTIFY);
  id.count = 1;
  id.direction = ata_data::DIR_IN;
  id.in_size = ATA_SECTOR;
  id.buffer = buf;
  int rc = transport->RunAtaCommand(fd, &id, 0);
  if (rc != 0) {
    LOG_WARN(g_dbg_log, Name() << ": SetDCO (identify). RunAtaCommand failed. Code: " << rc);
    return rc;
  }
  uint64_t sectors = size_bytes / (sector_size ? sector_size : 512);
  uint64_t new_max = sectors ? 75 * (sectors - 1) / 100 : 0;
  dco_set_max_lba(buf, new_max);
  ata_data set = dco_command(DCO_SET);
  set.count = 1;
  set.direction = ata_data::DIR_OUT;
  set.out_size = ATA_SECTOR;
  set.buffer = buf;
  rc = transport->RunAtaCommand(fd, &set, 0);
  if (rc != 0) {
    LOG_WARN(g_dbg_log, Name() << ": SetDCO (set). RunAtaCommand failed. Code: " << rc);
    return rc;
  }
  MarkRefresh();
  LOG_TRACE(g_dbg_log, Name() << ": SetDCO OK. New limit " << new_max << " sectors");
  return 0;
}
