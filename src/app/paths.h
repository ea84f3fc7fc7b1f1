// Thin helpers over the platform (app/platform.h) for the call sites: every
// path under /sys, /dev, /proc, /tmp and /log goes through sys_path(), every
// ioctl on a device node through sys_ioctl().
#pragma once
#include <atomic>
#include <string>

#include "app/platform.h"

inline std::string sys_path(const std::string& path) { return platform().RootPrefix() + path; }

// Runs a command line through the system shell. While g_shell_stderr_to_log
// is set (the curses screen is up) the command's standard error goes to the
// verbose log, or to /dev/null when that cannot be opened.
extern std::atomic<bool> g_shell_stderr_to_log;
int run_shell(const char* cmdline);

inline int sys_ioctl(int fd, unsigned long request, void* arg) { return platform().Ioctl(fd, request, arg); }
inline void sys_sync() { platform().Sync(); }
