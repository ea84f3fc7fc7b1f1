#include "device/blkdev.h"

#include <errno.h>
#include <stdio.h>
#include <unistd.h>

#include "app/globals.h"
#include "app/log.h"
#include "app/paths.h"
#include "app/util.h"
#include "command/threaded_command.h"

CBlkDev::CBlkDev() : report(new CDeviceReport(this)) {}

CBlkDev::CBlkDev(const CBlkDevData& data) : CBlkDevData(data), report(new CDeviceReport(this)) {}

CBlkDev::~CBlkDev() {
  ClearCommandQueue();
  for (;;) {
    {
      CLockWrapper guard(*this);
      if (orphan_queue_threads == 0) break;
    }
    usleep(10000);
  }
  queue.clear();
  report.reset();
  current_command.reset();
  status_text.clear();
  commands.clear();
}

int CBlkDev::Init() {
  ClearCommands();
  commands.push_back(std::shared_ptr<CCommand>(new CWipeCommand<CBlkDev>(this, BLKDEV_CMD_WIPE, false, "Wipe")));
  LOG_INFO(g_wipe_log,
           "Disk-" << Name() << ": " << model << ", s/n: " << (serial.empty() ? "n/a" : serial) << " device detected.");
  LOG_INFO(g_wipe_log,
           "Disk-" << Name() << ": " << CSizeStr(size_bytes, 'A').c_str() << ", " << CSizeStr(size_bytes, 'B').c_str());
  return 0;
}

int CBlkDev::Refresh() {
  LOG_INFO(g_dbg_log, "Disk-" << Name() << ": re-read device info from system");
  return Init();
}

void CBlkDev::SetCommandStatus(const char* text) {
  CLockWrapper guard(*this);
  status_changed = true;
  status_text = text ? text : "";
}

int CBlkDev::GetCommandStatus(std::string& out) {
  CLockWrapper guard(*this);
  if (status_text.empty()) return 0;
  out = status_text;
  return 1;
}

bool CBlkDev::IsCommandStatusChanged() {
  CLockWrapper guard(*this);
  bool changed = status_changed;
  status_changed = false;
  return changed;
}

bool CBlkDev::IsReady() {
  CLockWrapper guard(*this);
  if (disconnected) {
    LOG_INFO(g_dbg_log, name << ": not ready - device removed");
    return false;
  }
  if (queue_running) {
    LOG_INFO(g_dbg_log, name << ": not ready - device busy");
    return false;
  }
  if (current_command) {
    if (current_command->GetStatus() != CMD_STATUS_IDLE) {
      LOG_INFO(g_dbg_log, name << ": device not ready");
      return false;
    }
    LOG_INFO(g_dbg_log, name << ": device ready - command reported status ok");
    return true;
  }
  LOG_INFO(g_dbg_log, name << ": device ready - no commands running");
  return true;
}

bool CBlkDev::NeedReboot() { return false; }

int CBlkDev::SetWiping(wiping_command_e v) {
  CLockWrapper guard(*this);
  int previous = wipe_selected;
  if (v == WIPING_CLEAR || v == WIPING_SET)
    wipe_selected = (int)v;
  else
    wipe_selected = !wipe_selected;
  if (size_bytes == 0 || log_device) wipe_selected = 0;
  LOG_DEBUG(g_dbg_log, name << ": set select for wipe flag: " << (wipe_selected ? "on" : "off"));
  return previous;
}

bool CBlkDev::CanBeWiped() { return scsi_type != SCSI_TYPE_CDROM; }

bool CBlkDev::SupportsHardwareWipe() { return false; }

int CBlkDev::RunCommand(std::shared_ptr<CCommand> cmd) {
  if (!cmd) return EINVAL;
  CLockWrapper guard(*this);
  if (current_command && current_command->GetStatus() == CMD_STATUS_RUNNING) return EBUSY;
  current_command = cmd;
  return cmd->Run(false);
}

