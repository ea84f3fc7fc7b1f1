// Data buffers: the bytes every pass type puts at a device offset, that any
// split of a range (or a fill spread over the generation pool) gives the same
// bytes, the fills that must fail, random fills against known answers, and the
// compare of read-back random data.
#include "scheme/databuffer.h"

#include <gtest/gtest.h>
#include <string.h>

#include <memory>

#include "app/util.h"
#include "scheme/genpool.h"
#include "scheme/sha1.h"
#include "support/make_pass.h"

namespace {

typedef std::vector<unsigned char> bytes;

bytes fill(CDataBuffer* b, int pass, int start, int prev, long long offset, int length) {
  EXPECT_EQ(0, b->FillBuffer(pass, start, prev, offset, length));
  return bytes(b->GetWriteBuffer(), b->GetWriteBuffer() + length);
}

std::string sha1_hex(const void* p, size_t n) {
  unsigned char d[20];
  wipe_two::SHA1Digest(static_cast<const unsigned char*>(p), n, d);
  char hex[41];
  for (int i = 0; i < 20; ++i) snprintf(hex + 2 * i, 3, "%02x", d[i]);
  return hex;
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

// Read-back random data (a random pass or complements of it) is compared as it
// is made, on one thread or several: the first byte that differs from the fill
// is found wherever it lies (in a block entered or left in its middle, the
// lowest of several in different pieces).
TEST(CompareRandom, FindsTheFirstByteThatDiffersFromTheFill) {
  CScheme scheme;
  scheme.passes = {MakePass(PASS_RANDOM), MakePass(PASS_COMPLEMENT), MakePass(PASS_COMPLEMENT),
                   MakePass(PASS_ZERO)};
  std::unique_ptr<CDataBuffer> buf(CDataBuffer::Create(&scheme, 0));
  CGenPool pool(2);
  const long long offset = 3 * 4096 + 100;
  const int length = 300 * 4096 + 77;  // five pieces and a bit
  const struct {
    int pass;
    std::vector<long> flips;  // bytes of the range changed
    long expected;
  } rows[] = {{0, {}, -1},   {0, {0}, 0}, {0, {length - 1}, length - 1}, {0, {250 * 4096 + 9, 70 * 4096}, 70 * 4096},
              {1, {130 * 4096 + 3}, 130 * 4096 + 3}, {2, {4000}, 4000}, {3, {}, -2}};
  fill_record_t record;
  std::vector<unsigned char> data(length);
  for (auto& r : rows)
    for (CFillRunner* runner : {(CFillRunner*)nullptr, (CFillRunner*)&pool}) {
      SCOPED_TRACE("pass " + std::to_string(r.pass) + (runner ? " on the pool" : " on one thread"));
      ASSERT_EQ(buf->FillArea(data.data(), &record, r.pass, 2000, 1000, offset, length, nullptr), 0);
      for (long at : r.flips) data[at] ^= 0x40;
      EXPECT_EQ(r.expected, buf->CompareRandom(data.data(), r.pass, 2000, 1000, offset, length, runner));
    }
}

// Random fills of the ISAAC64, SHA1 and ISAAC generators against SHA-1 digests
// of an independent model of the published algorithms (gen_random_vectors.py
// in this tree's history): every 4 KiB block of the device is a restart with
// (block number + pass start), whatever range is filled.
TEST(RandomVectors, RandomFills) {
  const struct {
    int gen, start;
    long long offset;
    int length;
    const char* sha1;
  } rows[] = {
      {0, 1000, 12388, 10000, "0d76d9e93364f06acd42a22947421da557589aed"},
      {0, 2147483647, 20473, 12288, "9bfb3d4686430ade5f19f073f24511f8b33d0654"},
      {0, -5, 4294975489LL, 9000, "e74d9fb6f4d1ac44033b3de1cd728f44ed325587"},
      {0, 77, 17592186048512LL, 4096, "52573dbe35e6b9db18ada31ad82ff67887455c09"},
      {2, 1000, 12388, 10000, "bfb276e426666d49971eb4a4a2b04f974e7b0f7e"},
      {2, -5, 4294975489LL, 9000, "cdbcc808bc61d4e6d8c0229d5915f062ef14440a"},
      {1, 0, 0, 8192, "01fa0804526cd073a97942c310754b703552fb93"},
      {1, 2147483647, 20473, 12288, "02bbd2f5407a863d4da646e9a3ac2d47374f99f5"},
  };
  CScheme scheme;
  scheme.passes.push_back(MakePass(PASS_RANDOM));
  for (auto& r : rows) {
    std::unique_ptr<CDataBuffer> buf(CDataBuffer::Create(&scheme, r.gen));
    ASSERT_EQ(0, buf->FillBuffer(0, r.start, 0, r.offset, r.length));
    EXPECT_EQ(r.sha1, sha1_hex(buf->GetWriteBuffer(), r.length)) << r.gen << " " << r.start << " " << r.offset;
  }
}
