// Read-back random data is compared block by block as it is made: the first
// byte that differs from what FillArea makes for the same pass and range is
// found wherever it lies (a block entered in its middle, any piece of the
// whole blocks, a block left in its middle; the lowest of several in
// different pieces), for a random pass and complements of it, on one thread
// and on several.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "scheme/databuffer.h"
#include "scheme/genpool.h"
#include "support/make_pass.h"

TEST(CompareRandom, FindsTheFirstByteThatDiffersFromTheFill) {
  CScheme scheme;
  scheme.name = "compare";
  scheme.passes = {MakePass(PASS_RANDOM), MakePass(PASS_COMPLEMENT), MakePass(PASS_COMPLEMENT),
                   MakePass(PASS_ZERO)};
  std::unique_ptr<CDataBuffer> buf(CDataBuffer::Create(&scheme, 0));
  ASSERT_TRUE(buf);
  CGenPool pool(2);
  const long long offset = 3 * 4096 + 100;
  const int length = 300 * 4096 + 77;  // five pieces and a bit
  const struct {
    int pass;
    std::vector<long> flips;  // bytes of the range changed
    long expected;
  } rows[] = {
      {0, {}, -1},
      {0, {0}, 0},
      {0, {length - 1}, length - 1},
      {0, {250 * 4096 + 9, 70 * 4096}, 70 * 4096},
      {1, {}, -1},
      {1, {130 * 4096 + 3}, 130 * 4096 + 3},
      {2, {}, -1},
      {2, {4000}, 4000},
      {3, {}, -2},
  };
  fill_record_t record;
  std::vector<unsigned char> data(length);
  for (auto& r : rows)
    for (CFillRunner* runner : {(CFillRunner*)nullptr, (CFillRunner*)&pool}) {
      SCOPED_TRACE("pass " + std::to_string(r.pass) + (runner ? " on the pool" : " on one thread"));
      ASSERT_EQ(buf->FillArea(data.data(), &record, r.pass, 2000, 1000, offset, length, nullptr), 0);
      for (long at : r.flips) data[at] ^= 0x40;
      EXPECT_EQ(buf->CompareRandom(data.data(), r.pass, 2000, 1000, offset, length, runner), r.expected);
    }
}
