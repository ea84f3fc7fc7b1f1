// Random generators: SHA-1 against the FIPS 180-1 examples, the ISAAC64, ISAAC
// and SHA1 generators against the reference model's vectors, and the seeding
// and output rules the data buffers rely on.
#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "random_vectors.h"
#include "scheme/databuffer.h"
#include "scheme/isaac.h"
#include "scheme/isaac64.h"
#include "scheme/sha1.h"

using namespace wipe_two;

namespace {

std::string sha1_hex(const std::string& msg) {
  unsigned char d[20];
  SHA1Digest(reinterpret_cast<const unsigned char*>(msg.data()), msg.size(), d);
  return to_hex(d, 20);
}

std::vector<unsigned char> sha1_of(const unsigned char* p, size_t n) {
  std::vector<unsigned char> d(20);
  SHA1Digest(p, n, d.data());
  return d;
}

// ---- SHA-1 ----

TEST(Sha1, FipsOneBlockMessage) {
  EXPECT_EQ(sha1_hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(Sha1, FipsMultiBlockMessage) {
  EXPECT_EQ(sha1_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
}

TEST(Sha1, FipsMillionA) {
  std::string a(1000000, 'a');
  EXPECT_EQ(sha1_hex(a), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(Sha1, EmptyMessage) { EXPECT_EQ(sha1_hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709"); }

TEST(Sha1, ProcessInPiecesOfAnySizeAndAlignment) {
  std::string a(1000000, 'a');
  void* ctx = nullptr;
  ASSERT_EQ(SHA1Allocate(&ctx), 0);
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(SHA1Init(ctx), 0);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(a.data());
  size_t done = 0, piece = 1;
  while (done < a.size()) {
    size_t n = std::min(piece, a.size() - done);
    EXPECT_EQ(SHA1Process(ctx, p + done, n), 0);
    done += n;
    piece = piece * 7 % 131 + 1;  // 1, 8, 57, botched alignments throughout
  }
  unsigned char d[20];
  EXPECT_EQ(SHA1Final(ctx, d), 0);
  EXPECT_EQ(to_hex(d, 20), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  EXPECT_EQ(SHA1Free(&ctx), 0);
  EXPECT_EQ(ctx, nullptr);
}

TEST(Sha1, PaddingBoundaries) {
  // 55, 56 and 64 bytes: the length field fits, just misses, fills a block.
  EXPECT_EQ(sha1_hex(std::string(55, 'a')), "c1c8bbdc22796e28c0e15163d20899b65621d65a");
  EXPECT_EQ(sha1_hex(std::string(56, 'a')), "c2db330f6083854c99d4b5bfb6e8f29f201be699");
  EXPECT_EQ(sha1_hex(std::string(64, 'a')), "0098ba824b5c16427bd7a1122a5a442a25ec644d");
}

// ---- reference vectors ----

const random_vectors& vectors() {
  const random_vectors& v = random_vectors::Get();
  EXPECT_TRUE(v.loaded) << "tests/scheme/data/random_vectors.txt missing";
  return v;
}

TEST(RandomVectors, Isaac64MatchesModel) {
  int checked = 0;
  randctx64 ctx;
  for (auto& s : vectors().streams) {
    if (s.gen != "isaac64") continue;
    std::vector<unsigned char> out(s.bytes.size());
    isaac64_restart(&ctx, s.seed);
    isaac64_bytes(&ctx, out.data(), out.size());
    EXPECT_EQ(out, s.bytes) << "seed " << s.seed;
    ++checked;
  }
  EXPECT_EQ(checked, 7);
}

TEST(RandomVectors, IsaacMatchesModel) {
  int checked = 0;
  randctx ctx;
  for (auto& s : vectors().streams) {
    if (s.gen != "isaac") continue;
    std::vector<unsigned char> out(s.bytes.size());
    isaac_restart(&ctx, s.seed);
    isaac_bytes(&ctx, out.data(), out.size());
    EXPECT_EQ(out, s.bytes) << "seed " << s.seed;
    ++checked;
  }
  EXPECT_EQ(checked, 7);
}

TEST(RandomVectors, Sha1GeneratorMatchesModel) {
  int checked = 0;
  void* st = nullptr;
  ASSERT_EQ(SHA1RandomAllocate(&st), 0);
  for (auto& s : vectors().streams) {
    if (s.gen != "sha1") continue;
    uint32_t u = (uint32_t)s.seed;
    unsigned char le[4] = {(unsigned char)u, (unsigned char)(u >> 8), (unsigned char)(u >> 16),
                           (unsigned char)(u >> 24)};
    SHA1RandomFinalize(st);
    SHA1RandomInitialize(st);
    SHA1RandomRandomize(st, le, 4);
    // Ask in uneven pieces: the stream must not depend on how it is read.
    std::vector<unsigned char> out(s.bytes.size());
    size_t done = 0, piece = 3;
    while (done < out.size()) {
      size_t n = std::min(piece, out.size() - done);
      EXPECT_EQ(SHA1RandomGetRandomBytes(st, out.data() + done, n), 0);
      done += n;
      piece = piece * 5 % 47 + 1;
    }
    EXPECT_EQ(out, s.bytes) << "seed " << s.seed;
    ++checked;
  }
  EXPECT_EQ(checked, 7);
  SHA1RandomFree(&st);
  EXPECT_EQ(st, nullptr);
}

// The buffer classes' generator slots give the same streams.
TEST(RandomVectors, BufferGeneratorSlotsMatchModel) {
  CScheme scheme;
  scheme.passes.push_back(CPass());
  const struct {
    int selector;
    const char* gen;
  } kinds[] = {{0, "isaac64"}, {2, "isaac"}, {1, "sha1"}};
  for (auto& k : kinds) {
    std::unique_ptr<CDataBuffer> buf(CDataBuffer::Create(&scheme, k.selector));
    ASSERT_TRUE(buf);
    for (auto& s : vectors().streams) {
      if (s.gen != k.gen) continue;
      std::vector<char> out(s.bytes.size());
      buf->RestartRandom(s.seed);
      buf->GetRandomBytes(out.data(), (int)out.size());
      EXPECT_EQ(0, memcmp(out.data(), s.bytes.data(), out.size())) << k.gen << " seed " << s.seed;
    }
  }
}

// Successive requests after one restart: ISAAC discards what is left of a
// step, the SHA1 generator hands out the rest of its digest first.
TEST(RandomVectors, SuccessiveRequestsMatchModel) {
  CScheme scheme;
  scheme.passes.push_back(CPass());
  const struct {
    int selector;
    const char* gen;
  } kinds[] = {{0, "isaac64"}, {2, "isaac"}, {1, "sha1"}};
  int checked = 0;
  for (auto& k : kinds) {
    std::unique_ptr<CDataBuffer> buf(CDataBuffer::Create(&scheme, k.selector));
    ASSERT_TRUE(buf);
    for (auto& p : vectors().parts) {
      if (p.gen != k.gen) continue;
      std::vector<unsigned char> slot, core;
      randctx64 c64;
      randctx c32;
      if (k.selector == 0) isaac64_restart(&c64, p.seed);
      if (k.selector == 2) isaac_restart(&c32, p.seed);
      buf->RestartRandom(p.seed);
      for (int n : p.sizes) {
        std::vector<unsigned char> piece(n);
        buf->GetRandomBytes(reinterpret_cast<char*>(piece.data()), n);
        slot.insert(slot.end(), piece.begin(), piece.end());
        if (k.selector == 0) isaac64_bytes(&c64, piece.data(), n);
        if (k.selector == 2) isaac_bytes(&c32, piece.data(), n);
        core.insert(core.end(), piece.begin(), piece.end());
      }
      EXPECT_EQ(slot, p.bytes) << k.gen << " seed " << p.seed;
      EXPECT_EQ(core, p.bytes) << k.gen << " seed " << p.seed;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 6);
}

// ---- ISAAC64 seeding and output rules ----

TEST(Isaac64, SeedWordsAreArithmeticShiftsOfTheSeed) {
  randctx64 a;
  isaac64_restart(&a, -2);  // 0xfffffffe
  // Build the same context by hand and compare the two whole.
  randctx64 b;
  memset(&b, 0, sizeof(b));
  for (int i = 0; i < RANDSIZ; ++i) b.randrsl[i] = (uint64_t)((-2 >> (i % 32)) & 0xff);
  EXPECT_EQ(b.randrsl[0], 0xfeu);
  EXPECT_EQ(b.randrsl[1], 0xffu);
  EXPECT_EQ(b.randrsl[31], 0xffu);
  EXPECT_EQ(b.randrsl[32], 0xfeu);
  randinit64(&b, 1);
  EXPECT_EQ(0, memcmp(&a, &b, sizeof(a)));
  EXPECT_EQ(a.randcnt, (uint64_t)RANDSIZ);
}

// Seed 0 gives an all-zero result array, the published generator's own test
// set-up; its first results after initialisation are well known.
TEST(Isaac64, ZeroSeedGivesThePublishedFirstResults) {
  randctx64 ctx;
  isaac64_restart(&ctx, 0);
  isaac64(&ctx);
  EXPECT_EQ(ctx.randrsl[0], 0x12a8f216af9418c2ULL);
  EXPECT_EQ(ctx.randrsl[1], 0xd4490ad526f14431ULL);
  EXPECT_EQ(ctx.randrsl[2], 0xb49c3b3995091a36ULL);
  EXPECT_EQ(ctx.randrsl[3], 0x5b45e522e4b1b4efULL);
}

TEST(Isaac64, SameSeedSameStreamDifferentSeedsDiffer) {
  randctx64 ctx;
  std::vector<unsigned char> s1(4096), s2(4096), s3(4096);
  isaac64_restart(&ctx, 0);
  isaac64_bytes(&ctx, s1.data(), 4096);
  isaac64_restart(&ctx, 0);
  isaac64_bytes(&ctx, s2.data(), 4096);
  isaac64_restart(&ctx, 1);
  isaac64_bytes(&ctx, s3.data(), 4096);
  EXPECT_EQ(s1, s2);
  EXPECT_NE(s1, s3);
}

TEST(Isaac64, InitStepResultsAreNeverOutput) {
  randctx64 ctx;
  isaac64_restart(&ctx, 42);
  uint64_t init_results[RANDSIZ];
  memcpy(init_results, ctx.randrsl, sizeof(init_results));
  unsigned char out[RANDSIZ];
  isaac64_bytes(&ctx, out, RANDSIZ);
  EXPECT_EQ(ctx.randc, 2u);  // the init step and one more
  int same = 0;
  for (int i = 0; i < RANDSIZ; ++i) same += out[i] == (unsigned char)init_results[i];
  EXPECT_LT(same, 32);
  for (int i = 0; i < RANDSIZ; ++i) ASSERT_EQ(out[i], (unsigned char)ctx.randrsl[i]);
}

TEST(Isaac64, LeftoverResultsAreDiscarded) {
  randctx64 ctx;
  std::vector<unsigned char> whole(3 * 256);
  isaac64_restart(&ctx, 7);
  isaac64_bytes(&ctx, whole.data(), whole.size());

  isaac64_restart(&ctx, 7);
  unsigned char a[300], b[10];
  isaac64_bytes(&ctx, a, 300);
  EXPECT_EQ(ctx.randc, 3u);  // init + two steps
  isaac64_bytes(&ctx, b, 10);
  EXPECT_EQ(ctx.randc, 4u);  // a third step, not results 44..53 of the second
  EXPECT_EQ(0, memcmp(a, whole.data(), 300));
  EXPECT_EQ(0, memcmp(b, whole.data() + 512, 10));
  EXPECT_NE(0, memcmp(b, whole.data() + 300, 10));
}

TEST(Isaac64, OneBlockCostsSixteenSteps) {
  randctx64 ctx;
  isaac64_restart(&ctx, 9);
  unsigned char out[4096];
  isaac64_bytes(&ctx, out, sizeof(out));
  EXPECT_EQ(ctx.randc, 17u);
}

TEST(Isaac, LeftoverResultsAreDiscarded) {
  randctx ctx;
  std::vector<unsigned char> whole(3 * 256);
  isaac_restart(&ctx, 7);
  isaac_bytes(&ctx, whole.data(), whole.size());
  isaac_restart(&ctx, 7);
  unsigned char a[300], b[10];
  isaac_bytes(&ctx, a, 300);
  isaac_bytes(&ctx, b, 10);
  EXPECT_EQ(0, memcmp(a, whole.data(), 300));
  EXPECT_EQ(0, memcmp(b, whole.data() + 512, 10));
}

TEST(Isaac, WordsAreNotReducedTo32Bits) {
  randctx ctx;
  isaac_restart(&ctx, 3);
  bool high = false;
  for (int i = 0; i < RANDSIZ; ++i) high |= (ctx.randmem[i] >> 32) != 0;
  EXPECT_TRUE(high);
}

// Blocks generated side by side equal blocks generated one by one, for a
// count that leaves a remainder and seeds that wrap past INT_MAX.
TEST(RandomBlocks, SideBySideEqualsOneByOne) {
  const long n = 9;
  const int first = 2147483647 - 4;
  std::vector<unsigned char> fast(n * 4096), slow(n * 4096);
  isaac64_blocks(first, fast.data(), n);
  randctx64 c64;
  for (long k = 0; k < n; ++k) {
    isaac64_restart(&c64, (int)((uint32_t)first + (uint32_t)k));
    isaac64_bytes(&c64, slow.data() + k * 4096, 4096);
  }
  EXPECT_EQ(fast, slow);

  isaac_blocks(first, fast.data(), n);
  randctx c32;
  for (long k = 0; k < n; ++k) {
    isaac_restart(&c32, (int)((uint32_t)first + (uint32_t)k));
    isaac_bytes(&c32, slow.data() + k * 4096, 4096);
  }
  EXPECT_EQ(fast, slow);
}

// ---- SHA1 generator rules ----

struct Sha1Gen : ::testing::Test {
  void SetUp() override {
    ASSERT_EQ(SHA1RandomAllocate(&st), 0);
    ASSERT_EQ(SHA1RandomInitialize(st), 0);
  }
  void TearDown() override { SHA1RandomFree(&st); }
  sha1_random* s() { return static_cast<sha1_random*>(st); }
  void* st = nullptr;
};

TEST_F(Sha1Gen, InitializeZeroesEverything) {
  memset(s()->state, 0x5a, 20);
  memset(s()->block, 0x5a, 20);
  s()->remaining = 7;
  EXPECT_EQ(SHA1RandomFinalize(st), 0);
  unsigned char zero[20] = {};
  EXPECT_EQ(0, memcmp(s()->state, zero, 20));
  EXPECT_EQ(0, memcmp(s()->block, zero, 20));
  EXPECT_EQ(s()->remaining, 0u);
}

TEST_F(Sha1Gen, RandomizeAccumulatesIntoTheState) {
  const unsigned char seed1[] = {1, 2, 3, 4};
  const unsigned char seed2[] = "another seed";
  ASSERT_EQ(SHA1RandomRandomize(st, seed1, 4), 0);
  EXPECT_EQ(0, memcmp(s()->state, sha1_of(seed1, 4).data(), 20));
  SHA1RandomRandomize(st, seed2, sizeof(seed2) - 1);
  std::vector<unsigned char> d1 = sha1_of(seed1, 4), d2 = sha1_of(seed2, sizeof(seed2) - 1);
  unsigned char sum[20];
  unsigned carry = 0;
  for (int i = 19; i >= 0; --i) {
    unsigned v = d1[i] + d2[i] + carry;
    sum[i] = (unsigned char)v;
    carry = v >> 8;
  }
  EXPECT_EQ(0, memcmp(s()->state, sum, 20));
  EXPECT_EQ(s()->remaining, 0u);
}

TEST_F(Sha1Gen, RandomizeDropsTheFinalCarry) {
  memset(s()->state, 0xff, 20);
  const unsigned char seed[] = {9};
  SHA1RandomRandomize(st, seed, 1);
  std::vector<unsigned char> d = sha1_of(seed, 1);
  // all-ones + d = d - 1 modulo 2^160
  unsigned char expect[20];
  memcpy(expect, d.data(), 20);
  for (int i = 19; i >= 0; --i)
    if (expect[i]-- != 0) break;
  EXPECT_EQ(0, memcmp(s()->state, expect, 20));
}

TEST_F(Sha1Gen, TwentyBytesAreOneDigestOfTheState) {
  const unsigned char seed[] = {0x10, 0, 0, 0};
  SHA1RandomRandomize(st, seed, 4);
  std::vector<unsigned char> state0(s()->state, s()->state + 20);
  unsigned char out[20];
  SHA1RandomGetRandomBytes(st, out, 20);
  EXPECT_EQ(0, memcmp(out, sha1_of(state0.data(), 20).data(), 20));
  EXPECT_EQ(s()->remaining, 0u);
}

TEST_F(Sha1Gen, TwentyOneBytesTakeTwoSteps) {
  const unsigned char seed[] = {0x10, 0, 0, 0};
  SHA1RandomRandomize(st, seed, 4);
  std::vector<unsigned char> state0(s()->state, s()->state + 20);
  unsigned char out[21];
  SHA1RandomGetRandomBytes(st, out, 21);
  std::vector<unsigned char> state1 = state0;
  for (int i = 19; i >= 0; --i)
    if (state1[i]++ != 0) break;
  EXPECT_EQ(0, memcmp(out, sha1_of(state0.data(), 20).data(), 20));
  EXPECT_EQ(out[20], sha1_of(state1.data(), 20)[0]);
  EXPECT_EQ(s()->remaining, 19u);
  // The next bytes are the rest of the second digest.
  unsigned char more[19];
  SHA1RandomGetRandomBytes(st, more, 19);
  EXPECT_EQ(0, memcmp(more, sha1_of(state1.data(), 20).data() + 1, 19));
}

TEST_F(Sha1Gen, StateStepCarriesFromZeroNotFromWrap) {
  s()->state[18] = 0x05;
  s()->state[19] = 0x00;
  unsigned char out[20];
  SHA1RandomGetRandomBytes(st, out, 20);
  EXPECT_EQ(s()->state[18], 0x06);
  EXPECT_EQ(s()->state[19], 0x01);
  EXPECT_EQ(s()->state[17], 0x00);

  SHA1RandomInitialize(st);
  s()->state[17] = 0x33;
  s()->state[18] = 0x05;
  s()->state[19] = 0xff;
  SHA1RandomGetRandomBytes(st, out, 20);
  EXPECT_EQ(s()->state[18], 0x05);
  EXPECT_EQ(s()->state[19], 0x00);
  EXPECT_EQ(s()->state[17], 0x33);
}

TEST_F(Sha1Gen, AllZeroStateCarriesThroughEveryByte) {
  unsigned char out[20];
  SHA1RandomGetRandomBytes(st, out, 20);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(s()->state[i], 1) << i;
}

TEST_F(Sha1Gen, RequestOfZeroBytesChangesNothing) {
  const unsigned char seed[] = {1, 0, 0, 0};
  SHA1RandomRandomize(st, seed, 4);
  sha1_random before = *s();
  unsigned char out[1] = {0xee};
  EXPECT_EQ(SHA1RandomGetRandomBytes(st, out, 0), 0);
  EXPECT_EQ(out[0], 0xee);
  EXPECT_EQ(0, memcmp(before.state, s()->state, 20));
  EXPECT_EQ(before.remaining, s()->remaining);
}

}  // namespace
