#include "scheme/isaac.h"

#include <string.h>

#include "scheme/isaac_forms.h"

// The generators' rows of statements mirror the published algorithm's layout.
// clang-format off
// ind(mm, x): the 64-bit little-endian value that starts at byte offset
// (x & 1020) of the memory array. The offset is a multiple of 4, so the value
// may span two memory words.
static inline uint64_t ind32(const uint64_t* mm, uint64_t x) {
  uint64_t v;
  memcpy(&v, (const unsigned char*)mm + (x & ((RANDSIZ - 1) << 2)), sizeof(v));
#if __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

#define rngstep(mix, a, b, mm, m, m2, r, x)    \
  {                                            \
    x = *m;                                    \
    a = (a ^ (mix)) + *(m2++);                 \
    *(m++) = y = ind32(mm, x) + a + b;         \
    *(r++) = b = ind32(mm, y >> RANDSIZL) + x; \
  }

void isaac(randctx* ctx) {
  uint64_t a, b, x, y, *m, *m2, *r, *mend;
  uint64_t* mm = ctx->randmem;
  r = ctx->randrsl;
  a = ctx->randa;
  b = ctx->randb + (++ctx->randc);
  for (m = mm, mend = m2 = m + (RANDSIZ / 2); m < mend;) {
    rngstep(a << 13, a, b, mm, m, m2, r, x);
    rngstep(a >> 6, a, b, mm, m, m2, r, x);
    rngstep(a << 2, a, b, mm, m, m2, r, x);
    rngstep(a >> 16, a, b, mm, m, m2, r, x);
  }
  for (m2 = mm; m2 < mend;) {
    rngstep(a << 13, a, b, mm, m, m2, r, x);
    rngstep(a >> 6, a, b, mm, m, m2, r, x);
    rngstep(a << 2, a, b, mm, m, m2, r, x);
    rngstep(a >> 16, a, b, mm, m, m2, r, x);
  }
  ctx->randb = b;
  ctx->randa = a;
}

#define mix(a, b, c, d, e, f, g, h) \
  {                                 \
    a ^= b << 11; d += a; b += c;   \
    b ^= c >> 2;  e += b; c += d;   \
    c ^= d << 8;  f += c; d += e;   \
    d ^= e >> 16; g += d; e += f;   \
    e ^= f << 10; h += e; f += g;   \
    f ^= g >> 4;  a += f; g += h;   \
    g ^= h << 8;  b += g; h += a;   \
    h ^= a >> 9;  c += h; a += b;   \
  }

void randinit(randctx* ctx, int flag) {
  uint64_t a, b, c, d, e, f, g, h;
  uint64_t* m = ctx->randmem;
  uint64_t* r = ctx->randrsl;
  ctx->randa = ctx->randb = ctx->randc = 0;
  a = b = c = d = e = f = g = h = 0x9e3779b9ULL;  // the golden ratio
  for (int i = 0; i < 4; ++i) mix(a, b, c, d, e, f, g, h);
  for (int i = 0; i < RANDSIZ; i += 8) {
    if (flag) {
      a += r[i]; b += r[i + 1]; c += r[i + 2]; d += r[i + 3];
      e += r[i + 4]; f += r[i + 5]; g += r[i + 6]; h += r[i + 7];
    }
    mix(a, b, c, d, e, f, g, h);
    m[i] = a; m[i + 1] = b; m[i + 2] = c; m[i + 3] = d;
    m[i + 4] = e; m[i + 5] = f; m[i + 6] = g; m[i + 7] = h;
  }
  if (flag) {
    for (int i = 0; i < RANDSIZ; i += 8) {
      a += m[i]; b += m[i + 1]; c += m[i + 2]; d += m[i + 3];
      e += m[i + 4]; f += m[i + 5]; g += m[i + 6]; h += m[i + 7];
      mix(a, b, c, d, e, f, g, h);
      m[i] = a; m[i + 1] = b; m[i + 2] = c; m[i + 3] = d;
      m[i + 4] = e; m[i + 5] = f; m[i + 6] = g; m[i + 7] = h;
    }
  }
  isaac(ctx);
  ctx->randcnt = RANDSIZ;
}

void isaac_restart(randctx* ctx, int seed) {
  ctx->randcnt = 0;
  ctx->randa = ctx->randb = ctx->randc = 0;
  uint64_t pattern[32];
  for (int i = 0; i < 32; ++i) pattern[i] = (uint64_t)((seed >> i) & 0xff);
  for (int i = 0; i < RANDSIZ; i += 32) memcpy(&ctx->randrsl[i], pattern, sizeof(pattern));
  randinit(ctx, 1);
  ctx->randcnt = RANDSIZ;
}

void isaac_bytes(randctx* ctx, unsigned char* out, long n) {
  while (n > 0) {
    isaac(ctx);
    long k = n < RANDSIZ ? n : RANDSIZ;
    const uint64_t* r = ctx->randrsl;
    for (long i = 0; i < k; ++i) out[i] = (unsigned char)r[i];
    out += k;
    n -= k;
  }
  ctx->randcnt = RANDSIZ;
}

// ---- several blocks side by side (see isaac64_blocks) ----

namespace {

const int kLanes = 4;
const int kBlockBytes = 4096;
const int kStepsPerBlock = kBlockBytes / RANDSIZ;

// Lane memories and output rows are spaced so that no two lanes sit a
// multiple of 4096 bytes apart: the CPU would take their loads and stores
// for aliases of each other and stall.
const int kLaneStride = RANDSIZ + 24;  // words
const int kRowStride = RANDSIZ + 64;   // bytes

struct alignas(64) lanes32 {
  uint64_t mm[kLanes * kLaneStride];
  unsigned char row[kLanes * kRowStride];  // one step's output of every lane
  uint64_t a[kLanes], b[kLanes], c[kLanes];
};

// One step of lane L at index i; MIX(A) is the mixing term of that index.
#define LANE_STEP(L, MIX, i)                                          \
  {                                                                   \
    uint64_t* lm = mm + (L) * kLaneStride;                                \
    uint64_t x = lm[i];                                               \
    a##L = (a##L ^ MIX(a##L)) + lm[((i) + RANDSIZ / 2) & (RANDSIZ - 1)]; \
    uint64_t y = ind32(lm, x) + a##L + b##L;                          \
    lm[i] = y;                                                        \
    b##L = ind32(lm, y >> RANDSIZL) + x;                              \
    if (kOut) row[(L) * kRowStride + (i)] = (unsigned char)b##L;     \
  }

#define LANES_STEP(MIX, i) LANE_STEP(0, MIX, i) LANE_STEP(1, MIX, i) LANE_STEP(2, MIX, i) LANE_STEP(3, MIX, i)

#define MIX32_0(A) ((A) << 13)
#define MIX32_1(A) ((A) >> 6)
#define MIX32_2(A) ((A) << 2)
#define MIX32_3(A) ((A) >> 16)

static_assert(kLanes == 4, "the step below is written out for four lanes");

template <bool kOut>
inline void lanes32_step(lanes32* s, unsigned char* out) {
  uint64_t* mm = s->mm;
  unsigned char* row = s->row;
  uint64_t a0 = s->a[0], a1 = s->a[1], a2 = s->a[2], a3 = s->a[3];
  uint64_t b0 = s->b[0] + (++s->c[0]), b1 = s->b[1] + (++s->c[1]);
  uint64_t b2 = s->b[2] + (++s->c[2]), b3 = s->b[3] + (++s->c[3]);
  for (int i = 0; i < RANDSIZ; i += 4) {
    LANES_STEP(MIX32_0, i);
    LANES_STEP(MIX32_1, i + 1);
    LANES_STEP(MIX32_2, i + 2);
    LANES_STEP(MIX32_3, i + 3);
  }
  s->a[0] = a0; s->a[1] = a1; s->a[2] = a2; s->a[3] = a3;
  s->b[0] = b0; s->b[1] = b1; s->b[2] = b2; s->b[3] = b3;
  if (kOut)
    for (int l = 0; l < kLanes; ++l) memcpy(out + l * kBlockBytes, row + l * kRowStride, RANDSIZ);
}

void lane32_seed(lanes32* s, int l, int seed) {
  uint64_t r[32];
  for (int i = 0; i < 32; ++i) r[i] = (uint64_t)((seed >> i) & 0xff);
  uint64_t* m = s->mm + l * kLaneStride;
  uint64_t a, b, c, d, e, f, g, h;
  a = b = c = d = e = f = g = h = 0x9e3779b9ULL;
  for (int i = 0; i < 4; ++i) mix(a, b, c, d, e, f, g, h);
  for (int i = 0; i < RANDSIZ; i += 8) {
    const uint64_t* ri = r + (i & 31);
    a += ri[0]; b += ri[1]; c += ri[2]; d += ri[3];
    e += ri[4]; f += ri[5]; g += ri[6]; h += ri[7];
    mix(a, b, c, d, e, f, g, h);
    m[i] = a; m[i + 1] = b; m[i + 2] = c; m[i + 3] = d;
    m[i + 4] = e; m[i + 5] = f; m[i + 6] = g; m[i + 7] = h;
  }
  for (int i = 0; i < RANDSIZ; i += 8) {
    a += m[i]; b += m[i + 1]; c += m[i + 2]; d += m[i + 3];
    e += m[i + 4]; f += m[i + 5]; g += m[i + 6]; h += m[i + 7];
    mix(a, b, c, d, e, f, g, h);
    m[i] = a; m[i + 1] = b; m[i + 2] = c; m[i + 3] = d;
    m[i + 4] = e; m[i + 5] = f; m[i + 6] = g; m[i + 7] = h;
  }
  s->a[l] = s->b[l] = s->c[l] = 0;
}

}  // namespace

void isaac_blocks_scalar(int seed_first, unsigned char* out, long nblocks) {
  lanes32 s;
  uint32_t seed = (uint32_t)seed_first;
  long k = 0;
  for (; k + kLanes <= nblocks; k += kLanes) {
    for (int l = 0; l < kLanes; ++l) lane32_seed(&s, l, (int)(seed + (uint32_t)l));
    lanes32_step<false>(&s, nullptr);
    unsigned char* o = out + k * kBlockBytes;
    for (int st = 0; st < kStepsPerBlock; ++st) lanes32_step<true>(&s, o + st * RANDSIZ);
    seed += kLanes;
  }
  randctx ctx;
  for (; k < nblocks; ++k, ++seed) {
    isaac_restart(&ctx, (int)seed);
    isaac_bytes(&ctx, out + k * kBlockBytes, kBlockBytes);
  }
}
// clang-format on
