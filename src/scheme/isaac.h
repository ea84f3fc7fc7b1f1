// ISAAC random generator (Bob Jenkins' design, RANDSIZL 8) built on 64-bit
// words: every variable is 64 bits wide and nothing is reduced to 32 bits, so
// its stream differs from the 32-bit generator's.
#pragma once
#include <stdint.h>

#ifndef RANDSIZL
#define RANDSIZL 8
#define RANDSIZ (1 << RANDSIZL)
#endif

struct randctx {
  uint64_t randcnt;
  uint64_t randrsl[RANDSIZ];
  uint64_t randmem[RANDSIZ];
  uint64_t randa;
  uint64_t randb;
  uint64_t randc;
};
// The published layout: counter, results, memory, a, b, c, all 64-bit words.
static_assert(sizeof(randctx) == 516 * 8, "context layout");

void isaac(randctx* ctx);
void randinit(randctx* ctx, int flag);

// Seeding and byte output as for ISAAC64 (see isaac64.h).
void isaac_restart(randctx* ctx, int seed);
void isaac_bytes(randctx* ctx, unsigned char* out, long n);

// As isaac64_blocks, for this generator.
void isaac_blocks(int seed_first, unsigned char* out, long nblocks);
