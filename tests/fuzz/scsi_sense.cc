// SCSI sense data, fixed and descriptor format: the pure decoder and texts,
// and the sense evaluation of the SCSI TRIM command (WRITE SAME(16) with
// UNMAP) with the SG_IO answer, status and sense bytes taken from the input.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "app/paths.h"
#include "device/blkdev_scsi.h"
#include "device/scsi.h"
#include "fuzz_support.h"

namespace {

FuzzedDataProvider* g_in = nullptr;

int answer(int, unsigned long request, void* arg) {
  if (request != SG_IO) {
    errno = ENOTTY;
    return -1;
  }
  return fuzz_answer_sg_io(*g_in, static_cast<sg_io_hdr_t*>(arg));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_init_logging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  std::vector<unsigned char> sense = in.ConsumeBytes<unsigned char>(SCSI_SENSE_LEN);
  sense.resize(SCSI_SENSE_LEN, 0);
  scsi_sense_t s = scsi_decode_sense(sense.data());
  if (s.response_code < 0 || s.response_code > 0x7F) abort();
  bool known = s.response_code >= 0x70 && s.response_code <= 0x73;
  if (known != (s.key != SCSI_SENSE_UNKNOWN) || (known && (s.key > 15 || s.asc > 255 || s.ascq > 255))) abort();
  if (!scsi_sensecode2txt(s.response_code) || !scsi_sensekey2txt(s.key) || !scsi_status2txt(sense[0]) ||
      !scsi_status2txt(-(int)sense[1]))
    abort();

  g_in = &in;
  ioctl_fn_t saved = g_ioctl;
  g_ioctl = answer;
  {
    CBlkDevScsi dev;
    dev.name = "sdz";
    uint64_t limit = in.ConsumeIntegral<uint32_t>() >> in.ConsumeIntegralInRange<int>(0, 31);
    dev.max_write_same_blocks = in.ConsumeBool() ? 0 : limit;
    unsigned long lba = in.ConsumeIntegral<unsigned long>() >> in.ConsumeIntegralInRange<int>(0, 63);
    unsigned count = in.ConsumeIntegral<unsigned>() >> in.ConsumeIntegralInRange<int>(0, 31);
    CDevFile file;  // never opened: the ioctl seam answers
    dev.Trim_helper_trim_range(file, lba, count);
  }
  g_ioctl = saved;
  g_in = nullptr;
  return 0;
}
