// The one harness of the fuzz targets. A target defines fuzz_one(), which
// gets each input; the harness has set up quiet logging with every level on
// (so log lines are formatted from the fuzzed bytes too), emptied a private
// root (under /dev/shm, else /tmp) that g_root_prefix points at, and made
// every ioctl answer from the input: SG_IO as the kernel fills the header,
// the IDE taskfile registers and data, BLKGETSIZE64, SG_GET_VERSION_NUM and
// FDGETPRM. With fuzz_well_formed set, SG_IO sense data start with a valid
// ATA Status Return descriptor and data sectors may get a valid checksum, so
// that the fuzzing reaches the later steps of a probe.
//
// No input may reach a real device: every path under /sys and /dev goes
// through g_root_prefix, the nodes of the private /dev are regular files, and
// mknod() makes a regular file instead, aborting outside the private root.
#pragma once
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

void fuzz_one(FuzzedDataProvider& in);

extern bool fuzz_well_formed;

// The private root's path of `rel`, and files and directories in it.
std::string fuzz_path(const std::string& rel);
void fuzz_dirs(const std::string& rel);
void fuzz_file(const std::string& rel, const std::string& bytes);

// A file-name component: 1 to max_len characters of [a-z0-9:._-], never "." or "..".
std::string fuzz_name(FuzzedDataProvider& in, size_t max_len);
