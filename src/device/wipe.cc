// The overwrite: every pass of the current scheme streamed over the whole
// device in 16 MiB chunks with direct I/O, and the read-back of the passes
// marked for verification.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "app/globals.h"
#include "app/log.h"
#include "app/util.h"
#include "device/blkdev.h"
#include "scheme/databuffer.h"
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

}  // namespace

int CBlkDev::DoWipe(int hardware) {
  int rc = PreWipe();
  if (rc != 0) return rc;

  CScheme* scheme = g_scheme.GetDefaultScheme();
  CDataBuffer* buffer = scheme ? CDataBuffer::Create(scheme, 0) : nullptr;
  cancel_requested = false;
  if (!scheme || !buffer) {
    LOG_ERROR(g_wipe_log, "Disk-" << name << ": failed to get wiping scheme information");
    delete buffer;
    return -1;
  }

  int fd = open_device_node(major, minor, name.c_str(), O_RDWR | O_DIRECT);
  if (fd < 0) {
    int err = errno;
    LOG_ERROR(g_wipe_log, "Disk-" << name << ": failed to open device node. " << strerror(err));
    delete buffer;
    return 1;
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
    if (result == 0) {
      LOG_INFO(g_wipe_log, "Disk-" << name << ": wiping pass " << i << "/" << n << " completed in "
                                   << CTimeStr(elapsed_seconds(t0)).c_str());
      LogFinishedPass(report_name, CDeviceReport::success);
    } else {
      LogFinishedPass(report_name, CDeviceReport::failed);
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
      result = VerifyPass(fd, buffer, i - 1, start, previous_start, g_wipe_read);
      if (result == 0) {
        LOG_INFO(g_wipe_log, "Disk-" << name << ": verifying pass " << i << "/" << n << " completed in "
                                     << CTimeStr(elapsed_seconds(t0)).c_str());
        LogFinishedPass("verifying pass", CDeviceReport::success);
      } else {
        LogFinishedPass("verifying pass", CDeviceReport::failed);
      }
      if (cancel_requested) break;
    }
    previous_start = start;
  }

  cancel_requested = false;
  sync();
  delete buffer;
  close(fd);
  return result;
}

int CBlkDev::WipePass(int fd, CDataBuffer* buf, int pass, int start, int previous_start,
                      long (*write)(int, const void*, unsigned long, long)) {
  uint64_t t0 = get_nanotime();
  uint64_t total = size_bytes;
  if (total == 0) return 0;
  unsigned char* data = buf->GetWriteBuffer();
  uint64_t pos = 0;
  while (pos < total) {
    uint64_t chunk = total - pos < kChunkSize ? total - pos : kChunkSize;
    uint64_t length = chunk;
    if (g_debug_fast && chunk > kFastDebugLength) length = kFastDebugLength;
    buf->FillBuffer(pass, start, previous_start, (long long)pos, (int)length);

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
  unsigned char* expected = buf->GetWriteBuffer();
  unsigned char* actual = buf->GetReadBuffer();
  uint64_t pos = 0;
  while (pos < total) {
    uint64_t chunk = total - pos < kChunkSize ? total - pos : kChunkSize;
    uint64_t length = chunk;
    if (g_debug_fast && chunk > kFastDebugLength) length = kFastDebugLength;
    buf->FillBuffer(pass, start, previous_start, (long long)pos, (int)length);

    long got = read(fd, actual, length, (long)pos);
    if (got < 0) {
      LOG_ERROR(g_wipe_log, "Disk-" << name << ": verifying pass " << pass + 1 << " failed at offset " << pos << ". "
                                    << strerror(errno));
      return -1;
    }
    if (got == 0) {
      LOG_ERROR(g_wipe_log, "Disk-" << name << ": verifying pass " << pass + 1 << " failed at offset " << pos
                                    << ". Unexpected end of device");
      return -1;
    }
    if (memcmp(actual, expected, (size_t)got) != 0) {
      long k = 0;
      while (k < got && actual[k] == expected[k]) ++k;
      LOG_ERROR(g_wipe_log, "Disk-" << name << ": verifying pass " << pass + 1 << " failed at offset "
                                    << pos + k + 1 << ". Data mismatch");
      return -1;
    }

    uint64_t done = g_debug_fast ? chunk : (uint64_t)got;
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
