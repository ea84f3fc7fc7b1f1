#include "ata/ata_transport.h"

#include <errno.h>
#include <limits.h>
#include <linux/hdreg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/log.h"
#include "app/paths.h"
#include "ata/ata_info.h"
#include "device/scsi.h"

static_assert(sizeof(ide_task_request_t) == IDE_TASK_HEADER_SIZE, "taskfile header layout");

int CAtaCmdTransport::Identify(int fd, unsigned char* buf, int packet) {
  ata_data cmd(packet ? ATA_CMD_IDENTIFY_PACKET : ATA_CMD_IDENTIFY);
  cmd.feature = 0;
  cmd.count = 1;
  cmd.direction = ata_data::DIR_IN;
  cmd.in_size = 512;
  cmd.buffer = buf;
  cmd.short_cdb = 0;
  int rc = RunAtaCommand(fd, &cmd, 0);
  if (rc != 0) return rc;
  return FixIdentityStrings(buf);
}

static void log_status_line(unsigned status, unsigned error, unsigned scnt, unsigned l0, unsigned l1, unsigned l2) {
  char line[160];
  snprintf(line, sizeof line,
           "ATA status: ERR=%d ABRT=%d IDNF=%d BSY=%d DRDY=%d SCNT=%02X LBA0=%02X LBA1=%02X LBA2=%02X", status & 1,
           (error >> 2) & 1, (error >> 4) & 1, (status >> 7) & 1, (status >> 6) & 1, scnt, l0, l1, l2);
  LOG_ERROR(g_ll_log, line);
}

// ---- IDE taskfile ----

static const size_t IDE_BLOCK_SIZE = IDE_TASK_HEADER_SIZE + ATA_MAX_TRANSFER;

CIdeTaskfile::CIdeTaskfile() {
  block = static_cast<unsigned char*>(calloc(1, IDE_BLOCK_SIZE));
  header = reinterpret_cast<ide_task_request_t*>(block);
  io_ports = header ? header->io_ports : nullptr;
  hob_ports = header ? header->hob_ports : nullptr;
  data_area = block ? block + IDE_TASK_HEADER_SIZE : nullptr;
}

CIdeTaskfile::~CIdeTaskfile() { free(block); }

