#include "task/task_commands.h"

#include <stdio.h>
#include <unistd.h>

#include "app/log.h"
#include "app/paths.h"
#include "devmgr/devmgr.h"

// ---- CAutoCommand ----

CAutoCommand::CAutoCommand(blkdev_command_t id, const char* name) : CCommand(id, true), name(name ? name : "") {}

int CAutoCommand::Run(bool) { return 0; }

int CAutoCommand::Cancel() {
  LOG_ERROR(g_dbg_log, "Internal error: Cancel() invoked for CAutoCommand (id=" << (int)id << ")");
  return -1;
}

// ---- CProxyCommand ----

CProxyCommand::CProxyCommand(std::shared_ptr<CBlkDev> device, blkdev_command_t id, const char* name)
    : CAutoCommand(id, name), device(device) {}

int CProxyCommand::Run(bool sync) {
  if (!device || device->IsDisconnected()) {
    LOG_ERROR(g_dbg_log, name << ": Proxy command: no device");
    return -1;
  }
  std::shared_ptr<CCommand> cmd = device->GetCommandById(id);
  if (!cmd) {
    LOG_ERROR(g_dbg_log,
              name << ": Proxy command: command '" << (int)id << "' is not found on device '" << device->Name() << "'");
    if (overwrites_drive(id)) device->LogFinishedPass("wiping", CDeviceReport::failed);
    return -2;
  }
  LOG_INFO(g_dbg_log, name << ": Proxy command: starting with sync=" << (sync ? 1 : 0));
  // The command reports its completion to the device: let the device know it
  // is the one running.
  device->SetCurrentCommand(cmd);
  int rc = cmd->Run(sync);
  LOG_INFO(g_dbg_log, name << ": Proxy command: completed with return code=" << rc);
  return rc;
}

// ---- checkpoints ----

// Stands for a shared checkpoint in one device's queue. Destroyed without
// having run, it takes its queue out of the count the checkpoint waits for.
class CCheckpointEntry : public CCommand {
 public:
  explicit CCheckpointEntry(std::shared_ptr<CAllAtOnceCommand> cp) : CCommand(cp->id, true), checkpoint(cp) {}
  ~CCheckpointEntry() override {
    if (!ran) checkpoint->Withdraw();
  }
  std::string GetName() const override { return checkpoint->GetName(); }
  int GetStatus() override { return checkpoint->GetStatus(); }
  int Run(bool sync) override {
    ran = true;
    return checkpoint->Run(sync);
  }
  bool CanCancel() const override { return false; }
  int Cancel() override { return checkpoint->Cancel(); }

 private:
  std::shared_ptr<CAllAtOnceCommand> checkpoint;
  bool ran = false;  // only the queue thread running it writes this
};

CAllAtOnceCommand::CAllAtOnceCommand(blkdev_command_t id, const char* name) : CAutoCommand(id, name) {}

std::shared_ptr<CCommand> CAllAtOnceCommand::QueueEntry(std::shared_ptr<CAllAtOnceCommand> checkpoint) {
  if (!checkpoint) return std::shared_ptr<CCommand>();
  return std::shared_ptr<CCommand>(new CCheckpointEntry(checkpoint));
}

void CAllAtOnceCommand::TakeWithdrawals() {
  int n = withdrawn.exchange(0);
  if (n == 0 || done) return;
  count = count > n ? count - n : 0;
  LOG_INFO(g_dbg_log, name << ": " << n << " disk(s) left the task, " << count << " disks more to go further");
}

void CAllAtOnceCommand::PassLocked() {
  done = true;
  LOG_INFO(g_dbg_log, name << ": all the disks are in this checkpoint now");
  all_together_hook();
}

void CAllAtOnceCommand::IncreaseCount() {
  CLockWrapper guard(*this);
  TakeWithdrawals();
  if (!done) ++count;
}

bool CAllAtOnceCommand::IsDone() {
  CLockWrapper guard(*this);
  return done;
}

int CAllAtOnceCommand::GetCount() {
  CLockWrapper guard(*this);
  TakeWithdrawals();
  return count;
}

