// Turns one /sys/block name into a device object of the right class: reads
// what sysfs says about the device, makes sure its /dev node exists, asks the
// drive which command set it answers and picks the class.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "device/blkdev.h"

// The device classes discovery can create.
enum blkdev_kind_e {
  BLKDEV_KIND_GENERIC = 0,
  BLKDEV_KIND_FLOPPY,
  BLKDEV_KIND_MMC,
  BLKDEV_KIND_USB,
  BLKDEV_KIND_ATA_SAT,  // ATA over SCSI/ATA translation
  BLKDEV_KIND_ATA_IDE,  // ATA over the IDE taskfile interface
  BLKDEV_KIND_SCSI,
  BLKDEV_KIND_NVME,
};

// What the class decision looks at besides the drive's answers.
struct blkdev_facts {
  int major = 0;
  std::string name;
  std::string model;
  std::string device_path;  // canonical path of the sysfs "device" entry; empty when unresolved
};

// Asks the drive one question; 0 when it answered.
typedef std::function<int()> blkdev_probe_fn;

// The class decision, first match wins; a probe is asked only when its rule
// is reached (SCSI/ATA translation, then the IDE taskfile, then INQUIRY).
blkdev_kind_e decide_blkdev_kind(const blkdev_facts& facts, const blkdev_probe_fn& satl, const blkdev_probe_fn& ide,
                                 const blkdev_probe_fn& scsi);

// "USB2" when the device path runs through a USB 2 bus, "USB" for another
// USB bus, null when the device is not on USB.
const char* usb_bus_name(const std::string& device_path);

class CBlkDevProbe : public CBlkDevData {
 public:
  CBlkDevProbe();

  // A new device object, or null when the node cannot be opened. A probe
  // object serves one name.
  std::unique_ptr<CBlkDev> CreateFromSysBlock(const char* name);

  int ProbeSATL(int fd);
  int ProbeIDE(int fd);
  int ProbeSCSI(int fd);

  // Copies the discovered facts into a new device object.
  void StoreDetectedDataTo(CBlkDev* dev);

  // The object of the class for `kind`, with nothing filled in yet.
  static std::unique_ptr<CBlkDev> CreateDevice(blkdev_kind_e kind);

  static const char* type2str(int type);

  bool used = false;
};
