// The wipe task: one command queue per selected device, filled from the
// session's wipe options and what the device offers, all started together and
// held together at two shared checkpoints.
#pragma once
#include <atomic>
#include <memory>

#include "device/blkdev.h"
#include "task/task_commands.h"

class CBlkDevMgr;

// Seconds a drive attached after the start counts down before it starts.
extern int g_additional_drive_delay;

class CWipeTask {
 public:
  CWipeTask();

  // True when no device is both connected and selected.
  bool IsNothingToDo(CBlkDevMgr* mgr);
  // Prepares and starts the queues of all selected, ready devices; 0 when at
  // least one queue was prepared, else -1.
  int Start(CBlkDevMgr* mgr);
  // Adds one device to a running task.
  void StartOnAdditionalDrive(std::shared_ptr<CBlkDev> dev, CBlkDevMgr* mgr);
  // Fills one device's queue.
  void PrepareCommandsQueue(std::shared_ptr<CBlkDev> dev, CBlkDevMgr* mgr, bool additional);

  std::atomic<bool> started{false};
  std::shared_ptr<CAllAtOnceCommand> reset_checkpoint;  // created with the first queue
  std::shared_ptr<CAllAtOnceCommand> terminator;
};

extern CWipeTask g_wipe_task;
