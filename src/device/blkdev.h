// One block device: what discovery found out about it, the commands it
// offers, its command queue and queue thread, the status text and progress
// figures shown by the interface, and its report.
#pragma once
#include <fcntl.h>
#include <stdint.h>
#include <time.h>

#include <atomic>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/lockable.h"
#include "command/command.h"
#include "device/devfile.h"
#include "report/report.h"

class CDataBuffer;

// Argument of SetWiping: 0 clear the selection, 1 set it, above 1 toggle it.
enum wiping_command_e { WIPING_CLEAR = 0, WIPING_SET = 1, WIPING_TOGGLE = 2 };

// One partition as the kernel sees it.
struct part_t {
  int64_t number = 0;  // digits right after the device name (sda3 -> 3)
  uint64_t size = 0;   // bytes
};

// What sysfs says about a kernel name: its device numbers, size and model.
struct sysfs_identity_t {
  bool found = false;  // the name has readable device numbers
  int32_t major = 0;
  int32_t minor = 0;
  uint64_t size_sectors = 0;
  std::string model;
  bool operator==(const sysfs_identity_t& o) const {
    return found == o.found && major == o.major && minor == o.minor && size_sectors == o.size_sectors &&
           model == o.model;
  }
};
sysfs_identity_t read_sysfs_identity(const std::string& name);

// How discovery reached a drive: which probe answered (CBlkDevData::bus).
enum blkdev_bus_e {
  BUS_NODE_FAILED = 0,  // the device node failed to open
  BUS_NONE = 1,         // nothing answered, or no probe was made
  BUS_USB = 3,          // on a USB bus, not answering ATA over SCSI/ATA translation
  BUS_ATA_IDE = 4,      // ATA IDENTIFY through the IDE taskfile interface
  BUS_ATA_SAT = 5,      // ATA IDENTIFY through SCSI/ATA translation
  BUS_SCSI = 6,         // SCSI INQUIRY
  BUS_NVME = 7,         // an NVMe namespace
};

// SCSI peripheral device type of a CD/DVD drive, which is never wiped.
constexpr int SCSI_TYPE_CDROM = 5;

// Facts about a device filled in by discovery and the device classes.
class CBlkDevData {
 public:
  int32_t major = 0;
  int32_t minor = 0;
  int32_t bus = BUS_NODE_FAILED;  // a blkdev_bus_e
  int32_t scsi_type = 0;          // SCSI peripheral device type (SCSI_TYPE_CDROM)
  int32_t wipe_selected = 0;
  int32_t log_device = 0;
  std::string name;  // kernel name; empty while disconnected
  std::string model;
  std::string vendor;
  std::string type_name;
  std::string aux_info;  // free text for the device classes
  std::string serial;
  std::string markers;  // " LCK", " REBOOT", " HPA", " DCO", " BB"
  std::vector<std::string> details;
  int32_t not_writable = 0;
  int32_t disconnected = 0;
  time_t disconnect_time = 0;
  uint32_t sector_size = 512;
  uint64_t size_bytes = 0;
  uint64_t size_sectors = 0;
  uint64_t full_size_bytes = 0;
  uint64_t bad_sectors = 0;
  std::vector<part_t> partitions;
  // What sysfs said of the drive's name when it was found (or came back).
  sysfs_identity_t found_as;

  // "WIPE" for a selected device, "LOG " for the log device, else blank (in
  // the manual mode) or "----".
  const char* GetWipingStatusString() const;
};

// What initialisation finds out and the interface shows. A refresh builds it
// aside and swaps it in under the device lock (CBlkDev::Publish), so that the
// interface never sees it half rewritten.
struct blkdev_info_t {
  std::string model;
  std::string serial;
  std::string markers;
  std::vector<std::string> details;
  std::vector<std::shared_ptr<CCommand>> commands;
  uint64_t size_bytes = 0;
  uint64_t size_sectors = 0;
  uint64_t full_size_bytes = 0;
  uint64_t bad_sectors = 0;
};

