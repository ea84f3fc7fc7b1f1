// INQUIRY data and VPD pages: the pure decoders on a whole answer buffer,
// CScsiInquiryCmd for every page the program asks for, and CBlkDevScsi::Init
// on a fake /dev node, with each SG_IO answered from the input.
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
  if (request == SG_GET_VERSION_NUM) {
    if (g_in->ConsumeBool()) {
      errno = ENOTTY;
      return -1;
    }
    *static_cast<int*>(arg) = g_in->ConsumeIntegral<int>();
    return 0;
  }
  if (request != SG_IO) {
    errno = ENOTTY;
    return -1;
  }
  sg_io_hdr_t* io = static_cast<sg_io_hdr_t*>(arg);
  // Most real answers carry the page asked for: let the input say when not.
  int rc = fuzz_answer_sg_io(*g_in, io);
  if (rc == 0 && io->cmd_len >= 3 && io->cmdp[0] == 0x12 && (io->cmdp[1] & 1) && io->dxfer_len > 1 &&
      g_in->ConsumeBool())
    static_cast<unsigned char*>(io->dxferp)[1] = io->cmdp[2];
  return rc;
}

void decode(const unsigned char* d) {
  std::string text;
  volatile size_t sink = scsi_inquiry_vendor(d).size() + scsi_inquiry_product(d).size();
  for (int i = -1; i <= 8; ++i) sink = (size_t)scsi_inquiry_version_descriptor(d, i);
  scsi_append_version_texts(d, text);
  if (scsi_vpd_supported_pages(d).size() > (size_t)SCSI_INQUIRY_BUFFER - 4) abort();
  if (scsi_vpd_unit_serial(d).size() > (size_t)SCSI_INQUIRY_BUFFER - 4) abort();
  sink = scsi_vpd_max_write_same(d) + scsi_vpd_max_unmap_lba(d) + scsi_vpd_provisioning_text(d[5]).size();
  if (const char* t = scsi_version_descriptor_text(d[0] << 8 | d[1])) sink = strlen(t);
  (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_init_logging();
  FuzzRoot::Get();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  uint8_t which = in.ConsumeIntegral<uint8_t>();
  // The decoders read a whole 256-byte answer buffer, as CScsiInquiryCmd has.
  std::vector<unsigned char> buf = in.ConsumeBytes<unsigned char>(SCSI_INQUIRY_BUFFER);
  buf.resize(SCSI_INQUIRY_BUFFER, 0);
  decode(buf.data());

  g_in = &in;
  ioctl_fn_t saved = g_ioctl;
  g_ioctl = answer;
  if (which & 1) {
    static const int pages[] = {SCSI_INQUIRY_STANDARD, VPD_SUPPORTED_PAGES, VPD_UNIT_SERIAL,
                                VPD_DEVICE_IDENTIFICATION, VPD_EXTENDED_INQUIRY, VPD_BLOCK_LIMITS,
                                VPD_LOGICAL_BLOCK_PROVISIONING, 0x42};
    CScsiInquiryCmd cmd;
    for (int i = 0; i < 4 && in.remaining_bytes(); ++i) {
      if (cmd.Run(3, pages[in.ConsumeIntegralInRange<int>(0, 7)]) == 0) decode(cmd.data);
    }
    scsi_probe_inquiry(3);
  } else {
    FuzzRoot& root = FuzzRoot::Get();
    root.Reset();
    root.WriteFile("/dev/sdz", "");
    CBlkDevData d;
    d.name = "sdz";
    d.major = 241;
    d.minor = 3;
    d.type_name = in.ConsumeRandomLengthString(16);
    d.vendor = in.ConsumeRandomLengthString(10);
    d.model = in.ConsumeRandomLengthString(18);
    d.size_bytes = in.ConsumeIntegral<uint64_t>();
    CBlkDevScsi dev(d);
    dev.Init();
    if (which & 2) dev.Refresh();
  }
  g_ioctl = saved;
  g_in = nullptr;
  return 0;
}
