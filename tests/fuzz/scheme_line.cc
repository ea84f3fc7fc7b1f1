// Pass lines of scheme files: CScheme::AddPass and CScheme::AddPattern on a
// line from the input, then the pass names into buffers of fuzzed sizes.
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "scheme/scheme.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_init_logging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  int previous_weight = in.ConsumeIntegralInRange<int>(1, 1000);
  int print_size = in.ConsumeIntegralInRange<int>(0, 80);
  // A line as Load reads it: at most 1023 characters and a terminating NUL.
  std::string rest = in.ConsumeRemainingBytesAsString();
  if (rest.size() > 1023) rest.resize(1023);
  std::vector<char> line(rest.begin(), rest.end());
  line.push_back(0);
  std::vector<char> copy = line;

  CScheme s;
  int weight = s.AddPass(line.data(), previous_weight);
  if (weight < 0 || (weight > 0) != (s.passes.size() == 1)) abort();

  CPass p;
  bool got = s.AddPattern(copy.data(), p);
  if (got != !p.pattern.empty() || p.pattern_length != (int)p.pattern.size() || p.pattern.size() > 65536) abort();
  if (got) s.passes.push_back(p);

  for (int i = 0; i < (int)s.passes.size(); ++i) {
    // Exactly print_size bytes, so that any write past the end is caught.
    std::unique_ptr<char[]> buf(new char[print_size ? print_size : 1]);
    int n = s.PrintPassName(i, print_size ? buf.get() : nullptr, print_size);
    if (n < 0) abort();
  }
  return 0;
}
