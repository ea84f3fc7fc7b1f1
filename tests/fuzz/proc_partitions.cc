// The log-medium search: CBlkDevMgr::ScanLogDevices over a /proc/partitions
// whose lines come from the input, against fake /sys/block disks (on a USB
// bus or not, floppies) also from the input. Mounting, unmounting, the free
// space and the count of earlier log files are answered from the input; no
// command reaches a shell.
#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "app/paths.h"
#include "devmgr/devmgr.h"
#include "fuzz_support.h"

namespace {

FuzzedDataProvider* g_in = nullptr;

int answer_shell(const char* cmd) {
  // Only names of the kind the kernel gives reach a command line.
  if (const char* dev = strstr(cmd, " /dev/"))
    for (const char* p = dev + 6; *p && *p != ' '; ++p)
      if (!isalnum((unsigned char)*p) && !strchr("._:+-", *p)) abort();
  return g_in->ConsumeBool() ? 0 : g_in->ConsumeIntegralInRange<int>(1, 255);
}

int answer_statvfs(const char*, struct statvfs* st) {
  if (g_in->ConsumeBool()) return -1;
  memset(st, 0, sizeof *st);
  st->f_flag = g_in->ConsumeBool() ? ST_RDONLY : 0;
  st->f_bfree = g_in->ConsumeIntegral<uint8_t>();
  return 0;
}

int answer_glob(const char*) { return g_in->ConsumeIntegralInRange<int>(0, 3); }

void quiet(int, int, const char*, bool) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_init_logging();
  FuzzRoot::Get();
  g_shell_runner = answer_shell;
  g_logdev_statvfs = answer_statvfs;
  g_logdev_glob_count = answer_glob;
  g_logdev_text_out = quiet;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  g_in = &in;
  FuzzRoot& root = FuzzRoot::Get();
  root.Reset();

  // The disks: a name, and where their device link points.
  std::vector<std::string> disks;
  int ndisks = in.ConsumeIntegralInRange<int>(0, 4);
  for (int i = 0; i < ndisks; ++i) {
    std::string name = in.ConsumeBool() ? std::string(i & 1 ? "fd0" : "sdb") : fuzz_name(in, 8);
    root.MakeDirs("/sys/block/" + name);
    root.MakeDirs(in.ConsumeBool() ? "/sys/devices/usb1/1-1/host" : "/sys/devices/pci0/ata1/host");
    std::string target = in.ConsumeBool() ? "/sys/devices/usb1/1-1/host" : "/sys/devices/pci0/ata1/host";
    if (symlink(root.Path(target).c_str(), root.Path("/sys/block/" + name + "/device").c_str()) != 0 &&
        in.ConsumeBool())
      root.WriteFile("/sys/block/" + name + "/device", "");
    disks.push_back(name);
  }

  // /proc/partitions: the header, then lines well formed around those disks
  // or arbitrary.
  std::string table = "major minor  #blocks  name\n\n";
  int nlines = in.ConsumeIntegralInRange<int>(0, 8);
  for (int i = 0; i < nlines && in.remaining_bytes(); ++i) {
    if (in.ConsumeBool() || disks.empty()) {
      table += in.ConsumeRandomLengthString(80) + "\n";
      continue;
    }
    std::string name = disks[in.ConsumeIntegralInRange<size_t>(0, disks.size() - 1)];
    if (in.ConsumeBool()) name += in.ConsumeRandomLengthString(6);
    table += std::to_string(in.ConsumeIntegral<int16_t>()) + " " + std::to_string(in.ConsumeIntegral<uint8_t>()) +
             " " + std::to_string(in.ConsumeIntegral<int32_t>()) + " " + name + "\n";
  }
  root.WriteFile("/proc/partitions", table);

  CBlkDevMgr mgr;
  int found = mgr.ScanLogDevices("/log");
  if (found != (int)mgr.log_devices.size()) abort();

  // Every candidate is a line of the table on a disk that exists, a USB
  // disk or a floppy, that mounted with free space; the best one has the
  // highest score.
  int best = mgr.GetBestLogDeviceIndex();
  if (found > 0 && (best < 0 || best >= found)) abort();
  for (const CLogDev& rec : mgr.log_devices) {
    if (rec.blocks <= 1 || rec.score < 1 || rec.score > 4) abort();
    if (table.find(rec.name) == std::string::npos) abort();
    if (rec.disk.empty() || rec.name.compare(0, rec.disk.size(), rec.disk) != 0) abort();
    if (access(root.Path("/sys/block/" + rec.disk).c_str(), F_OK) != 0) abort();
    if (rec.score > mgr.log_devices[(size_t)best].score) abort();
  }
  g_in = nullptr;
  return 0;
}
