// What the ATA transports take back from the kernel: the sense data of ATA
// PASS-THROUGH through SG_IO (the ATA Status Return evaluation and the copy
// of the returned registers and data), and the register image and data area
// of the IDE taskfile ioctl. Each ioctl is answered from the input.
#include <errno.h>
#include <linux/hdreg.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "app/paths.h"
#include "ata/ata_data.h"
#include "ata/ata_transport.h"
#include "fuzz_support.h"

namespace {

FuzzedDataProvider* g_in = nullptr;

int answer_taskfile(void* arg) {
  unsigned char* block = static_cast<unsigned char*>(arg);
  ide_task_request_t* h = reinterpret_cast<ide_task_request_t*>(block);
  fuzz_check_region(block, IDE_TASK_HEADER_SIZE, "taskfile header");
  unsigned long data_len = h->in_size > h->out_size ? h->in_size : h->out_size;
  fuzz_check_region(block + IDE_TASK_HEADER_SIZE, data_len, "taskfile data");
  uint8_t mode = g_in->ConsumeIntegral<uint8_t>();
  if ((mode & 0xC0) == 0xC0) {
    errno = (mode & 1) ? EIO : ENOTTY;
    // The kernel still hands back the registers of a failed command.
    std::vector<unsigned char> regs = g_in->ConsumeBytes<unsigned char>(16);
    if (!regs.empty()) memcpy(h->io_ports, regs.data(), regs.size() < 8 ? regs.size() : 8);
    return -1;
  }
  std::vector<unsigned char> regs = g_in->ConsumeBytes<unsigned char>(16);
  regs.resize(16, 0);
  memcpy(h->io_ports, regs.data(), 8);
  memcpy(h->hob_ports, regs.data() + 8, 8);
  if (h->req_cmd == IDE_DRIVE_TASK_IN && h->in_size) {
    size_t n = g_in->ConsumeIntegralInRange<size_t>(0, h->in_size);
    std::vector<unsigned char> d = g_in->ConsumeBytes<unsigned char>(n);
    if (!d.empty()) memcpy(block + IDE_TASK_HEADER_SIZE, d.data(), d.size());
  }
  return 0;
}

bool g_descriptor = false;

// SG_IO from the input; in "descriptor" runs the sense data then start with
// a valid ATA Status Return descriptor header, so that the fuzzed registers
// are evaluated and copied back.
int answer_sg_io(sg_io_hdr_t* io) {
  int rc = fuzz_answer_sg_io(*g_in, io);
  if (rc == 0 && g_descriptor && io->sbp && io->mx_sb_len >= 10) {
    io->sbp[0] = 0x72;
    io->sbp[7] = 14;
    io->sbp[8] = 0x09;
    io->sbp[9] = 0x0C;
  }
  return rc;
}

int answer(int, unsigned long request, void* arg) {
  if (request == SG_IO) return answer_sg_io(static_cast<sg_io_hdr_t*>(arg));
  if (request == HDIO_DRIVE_TASKFILE) return answer_taskfile(arg);
  errno = ENOTTY;
  return -1;
}

ata_data fuzzed_command(FuzzedDataProvider& in, std::vector<unsigned char>& buffer) {
  ata_data cmd;
  cmd.data = in.ConsumeIntegral<uint16_t>();
  cmd.feature = in.ConsumeIntegral<uint16_t>();
  cmd.count = in.ConsumeIntegral<uint16_t>();
  for (auto& b : cmd.lba) b = in.ConsumeIntegral<uint8_t>();
  cmd.head = in.ConsumeIntegral<uint16_t>();
  cmd.command = in.ConsumeIntegral<uint16_t>();
  cmd.short_cdb = in.ConsumeBool();
  cmd.direction = in.ConsumeIntegralInRange<int>(-1, 4);
  static const int sizes[] = {0, 1, 511, 512, 513, 4096, 4097, -1};
  cmd.in_size = sizes[in.ConsumeIntegralInRange<int>(0, 7)];
  cmd.out_size = sizes[in.ConsumeIntegralInRange<int>(0, 7)];
  // The caller's buffer holds what it declared (or is missing).
  int need = cmd.in_size > cmd.out_size ? cmd.in_size : cmd.out_size;
  bool has_buffer = in.ConsumeBool();
  buffer.assign(need > 0 ? (size_t)need : 0, 0xA5);
  cmd.buffer = has_buffer && !buffer.empty() ? buffer.data() : nullptr;
  return cmd;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_init_logging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  uint8_t which = in.ConsumeIntegral<uint8_t>();

  // The evaluation alone, on a whole sense buffer.
  std::vector<unsigned char> sense = in.ConsumeBytes<unsigned char>(32);
  sense.resize(32, 0);
  int rc = sat_decode_sense(sense.data()).rc;
  if (rc != 0 && rc != 71 && rc != 125 && rc != 5) abort();

  g_in = &in;
  g_descriptor = (which & 0x10) != 0;
  ioctl_fn_t saved = g_ioctl;
  g_ioctl = answer;
  std::vector<unsigned char> buffer;
  ata_data cmd = fuzzed_command(in, buffer);
  switch (which % 4) {
    case 0: {
      CSgSatl sat;
      sat.RunAtaCommand(3, &cmd, in.ConsumeIntegralInRange<int>(0, 60));
      break;
    }
    case 1: {
      CIdeTaskfile ide;
      ide.RunAtaCommand(3, &cmd, 0);
      break;
    }
    case 2: {
      unsigned char id[512];
      CSgSatl sat;
      CIdeTaskfile ide;
      CAtaCmdTransport& t = (which & 4) ? static_cast<CAtaCmdTransport&>(ide) : sat;
      t.Identify(3, id, which & 8);
      break;
    }
    default:
      ata_probe_transport(3);
      break;
  }
  g_ioctl = saved;
  g_in = nullptr;
  return 0;
}
