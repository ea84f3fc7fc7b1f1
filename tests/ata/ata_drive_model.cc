#include "ata_drive_model.h"

#include <errno.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <scsi/sg.h>
#include <string.h>

#include "ata/ata_blocks.h"

AtaDriveModel::AtaDriveModel() {
  memset(smart_data, 0, sizeof smart_data);
  smart_data[0] = 0x10;  // data structure revision
  ata_fix_checksum(smart_data);
}

void AtaDriveModel::SetSmartAttribute(int slot, int id, uint64_t raw) {
  unsigned char* e = smart_data + 2 + 12 * slot;
  memset(e, 0, 12);
  e[0] = (unsigned char)id;
  for (int i = 0; i < 6; ++i) e[5 + i] = (unsigned char)(raw >> (8 * i));
  ata_fix_checksum(smart_data);
}

void AtaDriveModel::SetPassword(unsigned char byte) {
  memset(password, byte, sizeof password);
  sec_enabled = true;
}

std::vector<uint8_t> AtaDriveModel::Commands() const {
  std::vector<uint8_t> v;
  for (auto& c : log) v.push_back(c.command);
  return v;
}

static void put_word(std::vector<unsigned char>& b, int word, uint16_t v) {
  b[(size_t)(2 * word)] = (unsigned char)v;
  b[(size_t)(2 * word + 1)] = (unsigned char)(v >> 8);
}

// ATA strings: two characters per word, the first in the high byte.
static void put_string(std::vector<unsigned char>& b, int word, int chars, const std::string& s) {
  for (int i = 0; i < chars; ++i) b[(size_t)(2 * word + (i ^ 1))] = i < (int)s.size() ? s[(size_t)i] : ' ';
}

std::vector<unsigned char> AtaDriveModel::IdentifyBlock(bool packet) const {
  std::vector<unsigned char> b(512, 0);
  uint64_t sectors = current_max + 1;
  uint32_t s28 = sectors > 0x0FFFFFFF ? 0x0FFFFFFF : (uint32_t)sectors;
  const std::pair<int, uint16_t> words[] = {
      {0, packet ? 0x8580 : 0x0040}, {1, 16383}, {3, 16}, {6, 63}, {49, 0x0300}, {60, (uint16_t)s28},
      {61, (uint16_t)(s28 >> 16)}, {76, sata_caps}, {80, major_bits}, {81, minor},
      {82, (uint16_t)(0x4000 | 1 | (security_supported ? 2 : 0) | 0x400)},
      {83, (uint16_t)(0x4000 | (lba48 ? 0x400 : 0) | 0x800)},
      {85, (uint16_t)((smart_enabled ? 1 : 0) | (sec_enabled ? 2 : 0) | 0x400)},
      {86, (uint16_t)((lba48 ? 0x400 : 0) | 0x800)}, {89, erase_normal},
      {90, erase_enhanced}, {169, trim ? 1 : 0}, {217, rotation}};
  for (auto& w : words) put_word(b, w.first, w.second);
  put_string(b, 10, 20, serial);
  put_string(b, 23, 8, firmware);
  put_string(b, 27, 40, model);
  for (int i = 0; i < 4; ++i) put_word(b, 100 + i, (uint16_t)(sectors >> (16 * i)));
  if (security_supported)
    put_word(b, 128, (uint16_t)(0x0021 | (sec_enabled ? 2 : 0) | (sec_locked ? 4 : 0) | (sec_frozen ? 8 : 0)));
  for (auto& o : word_overrides) put_word(b, o.first, o.second);
  b[510] = 0xA5;
  ata_fix_checksum(b.data());
  if (bad_checksum) ++b[511];
  return b;
}

std::vector<unsigned char> AtaDriveModel::DcoBlock() const {
  std::vector<unsigned char> b(512, 0);
  b[0] = 0x02, b[2] = 0x07;  // revision, multiword DMA modes
  dco_set_max_lba(b.data(), factory_max);
  return b;
}

