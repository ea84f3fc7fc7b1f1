// Data buffers: what every pass type writes at a device offset, the positional
// properties (any split of a range gives the same bytes), the skip rules,
// complement chains, and the failures with their log lines.
#include "scheme/databuffer.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "random_vectors.h"
#include "scheme/isaac64.h"
#include "scheme/sha1.h"
#include "support/log_capture.h"
#include "support/make_pass.h"

namespace {

typedef std::vector<unsigned char> bytes;

CScheme make_scheme(std::vector<CPass> passes) {
  CScheme s;
  s.name = "test";
  s.passes = passes;
  return s;
}

std::unique_ptr<CDataBuffer> make_buffer(CScheme* s, int gen = 0) {
  return std::unique_ptr<CDataBuffer>(CDataBuffer::Create(s, gen));
}

// One fill, copied out of the write area.
bytes fill(CDataBuffer* b, int pass, int start, int prev, long long offset, int length) {
  EXPECT_EQ(b->FillBuffer(pass, start, prev, offset, length), 0);
  return bytes(b->GetWriteBuffer(), b->GetWriteBuffer() + length);
}

// The same range as a sequence of sub-fills with the given lengths.
bytes fill_split(CDataBuffer* b, int pass, int start, int prev, long long offset, const std::vector<int>& parts) {
  bytes out;
  for (int n : parts) {
    bytes piece = fill(b, pass, start, prev, offset, n);
    out.insert(out.end(), piece.begin(), piece.end());
    offset += n;
  }
  return out;
}

bytes random_block(int seed, int n = 4096) {
  randctx64 ctx;
  bytes out(n);
  isaac64_restart(&ctx, seed);
  isaac64_bytes(&ctx, out.data(), n);
  return out;
}

std::string sha1_hex(const bytes& b) {
  unsigned char d[20];
  wipe_two::SHA1Digest(b.data(), b.size(), d);
  return to_hex(d, 20);
}

bytes inverted(bytes b) {
  for (auto& c : b) c = (unsigned char)~c;
  return b;
}

// ---- creation ----

TEST(DataBufferCreate, NullSchemeFails) {
  LogCapture log;
  EXPECT_EQ(CDataBuffer::Create(nullptr, 0), nullptr);
  EXPECT_EQ(log.Texts("debug"), std::vector<std::string>{"Data buffer initialization failed"});
}

TEST(DataBufferCreate, SelectorPicksTheGeneratorAndLogsIt) {
  CScheme s = make_scheme({MakePass(PASS_ZERO)});
  const struct {
    int selector;
    const char* message;
  } kinds[] = {{0, "Initilizing ISAAC64 PRNG..."},
               {1, "Initializing SHA1 PRNG..."},
               {2, "Initializing ISAAC PRNG..."},
               {3, "Initilizing ISAAC64 PRNG..."},
               {-1, "Initilizing ISAAC64 PRNG..."}};
  for (auto& k : kinds) {
    LogCapture log;
    auto b = make_buffer(&s, k.selector);
    ASSERT_TRUE(b);
    EXPECT_EQ(log.Texts("debug"), std::vector<std::string>{k.message}) << k.selector;
    EXPECT_EQ(b->GetScheme(), &s);
    if (k.selector == 1) EXPECT_NE(dynamic_cast<CDataBufferSha1*>(b.get()), nullptr);
    else if (k.selector == 2) EXPECT_NE(dynamic_cast<CDataBufferIsaac*>(b.get()), nullptr);
    else EXPECT_NE(dynamic_cast<CDataBufferIsaac64*>(b.get()), nullptr);
  }
}

TEST(DataBufferCreate, AreasArePageAlignedAndWriteAreaHolds12) {
  CScheme s = make_scheme({MakePass(PASS_ZERO)});
  auto b = make_buffer(&s);
  ASSERT_TRUE(b);
  EXPECT_EQ((uintptr_t)b->GetWriteBuffer() % 4096, 0u);
  EXPECT_EQ((uintptr_t)b->GetReadBuffer() % 4096, 0u);
  EXPECT_NE(b->GetWriteBuffer(), b->GetReadBuffer());
  const unsigned char* w = b->GetWriteBuffer();
  for (int i = 0; i < kDataBufferSize; i += 4093) ASSERT_EQ(w[i], 0x12) << i;
  EXPECT_EQ(w[kDataBufferSize - 1], 0x12);
  // The read area is the caller's: usable over its whole size.
  memset(b->GetReadBuffer(), 0x77, kDataBufferSize);
}

TEST(DataBufferCreate, IsaacGeneratorStartsFromSeedZero) {
  CScheme s = make_scheme({MakePass(PASS_ZERO)});
  auto b = make_buffer(&s, 0);
  char out[4096];
  b->GetRandomBytes(out, 4096);
  EXPECT_EQ(0, memcmp(out, random_block(0).data(), 4096));
}

TEST(DataBufferCreate, StopRandomReleasesTheGenerator) {
  CScheme s = make_scheme({MakePass(PASS_RANDOM)});
  for (int gen : {0, 1, 2}) {
    auto b = make_buffer(&s, gen);
    b->StopRandom();
    b->StopRandom();  // twice is harmless, and so is the destructor after it
    EXPECT_EQ(b->InitRandom(), 0);
    bytes a = fill(b.get(), 0, 5, 0, 0, 4096);
    bytes c = fill(b.get(), 0, 5, 0, 0, 4096);
    EXPECT_EQ(a, c);
  }
}

// ---- zero ----

TEST(DataBufferZero, WritesZeros) {
  CScheme s = make_scheme({MakePass(PASS_ZERO)});
  auto b = make_buffer(&s);
  bytes z = fill(b.get(), 0, 111, 0, 12345, 100000);
  EXPECT_EQ(z, bytes(100000, 0));
  // Behind the length the area keeps its old content.
  EXPECT_EQ(b->GetWriteBuffer()[100000], 0x12);
}

TEST(DataBufferZero, SkipsWhenTheAreaAlreadyHoldsEnough) {
  CScheme s = make_scheme({MakePass(PASS_ZERO), MakePass(PASS_ZERO)});
  auto b = make_buffer(&s);
  unsigned char* w = b->GetWriteBuffer();
  ASSERT_EQ(b->FillBuffer(0, 1, 0, 0, 8192), 0);
  w[10] = 0xAB;  // a caller that alters the area sees the skip
  ASSERT_EQ(b->FillBuffer(0, 2, 0, 1 << 20, 8192), 0);
  EXPECT_EQ(w[10], 0xAB);
  ASSERT_EQ(b->FillBuffer(0, 2, 0, 0, 4096), 0);
  EXPECT_EQ(w[10], 0xAB);
  // A longer fill regenerates.
  ASSERT_EQ(b->FillBuffer(0, 2, 0, 0, 8193), 0);
  EXPECT_EQ(w[10], 0);
  // So does another pass, even of the same type.
  w[10] = 0xAB;
  ASSERT_EQ(b->FillBuffer(1, 2, 0, 0, 100), 0);
  EXPECT_EQ(w[10], 0);
}

// ---- test pattern ----

TEST(DataBufferTest, SectorNumberBigEndianThenZeros) {
  CScheme s = make_scheme({MakePass(PASS_TEST)});
  auto b = make_buffer(&s);
  bytes t = fill(b.get(), 0, 0, 0, 0, 8 * 512);
  for (int sec = 0; sec < 8; ++sec) {
    EXPECT_EQ(t[sec * 512 + 0], 0);
    EXPECT_EQ(t[sec * 512 + 1], 0);
    EXPECT_EQ(t[sec * 512 + 2], 0);
    EXPECT_EQ(t[sec * 512 + 3], sec);
    for (int i = 4; i < 512; ++i) ASSERT_EQ(t[sec * 512 + i], 0) << sec << ":" << i;
  }
  bytes at5 = fill(b.get(), 0, 0, 0, 5 * 512, 4);
  EXPECT_EQ(at5, (bytes{0, 0, 0, 5}));
  bytes big = fill(b.get(), 0, 0, 0, 0x01020304LL * 512, 4);
  EXPECT_EQ(big, (bytes{1, 2, 3, 4}));
}

TEST(DataBufferTest, PartialSectorsCarryTheirOwnBytes) {
  CScheme s = make_scheme({MakePass(PASS_TEST)});
  auto b = make_buffer(&s);
  long long sector = 0xA1B2C3D4LL;
  // Starts at byte 2 of a sector and ends at byte 1 of the next.
  bytes t = fill(b.get(), 0, 0, 0, sector * 512 + 2, 512);
  EXPECT_EQ(t[0], 0xC3);
  EXPECT_EQ(t[1], 0xD4);
  for (int i = 2; i < 510; ++i) ASSERT_EQ(t[i], 0);
  EXPECT_EQ(t[510], 0xA1);
  EXPECT_EQ(t[511], 0xB2);
}

TEST(DataBufferTest, SectorNumbersKeepTheirLow32BitsBeyond2To32Sectors) {
  CScheme s = make_scheme({MakePass(PASS_TEST)});
  auto b = make_buffer(&s);
  long long sector = (1LL << 32) + 3;  // a device offset of 2 TiB + 1536
  bytes t = fill(b.get(), 0, 0, 0, sector * 512 - 2, 8);
  EXPECT_EQ(t, (bytes{0, 0, 0, 0, 0, 3, 0, 0}));  // the end of sector 2^32 + 2, then 2^32 + 3
  // The offset itself beyond 2^32 bytes, sector number below 2^32.
  bytes u = fill(b.get(), 0, 0, 0, (1LL << 32) + 512 * 7, 4);
  EXPECT_EQ(u, (bytes{0, 0x80, 0, 7}));
}

// A fill over test data already in the area rewrites only the sector
// numbers when the position within a sector is the same; either way the
// bytes are those of a fresh buffer.
TEST(DataBufferTest, RefillOverTestDataGivesTheBytesOfAFreshBuffer) {
  CScheme s = make_scheme({MakePass(PASS_TEST)});
  auto b = make_buffer(&s);
  fill(b.get(), 0, 0, 0, 512 * 3 + 100, 8192);
  const long long offsets[] = {512LL * 1000 + 100, (1LL << 41) + 100, 512 * 7 + 7, 0, 0x12345600LL};
  for (long long off : offsets) {
    auto fresh = make_buffer(&s);
    EXPECT_EQ(fill(b.get(), 0, 0, 0, off, 4096), fill(fresh.get(), 0, 0, 0, off, 4096)) << off;
  }
}

// ---- pattern ----

TEST(DataBufferPattern, AlignedToDeviceOffsetZero) {
  CScheme s = make_scheme({MakePass(PASS_PATTERN, false, {0xAA, 0xBB, 0xCC})});
  auto b = make_buffer(&s);
  bytes p = fill(b.get(), 0, 0, 0, 4, 7);
  EXPECT_EQ(p, (bytes{0xBB, 0xCC, 0xAA, 0xBB, 0xCC, 0xAA, 0xBB}));
  long long off = (1LL << 32) + 4;  // (2^32 + 4) mod 3 = 2
  bytes q = fill(b.get(), 0, 0, 0, off, 4);
  EXPECT_EQ(q, (bytes{0xCC, 0xAA, 0xBB, 0xCC}));
}

TEST(DataBufferPattern, LongPatternShorterAndLongerThanTheFill) {
  std::vector<unsigned char> pat(65536);
  for (size_t i = 0; i < pat.size(); ++i) pat[i] = (unsigned char)(i * 7 + i / 256);
  CScheme s = make_scheme({MakePass(PASS_PATTERN, false, pat), MakePass(PASS_PATTERN, false, {0x5A})});
  auto b = make_buffer(&s);
  long long off = 3LL * 65536 + 1000;
  bytes p = fill(b.get(), 0, 0, 0, off, 200000);
  for (int i = 0; i < 200000; ++i) ASSERT_EQ(p[i], pat[(off + i) % 65536]) << i;
  bytes small = fill(b.get(), 0, 0, 0, 70000, 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(small[i], pat[(70000 + i) % 65536]);
  EXPECT_EQ(fill(b.get(), 1, 0, 0, 99, kDataBufferSize), bytes(kDataBufferSize, 0x5A));
}

TEST(DataBufferPattern, SkipsOnlyForTheSamePhase) {
  CScheme s = make_scheme({MakePass(PASS_PATTERN, false, {1, 2, 3})});
  auto b = make_buffer(&s);
  unsigned char* w = b->GetWriteBuffer();
  ASSERT_EQ(b->FillBuffer(0, 0, 0, 0, 3000), 0);
  w[0] = 0xEE;
  ASSERT_EQ(b->FillBuffer(0, 0, 0, 3 * 1000, 3000), 0);  // same phase: skipped
  EXPECT_EQ(w[0], 0xEE);
  ASSERT_EQ(b->FillBuffer(0, 0, 0, 3, 2000), 0);  // shorter, same phase: skipped
  EXPECT_EQ(w[0], 0xEE);
  ASSERT_EQ(b->FillBuffer(0, 0, 0, 3001, 3000), 0);  // other phase: regenerated
  EXPECT_EQ(w[0], 2);
  w[0] = 0xEE;
  ASSERT_EQ(b->FillBuffer(0, 0, 0, 3001, 3001), 0);  // longer: regenerated
  EXPECT_EQ(w[0], 2);
}

// ---- random ----

TEST(DataBufferRandom, EachBlockIsARestartWithBlockPlusStart) {
  CScheme s = make_scheme({MakePass(PASS_RANDOM)});
  auto b = make_buffer(&s);
  bytes r = fill(b.get(), 0, 1000, 0, 4096 * 10, 4096 * 3);
  for (int k = 0; k < 3; ++k)
    EXPECT_EQ(bytes(r.begin() + 4096 * k, r.begin() + 4096 * (k + 1)), random_block(1010 + k)) << k;
}

TEST(DataBufferRandom, SameArgumentsSameBytes) {
  CScheme s = make_scheme({MakePass(PASS_RANDOM)});
  auto b = make_buffer(&s);
  auto b2 = make_buffer(&s);
  bytes x = fill(b.get(), 0, 77, 0, 123456789, 50000);
  fill(b.get(), 0, 78, 0, 0, 9000);
  EXPECT_EQ(fill(b.get(), 0, 77, 0, 123456789, 50000), x);
  EXPECT_EQ(fill(b2.get(), 0, 77, 0, 123456789, 50000), x);
  EXPECT_NE(fill(b2.get(), 0, 78, 0, 123456789, 50000), x);
}

TEST(DataBufferRandom, FillsEqualTheModel) {
  CScheme s = make_scheme({MakePass(PASS_RANDOM)});
  const random_vectors& v = random_vectors::Get();
  ASSERT_TRUE(v.loaded);
  int checked = 0;
  for (int gen : {0, 1, 2}) {
    const char* name = gen == 0 ? "isaac64" : gen == 1 ? "sha1" : "isaac";
    auto b = make_buffer(&s, gen);
    for (auto& f : v.fills) {
      if (f.gen != name) continue;
      bytes got = fill(b.get(), 0, f.start, 0, f.offset, f.length);
      EXPECT_EQ(sha1_hex(got), f.digest_or_hex) << name << " " << f.start << " " << f.offset << " " << f.length;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 7 + 6 + 6);
  ASSERT_EQ(v.fillhex.size(), 1u);
  auto b = make_buffer(&s, 0);
  const random_fill_vec& h = v.fillhex[0];
  EXPECT_EQ(to_hex(fill(b.get(), 0, h.start, 0, h.offset, h.length).data(), h.length), h.digest_or_hex);
}

TEST(DataBufferRandom, MiddleOfABlockIsTheSameBytesAsTheWholeBlock) {
  CScheme s = make_scheme({MakePass(PASS_RANDOM)});
  auto b = make_buffer(&s);
  bytes whole = fill(b.get(), 0, 5, 0, 0, 4096);
  bytes part = fill(b.get(), 0, 5, 0, 100, 50);
  EXPECT_EQ(part, bytes(whole.begin() + 100, whole.begin() + 150));
  EXPECT_EQ(fill(b.get(), 0, 5, 0, 4095, 1), bytes(whole.end() - 1, whole.end()));
}

TEST(DataBufferRandom, SeedSumWrapsIn32Bits) {
  CScheme s = make_scheme({MakePass(PASS_RANDOM)});
  auto b = make_buffer(&s);
  // Block 1 with start INT_MAX is seed INT_MIN.
  bytes r = fill(b.get(), 0, 2147483647, 0, 4096, 4096);
  EXPECT_EQ(r, random_block(-2147483647 - 1));
  // Block numbers beyond 2^32 keep their low 32 bits: block 2^32 + 2 of start
  // 5 is block 2 of start 5.
  bytes far = fill(b.get(), 0, 5, 0, ((1LL << 32) + 2) * 4096, 4096);
  EXPECT_EQ(far, random_block(7));
  // Negative starts work the same way.
  EXPECT_EQ(fill(b.get(), 0, -3, 0, 4096 * 3, 4096), random_block(0));
}

// ---- complement ----

TEST(DataBufferComplement, AfterZeroIsAllFF) {
  CScheme s = make_scheme({MakePass(PASS_ZERO), MakePass(PASS_COMPLEMENT)});
  auto b = make_buffer(&s);
  EXPECT_EQ(fill(b.get(), 1, 100, 50, 777, 100003), bytes(100003, 0xFF));
  // The zero pass after it is regenerated, not skipped.
  EXPECT_EQ(fill(b.get(), 0, 50, 0, 777, 100003), bytes(100003, 0));
  EXPECT_EQ(fill(b.get(), 1, 100, 50, 0, 5000), bytes(5000, 0xFF));
}

TEST(DataBufferComplement, FirstPassIsAllFF) {
  CScheme s = make_scheme({MakePass(PASS_COMPLEMENT), MakePass(PASS_COMPLEMENT)});
  auto b = make_buffer(&s);
  EXPECT_EQ(fill(b.get(), 0, 100, 0, 4096, 65536), bytes(65536, 0xFF));
  EXPECT_EQ(fill(b.get(), 1, 200, 100, 4096, 65536), bytes(65536, 0x00));
}

TEST(DataBufferComplement, AfterRandomIsItsInverseWithThePreviousSeed) {
  CScheme s = make_scheme({MakePass(PASS_RANDOM), MakePass(PASS_COMPLEMENT)});
  auto b = make_buffer(&s);
  bytes r = fill(b.get(), 0, 1000, 0, 4096 * 7 + 11, 30000);
  bytes c = fill(b.get(), 1, 2000, 1000, 4096 * 7 + 11, 30000);
  EXPECT_EQ(c, inverted(r));
  // The pass's own seed plays no part.
  EXPECT_EQ(fill(b.get(), 1, 9999, 1000, 4096 * 7 + 11, 30000), c);
}

TEST(DataBufferComplement, ChainRegeneratesTwoBackWithSeedZero) {
  CScheme s = make_scheme({MakePass(PASS_RANDOM), MakePass(PASS_COMPLEMENT), MakePass(PASS_COMPLEMENT)});
  auto b = make_buffer(&s);
  bytes two = fill(b.get(), 2, 3000, 2000, 8192, 8192);
  EXPECT_EQ(two, fill(b.get(), 0, 0, 0, 8192, 8192));
  bytes one = fill(b.get(), 1, 2000, 1000, 8192, 8192);
  EXPECT_EQ(one, inverted(fill(b.get(), 0, 1000, 0, 8192, 8192)));
}

TEST(DataBufferComplement, OfPatternAndTest) {
  CScheme s = make_scheme({MakePass(PASS_PATTERN, false, {0x0F, 0x3C}), MakePass(PASS_COMPLEMENT),
                           MakePass(PASS_TEST), MakePass(PASS_COMPLEMENT)});
  auto b = make_buffer(&s);
  EXPECT_EQ(fill(b.get(), 1, 0, 0, 1, 4), (bytes{0xC3, 0xF0, 0xC3, 0xF0}));
  // The pattern's skip must not leave the inverted data behind.
  EXPECT_EQ(fill(b.get(), 0, 0, 0, 1, 4), (bytes{0x3C, 0x0F, 0x3C, 0x0F}));
  EXPECT_EQ(fill(b.get(), 1, 0, 0, 1, 4), (bytes{0xC3, 0xF0, 0xC3, 0xF0}));
  bytes t = fill(b.get(), 3, 0, 0, 512 * 9, 512);
  EXPECT_EQ(t[3], (unsigned char)~9);
  EXPECT_EQ(t[100], 0xFF);
}

// ---- positional: any split of a range gives the bytes of one fill ----

class DataBufferSplit : public ::testing::TestWithParam<int> {};

TEST_P(DataBufferSplit, SubFillsEqualOneFill) {
  std::vector<CPass> passes = {MakePass(PASS_ZERO),
                               MakePass(PASS_TEST),
                               MakePass(PASS_RANDOM),
                               MakePass(PASS_COMPLEMENT),
                               MakePass(PASS_PATTERN, false, {1, 2, 3, 4, 5, 6, 7}),
                               MakePass(PASS_COMPLEMENT)};
  CScheme s = make_scheme(passes);
  int gen = GetParam();
  auto b = make_buffer(&s, gen);
  const long long offsets[] = {0, 4096 * 3 + 17, (1LL << 32) - 1000, (1LL << 40) + 511};
  const std::vector<std::vector<int>> splits = {
      {20000}, {1, 19999}, {4096, 4096, 11808}, {100, 3996, 5000, 10904}, {511, 1, 512, 7, 4000, 14969},
      {19999, 1}};
  for (int pass = 0; pass < (int)passes.size(); ++pass) {
    if (gen != 0 && passes[pass].type != PASS_RANDOM && passes[pass].type != PASS_COMPLEMENT) continue;
    for (long long off : offsets) {
      bytes one = fill(b.get(), pass, 4242, 1717, off, 20000);
      for (auto& split : splits)
        EXPECT_EQ(fill_split(b.get(), pass, 4242, 1717, off, split), one)
            << "pass " << pass << " offset " << off << " first part " << split[0];
      // Overlapping, out-of-order fills agree too.
      bytes tail = fill(b.get(), pass, 4242, 1717, off + 12345, 7655);
      EXPECT_EQ(tail, bytes(one.begin() + 12345, one.end())) << "pass " << pass;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Generators, DataBufferSplit, ::testing::Values(0, 1, 2));

TEST(DataBufferLength, ZeroLengthSucceedsAndWritesNothing) {
  CScheme s = make_scheme({MakePass(PASS_ZERO), MakePass(PASS_TEST), MakePass(PASS_RANDOM),
                           MakePass(PASS_COMPLEMENT), MakePass(PASS_PATTERN, false, {9})});
  auto b = make_buffer(&s);
  for (int pass = 0; pass < 5; ++pass) {
    EXPECT_EQ(b->FillBuffer(pass, 1, 0, 4096, 0), 0) << pass;
    EXPECT_EQ(b->GetWriteBuffer()[0], 0x12) << pass;
  }
}

TEST(DataBufferLength, FullChunkOfEveryType) {
  CScheme s = make_scheme({MakePass(PASS_ZERO), MakePass(PASS_TEST), MakePass(PASS_RANDOM),
                           MakePass(PASS_COMPLEMENT), MakePass(PASS_PATTERN, false, {9, 8})});
  auto b = make_buffer(&s);
  for (int pass = 0; pass < 5; ++pass) EXPECT_EQ(b->FillBuffer(pass, 1, 2, 1LL << 35, kDataBufferSize), 0);
  // The last byte of a full random chunk is the last byte of its last block.
  ASSERT_EQ(b->FillBuffer(2, 1, 0, 0, kDataBufferSize), 0);
  EXPECT_EQ(b->GetWriteBuffer()[kDataBufferSize - 1], random_block(1 + 4095)[4095]);
}

// ---- failures ----

TEST(DataBufferFailure, BadPassIsLoggedAtMostFiveTimes) {
  CScheme s = make_scheme({MakePass(PASS_ZERO), MakePass(PASS_ZERO)});
  auto b = make_buffer(&s);
  g_bad_pass_messages = 5;
  LogCapture log;
  EXPECT_EQ(b->FillBuffer(2, 0, 0, 0, 512), -1);
  EXPECT_EQ(b->FillBuffer(-1, 0, 0, 0, 512), -1);
  EXPECT_EQ(b->FillBuffer(100, 0, 0, 0, 512), -1);
  EXPECT_EQ(log.Texts("debug"), (std::vector<std::string>{"Bad pass 2 Total ", "Bad pass -1 Total ",
                                                           "Bad pass 100 Total "}));
  for (auto& l : log.Lines()) EXPECT_EQ(l.level, log4cplus::ERROR_LOG_LEVEL);
  // The count is shared by every buffer.
  auto other = make_buffer(&s);
  log.Clear();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(other->FillBuffer(7, 0, 0, 0, 512), -1);
  EXPECT_EQ(log.Count("Bad pass", "debug"), 2);
  EXPECT_EQ(g_bad_pass_messages, 0);
  // Good passes still work.
  EXPECT_EQ(b->FillBuffer(1, 0, 0, 0, 512), 0);
}

TEST(DataBufferFailure, LengthAbove16MiBFailsSilently) {
  CScheme s = make_scheme({MakePass(PASS_ZERO), MakePass(PASS_RANDOM), MakePass(PASS_PATTERN, false, {1})});
  auto b = make_buffer(&s);
  LogCapture log;
  for (int pass = 0; pass < 3; ++pass) {
    EXPECT_EQ(b->FillBuffer(pass, 0, 0, 0, kDataBufferSize + 1), -1);
    EXPECT_EQ(b->FillBuffer(pass, 0, 0, 0, 0x7fffffff), -1);
    EXPECT_EQ(b->FillBuffer(pass, 0, 0, 0, kDataBufferSize), 0);
  }
  EXPECT_TRUE(log.Lines().empty());
}

TEST(DataBufferFailure, UnknownPassTypeFailsSilently) {
  CScheme s = make_scheme({MakePass(5), MakePass(PASS_COMPLEMENT), MakePass(-1)});
  auto b = make_buffer(&s);
  LogCapture log;
  EXPECT_EQ(b->FillBuffer(0, 0, 0, 0, 4096), -1);
  EXPECT_EQ(b->FillBuffer(2, 0, 0, 0, 4096), -1);
  // The complement of a pass that cannot be generated fails too.
  EXPECT_EQ(b->FillBuffer(1, 0, 0, 0, 4096), -1);
  EXPECT_TRUE(log.Lines().empty());
}

TEST(DataBufferFailure, FailedFillLeavesTheSkipRecordAlone) {
  CScheme s = make_scheme({MakePass(PASS_ZERO), MakePass(7)});
  auto b = make_buffer(&s);
  unsigned char* w = b->GetWriteBuffer();
  ASSERT_EQ(b->FillBuffer(0, 0, 0, 0, 4096), 0);
  w[5] = 0x44;
  EXPECT_EQ(b->FillBuffer(1, 0, 0, 0, 4096), -1);
  EXPECT_EQ(b->FillBuffer(0, 0, 0, 0, kDataBufferSize + 1), -1);
  ASSERT_EQ(b->FillBuffer(0, 0, 0, 0, 4096), 0);
  EXPECT_EQ(w[5], 0x44);  // still the zero pass's record: skipped
}

}  // namespace