int CIdeTaskfile::RunAtaCommand(int fd, ata_data* cmd, int /*timeout*/) {
  if (!cmd || !block) return -1;
  if (cmd->in_size < 0 || cmd->in_size > ATA_MAX_TRANSFER || cmd->out_size < 0 || cmd->out_size > ATA_MAX_TRANSFER)
    return -1;
  memset(block, 0, IDE_BLOCK_SIZE);
  io_ports[0] = (uint8_t)cmd->data;
  io_ports[1] = (uint8_t)cmd->feature;
  io_ports[2] = (uint8_t)cmd->count;
  io_ports[3] = cmd->lba[0];
  io_ports[4] = cmd->lba[1];
  io_ports[5] = cmd->lba[2];
  io_ports[6] = (uint8_t)cmd->head;
  io_ports[7] = (uint8_t)cmd->command;
  hob_ports[0] = (uint8_t)(cmd->data >> 8);
  hob_ports[1] = (uint8_t)(cmd->feature >> 8);
  hob_ports[2] = (uint8_t)(cmd->count >> 8);
  hob_ports[3] = cmd->lba[3];
  hob_ports[4] = cmd->lba[4];
  hob_ports[5] = cmd->lba[5];
  hob_ports[6] = (uint8_t)(cmd->head >> 8);
  hob_ports[7] = (uint8_t)(cmd->command >> 8);
  header->in_size = (unsigned long)cmd->in_size;
  header->out_size = (unsigned long)cmd->out_size;
  switch (cmd->direction) {
    case ata_data::DIR_IN:
      header->data_phase = TASKFILE_IN;
      header->req_cmd = IDE_DRIVE_TASK_IN;
      break;
    case ata_data::DIR_OUT:
      if (cmd->out_size > 0) {
        if (!cmd->buffer) return -1;
        memcpy(data_area, cmd->buffer, (size_t)cmd->out_size);
      }
      header->data_phase = TASKFILE_OUT;
      header->req_cmd = IDE_DRIVE_TASK_OUT;
      break;
    case ata_data::DIR_NONE:
      header->data_phase = TASKFILE_IN;
      header->req_cmd = IDE_DRIVE_TASK_NO_DATA;
      break;
    default: return -1;
  }
  int rc = sys_ioctl(fd, HDIO_DRIVE_TASKFILE, block);
  if (rc != 0) {
    int err = errno;
    char line[160];
    snprintf(line, sizeof line, "ATA-HDIO command (%02X/%02X) failed. %s.", cmd->command & 0xFF, cmd->feature & 0xFF,
             strerror(err));
    LOG_ERROR(g_ll_log, line);
    log_status_line(io_ports[7], io_ports[1], io_ports[2], io_ports[3], io_ports[4], io_ports[5]);
    return rc;
  }
  cmd->data = (uint16_t)(hob_ports[0] << 8 | io_ports[0]);
  cmd->feature = (uint16_t)(hob_ports[1] << 8 | io_ports[1]);
  cmd->count = (uint16_t)(hob_ports[2] << 8 | io_ports[2]);
  cmd->head = (uint16_t)(hob_ports[6] << 8 | io_ports[6]);
  cmd->command = (uint16_t)(hob_ports[7] << 8 | io_ports[7]);
  cmd->lba[0] = io_ports[3];
  cmd->lba[1] = io_ports[4];
  cmd->lba[2] = io_ports[5];
  cmd->lba[3] = hob_ports[3];
  cmd->lba[4] = hob_ports[4];
  cmd->lba[5] = hob_ports[5];
  if (cmd->direction == ata_data::DIR_IN && cmd->buffer && cmd->in_size > 0)
    memcpy(cmd->buffer, data_area, (size_t)cmd->in_size);
  return 0;
}

// ---- SCSI/ATA translation ----

CSgSatl::CSgSatl() {
  void* p = nullptr;
  if (posix_memalign(&p, 4096, ATA_MAX_TRANSFER) != 0) p = nullptr;
  data_buf = static_cast<unsigned char*>(p);
  if (data_buf) memset(data_buf, 0, ATA_MAX_TRANSFER);
}

CSgSatl::~CSgSatl() { free(data_buf); }

int CSgSatl::RunAtaCommand(int fd, ata_data* cmd, int timeout) {
  if (!cmd) return -1;
  return cmd->short_cdb ? RunAta12Command(fd, cmd, timeout) : RunAta16Command(fd, cmd, timeout);
}

int CSgSatl::RunAta16Command(int fd, ata_data* cmd, int timeout) { return RunSat(fd, cmd, timeout, false); }

int CSgSatl::RunAta12Command(int fd, ata_data* cmd, int timeout) { return RunSat(fd, cmd, timeout, true); }

unsigned sat_timeout_ms(int seconds) {
  if (seconds <= 0) return 5000u;
  uint64_t ms = (uint64_t)seconds * 1000u;
  return ms > UINT_MAX ? UINT_MAX : (unsigned)ms;
}

