#include "scheme/databuffer.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <atomic>

#include "app/log.h"
#include "scheme/isaac.h"
#include "scheme/isaac64.h"
#include "scheme/isaac_forms.h"
#include "scheme/sha1.h"

int g_bad_pass_messages = 5;

std::unique_ptr<CDataBuffer> CDataBuffer::Create(CScheme* scheme, int generator) {
  if (!scheme) {
    LOG_ERROR(g_dbg_log, "Data buffer initialization failed");
    return nullptr;
  }
  std::unique_ptr<CDataBuffer> buf;
  if (generator == 1) {
    LOG_INFO(g_dbg_log, "Initializing SHA1 PRNG...");
    buf.reset(new CDataBufferSha1);
  } else if (generator == 2) {
    LOG_INFO(g_dbg_log, "Initializing ISAAC PRNG...");
    buf.reset(new CDataBufferIsaac);
  } else {
    LOG_INFO(g_dbg_log, "Initilizing ISAAC64 PRNG...");
    buf.reset(new CDataBufferIsaac64);
  }
  if (buf->Init() != 0) {
    LOG_ERROR(g_dbg_log, "Data buffer initialization failed");
    return nullptr;
  }
  buf->scheme = scheme;
  return buf;
}

CDataBuffer::~CDataBuffer() {
  free(write_area);
  free(read_area);
  // A derived class releases its generator through StopRandom; whatever is
  // left was allocated with malloc.
  free(random_state);
}

void CDataBuffer::StopRandom() {}

int CDataBuffer::Init() {
  if (!write_area) write_area = static_cast<unsigned char*>(valloc(kDataBufferSize));
  if (!read_area) read_area = static_cast<unsigned char*>(valloc(kDataBufferSize));
  if (!write_area || !read_area) return -1;
  memset(write_area, 0x12, kDataBufferSize);
  return InitRandom();
}

int CDataBuffer::FillBuffer(int pass, int start, int previous_start, long long offset, int length) {
  return FillArea(write_area, &last_fill, pass, start, previous_start, offset, length, nullptr);
}

namespace {

// With `heads_only` the area already holds test data at the same position
// within a sector: only the sector numbers change.
void fill_test(unsigned char* area, long long offset, int length, bool heads_only) {
  if (!heads_only) memset(area, 0, length);
  long long end = offset + length;
  // The sector holding the first byte, then every following sector start.
  for (long long sector = offset / kTestSectorSize; sector * kTestSectorSize < end; ++sector) {
    long long base = sector * kTestSectorSize;
    uint32_t n = (uint32_t)sector;
    unsigned char head[4] = {(unsigned char)(n >> 24), (unsigned char)(n >> 16), (unsigned char)(n >> 8),
                             (unsigned char)n};
    for (int i = 0; i < 4; ++i) {
      long long pos = base + i;
      if (pos >= offset && pos < end) area[pos - offset] = head[i];
    }
  }
}

void fill_pattern(unsigned char* area, const CPass& p, long long offset, int length) {
  long long period = p.pattern_length;
  int phase = (int)(offset % period);
  int first = length < period ? length : (int)period;
  // One period starting at the right phase, then doubling copies.
  for (int i = 0; i < first; ++i) area[i] = p.pattern[(phase + i) % period];
  long long done = first;
  while (done < length) {
    long long n = done < length - done ? done : length - done;
    memcpy(area + done, area, n);
    done += n;
  }
}

void invert(unsigned char* area, int length) {
  // In words where the area is aligned for them, bytes for the rest.
  int i = 0;
  while (i < length && ((uintptr_t)(area + i) & 7) != 0) {
    area[i] = (unsigned char)~area[i];
    ++i;
  }
  for (; i + 8 <= length; i += 8) {
    uint64_t w;
    memcpy(&w, area + i, 8);
    w = ~w;
    memcpy(area + i, &w, 8);
  }
  for (; i < length; ++i) area[i] = (unsigned char)~area[i];
}

// Whole random blocks handed to one thread at a time: 256 KiB.
const int kBlocksPerPiece = 64;

// Runs work(seed, k, n) over the `whole` blocks from seed `first` on, for
// blocks k .. k + n - 1 at a time, in pieces on the runner's threads when
// there is more than one.
void run_pieces(int first, int whole, CFillRunner* runner, const std::function<void(int, int, int)>& work) {
  int pieces = (whole + kBlocksPerPiece - 1) / kBlocksPerPiece;
  auto piece = [&](int i) {
    int k = i * kBlocksPerPiece;
    int n = whole - k < kBlocksPerPiece ? whole - k : kBlocksPerPiece;
    work((int)((uint32_t)first + (uint32_t)k), k, n);
  };
  if (runner && pieces > 1)
    runner->Run(pieces, piece);
  else if (whole > 0)
    work(first, 0, whole);
}

// The index of the first of the n bytes at `got` that is not the byte at
// `made` XORed with flip; -1 when there is none.
long first_difference(const unsigned char* got, const unsigned char* made, long n, unsigned char flip) {
  const uint64_t flip64 = flip * 0x0101010101010101ULL;
  long i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t a, b;
    memcpy(&a, got + i, 8);
    memcpy(&b, made + i, 8);
    if ((a ^ b) != flip64) break;
  }
  for (; i < n; ++i)
    if ((unsigned char)(got[i] ^ made[i]) != flip) return i;
  return -1;
}

}  // namespace

