// Random data: SHA-1 against the FIPS 180-1 examples, and the ISAAC64, SHA1
// and ISAAC generators and random fills against known answers. The digests
// below are of the output of an independent model written from the published
// algorithm descriptions (tests/scheme/data/gen_random_vectors.py in the
// history of this tree), and pin the bytes every wiped disk carries.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "scheme/databuffer.h"
#include "scheme/sha1.h"
#include "support/make_pass.h"

namespace {

std::string sha1_hex(const void* p, size_t n) {
  unsigned char d[20];
  wipe_two::SHA1Digest(static_cast<const unsigned char*>(p), n, d);
  char hex[41];
  for (int i = 0; i < 20; ++i) snprintf(hex + 2 * i, 3, "%02x", d[i]);
  return hex;
}

}  // namespace

TEST(Sha1, FipsExamples) {
  const std::pair<std::string, const char*> rows[] = {
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"}};
  for (auto& r : rows) EXPECT_EQ(r.second, sha1_hex(r.first.data(), r.first.size()));
}

// {generator, seed, successive request sizes after a restart, digest}.
TEST(RandomVectors, GeneratorStreams) {
  const struct {
    int gen;  // 0 ISAAC64, 1 SHA1, 2 ISAAC
    int seed;
    std::vector<int> sizes;
    const char* sha1;
  } rows[] = {
      {0, 0, {4096}, "2f42b778f4d75dc37ce73ee3d2a29eef19ea6fc4"},
      {0, -1, {4096}, "3e1399cb78022591bb9bdf69c124c44e3ac34581"},
      {0, 2147483647, {4096}, "afdad7b0385d5fc0b1e65fbf37203191031eb481"},
      {0, -2147483648, {4096}, "241066b5fe204ccb3272dd7d8bf754f65aef82dc"},
      {0, 7, {300, 10}, "a00cca177b72f3b76a99f8b7a1751a74c7d8184d"},
      {0, -2, {1, 255, 256, 3, 21, 19, 20}, "492d7622598962bc4b21f494eb0bf3bd290308c2"},
      {2, 1, {4096}, "36e3194d9032a925c9726714486b338cc9c13379"},
      {2, 305419896, {4096}, "dfece12fd059b36e74d349a1984b757e2f65b3eb"},
      {2, -2147483648, {4096}, "8c3bf9427fb4d40f6349d228bcff931d793b2cee"},
      {2, 7, {300, 10}, "650e960646216f317b4f032156614a8d6d987361"},
      {2, -2, {1, 255, 256, 3, 21, 19, 20}, "2ab194be6c2199a729996698af320be0450d421e"},
      {1, 1000, {4096}, "5708e9b44ffb6cedfebac3921cf1fa35e0070d8b"},
      {1, -1, {4096}, "d83de1d7fa4a1c1259f2041f13d09b36c1c127ed"},
      {1, 7, {300, 10}, "18ea9ddb534bd730b29847ba6277d5655ad2bb7a"},
      {1, -2, {1, 255, 256, 3, 21, 19, 20}, "29717460576240cef793d02488d1c1e4943a607d"},
  };
  CScheme scheme;
  scheme.passes.push_back(MakePass(PASS_RANDOM));
  for (auto& r : rows) {
    std::unique_ptr<CDataBuffer> buf(CDataBuffer::Create(&scheme, r.gen));
    ASSERT_TRUE(buf);
    buf->RestartRandom(r.seed);
    std::vector<char> out;
    for (int n : r.sizes) {
      std::vector<char> piece(n);
      buf->GetRandomBytes(piece.data(), n);
      out.insert(out.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(r.sha1, sha1_hex(out.data(), out.size())) << r.gen << " seed " << r.seed;
  }
}

// A random pass over a device range: every 4 KiB block of the device is a
// restart with (block number + pass start), whatever range is filled.
TEST(RandomVectors, RandomFills) {
  const struct {
    int gen, start;
    long long offset;
    int length;
    const char* sha1;
  } rows[] = {
      {0, 0, 0, 8192, "ac14183c27650dc7e6fe2b1131cfb675689e8afb"},
      {0, 1000, 100, 50, "00d9967376d52188265ec36bc31c4d7f33556afb"},
      {0, 1000, 12388, 10000, "0d76d9e93364f06acd42a22947421da557589aed"},
      {0, 2147483647, 20473, 12288, "9bfb3d4686430ade5f19f073f24511f8b33d0654"},
      {0, -5, 4294975489LL, 9000, "e74d9fb6f4d1ac44033b3de1cd728f44ed325587"},
      {0, 77, 17592186048512LL, 4096, "52573dbe35e6b9db18ada31ad82ff67887455c09"},
      {0, 123456789, 0, 1048576, "569fcf11e6936bd7d27ec0c490a93eb91846b3a4"},
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
