// SCSI: INQUIRY data and VPD pages through the decoders and every page the
// program asks for, sense data in any format, CBlkDevScsi::Init, and the
// WRITE SAME(16) trim on any answer and range.
#include "device/blkdev_scsi.h"
#include "device/scsi.h"
#include "fuzz_support.h"

static void decode(const unsigned char* d) {
  std::string text;
  scsi_append_version_texts(d, text);
  if (scsi_vpd_supported_pages(d).size() > SCSI_INQUIRY_BUFFER - 4 || scsi_vpd_unit_serial(d).size() > SCSI_INQUIRY_BUFFER - 4) abort();
  volatile size_t sink = scsi_inquiry_vendor(d).size() + scsi_inquiry_product(d).size() + scsi_vpd_max_write_same(d) +
                         scsi_vpd_max_unmap_lba(d) + scsi_vpd_provisioning_text(d[5]).size();
  (void)sink;
  scsi_sense_t s = scsi_decode_sense(d);
  bool known = s.response_code >= 0x70 && s.response_code <= 0x73;
  if (s.response_code > 0x7F || known != (s.key != SCSI_SENSE_UNKNOWN) || (known && s.key > 15)) abort();
  if (!scsi_sensecode2txt(s.response_code) || !scsi_sensekey2txt(s.key) || !scsi_status2txt(d[0])) abort();
}

void fuzz_one(FuzzedDataProvider& in) {
  uint8_t which = in.ConsumeIntegral<uint8_t>();
  std::vector<unsigned char> buf = in.ConsumeBytes<unsigned char>(SCSI_INQUIRY_BUFFER);
  buf.resize(SCSI_INQUIRY_BUFFER, 0);
  decode(buf.data());
  const int pages[] = {SCSI_INQUIRY_STANDARD, VPD_SUPPORTED_PAGES, VPD_UNIT_SERIAL, VPD_BLOCK_LIMITS,
                       VPD_LOGICAL_BLOCK_PROVISIONING, 0x42};
  CScsiInquiryCmd cmd;
  for (int i = 0; i < 3 && (which & 1); ++i)
    if (cmd.Run(3, pages[in.ConsumeIntegralInRange<int>(0, 5)]) == 0) decode(cmd.data);
  fuzz_file("/dev/sdz", "");
  CBlkDevData d;
  d.name = "sdz";
  d.model = in.ConsumeRandomLengthString(18);
  CBlkDevScsi dev(d);
  if (which & 2) dev.Init();
  dev.max_write_same_blocks = in.ConsumeBool() ? 0 : in.ConsumeIntegral<uint32_t>() >> in.ConsumeIntegralInRange<int>(0, 31);
  unsigned long lba = in.ConsumeIntegral<unsigned long>() >> in.ConsumeIntegralInRange<int>(0, 63);
  CDevFile file;  // never opened: the ioctl answers
  dev.Trim_helper_trim_range(file, lba, in.ConsumeIntegral<unsigned>() >> in.ConsumeIntegralInRange<int>(0, 31));
}
