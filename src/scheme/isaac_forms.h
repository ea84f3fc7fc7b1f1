// The ways the block generators of ISAAC64 and ISAAC can run. Every form
// gives the same bytes; they differ in how many blocks they make at once:
// the scalar form interleaves four generators in plain 64-bit code, the
// vector forms run one generator per lane of an AVX2 or AVX-512 register
// (two registers side by side). The form is chosen at run time from those
// the CPU offers, so one binary runs on every x86-64 machine: a vector form
// needs gathers, which some CPUs run no faster than single loads, so the
// choice is the form that made a few blocks fastest.
#pragma once
#include <stdint.h>

enum isaac_form_e { ISAAC_SCALAR, ISAAC_AVX2, ISAAC_AVX512, ISAAC_FORMS };

// "scalar", "avx2", "avx512".
const char* isaac_form_name(int form);
// Whether this CPU (and the kernel) can run the form; the scalar form runs
// everywhere.
bool isaac_form_runs(int form);
// The form isaac64_blocks (isaac_blocks) uses: of the forms that run here,
// the one that took the least CPU time for a few blocks, timed once per
// process when first asked.
int isaac64_form();
int isaac_form();

// isaac64_blocks and isaac_blocks in the given form (one that runs here).
void isaac64_blocks_in(int form, int seed_first, unsigned char* out, long nblocks);
void isaac_blocks_in(int form, int seed_first, unsigned char* out, long nblocks);

// Whether the nblocks * 4096 bytes at `data` are what isaac64_blocks_in
// (isaac_blocks_in) makes, with every byte XORed with `flip`. The blocks are
// compared as they are made, never stored.
bool isaac64_blocks_match(int form, int seed_first, const unsigned char* data, long nblocks, unsigned char flip);
bool isaac_blocks_match(int form, int seed_first, const unsigned char* data, long nblocks, unsigned char flip);

// The scalar forms (isaac64.cc, isaac.cc).
void isaac64_blocks_scalar(int seed_first, unsigned char* out, long nblocks);
void isaac_blocks_scalar(int seed_first, unsigned char* out, long nblocks);