int CAllAtOnceCommand::Run(bool) {
  CLockWrapper guard(*this);
  TakeWithdrawals();
  if (done) return 0;
  if (!single_entrance_hook()) return 0;
  TakeWithdrawals();
  if (done) return 0;
  status = CMD_STATUS_RUNNING;
  if (count > 0) {
    --count;
    LOG_INFO(g_dbg_log, name << ": reached checkpoint, " << count << " disks more to go further");
  }
  while (!done) {
    if (count == 0) {
      PassLocked();
      break;
    }
    guard.Unlock();
    platform().TaskSleep();
    guard.Lock();
    // Queues that left meanwhile may make this one the last.
    TakeWithdrawals();
  }
  status = CMD_STATUS_IDLE;
  return 0;
}

// ---- CResetCommand ----

CResetCommand::CResetCommand(CBlkDevMgr* mgr, bool halt)
    : CAllAtOnceCommand(halt ? BLKDEV_CMD_HALT : BLKDEV_CMD_REBOOT, halt ? "Halt" : "Reset"), mgr(mgr) {}

std::shared_ptr<CBlkDev> CResetCommand::GetDeviceWithRebootRequires() const {
  LOG_INFO(g_dbg_log, "Checking reboot requirements...");
  if (mgr) {
    int n = mgr->GetCount();
    for (int i = 0; i < n; ++i) {
      std::shared_ptr<CBlkDev> dev = mgr->GetBlkDev(i);
      if (!dev || dev->IsDisconnected() || !dev->IsSelectedForWiping()) continue;
      if (dev->NeedReboot()) {
        LOG_INFO(g_dbg_log, dev->Name() << " - reboot required.");
        return dev;
      }
    }
  }
  LOG_INFO(g_dbg_log, "There are no devices which require power-off cycle");
  return std::shared_ptr<CBlkDev>();
}

bool CResetCommand::single_entrance_hook() {
  // The device walk takes the manager and device locks, and the wait for a
  // power-off cycle lasts for good: neither holds the checkpoint's mutex, so
  // a drive can still be added to the task (IncreaseCount) meanwhile.
  Unlock();
  std::shared_ptr<CBlkDev> dev = GetDeviceWithRebootRequires();
  if (!dev) {
    LOG_INFO(g_dbg_log, "Reset command: Reboot is not required, continue.");
    Lock();
    return false;
  }
  LOG_WARN(g_wipe_log, "Drive-" << dev->Name() << "Power-off cycle is needed to continue wiping on this device.");
  dev->SetCommandStatus("Waiting for reset...");
  while (!platform().PowerCycleWaitOver()) platform().TaskSleep();
  Lock();
  return false;
}

int CResetCommand::all_together_hook() {
  Unlock();
  std::shared_ptr<CBlkDev> dev = GetDeviceWithRebootRequires();
  int rc = 0;
  if (dev) {
    LOG_INFO(g_dbg_log, dev->Name() << ": Reboot in 10 seconds...");
    dev->SetCommandStatus("Reboot in 10 seconds...");
    for (int i = 0; i < 10; ++i) platform().TaskSleep();
    rc = DoReboot();
  }
  Lock();
  return rc;
}

int CResetCommand::DoReboot() { return platform().Reboot(id == BLKDEV_CMD_REBOOT); }

// ---- CSessionTerminatorCommand ----

CSessionTerminatorCommand::CSessionTerminatorCommand()
    : CAllAtOnceCommand(BLKDEV_CMD_TERMINATOR, "session_terminator") {}

int CSessionTerminatorCommand::all_together_hook() {
  g_log.ProcessAppendersErrorHandlers();
  return 0;
}

// ---- CDelayCommand ----

CDelayCommand::CDelayCommand(std::shared_ptr<CBlkDev> device, int delay, const char* format)
    : CCommand(BLKDEV_CMD_DELAY, true), device(device), delay(delay), format(format ? format : "") {}

int CDelayCommand::GetStatus() {
  time_t e = end;
  if (e == 0) return CMD_STATUS_IDLE;
  return time(nullptr) > e ? CMD_STATUS_EXPIRED : CMD_STATUS_RUNNING;
}

int CDelayCommand::Cancel() {
  end = 0;
  cancel_requested = true;
  return 0;
}

int CDelayCommand::Run(bool sync) {
  if (cancel_requested.exchange(false)) {
    end = 0;
    return 0;
  }
  end = time(nullptr) + delay;
  if (!sync) return 0;
  for (int n = delay; n >= 1; --n) {
    if (end == 0) break;
    char buf[4096];
    snprintf(buf, sizeof buf, format.c_str(), n);
    if (device) device->SetCommandStatus(buf);
    platform().TaskSleep();
  }
  end = 0;
  cancel_requested = false;
  return 0;
}
