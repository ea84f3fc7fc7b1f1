// What the ATA transports take back from the kernel for any register image
// and buffer sizes: SAT sense data and data, the taskfile registers and data.
#include "ata/ata_transport.h"
#include "fuzz_support.h"

void fuzz_one(FuzzedDataProvider& in) {
  uint8_t which = in.ConsumeIntegral<uint8_t>();
  std::vector<unsigned char> sense = in.ConsumeBytes<unsigned char>(32);
  sense.resize(32, 0);
  int rc = sat_decode_sense(sense.data()).rc;
  if (rc != 0 && rc != 71 && rc != 125 && rc != 5) abort();
  ata_data cmd;
  cmd.data = in.ConsumeIntegral<uint16_t>(), cmd.feature = in.ConsumeIntegral<uint16_t>();
  cmd.count = in.ConsumeIntegral<uint16_t>(), cmd.head = in.ConsumeIntegral<uint16_t>();
  for (auto& b : cmd.lba) b = in.ConsumeIntegral<uint8_t>();
  cmd.command = in.ConsumeIntegral<uint16_t>();
  cmd.short_cdb = in.ConsumeBool();
  cmd.direction = in.ConsumeIntegralInRange<int>(-1, 4);
  const int sizes[] = {0, 1, 511, 512, 513, 4096, 4097, -1};
  cmd.in_size = sizes[in.ConsumeIntegralInRange<int>(0, 7)];
  cmd.out_size = sizes[in.ConsumeIntegralInRange<int>(0, 7)];
  std::vector<unsigned char> buffer(std::max(0, std::max(cmd.in_size, cmd.out_size)), 0xA5);  // what it declared
  cmd.buffer = in.ConsumeBool() && !buffer.empty() ? buffer.data() : nullptr;
  fuzz_well_formed = which & 0x10;
  CSgSatl sat;
  CIdeTaskfile ide;
  CAtaCmdTransport& t = (which & 1) ? (CAtaCmdTransport&)ide : sat;
  unsigned char id[512];
  if (which & 2) t.Identify(3, id, which & 4);
  else if (which & 8) ata_probe_transport(3);
  else t.RunAtaCommand(3, &cmd, 0);
}