int CBlkDev::CommandComplete(const CCommand* cmd) {
  if (!cmd) return EINVAL;
  // Keep the finished command alive until the lock is released; it may be the
  // last reference.
  std::shared_ptr<CCommand> finished;
  bool refresh = false;
  {
    CLockWrapper guard(*this);
    if (cmd != current_command.get())
      LOG_ERROR(g_dbg_log, "Internal error: CommandComplete(cmd_ptr) and current_command ptr mismatch");
    finished.swap(current_command);
    if (refresh_pending) {
      refresh_pending = false;
      refresh = true;
    }
  }
  if (refresh) {
    Refresh();
    // The drive's own command (an HPA or DCO reset) may have changed the size
    // the kernel gives its name; while the name keeps this drive's numbers it
    // is still this drive, and its report goes there.
    sysfs_identity_t id = read_sysfs_identity(Name());
    CLockWrapper guard(*this);
    if (id.found && id.major == found_as.major && id.minor == found_as.minor && id.model == found_as.model)
      found_as = id;
  }
  return 0;
}

int CBlkDev::QueueCommand(std::shared_ptr<CCommand> cmd) {
  if (!cmd) return -1;
  CLockWrapper guard(*this);
  queue.push_back(cmd);
  return 0;
}

int CBlkDev::RunCommandQueue() {
  LOG_INFO(g_dbg_log, Name() << ": Run command queue");
  if (!IsReady()) {
    LOG_DEBUG(g_dbg_log, Name() << ": Unable to run commands queue: device is not ready.");
    return EBUSY;
  }
  CLockWrapper guard(*this);
  if (queue.empty()) {
    LOG_INFO(g_dbg_log, name << ": Empty command queue. Skipping");
    return 0;
  }
  // A queue thread that ended on its own is collected before the next one.
  // It has nothing left to do once queue_running is clear.
  if (queue_thread.joinable()) {
    std::thread old = std::move(queue_thread);
    guard.Unlock();
    old.join();
    guard.Lock();
    if (queue_running) return EBUSY;
  }
  if (g_dbg_log.isEnabledFor(log4cplus::TRACE_LOG_LEVEL)) {
    LOG_TRACE(g_dbg_log, name << ": Command queue follows:");
    int i = 1;
    for (auto& c : queue) {
      LOG_TRACE(g_dbg_log, name << ": " << i << " = " << (c ? c->GetName() : std::string("NULL")));
      ++i;
    }
  }
  queue_stop = false;
  const unsigned generation = queue_generation;
  int rc = start_thread(queue_thread, [this, generation] {
    {
      CLockWrapper guard(*this);
      set_thread_name(name + " queue");
    }
    QueueThreadProc(generation);
  });
  if (rc != 0) {
    LOG_ERROR(g_dbg_log, name << ": Command queue failed: unable to create thread");
    queue_running = false;
  } else {
    queue_running = true;
  }
  return rc;
}

bool CBlkDev::HasGivenUpQueueThreads() {
  CLockWrapper guard(*this);
  return orphan_queue_threads > 0;
}

void CBlkDev::SetCurrentCommand(std::shared_ptr<CCommand> cmd) {
  CLockWrapper guard(*this);
  current_command.swap(cmd);
  // The previous command, if this was its last holder, goes after the lock.
  guard.Unlock();
}

bool CBlkDev::IsDisconnected() {
  CLockWrapper guard(*this);
  return disconnected != 0;
}

bool CBlkDev::IsSelectedForWiping() {
  CLockWrapper guard(*this);
  return wipe_selected == 1;
}

void CBlkDev::SetLogDeviceFlag(bool holds_log) {
  CLockWrapper guard(*this);
  log_device = holds_log ? 1 : 0;
  if (log_device) wipe_selected = 0;
}

bool CBlkDev::IsLogDevice() {
  CLockWrapper guard(*this);
  return log_device != 0;
}

bool CBlkDev::IsQueueRunning() {
  CLockWrapper guard(*this);
  return queue_running;
}