// A drive's kernel name and device numbers, read together under the device
// lock.
struct blkdev_node_t {
  std::string name;
  int32_t major = 0;
  int32_t minor = 0;
};

// The facts are a protected base: a refresh swaps them in (Publish) and the
// monitor changes the flags under the device lock while other threads run,
// so outside the device classes they are read through Snapshot() and the
// locked accessors. The lock base is protected, not private: every device
// class constructs and destroys the virtual base itself, so it must be able
// to reach it.
class CBlkDev : protected CBlkDevData, protected virtual CLockable {
 public:
  CBlkDev();
  explicit CBlkDev(const CBlkDevData& data);
  virtual ~CBlkDev();

  virtual int Init();
  virtual int Refresh();
  virtual int ReadSector(unsigned long long lba, unsigned char* buf);
  virtual void SetCommandStatus(const char* text);
  virtual int GetCommandStatus(std::string& out);
  virtual bool IsCommandStatusChanged();
  virtual bool IsReady();
  virtual bool NeedReboot();
  virtual void ScanPartitions();
  virtual int SetWiping(wiping_command_e v);
  virtual bool CanBeWiped();
  virtual bool SupportsHardwareWipe();
  virtual int RunCommand(std::shared_ptr<CCommand> cmd);
  virtual int CommandComplete(const CCommand* cmd);
  virtual int QueueCommand(std::shared_ptr<CCommand> cmd);
  virtual int RunCommandQueue();
  virtual void ClearCommandQueue();
  virtual std::shared_ptr<CCommand> GetCurrentCommand();
  virtual std::shared_ptr<CCommand> GetCommandById(blkdev_command_t id);
  virtual int CancelWipe();
  virtual int Wipe();
  virtual int WipeHW();
  virtual int PrintWipingStatus(char* buf, int size);
  virtual void SetDisconnectedFlag();
  virtual void ComeBackAfterDisconnect(const char* new_name);
  virtual int PreWipe();
  virtual int WipePass(int fd, CDataBuffer* buf, int pass, int start, int previous_start,
                       long (*write)(int, const void*, unsigned long, long));
  virtual int VerifyPass(int fd, CDataBuffer* buf, int pass, int start, int previous_start,
                         long (*read)(int, void*, unsigned long, long));
  virtual void ClearCommands();
  virtual int Trim_helper_trim_range(const CDevFile& file, unsigned long lba, unsigned int count) const;

  int DoWipe(int hardware);
  int Trim();
  int Ping();
  static const char* GetCommandName(blkdev_command_t id);

  // Records a finished pass in the device's report (takes the device lock,
  // so it is safe against ClearCommandQueue replacing the report).
  void LogFinishedPass(const std::string& pass_name, int status, const cert_step_t& step = cert_step_t());
  // Records a hidden area removed before the wipe (for the certificate).
  void NoteHiddenAreaRemoved(bool dco);

  // Swaps `info` in under the device lock; `info` gets the old values.
  void Publish(blkdev_info_t& info);
  // Copies taken under the device lock: the facts the interface draws and
  // the commands it offers.
  CBlkDevData Snapshot();
  // The kernel name and numbers, read under the device lock: the rescan
  // thread clears the name when the drive goes and sets name and numbers
  // when the drive comes back, while commands may still run.
  std::string Name() const EXCLUDES(this);
  blkdev_node_t Node() const EXCLUDES(this);
  // Opens the drive's node, made from its numbers when missing (not valid,
  // with the failure logged, when it cannot be opened). Commands open it
  // read-only and non-blocking.
  unique_fd OpenNode(int flags = O_RDONLY | O_NONBLOCK) EXCLUDES(this);
  std::vector<std::shared_ptr<CCommand>> Commands();

  // Whether the queue thread is running (under the device lock).
  bool IsQueueRunning();

  // Records a command started on the device's behalf from outside RunCommand
  // (a task step running one of the device's commands), so that its
  // completion matches and IsReady sees it running.
  void SetCurrentCommand(std::shared_ptr<CCommand> cmd);

