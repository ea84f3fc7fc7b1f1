#include "device/chunk_pool.h"

#include <fstream>
#include <string>

#include "app/log.h"
#include "app/paths.h"

CChunkPool::CChunkPool(size_t areas) : capacity(areas) {}

CChunkPool& CChunkPool::Instance() {
  static CChunkPool process(MachineAreas());
  return process;
}

size_t CChunkPool::MachineAreas() {
  std::ifstream in(sys_path("/proc/meminfo"));
  std::string key;
  unsigned long long kib = 0;
  while (in >> key && key != "MemAvailable:") in.ignore(1 << 10, '\n');
  if (key == "MemAvailable:" && !(in >> kib)) kib = 0;
  size_t areas = (size_t)(kib * 1024 / 8 / kAreaSize);
  return areas < 2 ? 2 : areas;
}

unsigned char* CChunkPool::TryAcquire() {
  {
    CLockWrapper g(mutex);
    if (used >= capacity) return nullptr;
    ++used;
  }
  // Mapped outside the lock: nothing but the count is taken under it.
  void* area = platform().MapMemory(kAreaSize);
  if (area) return static_cast<unsigned char*>(area);
  bool first;
  {
    CLockWrapper g(mutex);
    --used;
    first = !failure_logged;
    failure_logged = true;
  }
  if (first) LOG_DEBUG(g_dbg_log, "No memory for an extra chunk area; wipes go on with their own two areas");
  return nullptr;
}

void CChunkPool::Release(unsigned char* area) {
  if (!area) return;
  platform().UnmapMemory(area, kAreaSize);
  CLockWrapper g(mutex);
  --used;
}

size_t CChunkPool::InUse() {
  CLockWrapper g(mutex);
  return used;
}
