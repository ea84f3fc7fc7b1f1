#include "fuzz_support.h"

#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <fcntl.h>
#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>
#include <log4cplus/nullappender.h>
#include <sanitizer/asan_interface.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/paths.h"

namespace fs = std::filesystem;

void fuzz_init_logging() {
  static bool done = false;
  if (done) return;
  done = true;
  // Kept for the life of the process: the loggers are used until exit.
  static log4cplus::Initializer* init = new log4cplus::Initializer;
  (void)init;
  log4cplus::Logger root = log4cplus::Logger::getRoot();
  root.addAppender(log4cplus::SharedAppenderPtr(new log4cplus::NullAppender()));
  root.setLogLevel(log4cplus::TRACE_LOG_LEVEL);
}

static std::string* g_fuzz_root_dir = nullptr;

static void remove_root() {
  if (g_fuzz_root_dir && g_fuzz_root_dir->find("/zv-fuzz-") != std::string::npos) {
    std::error_code ec;
    fs::remove_all(*g_fuzz_root_dir, ec);
  }
}

FuzzRoot::FuzzRoot() {
  // A memory file system when there is one: every run rebuilds the tree, and
  // creating and removing files on a disk file system is slow.
  struct stat st;
  std::string base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  // Trees of fuzz processes that were killed (libFuzzer ends its fork-mode
  // workers with a signal) are removed here; the name carries the owner's pid.
  if (DIR* d = opendir(base.c_str())) {
    while (struct dirent* e = readdir(d)) {
      int pid = 0;
      if (sscanf(e->d_name, "zv-fuzz-%d-", &pid) == 1 && pid > 0 && kill(pid, 0) != 0 && errno == ESRCH) {
        std::error_code ec;
        fs::remove_all(base + "/" + e->d_name, ec);
      }
    }
    closedir(d);
  }
  std::string tmpl = base + "/zv-fuzz-" + std::to_string(getpid()) + "-XXXXXX";
  if (!mkdtemp(&tmpl[0])) {
    perror("mkdtemp");
    abort();
  }
  dir = tmpl;
  g_fuzz_root_dir = new std::string(dir);
  atexit(remove_root);
  g_root_prefix = dir;
  Reset();
}

FuzzRoot& FuzzRoot::Get() {
  static FuzzRoot* root = new FuzzRoot;
  // Nothing may have moved the prefix away from the private root.
  if (g_root_prefix != root->dir) abort();
  return *root;
}

void FuzzRoot::Reset() {
  for (const char* sub : {"/sys", "/dev", "/tmp"}) {
    std::error_code ec;
    fs::remove_all(dir + sub, ec);
    if (ec) {
      fprintf(stderr, "cannot empty %s%s: %s\n", dir.c_str(), sub, ec.message().c_str());
      abort();
    }
  }
  MakeDirs("/sys/block");
  MakeDirs("/dev");
  MakeDirs("/tmp");
}

void FuzzRoot::MakeDirs(const std::string& rel) {
  std::error_code ec;
  fs::create_directories(dir + rel, ec);
}

void FuzzRoot::WriteFile(const std::string& rel, const std::string& bytes) {
  std::string path = dir + rel;
  size_t slash = path.rfind('/');
  if (slash != std::string::npos) {
    std::error_code ec;
    fs::create_directories(path.substr(0, slash), ec);
  }
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return;  // a directory of the same name, say: the file is just missing
  if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

std::string fuzz_name(FuzzedDataProvider& in, size_t max_len) {
  static const char chars[] = "abcdefghijklmnopqrstuvwxyz0123456789:._-";
  size_t n = in.ConsumeIntegralInRange<size_t>(1, max_len ? max_len : 1);
  std::string s;
  for (size_t i = 0; i < n; ++i) s += chars[in.ConsumeIntegralInRange<size_t>(0, sizeof chars - 2)];
  if (s == "." || s == "..") s = "x";
  return s;
}

void fuzz_check_region(const void* p, size_t n, const char* what) {
  if (n == 0) return;
  if (!p || __asan_region_is_poisoned(const_cast<void*>(p), n)) {
    fprintf(stderr, "SG_IO header declares %zu bytes of %s that are not addressable\n", n, what);
    abort();
  }
}

int fuzz_answer_sg_io(FuzzedDataProvider& in, sg_io_hdr_t* io) {
  if (!io || io->interface_id != 'S') abort();
  fuzz_check_region(io->cmdp, io->cmd_len, "CDB");
  fuzz_check_region(io->sbp, io->mx_sb_len, "sense buffer");
  fuzz_check_region(io->dxferp, io->dxfer_len, "data area");
  uint8_t mode = in.ConsumeIntegral<uint8_t>();
  if ((mode & 0xE0) == 0xE0) {
    static const int errs[] = {EIO, ENODEV, EINVAL, ENOMEM, EPERM};
    errno = errs[mode % 5];
    return -1;
  }
  io->status = in.ConsumeIntegral<uint8_t>();
  io->masked_status = (io->status >> 1) & 0x7F;
  io->msg_status = 0;
  io->host_status = (mode & 0x01) ? in.ConsumeIntegral<uint16_t>() : 0;
  io->driver_status = (mode & 0x02) ? in.ConsumeIntegral<uint16_t>() : 0;
  io->resid = 0;
  io->sb_len_wr = 0;
  if (io->dxfer_direction == SG_DXFER_FROM_DEV && io->dxferp && io->dxfer_len) {
    size_t n = in.ConsumeIntegralInRange<size_t>(0, io->dxfer_len);
    std::string bytes = in.ConsumeBytesAsString(n);
    memcpy(io->dxferp, bytes.data(), bytes.size());
    io->resid = (int)(io->dxfer_len - bytes.size());
  }
  if ((mode & 0x04) && io->sbp && io->mx_sb_len) {
    size_t n = in.ConsumeIntegralInRange<size_t>(0, io->mx_sb_len);
    std::string bytes = in.ConsumeBytesAsString(n);
    memcpy(io->sbp, bytes.data(), bytes.size());
    io->sb_len_wr = (unsigned char)bytes.size();
    if (bytes.size()) io->driver_status |= 0x08;  // sense data came along
  }
  io->info = (io->status || io->host_status || io->driver_status) ? SG_INFO_CHECK : 0;
  if (mode & 0x08) io->info ^= SG_INFO_CHECK;
  io->duration = in.ConsumeIntegral<uint8_t>();
  return 0;
}

// No device node is ever made while fuzzing: a regular file stands in for
// it, and only inside the private root.
static bool under_root(const char* path) {
  return g_fuzz_root_dir && path && strncmp(path, g_fuzz_root_dir->c_str(), g_fuzz_root_dir->size()) == 0 &&
         path[g_fuzz_root_dir->size()] == '/' && !strstr(path, "/../");
}

extern "C" int mknod(const char* path, mode_t, dev_t) {
  if (!under_root(path)) {
    fprintf(stderr, "mknod outside the fuzz root: %s\n", path);
    abort();
  }
  int fd = open(path, O_CREAT | O_EXCL | O_WRONLY, 0644);
  if (fd < 0) return -1;
  close(fd);
  return 0;
}

extern "C" int mknodat(int, const char* path, mode_t, dev_t) {
  fprintf(stderr, "mknodat while fuzzing: %s\n", path);
  abort();
}
