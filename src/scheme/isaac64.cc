#include "scheme/isaac64.h"

#include <string.h>

#include "scheme/isaac_forms.h"

// The generators' rows of statements mirror the published algorithm's layout.
// clang-format off
// ind(mm, x): the memory word picked by bits 3..10 of x.
#define ind64(mm, x) (*(uint64_t*)((unsigned char*)(mm) + ((x) & ((RANDSIZ - 1) << 3))))

#define rngstep64(mix, a, b, mm, m, m2, r, x) \
  {                                           \
    x = *m;                                   \
    a = (mix) + *(m2++);                      \
    *(m++) = y = ind64(mm, x) + a + b;        \
    *(r++) = b = ind64(mm, y >> RANDSIZL) + x; \
  }

void isaac64(randctx64* ctx) {
  uint64_t a, b, x, y, *m, *m2, *r, *mend;
  uint64_t* mm = ctx->randmem;
  r = ctx->randrsl;
  a = ctx->randa;
  b = ctx->randb + (++ctx->randc);
  for (m = mm, mend = m2 = m + (RANDSIZ / 2); m < mend;) {
    rngstep64(~(a ^ (a << 21)), a, b, mm, m, m2, r, x);
    rngstep64(a ^ (a >> 5), a, b, mm, m, m2, r, x);
    rngstep64(a ^ (a << 12), a, b, mm, m, m2, r, x);
    rngstep64(a ^ (a >> 33), a, b, mm, m, m2, r, x);
  }
  for (m2 = mm; m2 < mend;) {
    rngstep64(~(a ^ (a << 21)), a, b, mm, m, m2, r, x);
    rngstep64(a ^ (a >> 5), a, b, mm, m, m2, r, x);
    rngstep64(a ^ (a << 12), a, b, mm, m, m2, r, x);
    rngstep64(a ^ (a >> 33), a, b, mm, m, m2, r, x);
  }
  ctx->randb = b;
  ctx->randa = a;
}

#define mix64(a, b, c, d, e, f, g, h) \
  {                                   \
    a -= e; f ^= h >> 9;  h += a;     \
    b -= f; g ^= a << 9;  a += b;     \
    c -= g; h ^= b >> 23; b += c;     \
    d -= h; a ^= c << 15; c += d;     \
    e -= a; b ^= d >> 14; d += e;     \
    f -= b; c ^= e << 20; e += f;     \
    g -= c; d ^= f >> 17; f += g;     \
    h -= d; e ^= g << 14; g += h;     \
  }

void randinit64(randctx64* ctx, int flag) {
  uint64_t a, b, c, d, e, f, g, h;
  uint64_t* mm = ctx->randmem;
  uint64_t* r = ctx->randrsl;
  ctx->randa = ctx->randb = ctx->randc = 0;
  a = b = c = d = e = f = g = h = 0x9e3779b97f4a7c13ULL;  // the golden ratio
  for (int i = 0; i < 4; ++i) mix64(a, b, c, d, e, f, g, h);
  for (int i = 0; i < RANDSIZ; i += 8) {
    if (flag) {
      a += r[i]; b += r[i + 1]; c += r[i + 2]; d += r[i + 3];
      e += r[i + 4]; f += r[i + 5]; g += r[i + 6]; h += r[i + 7];
    }
    mix64(a, b, c, d, e, f, g, h);
    mm[i] = a; mm[i + 1] = b; mm[i + 2] = c; mm[i + 3] = d;
    mm[i + 4] = e; mm[i + 5] = f; mm[i + 6] = g; mm[i + 7] = h;
  }
  if (flag) {
    // second pass, so that all of the seed affects all of the memory
    for (int i = 0; i < RANDSIZ; i += 8) {
      a += mm[i]; b += mm[i + 1]; c += mm[i + 2]; d += mm[i + 3];
      e += mm[i + 4]; f += mm[i + 5]; g += mm[i + 6]; h += mm[i + 7];
      mix64(a, b, c, d, e, f, g, h);
      mm[i] = a; mm[i + 1] = b; mm[i + 2] = c; mm[i + 3] = d;
      mm[i + 4] = e; mm[i + 5] = f; mm[i + 6] = g; mm[i + 7] = h;
    }
  }
  isaac64(ctx);
  ctx->randcnt = RANDSIZ;
}

