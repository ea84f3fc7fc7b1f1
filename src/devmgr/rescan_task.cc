#include "devmgr/rescan_task.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "app/log.h"
#include "app/paths.h"
#include "app/util.h"
#include "command/command.h"
#include "devmgr/devmgr.h"

CRescanTask g_rescan_task;

CRescanTask::CRescanTask() {}

CRescanTask::~CRescanTask() {
  // A rescan still running at exit is left to the process end.
  if (thread.joinable()) thread.detach();
}

void CRescanTask::Start(CBlkDevMgr* mgr) {
  // One rescan at a time; a finished one is reaped first, so its handle is
  // not lost.
  if (IsStarted()) return;
  CLockWrapper g(mutex);
  running = true;
  if (start_thread(thread, [this, mgr] {
        set_thread_name("rescan");
        RescanTaskThreadProc(mgr);
      }) == 0)
    return;
  running = false;
  LOG_ERROR(g_dbg_log, "Failed to rescan devices: unable to create thread");
}

bool CRescanTask::IsStarted() {
  std::thread finished;
  bool r;
  {
    CLockWrapper g(mutex);
    r = running;
    if (!running && thread.joinable()) finished = std::move(thread);
  }
  // The thread clears `running` as its last use of the mutex, so this join
  // never waits for long.
  if (finished.joinable()) finished.join();
  return r;
}

void CRescanTask::RescanTaskThreadProc(CBlkDevMgr* mgr) {
  {
    CLockWrapper g(mutex);
    running = true;
  }
  LOG_INFO(g_wipe_log, "Rescanning devices...");
  checkNotBusyDevicesForPresent(mgr);
  rescanHostClassesDevice();
  LOG_INFO(g_wipe_log, "Rescan complete.");
  CLockWrapper g(mutex);
  running = false;
}

// Flushes and closes a sysfs control file. sysfs refuses a write only when
// the buffer reaches it, at the flush or at the close: 0, or the error number.
static int close_control_file(FILE* f) {
  int err = fflush(f) == 0 ? 0 : errno;
  if (fclose(f) != 0 && err == 0) err = errno;
  return err;
}

void CRescanTask::checkNotBusyDevicesForPresent(CBlkDevMgr* mgr) {
  if (!mgr) return;
  int count = mgr->GetCount();
  for (int i = 0; i < count; ++i) {
    std::shared_ptr<CBlkDev> dev = mgr->GetBlkDev(i);
    // The disk holding the log is never pinged, let alone deleted.
    if (!dev || dev->IsDisconnected() || dev->IsLogDevice() || !dev->IsReady()) continue;
    if (dev->Ping() == 0) continue;
    std::string name = dev->Snapshot().name;
    LOG_INFO(g_wipe_log, "Device " << name << " did not respond, removing.");
    char path[4097];
    snprintf(path, sizeof path, "%s/device/delete", sys_path("/sys/block/" + name).c_str());
    FILE* f = fopen(path, "w");
    if (!f) {
      LOG_WARN(g_dbg_log, "Failed to remove device: unable to open file " << path << ": " << strerror(errno));
      continue;
    }
    if (fputs("1\n", f) < 0)
      LOG_ERROR(g_dbg_log, "Failed to remove device: unable to write to " << path << ": " << strerror(errno));
    if (int err = close_control_file(f)) {
      LOG_ERROR(g_dbg_log, "Failed to remove device: error on closing " << path << ": " << strerror(err));
      return;
    }
  }
}

void CRescanTask::rescanHostClassesDevice() {
  std::string classes = sys_path("/sys/class");
  DIR* d = opendir(classes.c_str());
  if (!d) {
    LOG_ERROR(g_dbg_log, "Could not open devices directory '/sys/class': " << strerror(errno));
    return;
  }
  while (struct dirent* e = readdir(d)) {
    if (!string_ends_with(e->d_name, "_host")) continue;
    char path[4097];
    snprintf(path, sizeof path, "%s/%s", classes.c_str(), e->d_name);
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    rescanHostsInto(path);
  }
  closedir(d);
}

void CRescanTask::rescanHostsInto(const char* class_dir) {
  DIR* d = opendir(class_dir);
  if (!d) {
    LOG_ERROR(g_dbg_log, "Could not open devices directory '" << class_dir << "': " << strerror(errno));
    return;
  }
  while (struct dirent* e = readdir(d)) {
    if (strncmp(e->d_name, "host", 4) != 0) continue;
    char path[4097];
    snprintf(path, sizeof path, "%s/%s", class_dir, e->d_name);
    rescanHost(path);
  }
  closedir(d);
}

void CRescanTask::rescanHost(const char* host_dir) {
  std::string name = getDeviceHostName(host_dir);
  LOG_INFO(g_wipe_log, "Scanning for " << name << "...");
  char path[4097];
  snprintf(path, sizeof path, "%s/scan", host_dir);
  FILE* f = fopen(path, "w");
  if (!f) {
    LOG_ERROR(g_dbg_log,
              "Unable to rescan host " << host_dir << ": Failed to open file " << path << ": " << strerror(errno));
    return;
  }
  // The kernel scans the host before the write returns.
  if (fputs("- - -\n", f) < 0)
    LOG_ERROR(g_dbg_log, "Unable to rescan host " << host_dir << ": Failed to initiate rescan.");
  if (int err = close_control_file(f))
    LOG_ERROR(g_dbg_log, "Unable to rescan host " << host_dir << ": Failed to close file: " << strerror(err));
}

std::string CRescanTask::getDeviceHostName(const char* host_dir) const {
  char path[4097];
  snprintf(path, sizeof path, "%s/proc_name", host_dir);
  FILE* f = fopen(path, "r");
  if (!f) return host_dir;
  char line[4097] = {0};
  bool got = fgets(line, sizeof line, f) != nullptr;
  fclose(f);
  if (!got) return host_dir;
  std::string name = line;
  trim(name);
  return name + " (" + host_dir + ")";
}
