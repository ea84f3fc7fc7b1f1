// The list of wipeable block devices, kept up to date by the monitor thread
// "BlockDeviceMonitor" that lists /sys/block once a second, and the hooks
// through which interested parties hear of attach, removal and return.
#pragma once
#include <stdint.h>
#include <time.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/lockable.h"
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
  void runDeviceHooks(std::shared_ptr<CBlkDev> dev, void (CDevMgrHook::*fn)(std::shared_ptr<CBlkDev>)) const
      REQUIRES(this);

  // Current names in /sys/block, without ram, loop, mtdblock and dot names.
  std::set<std::string> ScanSysBlockDevices() const;
  void AddDevice(const char* name);
  void RemoveDevice(const std::string& name);
  // Drops disconnected devices older than 30 s; the caller holds the lock.
  void DeleteMuchTimeAgoRemovedDevices() REQUIRES(this);

  // One pass of the monitor: list, pause, add and remove, end the initial
  // detection on the first pass, drop stale entries.
  void MonitorPass(std::set<std::string>& previous, bool first_pass);

  // Devices that initialised but can never be wiped (CD/DVD, floppy).
  int GetHeldBackCount();
  std::shared_ptr<CBlkDev> GetHeldBackDev(int index);

  // Log medium, chosen at start-up before the monitor runs: candidates are
  // the partitions of USB disks and floppies that mount writable with free
  // space; the one holding most "zorvane*" files wins and is mounted at /log.
  // Returns 0 with or without a log medium (the operator may give up).
  int AutoSetLogDevice();
  // Rebuilds the candidate list from /proc/partitions, mounting each
  // removable candidate at `mount_point` to look at it; the candidate count.
  int ScanLogDevices(const char* mount_point);
  // Finds the disk of a partition: 0 removable (USB or floppy), 1 not
  // removable, -1 no disk found.
  int CheckLogDevicePartition(CLogDev& rec);
  // First candidate with the highest score, or -1.
  int GetBestLogDeviceIndex();
  // Mounts the candidate at /log (keeping the logs already there) and marks
  // its disk as the log device; the mount command's result.
  int SetLogDevice(const CLogDev& rec);

  std::vector<CLogDev> log_devices;
  std::string log_device_name;      // kernel name of the disk holding the log
  bool log_medium_mounted = false;  // AutoSetLogDevice mounted it at /log

 private:
  void MonitorLoop();
  // Decides under the manager lock whether a new device holds the log: by
  // its kernel name, or, while no listed device holds it, by the size, model
  // and serial of the disk that held it (a log stick that was pulled out and
  // came back under a new name).
  bool HoldsLog(const CBlkDevData& dev) const REQUIRES(this);
  // Keeps the size, model and serial of the first listed log disk.
  void RememberLogDisk(const CBlkDevData& dev) REQUIRES(this);
  // Destroys dropped devices that nothing else uses any more, outside the
  // manager lock.
  void ReleaseDroppedDevices();

  std::vector<std::shared_ptr<CBlkDev>> devices GUARDED_BY(this);
  std::vector<std::shared_ptr<CBlkDev>> held_back GUARDED_BY(this);
  std::vector<CDevMgrHook*> hooks GUARDED_BY(this);
  std::atomic<bool> monitor_running{false};
  std::thread monitor_thread;  // joinable while the monitor is started
  bool detecting_drives GUARDED_BY(this) = true;
  // Stale entries taken out of the list; the monitor thread lets them go
  // once no queue thread or task step holds them.
  std::vector<std::shared_ptr<CBlkDev>> dropped GUARDED_BY(this);
  // What the log disk looked like when it was first listed.
  bool log_disk_seen GUARDED_BY(this) = false;
  uint64_t log_disk_size GUARDED_BY(this) = 0;
  std::string log_disk_model GUARDED_BY(this);
  std::string log_disk_serial GUARDED_BY(this);
};
