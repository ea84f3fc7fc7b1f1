// The one harness of the fuzz targets: fuzz_one() gets each input with quiet
// logging, an emptied private root (/dev/shm, else /tmp) as the root prefix, and
// every ioctl answered from the input. With fuzz_well_formed, SG_IO sense data
// start with a valid ATA Status Return descriptor and data sectors may get a
// valid checksum, to reach a probe's later steps. No input reaches a real
// device: the private /dev holds regular files, and a missing node is made as
// one too.
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
