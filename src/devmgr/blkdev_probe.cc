#include "devmgr/blkdev_probe.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "app/log.h"
#include "app/paths.h"
#include "app/unique_fd.h"
#include "app/util.h"
#include "ata/ata_transport.h"
#include "ata/blkdev_ata.h"
#include "device/blkdev_removable.h"
#include "device/blkdev_scsi.h"
#include "device/scsi.h"
#include "nvme/blkdev_nvme.h"

blkdev_kind_e decide_blkdev_kind(const blkdev_facts& f, const blkdev_probe_fn& satl, const blkdev_probe_fn& ide,
                                 const blkdev_probe_fn& scsi) {
  if (f.major == 2 && f.model.empty() && f.name.compare(0, 2, "fd") == 0) return BLKDEV_KIND_FLOPPY;
  if (f.name.find("mmcblk") != std::string::npos) return BLKDEV_KIND_MMC;
  if (nvme_is_namespace_name(f.name)) return BLKDEV_KIND_NVME;
  if (usb_bus_name(f.device_path)) return satl() == 0 ? BLKDEV_KIND_ATA_SAT : BLKDEV_KIND_USB;
  if (satl() == 0) return BLKDEV_KIND_ATA_SAT;
  if (ide() == 0) return BLKDEV_KIND_ATA_IDE;
  if (scsi() == 0) return BLKDEV_KIND_SCSI;
  return BLKDEV_KIND_GENERIC;
}

const char* usb_bus_name(const std::string& device_path) {
  if (device_path.find("/usb") == std::string::npos) return nullptr;
  return device_path.find("/usb2") != std::string::npos ? "USB2" : "USB";
}

// The one place where a device kind becomes a class.
std::unique_ptr<CBlkDev> CBlkDevProbe::CreateDevice(blkdev_kind_e kind) {
  switch (kind) {
    case BLKDEV_KIND_ATA_SAT: return std::make_unique<CBlkDevAta>(CBlkDevAta::TRANSPORT_SAT);
    case BLKDEV_KIND_ATA_IDE: return std::make_unique<CBlkDevAta>(CBlkDevAta::TRANSPORT_IDE);
    case BLKDEV_KIND_FLOPPY: return std::make_unique<CBlkDevFloppy>();
    case BLKDEV_KIND_MMC: return std::make_unique<CBlkDevMmc>();
    case BLKDEV_KIND_USB: return std::make_unique<CBlkDevUsb>();
    case BLKDEV_KIND_SCSI: return std::make_unique<CBlkDevScsi>();
    case BLKDEV_KIND_NVME: return std::make_unique<CBlkDevNvme>();
    case BLKDEV_KIND_GENERIC: break;
  }
  return std::make_unique<CBlkDev>();
}

CBlkDevProbe::CBlkDevProbe() { bus = BUS_NONE; }

const char* CBlkDevProbe::type2str(int type) {
  static const char* const names[] = {"Disk",
                                      "Tape",
                                      "Printer",
                                      "Processor",
                                      "Write-once device",
                                      "CD/DVD",
                                      "Scanner",
                                      "Optical disk",
                                      "Medium changer",
                                      "Communication device",
                                      "Pre-press device",
                                      "Pre-press device",
                                      "Storage array",
                                      "Enclosure services device",
                                      "Simplified direct-access device",
                                      "Optical card reader/writer device",
                                      "Bridging expander",
                                      "Object-based storage",
                                      "Automation/Drive interface"};
  if (type >= 0 && type < (int)(sizeof names / sizeof names[0])) return names[type];
  if (type == 30) return "Well-known logical unit";
  return "Unknown device";
}

int CBlkDevProbe::ProbeSATL(int fd) {
  int rc = ata_probe_satl(fd);
  if (rc == 0) bus = BUS_ATA_SAT;
  return rc;
}

int CBlkDevProbe::ProbeIDE(int fd) {
  int rc = ata_probe_ide(fd);
  if (rc == 0) bus = BUS_ATA_IDE;
  return rc;
}

