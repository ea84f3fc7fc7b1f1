// The vector forms of the block generators, and the choice among the forms.
// Each vector form is compiled for its own instruction set (target options
// on every function of its namespace) and only called after the CPU said it
// has that set.
#include <immintrin.h>
#include <string.h>
#include <time.h>

#include <vector>

#include "scheme/isaac.h"
#include "scheme/isaac64.h"
#include "scheme/isaac_forms.h"

#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace lanes_avx2 {
typedef uint64_t v __attribute__((vector_size(32)));
const int kLanes = 4;
const int kLaneShift = 2;
inline v gather(const uint64_t* mm, v off) { return (v)_mm256_i64gather_epi64((const long long*)mm, (__m256i)off, 1); }
#include "scheme/isaac_lanes.inc"
}  // namespace lanes_avx2
#ifdef __clang__
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx512f"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f")
#endif
namespace lanes_avx512 {
typedef uint64_t v __attribute__((vector_size(64)));
const int kLanes = 8;
const int kLaneShift = 3;
inline v gather(const uint64_t* mm, v off) {
  return (v)_mm512_mask_i64gather_epi64(_mm512_setzero_si512(), (__mmask8)0xff, (__m512i)off, mm, 1);
}
#include "scheme/isaac_lanes.inc"
}  // namespace lanes_avx512
#ifdef __clang__
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace {

const long kBlock = 4096;

typedef void (*blocks_fn)(int, unsigned char*, long);
typedef bool (*match_fn)(int, const unsigned char*, long, uint64_t);

void blocks_in(int form, blocks_fn avx2, blocks_fn avx512, blocks_fn scalar, int seed_first, unsigned char* out,
               long nblocks) {
  (form == ISAAC_AVX512 ? avx512 : form == ISAAC_AVX2 ? avx2 : scalar)(seed_first, out, nblocks);
}

bool blocks_match(int form, match_fn avx2, match_fn avx512, blocks_fn scalar, int seed_first, const unsigned char* data,
                  long nblocks, unsigned char flip) {
  uint64_t flip64 = flip * 0x0101010101010101ULL;
  if (form == ISAAC_AVX512) return avx512(seed_first, data, nblocks, flip64);
  if (form == ISAAC_AVX2) return avx2(seed_first, data, nblocks, flip64);
  // The scalar form a few blocks at a time into a small area that stays in
  // the cache.
  const long kAtOnce = 4;
  unsigned char made[kAtOnce * kBlock];
  uint64_t diff = 0;
  for (long k = 0; diff == 0 && k < nblocks; k += kAtOnce) {
    long n = nblocks - k < kAtOnce ? nblocks - k : kAtOnce;
    scalar((int)((uint32_t)seed_first + (uint32_t)k), made, n);
    const unsigned char* d = data + k * kBlock;
    for (long i = 0; i < n * kBlock; i += 8) {
      uint64_t w, m;
      memcpy(&w, d + i, 8);
      memcpy(&m, made + i, 8);
      diff |= w ^ m ^ flip64;
    }
  }
  return diff == 0;
}

}  // namespace

const char* isaac_form_name(int form) {
  static const char* const names[ISAAC_FORMS] = {"scalar", "avx2", "avx512"};
  return form >= 0 && form < ISAAC_FORMS ? names[form] : "?";
}

bool isaac_form_runs(int form) {
  // __builtin_cpu_supports also asks whether the kernel saves the registers.
  __builtin_cpu_init();
  switch (form) {
    case ISAAC_SCALAR: return true;
    case ISAAC_AVX2: return __builtin_cpu_supports("avx2");
    case ISAAC_AVX512: return __builtin_cpu_supports("avx512f");
    default: return false;
  }
}

namespace {

double thread_cpu_seconds() {
  struct timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return (double)ts.tv_sec + ts.tv_nsec / 1e9;
}

// Of the forms that run here, the one that makes 32 blocks in the least CPU
// time (the best of three tries each).
int fastest_form(void (*blocks)(int, int, unsigned char*, long)) {
  const long kBlocks = 32;
  std::vector<unsigned char> out(kBlocks * kBlock);
  int best = ISAAC_SCALAR;
  double best_time = 0;
  for (int form = ISAAC_SCALAR; form < ISAAC_FORMS; ++form) {
    if (!isaac_form_runs(form)) continue;
    double t = 0;
    for (int i = 0; i < 3; ++i) {
      double t0 = thread_cpu_seconds();
      blocks(form, i * (int)kBlocks, out.data(), kBlocks);
      double dt = thread_cpu_seconds() - t0;
      if (i == 0 || dt < t) t = dt;
    }
    if (form == ISAAC_SCALAR || t < best_time) {
      best = form;
      best_time = t;
    }
  }
  return best;
}

}  // namespace

int isaac64_form() {
  static const int form = fastest_form(isaac64_blocks_in);
  return form;
}

int isaac_form() {
  static const int form = fastest_form(isaac_blocks_in);
  return form;
}

void isaac64_blocks_in(int form, int seed_first, unsigned char* out, long nblocks) {
  blocks_in(form, lanes_avx2::blocks64, lanes_avx512::blocks64, isaac64_blocks_scalar, seed_first, out, nblocks);
}

void isaac_blocks_in(int form, int seed_first, unsigned char* out, long nblocks) {
  blocks_in(form, lanes_avx2::blocks32, lanes_avx512::blocks32, isaac_blocks_scalar, seed_first, out, nblocks);
}

bool isaac64_blocks_match(int form, int seed_first, const unsigned char* data, long nblocks, unsigned char flip) {
  return blocks_match(form, lanes_avx2::match64, lanes_avx512::match64, isaac64_blocks_scalar, seed_first, data,
                      nblocks, flip);
}

bool isaac_blocks_match(int form, int seed_first, const unsigned char* data, long nblocks, unsigned char flip) {
  return blocks_match(form, lanes_avx2::match32, lanes_avx512::match32, isaac_blocks_scalar, seed_first, data, nblocks,
                      flip);
}

void isaac64_blocks(int seed_first, unsigned char* out, long nblocks) {
  isaac64_blocks_in(isaac64_form(), seed_first, out, nblocks);
}

void isaac_blocks(int seed_first, unsigned char* out, long nblocks) {
  isaac_blocks_in(isaac_form(), seed_first, out, nblocks);
}