bool CDataBuffer::Holds(const fill_record_t& last, int pass, long long offset, int length) const {
  if (!scheme || pass < 0 || pass >= (int)scheme->passes.size()) return false;
  if (last.pass != pass || last.length < length) return false;
  const CPass& p = scheme->passes[pass];
  if (p.type == PASS_ZERO) return true;
  if (p.type != PASS_PATTERN) return false;
  // Same phase of the pattern.
  long long period = p.pattern_length;
  return period > 0 && last.offset % period == offset % period;
}

int CDataBuffer::FillArea(unsigned char* area, fill_record_t* last, int pass, int start, int previous_start,
                          long long offset, int length, CFillRunner* runner) {
  int count = scheme ? (int)scheme->passes.size() : 0;
  if (pass < 0 || pass >= count) {
    if (g_bad_pass_messages > 0) {
      --g_bad_pass_messages;
      LOG_ERROR(g_dbg_log, "Bad pass " << pass << " Total ");
    }
    return -1;
  }
  if (length > kDataBufferSize || length < 0 || offset < 0) return -1;
  const CPass& p = scheme->passes[pass];
  switch (p.type) {
    case PASS_ZERO:
      if (Holds(*last, pass, offset, length)) return 0;
      memset(area, 0, length);
      break;
    case PASS_TEST:
      fill_test(
          area, offset, length,
          last->pass == pass && last->length >= length && last->offset % kTestSectorSize == offset % kTestSectorSize);
      break;
    case PASS_RANDOM: FillRandom(area, start, offset, length, runner); break;
    case PASS_COMPLEMENT:
      if (pass == 0) {
        memset(area, 0xff, length);
      } else {
        if (FillArea(area, last, pass - 1, previous_start, 0, offset, length, runner) != 0) return -1;
        invert(area, length);
      }
      break;
    case PASS_PATTERN: {
      long long period = p.pattern_length;
      if (period <= 0 || (size_t)period > p.pattern.size()) return -1;
      if (Holds(*last, pass, offset, length)) return 0;
      fill_pattern(area, p, offset, length);
      break;
    }
    default: return -1;
  }
  last->pass = pass;
  last->seed = start;
  last->length = length;
  last->offset = offset;
  return 0;
}

void CDataBuffer::FillRandom(unsigned char* area, int start, long long offset, int length, CFillRunner* runner) {
  unsigned char* out = area;
  long long pos = offset;
  long long end = offset + length;
  // Block seed: block number + start in 32-bit arithmetic, wrapping.
  auto seed_of = [start](long long block) { return (int)((uint32_t)block + (uint32_t)start); };
  int in_block = (int)(pos % kRandomBlockSize);
  if (in_block != 0) {
    // Entered in the middle: generate from the block start and drop the head.
    long long block_end = pos - in_block + kRandomBlockSize;
    int need = (int)((block_end < end ? block_end : end) - pos);
    char tmp[kRandomBlockSize];
    RestartRandom(seed_of(pos / kRandomBlockSize));
    GetRandomBytes(tmp, in_block + need);
    memcpy(out, tmp + in_block, need);
    out += need;
    pos += need;
  }
  int whole = (int)((end - pos) / kRandomBlockSize);
  run_pieces(seed_of(pos / kRandomBlockSize), whole, runner,
             [this, out](int seed, int k, int n) { FillRandomBlocks(seed, out + (long long)k * kRandomBlockSize, n); });
  out += (long long)whole * kRandomBlockSize;
  pos += (long long)whole * kRandomBlockSize;
  if (pos < end) {
    // A last partial block, from its start.
    RestartRandom(seed_of(pos / kRandomBlockSize));
    GetRandomBytes(reinterpret_cast<char*>(out), (int)(end - pos));
  }
}

