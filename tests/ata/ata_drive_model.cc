#include "ata_drive_model.h"

#include <errno.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <scsi/sg.h>
#include <string.h>

#include "ata/ata_blocks.h"

static AtaDriveModel* g_active_model = nullptr;

static int model_ioctl(int fd, unsigned long request, void* arg) {
  if (!g_active_model) {
    errno = ENOTTY;
    return -1;
  }
  return g_active_model->Ioctl(fd, request, arg);
}

AtaDriveScope::AtaDriveScope(AtaDriveModel& m) : saved(g_ioctl) {
  g_active_model = &m;
  g_ioctl = model_ioctl;
}

AtaDriveScope::~AtaDriveScope() {
  g_ioctl = saved;
  g_active_model = nullptr;
}

AtaDriveModel::AtaDriveModel() {
  memset(smart_data, 0, sizeof smart_data);
  smart_data[0] = 0x10;  // data structure revision
  ata_fix_checksum(smart_data);
}

void AtaDriveModel::SetSmartAttribute(int slot, int id, uint64_t raw) {
  unsigned char* e = smart_data + 2 + 12 * slot;
  memset(e, 0, 12);
  e[0] = (unsigned char)id;
  e[1] = 0x33;
  e[3] = 100;
  e[4] = 100;
  for (int i = 0; i < 6; ++i) e[5 + i] = (unsigned char)(raw >> (8 * i));
  ata_fix_checksum(smart_data);
}

void AtaDriveModel::SetSmartPolling(int short_min, int conveyance_min) {
  smart_data[372] = (unsigned char)short_min;
  smart_data[374] = (unsigned char)conveyance_min;
  ata_fix_checksum(smart_data);
}

void AtaDriveModel::SetPassword(unsigned char byte) {
  memset(password, byte, sizeof password);
  sec_enabled = true;
}

void AtaDriveModel::PowerCycle() {
  sec_frozen = false;
  if (sec_enabled) sec_locked = true;
  standby = false;
}

std::vector<uint8_t> AtaDriveModel::Commands() const {
  std::vector<uint8_t> v;
  for (auto& c : log) v.push_back(c.command);
  return v;
}

int AtaDriveModel::CountCommand(uint8_t code) const {
  int n = 0;
  for (auto& c : log)
    if (c.command == code) ++n;
  return n;
}

// ATA strings: two characters per word, the first in the high byte.
static void put_string(std::vector<unsigned char>& b, int word, int chars, const std::string& s) {
  for (int i = 0; i < chars; ++i) {
    char ch = i < (int)s.size() ? s[(size_t)i] : ' ';
    int byte = 2 * word + (i ^ 1);
    b[(size_t)byte] = (unsigned char)ch;
  }
}

static void put_word(std::vector<unsigned char>& b, int word, uint16_t v) {
  b[(size_t)(2 * word)] = (unsigned char)v;
  b[(size_t)(2 * word + 1)] = (unsigned char)(v >> 8);
}