sat_result_t sat_decode_sense(const unsigned char* s) {
  sat_result_t r;
  memset(&r, 0, sizeof r);
  int code = s[0] & 0x7F;
  bool valid;
  if (code == 0x70 || code == 0x71) {
    // ERROR, STATUS, DEVICE, COUNT(7:0) in the information field, the flags
    // and LBA(23:0) in the command-specific field. The Linux of Debian 12
    // (6.1) writes the same fields 5 bytes further on, leaving VALID and the
    // information field zero; a STATUS of 0 is no ATA result, so an empty
    // information field means that layout.
    bool shifted = !(s[0] & 0x80) && !s[3] && !s[4] && !s[5] && !s[6];
    const unsigned char* regs = s + (shifted ? 8 : 3);
    const unsigned char* csi = s + (shifted ? 16 : 8);
    r.error = regs[0];
    r.status = regs[1];
    r.device = regs[2];
    r.count = regs[3];
    r.count_upper_unknown = (csi[0] & 0x40) != 0;
    r.lba_upper_unknown = (csi[0] & 0x20) != 0;
    memcpy(r.lba, csi + 1, 3);
    // Completed: RECOVERED ERROR with "ATA pass-through information
    // available", or ABORTED COMMAND with no more said (libata's answer when
    // STATUS shows DRQ, as some drives leave it after a PIO read) from a drive
    // that is ready, not busy and without a device fault. Other sense keys
    // carry the registers of a failed command: ERR and ABRT decide below.
    int key = s[2] & 0x0F, asc = s[12], ascq = s[13];
    bool ready = (r.status & 0xE0) == 0x40;
    valid =
        s[7] >= 10 && ((key == 0x01 && asc == 0x00 && ascq == 0x1D) || (key == 0x0B && asc == 0 && ascq == 0 && ready));
  } else {
    valid = s[0] == 0x72 && s[7] == 14 && s[8] == 0x09 && s[9] == 0x0C;
    r.error = s[11];
    r.status = s[21];
    r.device = s[20];
    r.count = (uint16_t)(s[12] << 8 | s[13]);
    for (int i = 0; i < 3; ++i) {
      r.lba[i] = s[15 + 2 * i];
      r.lba[3 + i] = s[14 + 2 * i];
    }
  }
  r.rc = valid ? 0 : EPROTO;
  if (r.error & 0x04) r.rc = ECANCELED;
  if (r.status & 0x01) r.rc = EIO;
  return r;
}

int CSgSatl::RunSat(int fd, ata_data* cmd, int timeout, bool cdb12) {
  if (!cmd || !data_buf) return -1;
  ata_data before = *cmd;
  bool unknown = false;
  int rc = Exchange(fd, cmd, timeout, cdb12, &unknown);
  if (rc != 0 || !unknown) return rc;
  // Fixed-format sense could not carry LBA(47:24). Only the maximum address
  // commands return an address the program reads: get their upper bytes
  // another way, or report the address unavailable, never truncated.
  switch (cmd->command & 0xFF) {
    case ATA_CMD_READ_NATIVE_MAX_EXT: rc = NativeMaxUpper(fd, cmd); break;
    case ATA_CMD_SET_MAX_EXT: rc = SetMaxUpper(fd, cmd); break;
    default: return 0;  // not returned, like FEATURE and COMMAND
  }
  if (rc != 0) {
    char line[160];
    snprintf(line, sizeof line, "%s command (%02X/%02X) address above 24 bits not in fixed-format sense: unavailable.",
             cdb12 ? "ATA12-SAT" : "ATA16-SAT", before.command & 0xFF, before.feature & 0xFF);
    LOG_ERROR(g_ll_log, line);
    *cmd = before;
  }
  return rc;
}

// READ NATIVE MAX ADDRESS returns all 28 bits of its answer in fixed format;
// a drive whose native maximum does not fit answers 0FFFFFFFh, and then the
// address stays unknown. READ NATIVE MAX ADDRESS EXT goes out once more after
// it, because SET MAX ADDRESS EXT must follow that command directly.
int CSgSatl::NativeMaxUpper(int fd, ata_data* cmd) {
  uint32_t low = (uint32_t)(cmd->lba[2] << 16 | cmd->lba[1] << 8 | cmd->lba[0]);
  ata_data n28(ATA_CMD_READ_NATIVE_MAX);
  n28.head = 0x40;
  bool unknown = false;
  int rc = Exchange(fd, &n28, 0, false, &unknown);
  uint32_t native = n28.lba28();
  bool fits = rc == 0 && native < 0x0FFFFFFF && native >> 24 && (native & 0xFFFFFF) == low;
  ata_data again(ATA_CMD_READ_NATIVE_MAX_EXT);
  again.head = 0x40;
  rc = Exchange(fd, &again, 0, false, &unknown);
  if (rc != 0) return rc;
  if (!fits || memcmp(again.lba, cmd->lba, 3) != 0) return SAT_VALUE_UNAVAILABLE;
  cmd->lba[3] = (uint8_t)(native >> 24);
  cmd->lba[4] = cmd->lba[5] = 0;
  return 0;
}

