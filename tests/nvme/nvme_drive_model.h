// A software NVMe controller behind CNvmeTransport: it reads each command's
// fields as a controller does, fills in its data pages and keeps what the
// commands did (erases, deallocated ranges) for the test to look at.
#pragma once
#include <stdint.h>
#include <string.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "nvme/nvme_transport.h"

struct NvmeDriveModel {
  std::string model = "ZV NVMe 512", serial = "ZVN0001", firmware = "3.1";
  uint16_t oacs = 0x0002, oncs = 0x0004, kelvin = 310;  // Format NVM; Dataset Management
  uint8_t fna = 0, critical_warning = 0, lba_shift = 12, flbas = 1;  // format 1 in use, format 0 is 512 bytes
  uint32_t sanicap = 0, nsid = 1, sanitize_estimate = 0xFFFFFFFF;
  uint64_t blocks = 262144, media_errors = 0;  // 1 GiB of 4096-byte blocks
  int sanitize_polls = 2, sanitize_end = 1;  // log reads showing it running, then the SSTAT status
  std::map<int, int> refuse;                  // opcode -> status returned instead
  // What the drive was asked to do.
  int erase_opcode = 0, erase_action = 0, erase_lbaf = -1;  // action: SANACT or SES
  uint32_t erase_nsid = 0, erase_timeout_ms = 0;
  std::vector<std::pair<uint64_t, uint32_t>> deallocated;  // (slba, blocks)
  std::vector<int> percent_seen;                           // of every sanitize log read

  static void put(unsigned char* p, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) p[i] = (unsigned char)(v >> (8 * i));
  }
  int Admin(nvme_admin_cmd& c) {
    if (refuse.count(c.opcode)) return refuse[c.opcode];
    unsigned char* d = (unsigned char*)(uintptr_t)c.addr;
    uint32_t len = ((c.cdw10 >> 16) + 1) * 4, id = c.cdw10 & 0xFF;  // Get Log Page NUMDL, LID / CNS
    if (c.opcode == 0x06 && c.data_len == 4096 && id == 1) {  // Identify Controller
      memset(d, 0, 4096);
      memset(d + 4, ' ', 68);
      memcpy(d + 4, serial.data(), serial.size()), memcpy(d + 24, model.data(), model.size());
      memcpy(d + 64, firmware.data(), firmware.size());
      put(d + 256, oacs, 2), put(d + 328, sanicap, 4), put(d + 520, oncs, 2), d[524] = fna;
    } else if (c.opcode == 0x06 && c.data_len == 4096 && id == 0 && c.nsid == nsid) {  // Identify Namespace
      memset(d, 0, 4096);
      put(d, blocks, 8), d[26] = flbas, d[130] = 9, d[134] = lba_shift;
    } else if (c.opcode == 0x02 && len <= c.data_len && (id == 2 || id == 0x81)) {
      memset(d, 0, len);
      if (id == 2) d[0] = critical_warning, put(d + 1, kelvin, 2), d[5] = 3, put(d + 160, media_errors, 8);
      if (id == 0x81) {
        int state = sanitize_polls-- > 1 ? 2 : sanitize_end, progress = state == 2 ? 32768 : 65535;
        percent_seen.push_back(progress * 100 / 65536);
        put(d, progress, 2), put(d + 2, state, 2), put(d + 16, sanitize_estimate, 4);
      }
    } else if (c.opcode == 0x80 || c.opcode == 0x84) {  // Format NVM: LBAF 3:0, SES 11:9; Sanitize: SANACT 2:0
      erase_opcode = c.opcode, erase_nsid = c.nsid, erase_timeout_ms = c.timeout_ms;
      erase_action = c.opcode == 0x80 ? (c.cdw10 >> 9) & 7 : c.cdw10 & 7;
      if (c.opcode == 0x80) erase_lbaf = c.cdw10 & 0xF;
    } else {
      return c.opcode == 0x02 ? 0x109 : 0x002;  // invalid log page; invalid field
    }
    return 0;
  }
  int Io(nvme_passthru_cmd& c) {  // Dataset Management: NR (0-based) in CDW10, deallocate = CDW11 bit 2
    if (refuse.count(c.opcode)) return refuse[c.opcode];
    uint32_t n = (c.cdw10 & 0xFF) + 1, nlb;
    if (c.opcode != 0x09 || !(c.cdw11 & 4) || c.nsid != nsid || c.data_len < 16 * n) return 0x002;
    for (const unsigned char* r = (const unsigned char*)(uintptr_t)c.addr; n--; r += 16) {
      uint64_t slba;
      memcpy(&nlb, r + 4, 4), memcpy(&slba, r + 8, 8);
      if (slba + nlb > blocks) return 0x080;  // LBA out of range
      deallocated.push_back({slba, nlb});
    }
    return 0;
  }
  // A transport onto this drive, for the device to own.
  std::unique_ptr<CNvmeTransport> Port() {
    struct port : CNvmeTransport {
      NvmeDriveModel& d;
      explicit port(NvmeDriveModel& d) : d(d) {}
      int Admin(int, nvme_admin_cmd& c) override { return d.Admin(c); }
      int Io(int, nvme_passthru_cmd& c) override { return d.Io(c); }
      int NamespaceId(int) override { return (int)d.nsid; }
    };
    return std::make_unique<port>(*this);
  }
};
