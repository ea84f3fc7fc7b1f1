// Every contact of the program with the operating system, in one interface.
// platform() is the one in use: the system's in production; a test installs a
// fake of its own for a scope with CScopedPlatform, before it starts threads.
#pragma once
#include <time.h>

#include <string>

struct statvfs;
struct _win_st;  // curses' WINDOW

class CPlatform {
 public:
  virtual ~CPlatform() = default;

  // Files and devices. The root prefix goes before every path under /sys,
  // /dev, /proc, /tmp and /log (sys_path()): empty on the machine, a
  // temporary tree under test.
  virtual const std::string& RootPrefix() = 0;
  // mknod(2) of a missing block device node from the drive's numbers;
  // open(2) of device nodes; ioctl(2) on them (ATA, SCSI and NVMe
  // pass-through, floppy geometry); pwrite64 and pread64 on them (the wipe's
  // chunks, the report at byte 0, a USB stick's write test); sync(2) after a
  // wipe and its report.
  virtual int MakeNode(const char* path, int major, int minor) = 0;
  virtual int Open(const char* path, int flags) = 0;
  virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
  virtual long DeviceWrite(int fd, const void* buf, unsigned long count, long offset) = 0;
  virtual long DeviceRead(int fd, void* buf, unsigned long count, long offset) = 0;
  virtual void Sync() = 0;
  // Anonymous memory (mmap, munmap) for the wipes' extra chunk areas.
  virtual void* MapMemory(unsigned long bytes) = 0;
  virtual void UnmapMemory(void* area, unsigned long bytes) = 0;
  // A command line through the system shell (mount, umount, cp...).
  virtual int Shell(const char* cmdline) = 0;

  // The log medium search, on the console before the screen exists: text
  // output and clearing, the operator's answer to the prompt (getchar), the
  // file-system query of a mounted candidate and the count of its marker files.
  virtual void ConsoleText(int y, int x, const char* text, bool newlines) = 0;
  virtual void ConsoleClear() = 0;
  virtual int ConsoleChar() = 0;
  virtual int Statvfs(const char* path, struct statvfs* st) = 0;
  virtual int GlobCount(const char* pattern) = 0;

  // Clocks, seconds since the epoch: the device monitor's (its 30-second
  // rules) and the interface's (header, countdowns).
  virtual time_t MonitorClock() = 0;
  virtual time_t UiClock() = 0;
  // Pauses: the monitor's second between listing and acting; the task
  // steps' second (checkpoint polling, countdowns); between two looks at a
  // running NVMe sanitize; the stand-in for an ATA erase in fast-debug mode.
  virtual void MonitorSleep() = 0;
  virtual void TaskSleep() = 0;
  virtual void NvmePollPause(unsigned seconds) = 0;
  virtual void AtaErasePause(unsigned seconds) = 0;

  // The screen: curses mode starts (initscr), keys arrive (wgetch).
  virtual _win_st* CursesInit() = 0;
  virtual int Key() = 0;

  // The machine: restart or power off; the early end of the wait for a
  // power-off cycle.
  virtual int Reboot(bool restart) = 0;
  virtual bool PowerCycleWaitOver() = 0;
};

// A platform that passes every contact on to another one; a subclass changes
// only the contacts it overrides (a test's fake over the system or over a
// fake root).
class CPlatformWrapper : public CPlatform {
 public:
  explicit CPlatformWrapper(CPlatform& target) : next(target) {}
  const std::string& RootPrefix() override { return next.RootPrefix(); }
  int MakeNode(const char* p, int ma, int mi) override { return next.MakeNode(p, ma, mi); }
  int Open(const char* p, int f) override { return next.Open(p, f); }
  int Ioctl(int fd, unsigned long r, void* a) override { return next.Ioctl(fd, r, a); }
  long DeviceWrite(int fd, const void* b, unsigned long n, long o) override { return next.DeviceWrite(fd, b, n, o); }
  long DeviceRead(int fd, void* b, unsigned long n, long o) override { return next.DeviceRead(fd, b, n, o); }
  void Sync() override { next.Sync(); }
  void* MapMemory(unsigned long n) override { return next.MapMemory(n); }
  void UnmapMemory(void* a, unsigned long n) override { next.UnmapMemory(a, n); }
  int Shell(const char* c) override { return next.Shell(c); }
  void ConsoleText(int y, int x, const char* t, bool nl) override { next.ConsoleText(y, x, t, nl); }
  void ConsoleClear() override { next.ConsoleClear(); }
  int ConsoleChar() override { return next.ConsoleChar(); }
  int Statvfs(const char* p, struct statvfs* st) override { return next.Statvfs(p, st); }
  int GlobCount(const char* p) override { return next.GlobCount(p); }
  time_t MonitorClock() override { return next.MonitorClock(); }
  time_t UiClock() override { return next.UiClock(); }
  void MonitorSleep() override { next.MonitorSleep(); }
  void TaskSleep() override { next.TaskSleep(); }
  void NvmePollPause(unsigned s) override { next.NvmePollPause(s); }
  void AtaErasePause(unsigned s) override { next.AtaErasePause(s); }
  _win_st* CursesInit() override { return next.CursesInit(); }
  int Key() override { return next.Key(); }
  int Reboot(bool restart) override { return next.Reboot(restart); }
  bool PowerCycleWaitOver() override { return next.PowerCycleWaitOver(); }

 private:
  CPlatform& next;
};

// The operating system itself. Shell commands and the reboot name the real
// /dev and /log: they refuse while the root prefix points at a fake tree.
class CSystemPlatform : public CPlatform {
 public:
  const std::string& RootPrefix() override { return root; }
  int MakeNode(const char* path, int major, int minor) override;
  int Open(const char* path, int flags) override;
  int Ioctl(int fd, unsigned long request, void* arg) override;
  long DeviceWrite(int fd, const void* buf, unsigned long count, long offset) override;
  long DeviceRead(int fd, void* buf, unsigned long count, long offset) override;
  void Sync() override;
  void* MapMemory(unsigned long bytes) override;
  void UnmapMemory(void* area, unsigned long bytes) override;
  int Shell(const char* cmdline) override;
  void ConsoleText(int y, int x, const char* text, bool newlines) override;
  void ConsoleClear() override {}
  int ConsoleChar() override;
  int Statvfs(const char* path, struct statvfs* st) override;
  int GlobCount(const char* pattern) override;
  time_t MonitorClock() override;
  time_t UiClock() override;
  void MonitorSleep() override;
  void TaskSleep() override;
  void NvmePollPause(unsigned seconds) override;
  void AtaErasePause(unsigned seconds) override;
  // The screen is the interface's: the session's platform (main) starts
  // curses and reads its keys; here there is no screen.
  _win_st* CursesInit() override { return nullptr; }
  int Key() override { return -1; }
  int Reboot(bool restart) override;
  bool PowerCycleWaitOver() override { return false; }

 private:
  const std::string root;
};

CPlatform& platform();

// Installs a platform for the object's lifetime and restores the one before.
class CScopedPlatform {
 public:
  explicit CScopedPlatform(CPlatform& p);
  ~CScopedPlatform();
  CScopedPlatform(const CScopedPlatform&) = delete;
  CScopedPlatform& operator=(const CScopedPlatform&) = delete;

 private:
  CPlatform* previous;
};