AtaDriveModel::result_t AtaDriveModel::Execute(const model_command_t& c, unsigned char* in, size_t in_len) {
  result_t r, abort{false, 0x51, 0x04};  // DRDY, DSC, ERR; ABRT
  uint8_t prev = prev_command;
  prev_command = c.command;
  auto give = [&](const std::vector<unsigned char>& d) { memcpy(in, d.data(), d.size() < in_len ? d.size() : in_len); };
  auto matches = [&] { return c.data.size() >= 34 && memcmp(c.data.data() + 2, password, sizeof password) == 0; };
  if (fail.count(c.command << 8) || fail.count(c.command << 8 | (c.feature & 0xFF))) return abort;
  standby = c.command == 0xE0;  // any other command wakes the drive
  bool is28 = c.command == 0xF8 || c.command == 0xF9;
  switch (c.command) {
    case 0xEC: case 0xA1:
      if (identify_fails || packet_only != (c.command == 0xA1)) return abort;
      give(IdentifyBlock(packet_only));
      return r;
    case 0xF8: case 0x27: case 0xF9: case 0x37: {
      if (!is28 && !lba48) return abort;
      // The 28-bit READ NATIVE MAX stops at 0FFFFFFFh on a larger drive.
      uint64_t back = c.command == 0xF8 && native_max > 0x0FFFFFFF ? 0x0FFFFFFF : native_max;
      if (c.command == 0xF9 || c.command == 0x37) {
        uint64_t max = is28 ? (c.lba & 0xFFFFFF) | (uint64_t)(c.device & 0x0F) << 24 : c.lba;
        if (prev != (is28 ? 0xF8 : 0x27) || max > native_max) return abort;
        current_max = max;
        hpa_persistent = (c.count & 1) != 0;
        back = max + (uint64_t)(int64_t)setmax_readback_offset;
      }
      r.lba = is28 ? back & 0xFFFFFF : back;
      r.device = (uint8_t)(0x40 | (is28 ? (back >> 24) & 0x0F : 0));
      return r;
    }
    case 0xB1: {
      uint8_t sub = c.feature & 0xFF;
      if (sub != 0xC2 && current_max != native_max) return abort;  // not while an HPA is set
      if (sub == 0xC2) give(DcoBlock());
      if (sub == 0xC0) dco_max = native_max = current_max = factory_max;
      if (sub == 0xC3) {
        if (c.data.size() < 512 || ata_sector_sum(c.data.data()) != 0) return abort;
        uint64_t m = dco_get_max_lba(c.data.data());
        if (m > factory_max) return abort;
        last_dco_set = c.data;
        dco_max = native_max = current_max = m;
      }
      return sub == 0xC0 || sub == 0xC2 || sub == 0xC3 ? r : abort;
    }
    case 0xF1:  // SET PASSWORD
      if (!security_supported || sec_frozen || sec_locked || c.data.size() < 34) return abort;
      memcpy(password, c.data.data() + 2, sizeof password);
      sec_enabled = true;
      return r;
    case 0xF2:  // UNLOCK
      if (!security_supported || sec_frozen || !sec_enabled || !matches()) return abort;
      sec_locked = false;
      return r;
    case 0xF3:  // ERASE PREPARE
      return security_supported && !sec_frozen ? r : abort;
    case 0xF4: case 0xF6:  // ERASE UNIT, DISABLE PASSWORD
      if (!security_supported || sec_frozen || !sec_enabled || !matches()) return abort;
      if (c.command == 0xF4 ? prev != 0xF3 : sec_locked) return abort;
      erased = erased || c.command == 0xF4;
      erased_enhanced = erased_enhanced || (c.command == 0xF4 && (c.data[0] & 0x02));
      sec_enabled = sec_locked = false;
      memset(password, 0, sizeof password);
      return r;
    case 0xB0:  // SMART: RETURN STATUS, READ DATA
      if (((c.lba >> 8) & 0xFFFF) != 0xC24F) return abort;
      if ((c.feature & 0xFF) == 0xD0) give(std::vector<unsigned char>(smart_data, smart_data + 512));
      r.lba = (c.feature & 0xFF) == 0xDA && smart_threshold_exceeded ? 0x2CF400 : 0xC24F00;
      return (c.feature & 0xFF) == 0xD0 || (c.feature & 0xFF) == 0xDA ? r : abort;
    case 0xE0: return r;
    case 0x06:  // DATA SET MANAGEMENT, TRIM
      if (!trim || (c.feature & 1) == 0) return abort;
      for (size_t i = 0; i + 8 <= c.data.size(); i += 8) {
        uint64_t e = 0;
        for (int b = 7; b >= 0; --b) e = (e << 8) | c.data[i + (size_t)b];
        if (e >> 48) trimmed.push_back({e & 0xFFFFFFFFFFFFULL, (unsigned)(e >> 48)});
      }
      return r;
    default: return abort;
  }
}

