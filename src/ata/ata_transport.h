// The two ways an ATA command reaches a drive through the kernel: the legacy
// IDE taskfile ioctl and SCSI ATA PASS-THROUGH over SG_IO. Every ioctl goes
// through sys_ioctl() so tests can answer it with a software drive.
#pragma once
#include <errno.h>
#include <stdint.h>

#include "ata/ata_data.h"

// Largest data transfer of one command (eight 512-byte sectors).
constexpr int ATA_MAX_TRANSFER = 4096;

class CAtaCmdTransport {
 public:
  virtual ~CAtaCmdTransport() {}
  // IDENTIFY DEVICE (packet 0) or IDENTIFY PACKET DEVICE into buf (512 bytes),
  // with the text fields put into reading order.
  virtual int Identify(int fd, unsigned char* buf, int packet);
  // Runs one command; timeout in seconds (0 = transport default).
  virtual int RunAtaCommand(int fd, ata_data* cmd, int timeout) = 0;
};

// Size of the kernel's taskfile request header in front of the data area.
constexpr int IDE_TASK_HEADER_SIZE = 48;

class CIdeTaskfile : public CAtaCmdTransport {
 public:
  CIdeTaskfile();
  ~CIdeTaskfile() override;
  int RunAtaCommand(int fd, ata_data* cmd, int timeout) override;

  CIdeTaskfile(const CIdeTaskfile&) = delete;
  CIdeTaskfile& operator=(const CIdeTaskfile&) = delete;

 private:
  unsigned char* block;  // header followed by the 4096-byte data area
  struct ide_task_request_s* header;
  unsigned char* io_ports;
  unsigned char* hob_ports;
  unsigned char* data_area;
};

class CSgSatl : public CAtaCmdTransport {
 public:
  CSgSatl();
  ~CSgSatl() override;
  int RunAtaCommand(int fd, ata_data* cmd, int timeout) override;
  int RunAta16Command(int fd, ata_data* cmd, int timeout);
  int RunAta12Command(int fd, ata_data* cmd, int timeout);

  CSgSatl(const CSgSatl&) = delete;
  CSgSatl& operator=(const CSgSatl&) = delete;

 private:
  int RunSat(int fd, ata_data* cmd, int timeout, bool cdb12);
  int Exchange(int fd, ata_data* cmd, int timeout, bool cdb12, bool* lba_upper_unknown);
  int NativeMaxUpper(int fd, ata_data* cmd);
  int SetMaxUpper(int fd, ata_data* cmd);
  unsigned char* data_buf;  // page aligned, ATA_MAX_TRANSFER bytes
};

// The SG_IO timeout in milliseconds for a timeout in seconds: 5000 for 0 (or
// less), else the time clamped to the largest value SG_IO carries.
unsigned sat_timeout_ms(int seconds);

// The ATA registers of an ATA PASS-THROUGH result, read from its sense data in
// either form: descriptor format (72h, with the ATA Status Return descriptor)
// or fixed format (70h/71h; ERROR, STATUS, DEVICE, COUNT(7:0) in the
// information field, LBA(23:0) and the upper-byte flags in the
// command-specific field, or where older kernels put them). Fixed format
// carries no COUNT(15:8) or LBA(47:24): they are 0 here, and flagged unknown
// where the sense says they are not.
struct sat_result_t {
  // 0 when the sense is an ATA Status Return descriptor, or fixed format of a
  // completed command (RECOVERED ERROR, "ATA pass-through information
  // available"; or ABORTED COMMAND with nothing more said and a ready drive);
  // else 71 (EPROTO); then 125 (ECANCELED) when ERROR has ABRT, then 5 (EIO)
  // when STATUS has ERR: the later rule wins.
  int rc;
  bool count_upper_unknown, lba_upper_unknown;
  uint8_t error, status, device;
  uint16_t count;
  uint8_t lba[6];  // byte i holds LBA bits 8i..8i+7
};
sat_result_t sat_decode_sense(const unsigned char* sense);

// A 48-bit value that fixed-format sense could not carry and no other command
// form could read: the transport's result EOVERFLOW.
constexpr int SAT_VALUE_UNAVAILABLE = EOVERFLOW;

// Which transport answered IDENTIFY DEVICE on an open device node.
enum ata_probe_result_e {
  ATA_PROBE_NONE = -1,  // neither transport answered
  ATA_PROBE_SAT = 0,    // SCSI/ATA translation (same value as TRANSPORT_SAT)
  ATA_PROBE_IDE = 1,    // IDE taskfile (same value as TRANSPORT_IDE)
};

// IDENTIFY DEVICE through a fresh CSgSatl / CIdeTaskfile with no data kept;
// each returns the transport's result (0 = the drive answered).
int ata_probe_satl(int fd);
int ata_probe_ide(int fd);
// SCSI/ATA translation first, then the IDE taskfile.
ata_probe_result_e ata_probe_transport(int fd);
