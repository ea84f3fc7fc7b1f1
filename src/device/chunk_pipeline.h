// The chunk pipeline of the wipe's passes (src/device/wipe.cc): the data of
// the chunks a pass writes, the piece-by-piece compare of what a verify pass
// reads back, and the reader that reads the next chunk while the current one
// is compared. For the passes only.
#pragma once
#include <stdint.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/globals.h"
#include "app/util.h"
#include "device/chunk_pool.h"
#include "scheme/databuffer.h"
#include "scheme/genpool.h"

namespace wipe_internal {

const uint64_t kChunkSize = 16777216;
const uint64_t kFastDebugLength = 4096;

// Bytes a chunk covers at `pos` (`chunk`), and the bytes written or read of it.
inline uint64_t chunk_at(uint64_t pos, uint64_t total) { return total - pos < kChunkSize ? total - pos : kChunkSize; }
inline uint64_t length_of(uint64_t chunk) {
  return g_debug_fast && chunk > kFastDebugLength ? kFastDebugLength : chunk;
}

// Makes the data of the chunks of one pass.
//
// Random data (random passes and complements of them) costs far more to make
// than to write. It is made on the generation pool, into two areas that take
// turns: the buffer's write area (slot 0) and its read area (slot 1), idle
// while the device is written, so that one chunk is made while the other is
// in use. At most one chunk is being made at a time.
//
// All other data is made on the calling thread into the write area, just
// before its use: zeros and a pattern in the same phase are not made again
// at all, a test pattern only gets its sector numbers rewritten, and what is
// left is a memory fill far faster than any device. Made there, the data is
// still in this core's caches when the I/O copies it.
//
// A pattern whose length does not divide the chunk would be in another phase
// in every chunk and so be made again each time. Instead its data for device
// offsets 0 to a chunk and a few periods is made once per pass into a window
// (an area of the chunk pool, held for the pass), and each chunk is written
// from the place in the window where its phase begins, a place aligned for
// direct I/O (a multiple of 4096 bytes): nothing is made per chunk, and the
// device is given the same memory every time. Patterns whose phases do not
// all come back within the window's spare 1 MiB, chunks after a short write
// that no aligned place fits, and all chunks when the pool has no area to
// spare, are made into the write area as before.
class CChunkSource {
 public:
  CChunkSource(CDataBuffer* b, int p, int s, int ps);
  ~CChunkSource() { Abandon(); }
  CChunkSource(const CChunkSource&) = delete;
  CChunkSource& operator=(const CChunkSource&) = delete;

  bool TwoAreas() const { return areas[1] != nullptr; }

  // The slot for the chunk after the one in `slot`: the same area when it
  // holds that chunk already (zeros, or a pattern in the same phase), so
  // that such a pass keeps using one area; otherwise the other area.
  int NextSlot(int slot, uint64_t pos, uint64_t length) const;
  // Starts making the chunk of `length` bytes at `pos` into `slot`.
  void Start(int slot, uint64_t pos, uint64_t length);
  // The data of the chunk at `pos` in `slot`; made now unless it was started.
  unsigned char* Get(int slot, uint64_t pos, uint64_t length);
  // Drops a chunk not started yet, or waits for the one being made.
  void Abandon();

 private:
  void Finish();
  // The chunk at `pos` in the pattern window, or null when there is none.
  unsigned char* FromWindow(uint64_t pos, uint64_t length);
  void MakeWindow();