  // The disconnected flag and the wipe selection, read under the device lock
  // (for threads other than the monitor, which changes them).
  bool IsDisconnected();
  bool IsSelectedForWiping();
  // Marks the device as holding the log medium (or not); a device that holds
  // it loses any wipe selection and can never be selected again.
  void SetLogDeviceFlag(bool holds_log);
  bool IsLogDevice();

  // Whether a queue thread given up by ClearCommandQueue (its command could
  // not be cancelled) has still to end. The destructor waits for such
  // threads, but only after the destructors of derived classes have run:
  // owners that destroy a device early should wait for this to turn false.
  bool HasGivenUpQueueThreads();

  void QueueThreadProc(unsigned generation);

  // The commands the device offers, in menu order. Built by Init before the
  // device is listed; a refresh swaps in a new list under the device lock
  // (Publish), so other threads read it through Commands or GetCommandById.
  std::vector<std::shared_ptr<CCommand>> commands;
  // Set by CancelWipe, polled by the pass loops.
  std::atomic<bool> cancel_requested{false};
  // Where the last verification that found other data than written found
  // it first (a byte offset), -1 when none did; the command thread's.
  long long verify_mismatch = -1;
  // Guarded by the device lock from here on.
  std::string status_text GUARDED_BY(this);
  bool status_changed GUARDED_BY(this) = false;
  bool refresh_pending GUARDED_BY(this) = false;  // makes CommandComplete call Refresh
  std::shared_ptr<CCommand> current_command GUARDED_BY(this);
  std::unique_ptr<CDeviceReport> report GUARDED_BY(this);
  std::list<std::shared_ptr<CCommand>> queue GUARDED_BY(this);
  std::thread queue_thread GUARDED_BY(this);  // joinable until joined or given up
  bool queue_running GUARDED_BY(this) = false;
  bool queue_stop GUARDED_BY(this) = false;
  double percent GUARDED_BY(this) = 0;
  uint64_t speed GUARDED_BY(this) = 0;
  char progress_label[64] GUARDED_BY(this) = {0};
  int32_t eta GUARDED_BY(this) = 10;

 protected:
  // The device lock, for the device classes (CLockWrapper guard(DeviceLock())).
  CLockable& DeviceLock() RETURN_CAPABILITY(this) { return *this; }

 private:
  // The phases of a wipe (a pass, or its verification; wipe.cc): the
  // start shown to the interface ("Wiping 1/3") and logged, the end logged
  // and recorded in the report (`step` with the phase's time), and the
  // progress of a pass at `pos` after `done` more bytes, true (logged)
  // when it is cancelled.
  uint64_t BeginPhase(const char* label, const char* verb, int i, int n, const std::string& detail);
  void EndPhase(const char* verb, int i, int n, int result, const std::string& report_name, cert_step_t step,
                uint64_t t0);
  bool PassProgress(const char* verb, int pass, uint64_t pos, uint64_t done, uint64_t total, uint64_t t0);

  // The name and numbers are private to this class, whose own code reads
  // them under the device lock; the device classes and everyone else go
  // through Name() and Node(). The report reads them directly: it is only
  // ever called with the device lock held. Discovery fills the facts in
  // before the device is listed.
  friend class CDeviceReport;
  friend class CBlkDevProbe;
  using CBlkDevData::major;
  using CBlkDevData::minor;
  using CBlkDevData::name;

  // Queue thread bookkeeping: a queue thread that was given up by
  // ClearCommandQueue sees a newer generation and leaves the device alone.
  unsigned queue_generation GUARDED_BY(this) = 0;
  // Whether the queue thread of `generation` was given up by
  // ClearCommandQueue and must leave the device to its new owner (it then
  // counts itself out of the given-up threads).
  bool GivenUp(unsigned generation) REQUIRES(this);
  // Queue threads given up that have not ended yet; the destructor waits for
  // them, since they return to this object once their command ends.
  int orphan_queue_threads GUARDED_BY(this) = 0;
};
