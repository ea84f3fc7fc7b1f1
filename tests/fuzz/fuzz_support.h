// The one harness of the fuzz targets. A target defines fuzz_one(), which
// gets each input, with quiet logging at every level, an emptied private root
// (under /dev/shm, else /tmp) as g_root_prefix, and every ioctl (SG_IO, IDE
// taskfile, BLKGETSIZE64, SG_GET_VERSION_NUM, FDGETPRM) answered from the
// input. With fuzz_well_formed set, SG_IO sense data start with a valid ATA
// Status Return descriptor and data sectors may get a valid checksum, so that
// the fuzzing reaches the later steps of a probe. No input may reach a real
// device: the private /dev holds regular files, and mknod() makes one too,
// aborting outside the private root.
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
