#include "fuzz_support.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/fd.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>
#include <log4cplus/nullappender.h>
#include <sanitizer/asan_interface.h>
#include <scsi/sg.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>

#include "app/paths.h"
#include "ata/ata_blocks.h"
#include "support/fake_platform.h"

namespace fs = std::filesystem;

bool fuzz_well_formed = false;
static FuzzedDataProvider* g_in = nullptr;
static std::string* g_dir = nullptr;  // the private root

std::string fuzz_path(const std::string& rel) { return *g_dir + rel; }
void fuzz_dirs(const std::string& rel) {
  std::error_code ec;
  fs::create_directories(*g_dir + rel, ec);
}
void fuzz_file(const std::string& rel, const std::string& bytes) {
  fuzz_dirs(rel.substr(0, rel.rfind('/')));
  if (FILE* f = fopen(fuzz_path(rel).c_str(), "wb")) {  // a directory of that name: the file is just missing
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }
}

std::string fuzz_name(FuzzedDataProvider& in, size_t max_len) {
  static const char chars[] = "abcdefghijklmnopqrstuvwxyz0123456789:._-";
  std::string s;
  for (size_t n = in.ConsumeIntegralInRange<size_t>(1, max_len); n > 0; --n)
    s += chars[in.ConsumeIntegralInRange<size_t>(0, sizeof chars - 2)];
  return s == "." || s == ".." ? "x" : s;
}

// Aborts unless [p, p + n) is addressable: the program must declare only buffers it has.
static void check(const void* p, size_t n) {
  if (n && (!p || __asan_region_is_poisoned(const_cast<void*>(p), n))) abort();
}

static void give(void* to, size_t max, bool sector) {
  std::string b = g_in->ConsumeBytesAsString(g_in->ConsumeIntegralInRange<size_t>(0, max));
  memcpy(to, b.data(), b.size());
  if (sector && max >= 512 && g_in->ConsumeBool()) ata_fix_checksum(static_cast<unsigned char*>(to));
}

static int answer_sg_io(sg_io_hdr_t* io) {
  if (io->interface_id != 'S') abort();
  check(io->cmdp, io->cmd_len);
  check(io->sbp, io->mx_sb_len);
  check(io->dxferp, io->dxfer_len);
  uint8_t mode = g_in->ConsumeIntegral<uint8_t>();
  if ((mode & 0xE0) == 0xE0 && !fuzz_well_formed) return errno = (mode & 1) ? EIO : ENODEV, -1;
  io->status = g_in->ConsumeIntegral<uint8_t>();
  io->host_status = (mode & 0x01) ? g_in->ConsumeIntegral<uint16_t>() : 0;
  io->driver_status = (mode & 0x02) ? g_in->ConsumeIntegral<uint16_t>() : 0;
  io->sb_len_wr = 0, io->resid = 0;
  if (io->dxfer_direction == SG_DXFER_FROM_DEV && io->dxfer_len) {
    give(io->dxferp, io->dxfer_len, fuzz_well_formed);
    // Most answers carry the VPD page asked for.
    if (io->cmd_len >= 3 && io->cmdp[0] == 0x12 && (mode & 0x10) && io->dxfer_len > 1)
      static_cast<unsigned char*>(io->dxferp)[1] = io->cmdp[2];
  }
  if (((mode & 0x04) || fuzz_well_formed) && io->mx_sb_len) {
    give(io->sbp, io->mx_sb_len, false);
    io->sb_len_wr = io->mx_sb_len, io->driver_status |= 0x08;
    if (fuzz_well_formed && io->mx_sb_len >= 10) memcpy(io->sbp, "\x72\0\0\0\0\0\0\x0e\x09\x0c", 10);
  }
  io->info = (io->status || io->host_status || io->driver_status) ? SG_INFO_CHECK : 0;
  return 0;
}

static int answer(int, unsigned long request, void* arg) {
  if (!g_in) abort();
  if (request == SG_IO) return answer_sg_io(static_cast<sg_io_hdr_t*>(arg));
  if (!fuzz_well_formed && g_in->ConsumeIntegral<uint8_t>() >= 0xE0) return errno = EIO, -1;
  if (request == HDIO_DRIVE_TASKFILE) {
    unsigned char* block = static_cast<unsigned char*>(arg);
    ide_task_request_t* h = reinterpret_cast<ide_task_request_t*>(block);
    check(block, sizeof(ide_task_request_t) + std::max(h->in_size, h->out_size));
    give(h->io_ports, 8, false), give(h->hob_ports, 8, false);
    if (h->req_cmd == IDE_DRIVE_TASK_IN && h->in_size) give(block + sizeof(ide_task_request_t), h->in_size, true);
    return 0;
  }
  if (request == BLKGETSIZE64) return *static_cast<uint64_t*>(arg) = g_in->ConsumeIntegral<uint64_t>(), 0;
  if (request == SG_GET_VERSION_NUM) return *static_cast<int*>(arg) = g_in->ConsumeIntegral<int>(), 0;
  if (request == FDGETPRM) return memset(arg, 0, sizeof(struct floppy_struct)), 0;
  return errno = ENOTTY, -1;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static log4cplus::Initializer* init = new log4cplus::Initializer;  // kept, reachable, for the life of the process
  (void)init;
  log4cplus::Logger root = log4cplus::Logger::getRoot();
  root.addAppender(log4cplus::SharedAppenderPtr(new log4cplus::NullAppender()));
  root.setLogLevel(log4cplus::TRACE_LOG_LEVEL);
  std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string tmpl = base + "/zv-fuzz-" + std::to_string(getpid()) + "-XXXXXX";
  if (!mkdtemp(&tmpl[0])) abort();
  g_dir = new std::string(tmpl);
  atexit([] { fs::remove_all(*g_dir); });
  // The private root, every ioctl answered from the input, and no device node
  // ever made: a regular file stands in for it.
  struct Fuzzed : FakePlatform {
    const std::string& RootPrefix() override { return *g_dir; }
    int Ioctl(int fd, unsigned long request, void* arg) override { return answer(fd, request, arg); }
    int MakeNode(const char* path, int, int) override {
      size_t n = g_dir->size();
      if (strncmp(path, g_dir->c_str(), n) != 0 || path[n] != '/' || strstr(path, "/../")) abort();
      int fd = open(path, O_CREAT | O_EXCL | O_WRONLY, 0644);
      return fd < 0 ? -1 : close(fd);
    }
  };
  static Fuzzed fuzzed;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (const char* sub : {"/sys", "/dev", "/tmp", "/proc"}) fs::remove_all(*g_dir + sub);
  for (const char* sub : {"/sys/block", "/dev", "/tmp"}) fuzz_dirs(sub);
  FuzzedDataProvider in(data, size);
  g_in = &in, fuzz_well_formed = false;
  fuzz_one(in);
  g_in = nullptr;
  return 0;
}
