// TRIM pass: the whole device handed in large chunks to the device class's
// discard command.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>

#include "app/log.h"
#include "app/util.h"
#include "device/blkdev.h"

int CBlkDev::Trim() {
  {
    CLockWrapper guard(DeviceLock());
    cancel_requested = false;
    percent = 0;
    eta = 0;
    speed = 0;
    snprintf(progress_label, sizeof progress_label, "Trim");
  }
  const blkdev_node_t node = Node();
  CDevFile file;
  int rc = 0;
  if (node.name.empty()) {
    errno = ENODEV;
    rc = -1;
  } else {
    int fd = open_device_node(node.major, node.minor, node.name.c_str(), O_RDWR | O_DIRECT);
    if (fd < 0)
      rc = 1;
    else
      file.reset(fd);
  }
  if (rc != 0) {
    LOG_ERROR(g_wipe_log, "Disk-" << node.name << ": failed to open device node. " << strerror(errno));
    return rc;
  }
  LOG_INFO(g_wipe_log, "Disk-" << node.name << ": trim pass started");
  uint64_t per_trim = (size_sectors / 100) * 5;
  per_trim -= per_trim % 1024;
  if (per_trim > 0x3FF000) per_trim = 0x3FF000;
  // Small devices (below 20480 sectors) go in one range.
  if (per_trim == 0) per_trim = size_sectors;
  uint64_t t0 = get_nanotime();
  auto step = [&] {
    cert_step_t s;
    s.kind = STEP_TRIM;
    s.seconds = (long long)((get_nanotime() - t0) / 1000000000ULL);
    return s;
  };
  uint64_t remaining = size_sectors;
  uint64_t lba = 0;
  uint64_t total = size_sectors * 512;
  while (remaining > 0) {
    uint64_t n = remaining < per_trim ? remaining : per_trim;
    rc = Trim_helper_trim_range(file, lba, (unsigned int)n);
    if (rc != 0) {
      LOG_INFO(g_wipe_log, "Disk-" << node.name << ": trim pass failed");
      LogFinishedPass("trim pass", CDeviceReport::completed_with_warnings, step());
      return rc;
    }
    lba += n;
    uint64_t done = lba * 512;
    uint64_t elapsed = get_nanotime() - t0;
    if (elapsed == 0) elapsed = 1;
    uint64_t current;
    if (done <= 1000000000ULL)
      current = done * 1000000000ULL / elapsed;
    else if (elapsed > 1000000000ULL)
      current = done / (elapsed / 1000000000ULL);
    else
      current = (done / elapsed) * 1000000000ULL;
    {
      CLockWrapper guard(DeviceLock());
      if (speed == 0) speed = current;
      percent = size_bytes ? (double)done * 100.0 / (double)size_bytes : 0;
      speed = (current + speed) / 2;
      eta = speed ? (int32_t)((total - done) / speed) : 0;
      if (cancel_requested) return -1;
    }
    remaining -= n;
  }
  cert_step_t done = step();
  LOG_INFO(g_wipe_log, "Disk-" << node.name << ": trim pass completed in " << CTimeStr((int)done.seconds).c_str());
  LogFinishedPass("trim pass", CDeviceReport::success, done);
  return 0;
}
