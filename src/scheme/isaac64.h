// ISAAC64 random generator (Bob Jenkins' design, RANDSIZL 8), with the seeding
// and byte output used for positional random passes.
#pragma once
#include <stdint.h>

#ifndef RANDSIZL
#define RANDSIZL 8
#define RANDSIZ (1 << RANDSIZL)
#endif

struct randctx64 {
  uint64_t randcnt;
  uint64_t randrsl[RANDSIZ];
  uint64_t randmem[RANDSIZ];
  uint64_t randa;
  uint64_t randb;
  uint64_t randc;
};
// The published layout: counter, results, memory, a, b, c, all 64-bit words.
static_assert(sizeof(randctx64) == 516 * 8, "context layout");

// One generation step: refills the 256 result words.
void isaac64(randctx64* ctx);
// Initialises the memory from the seed in the result array (when flag is set),
// then runs one generation step.
void randinit64(randctx64* ctx, int flag);

// Puts the context into the state determined by the seed alone: result word i
// is (seed >> (i % 32)) & 0xff, then randinit64 with the flag set.
void isaac64_restart(randctx64* ctx, int seed);
// Writes n bytes: one generation step per 256 bytes, the low 8 bits of each
// result word in ascending order; results left in a partly used step are
// discarded.
void isaac64_bytes(randctx64* ctx, unsigned char* out, long n);

// Whole 4096-byte blocks for many seeds at once: block k of `out` gets the
// 4096 bytes that isaac64_bytes gives after isaac64_restart(seed_first + k)
// (the seed sum wrapping in 32 bits). Several blocks are generated side by
// side so that their dependency chains overlap; the bytes are the same as
// block by block.
void isaac64_blocks(int seed_first, unsigned char* out, long nblocks);