void CBlkDev::QueueThreadProc(unsigned generation) {
  CLockWrapper guard(*this);
  if (GivenUp(generation)) return;
  report->hookWipingStarted();
  for (;;) {
    if (queue_stop || queue.empty()) break;
    std::shared_ptr<CCommand> cmd = queue.front();
    size_t remaining = queue.size();
    const std::string who = name;  // the rescan thread may change it once unlocked
    guard.Unlock();
    if (cmd) {
      LOG_INFO(g_dbg_log, who << ": Running command '" << cmd->GetName() << "', remaining: " << remaining);
      cmd->Run(true);
    } else {
      LOG_INFO(g_dbg_log, who << ": Null command pointer, remaining: " << remaining);
    }
    guard.Lock();
    if (GivenUp(generation)) return;
    if (!queue.empty()) queue.pop_front();
  }
  guard.Unlock();
  sys_sync();
  guard.Lock();
  if (GivenUp(generation)) return;
  if (queue_stop) {
    LOG_INFO(g_dbg_log, name << ": Command queue thread cancelled");
    // A wipe or erase stopped before it began has no pass of its own: the
    // report must not call the drive wiped.
    for (auto& c : queue)
      if (c && overwrites_drive(c->id)) {
        report->logFinishedPass("wiping", CDeviceReport::failed);
        break;
      }
  } else
    LOG_INFO(g_dbg_log, name << ": Command queue thread complete");
  queue_running = false;
  LOG_DEBUG(g_dbg_log, name << ": commands queue is finished");
  report->writeToDisk();
}

bool CBlkDev::GivenUp(unsigned generation) {
  if (generation == queue_generation) return false;
  --orphan_queue_threads;
  return true;
}

void CBlkDev::ClearCommandQueue() {
  enum { NOTHING, CANCELLED, CANNOT_CANCEL } action = NOTHING;
  std::thread thread;
  std::string who;
  {
    CLockWrapper guard(*this);
    who = name;
    if (queue_running) {
      queue_stop = true;
      if (!queue.empty() && queue.front()) {
        std::shared_ptr<CCommand> front = queue.front();
        if (front->CanCancel()) {
          front->Cancel();
          action = CANCELLED;
        } else {
          action = CANNOT_CANCEL;
        }
      }
      LOG_TRACE(g_dbg_log, "Disk-" << name << ": cancelling command execution thread");
    }
    if (queue_thread.joinable()) {
      thread = std::move(queue_thread);
      if (action == CANNOT_CANCEL) {
        // The queue thread stays blocked in the running command; let it go
        // and make it leave the device alone when it wakes up.
        ++queue_generation;
        ++orphan_queue_threads;
        queue_running = false;
        thread.detach();
      }
    }
  }
  if (action == CANCELLED) LOG_DEBUG(g_dbg_log, who << ": Cancelling current command...");
  if (action == CANNOT_CANCEL)
    LOG_DEBUG(g_dbg_log, who << ": Command execution thread killed because current command could not be cancelled.");
  if (thread.joinable()) thread.join();
  if (action == CANCELLED) LOG_DEBUG(g_dbg_log, who << ": Command cancelled.");
  CLockWrapper guard(*this);
  queue.clear();
  report.reset(new CDeviceReport(this));
}

std::shared_ptr<CCommand> CBlkDev::GetCurrentCommand() {
  CLockWrapper guard(*this);
  return current_command;
}

std::shared_ptr<CCommand> CBlkDev::GetCommandById(blkdev_command_t id) {
  CLockWrapper guard(*this);
  for (auto& c : commands)
    if (c && c->id == id) return c;
  return std::shared_ptr<CCommand>();
}

int CBlkDev::CancelWipe() {
  cancel_requested = true;
  return 0;
}

int CBlkDev::Wipe() { return DoWipe(0); }

int CBlkDev::WipeHW() { return DoWipe(1); }

int CBlkDev::PrintWipingStatus(char* buf, int size) {
  if (!buf) return 0;
  CLockWrapper guard(*this);
  return snprintf(buf, size > 0 ? (size_t)size : 0, "%s %2.1f%% %s/s ETA %s", progress_label, percent,
                  CSizeStr(speed, 'A').c_str(), CTimeStr(eta).c_str());
}

