#include "device/chunk_pipeline.h"

#include <errno.h>
#include <string.h>

#include "command/command.h"
#include "scheme/scheme.h"

namespace wipe_internal {

CChunkSource::CChunkSource(CDataBuffer* b, int p, int s, int ps)
    : pool(CGenPool::Instance()), buf(b), pass(p), start(s), previous_start(ps), offload(b->IsRandom(p)) {
  areas[0] = buf->GetWriteBuffer();
  records[0] = buf->GetLastFill();
  areas[1] = offload ? buf->GetReadBuffer() : nullptr;
  records[1] = &second_record;
}

int CChunkSource::NextSlot(int slot, uint64_t pos, uint64_t length) const {
  if (!TwoAreas() || buf->Holds(*records[slot], pass, (long long)pos, (int)length)) return slot;
  return 1 - slot;
}

void CChunkSource::Start(int slot, uint64_t pos, uint64_t length) {
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

unsigned char* CChunkSource::Get(int slot, uint64_t pos, uint64_t length) {
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

void CChunkSource::Abandon() {
  if (!job) return;
  if (!pool.Cancel(job))
    for (int i = 0; i < 2; ++i) made[i] = kNothing;
  job.reset();
}

void CChunkSource::Finish() {
  if (!job) return;
  pool.Wait(job);
  job.reset();
}

unsigned char* CChunkSource::FromWindow(uint64_t pos, uint64_t length) {
  if (window_state == kWindowUntried) MakeWindow();
  if (window_state != kWindowMade) return nullptr;
  uint64_t phase = pos % period;
  // Aligned places repeat their phases every `extra` bytes.
  for (uint64_t at = 0; at < extra && at + length <= (uint64_t)CChunkPool::kAreaSize; at += kWindowAlign)
    if (at % period == phase) return window + at;
  return nullptr;
}

void CChunkSource::MakeWindow() {
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

CPieceCompare::CPieceCompare(CDataBuffer* b, int p, int s, int ps) : buf(b), pass(p), start(s), previous_start(ps) {
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

long CPieceCompare::FirstDifference(const unsigned char* actual, uint64_t pos, uint64_t n) {
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

CChunkReader::CChunkReader(const std::string& thread_name, read_fn_t r, int f, uint64_t size, unsigned char* area0,
                           unsigned char* area1)
    : name(thread_name), read(r), fd(f), total(size) {
  slots[0].chunk.area = area0;
  slots[1].chunk.area = area1;
  nslots = area1 ? 2 : 1;
  // Without the thread each read is done on the spot.
  start_thread(thread, [this] { ThreadMain(); });
}

CChunkReader::~CChunkReader() {
  if (!thread.joinable()) return;
  {
    std::lock_guard<std::mutex> g(mutex);
    stop = true;
  }
  cv.notify_all();
  // A read under way is finished first.
  thread.join();
}

CChunkReader::chunk_t CChunkReader::Next() {
  if (!thread.joinable()) {
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

void CChunkReader::ThreadMain() {
  ThreadProc();
  {
    std::lock_guard<std::mutex> g(mutex);
    ended = true;
  }
  cv.notify_all();
}

void CChunkReader::ThreadProc() {
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

void CChunkReader::Do(chunk_t* c) {
  uint64_t length = length_of(chunk_at(c->pos, total));
  errno = 0;
  c->got = read(fd, c->area, (unsigned long)length, (long)c->pos);
  c->err = errno;
}

void CChunkReader::Advance(const chunk_t& c) {
  if (c.got > 0) next_pos = c.pos + (g_debug_fast ? chunk_at(c.pos, total) : (uint64_t)c.got);
}

}  // namespace wipe_internal
