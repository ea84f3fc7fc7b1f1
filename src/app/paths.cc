#include "app/paths.h"

#include <cstdio>
#include <cstdlib>

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

int run_shell(const char* cmdline) { return g_shell_runner(cmdline); }

#include <sys/ioctl.h>

static int default_ioctl(int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); }

ioctl_fn_t g_ioctl = default_ioctl;

#include <fcntl.h>
#include <unistd.h>

static int default_open(const char* path, int flags) { return ::open(path, flags); }

open_fn_t g_open = default_open;
sync_fn_t g_sync = ::sync;
