#include "nvme_drive_model.h"

#include <string.h>

namespace {

void put(unsigned char* p, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = (unsigned char)(v >> (8 * i));
}
void put_text(unsigned char* p, const std::string& s, size_t width) {
  memset(p, ' ', width);
  memcpy(p, s.data(), s.size() < width ? s.size() : width);
}

class Port : public CNvmeTransport {
 public:
  explicit Port(NvmeDriveModel& d) : d(d) {}
  int Admin(int, nvme_admin_cmd& c) override { return d.Admin(c); }
  int Io(int, nvme_passthru_cmd& c) override { return d.Io(c); }
  int NamespaceId(int) override { return (int)d.nsid; }
  NvmeDriveModel& d;
};

}  // namespace

CNvmeTransport* NvmeDriveModel::Port() { return new ::Port(*this); }

int NvmeDriveModel::Admin(nvme_admin_cmd& c) {
  if (refuse.count(c.opcode)) return refuse[c.opcode];
  unsigned char* data = (unsigned char*)(uintptr_t)c.addr;
  switch (c.opcode) {
    case 0x06:  // Identify: CNS in CDW10 bits 7:0
      if (c.data_len != 4096) return 0x002;
      memset(data, 0, 4096);
      if ((c.cdw10 & 0xFF) == 1) {
        put_text(data + 4, serial, 20);
        put_text(data + 24, model, 40);
        put_text(data + 64, firmware, 8);
        put(data + 256, oacs, 2);
        put(data + 328, sanicap, 4);
        put(data + 520, oncs, 2);
        data[524] = fna;
      } else if ((c.cdw10 & 0xFF) == 0 && c.nsid == nsid) {
        put(data, blocks, 8);
        data[26] = flbas;
        data[128 + 2] = 9;              // format 0: 512-byte blocks
        data[128 + 4 + 2] = lba_shift;  // format 1
      } else {
        return 0x00B;
      }
      return 0;
    case 0x02: {  // Get Log Page: LID bits 7:0, NUMDL bits 31:16 (0-based dwords)
      uint32_t len = ((c.cdw10 >> 16) + 1) * 4;
      if (len > c.data_len) return 0x002;
      memset(data, 0, len);
      if ((c.cdw10 & 0xFF) == 0x02) {
        data[0] = critical_warning;
        put(data + 1, kelvin, 2);
        data[5] = percent_used;
        put(data + 160, media_errors, 8);
      } else if ((c.cdw10 & 0xFF) == 0x81) {
        if (sanitize_left > 0 && --sanitize_left == 0) sanitize_state = sanitize_end;
        int progress = sanitize_state == 2 ? 65536 / (sanitize_left + 1) : 65535;
        percent_seen.push_back(progress * 100 / 65536);
        put(data, progress, 2);
        put(data + 2, sanitize_state, 2);
        put(data + 16, sanitize_estimate, 4);  // crypto erase estimate
      } else {
        return 0x109;  // invalid log page
      }
      return 0;
    }
    case 0x80:  // Format NVM: LBAF 3:0, SES 11:9
      erased.opcode = c.opcode;
      erased.action = (c.cdw10 >> 9) & 7;
      erased.lba_format = c.cdw10 & 0xF;
      erased.nsid = c.nsid;
      erased.timeout_ms = c.timeout_ms;
      return 0;
    case 0x84:  // Sanitize: SANACT 2:0
      erased.opcode = c.opcode;
      erased.action = c.cdw10 & 7;
      sanitize_left = sanitize_polls;
      sanitize_state = sanitize_polls ? 2 : sanitize_end;
      return 0;
  }
  return 0x001;
}

int NvmeDriveModel::Io(nvme_passthru_cmd& c) {
  if (refuse.count(c.opcode)) return refuse[c.opcode];
  // Dataset Management: NR (0-based) in CDW10, deallocate is CDW11 bit 2.
  if (c.opcode != 0x09 || !(c.cdw11 & 4) || c.nsid != nsid) return 0x002;
  if (c.data_len < 16 * ((c.cdw10 & 0xFF) + 1)) return 0x002;
  const unsigned char* r = (const unsigned char*)(uintptr_t)c.addr;
  for (uint32_t i = 0; i <= (c.cdw10 & 0xFF); ++i, r += 16) {
    uint32_t nlb = 0;
    uint64_t slba = 0;
    memcpy(&nlb, r + 4, 4);
    memcpy(&slba, r + 8, 8);
    if (slba + nlb > blocks) return 0x080;  // LBA out of range
    deallocated.push_back({slba, nlb});
  }
  return 0;
}
