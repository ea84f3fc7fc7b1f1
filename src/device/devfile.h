// Device nodes: opening /dev/<name> (creating the node when missing) and the
// handle that owns the descriptor.
#pragma once
#include <string>

#include "app/unique_fd.h"

// Makes the block node /dev/<name> from major, minor when nothing is there;
// 0 when the node is there or was made.
int make_missing_node(int major, int minor, const std::string& name);

// Makes sure /dev/<name> exists (a block node from major, minor) and opens it
// with `flags`; returns the descriptor or -1 (with the WARN line logged).
int open_device_node(int major, int minor, const char* name, int flags);

// A descriptor of a device node, opened by mode.
class CDevFile : public unique_fd {
 public:
  // Opens /dev/<name>, creating the node from (major, minor) when missing.
  // mode: 0 read-only non-blocking, 1 read-only, 2 read-write,
  // 3 read-write O_DIRECT, 4 and above read-write. 0 on success, 1 on failure.
  int OpenFile(int major, int minor, const char* name, int mode);
  void Close() { reset(); }
  int GetFd() const { return get(); }
};
