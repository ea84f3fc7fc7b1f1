// DEVICE CONFIGURATION IDENTIFY data: the maximum LBA and the checksum, the
// rewrite that SET DCO sends back, and CBlkDevAta::GetDCOSize reading the
// sector through the SCSI/ATA translation (SG_IO answered from the input).
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "app/paths.h"
#include "ata/ata_blocks.h"
#include "ata/blkdev_ata.h"
#include "fuzz_support.h"

namespace {

FuzzedDataProvider* g_in = nullptr;
std::vector<unsigned char> g_sector;
bool g_valid_sense = false;

// The drive: the DCO sector as data, and an ATA Status Return descriptor
// that is either valid (status and error from the input) or all fuzzed.
int answer(int, unsigned long request, void* arg) {
  if (request != SG_IO) {
    errno = ENOTTY;
    return -1;
  }
  sg_io_hdr_t* io = static_cast<sg_io_hdr_t*>(arg);
  if (!g_valid_sense) return fuzz_answer_sg_io(*g_in, io);
  fuzz_check_region(io->sbp, io->mx_sb_len, "sense buffer");
  fuzz_check_region(io->dxferp, io->dxfer_len, "data area");
  if (io->mx_sb_len < 22) abort();
  unsigned char* sense = io->sbp;
  sense[0] = 0x72;
  sense[7] = 14;
  sense[8] = 0x09;
  sense[9] = 0x0C;
  sense[11] = g_in->ConsumeIntegral<uint8_t>() & ~0x04;
  sense[21] = g_in->ConsumeIntegral<uint8_t>() & ~0x01;
  io->sb_len_wr = 22;
  io->status = 2;
  io->driver_status = 0x08;
  io->info = SG_INFO_CHECK;
  if (io->dxfer_direction == SG_DXFER_FROM_DEV)
    memcpy(io->dxferp, g_sector.data(), g_sector.size() < io->dxfer_len ? g_sector.size() : io->dxfer_len);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_init_logging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  uint8_t flags = in.ConsumeIntegral<uint8_t>();
  uint64_t new_max = in.ConsumeIntegral<uint64_t>();
  std::vector<unsigned char> dco = in.ConsumeBytes<unsigned char>(ATA_SECTOR);
  dco.resize(ATA_SECTOR, 0);
  if (flags & 0x01) ata_fix_checksum(dco.data());

  volatile uint64_t max = dco_get_max_lba(dco.data());
  volatile unsigned sum = ata_sector_sum(dco.data());
  (void)max;
  (void)sum;
  std::vector<unsigned char> set(dco);
  dco_set_max_lba(set.data(), new_max);
  if (dco_get_max_lba(set.data()) != new_max || ata_sector_sum(set.data()) != 0) abort();
  if (memcmp(set.data(), dco.data(), 6) != 0 || memcmp(set.data() + 14, dco.data() + 14, ATA_SECTOR - 15) != 0) abort();

  g_in = &in;
  g_sector = dco;
  g_valid_sense = (flags & 0x02) != 0;
  ioctl_fn_t saved = g_ioctl;
  g_ioctl = answer;
  CBlkDevAta dev(CBlkDevAta::TRANSPORT_SAT);
  dev.name = "sdz";
  uint64_t bytes = dev.GetDCOSize(3);
  if (g_valid_sense && bytes != (dco_get_max_lba(dco.data()) + 1) * 512) abort();
  g_ioctl = saved;
  g_in = nullptr;
  return 0;
}
