// sysfs attribute files: read_string_from_file on a file holding the input.
#include <ctype.h>
#include <stdlib.h>

#include <string>

#include "app/util.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_init_logging();
  FuzzRoot::Get();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzRoot& root = FuzzRoot::Get();
  std::string bytes(reinterpret_cast<const char*>(data), size);
  root.WriteFile("/sys/block/sdz/device/model", bytes);
  std::string out = "unchanged";
  if (read_string_from_file(root.Path("/sys/block/sdz/device/model").c_str(), out) != 1) abort();
  // One line, trimmed at both ends.
  if (out.find('\n') != std::string::npos || out.size() > size) abort();
  if (!out.empty() && (isspace((unsigned char)out.front()) || isspace((unsigned char)out.back()))) abort();
  std::string kept = "kept";
  if (read_string_from_file(root.Path("/sys/block/sdz/device/missing").c_str(), kept) != 0 || kept != "kept") abort();
  return 0;
}
