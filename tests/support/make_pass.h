// A scheme pass for tests: its type, whether it is verified, its pattern.
#pragma once
#include <vector>

#include "scheme/scheme.h"

inline CPass MakePass(int type, bool verify = false, std::vector<unsigned char> pattern = {}) {
  CPass p;
  p.type = type, p.verify = verify, p.pattern = pattern, p.pattern_length = (int)pattern.size();
  return p;
}
