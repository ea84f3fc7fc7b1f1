#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "app/log.h"
#include "app/paths.h"
#include "app/util.h"
#include "command/threaded_command.h"
#include "device/blkdev_removable.h"

CBlkDevUsb::~CBlkDevUsb() {}

namespace {

// Walks up from the parent of the block device's sysfs directory to the USB
// device that carries it: the first directory whose `product` is the probed
// model (or does not name a generic "Storage" function) and whose
// `manufacturer` is the probed vendor gives its `serial`. Attributes that
// cannot be read keep the value read last.
void find_usb_serial(const std::string& device_dir, const std::string& model, const std::string& vendor,
                     std::string& serial) {
  std::string dir = device_dir;
  std::string product, manufacturer;
  for (;;) {
    size_t slash = dir.rfind('/');
    if (slash == std::string::npos) return;
    dir.erase(slash);
    read_string_from_file((dir + "/product").c_str(), product);
    if (product != model && product.find("Storage") != std::string::npos) continue;
    read_string_from_file((dir + "/manufacturer").c_str(), manufacturer);
    if (manufacturer == vendor) {
      read_string_from_file((dir + "/serial").c_str(), serial);
      return;
    }
  }
}

}  // namespace

int CBlkDevUsb::Init() {
  LOG_TRACE(g_dbg_log, "Initializing USB device " << Name());
  if (Name().empty()) return -1;
  std::string link = sys_path("/sys/block/" + Name() + "/device");
  char resolved[PATH_MAX];
  if (!realpath(link.c_str(), resolved)) return 0;

  find_usb_serial(resolved, model, vendor, serial);
  if (serial.empty()) serial = "n/a";

  // Write test: the first byte read and written back unchanged. A stick
  // behind a write-protect switch fails here and is never offered a wipe.
  unique_fd file = OpenNode(O_RDWR);
  if (!file.valid()) {
    not_writable = 1;
  } else {
    unsigned char byte = 0;
    if (platform().DeviceRead(file.get(), &byte, 1, 0) != 1 || platform().DeviceWrite(file.get(), &byte, 1, 0) != 1)
      not_writable = 1;
  }

  ClearCommands();
  if (!not_writable) commands.push_back(command_ptr(new CWipeCommand<CBlkDev>(this, BLKDEV_CMD_WIPE, false, "Wipe")));

  LOG_INFO(g_wipe_log, "Disk-" << Name() << ": " << model << ", s/n: " << serial << " usb device detected");
  LOG_INFO(g_wipe_log, "Disk-" << Name() << ": " << CSizeStr(size_bytes, 'A') << ", " << CSizeStr(size_bytes, 'B'));
  return 0;
}
