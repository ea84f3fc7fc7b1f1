// Scheme files: CScheme::Load on a file holding the input, and the scheme
// manager loading a directory with that file and a second one cut from it.
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "fuzz_support.h"
#include "scheme/scheme.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_init_logging();
  FuzzRoot::Get();
  unsetenv("SCHEME");
  return 0;
}

static void print_passes(const CScheme& s) {
  for (int i = -1; i <= (int)s.passes.size(); ++i) {
    std::unique_ptr<char[]> buf(new char[64]);
    int n = s.PrintPassName(i, buf.get(), 64);
    if (n < 0 || (n < 64 && strlen(buf.get()) != (size_t)n)) abort();
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzRoot& root = FuzzRoot::Get();
  root.Reset();
  std::string text(reinterpret_cast<const char*>(data), size);
  root.WriteFile("/tmp/scheme/a.txt", text);
  // A second file from the second half, so that the manager sorts two.
  root.WriteFile("/tmp/scheme/b.txt", text.substr(size / 2));

  CScheme s;
  int rc = s.Load(root.Path("/tmp/scheme/a.txt").c_str());
  if (rc == 0 && s.passes.empty()) abort();
  for (const CPass& p : s.passes) {
    if (p.type < PASS_ZERO || p.type > PASS_PATTERN) abort();
    if (p.pattern_length != (int)p.pattern.size() || p.pattern.size() > 65536) abort();
  }
  print_passes(s);

  CSchemeMgr mgr;
  mgr.Load(root.Path("/tmp/scheme").c_str());
  mgr.SetDefaultScheme(-1);
  if (CScheme* d = mgr.GetDefaultScheme()) print_passes(*d);
  return 0;
}