int CBlkDevProbe::ProbeSCSI(int fd) {
  CScsiInquiryCmd inquiry;
  int rc = inquiry.Run(fd, SCSI_INQUIRY_STANDARD);
  if (rc == 0) bus = BUS_SCSI;
  return rc;
}

void CBlkDevProbe::StoreDetectedDataTo(CBlkDev* device) {
  if (!device) return;
  // The device is not listed yet, so no other thread can read its facts,
  // which are otherwise the device's own to change.
  CBlkDevData* dev = device;
  dev->major = major;
  dev->minor = minor;
  dev->bus = bus;
  dev->scsi_type = scsi_type;
  dev->name = name;
  dev->model = model;
  dev->vendor = vendor;
  dev->type_name = type_name;
  dev->size_bytes = size_bytes;
  dev->sector_size = sector_size;
  dev->size_sectors = size_sectors;
  dev->found_as = read_sysfs_identity(name);
}

std::unique_ptr<CBlkDev> CBlkDevProbe::CreateFromSysBlock(const char* dev_name) {
  if (used) LOG_ERROR(g_dbg_log, "CreateFromSysBlock(): Internal error: this object already used.");
  used = true;
  if (!dev_name) {
    LOG_WARN(g_dbg_log, "CreateFromSysBlock(): name is NULL");
    return nullptr;
  }
  name = dev_name;

  char prefix[4097];
  snprintf(prefix, sizeof prefix, "/sys/block/%s/", dev_name);
  const std::string base = sys_path(prefix);

  std::string path = base + "size";
  if (FILE* f = fopen(path.c_str(), "r")) {
    long long sectors = 0;
    if (fscanf(f, "%lld", &sectors) == 1)
      size_sectors = (uint64_t)sectors;
    else
      LOG_WARN(g_dbg_log, "Unable to read block device size from " << path);
    fclose(f);
  }
  sector_size = 512;
  size_bytes = size_sectors * 512;

  path = base + "dev";
  if (FILE* f = fopen(path.c_str(), "r")) {
    int ma = 0, mi = 0;
    if (fscanf(f, "%d:%d", &ma, &mi) == 2) {
      major = ma;
      minor = mi;
    }
    fclose(f);
  }

  path = base + "device/type";
  if (FILE* f = fopen(path.c_str(), "r")) {
    int t = 0;
    if (fscanf(f, "%d", &t) == 1)
      scsi_type = t;
    else
      LOG_WARN(g_dbg_log, "Unable to read block device type from " << path);
    fclose(f);
  }
  type_name = type2str(scsi_type);
  read_string_from_file((base + "device/model").c_str(), model);
  read_string_from_file((base + "device/vendor").c_str(), vendor);

  unique_fd file(open_device_node(major, minor, dev_name, O_RDONLY | O_NONBLOCK));
  const int fd = file.get();
  if (fd < 0) {
    bus = BUS_NODE_FAILED;
    return nullptr;
  }

  blkdev_facts facts;
  facts.major = major;
  facts.name = name;
  facts.model = model;
  char resolved[PATH_MAX];
  if (realpath((base + "device").c_str(), resolved)) facts.device_path = resolved;

  blkdev_kind_e kind = decide_blkdev_kind(
      facts, [&] { return ProbeSATL(fd); }, [&] { return ProbeIDE(fd); }, [&] { return ProbeSCSI(fd); });
  // A drive on a USB bus carries the bus in its type name, also when the
  // bridge passes ATA commands through.
  if (kind == BLKDEV_KIND_USB || kind == BLKDEV_KIND_ATA_SAT) {
    if (const char* usb = usb_bus_name(facts.device_path)) {
      type_name = usb;
      if (kind == BLKDEV_KIND_USB) bus = BUS_USB;
    }
  }

  if (kind == BLKDEV_KIND_NVME) {
    type_name = "NVMe";
    bus = BUS_NVME;
  }
  std::unique_ptr<CBlkDev> dev = CreateDevice(kind);
  StoreDetectedDataTo(dev.get());
  return dev;
}
