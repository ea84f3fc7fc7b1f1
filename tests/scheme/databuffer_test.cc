// Data buffers: the bytes every pass type puts at a device offset, that any
// split of a range (or a fill spread over the generation pool) gives the same
// bytes, and the fills that must fail.
#include "scheme/databuffer.h"

#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <vector>

#include "app/util.h"
#include "scheme/genpool.h"
#include "support/make_pass.h"

namespace {

typedef std::vector<unsigned char> bytes;

bytes fill(CDataBuffer* b, int pass, int start, int prev, long long offset, int length) {
  EXPECT_EQ(0, b->FillBuffer(pass, start, prev, offset, length));
  return bytes(b->GetWriteBuffer(), b->GetWriteBuffer() + length);
}

bytes inverted(bytes b) {
  for (auto& c : b) c = (unsigned char)~c;
  return b;
}

}  // namespace

// {pass, offset, length} -> bytes; complements are the inverse of the pass
// before them made with that pass's start.
TEST(DataBuffer, BytesOfEveryPassType) {
  CScheme s;
  s.passes = {MakePass(PASS_COMPLEMENT), MakePass(PASS_ZERO), MakePass(PASS_TEST), MakePass(PASS_COMPLEMENT),
              MakePass(PASS_PATTERN, false, {0xAA, 0xBB, 0xCC}), MakePass(PASS_RANDOM), MakePass(PASS_COMPLEMENT)};
  std::unique_ptr<CDataBuffer> b(CDataBuffer::Create(&s, 0));
  const struct {
    int pass;
    long long offset;
    bytes want;
  } rows[] = {{0, 5, {0xFF, 0xFF}},
              {1, 12345, {0, 0, 0}},
              {2, 5 * 512, {0, 0, 0, 5, 0}},
              {2, 0xA1B2C3D4LL * 512 + 2, {0xC3, 0xD4, 0}},
              {2, 0x01020304LL * 512 - 1, {0, 1, 2, 3, 4, 0}},
              {2, ((1LL << 32) + 3) * 512, {0, 0, 0, 3}},
              {3, 9 * 512 + 2, {0xFF, (unsigned char)~9, 0xFF}},
              {4, 4, {0xBB, 0xCC, 0xAA, 0xBB}},
              {4, (1LL << 32) + 4, {0xCC, 0xAA, 0xBB}}};
  for (auto& r : rows) EXPECT_EQ(r.want, fill(b.get(), r.pass, 0, 0, r.offset, (int)r.want.size())) << r.pass;
  EXPECT_EQ(inverted(fill(b.get(), 5, 1717, 0, 4096 * 7 + 3, 5000)), fill(b.get(), 6, 0, 1717, 4096 * 7 + 3, 5000));
  std::unique_ptr<CDataBuffer> fresh(CDataBuffer::Create(&s, 0));
  EXPECT_EQ(fill(fresh.get(), 2, 0, 0, 512 * 1000 + 100, 4096), fill(b.get(), 2, 0, 0, 512 * 1000 + 100, 4096));
  EXPECT_EQ(0x12, b->GetWriteBuffer()[kDataBufferSize - 1]);  // past the fills, the area's initial bytes
}

// Sub-fills, out-of-order fills and pool fills equal one fill, for every
// generator and pass type.
TEST(DataBuffer, AnySplitGivesTheSameBytes) {
  CScheme s;
  s.passes = {MakePass(PASS_ZERO), MakePass(PASS_TEST), MakePass(PASS_RANDOM), MakePass(PASS_COMPLEMENT),
              MakePass(PASS_PATTERN, false, {1, 2, 3, 4, 5, 6, 7}), MakePass(PASS_COMPLEMENT)};
  CGenPool pool(3);
  const int len = 4096 * 64 * 5 + 4000;
  CAlignedBuffer area(len);
  const std::vector<std::vector<int>> splits = {{1, len - 1}, {4096, 4096, len - 8192}, {511, 1, 512, 7, len - 1031}};
  for (int gen : {0, 1, 2}) {
    std::unique_ptr<CDataBuffer> b(CDataBuffer::Create(&s, gen));
    for (int pass = 0; pass < (int)s.passes.size(); ++pass) {
      for (long long off : {0LL, 4096 * 3 + 17LL, (1LL << 40) + 511}) {
        bytes one = fill(b.get(), pass, 4242, 1717, off, len);
        for (auto& split : splits) {
          bytes out;
          long long at = off;
          for (int n : split) {
            bytes piece = fill(b.get(), pass, 4242, 1717, at, n);
            out.insert(out.end(), piece.begin(), piece.end());
            at += n;
          }
          EXPECT_EQ(one, out) << gen << " pass " << pass << " offset " << off;
        }
        fill_record_t rec;
        ASSERT_EQ(0, b->FillArea(area.get(), &rec, pass, 4242, 1717, off, len, &pool));
        EXPECT_EQ(one, bytes(area.get(), area.get() + len)) << gen << " pass " << pass << " on the pool";
      }
    }
  }
}

TEST(DataBuffer, FillsThatFail) {
  CScheme s;
  s.passes = {MakePass(PASS_ZERO), MakePass(7), MakePass(PASS_COMPLEMENT), MakePass(PASS_PATTERN)};
  std::unique_ptr<CDataBuffer> b(CDataBuffer::Create(&s, 0));
  const struct {
    int pass, length;
  } rows[] = {{4, 512}, {-1, 512}, {1, 512}, {2, 512}, {3, 512}, {0, kDataBufferSize + 1}};
  ASSERT_EQ(0, b->FillBuffer(0, 0, 0, 0, 4096));
  b->GetWriteBuffer()[5] = 0x44;
  for (auto& r : rows) EXPECT_EQ(-1, b->FillBuffer(r.pass, 0, 0, 0, r.length)) << r.pass;
  ASSERT_EQ(0, b->FillBuffer(0, 0, 0, 4096, 4096));
  EXPECT_EQ(0x44, b->GetWriteBuffer()[5]);  // zeros there already: a failed fill keeps that record
  EXPECT_EQ(nullptr, CDataBuffer::Create(nullptr, 0));
}

// Every index of a batch runs once, and a job not started yet can be dropped.
TEST(GenPool, RunsEveryIndexOnceAndCancels) {
  CGenPool pool(2);
  std::vector<std::atomic<int>> hits(1000);
  std::vector<std::shared_ptr<CGenJob>> jobs;
  for (int j = 0; j < 4; ++j) jobs.push_back(pool.Submit([&, j] { pool.Run(250, [&, j](int i) { ++hits[250 * j + i]; }); }));
  for (auto& job : jobs) pool.Wait(job);
  for (auto& h : hits) ASSERT_EQ(1, h.load());
  std::atomic<bool> release{false};
  std::atomic<int> ran{0};
  auto b1 = pool.Submit([&] { while (!release) usleep(1000); });
  auto b2 = pool.Submit([&] { while (!release) usleep(1000); });
  auto queued = pool.Submit([&] { ++ran; });
  EXPECT_FALSE(pool.Cancel(queued));
  release = true;
  pool.Wait(b1);
  pool.Wait(b2);
  EXPECT_EQ(0, ran.load());
}