std::vector<unsigned char> AtaDriveModel::IdentifyBlock(bool packet) const {
  std::vector<unsigned char> b(512, 0);
  uint64_t sectors = current_max + 1;
  put_word(b, 0, packet ? 0x8580 : 0x0040);
  put_word(b, 1, 16383);
  put_word(b, 3, 16);
  put_word(b, 6, 63);
  put_string(b, 10, 20, serial);
  put_string(b, 23, 8, firmware);
  put_string(b, 27, 40, model);
  put_word(b, 49, 0x0300);
  put_word(b, 59, sanitize ? 0x1000 : 0);
  uint32_t s28 = sectors > 0x0FFFFFFF ? 0x0FFFFFFF : (uint32_t)sectors;
  put_word(b, 60, (uint16_t)s28);
  put_word(b, 61, (uint16_t)(s28 >> 16));
  put_word(b, 76, sata_caps);
  put_word(b, 80, major_bits);
  put_word(b, 81, minor);
  put_word(b, 82, (uint16_t)(0x4000 | (smart_supported ? 1 : 0) | (security_supported ? 2 : 0) |
                             (hpa_supported ? 0x400 : 0)));
  put_word(b, 83, (uint16_t)(0x4000 | (lba48 ? 0x400 : 0) | (dco_supported ? 0x800 : 0)));
  put_word(b, 84, 0x4000);
  put_word(b, 85, (uint16_t)((smart_enabled ? 1 : 0) | (sec_enabled ? 2 : 0) | (hpa_supported ? 0x400 : 0)));
  put_word(b, 86, (uint16_t)((lba48 ? 0x400 : 0) | (dco_supported ? 0x800 : 0)));
  put_word(b, 87, 0x4000);
  put_word(b, 89, erase_normal);
  put_word(b, 90, erase_enhanced);
  for (int i = 0; i < 4; ++i) put_word(b, 100 + i, (uint16_t)(sectors >> (16 * i)));
  if (security_supported)
    put_word(b, 128, (uint16_t)(0x0021 | (sec_enabled ? 2 : 0) | (sec_locked ? 4 : 0) | (sec_frozen ? 8 : 0)));
  put_word(b, 169, trim ? 1 : 0);
  put_word(b, 217, rotation);
  for (auto& o : word_overrides) put_word(b, o.first, o.second);
  b[510] = 0xA5;
  ata_fix_checksum(b.data());
  if (bad_checksum) b[511] = (unsigned char)(b[511] + 1);
  return b;
}

std::vector<unsigned char> AtaDriveModel::DcoBlock() const {
  std::vector<unsigned char> b(512, 0);
  b[0] = 0x02;  // revision
  b[2] = 0x07;  // multiword DMA modes
  b[4] = 0x3F;  // Ultra DMA modes
  for (int i = 0; i < 8; ++i) b[(size_t)(6 + i)] = (unsigned char)(factory_max >> (8 * i));
  b[14] = 0xFF;  // command set/feature set bits
  b[15] = 0x01;
  b[510] = 0xA5;
  ata_fix_checksum(b.data());
  return b;
}

AtaDriveModel::result_t AtaDriveModel::Abort(bool idnf) {
  result_t r;
  r.ok = false;
  r.status = 0x51;  // DRDY, DSC, ERR
  r.error = idnf ? 0x14 : 0x04;
  return r;
}

bool AtaDriveModel::PasswordMatches(const std::vector<unsigned char>& block) const {
  return block.size() >= 34 && memcmp(block.data() + 2, password, sizeof password) == 0;
}

