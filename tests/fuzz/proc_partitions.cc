// The log-medium search over a /proc/partitions and disks from the input;
// mounting, free space and earlier log files are answered from it too, and
// no command reaches a shell.
#include <ctype.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "app/paths.h"
#include "support/fake_platform.h"
#include "devmgr/devmgr.h"
#include "fuzz_support.h"

static FuzzedDataProvider* g_in;

void fuzz_one(FuzzedDataProvider& in) {
  g_in = &in;
  struct Kernel : FakePlatform {
    int Shell(const char* cmd) override {
      if (const char* dev = strstr(cmd, " /dev/"))  // only names of the kind the kernel gives
        for (const char* p = dev + 6; *p && *p != ' '; ++p)
          if (!isalnum((unsigned char)*p) && !strchr("._:+-", *p)) abort();
      return g_in->ConsumeBool() ? 0 : 1;
    }
    int Statvfs(const char*, struct statvfs* st) override {
      memset(st, 0, sizeof *st);
      st->f_flag = g_in->ConsumeBool() ? ST_RDONLY : 0;
      st->f_bfree = g_in->ConsumeIntegral<uint8_t>();
      return g_in->ConsumeBool() ? -1 : 0;
    }
    int GlobCount(const char*) override { return g_in->ConsumeIntegralInRange<int>(0, 3); }
    void ConsoleText(int, int, const char*, bool) override {}
  } kernel;
  std::vector<std::string> disks;
  for (int i = in.ConsumeIntegralInRange<int>(0, 4); i > 0; --i) {
    std::string name = in.ConsumeBool() ? std::string(i & 1 ? "fd0" : "sdb") : fuzz_name(in, 8);
    std::string target = in.ConsumeBool() ? "/sys/devices/usb1/1-1/host" : "/sys/devices/pci0/ata1/host";
    fuzz_dirs(target);
    fuzz_dirs("/sys/block/" + name);
    (void)!symlink(fuzz_path(target).c_str(), fuzz_path("/sys/block/" + name + "/device").c_str());
    disks.push_back(name);
  }
  std::string table = "major minor  #blocks  name\n\n";
  for (int i = in.ConsumeIntegralInRange<int>(0, 8); i > 0 && in.remaining_bytes(); --i) {
    if (in.ConsumeBool() || disks.empty()) {
      table += in.ConsumeRandomLengthString(80) + "\n";
      continue;
    }
    std::string name = disks[in.ConsumeIntegralInRange<size_t>(0, disks.size() - 1)] + in.ConsumeRandomLengthString(6);
    table += std::to_string(in.ConsumeIntegral<int16_t>()) + " " + std::to_string(in.ConsumeIntegral<uint8_t>()) + " " +
             std::to_string(in.ConsumeIntegral<int32_t>()) + " " + name + "\n";
  }
  fuzz_file("/proc/partitions", table);
  CBlkDevMgr mgr;
  int found = mgr.ScanLogDevices("/log"), best = mgr.GetBestLogDeviceIndex();
  if (found != (int)mgr.log_devices.size() || (found > 0 && (best < 0 || best >= found))) abort();
  for (const CLogDev& rec : mgr.log_devices) {  // a line of the table, on a disk that exists, the best one first
    if (rec.blocks <= 1 || rec.score < 1 || rec.score > 4 || table.find(rec.name) == std::string::npos) abort();
    if (rec.disk.empty() || rec.name.compare(0, rec.disk.size(), rec.disk) != 0) abort();
    if (access(fuzz_path("/sys/block/" + rec.disk).c_str(), F_OK) != 0 || rec.score > mgr.log_devices[best].score) abort();
  }
}
