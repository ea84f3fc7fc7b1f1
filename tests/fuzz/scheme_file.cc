// Scheme files: one line as Load reads it (the pass, its pattern, its name
// printed into an exact buffer), Load on any bytes, and the manager ranking two files.
#include <memory>

#include "fuzz_support.h"
#include "scheme/scheme.h"

void fuzz_one(FuzzedDataProvider& in) {
  int previous_weight = in.ConsumeIntegralInRange<int>(1, 1000), print_size = in.ConsumeIntegralInRange<int>(0, 80);
  std::string text = in.ConsumeRemainingBytesAsString(), first = text.substr(0, std::min(text.find('\n'), (size_t)1023));
  std::vector<char> line(first.c_str(), first.c_str() + first.size() + 1), copy = line;
  CScheme s;
  int weight = s.AddPass(line.data(), previous_weight);
  if (weight < 0 || (weight > 0) != (s.passes.size() == 1)) abort();
  CPass p;
  bool got = s.AddPattern(copy.data(), p);
  if (got != !p.pattern.empty() || p.pattern_length != (int)p.pattern.size() || p.pattern.size() > 65536) abort();
  std::unique_ptr<char[]> buf(new char[print_size ? print_size : 1]);
  if (!s.passes.empty() && s.PrintPassName(0, print_size ? buf.get() : nullptr, print_size) < 0) abort();
  fuzz_file("/tmp/scheme/a.txt", text);
  fuzz_file("/tmp/scheme/b.txt", text.substr(text.size() / 2));
  CScheme f;
  if (f.Load(fuzz_path("/tmp/scheme/a.txt").c_str()) == 0 && f.passes.empty()) abort();
  for (int i = -1; i <= (int)f.passes.size(); ++i)
    if (f.PrintPassName(i, buf.get(), print_size) < 0) abort();
  unsetenv("SCHEME");
  CSchemeMgr mgr;
  mgr.Load(fuzz_path("/tmp/scheme").c_str());
  mgr.SetDefaultScheme(-1);
}
