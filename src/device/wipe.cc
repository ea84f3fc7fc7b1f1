// The overwrite: every pass of the current scheme streamed over the whole
// device in 16 MiB chunks with direct I/O, and the read-back of the passes
// marked for verification.
//
// The program must not be what the device waits for: random data for the
// next chunk is generated on the process-wide generation pool while the
// current chunk is written, and the verify pass reads the next chunk on a
// reader thread while the current one is compared (random data on the pool,
// each block as it is made).
// Writes stay on the pass's own thread, one at a time and in order, so
// messages, retries, progress and cancellation are those of a plain chunk
// loop.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <condition_variable>
#include <memory>
#include <mutex>

#include "app/globals.h"
#include "app/log.h"
#include "app/paths.h"
#include "app/util.h"
#include "command/command.h"
#include "device/blkdev.h"
#include "device/chunk_pool.h"
#include "scheme/databuffer.h"
#include "scheme/genpool.h"
#include "scheme/scheme.h"

namespace {

const uint64_t kChunkSize = 16777216;
const int kWriteAttempts = 3;
const uint64_t kFastDebugLength = 4096;
const uint64_t kSpeedThreshold = 1000000000ULL;

// Average speed of the pass so far, in bytes per second.
uint64_t pass_speed(uint64_t done, uint64_t t0) {
  uint64_t elapsed = get_nanotime() - t0;
  if (elapsed == 0) elapsed = 1;
  if (done <= kSpeedThreshold) return done * 1000000000ULL / elapsed;
  uint64_t seconds = elapsed / 1000000000ULL;
  if (seconds == 0) return (uint64_t)((long double)done * 1e9L / (long double)elapsed);
  return done / seconds;
}

int elapsed_seconds(uint64_t t0) { return (int)((get_nanotime() - t0) / 1000000000ULL); }

// Bytes a chunk covers at `pos` (`chunk`), and the bytes written or read of it.
uint64_t chunk_at(uint64_t pos, uint64_t total) { return total - pos < kChunkSize ? total - pos : kChunkSize; }
uint64_t length_of(uint64_t chunk) { return g_debug_fast && chunk > kFastDebugLength ? kFastDebugLength : chunk; }

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
  CChunkSource(CDataBuffer* b, int p, int s, int ps)
      : pool(CGenPool::Instance()), buf(b), pass(p), start(s), previous_start(ps),
        offload(b->IsRandom(p)) {
    areas[0] = buf->GetWriteBuffer();
    records[0] = buf->GetLastFill();
    areas[1] = offload ? buf->GetReadBuffer() : nullptr;
    records[1] = &second_record;
  }
  ~CChunkSource() { Abandon(); }
  CChunkSource(const CChunkSource&) = delete;
  CChunkSource& operator=(const CChunkSource&) = delete;

  bool TwoAreas() const { return areas[1] != nullptr; }

  // The slot for the chunk after the one in `slot`: the same area when it
  // holds that chunk already (zeros, or a pattern in the same phase), so
  // that such a pass keeps using one area; otherwise the other area.
  int NextSlot(int slot, uint64_t pos, uint64_t length) const {
    if (!TwoAreas() || buf->Holds(*records[slot], pass, (long long)pos, (int)length)) return slot;
    return 1 - slot;
  }

  // Starts making the chunk of `length` bytes at `pos` into `slot`.
  void Start(int slot, uint64_t pos, uint64_t length) {
    Finish();
    made[slot] = pos;
    made_length[slot] = length;
    // The result is not looked at: a fill fails only for a scheme the wipe
    // could not run at all, and the verification shows any such failure.
    if (!offload) {
      buf->FillArea(areas[slot], records[slot], pass, start, previous_start, (long long)pos, (int)length, nullptr);
      return;
    }
    CDataBuffer* b = buf;
    unsigned char* area = areas[slot];
    fill_record_t* record = records[slot];
    int p = pass, s = start, ps = previous_start;
    CGenPool* runner = &pool;
    job = pool.Submit([=] { b->FillArea(area, record, p, s, ps, (long long)pos, (int)length, runner); });
  }

