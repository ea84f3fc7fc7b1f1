// The base of a test's platform, in use from its construction to its
// destruction (fakes end in the reverse order of their making): each contact
// goes on to the platform in use before it (the system's, or an enclosing
// fake such as the fake root of TempRoot), except those a test overrides.
#pragma once
#include "app/platform.h"

class FakePlatform : public CPlatform {
 public:
  const std::string& RootPrefix() override { return next.RootPrefix(); }
  int Open(const char* p, int f) override { return next.Open(p, f); }
  int Ioctl(int fd, unsigned long r, void* a) override { return next.Ioctl(fd, r, a); }
  long WipeWrite(int fd, const void* b, unsigned long n, long o) override { return next.WipeWrite(fd, b, n, o); }
  long WipeRead(int fd, void* b, unsigned long n, long o) override { return next.WipeRead(fd, b, n, o); }
  void Sync() override { next.Sync(); }
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
  CPlatform& next = platform();
  CScopedPlatform use{*this};
};
