#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/log.h"
#include "app/paths.h"
#include "device/devfile.h"

int make_missing_node(int major, int minor, const std::string& name) {
  const std::string path = sys_path("/dev/" + name);
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? 0 : platform().MakeNode(path.c_str(), major, minor);
}

int open_device_node(int major, int minor, const char* name, int flags) {
  if (!name) return -1;
  make_missing_node(major, minor, name);
  std::string path = sys_path(std::string("/dev/") + name);
  int fd = platform().Open(path.c_str(), flags);
  if (fd < 0) {
    int err = errno;
    LOG_WARN(g_dbg_log, "Could not open device file '" << path << "': " << strerror(err));
    errno = err;
  }
  return fd;
}

int CDevFile::OpenFile(int major, int minor, const char* name, int mode) {
  if (!name) return 1;
  int flags;
  switch (mode) {
    case 0: flags = O_RDONLY | O_NONBLOCK; break;
    case 1: flags = O_RDONLY; break;
    case 2: flags = O_RDWR; break;
    case 3: flags = O_RDWR | O_DIRECT; break;
    default: flags = O_RDWR; break;
  }
  reset();
  int d = open_device_node(major, minor, name, flags);
  if (d < 0) return 1;
  reset(d);
  return 0;
}
