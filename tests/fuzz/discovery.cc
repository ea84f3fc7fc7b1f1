// Discovery of one /sys/block entry as the device manager does it:
// CBlkDevProbe::CreateFromSysBlock reads size, dev, device/type, model and
// vendor and resolves the device link, asks the drive through the ioctl seam
// which command set it answers, picks the class; then the device's Init()
// and partition scan run. Attribute contents, the link target (on a USB bus
// or not) and every drive answer come from the input. The node in the fake
// /dev is a regular file (made by the fuzz mknod when missing).
#include <errno.h>
#include <linux/fd.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "app/paths.h"
#include "ata/ata_transport.h"
#include "devmgr/blkdev_probe.h"
#include "fuzz_support.h"

namespace {

FuzzedDataProvider* g_in = nullptr;
bool g_descriptor = false;

int answer(int, unsigned long request, void* arg) {
  if (request == SG_IO) {
    sg_io_hdr_t* io = static_cast<sg_io_hdr_t*>(arg);
    int rc = fuzz_answer_sg_io(*g_in, io);
    if (rc == 0 && g_descriptor && io->cmd_len == 16 && io->mx_sb_len >= 10) {
      io->sbp[0] = 0x72;
      io->sbp[7] = 14;
      io->sbp[8] = 0x09;
      io->sbp[9] = 0x0C;
    }
    return rc;
  }
  if (request == HDIO_DRIVE_TASKFILE) {
    unsigned char* block = static_cast<unsigned char*>(arg);
    ide_task_request_t* h = reinterpret_cast<ide_task_request_t*>(block);
    fuzz_check_region(block, IDE_TASK_HEADER_SIZE + (h->in_size > h->out_size ? h->in_size : h->out_size),
                      "taskfile request");
    if (g_in->ConsumeBool()) {
      errno = ENOTTY;
      return -1;
    }
    std::vector<unsigned char> regs = g_in->ConsumeBytes<unsigned char>(16);
    regs.resize(16, 0);
    memcpy(h->io_ports, regs.data(), 8);
    memcpy(h->hob_ports, regs.data() + 8, 8);
    if (h->req_cmd == IDE_DRIVE_TASK_IN && h->in_size) {
      std::vector<unsigned char> d = g_in->ConsumeBytes<unsigned char>(h->in_size);
      if (!d.empty()) memcpy(block + IDE_TASK_HEADER_SIZE, d.data(), d.size());
    }
    return 0;
  }
  if (request == BLKGETSIZE64 || request == SG_GET_VERSION_NUM || request == FDGETPRM) {
    if (g_in->ConsumeBool()) {
      errno = ENOTTY;
      return -1;
    }
    if (request == BLKGETSIZE64) *static_cast<uint64_t*>(arg) = g_in->ConsumeIntegral<uint64_t>();
    if (request == SG_GET_VERSION_NUM) *static_cast<int*>(arg) = g_in->ConsumeIntegral<int>();
    if (request == FDGETPRM) memset(arg, 0, sizeof(struct floppy_struct));
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
  static const char* const names[] = {"sda", "sdb", "hda", "sr0", "fd0", "mmcblk0"};
  const std::string name = names[in.ConsumeIntegralInRange<int>(0, 5)];
  const std::string block = "/sys/block/" + name;
  uint8_t layout = in.ConsumeIntegral<uint8_t>();
  g_descriptor = layout & 0x80;

  // The device directory, on a USB 2 bus, another USB bus or a PCI controller.
  static const char* const buses[] = {"/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0",
                                      "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0",
                                      "/sys/devices/pci0000:00/0000:00:14.0/usb3/3-1/3-1:1.0/host7/target7:0:0/7:0:0:0",
                                      "/sys/devices/platform/mmc0/mmc_host/mmc0/mmc0:0001"};
  const std::string device = buses[layout & 3];
  root.MakeDirs(device);
  root.MakeDirs(block);
  if (layout & 0x04) (void)!symlink(("../../" + device.substr(5)).c_str(), root.Path(block + "/device").c_str());
  static const char* const attrs[] = {"/size", "/dev", "/device/type", "/device/model", "/device/vendor",
                                      "/device/name", "/device/serial", "/device/date"};
  uint8_t present = in.ConsumeIntegral<uint8_t>();
  for (int i = 0; i < 8; ++i)
    if (present & (1 << i)) root.WriteFile(block + attrs[i], in.ConsumeRandomLengthString(24));
  if (layout & 0x08) root.WriteFile("/dev/" + name, in.ConsumeRandomLengthString(4));
  if (layout & 0x10) root.WriteFile(block + "/" + name + "1/size", in.ConsumeRandomLengthString(12));

  g_in = &in;
  ioctl_fn_t saved = g_ioctl;
  g_ioctl = answer;
  {
    CBlkDevProbe probe;
    std::unique_ptr<CBlkDev> dev(probe.CreateFromSysBlock(name.c_str()));
    if (dev) {
      if (dev->name != name) abort();
      dev->Init();
      dev->ScanPartitions();
    }
  }
  g_ioctl = saved;
  g_in = nullptr;
  return 0;
}
