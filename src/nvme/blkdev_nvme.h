// Block device class for NVMe namespaces: identity and health from the
// drive's own data pages, the drive's own erase (Sanitize or Format NVM) as
// the last pass, and deallocation after the wipe.
#pragma once
#include <stdint.h>

#include <memory>

#include "device/blkdev.h"
#include "nvme/nvme_codec.h"
#include "nvme/nvme_transport.h"

// How long a Format NVM may take: the drive gives no estimate.
constexpr uint32_t NVME_FORMAT_TIMEOUT_MS = 4u * 3600 * 1000;
// How long a sanitize is waited for when the drive gives no estimate.
constexpr unsigned NVME_SANITIZE_DEFAULT_WAIT_S = 24 * 3600;
// A sanitize still running when the wait is over.
constexpr int NVME_ERASE_TIMED_OUT = -2;

class CBlkDevNvme : public CBlkDev {
 public:
  // Takes ownership of `t`; the kernel's ioctls when null.
  explicit CBlkDevNvme(std::unique_ptr<CNvmeTransport> t = nullptr);
  ~CBlkDevNvme() override;

  int Init() override { return DoInit(true); }
  int Refresh() override { return DoInit(false); }
  int DoInit(bool verbose);
  bool SupportsHardwareWipe() override;
  int Trim_helper_trim_range(const CDevFile& file, unsigned long lba, unsigned int count) const override;

  // The drive's own erase chosen at initialisation; 0 when it reported success.
  int HardwareErase();

  std::unique_ptr<CNvmeTransport> transport;
  nvme_ctrl_info_t ctrl;
  nvme_ns_info_t ns;
  uint32_t nsid = 1;
  nvme_erase_plan_t erase;

  CBlkDevNvme(const CBlkDevNvme&) = delete;
  CBlkDevNvme& operator=(const CBlkDevNvme&) = delete;

 private:
  // Run the erase on an open node: 0, the drive's status, -1 when it could
  // not be sent, NVME_ERASE_TIMED_OUT.
  int Sanitize(int fd);
  int Format(int fd);
  void SetProgress(const char* label, double pct, int32_t seconds_left);
};
