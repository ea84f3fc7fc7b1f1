// The one interface behind every device operation and every task step.
#pragma once
#include <stdint.h>

#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

// Identifiers of device commands (and of the two task-only steps 19 and 20).
enum blkdev_command_t : int32_t {
  BLKDEV_CMD_REFRESH = 0,
  BLKDEV_CMD_VIEW_DATA = 1,
  BLKDEV_CMD_RESET_DCO = 2,
  BLKDEV_CMD_RESET_HPA = 3,
  BLKDEV_CMD_SET_DCO = 4,
  BLKDEV_CMD_SET_HPA = 5,
  BLKDEV_CMD_SMART_SHORT = 6,
  BLKDEV_CMD_SMART_CONVEYANCE = 7,
  BLKDEV_CMD_ATA_ERASE_ZERO = 8,
  BLKDEV_CMD_ATA_ERASE_PATTERN = 9,
  BLKDEV_CMD_TRIM = 10,
  BLKDEV_CMD_STANDBY = 11,
  BLKDEV_CMD_SLEEP = 12,
  BLKDEV_CMD_WIPE = 13,
  BLKDEV_CMD_WIPE_HW = 14,
  BLKDEV_CMD_REBOOT = 15,
  BLKDEV_CMD_HALT = 16,
  BLKDEV_CMD_LOCK = 17,
  BLKDEV_CMD_UNLOCK = 18,
  BLKDEV_CMD_DELAY = 19,
  BLKDEV_CMD_TERMINATOR = 20,
};

// The commands that overwrite or erase the drive: one that never ran must
// leave a failed pass in the report, or the drive would be called wiped.
inline bool overwrites_drive(blkdev_command_t id) {
  return id == BLKDEV_CMD_WIPE || id == BLKDEV_CMD_WIPE_HW || id == BLKDEV_CMD_ATA_ERASE_ZERO ||
         id == BLKDEV_CMD_ATA_ERASE_PATTERN;
}

// Command status values; the device queue and the interface compare against them.
enum command_status_e : int32_t {
  CMD_STATUS_IDLE = 0,           // never started, or finished
  CMD_STATUS_RUNNING = 1,        // running
  CMD_STATUS_EXPIRED = 2,        // finished by expiry (delay command)
  CMD_STATUS_THREAD_FAILED = 3,  // the command thread failed to start
  CMD_STATUS_CANCELLING = 4,     // cancel requested, the work has not stopped yet
};

class CCommand {
 public:
  CCommand(blkdev_command_t id, bool hidden) : id(id), hidden(hidden) {}
  virtual ~CCommand() {}
  virtual std::string GetName() const = 0;
  virtual int GetStatus() = 0;
  // Starts the command; with sync set it returns only when the work has ended.
  virtual int Run(bool sync) = 0;
  virtual bool CanCancel() const = 0;
  virtual int Cancel() = 0;

  const blkdev_command_t id;
  const bool hidden;

  CCommand(const CCommand&) = delete;
  CCommand& operator=(const CCommand&) = delete;
};

typedef std::shared_ptr<CCommand> command_ptr;

// Names the calling thread (the kernel keeps the first 15 characters).
void set_thread_name(const std::string& name);

// Starts `thread` on `fn`: 0, or the error number when no thread can be made
// (which std::thread reports as an exception).
template <class F>
int start_thread(std::thread& thread, F&& fn) {
  try {
    thread = std::thread(std::forward<F>(fn));
    return 0;
  } catch (const std::system_error& e) {
    return e.code().value();
  }
}
