// A software SCSI device for the tests: answers SG_IO INQUIRY from byte
// fixtures, WRITE SAME(16) with a configured status and sense data, and
// SG_GET_VERSION_NUM and FDGETPRM as told; records every command it is sent.
// Installed as g_ioctl for the lifetime of a FakeScsiScope.
#pragma once
#include <errno.h>
#include <linux/fd.h>
#include <scsi/sg.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "app/paths.h"

class FakeScsiDevice {
 public:
  struct sent_t {
    std::vector<unsigned char> cdb;
    int interface_id = 0;
    int dxfer_direction = 0;
    unsigned dxfer_len = 0;
    unsigned timeout = 0;
    unsigned mx_sb_len = 0;
    std::vector<unsigned char> data_out;  // what the host sent with the command
  };

  // INQUIRY answers: key -1 for standard data, else the VPD page. A page
  // without an answer ends in CHECK CONDITION (ILLEGAL REQUEST).
  std::map<int, std::vector<unsigned char>> inquiry;
  bool sg_io_fails = false;  // the ioctl itself fails with EIO
  int sg_version = 30536;
  bool version_fails = false;
  bool has_medium = true;  // FDGETPRM answers

  // Answer to WRITE SAME(16).
  unsigned char write_same_status = 0;
  unsigned short write_same_host_status = 0;
  std::vector<unsigned char> write_same_sense;

  std::vector<sent_t> sent;
  std::vector<unsigned long> requests;  // every ioctl request code, in order

  int Ioctl(int, unsigned long request, void* arg) {
    requests.push_back(request);
    if (request == SG_GET_VERSION_NUM) {
      if (version_fails) {
        errno = ENOTTY;
        return -1;
      }
      *static_cast<int*>(arg) = sg_version;
      return 0;
    }
    if (request == FDGETPRM) {
      if (!has_medium) {
        errno = ENXIO;
        return -1;
      }
      memset(arg, 0, sizeof(struct floppy_struct));
      return 0;
    }
    if (request != SG_IO) {
      errno = ENOTTY;
      return -1;
    }
    if (sg_io_fails) {
      errno = EIO;
      return -1;
    }
    sg_io_hdr_t* io = static_cast<sg_io_hdr_t*>(arg);
    sent_t s;
    s.cdb.assign(io->cmdp, io->cmdp + io->cmd_len);
    s.interface_id = io->interface_id;
    s.dxfer_direction = io->dxfer_direction;
    s.dxfer_len = io->dxfer_len;
    s.timeout = io->timeout;
    s.mx_sb_len = io->mx_sb_len;
    if (io->dxfer_direction == SG_DXFER_TO_DEV) {
      const unsigned char* p = static_cast<const unsigned char*>(io->dxferp);
      s.data_out.assign(p, p + io->dxfer_len);
    }
    sent.push_back(s);
    io->status = 0;
    io->host_status = 0;
    io->driver_status = 0;
    io->info = 0;
    io->sb_len_wr = 0;
    if (s.cdb[0] == 0x12) return Inquiry(io);
    if (s.cdb[0] == 0x93) {
      io->status = write_same_status;
      io->host_status = write_same_host_status;
      if (write_same_status != 0 || write_same_host_status != 0) io->info = SG_INFO_CHECK;
      if (write_same_status == 2) Sense(io, write_same_sense);
      return 0;
    }
    io->status = 2;
    io->info = SG_INFO_CHECK;
    Sense(io, {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00});
    return 0;
  }

  // The INQUIRY commands sent, as (EVPD, page) pairs.
  std::vector<std::pair<int, int>> InquiriesSent() const {
    std::vector<std::pair<int, int>> out;
    for (auto& s : sent)
      if (!s.cdb.empty() && s.cdb[0] == 0x12) out.push_back({s.cdb[1], s.cdb[2]});
    return out;
  }

