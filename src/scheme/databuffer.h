// Pattern data buffers: for any pass of a scheme and any byte range of a
// device, the exact bytes that pass writes there. Generation depends only on
// the pass, its seed and the device offset, so verification can regenerate
// a chunk instead of storing it.
#pragma once
#include <functional>
#include <memory>

#include "scheme/scheme.h"

// Size of the write area and of the read area; also the largest fill.
constexpr int kDataBufferSize = 16 * 1024 * 1024;
// Random data is generated in blocks of this size, one generator restart each.
constexpr int kRandomBlockSize = 4096;
// Sector size of the test pattern.
constexpr int kTestSectorSize = 512;

// Number of "Bad pass" messages still to be logged in this process run (five
// at start); shared by all buffers, decremented without a lock.
extern int g_bad_pass_messages;

// The last fill that wrote data into an area; the skip rules compare against
// it.
struct fill_record_t {
  int seed = 0;
  int pass = -1;  // -1: nothing filled yet
  int length = 0;
  long long offset = 0;
};

// Runs work(0) .. work(n - 1), several at once where it can, and returns when
// all of them have run.
class CFillRunner {
 public:
  virtual ~CFillRunner() = default;
  virtual void Run(int n, const std::function<void(int)>& work) = 0;
};

class CDataBuffer {
 public:
  // generator: 1 SHA1, 2 ISAAC, anything else ISAAC64 (the device wipe uses 0).
  // Returns a ready buffer or null.
  static std::unique_ptr<CDataBuffer> Create(CScheme* scheme, int generator);

  // Virtual slots, in this order.
  virtual ~CDataBuffer();
  virtual int InitRandom() = 0;
  virtual void StopRandom();
  virtual void RestartRandom(int seed) = 0;
  virtual void GetRandomBytes(char* out, int n) = 0;

  // Allocates both areas, fills the write area with 0x12, starts the generator.
  int Init();
  // Fills the first `length` bytes of the write area with what pass `pass`
  // writes at device offsets offset .. offset + length - 1. 0 or -1.
  int FillBuffer(int pass, int start, int previous_start, long long offset, int length);
  // FillBuffer into another area of at least `length` bytes, with that area's
  // own record of its last fill (`GetLastFill()` for the write area). Over
  // test data at the same position within a sector, a test fill rewrites
  // only the sector numbers. With a
  // runner, the whole random blocks are generated in pieces on its threads;
  // the bytes are the same. Fills of one buffer must not overlap in time (a
  // block entered in its middle uses the generator state).
  int FillArea(unsigned char* area, fill_record_t* last, int pass, int start, int previous_start, long long offset,
               int length, CFillRunner* runner);
  fill_record_t* GetLastFill() { return &last_fill; }
  // Whether an area whose last fill is `last` already holds what pass `pass`
  // writes at `offset` (the zero and pattern skips), so that filling it
  // again would write nothing.
  bool Holds(const fill_record_t& last, int pass, long long offset, int length) const;
  // Whether the data of pass `pass` come from the random generator: a random
  // pass, or complements of one.
  bool IsRandom(int pass) const;
  // For such a pass: the index of the first of the `length` bytes at `data`
  // that differs from what FillArea makes for the same arguments, -1 when
  // all match (-2 for another pass or a bad range). Each block is compared
  // as it is made, never stored; with a runner the whole blocks are made in
  // pieces on its threads. Uses no generator state, so that it may run
  // beside fills of the same buffer.
  long CompareRandom(const unsigned char* data, int pass, int start, int previous_start, long long offset, int length,
                     CFillRunner* runner);

  // The generated data (source of writes, expected data when verifying).
  // A caller that fills it through anything but FillArea with GetLastFill()
  // (a verification reading into it while it is idle) resets that record.
  unsigned char* GetWriteBuffer() const { return write_area; }
  // Where the verify pass reads the device back (a write pass may make its
  // next chunk there while it is idle); never touched here.
  unsigned char* GetReadBuffer() const { return read_area; }
  CScheme* GetScheme() const { return scheme; }

  CDataBuffer(const CDataBuffer&) = delete;
  CDataBuffer& operator=(const CDataBuffer&) = delete;

 protected:
  CDataBuffer() = default;
  // Whole random blocks: block k of `out` is the first 4096 bytes after
  // RestartRandom(seed_first + k) (the sum wrapping in 32 bits). Uses no
  // state of the object, so that several threads may run it at once.
  virtual void FillRandomBlocks(int seed_first, unsigned char* out, int nblocks) const = 0;
  // Whether the nblocks blocks at `data`, every byte XORed with `flip`, are
  // those FillRandomBlocks makes. This one makes a few blocks at a time into
  // a small area and compares them; a generator that can compare while it
  // makes them does better.
  virtual bool MatchRandomBlocks(int seed_first, const unsigned char* data, int nblocks, unsigned char flip) const;

  CScheme* scheme = nullptr;
  unsigned char* write_area = nullptr;
  unsigned char* read_area = nullptr;
  void* random_state = nullptr;  // owned; freed by StopRandom or the destructor
  // The last successful fill of the write area that wrote data.
  fill_record_t last_fill;

 private:
  void FillRandom(unsigned char* area, int start, long long offset, int length, CFillRunner* runner);
  // The index of the first byte of the nblocks blocks at `data` that differs
  // from them, XORed with flip; -1 when none does.
  long FirstRandomDifference(int seed_first, const unsigned char* data, int nblocks, unsigned char flip) const;
};

// ISAAC64 generator; the one the device wipe uses.
class CDataBufferIsaac64 : public CDataBuffer {
 public:
  ~CDataBufferIsaac64() override;
  int InitRandom() override;
  void StopRandom() override;
  void RestartRandom(int seed) override;
  void GetRandomBytes(char* out, int n) override;

 protected:
  void FillRandomBlocks(int seed_first, unsigned char* out, int nblocks) const override;
  bool MatchRandomBlocks(int seed_first, const unsigned char* data, int nblocks, unsigned char flip) const override;
};

// ISAAC built on 64-bit words.
class CDataBufferIsaac : public CDataBuffer {
 public:
  ~CDataBufferIsaac() override;
  int InitRandom() override;
  void StopRandom() override;
  void RestartRandom(int seed) override;
  void GetRandomBytes(char* out, int n) override;

 protected:
  void FillRandomBlocks(int seed_first, unsigned char* out, int nblocks) const override;
  bool MatchRandomBlocks(int seed_first, const unsigned char* data, int nblocks, unsigned char flip) const override;
};

// SHA-1 based generator.
class CDataBufferSha1 : public CDataBuffer {
 public:
  ~CDataBufferSha1() override;
  int InitRandom() override;
  void StopRandom() override;
  void RestartRandom(int seed) override;
  void GetRandomBytes(char* out, int n) override;

 protected:
  void FillRandomBlocks(int seed_first, unsigned char* out, int nblocks) const override;
};