  // The data of the chunk at `pos` in `slot`; made now unless it was started.
  unsigned char* Get(int slot, uint64_t pos, uint64_t length) {
    if (!offload) {
      unsigned char* from = FromWindow(pos, length);
      if (from) return from;
    }
    Finish();
    if (made[slot] != pos || made_length[slot] != length) {
      if (buf->Holds(*records[slot], pass, (long long)pos, (int)length)) {
        made[slot] = pos;
        made_length[slot] = length;
      } else {
        Start(slot, pos, length);
        Finish();
      }
    }
    return areas[slot];
  }

  // Drops a chunk not started yet, or waits for the one being made.
  void Abandon() {
    if (!job) return;
    if (!pool.Cancel(job))
      for (int i = 0; i < 2; ++i) made[i] = kNothing;
    job.reset();
  }

 private:
  void Finish() {
    if (!job) return;
    pool.Wait(job);
    job.reset();
  }

  // The chunk at `pos` in the pattern window, or null when there is none.
  unsigned char* FromWindow(uint64_t pos, uint64_t length) {
    if (window_state == kWindowUntried) MakeWindow();
    if (window_state != kWindowMade) return nullptr;
    uint64_t phase = pos % period;
    // Aligned places repeat their phases every `extra` bytes.
    for (uint64_t at = 0; at < extra && at + length <= (uint64_t)CChunkPool::kAreaSize; at += kWindowAlign)
      if (at % period == phase) return window + at;
    return nullptr;
  }
  void MakeWindow() {
    window_state = kWindowNone;
    const CScheme* scheme = buf->GetScheme();
    if (!scheme || pass < 0 || pass >= (int)scheme->passes.size()) return;
    const CPass& p = scheme->passes[pass];
    if (p.type != PASS_PATTERN || p.pattern_length <= 0) return;
    period = (uint64_t)p.pattern_length;
    // The least common multiple of the alignment and the period.
    uint64_t a = kWindowAlign, b = period;
    while (b) {
      uint64_t t = a % b;
      a = b;
      b = t;
    }
    extra = kWindowAlign / a * period;
    if (extra > CChunkPool::kAreaSize - kDataBufferSize) return;
    window_area.reset(new CPoolArea);
    window = window_area->get();
    if (!window) return;
    fill_record_t head, tail;
    if (buf->FillArea(window, &head, pass, start, previous_start, 0, kDataBufferSize, nullptr) != 0 ||
        buf->FillArea(window + kDataBufferSize, &tail, pass, start, previous_start, kDataBufferSize, (int)extra,
                      nullptr) != 0)
      return;
    window_state = kWindowMade;
  }

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

  CPieceCompare(CDataBuffer* b, int p, int s, int ps) : buf(b), pass(p), start(s), previous_start(ps) {
    const CScheme* scheme = b->GetScheme();
    piece = kPieceSize;
    if (scheme && p >= 0 && p < (int)scheme->passes.size() && scheme->passes[p].type == PASS_PATTERN) {
      int period = scheme->passes[p].pattern_length;
      if (period > 0 && period <= kDataBufferSize) piece = period < kPieceSize ? kPieceSize / period * period : period;
    }
    area.reset(new CAlignedBuffer((unsigned long)piece));
    // What a failed fill leaves, as in the data buffer's own areas.
    if (area->get()) memset(area->get(), 0x12, piece);
  }
  CPieceCompare(const CPieceCompare&) = delete;
  CPieceCompare& operator=(const CPieceCompare&) = delete;

  bool Ready() const { return area->get() != nullptr; }

