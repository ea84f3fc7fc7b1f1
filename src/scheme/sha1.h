// SHA-1 (FIPS 180-1) and the SHA-1 based random generator of the data buffers.
#pragma once
#include <stdint.h>

namespace wipe_two {

struct sha1_ctx {
  uint32_t h[5];            // chaining values H0..H4
  uint32_t length_low;      // message length in bytes, low word
  uint32_t length_high;     // and high word
  unsigned char block[64];  // partial block
};

// Every call returns 0, except SHA1Allocate, which returns non-zero when
// memory is short.
int SHA1Allocate(void** ctx);
int SHA1Free(void** ctx);
int SHA1Init(void* ctx);
int SHA1Process(void* ctx, const unsigned char* data, unsigned long length);
int SHA1Final(void* ctx, unsigned char* digest);

// One-shot digest.
void SHA1Digest(const unsigned char* data, unsigned long length, unsigned char* digest);

struct sha1_random {
  void* sha;                // SHA-1 context, owned
  unsigned char state[20];  // a big-endian number
  unsigned char block[20];  // the current output block
  unsigned int remaining;   // unused bytes, always the last ones of the block
};

// 0 on success, 1 when memory is short (nothing stays allocated then).
int SHA1RandomAllocate(void** state);
int SHA1RandomFree(void** state);
// Initialize and Finalize zero the state and the output block.
int SHA1RandomInitialize(void* state);
int SHA1RandomFinalize(void* state);
// Adds SHA-1(seed) to the state (160-bit big-endian, final carry dropped).
int SHA1RandomRandomize(void* state, const unsigned char* seed, unsigned long length);
int SHA1RandomGetRandomBytes(void* state, unsigned char* out, unsigned long count);

}  // namespace wipe_two
