#include "task/wipe_task.h"

#include "app/log.h"
#include "devmgr/devmgr.h"
#include "scheme/scheme.h"

int g_additional_drive_delay = 30;

CWipeTask g_wipe_task;

namespace {

const char* added(const std::shared_ptr<CCommand>& cmd, const char* word) { return cmd ? word : "missing"; }

std::shared_ptr<CCommand> proxy(const std::shared_ptr<CBlkDev>& dev, blkdev_command_t id, const char* name) {
  return std::shared_ptr<CCommand>(new CProxyCommand(dev, id, name));
}

}  // namespace

CWipeTask::CWipeTask() : terminator(new CSessionTerminatorCommand) {}

bool CWipeTask::IsNothingToDo(CBlkDevMgr* mgr) {
  if (!mgr) return true;
  int n = mgr->GetCount();
  for (int i = 0; i < n; ++i) {
    std::shared_ptr<CBlkDev> dev = mgr->GetBlkDev(i);
    if (dev && !dev->IsDisconnected() && dev->IsSelectedForWiping()) return false;
  }
  return true;
}

int CWipeTask::Start(CBlkDevMgr* mgr) {
  if (!mgr) return -1;
  int queues = 0;
  int n = mgr->GetCount();
  for (int i = 0; i < n; ++i) {
    std::shared_ptr<CBlkDev> dev = mgr->GetBlkDev(i);
    if (!dev || dev->IsDisconnected()) continue;
    if (dev->IsLogDevice()) {
      LOG_INFO(g_dbg_log, dev->Name() << ": Skipping - the log device is never wiped.");
    } else if (!dev->IsSelectedForWiping()) {
      LOG_INFO(g_dbg_log, dev->Name() << ": Skipping - not marked for wiping.");
    } else if (!dev->IsReady()) {
      LOG_INFO(g_dbg_log, dev->Name() << ": Skipping - device is not ready (possible wiping in progress)");
    } else {
      PrepareCommandsQueue(dev, mgr, false);
      ++queues;
    }
  }
  LOG_INFO(g_dbg_log, "Wipe task. Total queues: " << queues);
  if (queues == 0) return -1;
  LOG_INFO(g_dbg_log, "Wipe task. Starting...");
  n = mgr->GetCount();
  for (int i = 0; i < n; ++i) {
    std::shared_ptr<CBlkDev> dev = mgr->GetBlkDev(i);
    if (dev && !dev->IsDisconnected() && !dev->IsLogDevice() && dev->IsReady()) dev->RunCommandQueue();
  }
  started = true;
  return 0;
}

void CWipeTask::StartOnAdditionalDrive(std::shared_ptr<CBlkDev> dev, CBlkDevMgr* mgr) {
  if (!dev) return;
  // The main window selects the drive first; a drive that cannot be selected
  // (the log device, a drive without media) is not wiped.
  if (dev->IsLogDevice() || !dev->IsSelectedForWiping()) {
    LOG_INFO(g_dbg_log, dev->Name() << ": Not wiping - the drive is not selected for wiping");
    return;
  }
  if (dev->IsReady()) {
    PrepareCommandsQueue(dev, mgr, true);
    dev->RunCommandQueue();
  } else {
    LOG_INFO(g_dbg_log, dev->Name() << ": Unable to start wiping - drive is not ready");
  }
}

void CWipeTask::PrepareCommandsQueue(std::shared_ptr<CBlkDev> dev, CBlkDevMgr* mgr, bool additional) {
  if (!dev) return;
  const std::string name = dev->Name();
  LOG_INFO(g_dbg_log, name << ": Wipe task. Init");
  dev->ClearCommandQueue();

  if (additional)
    dev->QueueCommand(std::shared_ptr<CCommand>(
        new CDelayCommand(dev, g_additional_drive_delay, "Wiping will start in %d seconds...")));

  if (g_scheme.reset_hpa) {
    std::shared_ptr<CCommand> c = proxy(dev, BLKDEV_CMD_RESET_HPA, "Reset HPA proxy");
    dev->QueueCommand(c);
    LOG_INFO(g_dbg_log, name << ": Wipe task. Reset HPA " << added(c, "added"));
  }
  if (g_scheme.reset_dco) {
    std::shared_ptr<CCommand> c = proxy(dev, BLKDEV_CMD_RESET_DCO, "Reset DCO proxy");
    dev->QueueCommand(c);
    LOG_INFO(g_dbg_log, name << ": Wipe task. Reset DCO " << added(c, "added"));
  }

  if (!reset_checkpoint) reset_checkpoint.reset(new CResetCommand(mgr, false));
  reset_checkpoint->IncreaseCount();
  std::shared_ptr<CCommand> reset = CAllAtOnceCommand::QueueEntry(reset_checkpoint);
  dev->QueueCommand(reset);
  LOG_INFO(g_dbg_log, name << ": Wipe task. Reset system " << added(reset, "added"));

  if (!g_scheme.ata_erase) {
    std::shared_ptr<CCommand> wipe = proxy(dev, BLKDEV_CMD_WIPE, "Wipe proxy");
    dev->QueueCommand(wipe);
    LOG_INFO(g_dbg_log, name << ": Wipe task. Full wipe " << added(wipe, "added"));
    dev->QueueCommand(proxy(dev, BLKDEV_CMD_TRIM, "trim proxy"));
    LOG_INFO(g_dbg_log, name << ": TRIM pass added because no 'Security Erase' in current wiping scheme");
  } else {
    std::shared_ptr<CCommand> erase;
    if (dev->GetCommandById(BLKDEV_CMD_ATA_ERASE_PATTERN)) {
      erase = proxy(dev, BLKDEV_CMD_ATA_ERASE_PATTERN, "ATA erase pattern proxy");
      LOG_INFO(g_dbg_log, name << ": Wipe task. ATA erase [pattern] " << added(erase, "created"));
    } else if (dev->GetCommandById(BLKDEV_CMD_ATA_ERASE_ZERO)) {
      erase = proxy(dev, BLKDEV_CMD_ATA_ERASE_ZERO, "ATA erase zero proxy");
      LOG_INFO(g_dbg_log, name << ": Wipe task. ATA erase [zero] " << added(erase, "created"));
    }
    if (erase) {
      std::shared_ptr<CCommand> reduced = proxy(dev, BLKDEV_CMD_WIPE_HW, "Reduced wipe proxy");
      dev->QueueCommand(reduced);
      LOG_INFO(g_dbg_log, name << ": Wipe task. Reduced wipe " << added(reduced, "added"));
      dev->QueueCommand(erase);
      LOG_INFO(g_dbg_log, name << ": Wipe task. ATA erase queued");
    } else {
      std::shared_ptr<CCommand> wipe = proxy(dev, BLKDEV_CMD_WIPE, "Wipe proxy");
      dev->QueueCommand(wipe);
      LOG_INFO(g_dbg_log, name << ": Wipe task. Full wipe " << added(wipe, "added"));
    }
  }

  dev->QueueCommand(proxy(dev, BLKDEV_CMD_STANDBY, "Standby proxy"));
  terminator->IncreaseCount();
  std::shared_ptr<CCommand> end = CAllAtOnceCommand::QueueEntry(terminator);
  dev->QueueCommand(end);
  LOG_INFO(g_dbg_log, name << ": Wipe task. Standby " << added(end, "added"));
}