  // The index of the first of the `n` bytes at `actual`, read back from
  // device offset `pos`, that differs from what the pass wrote there; -1
  // when all of them match.
  long FirstDifference(const unsigned char* actual, uint64_t pos, uint64_t n) {
    unsigned char* expected = area->get();
    for (uint64_t done = 0; done < n; done += (uint64_t)piece) {
      int len = n - done < (uint64_t)piece ? (int)(n - done) : piece;
      // The result is not looked at, as for whole chunks: a fill fails only
      // for a scheme the wipe could not run at all.
      buf->FillArea(expected, &record, pass, start, previous_start, (long long)(pos + done), len, nullptr);
      const unsigned char* got = actual + done;
      if (memcmp(got, expected, (size_t)len) != 0) {
        long k = 0;
        while (got[k] == expected[k]) ++k;
        return (long)done + k;
      }
    }
    return -1;
  }

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
               unsigned char* area1)
      : name(thread_name), read(r), fd(f), total(size) {
    slots[0].chunk.area = area0;
    slots[1].chunk.area = area1;
    nslots = area1 ? 2 : 1;
    threaded = pthread_create(&thread, nullptr, &CChunkReader::ThreadStatic, this) == 0;
  }
  ~CChunkReader() {
    if (!threaded) return;
    {
      std::lock_guard<std::mutex> g(mutex);
      stop = true;
    }
    cv.notify_all();
    // A read under way is finished first.
    pthread_join(thread, nullptr);
  }
  CChunkReader(const CChunkReader&) = delete;
  CChunkReader& operator=(const CChunkReader&) = delete;

  // The next chunk, in order; waits for its read. The area of the chunk
  // returned before is read into again from here on. After a read that
  // returned 0 or less, or past the end, the chunk has nothing read (0).
  chunk_t Next() {
    if (!threaded) {
      chunk_t c;
      c.area = slots[0].chunk.area;
      c.pos = next_pos;
      Do(&c);
      Advance(c);
      return c;
    }
    std::unique_lock<std::mutex> lock(mutex);
    if (held >= 0) {
      slots[held].state = FREE;
      held = -1;
      cv.notify_all();
    }
    slot_t& s = slots[take];
    cv.wait(lock, [this, &s] { return s.state == FILLED || ended; });
    if (s.state != FILLED) {
      // Asked past the last read: nothing more comes from the device.
      chunk_t none;
      none.pos = next_pos;
      return none;
    }
    s.state = HELD;
    held = take;
    take = (take + 1) % nslots;
    return s.chunk;
  }

 private:
  enum slot_state_e { FREE, READING, FILLED, HELD };
  struct slot_t {
    chunk_t chunk;
    slot_state_e state = FREE;
  };

  static void* ThreadStatic(void* arg) {
    CChunkReader* self = static_cast<CChunkReader*>(arg);
    self->ThreadProc();
    {
      std::lock_guard<std::mutex> g(self->mutex);
      self->ended = true;
    }
    self->cv.notify_all();
    return nullptr;
  }
  void ThreadProc() {
    set_thread_name(name);
    int fill = 0;
    std::unique_lock<std::mutex> lock(mutex);
    while (next_pos < total) {
      slot_t& s = slots[fill];
      cv.wait(lock, [this, &s] { return stop || s.state == FREE; });
      if (stop) return;
      s.state = READING;
      chunk_t c = s.chunk;
      c.pos = next_pos;
      lock.unlock();
      Do(&c);
      lock.lock();
      s.chunk = c;
      s.state = FILLED;
      cv.notify_all();
      // Nothing is read after a failed read or the end of the device.
      if (c.got <= 0) return;
      Advance(c);
      fill = (fill + 1) % nslots;
    }
  }
  void Do(chunk_t* c) {
    uint64_t length = length_of(chunk_at(c->pos, total));
    errno = 0;
    c->got = read(fd, c->area, (unsigned long)length, (long)c->pos);
    c->err = errno;
  }
  // The position of the chunk after `c`, as the pass moves on: by what was
  // read, or by the whole chunk in fast-debug mode.
  void Advance(const chunk_t& c) {
    if (c.got > 0) next_pos = c.pos + (g_debug_fast ? chunk_at(c.pos, total) : (uint64_t)c.got);
  }

  std::string name;
  read_fn_t read;
  int fd;
  uint64_t total;
  pthread_t thread{};
  bool threaded = false;
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

