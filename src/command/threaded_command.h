// Long device operations: the work runs in a command thread of its own while
// a progress thread refreshes the device's status text twice a second.
//
// CInterruptibleCommand<D>: the work is do_real_job_here(); Cancel() asks the
// device to stop at its next cancellation point (D::CancelWipe).
// CCommandUninterruptible<D, P>: the work is a plain function called with a
// parameter fixed at construction; it cannot be cancelled and its progress
// text is a countdown of the expected duration.
//
// D must provide: Name(), SetCommandStatus(const char*),
// PrintWipingStatus(char*, int), CancelWipe(), CommandComplete(const CCommand*);
// CWipeCommand also needs Wipe() and WipeHW(), CTrimCommand needs Trim().
#pragma once
#include <stdio.h>
#include <time.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "app/lockable.h"
#include "app/log.h"
#include "app/util.h"
#include "command/command.h"

// Shared by both templates: the command's status under its lock, and a wait
// that ends early as soon as the status leaves "running".
class CThreadedCommandBase : public CCommand, private CLockable {
 public:
  CThreadedCommandBase(blkdev_command_t id, bool hidden) : CCommand(id, hidden) {}

  int GetStatus() override {
    CLockWrapper guard(*this);
    return status;
  }

 protected:
  void LockCmd() ACQUIRE() { Lock(); }
  void UnlockCmd() RELEASE() { Unlock(); }
  int StatusLocked() const REQUIRES(this) { return status; }
  void SetStatusLocked(int s) REQUIRES(this) { status = s; }

  // Sets the status and wakes the progress thread.
  void SetStatus(int s) {
    {
      CLockWrapper guard(*this);
      status = s;
    }
    Notify();
  }

  void Notify() {
    std::lock_guard<std::mutex> g(wait_mutex);
    wake.notify_all();
  }

  // Sleeps for `ms` milliseconds or until the status is no longer "running";
  // returns the status seen at the end.
  int WaitWhileRunning(int ms) {
    std::unique_lock<std::mutex> g(wait_mutex);
    wake.wait_for(g, std::chrono::milliseconds(ms), [this] { return GetStatus() != CMD_STATUS_RUNNING; });
    return GetStatus();
  }

  // Starts the command thread on `body`; the common part of Run().
  int StartThread(bool sync, std::function<void()> body, const std::string& name) {
    std::thread thread;
    LockCmd();
    if (status != CMD_STATUS_IDLE) {
      UnlockCmd();
      return -1;
    }
    int rc = start_thread(thread, std::move(body));
    if (rc != 0) {
      status = CMD_STATUS_THREAD_FAILED;
      LOG_ERROR(g_dbg_log, "Failed to start command thread for " << name);
      UnlockCmd();
      return rc;
    }
    status = CMD_STATUS_RUNNING;
    // Nobody waits for an asynchronous run: its thread reports completion to
    // the device and ends on its own.
    if (!sync) thread.detach();
    UnlockCmd();
    if (sync) thread.join();
    return 0;
  }

 private:
  int status GUARDED_BY(this) = CMD_STATUS_IDLE;
  std::mutex wait_mutex;
  std::condition_variable wake;
};

template <class D>
class CInterruptibleCommand : public CThreadedCommandBase {
 public:
  CInterruptibleCommand(D* device, blkdev_command_t id, bool hidden, const char* name)
      : CThreadedCommandBase(id, hidden), device(device), name(name ? name : "") {}

  std::string GetName() const override { return name; }
  int Run(bool sync) override {
    auto body = [this] { CommandThreadBody(); };
    return StartThread(sync, body, name);
  }
  bool CanCancel() const override { return true; }

  int Cancel() override {
    LockCmd();
    // Only a running command moves to "cancelling"; an idle one stays
    // runnable.
    bool running = StatusLocked() == CMD_STATUS_RUNNING;
    if (running) SetStatusLocked(CMD_STATUS_CANCELLING);
    UnlockCmd();
    if (running) Notify();
    return device->CancelWipe();
  }

  virtual int do_real_job_here() = 0;

 protected:
  D* device;
  std::string name;