  static constexpr uint64_t kNothing = ~0ULL;
  CGenPool& pool;
  CDataBuffer* buf;
  int pass, start, previous_start;
  bool offload;  // made on the pool
  fill_record_t second_record;
  unsigned char* areas[2];
  fill_record_t* records[2];
  uint64_t made[2] = {kNothing, kNothing};  // the chunk each area holds or gets
  uint64_t made_length[2] = {0, 0};
  std::shared_ptr<CGenJob> job;
  static const uint64_t kWindowAlign = 4096;
  enum { kWindowUntried, kWindowNone, kWindowMade } window_state = kWindowUntried;
  std::unique_ptr<CPoolArea> window_area;
  unsigned char* window = nullptr;
  uint64_t period = 1;  // of the pattern
  uint64_t extra = 0;   // bytes of the window beyond a chunk that are used
};

// Compares chunks read back with pass data that costs little to make (all
// but random data and its complements), without making a whole chunk of it:
// each piece of the chunk is compared with the same piece made into a small
// area that stays in the cache. This spares the verification the writing and
// reading back of 16 MiB of expected data per chunk, which would cost more
// memory traffic than the compare itself. A piece is a whole number of
// pattern periods and of sectors, so that zeros and a pattern are made at
// most once per chunk and a test pattern only gets its sector numbers
// rewritten.
class CPieceCompare {
 public:
  static const int kPieceSize = 65536;

  CPieceCompare(CDataBuffer* b, int p, int s, int ps);
  CPieceCompare(const CPieceCompare&) = delete;
  CPieceCompare& operator=(const CPieceCompare&) = delete;

  bool Ready() const { return area->get() != nullptr; }

  // The index of the first of the `n` bytes at `actual`, read back from
  // device offset `pos`, that differs from what the pass wrote there; -1
  // when all of them match.
  long FirstDifference(const unsigned char* actual, uint64_t pos, uint64_t n);

 private:
  CDataBuffer* buf;
  int pass, start, previous_start;
  int piece;
  std::unique_ptr<CAlignedBuffer> area;
  fill_record_t record;
};

// Reads the chunks of a verify pass in order, from offset 0, on a thread of
// its own and into two areas that take turns, so that the pass can compare
// one chunk while the next is read. The thread starts a read as soon as an
// area is free rather than when the pass asks for the chunk: with a fast
// device the next read then follows the last at once, instead of waiting
// for the pass thread to wake up and hand it over. Reads stay one at a
// time, and at most one chunk beyond the one being compared is read.
//
// With one area (no second one to be had) the thread reads a chunk once the
// previous one is done with; without the thread (it could not be started)
// each read is done on the spot.
class CChunkReader {
 public:
  typedef long (*read_fn_t)(int, void*, unsigned long, long);
  // A chunk as read: its area, position, the read's result and errno.
  struct chunk_t {
    unsigned char* area = nullptr;
    uint64_t pos = 0;
    long got = 0;
    int err = 0;
  };

  CChunkReader(const std::string& thread_name, read_fn_t r, int f, uint64_t size, unsigned char* area0,
               unsigned char* area1);
  ~CChunkReader();
  CChunkReader(const CChunkReader&) = delete;
  CChunkReader& operator=(const CChunkReader&) = delete;

  // The next chunk, in order; waits for its read. The area of the chunk
  // returned before is read into again from here on. After a read that
  // returned 0 or less, or past the end, the chunk has nothing read (0).
  chunk_t Next();

 private:
  enum slot_state_e { FREE, READING, FILLED, HELD };
  struct slot_t {
    chunk_t chunk;
    slot_state_e state = FREE;
  };

  void ThreadMain();
  void ThreadProc();
  void Do(chunk_t* c);
  // The position of the chunk after `c`, as the pass moves on: by what was
  // read, or by the whole chunk in fast-debug mode.
  void Advance(const chunk_t& c);

  std::string name;
  read_fn_t read;
  int fd;
  uint64_t total;
  std::thread thread;  // not joinable when it could not be started
  std::mutex mutex;
  std::condition_variable cv;
  slot_t slots[2];
  int nslots = 1;
  uint64_t next_pos = 0;  // the reading side's (the thread's, or Next's without it)
  int take = 0;           // the slot of the next chunk for the pass
  int held = -1;          // the slot of the chunk the pass holds, -1 none
  bool stop = false;
  bool ended = false;  // the thread reads no more
};

}  // namespace wipe_internal