// The index of the first of the `n` bytes read back from device offset
// `pos` that differs from the random data (or its complement) pass `pass`
// wrote there, -1 when none does. Found by a job of the generation pool, so
// that however many devices verify at once, no more threads generate than
// there are cores.
long random_difference(CDataBuffer* buf, const unsigned char* actual, int pass, int start, int previous_start,
                       uint64_t pos, long n) {
  CGenPool& pool = CGenPool::Instance();
  long k = -1;
  auto job = pool.Submit(
      [&] { k = buf->CompareRandom(actual, pass, start, previous_start, (long long)pos, (int)n, &pool); });
  pool.Wait(job);
  // A range it refuses is never taken for a match.
  return k < -1 ? 0 : k;
}

}  // namespace

int CBlkDev::DoWipe(int hardware) {
  int rc = PreWipe();
  if (rc != 0) return rc;

  CScheme* scheme = g_scheme.GetDefaultScheme();
  CDataBuffer* buffer = scheme ? CDataBuffer::Create(scheme, 0) : nullptr;
  cancel_requested = false;
  // A wipe that cannot begin still leaves a failed pass on the report: with
  // no pass at all the report would call an untouched drive a success.
  auto not_started = [&](int rc) {
    if (scheme)
      for (int i = 0; i < (int)scheme->passes.size(); ++i) {
        char pass_name[64] = "";
        scheme->PrintPassName(i, pass_name, sizeof pass_name);
        cert_step_t step;
        step.scheme_pass = i + 1;
        LogFinishedPass(std::string("wiping pass [") + pass_name + "]", CDeviceReport::failed, step);
      }
    else
      LogFinishedPass("wiping", CDeviceReport::failed);
    delete buffer;
    return rc;
  };
  if (!scheme || !buffer) {
    LOG_ERROR(g_wipe_log, "Disk-" << name << ": failed to get wiping scheme information");
    return not_started(-1);
  }

  int fd = open_device_node(major, minor, name.c_str(), O_RDWR | O_DIRECT);
  if (fd < 0) {
    int err = errno;
    LOG_ERROR(g_wipe_log, "Disk-" << name << ": failed to open device node. " << strerror(err));
    return not_started(1);
  }

  int n = (int)scheme->passes.size();
  LOG_INFO(g_wipe_log, "Disk-" << name << ": using '" << scheme->name << "' scheme, " << n << " pass(es)");

  int result = 0;
  int previous_start = 0;
  for (int i = 1; i <= n; ++i) {
    if (hardware && i == n) {
      LOG_INFO(g_wipe_log,
               "Disk-" << name << ": wiping pass " << i << "/" << n << " skipped. Hardware erase will be used.");
      break;
    }
    int start = (int)time(nullptr);
    {
      CLockWrapper guard(DeviceLock());
      snprintf(progress_label, sizeof progress_label, "Wiping %d/%d", i, n);
      percent = 0;
    }
    uint64_t t0 = get_nanotime();
    char pass_name[64];
    pass_name[0] = 0;
    scheme->PrintPassName(i - 1, pass_name, sizeof pass_name);
    LOG_INFO(g_wipe_log, "Disk-" << name << ": wiping pass " << i << "/" << n << " [" << pass_name << "] started");
    result = WipePass(fd, buffer, i - 1, start, previous_start, g_wipe_write);
    std::string report_name = std::string("wiping pass [") + pass_name + "]";
    cert_step_t step;
    step.scheme_pass = i;
    step.seconds = elapsed_seconds(t0);
    if (result == 0) {
      LOG_INFO(g_wipe_log, "Disk-" << name << ": wiping pass " << i << "/" << n << " completed in "
                                   << CTimeStr((int)step.seconds).c_str());
      LogFinishedPass(report_name, CDeviceReport::success, step);
    } else {
      LogFinishedPass(report_name, CDeviceReport::failed, step);
    }
    if (cancel_requested) break;

    if (g_scheme.verify && scheme->passes[i - 1].verify) {
      {
        CLockWrapper guard(DeviceLock());
        snprintf(progress_label, sizeof progress_label, "Verifying %d/%d", i, n);
        percent = 0;
      }
      t0 = get_nanotime();
      LOG_INFO(g_wipe_log, "Disk-" << name << ": verifying pass " << i << "/" << n << " started");
      verify_mismatch = -1;
      result = VerifyPass(fd, buffer, i - 1, start, previous_start, g_wipe_read);
      step.kind = STEP_VERIFY;
      step.seconds = elapsed_seconds(t0);
      step.mismatch = verify_mismatch;
      if (result == 0) {
        LOG_INFO(g_wipe_log, "Disk-" << name << ": verifying pass " << i << "/" << n << " completed in "
                                     << CTimeStr((int)step.seconds).c_str());
        LogFinishedPass("verifying pass", CDeviceReport::success, step);
      } else {
        LogFinishedPass("verifying pass", CDeviceReport::failed, step);
      }
      if (cancel_requested) break;
    }
    previous_start = start;
  }

  cancel_requested = false;
  sys_sync();
  delete buffer;
  close(fd);
  return result;
}

