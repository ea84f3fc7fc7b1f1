// The NVMe data pages the drive sends (Identify Controller and Namespace,
// SMART / Health, Sanitize Status) as the decoders read them, the erase
// chosen from them, the status texts and the namespace name rule.
#include <string.h>

#include "fuzz_support.h"
#include "nvme/nvme_codec.h"

void fuzz_one(FuzzedDataProvider& in) {
  int status = in.ConsumeIntegral<int>(), sanact = in.ConsumeIntegralInRange<int>(0, 7);
  std::string name = in.ConsumeRandomLengthString(24);
  std::vector<unsigned char> page = in.ConsumeRemainingBytes<unsigned char>();
  page.resize(NVME_IDENTIFY_SIZE, 0);
  const unsigned char* p = page.data();

  nvme_ctrl_info_t c = nvme_decode_id_ctrl(p);
  for (const std::string* s : {&c.model, &c.serial, &c.firmware})
    if (!s->empty() && (s->front() == ' ' || s->back() == ' ')) abort();
  if (c.model.size() > 40 || c.serial.size() > 20 || c.firmware.size() > 8) abort();
  nvme_erase_plan_t e = nvme_choose_erase(c);
  if ((e.kind == NVME_ERASE_SANITIZE) != ((c.sanicap & 3) != 0) || !e.name) abort();
  if (e.kind == NVME_ERASE_FORMAT && e.action != 1 && e.action != 2) abort();

  nvme_ns_info_t n = nvme_decode_id_ns(p);
  if (n.lba_bytes && (n.lba_bytes < 512 || (n.lba_bytes & (n.lba_bytes - 1)))) abort();
  nvme_health_t h = nvme_decode_smart_log(p);
  if (h.temperature_c < -273 || nvme_health_text(h).empty()) abort();
  nvme_sanitize_status_t st = nvme_decode_sanitize_log(p, sanact);
  if (st.state < 0 || st.state > 7) abort();
  if (!nvme_status_text(status)) abort();
  if (nvme_is_namespace_name(name) && (name.compare(0, 4, "nvme") || name.find('p') != std::string::npos)) abort();
}