void isaac64_restart(randctx64* ctx, int seed) {
  ctx->randcnt = 0;
  ctx->randa = ctx->randb = ctx->randc = 0;
  // The seed's bytes, shifted arithmetically, repeat every 32 words.
  uint64_t pattern[32];
  for (int i = 0; i < 32; ++i) pattern[i] = (uint64_t)((seed >> i) & 0xff);
  for (int i = 0; i < RANDSIZ; i += 32) memcpy(&ctx->randrsl[i], pattern, sizeof(pattern));
  randinit64(ctx, 1);
  ctx->randcnt = RANDSIZ;
}

void isaac64_bytes(randctx64* ctx, unsigned char* out, long n) {
  while (n > 0) {
    isaac64(ctx);
    long k = n < RANDSIZ ? n : RANDSIZ;
    const uint64_t* r = ctx->randrsl;
    for (long i = 0; i < k; ++i) out[i] = (unsigned char)r[i];
    out += k;
    n -= k;
  }
  ctx->randcnt = RANDSIZ;  // what is left of the last step is never handed out
}

// ---- several blocks side by side ----
//
// Each lane is a complete generator with its own memory (lane l's memory is
// mm[l * RANDSIZ ...]); the lanes' steps are interleaved so that the CPU can
// overlap the long load-add chain of one lane with the others.