AtaDriveModel::result_t AtaDriveModel::Execute(model_command_t& c, unsigned char* in, int in_len) {
  result_t r;
  uint8_t prev = prev_command;
  prev_command = c.command;
  bool is28 = c.command == 0xF8 || c.command == 0xF9;
  uint64_t addr28 = (c.lba & 0xFFFFFF) | ((uint64_t)(c.device & 0x0F) << 24);
  auto give = [&](const std::vector<unsigned char>& d) {
    memcpy(in, d.data(), d.size() < (size_t)in_len ? d.size() : (size_t)in_len);
  };
  if (fail.count(c.command << 8) || fail.count(c.command << 8 | (c.feature & 0xFF))) return Abort();
  if (standby && c.command != 0xE0) standby = false;  // any command wakes the drive

  switch (c.command) {
    case 0xEC:
      if (identify_fails || packet_only) return Abort();
      give(IdentifyBlock(false));
      return r;
    case 0xA1:
      if (identify_fails || !packet_only) return Abort();
      give(IdentifyBlock(true));
      return r;
    case 0xF8:
    case 0x27:
      if (!hpa_supported || (c.command == 0x27 && !lba48)) return Abort();
      if (c.command == 0xF8) {
        uint64_t n = native_max < 0x0FFFFFFF ? native_max : 0x0FFFFFFF;  // 28 bits at most
        r.lba = n & 0xFFFFFF;
        r.device = (uint8_t)(0x40 | ((n >> 24) & 0x0F));
      } else {
        r.lba = native_max;
        r.device = 0x40;
      }
      return r;
    case 0xF9:
    case 0x37: {
      if (!hpa_supported || (c.command == 0x37 && !lba48)) return Abort();
      if (prev != (c.command == 0xF9 ? 0xF8 : 0x27)) return Abort();
      uint64_t max = is28 ? addr28 : c.lba;
      if (max > native_max) return Abort(true);
      current_max = max;
      hpa_persistent = (c.count & 1) != 0;
      uint64_t back = max + (uint64_t)(int64_t)setmax_readback_offset;
      if (is28) {
        r.lba = back & 0xFFFFFF;
        r.device = (uint8_t)(0x40 | ((back >> 24) & 0x0F));
      } else {
        r.lba = back;
        r.device = 0x40;
      }
      return r;
    }
    case 0xB1:
      if (!dco_supported) return Abort();
      switch (c.feature & 0xFF) {
        case 0xC2:
          give(DcoBlock());
          return r;
        case 0xC3: {
          if (current_max != native_max) return Abort();  // an HPA is set
          if (c.data.size() < 512 || ata_sector_sum(c.data.data()) != 0) return Abort();
          uint64_t m = dco_get_max_lba(c.data.data());
          if (m > factory_max) return Abort();
          last_dco_set = c.data;
          dco_max = native_max = current_max = m;
          return r;
        }
        case 0xC0:
          if (current_max != native_max) return Abort();
          dco_max = native_max = current_max = factory_max;
          return r;
        default:
          return Abort();
      }
    case 0xF1:
      if (!security_supported || sec_frozen || sec_locked || c.data.size() < 34) return Abort();
      memcpy(password, c.data.data() + 2, sizeof password);
      sec_enabled = true;
      return r;
    case 0xF2:
      if (!security_supported || sec_frozen || !sec_enabled) return Abort();
      if (!PasswordMatches(c.data)) {
        ++unlock_attempts;
        return Abort();
      }
      sec_locked = false;
      return r;
    case 0xF3:
      if (!security_supported || sec_frozen) return Abort();
      return r;
    case 0xF4:
      if (!security_supported || sec_frozen || prev != 0xF3 || !sec_enabled) return Abort();
      if (!PasswordMatches(c.data)) return Abort();
      erased = true;
      erased_enhanced = (c.data[0] & 0x02) != 0;
      sec_enabled = sec_locked = false;
      memset(password, 0, sizeof password);
      return r;
    case 0xF6:
      if (!security_supported || sec_frozen || sec_locked || !sec_enabled) return Abort();
      if (!PasswordMatches(c.data)) return Abort();
      sec_enabled = false;
      memset(password, 0, sizeof password);
      return r;
    case 0xB0:
      if (!smart_supported || ((c.lba >> 8) & 0xFFFF) != 0xC24F) return Abort();
      switch (c.feature & 0xFF) {
        case 0xDA:
          r.lba = smart_threshold_exceeded ? 0x2CF400 : 0xC24F00;
          return r;
        case 0xD0:
          give(std::vector<unsigned char>(smart_data, smart_data + 512));
          r.lba = 0xC24F00;
          return r;
        case 0xD4:
          last_selftest = (int)(c.lba & 0xFF);
          r.lba = selftest_passes ? 0xC24F00 | (c.lba & 0xFF) : (c.lba & 0xFF);
          return r;
        default:
          return Abort();
      }
    case 0xE0:
      standby = true;
      return r;
    case 0x06:
      if (!trim || (c.feature & 1) == 0) return Abort();
      for (size_t i = 0; i + 8 <= c.data.size(); i += 8) {
        uint64_t e = 0;
        for (int b = 7; b >= 0; --b) e = (e << 8) | c.data[i + (size_t)b];
        if (e >> 48) trimmed.push_back({e & 0xFFFFFFFFFFFFULL, (unsigned)(e >> 48)});
      }
      return r;
    default:
      return Abort();
  }
}

