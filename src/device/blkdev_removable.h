// Block device classes for removable media: USB mass storage, SD/MMC cards
// and floppy drives. Each differs from CBlkDev only in what its Init() reads
// from sysfs, which commands it offers and how it announces itself.
#pragma once
#include "device/blkdev.h"

// A USB mass-storage device whose bridge does not pass ATA commands.
class CBlkDevUsb : public CBlkDev {
 public:
  CBlkDevUsb() = default;
  // A device with the facts discovery found; Init() is still to be called.
  explicit CBlkDevUsb(const CBlkDevData& data) : CBlkDev(data) {}
  ~CBlkDevUsb() override;
  // Takes the serial number from the USB device's sysfs attributes and makes
  // a one-byte write test; a device that fails it offers no "Wipe", for good.
  int Init() override;
};

// An SD or MMC card.
class CBlkDevMmc : public CBlkDev {
 public:
  CBlkDevMmc() = default;
  explicit CBlkDevMmc(const CBlkDevData& data) : CBlkDev(data) {}
  ~CBlkDevMmc() override;
  int Init() override;
};

// A floppy drive: listed, never wiped.
class CBlkDevFloppy : public CBlkDev {
 public:
  CBlkDevFloppy() = default;
  explicit CBlkDevFloppy(const CBlkDevData& data) : CBlkDev(data) {}
  ~CBlkDevFloppy() override;
  // Sets the size to 0 when the drive holds no medium.
  int Init() override;
  bool CanBeWiped() override { return false; }
};