bool CDataBuffer::IsRandom(int pass) const {
  if (!scheme || pass < 0 || pass >= (int)scheme->passes.size()) return false;
  while (scheme->passes[pass].type == PASS_COMPLEMENT && pass > 0) --pass;
  return scheme->passes[pass].type == PASS_RANDOM;
}

long CDataBuffer::CompareRandom(const unsigned char* data, int pass, int start, int previous_start, long long offset,
                                int length, CFillRunner* runner) {
  if (!IsRandom(pass) || length < 0 || length > kDataBufferSize || offset < 0) return -2;
  // A complement is the pass before it inverted, made with that pass's
  // start, as FillArea makes it.
  unsigned char flip = 0;
  while (scheme->passes[pass].type == PASS_COMPLEMENT) {
    flip ^= 0xff;
    start = previous_start;
    previous_start = 0;
    --pass;
  }
  auto seed_of = [start](long long block) { return (int)((uint32_t)block + (uint32_t)start); };
  const long long end = offset + length;
  long long pos = offset;
  // Bytes pos .. to - 1 of one block entered or left in its middle, against
  // the whole block made.
  auto part = [&](long long to) -> long {
    unsigned char block[kRandomBlockSize];
    long long b = pos / kRandomBlockSize;
    FillRandomBlocks(seed_of(b), block, 1);
    long k = first_difference(data + (pos - offset), block + (pos - b * kRandomBlockSize), (long)(to - pos), flip);
    return k < 0 ? -1 : (long)(pos - offset) + k;
  };
  if (pos % kRandomBlockSize != 0) {
    long long block_end = (pos / kRandomBlockSize + 1) * kRandomBlockSize;
    long long to = block_end < end ? block_end : end;
    long k = part(to);
    if (k >= 0) return k;
    pos = to;
  }
  int whole = (int)((end - pos) / kRandomBlockSize);
  const unsigned char* at = data + (pos - offset);
  std::atomic<long> first{LONG_MAX};  // of the differences found in any piece
  run_pieces(seed_of(pos / kRandomBlockSize), whole, runner, [&](int seed, int k, int n) {
    const unsigned char* d = at + (long long)k * kRandomBlockSize;
    if (MatchRandomBlocks(seed, d, n, flip)) return;
    long i = (long)k * kRandomBlockSize + FirstRandomDifference(seed, d, n, flip);
    long cur = first.load();
    while (i < cur && !first.compare_exchange_weak(cur, i)) {}
  });
  if (first.load() != LONG_MAX) return (long)(pos - offset) + first.load();
  pos += (long long)whole * kRandomBlockSize;
  return pos < end ? part(end) : -1;
}

long CDataBuffer::FirstRandomDifference(int seed_first, const unsigned char* data, int nblocks,
                                        unsigned char flip) const {
  unsigned char block[kRandomBlockSize];
  for (int k = 0; k < nblocks; ++k) {
    FillRandomBlocks((int)((uint32_t)seed_first + (uint32_t)k), block, 1);
    long i = first_difference(data + (long)k * kRandomBlockSize, block, kRandomBlockSize, flip);
    if (i >= 0) return (long)k * kRandomBlockSize + i;
  }
  return -1;
}

bool CDataBuffer::MatchRandomBlocks(int seed_first, const unsigned char* data, int nblocks, unsigned char flip) const {
  const int kAtOnce = 4;
  unsigned char made[kAtOnce * kRandomBlockSize];
  for (int k = 0; k < nblocks; k += kAtOnce) {
    int n = nblocks - k < kAtOnce ? nblocks - k : kAtOnce;
    FillRandomBlocks((int)((uint32_t)seed_first + (uint32_t)k), made, n);
    if (first_difference(data + (long)k * kRandomBlockSize, made, (long)n * kRandomBlockSize, flip) >= 0) return false;
  }
  return true;
}

// ISAAC64

CDataBufferIsaac64::~CDataBufferIsaac64() { StopRandom(); }

int CDataBufferIsaac64::InitRandom() {
  StopRandom();
  random_state = malloc(sizeof(randctx64));
  if (!random_state) {
    LOG_ERROR(g_dbg_log, "Could not allocate memory for ISAAC random generator");
    return -1;
  }
  RestartRandom(0);
  return 0;
}

void CDataBufferIsaac64::StopRandom() {
  free(random_state);
  random_state = nullptr;
}

void CDataBufferIsaac64::RestartRandom(int seed) {
  if (random_state) isaac64_restart(static_cast<randctx64*>(random_state), seed);
}

