// The list of wipeable block devices, kept up to date by the monitor thread
// "BlockDeviceMonitor" that lists /sys/block once a second, and the hooks
// through which interested parties hear of attach, removal and return.
#pragma once
#include <pthread.h>
#include <stdint.h>
#include <time.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "command/lockable.h"
#include "device/blkdev.h"

class CBlkDevMgr;

// Told of devices by the manager, on the monitor thread with the manager
// lock held: an implementation records the event under its own lock and
// returns, and never calls back into the manager.
class CDevMgrHook {
 public:
  CDevMgrHook() = default;
  virtual ~CDevMgrHook();
  virtual void DeviceAttachedHook(std::shared_ptr<CBlkDev> dev) = 0;
  virtual void DeviceRemovedHook(std::shared_ptr<CBlkDev> dev) = 0;
  virtual void DeviceComeBackHook(std::shared_ptr<CBlkDev> dev) = 0;

  CBlkDevMgr* mgr = nullptr;  // the manager it is registered with

  CDevMgrHook(const CDevMgrHook&) = delete;
  CDevMgrHook& operator=(const CDevMgrHook&) = delete;
};

// One partition that could hold the log.
struct CLogDev {
  std::string name;  // partition (sdb1)
  std::string disk;  // whole disk holding it (sdb)
  int major = 0;
  int minor = 0;
  int score = 0;
  int64_t blocks = 0;  // 1 KiB blocks
};

// Seams of the monitor: its clock (seconds since the epoch, used for the
// 30-second rules) and its one-second pause between listing and acting.
typedef time_t (*devmgr_clock_fn_t)();
typedef void (*devmgr_sleep_fn_t)();
extern devmgr_clock_fn_t g_devmgr_clock;
extern devmgr_sleep_fn_t g_devmgr_monitor_sleep;

// Seconds a disconnected device keeps its entry, waiting to come back.
constexpr int DEVMGR_RECONNECT_SECONDS = 30;

class CBlkDevMgr : public CLockable {
 public:
  CBlkDevMgr();
  virtual ~CBlkDevMgr();

  void StartScanDevices();
  void StopScanDevices();

  int GetCount();
  std::shared_ptr<CBlkDev> GetBlkDev(int index);
  int IsDetectingDrivesInitialization();

  // The hook list is guarded by the manager lock, so neither may be called
  // from inside a hook.
  void RegisterHooks(CDevMgrHook* hook);
  void UnregisterHooks(CDevMgrHook* hook);

  // Calls one hook operation on every registered hook, in registration
  // order; the caller holds the manager lock.
  void runDeviceHooks(std::shared_ptr<CBlkDev> dev, void (CDevMgrHook::*fn)(std::shared_ptr<CBlkDev>)) const;

  // Current names in /sys/block, without ram, loop, mtdblock and dot names.
  std::set<std::string> ScanSysBlockDevices() const;
  void AddDevice(const char* name);
  void RemoveDevice(const std::string& name);
  // Drops disconnected devices older than 30 s; the caller holds the lock.
  void DeleteMuchTimeAgoRemovedDevices();

  static void* BlockDeviceMonitorThreadProcStatic(void* arg);
  // One pass of the monitor: list, pause, add and remove, end the initial
  // detection on the first pass, drop stale entries.
  void MonitorPass(std::set<std::string>& previous, bool first_pass);

  // Devices that initialised but can never be wiped (CD/DVD, floppy).
  int GetHeldBackCount();
  std::shared_ptr<CBlkDev> GetHeldBackDev(int index);

  // Log medium (chosen before the monitor starts).
  std::vector<CLogDev> log_devices;
  std::string log_device_name;  // kernel name of the disk holding the log

 private:
  void MonitorLoop();
  // Destroys dropped devices that nothing else uses any more, outside the
  // manager lock.
  void ReleaseDroppedDevices();

  std::vector<std::shared_ptr<CBlkDev>> devices;
  std::vector<std::shared_ptr<CBlkDev>> held_back;
  std::vector<CDevMgrHook*> hooks;
  std::atomic<bool> monitor_running{false};
  pthread_t monitor_thread{};
  bool monitor_started = false;
  bool detecting_drives = true;
  // Stale entries taken out of the list; the monitor thread lets them go
  // once no queue thread or task step holds them.
  std::vector<std::shared_ptr<CBlkDev>> dropped;
};