int AtaDriveModel::Ioctl(int, unsigned long request, void* arg) {
  unsigned char in[4096] = {0};
  model_command_t c;
  if (request == BLKGETSIZE64) {
    if (kernel_size == 0) kernel_size = (current_max + 1) * 512;  // learnt once, when the drive appears
    *static_cast<uint64_t*>(arg) = kernel_size;
    return 0;
  }
  if (request == SG_IO) {
    sg_io_hdr_t* h = static_cast<sg_io_hdr_t*>(arg);
    memcpy(c.cdb, h->cmdp, h->cmd_len <= 16 ? h->cmd_len : 16);
    c.timeout_ms = h->timeout;
    const unsigned char* d = c.cdb;
    bool is16 = d[0] == 0x85;
    c.feature = is16 ? (uint16_t)(d[3] << 8 | d[4]) : d[3];
    c.count = is16 ? (uint16_t)(d[5] << 8 | d[6]) : d[4];
    c.lba = is16 ? (uint64_t)d[8] | (uint64_t)d[10] << 8 | (uint64_t)d[12] << 16 | (uint64_t)d[7] << 24 |
                       (uint64_t)d[9] << 32 | (uint64_t)d[11] << 40
                 : (uint64_t)d[5] | (uint64_t)d[6] << 8 | (uint64_t)d[7] << 16;
    c.device = d[is16 ? 13 : 8], c.command = d[is16 ? 14 : 9];
    if (h->dxfer_direction == SG_DXFER_TO_DEV && h->dxferp)
      c.data.assign((unsigned char*)h->dxferp, (unsigned char*)h->dxferp + h->dxfer_len);
    log.push_back(c);
    result_t r = Execute(c, in, sizeof in);
    if (r.ok && h->dxfer_direction == SG_DXFER_FROM_DEV && h->dxferp)
      memcpy(h->dxferp, in, h->dxfer_len <= sizeof in ? h->dxfer_len : sizeof in);
    unsigned char* s = h->sbp;
    if (s && fixed_sense && h->mx_sb_len >= 22) {
      // As libata builds it: the registers in the information and
      // command-specific fields, flags for the upper bytes it cannot hold.
      memset(s, 0, h->mx_sb_len);
      s[0] = 0x70;                // current error, fixed format
      s[2] = r.ok ? 0x01 : 0x0B;  // RECOVERED ERROR or ABORTED COMMAND
      s[7] = 10, s[13] = r.ok ? 0x1D : 0x00;  // ATA pass-through information available
      s[8] = r.error, s[9] = r.status, s[10] = r.device, s[11] = (unsigned char)r.count;
      if (c.cdb[1] & 1)  // EXTEND
        s[16] = (unsigned char)(0x80 | (r.count >> 8 ? 0x40 : 0) | (r.lba >> 24 ? 0x20 : 0));
      for (int i = 0; i < 3; ++i) s[17 + i] = (unsigned char)(r.lba >> (8 * i));
      h->sb_len_wr = 20;
    } else if (s && h->mx_sb_len >= 22) {  // descriptor format, the ATA Status Return descriptor
      const unsigned char head[] = {0x72, (unsigned char)(r.ok ? 0x01 : 0x0B), 0, (unsigned char)(r.ok ? 0x1D : 0),
                                    0, 0, 0, 14, 0x09, 0x0C, 0x01 /* EXTEND */, r.error,
                                    (unsigned char)(r.count >> 8), (unsigned char)r.count};
      memset(s, 0, h->mx_sb_len);
      memcpy(s, head, sizeof head);
      for (int i = 0; i < 3; ++i) {  // LBA high and low byte of each register pair
        s[14 + 2 * i] = (unsigned char)(r.lba >> (24 + 8 * i));
        s[15 + 2 * i] = (unsigned char)(r.lba >> (8 * i));
      }
      s[20] = r.device, s[21] = r.status;
      h->sb_len_wr = 22;
    }
    h->status = 0x02;  // CHECK CONDITION, as CK_COND asks
    h->host_status = (unsigned short)host_status;
    return 0;
  }
  if (request == HDIO_DRIVE_TASKFILE) {
    unsigned char* block = static_cast<unsigned char*>(arg);
    ide_task_request_t* t = reinterpret_cast<ide_task_request_t*>(block);
    unsigned char *io = t->io_ports, *hob = t->hob_ports;
    c.hdio = true;
    memcpy(c.io_ports, io, 8), memcpy(c.hob_ports, hob, 8);
    c.data_phase = t->data_phase;
    c.feature = (uint16_t)(hob[1] << 8 | io[1]);
    c.count = (uint16_t)(hob[2] << 8 | io[2]);
    c.lba = 0;
    for (int i = 2; i >= 0; --i) c.lba = c.lba << 8 | hob[3 + i];
    for (int i = 2; i >= 0; --i) c.lba = c.lba << 8 | io[3 + i];
    c.device = io[6], c.command = io[7];
    if (t->data_phase == TASKFILE_OUT) c.data.assign(block + 48, block + 48 + (t->out_size <= 4096 ? t->out_size : 4096));
    log.push_back(c);
    result_t r = Execute(c, in, sizeof in);
    io[7] = r.status, io[1] = r.error;
    if (!r.ok) return errno = EIO, -1;
    for (int i = 0; i < 3; ++i) {
      io[3 + i] = (unsigned char)(r.lba >> (8 * i));
      hob[3 + i] = (unsigned char)(r.lba >> (24 + 8 * i));
    }
    io[6] = r.device;
    if (t->req_cmd == IDE_DRIVE_TASK_IN) memcpy(block + 48, in, t->in_size <= 4096 ? t->in_size : 4096);
    return 0;
  }
  return errno = ENOTTY, -1;
}
