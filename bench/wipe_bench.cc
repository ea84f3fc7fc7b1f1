// Wipe throughput against the target's own limits. Runs every pass type over
// a loop device or an image file with the wipe's own pass loops, unverified
// and verified, and prints MB/s next to the raw sequential write and read
// speed of the same target measured in the same run (O_DIRECT, 16 MiB
// blocks), as a ratio. Also prints the generation limit of the random data
// on one core and on the whole generation pool, and, for comparison, the
// speed of a plain loop that generates a chunk and then writes it.
//
//   wipe_bench TARGET [MiB [RUNS [PASSES]]]
//   wipe_bench --drives LOOP...
//
// TARGET must be a loop device or a regular file (an image on tmpfs, say):
// anything else is refused, so that no real disk is ever written. MiB limits
// the bytes used (default: all of the target, at most 1024). Every figure is
// the median of RUNS runs (default 3); on a machine shared with other work
// the ratios are the figures to look at, since a pass and its raw run are
// measured back to back. PASSES: a comma-separated subset of zero, test,
// pattern, random, complement (default: all).
//
// With --drives, every LOOP (a /dev/loopN node; nothing else is accepted) is
// wiped at once as the program wipes a drive (random + verify, then zero),
// each on a thread of its own, and the aggregate MB/s and the peak resident
// memory of the process (VmHWM) are printed.
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/util.h"
#include "device/blkdev.h"
#include "device/chunk_pool.h"
#include "scheme/databuffer.h"
#include "scheme/genpool.h"
#include "scheme/isaac_forms.h"

