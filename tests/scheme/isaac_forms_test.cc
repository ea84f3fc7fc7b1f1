// Every form of the block generators makes the bytes of the reference (a
// restart and 4096 bytes per block) for seeds that cross zero and wrap, and
// its compare accepts exactly those bytes, plain or inverted. A form this CPU
// cannot run is skipped.
#include <gtest/gtest.h>
#include <limits.h>

#include <vector>

#include "scheme/isaac.h"
#include "scheme/isaac64.h"
#include "scheme/isaac_forms.h"

namespace {

typedef std::vector<unsigned char> bytes;

template <class Ctx, void (*Restart)(Ctx*, int), void (*Bytes)(Ctx*, unsigned char*, long)>
bytes reference(int first, long n) {
  bytes out(n * 4096);
  Ctx ctx;
  for (long k = 0; k < n; ++k) {
    Restart(&ctx, (int)((uint32_t)first + (uint32_t)k));
    Bytes(&ctx, out.data() + k * 4096, 4096);
  }
  return out;
}

const struct {
  const char* name;
  void (*blocks_in)(int, int, unsigned char*, long);
  bool (*match)(int, int, const unsigned char*, long, unsigned char);
  bytes (*reference)(int, long);
} kGenerators[] = {
    {"isaac64", isaac64_blocks_in, isaac64_blocks_match, reference<randctx64, isaac64_restart, isaac64_bytes>},
    {"isaac", isaac_blocks_in, isaac_blocks_match, reference<randctx, isaac_restart, isaac_bytes>},
};

class IsaacForm : public ::testing::TestWithParam<int> {};

TEST_P(IsaacForm, MakesTheReferenceBytesAndComparesWithThem) {
  const int form = GetParam();
  if (!isaac_form_runs(form)) GTEST_SKIP() << isaac_form_name(form) << " does not run on this CPU";
  const std::pair<int, long> rows[] = {{5, 0}, {7, 9}, {-3, 17}, {INT_MAX - 20, 43}};  // first seed, blocks
  for (auto& g : kGenerators)
    for (auto& r : rows) {
      SCOPED_TRACE(std::string(g.name) + " from seed " + std::to_string(r.first) + ", blocks " + std::to_string(r.second));
      bytes ref = g.reference(r.first, r.second);
      bytes out(ref.size() + 1, 0xA5);  // and a byte behind them that stays
      g.blocks_in(form, r.first, out.data(), r.second);
      EXPECT_EQ(ref, bytes(out.begin(), out.end() - 1));
      EXPECT_EQ(0xA5, out.back());
      EXPECT_TRUE(g.match(form, r.first, ref.data(), r.second, 0));
      if (r.second == 0) continue;
      for (auto& b : ref) b ^= 0xff;
      EXPECT_TRUE(g.match(form, r.first, ref.data(), r.second, 0xff));
      EXPECT_FALSE(g.match(form, r.first, ref.data(), r.second, 0));
      // One bit off in the first or the last byte.
      for (size_t at : {(size_t)0, ref.size() - 1}) {
        ref[at] ^= 1;
        EXPECT_FALSE(g.match(form, r.first, ref.data(), r.second, 0xff)) << "byte " << at;
        ref[at] ^= 1;
      }
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, IsaacForm, ::testing::Values(ISAAC_SCALAR, ISAAC_AVX2, ISAAC_AVX512),
                         [](const ::testing::TestParamInfo<int>& i) { return std::string(isaac_form_name(i.param)); });

}  // namespace
