// A software NVMe drive for the tests: it answers the admin and I/O commands
// the pass-through ioctls carry, reading each command's fields the way a
// controller does, fills in its data pages, and keeps what the commands did
// (erases, deallocated ranges) for the test to look at.
#pragma once
#include <stdint.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "nvme/nvme_transport.h"

class NvmeDriveModel {
 public:
  // ---- Identify ----
  std::string model = "ZV NVMe 512", serial = "ZVN0001", firmware = "3.1";
  uint16_t oacs = 0x0002, oncs = 0x0004;  // Format NVM; Dataset Management
  uint8_t fna = 0;
  uint32_t sanicap = 0;
  uint32_t nsid = 1;
  uint64_t blocks = 262144;  // 1 GiB of 4096-byte blocks
  uint8_t lba_shift = 12, flbas = 1;  // format 1 in use; format 0 is 512 bytes
  // ---- health ----
  uint8_t critical_warning = 0, percent_used = 3;
  uint16_t kelvin = 310;
  uint64_t media_errors = 0;
  // ---- sanitize: log reads that show it running, then how it ends ----
  int sanitize_polls = 2, sanitize_end = 1;  // SSTAT status after the run
  uint32_t sanitize_estimate = 0xFFFFFFFF;
  // ---- what the drive was asked to do ----
  struct erase_t {
    int opcode = 0, action = 0;  // Sanitize SANACT / Format SES
    uint32_t nsid = 0;
    int lba_format = -1;
    uint32_t timeout_ms = 0;
  } erased;
  std::vector<std::pair<uint64_t, uint32_t>> deallocated;  // (slba, blocks)
  std::vector<int> percent_seen;  // SPROG of every sanitize log page read
  // An opcode answered with this status instead of being done.
  std::map<int, int> refuse;

  int Admin(nvme_admin_cmd& c);
  int Io(nvme_passthru_cmd& c);

  // A transport onto this drive, for the device to own.
  CNvmeTransport* Port();

 private:
  int sanitize_left = 0;
  int sanitize_state = 0;
};