namespace {

const uint64_t kChunk = 16 * 1024 * 1024;
const int kLoopMajor = 7;

double now_s() { return (double)get_nanotime() / 1e9; }
// CPU time of the calling thread.
double cpu_s() {
  struct timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return (double)ts.tv_sec + ts.tv_nsec / 1e9;
}
double mbps(uint64_t bytes, double seconds) { return seconds > 0 ? (double)bytes / 1e6 / seconds : 0; }

int g_runs = 3;

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Sequential O_DIRECT transfer of [0, size) in 16 MiB blocks, as dd does it:
// every block from or into the same memory. With `other`, blocks alternate
// between `block` and `other`, as they must when one block is compared while
// the next is read. Seconds taken.
double raw_pass(int fd, uint64_t size, bool write, unsigned char* block, unsigned char* other = nullptr) {
  double t = now_s();
  int i = 0;
  for (uint64_t pos = 0; pos < size; pos += kChunk, ++i) {
    uint64_t n = size - pos < kChunk ? size - pos : kChunk;
    unsigned char* b = other && (i & 1) ? other : block;
    long r = write ? pwrite64(fd, b, n, (long)pos) : pread64(fd, b, n, (long)pos);
    if (r != (long)n) {
      fprintf(stderr, "raw %s failed at %llu: %s\n", write ? "write" : "read", (unsigned long long)pos,
              r < 0 ? strerror(errno) : "short transfer");
      exit(1);
    }
  }
  if (write) fdatasync(fd);
  return now_s() - t;
}

CPass make_pass(int type, std::vector<unsigned char> pattern = {}) {
  CPass p;
  p.type = type;
  p.pattern = pattern;
  p.pattern_length = (int)pattern.size();
  return p;
}

// A device of the given size whose passes run on an open descriptor.
class BenchDev : public CBlkDev {
 public:
  BenchDev(const std::string& n, uint64_t size, int mj = 0, int mn = 0) {
    CBlkDevData& found = *this;  // as discovery fills it in
    found.name = n;
    found.major = mj;
    found.minor = mn;
    found.size_bytes = size;
    found.size_sectors = size / 512;
  }
};

// A line of /proc/self/status ("VmHWM:  1234 kB"), in MiB.
double status_mib(const std::string& key) {
  std::ifstream in("/proc/self/status");
  std::string k;
  double kib = 0;
  while (in >> k && k != key) in.ignore(1 << 10, '\n');
  if (k == key) in >> kib;
  return kib / 1024;
}

// Wipes every loop device at once through the drive's own wipe, each on a
// thread of its own as the program's command threads do.
int many_drives(int n, char** targets) {
  std::vector<std::unique_ptr<BenchDev>> devs;
  uint64_t bytes = 0;
  for (int i = 0; i < n; ++i) {
    std::string t = targets[i];
    struct stat st;
    std::string base = t.substr(t.rfind('/') + 1);
    if (t != "/dev/" + base || stat(t.c_str(), &st) != 0 || !S_ISBLK(st.st_mode) || major(st.st_rdev) != kLoopMajor) {
      fprintf(stderr, "%s: not a /dev/loopN node; refused\n", t.c_str());
      return 1;
    }
    int fd = open(t.c_str(), O_RDONLY);
    uint64_t size = 0;
    if (fd < 0 || ioctl(fd, BLKGETSIZE64, &size) != 0) {
      perror(t.c_str());
      return 1;
    }
    close(fd);
    devs.emplace_back(new BenchDev(base, size, (int)major(st.st_rdev), (int)minor(st.st_rdev)));
    bytes += size;
  }
  g_scheme.schemes.emplace_back(new CScheme);
  CScheme* scheme = g_scheme.schemes.back().get();
  scheme->name = "random, verified, then zero";
  scheme->passes = {make_pass(PASS_RANDOM), make_pass(PASS_ZERO)};
  scheme->passes[0].verify = true;
  g_scheme.default_index = 0;
  g_scheme.verify = 1;
  std::vector<int> rc(n, -1);
  std::vector<std::thread> threads;
  double t = now_s();
  for (int i = 0; i < n; ++i) threads.emplace_back([&, i] { rc[i] = devs[i]->Wipe(); });
  for (auto& th : threads) th.join();
  double seconds = now_s() - t;
  int failed = (int)std::count_if(rc.begin(), rc.end(), [](int r) { return r != 0; });
  double hwm = status_mib("VmHWM:");
  // Two passes written and one read back.
  printf(
      "%d drives of %llu MiB, scheme '%s': %.1f s, %.0f MB/s in all; peak resident %.0f MiB, %.1f MiB per "
      "drive; chunk pool of %zu areas; %d failed\n",
      n, (unsigned long long)(bytes / n >> 20), scheme->name.c_str(), seconds, mbps(3 * bytes, seconds), hwm, hwm / n,
      CChunkPool::Instance().Capacity(), failed);
  return failed ? 1 : 0;
}

struct pass_case {
  const char* label;
  std::vector<CPass> passes;  // the measured pass is the last one
};

// The old form: generate a chunk, then write it, on one thread.
double plain_loop(int fd, CDataBuffer* buf, int pass, uint64_t size) {
  double t = now_s();
  for (uint64_t pos = 0; pos < size; pos += kChunk) {
    int n = (int)(size - pos < kChunk ? size - pos : kChunk);
    buf->FillBuffer(pass, 1000, 999, (long long)pos, n);
    if (pwrite64(fd, buf->GetWriteBuffer(), n, (long)pos) != n) {
      perror("plain loop write");
      exit(1);
    }
  }
  fdatasync(fd);
  return now_s() - t;
}

// Random chunks made without I/O: on one core, and on the generation pool.
void generation_limit(CScheme* s, int pass, double* one_core, double* pool_rate) {
  std::unique_ptr<CDataBuffer> buf(CDataBuffer::Create(s, 0));
  const int chunks = 8;
  double t = now_s();
  for (int i = 0; i < chunks; ++i) buf->FillBuffer(pass, 1000, 999, (long long)i * kChunk, (int)kChunk);
  *one_core = mbps(chunks * kChunk, now_s() - t);
  CGenPool& pool = CGenPool::Instance();
  fill_record_t rec;
  t = now_s();
  for (int i = 0; i < chunks; ++i) {
    auto job = pool.Submit([&, i] {
      buf->FillArea(buf->GetWriteBuffer(), &rec, pass, 1000, 999, (long long)i * kChunk, (int)kChunk, &pool);
    });
    pool.Wait(job);
  }
  *pool_rate = mbps(chunks * kChunk, now_s() - t);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s TARGET [MiB [RUNS [PASSES]]]\n  TARGET: a loop device or an image file\n", argv[0]);
    return 2;
  }
  if (std::string(argv[1]) == "--drives") {
    log4cplus::Initializer log_init;
    log4cplus::Logger::getRoot().setLogLevel(log4cplus::OFF_LOG_LEVEL);
    return many_drives(argc - 2, argv + 2);
  }
  const char* target = argv[1];
  struct stat st;
  if (stat(target, &st) != 0) {
    perror(target);
    return 1;
  }
  bool is_loop = S_ISBLK(st.st_mode) && major(st.st_rdev) == kLoopMajor;
  if (!is_loop && !S_ISREG(st.st_mode)) {
    fprintf(stderr, "%s: neither a loop device nor a regular file; refused\n", target);
    return 1;
  }
  int fd = open(target, O_RDWR | O_DIRECT);
  if (fd < 0) {
    perror(target);
    return 1;
  }
  uint64_t size = 0;
  if (is_loop) {
    if (ioctl(fd, BLKGETSIZE64, &size) != 0) {
      perror("BLKGETSIZE64");
      return 1;
    }
  } else {
    size = (uint64_t)st.st_size;
  }
  uint64_t limit = (argc > 2 ? strtoull(argv[2], nullptr, 10) : 1024) * 1024 * 1024;
  if (argc > 3) g_runs = atoi(argv[3]) > 0 ? atoi(argv[3]) : 1;
  std::string only = argc > 4 ? std::string(",") + argv[4] + "," : "";
  if (size > limit) size = limit;
  size &= ~4095ULL;
  if (size < kChunk) {
    fprintf(stderr, "%s: too small (%llu bytes)\n", target, (unsigned long long)size);
    return 1;
  }

