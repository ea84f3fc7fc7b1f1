// Shared pieces of the fuzz targets: quiet logging with every level on (so
// that the log lines are formatted from the fuzzed bytes too), a private fake
// root (under /dev/shm, else /tmp) reached through g_root_prefix, and an SG_IO answer taken
// from the input.
//
// No fuzz input may reach a real device: every path the program opens under
// /sys and /dev goes through g_root_prefix, which points at the private root
// for the whole process, and the nodes of its /dev are regular files. A
// mknod() of the program makes a regular file instead, and aborts for any
// path outside the private root.
#pragma once
#include <fuzzer/FuzzedDataProvider.h>
#include <scsi/sg.h>
#include <stddef.h>
#include <stdint.h>

#include <string>

// log4cplus initialised once, a null appender on the root logger, all levels on.
void fuzz_init_logging();

class FuzzRoot {
 public:
  // The process's private root (made on first use, removed at exit);
  // g_root_prefix points at it from then on.
  static FuzzRoot& Get();
  // Empties the tree: fresh /sys/block, /dev and /tmp, nothing else.
  void Reset();
  std::string Path(const std::string& rel) const { return dir + rel; }
  // Makes the directory and its parents (relative to the root).
  void MakeDirs(const std::string& rel);
  // Writes `bytes` as the whole content of a file, making its directory.
  void WriteFile(const std::string& rel, const std::string& bytes);
  const std::string& Dir() const { return dir; }

 private:
  FuzzRoot();
  std::string dir;
};

// A file-name component from the input: 1 to max_len characters of
// [a-z0-9:._-], never "." or "..".
std::string fuzz_name(FuzzedDataProvider& in, size_t max_len);

// Answers one SG_IO request the way the kernel fills the header: a failed
// ioctl (-1 and errno), or status, host and driver status, info, resid, data
// from the device into the data area and sense bytes into the sense buffer,
// each no longer than the header allows. Aborts when the buffers the header
// declares are not entirely addressable.
int fuzz_answer_sg_io(FuzzedDataProvider& in, sg_io_hdr_t* io);

// Aborts unless [p, p + n) is addressable memory.
void fuzz_check_region(const void* p, size_t n, const char* what);
