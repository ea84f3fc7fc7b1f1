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
// loop. The chunk pipeline (data making, piece compare, reader thread) is
// in device/chunk_pipeline.*.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <memory>

#include "app/globals.h"
#include "app/log.h"
#include "app/paths.h"
#include "app/unique_fd.h"
#include "app/util.h"
#include "device/blkdev.h"
#include "device/chunk_pipeline.h"
#include "device/chunk_pool.h"
#include "scheme/databuffer.h"
#include "scheme/genpool.h"
#include "scheme/scheme.h"

using wipe_internal::CChunkReader;
using wipe_internal::CChunkSource;
using wipe_internal::chunk_at;
using wipe_internal::CPieceCompare;
using wipe_internal::kChunkSize;
using wipe_internal::length_of;

namespace {

const int kWriteAttempts = 3;
const uint64_t kSpeedThreshold = 1000000000ULL;

// The passes' writes and reads, through the platform.
long platform_write(int fd, const void* buf, unsigned long n, long off) {
  return platform().DeviceWrite(fd, buf, n, off);
}
long platform_read(int fd, void* buf, unsigned long n, long off) { return platform().DeviceRead(fd, buf, n, off); }

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

// The index of the first of the `n` bytes read back from device offset
// `pos` that differs from the random data (or its complement) pass `pass`
// wrote there, -1 when none does. Found by a job of the generation pool, so
// that however many devices verify at once, no more threads generate than
// there are cores.
long random_difference(CDataBuffer* buf, const unsigned char* actual, int pass, int start, int previous_start,
                       uint64_t pos, long n) {
  CGenPool& pool = CGenPool::Instance();
  long k = -1;
  auto job =
      pool.Submit([&] { k = buf->CompareRandom(actual, pass, start, previous_start, (long long)pos, (int)n, &pool); });
  pool.Wait(job);
  // A range it refuses is never taken for a match.
  return k < -1 ? 0 : k;
}

// The name of a wiping pass in the log and the report: "zero", "5C", ...
std::string pass_name_of(const CScheme& scheme, int pass) {
  char name[64] = "";
  scheme.PrintPassName(pass, name, sizeof name);
  return name;
}

}  // namespace

int CBlkDev::DoWipe(int hardware) {
  int rc = PreWipe();
  if (rc != 0) return rc;

  CScheme* scheme = g_scheme.GetDefaultScheme();
  std::unique_ptr<CDataBuffer> buffer = scheme ? CDataBuffer::Create(scheme, 0) : nullptr;
  cancel_requested = false;
  // A wipe that cannot begin still leaves a failed pass on the report: with
  // no pass at all the report would call an untouched drive a success.
  auto not_started = [&](int rc) {
    if (scheme)
      for (int i = 0; i < (int)scheme->passes.size(); ++i) {
        cert_step_t step;
        step.scheme_pass = i + 1;
        LogFinishedPass("wiping pass [" + pass_name_of(*scheme, i) + "]", CDeviceReport::failed, step);
      }
    else
      LogFinishedPass("wiping", CDeviceReport::failed);
    return rc;
  };
  if (!scheme || !buffer) {
    LOG_ERROR(g_wipe_log, "Disk-" << Name() << ": failed to get wiping scheme information");
    return not_started(-1);
  }

  unique_fd fd = OpenNode(O_RDWR | O_DIRECT);
  if (!fd.valid()) {
    int err = errno;
    LOG_ERROR(g_wipe_log, "Disk-" << Name() << ": failed to open device node. " << strerror(err));
    return not_started(1);
  }

  int n = (int)scheme->passes.size();
  LOG_INFO(g_wipe_log, "Disk-" << Name() << ": using '" << scheme->name << "' scheme, " << n << " pass(es)");

  int result = 0;
  int previous_start = 0;
  for (int i = 1; i <= n; ++i) {
    if (hardware && i == n) {
      LOG_INFO(g_wipe_log,
               "Disk-" << Name() << ": wiping pass " << i << "/" << n << " skipped. Hardware erase will be used.");
      break;
    }
    int start = (int)time(nullptr);
    const std::string pass_name = pass_name_of(*scheme, i - 1);
    uint64_t t0 = BeginPhase("Wiping", "wiping", i, n, " [" + pass_name + "]");
    result = WipePass(fd.get(), buffer.get(), i - 1, start, previous_start, platform_write);
    cert_step_t step;
    step.scheme_pass = i;
    EndPhase("wiping", i, n, result, "wiping pass [" + pass_name + "]", step, t0);
    if (cancel_requested) break;

    if (g_scheme.verify && scheme->passes[i - 1].verify) {
      t0 = BeginPhase("Verifying", "verifying", i, n, "");
      verify_mismatch = -1;
      result = VerifyPass(fd.get(), buffer.get(), i - 1, start, previous_start, platform_read);
      step.kind = STEP_VERIFY;
      step.mismatch = verify_mismatch;
      EndPhase("verifying", i, n, result, "verifying pass", step, t0);
      if (cancel_requested) break;
    }
    previous_start = start;
  }

  cancel_requested = false;
  sys_sync();
  return result;
}