void CBlkDev::Publish(blkdev_info_t& info) {
  CLockWrapper guard(*this);
  model.swap(info.model);
  serial.swap(info.serial);
  markers.swap(info.markers);
  details.swap(info.details);
  commands.swap(info.commands);
  std::swap(size_bytes, info.size_bytes);
  std::swap(size_sectors, info.size_sectors);
  std::swap(full_size_bytes, info.full_size_bytes);
  std::swap(bad_sectors, info.bad_sectors);
}

CBlkDevData CBlkDev::Snapshot() {
  CLockWrapper guard(*this);
  return *this;
}

// Taking the lock changes nothing of the device, so const readers may too.
std::string CBlkDev::Name() const {
  CLockWrapper guard(const_cast<CBlkDev&>(*this));
  return name;
}

blkdev_node_t CBlkDev::Node() const {
  CLockWrapper guard(const_cast<CBlkDev&>(*this));
  return blkdev_node_t{name, major, minor};
}

unique_fd CBlkDev::OpenNode(int flags) {
  const blkdev_node_t node = Node();
  return unique_fd(open_device_node(node.major, node.minor, node.name.c_str(), flags));
}

std::vector<std::shared_ptr<CCommand>> CBlkDev::Commands() {
  CLockWrapper guard(*this);
  return commands;
}

void CBlkDev::SetDisconnectedFlag() {
  CLockWrapper guard(*this);
  name.clear();
  disconnected = 1;
  disconnect_time = time(nullptr);
}

sysfs_identity_t read_sysfs_identity(const std::string& name) {
  sysfs_identity_t id;
  if (name.empty()) return id;
  const std::string base = sys_path("/sys/block/" + name + "/");
  if (FILE* f = fopen((base + "dev").c_str(), "r")) {
    id.found = fscanf(f, "%d:%d", &id.major, &id.minor) == 2;
    fclose(f);
  }
  if (FILE* f = fopen((base + "size").c_str(), "r")) {
    unsigned long long sectors = 0;
    if (fscanf(f, "%llu", &sectors) == 1) id.size_sectors = sectors;
    fclose(f);
  }
  read_string_from_file((base + "device/model").c_str(), id.model);
  return id;
}

void CBlkDev::ComeBackAfterDisconnect(const char* new_name) {
  // The kernel may give the drive other numbers as well as another name.
  sysfs_identity_t id = read_sysfs_identity(new_name ? new_name : "");
  CLockWrapper guard(*this);
  name = new_name ? new_name : "";
  found_as = id;
  if (id.found) {
    major = id.major;
    minor = id.minor;
  }
  disconnected = 0;
  status_text = "The device was connected again.";
}

int CBlkDev::PreWipe() { return 0; }

void CBlkDev::ClearCommands() {
  CLockWrapper guard(*this);
  commands.clear();
}

int CBlkDev::Trim_helper_trim_range(const CDevFile&, unsigned long, unsigned int) const { return -1; }

int CBlkDev::Ping() {
  unsigned char buf[512];
  return ReadSector(0, buf);
}

const char* CBlkDevData::GetWipingStatusString() const {
  if (wipe_selected) return "WIPE";
  if (log_device) return "LOG ";
  return g_manual ? "    " : "----";
}

const char* CBlkDev::GetCommandName(blkdev_command_t id) {
  static const char* const names[] = {"Refresh",
                                      "View data",
                                      "Reset DCO",
                                      "Reset HPA",
                                      "Set DCO",
                                      "Set HPA",
                                      "Short SMART test",
                                      "Conveyance SMART test",
                                      "ATA Erase [zero]",
                                      "ATA Erase [pattern]",
                                      "TRIM",
                                      "Standby",
                                      "Sleep",
                                      "Wipe",
                                      "Wipe",
                                      "Reboot",
                                      "Halt",
                                      "Lock disk",
                                      "Unlock disk"};
  if ((int)id < 0 || (int)id > 18) return nullptr;
  return names[id];
}

void CBlkDev::LogFinishedPass(const std::string& pass_name, int status, const cert_step_t& step) {
  CLockWrapper guard(*this);
  report->logFinishedPass(pass_name, status, step);
}

void CBlkDev::NoteHiddenAreaRemoved(bool dco) {
  CLockWrapper guard(*this);
  report->noteHiddenAreaRemoved(dco);
}