void CDataBufferIsaac64::GetRandomBytes(char* out, int n) {
  if (random_state && n > 0)
    isaac64_bytes(static_cast<randctx64*>(random_state), reinterpret_cast<unsigned char*>(out), n);
}

void CDataBufferIsaac64::FillRandomBlocks(int seed_first, unsigned char* out, int nblocks) const {
  isaac64_blocks(seed_first, out, nblocks);
}

bool CDataBufferIsaac64::MatchRandomBlocks(int seed_first, const unsigned char* data, int nblocks,
                                           unsigned char flip) const {
  return isaac64_blocks_match(isaac64_form(), seed_first, data, nblocks, flip);
}

// ISAAC

CDataBufferIsaac::~CDataBufferIsaac() { StopRandom(); }

int CDataBufferIsaac::InitRandom() {
  StopRandom();
  random_state = malloc(sizeof(randctx));
  if (!random_state) {
    LOG_ERROR(g_dbg_log, "Could not allocate memory for ISAAC random generator");
    return -1;
  }
  RestartRandom(0);
  return 0;
}

void CDataBufferIsaac::StopRandom() {
  free(random_state);
  random_state = nullptr;
}

void CDataBufferIsaac::RestartRandom(int seed) {
  if (random_state) isaac_restart(static_cast<randctx*>(random_state), seed);
}

void CDataBufferIsaac::GetRandomBytes(char* out, int n) {
  if (random_state && n > 0) isaac_bytes(static_cast<randctx*>(random_state), reinterpret_cast<unsigned char*>(out), n);
}

void CDataBufferIsaac::FillRandomBlocks(int seed_first, unsigned char* out, int nblocks) const {
  isaac_blocks(seed_first, out, nblocks);
}

bool CDataBufferIsaac::MatchRandomBlocks(int seed_first, const unsigned char* data, int nblocks,
                                         unsigned char flip) const {
  return isaac_blocks_match(isaac_form(), seed_first, data, nblocks, flip);
}

// SHA1

CDataBufferSha1::~CDataBufferSha1() { StopRandom(); }

int CDataBufferSha1::InitRandom() {
  StopRandom();
  if (wipe_two::SHA1RandomAllocate(&random_state) != 0) {
    LOG_ERROR(g_dbg_log, "Could not allocate memory for SHA1 random generator");
    return -1;
  }
  if (wipe_two::SHA1RandomInitialize(random_state) != 0) {
    LOG_ERROR(g_dbg_log, "Could not initialize SHA1 random generator");
    StopRandom();
    return -1;
  }
  uint32_t now = (uint32_t)time(nullptr);
  unsigned char seed[4] = {(unsigned char)now, (unsigned char)(now >> 8), (unsigned char)(now >> 16),
                           (unsigned char)(now >> 24)};
  if (wipe_two::SHA1RandomRandomize(random_state, seed, sizeof(seed)) != 0) {
    LOG_ERROR(g_dbg_log, "CCould not start SHA1 random generator");
    StopRandom();
    return -1;
  }
  return 0;
}

void CDataBufferSha1::StopRandom() {
  if (random_state) wipe_two::SHA1RandomFree(&random_state);
}

namespace {

// Restart with a seed: the state becomes SHA-1 of the seed's four bytes,
// least significant first.
void sha1_restart(void* state, int seed) {
  uint32_t s = (uint32_t)seed;
  unsigned char bytes[4] = {(unsigned char)s, (unsigned char)(s >> 8), (unsigned char)(s >> 16),
                            (unsigned char)(s >> 24)};
  wipe_two::SHA1RandomFinalize(state);
  wipe_two::SHA1RandomInitialize(state);
  wipe_two::SHA1RandomRandomize(state, bytes, sizeof(bytes));
}

}  // namespace

void CDataBufferSha1::RestartRandom(int seed) {
  if (random_state) sha1_restart(random_state, seed);
}

void CDataBufferSha1::GetRandomBytes(char* out, int n) {
  if (random_state && n > 0) wipe_two::SHA1RandomGetRandomBytes(random_state, reinterpret_cast<unsigned char*>(out), n);
}

void CDataBufferSha1::FillRandomBlocks(int seed_first, unsigned char* out, int nblocks) const {
  // A generator of this call's own, so that calls may run side by side.
  wipe_two::sha1_ctx sha;
  wipe_two::sha1_random gen;
  gen.sha = &sha;
  for (int k = 0; k < nblocks; ++k) {
    sha1_restart(&gen, (int)((uint32_t)seed_first + (uint32_t)k));
    wipe_two::SHA1RandomGetRandomBytes(&gen, out + (long long)k * kRandomBlockSize, kRandomBlockSize);
  }
}