int CBlkDev::WipePass(int fd, CDataBuffer* buf, int pass, int start, int previous_start,
                      long (*write)(int, const void*, unsigned long, long)) {
  uint64_t t0 = get_nanotime();
  uint64_t total = size_bytes;
  if (total == 0) return 0;
  CChunkSource source(buf, pass, start, previous_start);
  uint64_t pos = 0;
  int slot = 0;
  while (pos < total) {
    uint64_t chunk = chunk_at(pos, total);
    uint64_t length = length_of(chunk);
    unsigned char* data = source.Get(slot, pos, length);
    // Random data for the next chunk is made while this one is written, for
    // the position a whole write leads to; a short write has it made again.
    uint64_t next = pos + (g_debug_fast ? chunk : length);
    uint64_t next_length = next < total ? length_of(chunk_at(next, total)) : 0;
    int next_slot = next < total ? source.NextSlot(slot, next, next_length) : slot;
    if (next_slot != slot) source.Start(next_slot, next, next_length);

    long written;
    int attempts = 0;
    for (;;) {
      written = write(fd, data, length, (long)pos);
      // Nothing written would not move the pass on: count it as a failure.
      if (written > 0) break;
      const char* reason = written < 0 ? strerror(errno) : "nothing written";
      LOG_WARN(g_wipe_log, "Disk-" << name << ": write failed; pass: " << pass + 1 << ", offset: " << pos
                                   << ", error: " << reason);
      if (++attempts >= kWriteAttempts) {
        LOG_ERROR(g_wipe_log, "Disk-" << name << ": wiping pass " << pass + 1 << " failed.");
        return -1;
      }
      LOG_INFO(g_wipe_log, "Retrying... " << kWriteAttempts - attempts << " attempt(s) left.");
    }

    uint64_t done = g_debug_fast ? chunk : (uint64_t)written;
    pos += done;
    uint64_t speed_now = pass_speed(pos, t0);
    {
      CLockWrapper guard(DeviceLock());
      if (pos == done) speed = speed_now;
      speed = (speed_now + speed) >> 1;
      percent = (double)pos * 100.0 / (double)size_bytes;
      eta = speed ? (int32_t)((total - pos) / speed) : 0;
    }
    if (cancel_requested) {
      LOG_INFO(g_wipe_log, "Disk-" << name << ": wiping cancelled at pass " << pass + 1 << ", offset " << pos);
      return 1;
    }
    slot = next_slot;
  }
  return 0;
}

