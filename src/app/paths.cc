#include "app/paths.h"

#include <cstdlib>

std::string g_root_prefix;

static int default_runner(const char* cmdline) { return std::system(cmdline); }

shell_runner_t g_shell_runner = default_runner;

int run_shell(const char* cmdline) { return g_shell_runner(cmdline); }

#include <sys/ioctl.h>

static int default_ioctl(int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); }

ioctl_fn_t g_ioctl = default_ioctl;
