// SMART data at initialisation, SMART self-tests, and standby.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "app/globals.h"
#include "app/log.h"
#include "ata/ata_blocks.h"
#include "ata/blkdev_ata.h"

int CBlkDevAta::ParseSmartData(unsigned char* data, blkdev_info_t& into) {
  if (!data) return -1;
  unsigned sum = ata_sector_sum(data);
  if (sum != 0) {
    char hex[16];
    snprintf(hex, sizeof hex, "%02X", sum);
    LOG_ERROR(g_dbg_log, Name() << ": SMART checksum failed: " << hex);
    return -1;
  }
  if (g_debuglevel != 0) {
    int short_sec = data[372] * 60;
    if (short_sec) {
      LOG_TRACE(g_dbg_log, Name() << ": SMART test. Short[sec] = " << short_sec);
      AddUninterruptible(into.commands, &CmdSmartTest, _cmd_param{short_sec, 0}, short_sec, "SMART short test",
                         BLKDEV_CMD_SMART_SHORT);
    }
    int conveyance = data[374] * 60;
    if (conveyance) {
      LOG_TRACE(g_dbg_log, Name() << ": SMART test. Conveyance[sec] = " << conveyance);
      AddUninterruptible(into.commands, &CmdSmartTest, _cmd_param{conveyance, 1}, conveyance, "SMART conveyance test",
                         BLKDEV_CMD_SMART_CONVEYANCE);
    }
  }
  // Reallocated Sectors Count; every entry with that ID is taken.
  uint64_t raw = 0;
  for (int i = smart_find_attribute(data, 5, 0, &raw); i >= 0; i = smart_find_attribute(data, 5, i + 1, &raw)) {
    into.bad_sectors = raw;
    char line[64];
    snprintf(line, sizeof line, "Bad sectors: %lld", (long long)raw);
    into.details.push_back(line);
  }
  return 0;
}

int CBlkDevAta::SmartTest(_cmd_param p) {
  LOG_TRACE(g_dbg_log, Name() << ": ---- SmartTest ---- ");
  unique_fd node = OpenNode();
  const int fd = node.get();
  if (fd < 0) return -1;
  ata_data cmd;
  cmd.smart();
  cmd.feature = SMART_EXECUTE_OFFLINE;
  // Captive self-tests: the drive answers when the test has ended.
  cmd.lba[0] = p.variant == 1 ? 0x83 : 0x81;
  int rc = transport->RunAtaCommand(fd, &cmd, p.seconds);
  if (rc != 0) {
    LOG_WARN(g_dbg_log, Name() << ": SmartTest. RunAtaCommand failed. Code: " << rc);
    return rc;
  }
  if (cmd.smart_ok()) {
    LOG_TRACE(g_dbg_log, Name() << ": passed SmartTest.");
    return 0;
  }
  LOG_WARN(g_dbg_log, Name() << ": failed SmartTest.");
  return -1;
}

int CBlkDevAta::Standby(int) {
  LOG_TRACE(g_dbg_log, Name() << ": ---- Standby ---- ");
  unique_fd node = OpenNode();
  const int fd = node.get();
  if (fd < 0) return -1;
  ata_data cmd(ATA_CMD_STANDBY_IMMEDIATE);
  int rc = transport->RunAtaCommand(fd, &cmd, 0);
  if (rc != 0)
    LOG_WARN(g_dbg_log, Name() << ": Standby. RunAtaCommand failed. Code: " << rc);
  else
    LOG_TRACE(g_dbg_log, Name() << ": Standby OK.");
  return rc;
}
