#include "devmgr/devmgr.h"

#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>

#include "app/log.h"
#include "app/paths.h"
#include "command/command.h"
#include "devmgr/blkdev_probe.h"

CDevMgrHook::~CDevMgrHook() {
  if (mgr) mgr->UnregisterHooks(this);
}

CBlkDevMgr::CBlkDevMgr() {}

CBlkDevMgr::~CBlkDevMgr() {
  StopScanDevices();
  devices.clear();
  held_back.clear();
  dropped.clear();
  log_devices.clear();
  CLockWrapper guard(*this);
  for (CDevMgrHook* h : hooks) h->mgr = nullptr;
  hooks.clear();
}

void CBlkDevMgr::StartScanDevices() {
  if (monitor_thread.joinable()) return;
  monitor_running = true;
  int rc = start_thread(monitor_thread, [this] {
    set_thread_name("BlockDeviceMonitor");
    MonitorLoop();
  });
  if (rc != 0) {
    LOG_ERROR(g_dbg_log, "Unable to start background thread for monitoring block devices: " << strerror(rc));
    monitor_running = false;
    std::set<std::string> previous;
    MonitorPass(previous, true);
  }
}

void CBlkDevMgr::StopScanDevices() {
  if (!monitor_thread.joinable()) return;
  monitor_running = false;
  monitor_thread.join();
}

int CBlkDevMgr::GetCount() {
  CLockWrapper guard(*this);
  return (int)devices.size();
}

std::shared_ptr<CBlkDev> CBlkDevMgr::GetBlkDev(int index) {
  CLockWrapper guard(*this);
  if (index < 0 || index >= (int)devices.size()) return std::shared_ptr<CBlkDev>();
  return devices[(size_t)index];
}

int CBlkDevMgr::IsDetectingDrivesInitialization() {
  CLockWrapper guard(*this);
  return detecting_drives ? 1 : 0;
}

int CBlkDevMgr::GetHeldBackCount() {
  CLockWrapper guard(*this);
  return (int)held_back.size();
}

std::shared_ptr<CBlkDev> CBlkDevMgr::GetHeldBackDev(int index) {
  CLockWrapper guard(*this);
  if (index < 0 || index >= (int)held_back.size()) return std::shared_ptr<CBlkDev>();
  return held_back[(size_t)index];
}

void CBlkDevMgr::RegisterHooks(CDevMgrHook* hook) {
  if (!hook) return;
  CLockWrapper guard(*this);
  hooks.push_back(hook);
  hook->mgr = this;
}

void CBlkDevMgr::UnregisterHooks(CDevMgrHook* hook) {
  if (!hook) return;
  CLockWrapper guard(*this);
  auto it = std::find(hooks.begin(), hooks.end(), hook);
  if (it != hooks.end()) hooks.erase(it);
  hook->mgr = nullptr;
}

void CBlkDevMgr::runDeviceHooks(std::shared_ptr<CBlkDev> dev, void (CDevMgrHook::*fn)(std::shared_ptr<CBlkDev>)) const {
  for (CDevMgrHook* h : hooks) (h->*fn)(dev);
}

std::set<std::string> CBlkDevMgr::ScanSysBlockDevices() const {
  std::set<std::string> names;
  const std::string path = sys_path("/sys/block");
  DIR* dir = opendir(path.c_str());
  if (!dir) {
    int err = errno;
    LOG_ERROR(g_dbg_log, "Could not open devices directory '" << path << "': " << strerror(err));
    return names;
  }
  while (struct dirent* ent = readdir(dir)) {
    const char* n = ent->d_name;
    if (n[0] == '.') continue;
    if (strncmp(n, "ram", 3) == 0 || strncmp(n, "loop", 4) == 0 || strncmp(n, "mtdblock", 8) == 0) continue;
    names.insert(n);
  }
  if (closedir(dir) != 0) {
    int err = errno;
    LOG_WARN(g_dbg_log, "Failed to close directory '" << path << "': " << strerror(err));
  }
  return names;
}

void CBlkDevMgr::AddDevice(const char* name) {
  const std::string n = name ? name : "";
  CBlkDevProbe probe;
  std::shared_ptr<CBlkDev> dev = probe.CreateFromSysBlock(name);
  if (!dev) {
    LOG_ERROR(g_dbg_log, "Disk-" << n << ": creation failed");
    return;
  }
  LOG_INFO(g_dbg_log, "Initializing device " << n);
  if (dev->Init() != 0) {
    LOG_ERROR(g_dbg_log, "Disk-" << n << ": initialization failed");
    return;
  }
  dev->ScanPartitions();
  const CBlkDevData found = dev->Snapshot();

  // `dev` outlives the guard: a new object that lost to an old one is
  // released after the lock.
  CLockWrapper guard(*this);
  // Marked before anyone else can see the device, so that it is never
  // selected for wiping.
  const bool holds_log = HoldsLog(found);
  dev->SetLogDeviceFlag(holds_log);
  if (!dev->CanBeWiped()) {
    held_back.push_back(dev);
    return;
  }
  for (auto& old : devices) {
    // A refresh on the old device's command thread may be swapping its
    // facts in: compare a copy.
    const CBlkDevData was = old->Snapshot();
    if (was.disconnected && was.size_bytes == found.size_bytes && was.model == found.model &&
        was.serial == found.serial) {
      LOG_INFO(g_dbg_log, "Device '" << n << "' - reconnected.");
      old->ComeBackAfterDisconnect(n.c_str());
      runDeviceHooks(old, &CDevMgrHook::DeviceComeBackHook);
      return;
    }
  }
  LOG_INFO(g_dbg_log, "Device '" << n << "' - connected.");
  if (holds_log) {
    if (found.name != log_device_name)
      LOG_WARN(g_wipe_log, "Disk-" << n << ": the log device '" << log_device_name
                                   << "' is back under this name; it will not be wiped.");
    RememberLogDisk(found);
  }
  devices.push_back(dev);
  runDeviceHooks(dev, &CDevMgrHook::DeviceAttachedHook);
}