 private:
  int CommandThreadBody() {
    set_thread_name(name + " worker");
    LOG_INFO(g_dbg_log, device->Name() << ": [" << name << "] Command started");
    LockCmd();
    cancel_seen = false;
    std::thread progress;
    start_thread(progress, [this] { ProgressThreadBody(); });
    UnlockCmd();
    int rc = do_real_job_here();
    // A cancel request that the work answered quickly must still be shown by
    // the progress thread before the final text.
    LockCmd();
    cancel_seen = StatusLocked() == CMD_STATUS_CANCELLING;
    SetStatusLocked(CMD_STATUS_IDLE);
    UnlockCmd();
    Notify();
    if (progress.joinable()) progress.join();
    D* dev = device;
    dev->SetCommandStatus(rc != 0 ? "Failed." : "Completed");
    // The device may drop its last reference to this command here.
    dev->CommandComplete(this);
    return rc;
  }

  void ProgressThreadBody() {
    int period = 10;
    int st = GetStatus();
    while (st == CMD_STATUS_RUNNING) {
      st = WaitWhileRunning(period);
      period = 500;
      if (st != CMD_STATUS_RUNNING) break;
      char buf[256];
      if (device->PrintWipingStatus(buf, sizeof buf) != 0) device->SetCommandStatus(buf);
      st = GetStatus();
    }
    LockCmd();
    bool cancelling = StatusLocked() == CMD_STATUS_CANCELLING || cancel_seen;
    UnlockCmd();
    if (cancelling) device->SetCommandStatus("Cancelling...");
  }

  bool cancel_seen GUARDED_BY(this) = false;  // the run ended while a cancel was pending
};

// Overwrite (hidden clear) or the device's own hardware erase (hidden set).
template <class D>
class CWipeCommand : public CInterruptibleCommand<D> {
 public:
  CWipeCommand(D* device, blkdev_command_t id, bool hidden, const char* name)
      : CInterruptibleCommand<D>(device, id, hidden, name) {}
  int do_real_job_here() override { return this->hidden ? this->device->WipeHW() : this->device->Wipe(); }
};

template <class D>
class CTrimCommand : public CInterruptibleCommand<D> {
 public:
  explicit CTrimCommand(D* device) : CInterruptibleCommand<D>(device, BLKDEV_CMD_TRIM, false, "Trim") {}
  int do_real_job_here() override { return this->device->Trim(); }
};

template <class D, class P>
class CCommandUninterruptible : public CThreadedCommandBase {
 public:
  typedef int (*work_fn_t)(D*, P);

  CCommandUninterruptible(D* device, work_fn_t fn, P param, int duration, const char* name, blkdev_command_t id)
      : CThreadedCommandBase(id, false), fn(fn), device(device), param(param), name(name ? name : ""),
        duration(duration) {}

  std::string GetName() const override { return name; }
  int Run(bool sync) override {
    auto body = [this] { CommandThreadBody(); };
    return StartThread(sync, body, name);
  }
  bool CanCancel() const override { return false; }

  int Cancel() override {
    LOG_ERROR(g_dbg_log, "Internal error: Cancel() invoked for CCommandUninterruptible (id=" << (int)id << ", name="
                                                                                             << name << ")");
    return 0;
  }

 private:
  int CommandThreadBody() {
    LOG_INFO(g_dbg_log, device->Name() << ": [" << name << "] Command started");
    LockCmd();
    deadline = (int32_t)(time(nullptr) + duration);
    std::thread progress;
    start_thread(progress, [this] { ProgressThreadBody(); });
    UnlockCmd();
    int rc = fn(device, param);
    SetStatus(CMD_STATUS_IDLE);
    LOG_INFO(g_dbg_log, device->Name() << ": [" << name << "] Command complete: " << rc);
    if (progress.joinable()) progress.join();
    D* dev = device;
    if (rc == 0) dev->SetCommandStatus("Completed");
    dev->CommandComplete(this);
    return rc;
  }

  void ProgressThreadBody() {
    int period = 10;
    LockCmd();
    int32_t end = deadline;
    UnlockCmd();
    while (GetStatus() == CMD_STATUS_RUNNING) {
      if (WaitWhileRunning(period) != CMD_STATUS_RUNNING) break;
      period = 500;
      char buf[256];
      snprintf(buf, sizeof buf, "%s %s", name.c_str(), CTimeStr((int)(end - (int32_t)time(nullptr))).c_str());
      device->SetCommandStatus(buf);
    }
  }

  work_fn_t fn;
  D* device;
  P param;
  std::string name;
  int32_t duration;
  int32_t deadline GUARDED_BY(this) = 0;
};
