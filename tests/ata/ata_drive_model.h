// A software ATA drive for the tests: it answers the register images that the
// SG_IO (ATA PASS-THROUGH) and HDIO_DRIVE_TASKFILE transports carry, keeps its
// state (size limits, HPA, DCO, security, SMART, power) across commands, and
// records every command so a test can run a whole sequence and then look at
// the drive. Installed as g_ioctl for the lifetime of an AtaDriveScope.
#pragma once
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "app/paths.h"

struct model_command_t {
  // How it arrived.
  enum transport_e { SAT16, SAT12, HDIO } transport = SAT16;
  unsigned char cdb[16] = {0};
  int cdb_len = 0;
  int dxfer_direction = 0;  // SG_IO header
  unsigned dxfer_len = 0;
  unsigned timeout_ms = 0;
  unsigned char mx_sb_len = 0;
  int interface_id = 0;
  int data_phase = 0;  // HDIO header
  int req_cmd = 0;
  unsigned long hdio_in_size = 0, hdio_out_size = 0;
  unsigned char io_ports[8] = {0};
  unsigned char hob_ports[8] = {0};
  // The ATA registers the drive saw.
  uint16_t feature = 0;
  uint16_t count = 0;
  uint64_t lba = 0;
  uint8_t device = 0;
  uint8_t command = 0;
  bool data_out = false;
  std::vector<unsigned char> data;  // data written by the host
  bool ok = false;                  // the drive completed it without error
};

class AtaDriveModel {
 public:
  AtaDriveModel();

  // ---- configuration ----
  std::string model = "ZV Test Drive 1000";
  std::string serial = "ZV0001";
  std::string firmware = "1.02";
  uint16_t major_bits = 0x01F0;  // word 80 (ATA/ATAPI-4..8)
  uint16_t minor = 0x0029;       // word 81
  uint16_t sata_caps = 0x0006;   // word 76
  uint16_t rotation = 7200;      // word 217
  uint16_t erase_normal = 30;    // word 89 (units of 2 minutes)
  uint16_t erase_enhanced = 60;  // word 90
  bool lba48 = true;
  bool smart_supported = true, smart_enabled = true;
  bool security_supported = true;
  bool hpa_supported = true, dco_supported = true;
  bool trim = false, sanitize = false;
  bool packet_only = false;       // aborts IDENTIFY DEVICE, answers IDENTIFY PACKET
  bool identify_fails = false;    // aborts both IDENTIFY forms
  bool bad_checksum = false;      // IDENTIFY word 255 checksum wrong
  std::map<int, uint16_t> word_overrides;  // applied last, before the checksum

  // Transports the drive can be reached through.
  enum sat_mode_e { SAT_ANSWER, SAT_IOCTL_FAILS, SAT_ZERO_SENSE } sat_mode = SAT_ANSWER;
  // The form of the ATA pass-through result: an ATA Status Return descriptor
  // (the kernel with D_SENSE set) or fixed format (the kernel's default), in
  // the SAT layout or 5 bytes further on, as Debian 12's kernel writes it.
  enum sense_form_e { SENSE_DESCRIPTOR, SENSE_FIXED, SENSE_FIXED_SHIFTED } sense_form = SENSE_DESCRIPTOR;
  bool hdio_answers = true;
  bool blkgetsize_fails = false;
  uint64_t kernel_size = 0;  // what BLKGETSIZE64 says; 0 = current size

  // ---- sizes: current (visible) max <= native max (HPA) <= DCO max <= factory ----
  uint64_t factory_max = 1000 * 1000 * 2 - 1;  // ~1 GB
  uint64_t dco_max = factory_max;
  uint64_t native_max = factory_max;
  uint64_t current_max = factory_max;
  bool hpa_persistent = false;     // VV of the last SET MAX
  int setmax_readback_offset = 0;  // drive reports a different limit than set
  std::vector<unsigned char> last_dco_set;  // block of the last DCO SET

  // ---- security ----
  bool sec_enabled = false, sec_locked = false, sec_frozen = false;
  unsigned char password[32] = {0};
  bool erased = false, erased_enhanced = false;
  int unlock_attempts = 0;

  // ---- SMART ----
  bool smart_threshold_exceeded = false;
  unsigned char smart_data[512];
  bool selftest_passes = true;
  int last_selftest = 0;  // LBA LOW of the last EXECUTE OFF-LINE

  // ---- power and TRIM ----
  bool standby = false;
  std::vector<std::pair<uint64_t, unsigned>> trimmed;  // (lba, sectors)

  // Force an ABRT on every command with this code (and SMART/DCO feature when
  // nonzero: key = command << 8 | feature).
  std::map<int, bool> fail;
  void Fail(int command, int feature = 0) { fail[command << 8 | feature] = true; }

  // ---- helpers ----
  void SetSmartAttribute(int slot, int id, uint64_t raw);
  void SetSmartPolling(int short_min, int conveyance_min);
  void SetPassword(unsigned char byte);  // lock with a foreign password
  void PowerCycle();                     // locks a drive with a password, ends frozen state
  uint64_t VisibleBytes() const { return (current_max + 1) * 512; }
  std::vector<unsigned char> IdentifyBlock(bool packet) const;  // drive byte order
  std::vector<unsigned char> DcoBlock() const;

  // Everything the drive was sent, in order.
  std::vector<model_command_t> log;
  std::vector<uint8_t> Commands() const;  // command codes only
  int CountCommand(uint8_t code) const;

  // ---- execution (used by the ioctl handler) ----
  struct result_t {
    bool ok = true;
    uint8_t status = 0x50, error = 0;
    uint16_t count = 0;
    uint64_t lba = 0;
    uint8_t device = 0;
  };
  result_t Execute(model_command_t& c, unsigned char* data_in, int in_len);

  int Ioctl(int fd, unsigned long request, void* arg);

 private:
  result_t Abort(bool idnf = false);
  bool PasswordMatches(const std::vector<unsigned char>& block) const;
  uint8_t prev_command = 0;
};

// Installs a drive as the answer to every ioctl; restores g_ioctl afterwards.
class AtaDriveScope {
 public:
  explicit AtaDriveScope(AtaDriveModel& m);
  ~AtaDriveScope();

 private:
  ioctl_fn_t saved;
};
