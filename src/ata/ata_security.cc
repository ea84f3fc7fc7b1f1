// ATA security: the drive's own SECURITY ERASE UNIT with the program's
// password, and unlocking a drive locked with it.
#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "app/log.h"
#include "ata/ata_blocks.h"
#include "ata/blkdev_ata.h"

static ata_data password_command(unsigned char code, unsigned char* block) {
  ata_data cmd(code);
  cmd.count = 1;
  cmd.direction = ata_data::DIR_OUT;
  cmd.out_size = ATA_SECTOR;
  cmd.buffer = block;
  return cmd;
}

int CBlkDevAta::SecurityErase(_cmd_param p) {
  LOG_TRACE(g_dbg_log, Name() << ": ---- Security Erase ---- ");
  unsigned char block[ATA_SECTOR];
  memset(block, 0, sizeof block);
  unique_fd node = OpenNode();
  const int fd = node.get();
  if (fd < 0) {
    LOG_TRACE(g_dbg_log, Name() << ": Could not open device. " << strerror(errno));
    return -1;
  }

  ata_build_password_block(block, false);
  LOG_TRACE(g_dbg_log, Name() << ": Security Erase. Setting a password. ");
  ata_data set = password_command(ATA_CMD_SECURITY_SET_PASSWORD, block);
  int rc = transport->RunAtaCommand(fd, &set, 0);
  if (rc != 0) {
    LOG_WARN(g_dbg_log, Name() << ": SecurityErase. SECURITY SET PASSWORD failed. Code: " << rc);
    return rc;
  }

  LOG_TRACE(g_dbg_log, Name() << ": Security Erase. Preparing.");
  ata_data prepare(ATA_CMD_SECURITY_ERASE_PREPARE);
  rc = transport->RunAtaCommand(fd, &prepare, 0);
  if (rc != 0) {
    LOG_WARN(g_dbg_log, Name() << ": SecurityErase. SECURITY ERASE PREPARE failed. Code: " << rc);
    node.reset();  // LockDisk opens the node itself
    LockDisk(0);
    return rc;
  }

  // ERASE UNIT must follow PREPARE directly on the same descriptor.
  ata_build_password_block(block, p.variant != 0);
  LOG_TRACE(g_dbg_log, Name() << ": Security Erase. Erasing");
  ata_data erase = password_command(ATA_CMD_SECURITY_ERASE_UNIT, block);
  rc = transport->RunAtaCommand(fd, &erase, 2 * p.seconds);
  node.reset();
  if (rc != 0) {
    LOG_WARN(g_dbg_log, Name() << ": SecurityErase. SECURITY ERASE UNIT failed. Code: " << rc);
    LockDisk(0);
    return rc;
  }
  // The drive has disabled security and cleared the password itself.
  return 0;
}

int CBlkDevAta::LockDisk(int lock) {
  // Only unlocking is ever asked for.
  if (lock != 0) return -1;
  LOG_TRACE(g_dbg_log, Name() << ": ---- Lock disk ---- ");
  unsigned char block[ATA_SECTOR];
  memset(block, 0, sizeof block);
  unique_fd node = OpenNode();
  const int fd = node.get();
  if (fd < 0) {
    LOG_TRACE(g_dbg_log, Name() << ": Could not open device. " << strerror(errno));
    return -1;
  }
  ata_build_password_block(block, false);
  ata_data unlock = password_command(ATA_CMD_SECURITY_UNLOCK, block);
  int rc = transport->RunAtaCommand(fd, &unlock, 0);
  if (rc != 0) {
    LOG_WARN(g_dbg_log, Name() << ": Lock disk. Command failed. Code: " << rc);
    return rc;
  }
  MarkRefresh();
  ata_data disable = password_command(ATA_CMD_SECURITY_DISABLE_PASSWORD, block);
  rc = transport->RunAtaCommand(fd, &disable, 0);
  if (rc != 0) {
    LOG_WARN(g_dbg_log, Name() << ": Lock disk-reset password. Command failed. Code: " << rc);
    return rc;
  }
  LOG_TRACE(g_dbg_log, Name() << ": Lock disk successful");
  return 0;
}
