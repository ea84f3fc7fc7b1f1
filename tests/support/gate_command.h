// A queue command that holds its queue until the test opens the gate (or
// the command is cancelled); WaitEntered() waits until the queue runs it.
#pragma once
#include <condition_variable>
#include <mutex>

#include "command/command.h"
#include "device/blkdev.h"

class GateCommand : public CCommand {
 public:
  GateCommand() : CCommand(BLKDEV_CMD_DELAY, true) {}
  std::string GetName() const override { return "gate"; }
  int GetStatus() override { return 0; }
  int Run(bool) override { return Set(entered), Wait(open), 0; }
  bool CanCancel() const override { return true; }
  int Cancel() override { return Open(), 0; }
  void Open() { Set(open); }
  void WaitEntered() { Wait(entered); }

 private:
  void Set(bool& flag) { std::lock_guard<std::mutex> g(m); flag = true; cv.notify_all(); }
  void Wait(const bool& flag) { std::unique_lock<std::mutex> g(m); cv.wait(g, [&] { return flag; }); }
  std::mutex m;
  std::condition_variable cv;
  bool entered = false, open = false;
};
