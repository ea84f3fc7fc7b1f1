// Block device class for drives that answer ATA commands, through the IDE
// taskfile interface or through SCSI/ATA translation.
#pragma once
#include <stdint.h>

#include <memory>

#include "ata/ata_info.h"
#include "ata/ata_transport.h"
#include "device/blkdev.h"

// How long the pause that replaces the drive's own erase in fast-debug mode lasts.
constexpr unsigned ATA_FAST_DEBUG_ERASE_SECONDS = 10;

class CBlkDevAta : public CBlkDev {
 public:
  enum ata_transport_e { TRANSPORT_SAT = 0, TRANSPORT_IDE = 1 };

  struct _cmd_param {
    int32_t seconds;  // time the operation may take (also its expected duration)
    int32_t variant;  // erase: 0 normal, 1 enhanced; SMART: 0 short, 1 conveyance
  };

  explicit CBlkDevAta(ata_transport_e t);
  ~CBlkDevAta() override;

  int Init() override { return DoInit(true); }
  int Refresh() override { return DoInit(false); }
  int DoInit(bool verbose);
  bool NeedReboot() override { return size_bytes != kernel_size; }
  bool SupportsHardwareWipe() override;
  int PreWipe() override;
  int Trim_helper_trim_range(const CDevFile& file, unsigned long lba, unsigned int count) const override;

  // HPA and DCO.
  uint64_t GetHPASize(int fd, int lba48);
  uint64_t GetDCOSize(int fd);
  int ResetHPA(int vv);
  int SetHPA(int vv);
  int ResetDCO(int unused);
  int SetDCO(int unused);

  // Security erase and unlock.
  int SecurityErase(_cmd_param p);
  int LockDisk(int lock);

  // SMART and standby.
  // Adds the SMART test commands, the bad sector count and its detail lines
  // to `into`.
  int ParseSmartData(unsigned char* data, blkdev_info_t& into);
  int SmartTest(_cmd_param p);
  int Standby(int unused);

  // Command functions wrapped by CCommandUninterruptible.
  static int CmdResetHPA(CBlkDevAta* dev, int param);
  static int CmdSetHPA(CBlkDevAta* dev, int param);
  static int CmdResetDCO(CBlkDevAta* dev, int param);
  static int CmdSetDCO(CBlkDevAta* dev, int param);
  static int CmdUnlockDisk(CBlkDevAta* dev, int param);
  static int CmdSecurityErase(CBlkDevAta* dev, _cmd_param p);
  static int CmdStandby(CBlkDevAta* dev, int param);
  static int CmdSmartTest(CBlkDevAta* dev, _cmd_param p);

  std::unique_ptr<CAtaCmdTransport> transport;
  CAtaInfo info;
  int32_t packet = 0;
  int32_t lba_level = 0;
  int32_t dco_level = 0;
  int32_t hpa_level = 0;
  int32_t smart_level = 0;
  uint64_t hpa_size = 0;
  uint64_t dco_size = 0;
  uint64_t kernel_size = 0;

 private:
  // The steps of DoInit, each filling `next` (what the interface shows):
  // IDENTIFY (or IDENTIFY PACKET) with model, serial and sizes; 0 when the
  // drive answered with valid data.
  int ReadIdentity(int fd, blkdev_info_t& next, bool verbose);
  // The feature summary line, and Trim on a drive that trims.
  void DescribeFeatures(blkdev_info_t& next, bool verbose);
  // The HPA and DCO sizes and the commands that reset (or, when debugging,
  // set) them.
  void AddHpaDcoCommands(int fd, blkdev_info_t& next, bool verbose);
  // SMART status and attributes.
  void ReadSmart(int fd, blkdev_info_t& next);
  // The security state, Unlock disk and the drive's own erase commands.
  void AddSecurityCommands(blkdev_info_t& next, bool verbose);
  // The markers beside the device (REBOOT, HPA, DCO, BB).
  void SetMarkers(blkdev_info_t& next, bool verbose);
  // The queue thread refreshes the device when the current command ends.
  void MarkRefresh();
  void AddUninterruptible(std::vector<command_ptr>& into, int (*fn)(CBlkDevAta*, int), int param, int duration,
                          const char* name, blkdev_command_t id);
  void AddUninterruptible(std::vector<command_ptr>& into, int (*fn)(CBlkDevAta*, _cmd_param), _cmd_param param,
                          int duration, const char* name, blkdev_command_t id);
  // Sends SET MAX ADDRESS (EXT) with `max`; reads the limit back into *readback.
  int SendSetMax(int fd, uint64_t max, int vv, uint64_t* readback);
};