int CBlkDev::VerifyPass(int fd, CDataBuffer* buf, int pass, int start, int previous_start,
                        long (*read)(int, void*, unsigned long, long)) {
  uint64_t t0 = get_nanotime();
  uint64_t total = size_bytes;
  LOG_TRACE(g_dbg_log, name << ": verifying progress: pos=" << 0 << " len=" << 0 << " bufsize=" << kChunkSize
                            << " size=" << total);
  if (total == 0) return 0;
  // Random data is made and compared block by block on the generation pool;
  // data that is cheap to make piece by piece against a small cached area,
  // or without memory for that against a whole chunk made before.
  const bool random = buf->IsRandom(pass);
  std::unique_ptr<CPieceCompare> pieces;
  std::unique_ptr<CChunkSource> source;
  if (!random) {
    pieces.reset(new CPieceCompare(buf, pass, start, previous_start));
    if (!pieces->Ready()) pieces.reset();
  }
  if (!random && !pieces) source.reset(new CChunkSource(buf, pass, start, previous_start));
  // The second area for the reads: the write area, idle unless expected
  // chunks are made there, or else one from the chunk pool.
  std::unique_ptr<CPoolArea> extra;
  unsigned char* second = buf->GetWriteBuffer();
  if (source) {
    extra.reset(new CPoolArea);
    second = extra->get();
  } else {
    // It no longer holds what it was last filled with.
    *buf->GetLastFill() = fill_record_t();
  }
  // Declared last: destroyed first, so no read is still under way when the
  // pass returns.
  CChunkReader reader(name + " reader", read, fd, total, buf->GetReadBuffer(), second);

  uint64_t pos = 0;
  while (pos < total) {
    uint64_t chunk = chunk_at(pos, total);
    uint64_t length = length_of(chunk);
    CChunkReader::chunk_t c = reader.Next();
    long got = c.got;
    if (got < 0) {
      LOG_ERROR(g_wipe_log, "Disk-" << name << ": verifying pass " << pass + 1 << " failed at offset " << pos << ". "
                                    << strerror(c.err));
      return -1;
    }
    if (got == 0) {
      LOG_ERROR(g_wipe_log, "Disk-" << name << ": verifying pass " << pass + 1 << " failed at offset " << pos
                                    << ". Unexpected end of device");
      return -1;
    }
    uint64_t done = g_debug_fast ? chunk : (uint64_t)got;
    const unsigned char* actual = c.area;
    long k = -1;
    if (random) {
      k = random_difference(buf, actual, pass, start, previous_start, pos, got);
    } else if (pieces) {
      k = pieces->FirstDifference(actual, pos, (uint64_t)got);
    } else {
      const unsigned char* expected = source->Get(0, pos, length);
      if (memcmp(actual, expected, (size_t)got) != 0) {
        k = 0;
        while (actual[k] == expected[k]) ++k;
      }
    }
    if (k >= 0) {
      verify_mismatch = (long long)(pos + k);
      LOG_ERROR(g_wipe_log, "Disk-" << name << ": verifying pass " << pass + 1 << " failed at offset "
                                    << pos + k + 1 << ". Data mismatch");
      return -1;
    }

    pos += done;
    uint64_t speed_now = pass_speed(pos, t0);
    {
      CLockWrapper guard(DeviceLock());
      if (pos == done) speed = speed_now;
      speed = (speed_now + speed) >> 1;
      percent = (double)pos * 100.0 / (double)size_bytes;
      eta = speed ? (int32_t)((total - pos) / speed) : 0;
    }
    if (cancel_requested) {
      LOG_INFO(g_wipe_log, "Disk-" << name << ": verifying cancelled at pass " << pass + 1 << ", offset " << pos);
      return 1;
    }
  }
  return 0;
}