bool CBlkDevMgr::HoldsLog(const CBlkDevData& dev) const {
  if (log_device_name.empty()) return false;
  if (dev.name == log_device_name) return true;
  if (!log_disk_seen || dev.size_bytes != log_disk_size || dev.model != log_disk_model || dev.serial != log_disk_serial)
    return false;
  // A disk just like the log disk while the log disk is still there is
  // another disk.
  for (auto& d : devices)
    if (d->IsLogDevice() && !d->IsDisconnected()) return false;
  return true;
}

void CBlkDevMgr::RememberLogDisk(const CBlkDevData& dev) {
  if (log_disk_seen) return;
  log_disk_seen = true;
  log_disk_size = dev.size_bytes;
  log_disk_model = dev.model;
  log_disk_serial = dev.serial;
}

void CBlkDevMgr::RemoveDevice(const std::string& name) {
  CLockWrapper guard(*this);
  std::shared_ptr<CBlkDev> dev;
  for (auto& d : devices) {
    if (d->Name() == name) {
      dev = d;
      break;
    }
  }
  if (!dev) {
    LOG_DEBUG(g_dbg_log, "Disk-" << name << ": removed. No actions required.");
    return;
  }
  // A refresh on the device's command thread may be swapping these in.
  const CBlkDevData facts = dev->Snapshot();
  LOG_INFO(g_wipe_log, "Disk-" << name << ": " << facts.model << ", s/n: " << facts.serial << " device removed.");
  dev->ClearCommandQueue();
  dev->SetWiping(WIPING_CLEAR);
  dev->SetDisconnectedFlag();
  runDeviceHooks(dev, &CDevMgrHook::DeviceRemovedHook);
}

void CBlkDevMgr::DeleteMuchTimeAgoRemovedDevices() {
  const time_t now = platform().MonitorClock();
  for (bool again = true; again;) {
    again = false;
    for (auto it = devices.begin(); it != devices.end(); ++it) {
      if (!(*it)->IsDisconnected()) continue;  // most of them, every second: no copy
      const CBlkDevData d = (*it)->Snapshot();
      if (d.disconnected && now > d.disconnect_time + DEVMGR_RECONNECT_SECONDS) {
        LOG_DEBUG(g_dbg_log, "Stalled device record removed (serial is " << d.serial << ")");
        dropped.push_back(*it);
        devices.erase(it);
        again = true;
        break;
      }
    }
  }
}

void CBlkDevMgr::ReleaseDroppedDevices() {
  std::vector<std::shared_ptr<CBlkDev>> done;
  {
    CLockWrapper guard(*this);
    for (auto it = dropped.begin(); it != dropped.end();) {
      // A queue thread given up while its command ran still returns to the
      // device, and a task step running a command may hold the last
      // reference: wait until neither is the case.
      if (it->use_count() == 1 && !(*it)->HasGivenUpQueueThreads()) {
        done.push_back(*it);
        it = dropped.erase(it);
      } else {
        ++it;
      }
    }
  }
  done.clear();
}

void CBlkDevMgr::MonitorPass(std::set<std::string>& previous, bool first_pass) {
  std::set<std::string> current = ScanSysBlockDevices();
  std::vector<std::string> added, removed;
  std::set_difference(current.begin(), current.end(), previous.begin(), previous.end(), std::back_inserter(added));
  std::set_difference(previous.begin(), previous.end(), current.begin(), current.end(), std::back_inserter(removed));
  platform().MonitorSleep();
  for (auto& n : added) {
    LOG_TRACE(g_dbg_log, "BlockDeviceMonitor: device '" << n << "' connected to system.");
    AddDevice(n.c_str());
  }
  for (auto& n : removed) {
    LOG_TRACE(g_dbg_log, "BlockDeviceMonitor: device '" << n << "' disconnected from system.");
    RemoveDevice(n);
  }
  previous.swap(current);
  {
    CLockWrapper guard(*this);
    if (first_pass) detecting_drives = false;
    DeleteMuchTimeAgoRemovedDevices();
  }
  ReleaseDroppedDevices();
}

void CBlkDevMgr::MonitorLoop() {
  std::set<std::string> previous;
  for (bool first = true;; first = false) {
    MonitorPass(previous, first);
    if (!monitor_running) return;
  }
}