int AtaDriveModel::Ioctl(int /*fd*/, unsigned long request, void* arg) {
  if (request == BLKGETSIZE64) {
    if (blkgetsize_fails) {
      errno = ENOTTY;
      return -1;
    }
    // The kernel learns the size once, when the drive appears.
    if (kernel_size == 0) kernel_size = VisibleBytes();
    *static_cast<uint64_t*>(arg) = kernel_size;
    return 0;
  }

  unsigned char in[4096];
  memset(in, 0, sizeof in);

  if (request == SG_IO) {
    sg_io_hdr_t* h = static_cast<sg_io_hdr_t*>(arg);
    model_command_t c;
    c.interface_id = h->interface_id;
    c.cdb_len = h->cmd_len;
    memcpy(c.cdb, h->cmdp, h->cmd_len <= 16 ? h->cmd_len : 16);
    c.dxfer_direction = h->dxfer_direction;
    c.dxfer_len = h->dxfer_len;
    c.timeout_ms = h->timeout;
    c.mx_sb_len = h->mx_sb_len;
    const unsigned char* d = c.cdb;
    if (d[0] == 0x85) {
      c.transport = model_command_t::SAT16;
      c.feature = (uint16_t)(d[3] << 8 | d[4]);
      c.count = (uint16_t)(d[5] << 8 | d[6]);
      c.lba = (uint64_t)d[8] | (uint64_t)d[10] << 8 | (uint64_t)d[12] << 16 | (uint64_t)d[7] << 24 |
              (uint64_t)d[9] << 32 | (uint64_t)d[11] << 40;
      c.device = d[13];
      c.command = d[14];
    } else {
      c.transport = model_command_t::SAT12;
      c.feature = d[3];
      c.count = d[4];
      c.lba = (uint64_t)d[5] | (uint64_t)d[6] << 8 | (uint64_t)d[7] << 16;
      c.device = d[8];
      c.command = d[9];
    }
    if (h->dxfer_direction == SG_DXFER_TO_DEV && h->dxferp) {
      c.data_out = true;
      c.data.assign((unsigned char*)h->dxferp, (unsigned char*)h->dxferp + h->dxfer_len);
    }
    if (sat_mode == SAT_IOCTL_FAILS) {
      log.push_back(c);
      errno = EINVAL;
      return -1;
    }
    result_t r = Execute(c, in, sizeof in);
    c.ok = r.ok;
    log.push_back(c);
    if (sat_mode == SAT_ZERO_SENSE) return 0;
    if (r.ok && h->dxfer_direction == SG_DXFER_FROM_DEV && h->dxferp)
      memcpy(h->dxferp, in, h->dxfer_len <= sizeof in ? h->dxfer_len : sizeof in);
    unsigned char* s = h->sbp;
    if (s && sense_form != SENSE_DESCRIPTOR && h->mx_sb_len >= 22) {
      // As libata builds it: the registers in the information and
      // command-specific fields, flags for the upper bytes it cannot hold.
      bool sat = sense_form == SENSE_FIXED;
      memset(s, 0, h->mx_sb_len);
      s[0] = sat ? 0xF0 : 0x70;   // VALID, current error, fixed format
      s[2] = r.ok ? 0x01 : 0x0B;  // RECOVERED ERROR or ABORTED COMMAND
      s[7] = 10;
      s[13] = r.ok ? 0x1D : 0x00;  // ATA pass-through information available
      unsigned char* regs = s + (sat ? 3 : 8);
      unsigned char* csi = s + (sat ? 8 : 16);
      regs[0] = r.error;
      regs[1] = r.status;
      regs[2] = r.device;
      regs[3] = (unsigned char)r.count;
      if (c.cdb[1] & 1)  // EXTEND
        csi[0] = (unsigned char)(0x80 | (r.count >> 8 ? 0x40 : 0) | (r.lba >> 24 ? 0x20 : 0));
      csi[1] = (unsigned char)r.lba;
      csi[2] = (unsigned char)(r.lba >> 8);
      csi[3] = (unsigned char)(r.lba >> 16);
      h->sb_len_wr = sat ? 18 : 20;
    } else if (s && h->mx_sb_len >= 22) {
      memset(s, 0, h->mx_sb_len);
      s[0] = 0x72;
      s[1] = r.ok ? 0x01 : 0x0B;  // RECOVERED ERROR (ATA pass-through information available) or ABORTED COMMAND
      s[3] = r.ok ? 0x1D : 0x00;
      s[7] = 14;
      s[8] = 0x09;
      s[9] = 0x0C;
      s[10] = 0x01;  // EXTEND
      s[11] = r.error;
      s[12] = (unsigned char)(r.count >> 8);
      s[13] = (unsigned char)r.count;
      s[14] = (unsigned char)(r.lba >> 24);
      s[15] = (unsigned char)r.lba;
      s[16] = (unsigned char)(r.lba >> 32);
      s[17] = (unsigned char)(r.lba >> 8);
      s[18] = (unsigned char)(r.lba >> 40);
      s[19] = (unsigned char)(r.lba >> 16);
      s[20] = r.device;
      s[21] = r.status;
      h->sb_len_wr = 22;
    }
    h->status = 0x02;  // CHECK CONDITION, as CK_COND asks
    return 0;
  }

  if (request == HDIO_DRIVE_TASKFILE) {
    unsigned char* block = static_cast<unsigned char*>(arg);
    ide_task_request_t* t = reinterpret_cast<ide_task_request_t*>(block);
    unsigned char* io = t->io_ports;
    unsigned char* hob = t->hob_ports;
    model_command_t c;
    c.transport = model_command_t::HDIO;
    memcpy(c.io_ports, io, 8);
    memcpy(c.hob_ports, hob, 8);
    c.data_phase = t->data_phase;
    c.req_cmd = t->req_cmd;
    c.hdio_in_size = t->in_size;
    c.hdio_out_size = t->out_size;
    c.feature = (uint16_t)(hob[1] << 8 | io[1]);
    c.count = (uint16_t)(hob[2] << 8 | io[2]);
    c.lba = (uint64_t)io[3] | (uint64_t)io[4] << 8 | (uint64_t)io[5] << 16 | (uint64_t)hob[3] << 24 |
            (uint64_t)hob[4] << 32 | (uint64_t)hob[5] << 40;
    c.device = io[6];
    c.command = io[7];
    if (t->data_phase == TASKFILE_OUT) {
      c.data_out = true;
      c.data.assign(block + 48, block + 48 + (t->out_size <= 4096 ? t->out_size : 4096));
    }
    if (!hdio_answers) {
      log.push_back(c);
      errno = ENOTTY;
      return -1;
    }
    result_t r = Execute(c, in, sizeof in);
    c.ok = r.ok;
    log.push_back(c);
    io[7] = r.status;
    io[1] = r.error;
    if (!r.ok) {
      errno = EIO;
      return -1;
    }
    io[2] = (unsigned char)r.count;
    hob[2] = (unsigned char)(r.count >> 8);
    io[3] = (unsigned char)r.lba;
    io[4] = (unsigned char)(r.lba >> 8);
    io[5] = (unsigned char)(r.lba >> 16);
    hob[3] = (unsigned char)(r.lba >> 24);
    hob[4] = (unsigned char)(r.lba >> 32);
    hob[5] = (unsigned char)(r.lba >> 40);
    io[6] = r.device;
    if (t->data_phase == TASKFILE_IN && t->req_cmd == IDE_DRIVE_TASK_IN)
      memcpy(block + 48, in, t->in_size <= 4096 ? t->in_size : 4096);
    return 0;
  }
  errno = ENOTTY;
  return -1;
}
