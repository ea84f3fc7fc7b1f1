#include "app/paths.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "app/unique_fd.h"

std::string g_root_prefix;

// Commands name the real /dev and /log: they never run while the paths point
// at a fake tree.
static int default_runner(const char* cmdline) {
  if (!g_root_prefix.empty()) {
    std::fprintf(stderr, "refusing to run '%s' with the root prefix '%s'\n", cmdline, g_root_prefix.c_str());
    return -1;
  }
  return std::system(cmdline);
}

shell_runner_t g_shell_runner = default_runner;

std::atomic<bool> g_shell_stderr_to_log{false};

int run_shell(const char* cmdline) {
  if (!g_shell_stderr_to_log) return g_shell_runner(cmdline);
  // Error output inherited from the program would land in the middle of the
  // screen.
  std::string target = sys_path("/tmp/xdebug.log");
  if (!unique_fd(open(target.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644)).valid()) target = "/dev/null";
  std::string wrapped = "{ " + std::string(cmdline) + "\n} 2>>'" + target + "'";
  return g_shell_runner(wrapped.c_str());
}

#include <sys/ioctl.h>

static int default_ioctl(int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); }

ioctl_fn_t g_ioctl = default_ioctl;

static int default_open(const char* path, int flags) { return ::open(path, flags); }

open_fn_t g_open = default_open;
sync_fn_t g_sync = ::sync;
