// ATA PASS-THROUGH results in fixed-format sense (70h/71h), as the kernel
// gives them without D_SENSE: the decoding alone, and commands through the
// SAT transport whose every SG_IO is answered with fixed-format sense from the
// input, the re-reads of a maximum address included. Aborts when a result
// code is not one the transport gives, when a failed command changed the
// record, or when a maximum address came back with other low bytes than the
// drive answered (a value put together from different answers).
#include <scsi/sg.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "app/paths.h"
#include "ata/ata_data.h"
#include "ata/ata_transport.h"
#include "fuzz_support.h"

namespace {

FuzzedDataProvider* g_in = nullptr;
unsigned char g_first_lba[3];
int g_calls = 0;

// One fixed-format answer: the response code and the "ATA pass-through
// information available" sense mostly right, the registers (in either
// layout) from the input.
int answer(int, unsigned long request, void* arg) {
  if (request != SG_IO) abort();
  sg_io_hdr_t* io = static_cast<sg_io_hdr_t*>(arg);
  uint8_t mode = g_in->ConsumeIntegral<uint8_t>();
  if (mode == 0xFF) return -1;
  unsigned char s[32] = {0};
  std::vector<unsigned char> regs = g_in->ConsumeBytes<unsigned char>(22);
  regs.resize(22, 0);
  memcpy(s, regs.data(), regs.size());
  s[0] = (mode & 1 ? 0x71 : 0x70) | (mode & 2 ? 0x80 : 0);
  if (mode & 4) {
    s[2] = 0x01;
    s[7] = 10;
    s[12] = 0x00;
    s[13] = 0x1D;
  }
  if (g_calls++ == 0) memcpy(g_first_lba, sat_decode_sense(s).lba, 3);
  memcpy(io->sbp, s, io->mx_sb_len < sizeof s ? io->mx_sb_len : sizeof s);
  if (io->dxfer_direction == SG_DXFER_FROM_DEV && io->dxferp) {
    std::vector<unsigned char> d = g_in->ConsumeBytes<unsigned char>(io->dxfer_len);
    if (!d.empty()) memcpy(io->dxferp, d.data(), d.size());
  }
  return 0;
}

bool same_registers(const ata_data& a, const ata_data& b) {
  return a.data == b.data && a.feature == b.feature && a.count == b.count && memcmp(a.lba, b.lba, 6) == 0 &&
         a.head == b.head && a.command == b.command;
}

}  // namespace

void fuzz_one(FuzzedDataProvider& in) {
  std::vector<unsigned char> sense = in.ConsumeBytes<unsigned char>(32);
  sense.resize(32, 0);
  sense[0] = (sense[0] & 0x81) | 0x70;
  sat_result_t r = sat_decode_sense(sense.data());
  if (r.rc != 0 && r.rc != 71 && r.rc != 125 && r.rc != 5) abort();
  if (r.lba[3] || r.lba[4] || r.lba[5] || r.count > 0xFF) abort();

  static const uint8_t commands[] = {ATA_CMD_READ_NATIVE_MAX_EXT, ATA_CMD_SET_MAX_EXT, ATA_CMD_READ_NATIVE_MAX,
                                     ATA_CMD_SMART, ATA_CMD_IDENTIFY};
  ata_data cmd(commands[in.ConsumeIntegralInRange<size_t>(0, sizeof commands - 1)]);
  cmd.head = 0x40;
  cmd.set_lba48(in.ConsumeIntegral<uint64_t>() & 0xFFFFFFFFFFFFULL);
  cmd.count = in.ConsumeIntegral<uint16_t>();
  unsigned char buf[512];
  if (cmd.command == ATA_CMD_IDENTIFY) {
    cmd.direction = ata_data::DIR_IN;
    cmd.in_size = sizeof buf;
    cmd.buffer = buf;
  }
  ata_data before = cmd;

  g_in = &in;
  g_calls = 0;
  ioctl_fn_t saved = g_ioctl;
  g_ioctl = answer;
  CSgSatl sat;
  int rc = sat.RunAtaCommand(3, &cmd, 0);
  g_ioctl = saved;
  g_in = nullptr;

  if (rc != 0 && rc != -1 && rc != 71 && rc != 125 && rc != 5 && rc != SAT_VALUE_UNAVAILABLE) abort();
  if (rc != 0 && !same_registers(before, cmd)) abort();
  if (rc == 0 && (cmd.command == ATA_CMD_READ_NATIVE_MAX_EXT || cmd.command == ATA_CMD_SET_MAX_EXT) &&
      memcmp(cmd.lba, g_first_lba, 3) != 0)
    abort();
}
