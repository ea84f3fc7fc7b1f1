// A software SCSI device for the tests: answers SG_IO INQUIRY from byte
// fixtures and WRITE SAME(16) with a configured status and sense data;
// records every command it is sent.
#pragma once
#include <errno.h>
#include <scsi/sg.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

class FakeScsiDevice {
 public:
  struct sent_t {
    std::vector<unsigned char> cdb, data_out;  // the command, what the host sent with it
  };
  // INQUIRY answers: key -1 for standard data, else the VPD page. A page
  // without an answer ends in CHECK CONDITION (ILLEGAL REQUEST).
  std::map<int, std::vector<unsigned char>> inquiry;
  // Answer to WRITE SAME(16).
  unsigned char write_same_status = 0;
  unsigned short write_same_host_status = 0;
  std::vector<unsigned char> write_same_sense;

  std::vector<sent_t> sent;

  int Ioctl(int, unsigned long request, void* arg) {
    if (request == SG_GET_VERSION_NUM) return *static_cast<int*>(arg) = 30536, 0;
    if (request != SG_IO) return errno = ENOTTY, -1;
    sg_io_hdr_t* io = static_cast<sg_io_hdr_t*>(arg);
    sent_t s;
    s.cdb.assign(io->cmdp, io->cmdp + io->cmd_len);
    if (io->dxfer_direction == SG_DXFER_TO_DEV) {
      const unsigned char* p = static_cast<const unsigned char*>(io->dxferp);
      s.data_out.assign(p, p + io->dxfer_len);
    }
    sent.push_back(s);
    io->status = 0;
    io->host_status = io->driver_status = 0;
    io->info = 0;
    if (s.cdb[0] == 0x93) {
      io->status = write_same_status;
      io->host_status = write_same_host_status;
      if (write_same_status != 0 || write_same_host_status != 0) io->info = SG_INFO_CHECK;
      if (write_same_status == 2) Sense(io, write_same_sense);
      return 0;
    }
    auto it = inquiry.find((io->cmdp[1] & 1) ? io->cmdp[2] : -1);
    if (s.cdb[0] != 0x12 || it == inquiry.end()) {
      io->status = 2;
      io->info = SG_INFO_CHECK;
      Sense(io, {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, (unsigned char)(s.cdb[0] == 0x12 ? 0x24 : 0x20), 0});
      return 0;
    }
    memcpy(io->dxferp, it->second.data(), std::min<size_t>(it->second.size(), io->dxfer_len));
    return 0;
  }

 private:
  void Sense(sg_io_hdr_t* io, const std::vector<unsigned char>& sense) {
    size_t n = std::min<size_t>(sense.size(), io->mx_sb_len);
    memcpy(io->sbp, sense.data(), n);
    io->sb_len_wr = (unsigned char)n;
    io->driver_status = 0x08;  // sense data came along
  }
};

// Standard INQUIRY data of a disk: vendor and product blank-padded, and up to
// eight version descriptors.
inline std::vector<unsigned char> StandardInquiry(const std::string& vendor, const std::string& product,
                                                  const std::vector<int>& versions) {
  std::vector<unsigned char> d(96, 0);
  d[2] = 0x06;  // SPC-4
  d[4] = 91;    // additional length
  for (int i = 0; i < 8; ++i) d[8 + i] = i < (int)vendor.size() ? vendor[i] : ' ';
  for (int i = 0; i < 16; ++i) d[16 + i] = i < (int)product.size() ? product[i] : ' ';
  for (size_t i = 0; i < versions.size() && i < 8; ++i) {
    d[58 + 2 * i] = (unsigned char)(versions[i] >> 8);
    d[59 + 2 * i] = (unsigned char)versions[i];
  }
  return d;
}

// A VPD page: header (page code, 16-bit length) and its payload.
inline std::vector<unsigned char> VpdPage(int page, const std::vector<unsigned char>& payload) {
  std::vector<unsigned char> d = {0, (unsigned char)page, (unsigned char)(payload.size() >> 8),
                                  (unsigned char)payload.size()};
  d.insert(d.end(), payload.begin(), payload.end());
  return d;
}
