// Rescan: pings every idle drive and has the kernel delete those that do not
// answer, then asks every SCSI-style host adapter to scan all its channels,
// targets and LUNs. Runs in a thread of its own; the device monitor notices
// the drives that come and go.
#pragma once
#include <mutex>
#include <string>
#include <thread>

#include "app/lockable.h"

class CBlkDevMgr;

class CRescanTask {
 public:
  CRescanTask();
  ~CRescanTask();
  void Start(CBlkDevMgr* mgr);
  // Whether a rescan is running; reaps a finished thread.
  bool IsStarted();

  void RescanTaskThreadProc(CBlkDevMgr* mgr);
  void checkNotBusyDevicesForPresent(CBlkDevMgr* mgr);
  void rescanHostClassesDevice();
  void rescanHostsInto(const char* class_dir);
  void rescanHost(const char* host_dir);
  std::string getDeviceHostName(const char* host_dir) const;

  CRescanTask(const CRescanTask&) = delete;
  CRescanTask& operator=(const CRescanTask&) = delete;

 private:
  CLockable mutex;
  bool running GUARDED_BY(mutex) = false;
  std::thread thread GUARDED_BY(mutex);  // joinable until reaped
};

extern CRescanTask g_rescan_task;
