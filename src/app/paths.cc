#include "app/paths.h"

#include <fcntl.h>
#include <unistd.h>

#include "app/unique_fd.h"

std::atomic<bool> g_shell_stderr_to_log{false};

int run_shell(const char* cmdline) {
  if (!g_shell_stderr_to_log) return platform().Shell(cmdline);
  // Error output inherited from the program would land in the middle of the
  // screen.
  std::string target = sys_path("/tmp/xdebug.log");
  if (!unique_fd(open(target.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644)).valid()) target = "/dev/null";
  std::string wrapped = "{ " + std::string(cmdline) + "\n} 2>>'" + target + "'";
  return platform().Shell(wrapped.c_str());
}