uint64_t CBlkDev::BeginPhase(const char* label, const char* verb, int i, int n, const std::string& detail) {
  {
    CLockWrapper guard(DeviceLock());
    snprintf(progress_label, sizeof progress_label, "%s %d/%d", label, i, n);
    percent = 0;
  }
  uint64_t t0 = get_nanotime();
  LOG_INFO(g_wipe_log, "Disk-" << Name() << ": " << verb << " pass " << i << "/" << n << detail << " started");
  return t0;
}

void CBlkDev::EndPhase(const char* verb, int i, int n, int result, const std::string& report_name, cert_step_t step,
                       uint64_t t0) {
  step.seconds = elapsed_seconds(t0);
  if (result == 0) {
    LOG_INFO(g_wipe_log, "Disk-" << Name() << ": " << verb << " pass " << i << "/" << n << " completed in "
                                 << CTimeStr((int)step.seconds).c_str());
    LogFinishedPass(report_name, CDeviceReport::success, step);
  } else {
    LogFinishedPass(report_name, CDeviceReport::failed, step);
  }
}

bool CBlkDev::PassProgress(const char* verb, int pass, uint64_t pos, uint64_t done, uint64_t total, uint64_t t0) {
  uint64_t speed_now = pass_speed(pos, t0);
  {
    CLockWrapper guard(DeviceLock());
    if (pos == done) speed = speed_now;
    speed = (speed_now + speed) >> 1;
    percent = (double)pos * 100.0 / (double)size_bytes;
    eta = speed ? (int32_t)((total - pos) / speed) : 0;
  }
  if (!cancel_requested) return false;
  LOG_INFO(g_wipe_log, "Disk-" << Name() << ": " << verb << " cancelled at pass " << pass + 1 << ", offset " << pos);
  return true;
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
      LOG_WARN(g_wipe_log, "Disk-" << Name() << ": write failed; pass: " << pass + 1 << ", offset: " << pos
                                   << ", error: " << reason);
      if (++attempts >= kWriteAttempts) {
        LOG_ERROR(g_wipe_log, "Disk-" << Name() << ": wiping pass " << pass + 1 << " failed.");
        return -1;
      }
      LOG_INFO(g_wipe_log, "Retrying... " << kWriteAttempts - attempts << " attempt(s) left.");
    }

    uint64_t done = g_debug_fast ? chunk : (uint64_t)written;
    pos += done;
    if (PassProgress("wiping", pass, pos, done, total, t0)) return 1;
    slot = next_slot;
  }
  return 0;
}

int CBlkDev::VerifyPass(int fd, CDataBuffer* buf, int pass, int start, int previous_start,
                        long (*read)(int, void*, unsigned long, long)) {
  uint64_t t0 = get_nanotime();
  uint64_t total = size_bytes;
  LOG_TRACE(g_dbg_log, Name() << ": verifying progress: pos=" << 0 << " len=" << 0 << " bufsize=" << kChunkSize
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
  CChunkReader reader(Name() + " reader", read, fd, total, buf->GetReadBuffer(), second);

  uint64_t pos = 0;
  while (pos < total) {
    uint64_t chunk = chunk_at(pos, total);
    uint64_t length = length_of(chunk);
    CChunkReader::chunk_t c = reader.Next();
    long got = c.got;
    if (got < 0) {
      LOG_ERROR(g_wipe_log, "Disk-" << Name() << ": verifying pass " << pass + 1 << " failed at offset " << pos << ". "
                                    << strerror(c.err));
      return -1;
    }
    if (got == 0) {
      LOG_ERROR(g_wipe_log, "Disk-" << Name() << ": verifying pass " << pass + 1 << " failed at offset " << pos
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
      LOG_ERROR(g_wipe_log, "Disk-" << Name() << ": verifying pass " << pass + 1 << " failed at offset " << pos + k + 1
                                    << ". Data mismatch");
      return -1;
    }

    pos += done;
    if (PassProgress("verifying", pass, pos, done, total, t0)) return 1;
  }
  return 0;
}
