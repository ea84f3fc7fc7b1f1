// The whole ATA probe: CBlkDevAta::Init (and Refresh, PreWipe) through the
// SCSI/ATA translation or the IDE taskfile on a fake /dev node, with every
// answer of the drive (IDENTIFY, READ NATIVE MAX, DCO IDENTIFY, SMART status
// and data, the kernel's size) taken from the input. In "well-formed" runs
// the sense data carry a valid ATA Status Return descriptor and the data
// sectors a valid checksum, so that the fuzzing reaches the later steps.
#include <errno.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "app/globals.h"
#include "app/paths.h"
#include "ata/ata_blocks.h"
#include "ata/blkdev_ata.h"
#include "fuzz_support.h"

namespace {

FuzzedDataProvider* g_in = nullptr;
bool g_well_formed = false;

void fill_data(unsigned char* area, size_t len, bool sector_command) {
  std::vector<unsigned char> d = g_in->ConsumeBytes<unsigned char>(len);
  if (!d.empty()) memcpy(area, d.data(), d.size());
  if (sector_command && len >= (size_t)ATA_SECTOR && g_in->ConsumeBool()) ata_fix_checksum(area);
}

int answer_sg_io(sg_io_hdr_t* io) {
  if (!g_well_formed) return fuzz_answer_sg_io(*g_in, io);
  fuzz_check_region(io->cmdp, io->cmd_len, "CDB");
  fuzz_check_region(io->sbp, io->mx_sb_len, "sense buffer");
  fuzz_check_region(io->dxferp, io->dxfer_len, "data area");
  if (io->mx_sb_len < 22 || io->cmd_len < 15) abort();
  unsigned char* s = io->sbp;
  s[0] = 0x72;
  s[7] = 14;
  s[8] = 0x09;
  s[9] = 0x0C;
  std::vector<unsigned char> regs = g_in->ConsumeBytes<unsigned char>(12);
  regs.resize(12, 0);
  memcpy(s + 10, regs.data(), 12);  // extend, error, count, LBA, device, status
  io->sb_len_wr = 22;
  io->status = 2;
  io->driver_status = 0x08;
  io->info = SG_INFO_CHECK;
  if (io->dxfer_direction == SG_DXFER_FROM_DEV && io->dxfer_len)
    fill_data(static_cast<unsigned char*>(io->dxferp), io->dxfer_len, true);
  return 0;
}

int answer_taskfile(unsigned char* block) {
  ide_task_request_t* h = reinterpret_cast<ide_task_request_t*>(block);
  fuzz_check_region(block, IDE_TASK_HEADER_SIZE + (h->in_size > h->out_size ? h->in_size : h->out_size),
                    "taskfile request");
  if (!g_well_formed && g_in->ConsumeIntegral<uint8_t>() >= 0xE0) {
    errno = EIO;
    return -1;
  }
  std::vector<unsigned char> regs = g_in->ConsumeBytes<unsigned char>(16);
  regs.resize(16, 0);
  memcpy(h->io_ports, regs.data(), 8);
  memcpy(h->hob_ports, regs.data() + 8, 8);
  if (h->req_cmd == IDE_DRIVE_TASK_IN && h->in_size) fill_data(block + IDE_TASK_HEADER_SIZE, h->in_size, true);
  return 0;
}

int answer(int, unsigned long request, void* arg) {
  if (request == SG_IO) return answer_sg_io(static_cast<sg_io_hdr_t*>(arg));
  if (request == HDIO_DRIVE_TASKFILE) return answer_taskfile(static_cast<unsigned char*>(arg));
  if (request == BLKGETSIZE64) {
    if (g_in->ConsumeIntegralInRange<int>(0, 7) == 0) {
      errno = ENOTTY;
      return -1;
    }
    *static_cast<uint64_t*>(arg) = g_in->ConsumeIntegral<uint64_t>();
    return 0;
  }
  errno = ENOTTY;
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_init_logging();
  FuzzRoot::Get();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  FuzzRoot& root = FuzzRoot::Get();
  root.Reset();
  root.WriteFile("/dev/sdz", "");
  uint8_t flags = in.ConsumeIntegral<uint8_t>();
  g_in = &in;
  g_well_formed = flags & 0x01;
  g_debuglevel = (flags & 0x04) ? 1 : 0;
  ioctl_fn_t saved = g_ioctl;
  g_ioctl = answer;
  {
    CBlkDevAta dev((flags & 0x02) ? CBlkDevAta::TRANSPORT_IDE : CBlkDevAta::TRANSPORT_SAT);
    dev.name = "sdz";
    dev.major = 241;
    dev.minor = 3;
    if (dev.Init() == 0) {
      dev.PreWipe();
      dev.SupportsHardwareWipe();
      dev.NeedReboot();
    }
    if (flags & 0x08) dev.Refresh();
  }
  g_ioctl = saved;
  g_debuglevel = 0;
  g_in = nullptr;
  return 0;
}
