#include <linux/fd.h>
#include <string.h>

#include "app/log.h"
#include "app/paths.h"
#include "device/blkdev_removable.h"

CBlkDevFloppy::~CBlkDevFloppy() {}

int CBlkDevFloppy::Init() {
  LOG_TRACE(g_dbg_log, "Initializing Floppy drive " << Name());
  if (Name().empty()) return -1;
  model = "Floppy drive";
  unique_fd file = OpenNode();
  if (file.valid()) {
    // The driver knows a geometry only while a medium is in the drive.
    struct floppy_struct geometry;
    memset(&geometry, 0, sizeof geometry);
    if (sys_ioctl(file.get(), FDGETPRM, &geometry) != 0) size_bytes = 0;
  }
  LOG_INFO(g_wipe_log, "Disk-" << Name() << ": " << model << (size_bytes == 0 ? ", no media" : ""));
  return 0;
}