 private:
  int Inquiry(sg_io_hdr_t* io) {
    int key = (io->cmdp[1] & 1) ? io->cmdp[2] : -1;
    auto it = inquiry.find(key);
    if (it == inquiry.end()) {
      io->status = 2;
      io->info = SG_INFO_CHECK;
      Sense(io, {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00});
      return 0;
    }
    size_t n = it->second.size() < io->dxfer_len ? it->second.size() : io->dxfer_len;
    memcpy(io->dxferp, it->second.data(), n);
    io->resid = (int)(io->dxfer_len - n);
    return 0;
  }
  void Sense(sg_io_hdr_t* io, const std::vector<unsigned char>& sense) {
    size_t n = sense.size() < io->mx_sb_len ? sense.size() : io->mx_sb_len;
    memcpy(io->sbp, sense.data(), n);
    io->sb_len_wr = (unsigned char)n;
    io->driver_status = 0x08;  // sense data came along
  }
};

class FakeScsiScope {
 public:
  explicit FakeScsiScope(FakeScsiDevice& d) : saved(g_ioctl) {
    current() = &d;
    g_ioctl = [](int fd, unsigned long request, void* arg) { return current()->Ioctl(fd, request, arg); };
  }
  ~FakeScsiScope() {
    g_ioctl = saved;
    current() = nullptr;
  }
  FakeScsiScope(const FakeScsiScope&) = delete;
  FakeScsiScope& operator=(const FakeScsiScope&) = delete;

 private:
  static FakeScsiDevice*& current() {
    static FakeScsiDevice* d = nullptr;
    return d;
  }
  ioctl_fn_t saved;
};

// ---- fixtures of the answers ----

// Standard INQUIRY data of a disk: vendor and product blank-padded, and up to
// eight version descriptors.
inline std::vector<unsigned char> StandardInquiry(const std::string& vendor, const std::string& product,
                                                  const std::vector<int>& versions) {
  std::vector<unsigned char> d(96, 0);
  d[2] = 0x06;  // SPC-4
  d[3] = 0x02;  // response data format
  d[4] = 91;    // additional length
  for (int i = 0; i < 8; ++i) d[8 + i] = i < (int)vendor.size() ? vendor[i] : ' ';
  for (int i = 0; i < 16; ++i) d[16 + i] = i < (int)product.size() ? product[i] : ' ';
  memcpy(&d[32], "1.00", 4);
  for (size_t i = 0; i < versions.size() && i < 8; ++i) {
    d[58 + 2 * i] = (unsigned char)(versions[i] >> 8);
    d[59 + 2 * i] = (unsigned char)versions[i];
  }
  return d;
}

// A VPD page: header (type 0, page code, 16-bit length) and its payload.
inline std::vector<unsigned char> VpdPage(int page, const std::vector<unsigned char>& payload) {
  std::vector<unsigned char> d(4 + payload.size(), 0);
  d[1] = (unsigned char)page;
  d[2] = (unsigned char)(payload.size() >> 8);
  d[3] = (unsigned char)payload.size();
  for (size_t i = 0; i < payload.size(); ++i) d[4 + i] = payload[i];
  return d;
}

inline std::vector<unsigned char> VpdSerial(const std::string& s) {
  return VpdPage(0x80, std::vector<unsigned char>(s.begin(), s.end()));
}

// Block Limits: MAXIMUM UNMAP LBA COUNT (bytes 20-23), MAXIMUM WRITE SAME
// LENGTH (bytes 36-43).
inline std::vector<unsigned char> VpdBlockLimits(uint32_t max_unmap_lba, uint64_t max_write_same) {
  std::vector<unsigned char> d = VpdPage(0xB0, std::vector<unsigned char>(0x3C, 0));
  for (int i = 0; i < 4; ++i) d[20 + i] = (unsigned char)(max_unmap_lba >> (8 * (3 - i)));
  for (int i = 0; i < 8; ++i) d[36 + i] = (unsigned char)(max_write_same >> (8 * (7 - i)));
  return d;
}

// Logical Block Provisioning: threshold exponent (byte 4) and flags (byte 5).
inline std::vector<unsigned char> VpdProvisioning(unsigned char exponent, unsigned char flags) {
  return VpdPage(0xB2, {exponent, flags, 0x02, 0x00});
}