  log4cplus::Initializer log_init;
  log4cplus::Logger::getRoot().setLogLevel(log4cplus::OFF_LOG_LEVEL);

  struct utsname un;
  uname(&un);
  printf("target %s (%s), %llu MiB; %d cores usable, generation pool of %d threads; kernel %s\n", target,
         is_loop ? "loop device" : "image file", (unsigned long long)(size >> 20), CGenPool::UsableCores(),
         CGenPool::Instance().Threads(), un.release);

  CAlignedBuffer block(kChunk), other(kChunk);
  memset(block.get(), 0, kChunk);
  memset(other.get(), 0, kChunk);
  // Once over the target first, so that an image on tmpfs has its pages.
  raw_pass(fd, size, true, block.get());
  printf("ISAAC64 blocks made in the %s form\n", isaac_form_name(isaac64_form()));
  printf("every figure the median of %d runs; raw figures measured alongside each pass\n\n", g_runs);
  const std::vector<unsigned char> pat = {0x55, 0xAA, 0x92, 0x49, 0x24};
  std::vector<pass_case> cases = {
      {"zero", {make_pass(PASS_ZERO)}},
      {"test", {make_pass(PASS_TEST)}},
      {"pattern", {make_pass(PASS_PATTERN, pat)}},
      {"random", {make_pass(PASS_RANDOM)}},
      {"complement", {make_pass(PASS_RANDOM), make_pass(PASS_COMPLEMENT)}},
  };
  printf("%-11s %9s %9s %7s %9s %7s %9s %7s %10s %10s %9s %9s\n", "pass", "raw write", "write", "of raw", "raw read",
         "2 areas", "verify", "of raw", "verify cpu", "plain loop", "gen 1core", "gen pool");
  for (auto& c : cases) {
    if (!only.empty() && only.find(std::string(",") + c.label + ",") == std::string::npos) continue;
    CScheme scheme;
    scheme.name = c.label;
    scheme.passes = c.passes;
    int pass = (int)c.passes.size() - 1;
    std::unique_ptr<CDataBuffer> buf(CDataBuffer::Create(&scheme, 0));
    if (!buf) {
      fprintf(stderr, "no data buffer\n");
      return 1;
    }
    BenchDev dev("bench", size);
    // Each run of the pass right after a raw run, so that both see the same
    // machine.
    std::unique_ptr<CDataBuffer> plain(CDataBuffer::Create(&scheme, 0));
    int rc = 0, vrc = 0;
    std::vector<double> raw_ws, raw_rs, raw2, ws, vs, ps, wr, vr, vcpu;
    for (int i = 0; i < g_runs; ++i) {
      raw_ws.push_back(mbps(size, raw_pass(fd, size, true, block.get())));
      double t = now_s();
      rc |= dev.WipePass(fd, buf.get(), pass, 1000, 999, pwrite64);
      fdatasync(fd);
      ws.push_back(mbps(size, now_s() - t));
      wr.push_back(ws.back() / raw_ws.back());
      ps.push_back(mbps(size, plain_loop(fd, plain.get(), pass, size)));
    }
    for (int i = 0; i < g_runs; ++i) {
      raw_rs.push_back(mbps(size, raw_pass(fd, size, false, block.get())));
      raw2.push_back(mbps(size, raw_pass(fd, size, false, block.get(), other.get())) / raw_rs.back());
      double t = now_s(), c = cpu_s();
      vrc |= dev.VerifyPass(fd, buf.get(), pass, 1000, 999, pread64);
      vs.push_back(mbps(size, now_s() - t));
      vcpu.push_back(mbps(size, cpu_s() - c));
      vr.push_back(vs.back() / raw_rs.back());
    }
    double raw_w = median(raw_ws), w = median(ws), p = median(ps), raw_r = median(raw_rs), v = median(vs);
    if (rc != 0 || vrc != 0) {
      fprintf(stderr, "%s: pass %d, verification %d\n", c.label, rc, vrc);
      return 1;
    }
    std::string g1 = "-", gp = "-", of_gen;
    if (c.passes[pass].type == PASS_RANDOM || c.passes[pass].type == PASS_COMPLEMENT) {
      std::vector<double> ones, alls;
      for (int i = 0; i < g_runs; ++i) {
        double o, a;
        generation_limit(&scheme, pass, &o, &a);
        ones.push_back(o);
        alls.push_back(a);
      }
      double one = median(ones), all = median(alls);
      char b[64];
      snprintf(b, sizeof b, "%.0f", one);
      g1 = b;
      snprintf(b, sizeof b, "%.0f", all);
      gp = b;
      snprintf(b, sizeof b, "  (write %.0f %%, verify %.0f %% of gen pool)", 100 * w / all, 100 * v / all);
      of_gen = b;
    }
    printf("%-11s %9.0f %9.0f %6.0f%% %9.0f %6.0f%% %9.0f %6.0f%% %10.0f %10.0f %9s %9s%s\n", c.label, raw_w, w,
           100 * median(wr), raw_r, 100 * median(raw2), v, 100 * median(vr), median(vcpu), p, g1.c_str(), gp.c_str(),
           of_gen.c_str());
    fflush(stdout);
  }
  printf(
      "\nMB/s (10^6 bytes per second), medians; \"of raw\": median of the ratios of each run to\n"
      "the raw run just before it. 2 areas: raw reads alternating between two areas, of raw;\n"
      "write: the wipe pass alone; verify: its read-back;\n"
      "verify cpu: bytes verified per second of CPU time of the verifying thread (the\n"
      "compare; the reads run on a thread of their own);\n"
      "plain loop: generate a chunk, then write it, on one thread; gen: random data made\n"
      "without I/O on one core and on the generation pool.\n");
  close(fd);
  return 0;
}
