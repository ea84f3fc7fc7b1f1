// Filesystem seam: every path under /sys, /dev, /proc and /tmp that the
// program touches goes through sys_path(). The prefix is empty in production;
// tests point it at a temporary directory holding a fake tree.
#pragma once
#include <atomic>
#include <string>

extern std::string g_root_prefix;

inline std::string sys_path(const std::string& path) { return g_root_prefix + path; }

// Runs a command line through the system shell; tests replace the runner to
// record the commands instead of executing them. While g_shell_stderr_to_log
// is set (the curses screen is up) the command's standard error goes to the
// verbose log, or to /dev/null when that cannot be opened.
using shell_runner_t = int (*)(const char* cmdline);
extern shell_runner_t g_shell_runner;
extern std::atomic<bool> g_shell_stderr_to_log;
int run_shell(const char* cmdline);

// Device-control seam: every ioctl on a device node goes through sys_ioctl();
// tests replace g_ioctl with a software drive model.
using ioctl_fn_t = int (*)(int fd, unsigned long request, void* arg);
extern ioctl_fn_t g_ioctl;
inline int sys_ioctl(int fd, unsigned long request, void* arg) { return g_ioctl(fd, request, arg); }