// SET MAX ADDRESS EXT returns the address it set; the drive reports the same
// limit in IDENTIFY words 100-103 (maximum address + 1, all 48 bits in data).
int CSgSatl::SetMaxUpper(int fd, ata_data* cmd) {
  unsigned char id[512];
  ata_data ident(ATA_CMD_IDENTIFY);
  ident.count = 1;
  ident.direction = ata_data::DIR_IN;
  ident.in_size = sizeof id;
  ident.buffer = id;
  bool unknown = false;
  int rc = Exchange(fd, &ident, 0, false, &unknown);
  if (rc != 0) return rc;
  uint64_t sectors = 0;
  for (int w = 103; w >= 100; --w) sectors = sectors << 16 | (uint64_t)(id[2 * w] | id[2 * w + 1] << 8);
  uint64_t max = sectors - 1;
  uint32_t low = (uint32_t)(cmd->lba[2] << 16 | cmd->lba[1] << 8 | cmd->lba[0]);
  if (sectors == 0 || max >> 48 || !(max >> 24) || (max & 0xFFFFFF) != low) return SAT_VALUE_UNAVAILABLE;
  cmd->set_lba48(max);
  return 0;
}

int CSgSatl::Exchange(int fd, ata_data* cmd, int timeout, bool cdb12, bool* lba_upper_unknown) {
  // PROTOCOL << 1 | EXTEND, and the T_DIR/BYT_BLOK/T_LENGTH byte, by direction.
  static const unsigned char proto[4] = {0x07, 0x09, 0x0B, 0x0D};
  static const unsigned char flags[4] = {0x20, 0x2E, 0x26, 0x26};
  int dir = cmd->direction;
  if (dir < 0 || dir > 3 || (cdb12 && dir == ata_data::DIR_OUT_DMA)) return -1;
  if (cmd->in_size < 0 || cmd->in_size > ATA_MAX_TRANSFER || cmd->out_size < 0 || cmd->out_size > ATA_MAX_TRANSFER)
    return -1;

  unsigned char cdb[16];
  unsigned char sense[SCSI_SENSE_LEN];
  memset(data_buf, 0, ATA_MAX_TRANSFER);
  memset(cdb, 0, sizeof cdb);
  sg_io_request_t req{cdb,          (unsigned char)(cdb12 ? 12 : 16), SG_DXFER_NONE, nullptr, 0, sense,
                      sizeof sense, sat_timeout_ms(timeout)};
  if (cdb12) {
    cdb[0] = 0xA1;
    cdb[3] = (uint8_t)cmd->feature;
    cdb[4] = (uint8_t)cmd->count;
    cdb[5] = cmd->lba[0];
    cdb[6] = cmd->lba[1];
    cdb[7] = cmd->lba[2];
    cdb[8] = (uint8_t)cmd->head;
    cdb[9] = (uint8_t)cmd->command;
  } else {
    cdb[0] = 0x85;
    cdb[3] = (uint8_t)(cmd->feature >> 8);
    cdb[4] = (uint8_t)cmd->feature;
    cdb[5] = (uint8_t)(cmd->count >> 8);
    cdb[6] = (uint8_t)cmd->count;
    cdb[7] = cmd->lba[3];
    cdb[8] = cmd->lba[0];
    cdb[9] = cmd->lba[4];
    cdb[10] = cmd->lba[1];
    cdb[11] = cmd->lba[5];
    cdb[12] = cmd->lba[2];
    cdb[13] = (uint8_t)cmd->head;
    cdb[14] = (uint8_t)cmd->command;
  }
  cdb[1] = proto[dir];
  cdb[2] = flags[dir];
  switch (dir) {
    case ata_data::DIR_NONE: break;
    case ata_data::DIR_IN:
      req.direction = SG_DXFER_FROM_DEV;
      req.data = data_buf;
      req.data_len = (unsigned)cmd->in_size;
      break;
    default:
      if (cmd->out_size > 0) {
        if (!cmd->buffer) return -1;
        memcpy(data_buf, cmd->buffer, (size_t)cmd->out_size);
      }
      req.direction = SG_DXFER_TO_DEV;
      req.data = data_buf;
      req.data_len = (unsigned)cmd->out_size;
      break;
  }

  const char* form = cdb12 ? "ATA12-SAT" : "ATA16-SAT";
  char line[256];
  sg_io_result_t io = sg_io(fd, req);
  if (io.rc != 0) {
    snprintf(line, sizeof line, "%s command (%02X/%02X) failed. %s.", form, cmd->command & 0xFF, cmd->feature & 0xFF,
             strerror(io.error));
    LOG_ERROR(g_ll_log, line);
    sat_result_t r = sat_decode_sense(sense);
    log_status_line(r.status, r.error, r.count & 0xFF, r.lba[0], r.lba[1], r.lba[2]);
    return io.rc;
  }
  if (io.transport_failed()) {
    // The host adapter or the driver lost the command: whatever the sense
    // buffer holds did not come from the drive.
    snprintf(line, sizeof line, "%s command (%02X/%02X) failed. Host status is 0x%02X, driver status is 0x%02X.", form,
             cmd->command & 0xFF, cmd->feature & 0xFF, io.host_status & 0xFF, io.driver_status & 0xFF);
    LOG_ERROR(g_ll_log, line);
    return -1;
  }
  sat_result_t r = sat_decode_sense(sense);
  int rc = r.rc;
  if (rc != 0) {
    int n = snprintf(line, sizeof line, "%s command (%02X/%02X) bad sense: ", form, cmd->command & 0xFF,
                     cmd->feature & 0xFF);
    for (int i = 0; i < 22 && n > 0 && n < (int)sizeof line; ++i)
      n += snprintf(line + n, sizeof line - (size_t)n, " %02X", sense[i]);
    LOG_ERROR(g_ll_log, line);
    log_status_line(r.status, r.error, r.count & 0xFF, r.lba[0], r.lba[1], r.lba[2]);
    return rc;
  }
  cmd->count = r.count_upper_unknown ? (uint16_t)((cmd->count & 0xFF00) | r.count) : r.count;
  cmd->head = r.device;
  memcpy(cmd->lba, r.lba, r.lba_upper_unknown ? 3 : 6);
  *lba_upper_unknown = r.lba_upper_unknown;
  if (dir == ata_data::DIR_IN && cmd->buffer && cmd->in_size > 0) memcpy(cmd->buffer, data_buf, (size_t)cmd->in_size);
  return 0;
}

// ---- probing ----

static int probe_with(CAtaCmdTransport& t, int fd) {
  ata_data cmd(ATA_CMD_IDENTIFY);
  cmd.feature = 0;
  cmd.count = 1;
  cmd.direction = ata_data::DIR_IN;
  cmd.in_size = 512;
  cmd.buffer = nullptr;  // only whether the drive answers matters
  return t.RunAtaCommand(fd, &cmd, 0);
}

int ata_probe_satl(int fd) {
  CSgSatl t;
  return probe_with(t, fd);
}

int ata_probe_ide(int fd) {
  CIdeTaskfile t;
  return probe_with(t, fd);
}

ata_probe_result_e ata_probe_transport(int fd) {
  if (ata_probe_satl(fd) == 0) return ATA_PROBE_SAT;
  if (ata_probe_ide(fd) == 0) return ATA_PROBE_IDE;
  return ATA_PROBE_NONE;
}