namespace {

const int kLanes = 4;
const int kBlockBytes = 4096;
const int kStepsPerBlock = kBlockBytes / RANDSIZ;

// Lane memories and output rows are spaced so that no two lanes sit a
// multiple of 4096 bytes apart: the CPU would take their loads and stores
// for aliases of each other and stall.
const int kLaneStride = RANDSIZ + 24;  // words
const int kRowStride = RANDSIZ + 64;   // bytes

struct alignas(64) lanes64 {
  uint64_t mm[kLanes * kLaneStride];
  unsigned char row[kLanes * kRowStride];  // one step's output of every lane
  uint64_t a[kLanes], b[kLanes], c[kLanes];
};

// The memory word at byte offset `off` (a multiple of 8) of a lane's memory.
#define LANE_IND64(lm, off) (*(const uint64_t*)((const unsigned char*)(lm) + (off)))

// One step of lane L at index i; MIX(A) is the mixing term of that index.
// With kOut the result byte goes to the lane's output row, copied to
// out[L * kBlockBytes ...] after the step.
#define LANE_STEP64(L, MIX, i)                                                    \
  {                                                                               \
    uint64_t* lm = mm + (L) * kLaneStride;                                            \
    uint64_t x = lm[i];                                                           \
    a##L = MIX(a##L) + lm[((i) + RANDSIZ / 2) & (RANDSIZ - 1)];                   \
    uint64_t y = LANE_IND64(lm, x & ((RANDSIZ - 1) << 3)) + a##L + b##L;          \
    lm[i] = y;                                                                    \
    b##L = LANE_IND64(lm, (y >> RANDSIZL) & ((RANDSIZ - 1) << 3)) + x;            \
    if (kOut) row[(L) * kRowStride + (i)] = (unsigned char)b##L;                 \
  }

#define LANES_STEP64(MIX, i) \
  LANE_STEP64(0, MIX, i) LANE_STEP64(1, MIX, i) LANE_STEP64(2, MIX, i) LANE_STEP64(3, MIX, i)

#define MIX64_0(A) (~((A) ^ ((A) << 21)))
#define MIX64_1(A) ((A) ^ ((A) >> 5))
#define MIX64_2(A) ((A) ^ ((A) << 12))
#define MIX64_3(A) ((A) ^ ((A) >> 33))

static_assert(kLanes == 4, "the step below is written out for four lanes");

template <bool kOut>
inline void lanes64_step(lanes64* s, unsigned char* out) {
  uint64_t* mm = s->mm;
  unsigned char* row = s->row;
  uint64_t a0 = s->a[0], a1 = s->a[1], a2 = s->a[2], a3 = s->a[3];
  uint64_t b0 = s->b[0] + (++s->c[0]), b1 = s->b[1] + (++s->c[1]);
  uint64_t b2 = s->b[2] + (++s->c[2]), b3 = s->b[3] + (++s->c[3]);
  for (int i = 0; i < RANDSIZ; i += 4) {
    LANES_STEP64(MIX64_0, i);
    LANES_STEP64(MIX64_1, i + 1);
    LANES_STEP64(MIX64_2, i + 2);
    LANES_STEP64(MIX64_3, i + 3);
  }
  s->a[0] = a0; s->a[1] = a1; s->a[2] = a2; s->a[3] = a3;
  s->b[0] = b0; s->b[1] = b1; s->b[2] = b2; s->b[3] = b3;
  if (kOut)
    for (int l = 0; l < kLanes; ++l) memcpy(out + l * kBlockBytes, row + l * kRowStride, RANDSIZ);
}

// randinit64 with the flag set, without its closing step, for one lane.
void lane64_seed(lanes64* s, int l, int seed) {
  uint64_t r[32];
  for (int i = 0; i < 32; ++i) r[i] = (uint64_t)((seed >> i) & 0xff);
  uint64_t* mm = s->mm + l * kLaneStride;
  uint64_t a, b, c, d, e, f, g, h;
  a = b = c = d = e = f = g = h = 0x9e3779b97f4a7c13ULL;
  for (int i = 0; i < 4; ++i) mix64(a, b, c, d, e, f, g, h);
  for (int i = 0; i < RANDSIZ; i += 8) {
    const uint64_t* ri = r + (i & 31);
    a += ri[0]; b += ri[1]; c += ri[2]; d += ri[3];
    e += ri[4]; f += ri[5]; g += ri[6]; h += ri[7];
    mix64(a, b, c, d, e, f, g, h);
    mm[i] = a; mm[i + 1] = b; mm[i + 2] = c; mm[i + 3] = d;
    mm[i + 4] = e; mm[i + 5] = f; mm[i + 6] = g; mm[i + 7] = h;
  }
  for (int i = 0; i < RANDSIZ; i += 8) {
    a += mm[i]; b += mm[i + 1]; c += mm[i + 2]; d += mm[i + 3];
    e += mm[i + 4]; f += mm[i + 5]; g += mm[i + 6]; h += mm[i + 7];
    mix64(a, b, c, d, e, f, g, h);
    mm[i] = a; mm[i + 1] = b; mm[i + 2] = c; mm[i + 3] = d;
    mm[i + 4] = e; mm[i + 5] = f; mm[i + 6] = g; mm[i + 7] = h;
  }
  s->a[l] = s->b[l] = s->c[l] = 0;
}

}  // namespace

void isaac64_blocks_scalar(int seed_first, unsigned char* out, long nblocks) {
  lanes64 s;
  uint32_t seed = (uint32_t)seed_first;
  long k = 0;
  for (; k + kLanes <= nblocks; k += kLanes) {
    for (int l = 0; l < kLanes; ++l) lane64_seed(&s, l, (int)(seed + (uint32_t)l));
    lanes64_step<false>(&s, nullptr);  // the step of the initialisation, never output
    unsigned char* o = out + k * kBlockBytes;
    for (int st = 0; st < kStepsPerBlock; ++st) lanes64_step<true>(&s, o + st * RANDSIZ);
    seed += kLanes;
  }
  randctx64 ctx;
  for (; k < nblocks; ++k, ++seed) {
    isaac64_restart(&ctx, (int)seed);
    isaac64_bytes(&ctx, out + k * kBlockBytes, kBlockBytes);
  }
}
// clang-format on
