#include "scheme/sha1.h"

#include <stdlib.h>
#include <string.h>

namespace wipe_two {

static inline uint32_t rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

static inline uint32_t load_be32(const unsigned char* p) {
  return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | (uint32_t)p[3];
}

static inline void store_be32(unsigned char* p, uint32_t v) {
  p[0] = (unsigned char)(v >> 24);
  p[1] = (unsigned char)(v >> 16);
  p[2] = (unsigned char)(v >> 8);
  p[3] = (unsigned char)v;
}

// The message schedule is kept as a rolling window of 16 words.
#define SHA1_W(t) (w[(t)&15] = rol(w[((t) + 13) & 15] ^ w[((t) + 8) & 15] ^ w[((t) + 2) & 15] ^ w[(t)&15], 1))
#define SHA1_F1(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define SHA1_F2(b, c, d) ((b) ^ (c) ^ (d))
#define SHA1_F3(b, c, d) (((b) & (c)) | ((d) & ((b) | (c))))
#define SHA1_ROUND(a, b, c, d, e, f, k, wt)   \
  {                                           \
    e += rol(a, 5) + f(b, c, d) + (k) + (wt); \
    b = rol(b, 30);                           \
  }

static void sha1_compress(uint32_t h[5], const unsigned char* block) {
  uint32_t w[16];
  for (int t = 0; t < 16; ++t) w[t] = load_be32(block + 4 * t);
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
  // Five rounds at a time, the working variables renamed instead of moved.
#define SHA1_FIVE(f, k, W0, W1, W2, W3, W4) \
  SHA1_ROUND(a, b, c, d, e, f, k, W0)       \
  SHA1_ROUND(e, a, b, c, d, f, k, W1)       \
  SHA1_ROUND(d, e, a, b, c, f, k, W2)       \
  SHA1_ROUND(c, d, e, a, b, f, k, W3)       \
  SHA1_ROUND(b, c, d, e, a, f, k, W4)
  SHA1_FIVE(SHA1_F1, 0x5A827999, w[0], w[1], w[2], w[3], w[4])
  SHA1_FIVE(SHA1_F1, 0x5A827999, w[5], w[6], w[7], w[8], w[9])
  SHA1_FIVE(SHA1_F1, 0x5A827999, w[10], w[11], w[12], w[13], w[14])
  SHA1_FIVE(SHA1_F1, 0x5A827999, w[15], SHA1_W(16), SHA1_W(17), SHA1_W(18), SHA1_W(19))
  for (int t = 20; t < 40; t += 5) {
    SHA1_FIVE(SHA1_F2, 0x6ED9EBA1, SHA1_W(t), SHA1_W(t + 1), SHA1_W(t + 2), SHA1_W(t + 3), SHA1_W(t + 4))
  }
  for (int t = 40; t < 60; t += 5) {
    SHA1_FIVE(SHA1_F3, 0x8F1BBCDC, SHA1_W(t), SHA1_W(t + 1), SHA1_W(t + 2), SHA1_W(t + 3), SHA1_W(t + 4))
  }
  for (int t = 60; t < 80; t += 5) {
    SHA1_FIVE(SHA1_F2, 0xCA62C1D6, SHA1_W(t), SHA1_W(t + 1), SHA1_W(t + 2), SHA1_W(t + 3), SHA1_W(t + 4))
  }
#undef SHA1_FIVE
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
}

static void sha1_reset(sha1_ctx* c) {
  c->h[0] = 0x67452301;
  c->h[1] = 0xEFCDAB89;
  c->h[2] = 0x98BADCFE;
  c->h[3] = 0x10325476;
  c->h[4] = 0xC3D2E1F0;
  c->length_low = 0;
  c->length_high = 0;
  memset(c->block, 0, sizeof(c->block));
}

int SHA1Allocate(void** ctx) {
  *ctx = malloc(sizeof(sha1_ctx));
  return *ctx ? 0 : 1;
}

int SHA1Free(void** ctx) {
  free(*ctx);
  *ctx = nullptr;
  return 0;
}

int SHA1Init(void* ctx) {
  sha1_reset(static_cast<sha1_ctx*>(ctx));
  return 0;
}

int SHA1Process(void* ctx, const unsigned char* data, unsigned long length) {
  sha1_ctx* c = static_cast<sha1_ctx*>(ctx);
  unsigned used = c->length_low & 63;
  uint32_t old = c->length_low;
  c->length_low += (uint32_t)length;
  if (c->length_low < old) ++c->length_high;
  c->length_high += (uint32_t)((unsigned long long)length >> 32);
  if (used) {
    unsigned take = 64 - used;
    if (take > length) take = (unsigned)length;
    memcpy(c->block + used, data, take);
    data += take;
    length -= take;
    if (used + take < 64) return 0;
    sha1_compress(c->h, c->block);
  }
  while (length >= 64) {
    sha1_compress(c->h, data);
    data += 64;
    length -= 64;
  }
  if (length) memcpy(c->block, data, length);
  return 0;
}

int SHA1Final(void* ctx, unsigned char* digest) {
  sha1_ctx* c = static_cast<sha1_ctx*>(ctx);
  unsigned used = c->length_low & 63;
  // Length in bits, taken before the padding is added.
  uint32_t bits_high = (c->length_high << 3) | (c->length_low >> 29);
  uint32_t bits_low = c->length_low << 3;
  c->block[used++] = 0x80;
  if (used > 56) {
    memset(c->block + used, 0, 64 - used);
    sha1_compress(c->h, c->block);
    used = 0;
  }
  memset(c->block + used, 0, 56 - used);
  store_be32(c->block + 56, bits_high);
  store_be32(c->block + 60, bits_low);
  sha1_compress(c->h, c->block);
  for (int i = 0; i < 5; ++i) store_be32(digest + 4 * i, c->h[i]);
  return 0;
}

void SHA1Digest(const unsigned char* data, unsigned long length, unsigned char* digest) {
  sha1_ctx c;
  SHA1Init(&c);
  SHA1Process(&c, data, length);
  SHA1Final(&c, digest);
}

// SHA-1 of a 20-byte message: a single padded block.
static void sha1_of_20(const unsigned char* msg, unsigned char* digest) {
  unsigned char block[64];
  memcpy(block, msg, 20);
  block[20] = 0x80;
  memset(block + 21, 0, 64 - 21 - 2);
  block[62] = (20 * 8) >> 8;
  block[63] = (20 * 8) & 0xff;
  uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  sha1_compress(h, block);
  for (int i = 0; i < 5; ++i) store_be32(digest + 4 * i, h[i]);
}

int SHA1RandomAllocate(void** state) {
  sha1_random* s = static_cast<sha1_random*>(calloc(1, sizeof(sha1_random)));
  if (!s) {
    *state = nullptr;
    return 1;
  }
  if (SHA1Allocate(&s->sha) != 0) {
    free(s);
    *state = nullptr;
    return 1;
  }
  SHA1Init(s->sha);
  *state = s;
  return 0;
}

int SHA1RandomFree(void** state) {
  sha1_random* s = static_cast<sha1_random*>(*state);
  if (s) {
    SHA1Free(&s->sha);
    free(s);
  }
  *state = nullptr;
  return 0;
}

int SHA1RandomInitialize(void* state) {
  sha1_random* s = static_cast<sha1_random*>(state);
  memset(s->state, 0, sizeof(s->state));
  memset(s->block, 0, sizeof(s->block));
  s->remaining = 0;
  return 0;
}

int SHA1RandomFinalize(void* state) { return SHA1RandomInitialize(state); }

int SHA1RandomRandomize(void* state, const unsigned char* seed, unsigned long length) {
  sha1_random* s = static_cast<sha1_random*>(state);
  unsigned char d[20];
  SHA1Init(s->sha);
  SHA1Process(s->sha, seed, length);
  SHA1Final(s->sha, d);
  unsigned carry = 0;
  for (int i = 19; i >= 0; --i) {
    unsigned sum = s->state[i] + d[i] + carry;
    s->state[i] = (unsigned char)sum;
    carry = sum >> 8;
  }
  memset(s->block, 0, sizeof(s->block));
  s->remaining = 0;
  return 0;
}

int SHA1RandomGetRandomBytes(void* state, unsigned char* out, unsigned long count) {
  sha1_random* s = static_cast<sha1_random*>(state);
  while (s->remaining < count) {
    memcpy(out, s->block + 20 - s->remaining, s->remaining);
    out += s->remaining;
    count -= s->remaining;
    sha1_of_20(s->state, s->block);
    // Step the state: a byte that was 0 before the addition carries on.
    for (int i = 19; i >= 0; --i) {
      unsigned char before = s->state[i]++;
      if (before != 0) break;
    }
    s->remaining = 20;
  }
  memcpy(out, s->block + 20 - s->remaining, count);
  s->remaining -= (unsigned)count;
  return 0;
}

}  // namespace wipe_two
