// A software ATA drive for the tests: it answers the register images that the
// SG_IO (ATA PASS-THROUGH) and HDIO_DRIVE_TASKFILE transports carry, keeps its
// state (size limits, HPA, DCO, security, SMART, power) across commands, and
// records every command so a test can run a whole sequence and then look at
// the drive.
#pragma once
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "app/paths.h"

// A command as it arrived (SG_IO CDB or IDE taskfile ports), the ATA registers
// the drive saw, and the data the host sent.
struct model_command_t {
  bool hdio = false;  // arrived over the IDE taskfile, else SG_IO
  unsigned char cdb[16] = {0}, io_ports[8] = {0}, hob_ports[8] = {0};
  unsigned timeout_ms = 0;
  int data_phase = 0;
  uint16_t feature = 0, count = 0;
  uint64_t lba = 0;
  uint8_t device = 0, command = 0;
  std::vector<unsigned char> data;
};

class AtaDriveModel {
 public:
  AtaDriveModel();

  std::string model = "ZV Test Drive 1000", serial = "ZV0001", firmware = "1.02";
  uint16_t major_bits = 0x01F0, minor = 0x0029, sata_caps = 0x0006, rotation = 7200;  // words 80, 81, 76, 217
  uint16_t erase_normal = 30, erase_enhanced = 60;  // words 89, 90 (units of 2 minutes)
  bool lba48 = true, smart_enabled = true, security_supported = true, trim = false;
  bool packet_only = false;  // aborts IDENTIFY DEVICE, answers IDENTIFY PACKET
  bool identify_fails = false, bad_checksum = false;
  std::map<int, uint16_t> word_overrides;  // applied last, before the checksum

  uint64_t kernel_size = 0;  // what BLKGETSIZE64 says; 0 = the size when first asked
  // The ATA pass-through result in fixed format, as Debian 12's kernel writes
  // it, else in descriptor format (D_SENSE).
  bool fixed_sense = false;
  int host_status = 0;  // of every SG_IO: nonzero when the host adapter loses the commands

  // ---- sizes: current (visible) max <= native max (HPA) <= DCO max <= factory ----
  uint64_t factory_max = 1000 * 1000 * 2 - 1;  // ~1 GB
  uint64_t dco_max = factory_max, native_max = factory_max, current_max = factory_max;
  bool hpa_persistent = false;              // VV of the last SET MAX
  int setmax_readback_offset = 0;           // drive reports a different limit than set
  std::vector<unsigned char> last_dco_set;  // block of the last DCO SET

  // ---- security, SMART, power, TRIM ----
  bool sec_enabled = false, sec_locked = false, sec_frozen = false;
  unsigned char password[32] = {0};
  bool erased = false, erased_enhanced = false, smart_threshold_exceeded = false, standby = false;
  unsigned char smart_data[512];
  std::vector<std::pair<uint64_t, unsigned>> trimmed;  // (lba, sectors)

  std::map<int, bool> fail;  // aborts every command with this code (and SMART/DCO feature when nonzero)
  void Fail(int command, int feature = 0) { fail[command << 8 | feature] = true; }

  void SetSmartAttribute(int slot, int id, uint64_t raw);
  void SetPassword(unsigned char byte);  // enables security with this password
  std::vector<unsigned char> IdentifyBlock(bool packet) const;  // drive byte order
  std::vector<unsigned char> DcoBlock() const;

  std::vector<model_command_t> log;  // everything the drive was sent, in order
  std::vector<uint8_t> Commands() const;

  int Ioctl(int fd, unsigned long request, void* arg);

 private:
  struct result_t {
    bool ok = true;
    uint8_t status = 0x50, error = 0, device = 0;
    uint16_t count = 0;
    uint64_t lba = 0;
  };
  result_t Execute(const model_command_t& c, unsigned char* data_in, size_t in_len);
  uint8_t prev_command = 0;
};
