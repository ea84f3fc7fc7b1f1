// The steps a wipe task puts into the device queues: a proxy that runs one of
// the device's own commands, the checkpoints that every queue of the task
// passes together, and the countdown before a late-added drive starts.
#pragma once
#include <stdint.h>
#include <time.h>

#include <atomic>
#include <memory>
#include <string>

#include "app/lockable.h"
#include "command/command.h"
#include "device/blkdev.h"

class CBlkDevMgr;

// A task step without a thread of its own, run by the queue thread.
class CAutoCommand : public CCommand, public CLockable {
 public:
  CAutoCommand(blkdev_command_t id, const char* name);
  std::string GetName() const override { return name; }
  int GetStatus() override { return status; }
  int Run(bool sync) override;
  bool CanCancel() const override { return false; }
  int Cancel() override;

 protected:
  std::atomic<int32_t> status{CMD_STATUS_IDLE};
  std::string name;
};

// Runs the device's command with the proxy's id, looked up when it runs.
class CProxyCommand : public CAutoCommand {
 public:
  CProxyCommand(std::shared_ptr<CBlkDev> device, blkdev_command_t id, const char* name);
  int Run(bool sync) override;

  std::shared_ptr<CBlkDev> device;
};

// A checkpoint shared by the queues of a task: each arriving queue waits until
// all queues holding it have arrived; the last one performs the action.
//
// Queues hold it through QueueEntry(): a queue cleared before it reached the
// checkpoint (drive removed, queue restarted) drops its entry unrun, and the
// others then no longer wait for it.
class CAllAtOnceCommand : public CAutoCommand {
 public:
  CAllAtOnceCommand(blkdev_command_t id, const char* name);
  int Run(bool sync) override;

  // For every arriving queue, before it counts in; false lets it pass at once.
  // Called with the checkpoint's mutex held.
  virtual bool single_entrance_hook() REQUIRES(this) = 0;
  // Once, by the last queue to arrive, with the mutex held.
  virtual int all_together_hook() REQUIRES(this) = 0;

  // One more queue to wait for, unless the checkpoint has been passed.
  void IncreaseCount();
  // The entry to put into one device's queue, after IncreaseCount().
  static std::shared_ptr<CCommand> QueueEntry(std::shared_ptr<CAllAtOnceCommand> checkpoint);

  bool IsDone();
  int GetCount();

 protected:
  bool done GUARDED_BY(this) = false;
  int32_t count GUARDED_BY(this) = 0;

 private:
  friend class CCheckpointEntry;
  // A queue left without reaching the checkpoint; safe from any thread and
  // under any lock, taken into `count` the next time the mutex is held.
  void Withdraw() { withdrawn.fetch_add(1); }
  void TakeWithdrawals() REQUIRES(this);
  void PassLocked() REQUIRES(this);

  std::atomic<int> withdrawn{0};
};

// The checkpoint after the HPA and DCO steps: when a selected drive needs a
// power-off cycle to show its new size, every queue stops here for good and
// the operator is asked for it.
class CResetCommand : public CAllAtOnceCommand {
 public:
  CResetCommand(CBlkDevMgr* mgr, bool halt);
  bool single_entrance_hook() REQUIRES(this) override;
  int all_together_hook() REQUIRES(this) override;
  std::shared_ptr<CBlkDev> GetDeviceWithRebootRequires() const;
  int DoReboot();

  CBlkDevMgr* mgr;
};

// The end of a task: the log's appender error handlers run once, when the
// last drive has finished all its commands.
class CSessionTerminatorCommand : public CAllAtOnceCommand {
 public:
  CSessionTerminatorCommand();
  bool single_entrance_hook() REQUIRES(this) override { return true; }
  int all_together_hook() REQUIRES(this) override;
};

// A countdown in the device's status text.
class CDelayCommand : public CCommand {
 public:
  CDelayCommand(std::shared_ptr<CBlkDev> device, int delay, const char* format);
  std::string GetName() const override { return "delay"; }
  int GetStatus() override;
  int Run(bool sync) override;
  bool CanCancel() const override { return true; }
  int Cancel() override;

  std::shared_ptr<CBlkDev> device;
  int32_t delay;
  std::atomic<time_t> end{0};
  std::string format;

 private:
  // A cancel that came before the countdown began skips it.
  std::atomic<bool> cancel_requested{false};
};
