// Block device class for drives that answer SCSI commands but not ATA
// pass-through: SAS and SCSI disks, some USB and card-reader bridges.
#pragma once
#include <stdint.h>

#include <string>

#include "device/blkdev.h"

class CBlkDevScsi : public CBlkDev {
 public:
  CBlkDevScsi() = default;
  // A device with the facts discovery found; Init() is still to be called.
  explicit CBlkDevScsi(const CBlkDevData& data) : CBlkDev(data) {}
  ~CBlkDevScsi() override;

  // Reads INQUIRY and the VPD pages: vendor, product, serial number, the
  // standards the device claims, and whether it can be trimmed.
  int Init() override;
  // Discards `count` blocks from `lba` with WRITE SAME(16) and the UNMAP bit.
  int Trim_helper_trim_range(const CDevFile& file, unsigned long lba, unsigned int count) const override;

  // The largest number of blocks one WRITE SAME may cover (Block Limits VPD
  // page); 0 when the page was not read or the device sets no limit.
  uint64_t max_write_same_blocks = 0;

 private:
  // The type text discovery gave the device, before the standards were
  // appended, so that a refresh does not append them twice.
  std::string base_type_name;
  bool base_type_known = false;
};
