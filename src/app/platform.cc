#include "app/platform.h"

#include <fcntl.h>
#include <glob.h>
#include <linux/reboot.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>

int CSystemPlatform::MakeNode(const char* path, int major, int minor) {
  return ::mknod(path, S_IFBLK | 0777, makedev((unsigned)major, (unsigned)minor));
}

int CSystemPlatform::Open(const char* path, int flags) { return ::open(path, flags); }

int CSystemPlatform::Ioctl(int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); }

long CSystemPlatform::DeviceWrite(int fd, const void* buf, unsigned long count, long offset) {
  return pwrite64(fd, buf, count, offset);
}

long CSystemPlatform::DeviceRead(int fd, void* buf, unsigned long count, long offset) {
  return pread64(fd, buf, count, offset);
}

void CSystemPlatform::Sync() { ::sync(); }

void* CSystemPlatform::MapMemory(unsigned long bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void CSystemPlatform::UnmapMemory(void* area, unsigned long bytes) { munmap(area, bytes); }

int CSystemPlatform::Shell(const char* cmdline) {
  const std::string& prefix = platform().RootPrefix();
  if (!prefix.empty()) {
    fprintf(stderr, "refusing to run '%s' with the root prefix '%s'\n", cmdline, prefix.c_str());
    return -1;
  }
  return system(cmdline);
}

void CSystemPlatform::ConsoleText(int, int, const char* text, bool newlines) {
  const char* nl = newlines ? "\n" : "";
  printf("%s%s%s", nl, text ? text : "", nl);
  fflush(stdout);
}

int CSystemPlatform::ConsoleChar() { return getchar(); }

int CSystemPlatform::Statvfs(const char* path, struct statvfs* st) { return ::statvfs(path, st); }

int CSystemPlatform::GlobCount(const char* pattern) {
  glob_t g;
  memset(&g, 0, sizeof g);
  int n = 0;
  if (glob(pattern, 0, nullptr, &g) == 0) n = (int)g.gl_pathc;
  globfree(&g);
  return n;
}

time_t CSystemPlatform::MonitorClock() { return time(nullptr); }
time_t CSystemPlatform::UiClock() { return time(nullptr); }
void CSystemPlatform::MonitorSleep() { sleep(1); }
void CSystemPlatform::TaskSleep() { sleep(1); }
void CSystemPlatform::NvmePollPause(unsigned seconds) { sleep(seconds); }
void CSystemPlatform::AtaErasePause(unsigned seconds) { sleep(seconds); }

int CSystemPlatform::Reboot(bool restart) {
  // The session log reaches the disk first. A program running on a fake root
  // is under test: never reboot there.
  platform().Sync();
  if (!platform().RootPrefix().empty()) return -1;
  if (restart)
    return (int)syscall(SYS_reboot, LINUX_REBOOT_MAGIC1, LINUX_REBOOT_MAGIC2, LINUX_REBOOT_CMD_RESTART2, " DCO=off ");
  return (int)syscall(SYS_reboot, LINUX_REBOOT_MAGIC1, LINUX_REBOOT_MAGIC2, LINUX_REBOOT_CMD_POWER_OFF, nullptr);
}

namespace {

// Never destroyed: threads may still ask for it while the process ends.
CPlatform& system_platform() {
  static CPlatform* p = new CSystemPlatform;
  return *p;
}

std::atomic<CPlatform*> installed{nullptr};

}  // namespace

CPlatform& platform() {
  CPlatform* p = installed.load(std::memory_order_acquire);
  return p ? *p : system_platform();
}

CScopedPlatform::CScopedPlatform(CPlatform& p) : previous(installed.exchange(&p, std::memory_order_acq_rel)) {}

CScopedPlatform::~CScopedPlatform() { installed.store(previous, std::memory_order_release); }
