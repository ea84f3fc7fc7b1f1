// Throughput of CDataBuffer::FillBuffer for one 16 MiB chunk of each pass
// type, single-threaded, in GB/s (10^9 bytes per second); then the random
// block generators in each of their forms (BM_Blocks*/form:0 scalar, 1
// AVX2, 2 AVX-512; a form the CPU lacks is skipped), making blocks and
// comparing blocks with data, on one core and on the generation pool; there
// "cpu_GB/s" is over the CPU time of all threads, the speed of one core. Each iteration
// moves to the next chunk of the device, as a wipe pass does, and a one-byte
// fill of another pass in between keeps the zero and pattern skips from
// applying, so every chunk is really generated. "GB/s" is over wall-clock
// time, "cpu_GB/s" over the thread's CPU time, which holds when other work
// shares the machine.
#include <benchmark/benchmark.h>
#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>

#include <time.h>

#include <atomic>
#include <memory>

#include "app/util.h"
#include "scheme/databuffer.h"
#include "scheme/genpool.h"
#include "scheme/isaac.h"
#include "scheme/isaac64.h"
#include "scheme/isaac_forms.h"

namespace {

CScheme bench_scheme() {
  CScheme s;
  s.name = "bench";
  CPass zero, test, random, complement, pattern;
  zero.type = PASS_ZERO;
  test.type = PASS_TEST;
  random.type = PASS_RANDOM;
  complement.type = PASS_COMPLEMENT;
  pattern.type = PASS_PATTERN;
  pattern.pattern = {0x55, 0xAA, 0x92, 0x49, 0x24};
  pattern.pattern_length = (int)pattern.pattern.size();
  s.passes = {zero, test, random, complement, pattern};
  return s;
}

double clock_s(clockid_t id) {
  struct timespec ts;
  clock_gettime(id, &ts);
  return (double)ts.tv_sec + ts.tv_nsec / 1e9;
}

enum { kZero = 0, kTest = 1, kRandom = 2, kComplement = 3, kPattern = 4 };

void Fill(benchmark::State& state, int pass, int generator) {
  static CScheme scheme = bench_scheme();
  std::unique_ptr<CDataBuffer> buf(CDataBuffer::Create(&scheme, generator));
  if (!buf) {
    state.SkipWithError("data buffer creation failed");
    return;
  }
  long long offset = 0;
  const int other = pass == kTest ? kZero : kTest;
  double wall = 0, cpu = 0;
  for (auto _ : state) {
    double w0 = clock_s(CLOCK_MONOTONIC), c0 = clock_s(CLOCK_THREAD_CPUTIME_ID);
    if (buf->FillBuffer(pass, 1000, 999, offset, kDataBufferSize) != 0) {
      state.SkipWithError("FillBuffer failed");
      break;
    }
    benchmark::DoNotOptimize(buf->GetWriteBuffer());
    benchmark::ClobberMemory();
    wall += clock_s(CLOCK_MONOTONIC) - w0;
    cpu += clock_s(CLOCK_THREAD_CPUTIME_ID) - c0;
    // A one-byte fill of another pass, so that no skip rule applies.
    state.PauseTiming();
    buf->FillBuffer(other, 0, 0, 0, 1);
    state.ResumeTiming();
    offset += kDataBufferSize;
  }
  state.SetBytesProcessed((int64_t)state.iterations() * kDataBufferSize);
  double gb = (double)state.iterations() * kDataBufferSize / 1e9;
  if (wall > 0) state.counters["GB/s"] = gb / wall;
  if (cpu > 0) state.counters["cpu_GB/s"] = gb / cpu;
}

void BM_Zero(benchmark::State& s) { Fill(s, kZero, 0); }
void BM_Test(benchmark::State& s) { Fill(s, kTest, 0); }
void BM_Pattern(benchmark::State& s) { Fill(s, kPattern, 0); }
void BM_RandomIsaac64(benchmark::State& s) { Fill(s, kRandom, 0); }
void BM_RandomIsaac(benchmark::State& s) { Fill(s, kRandom, 2); }
void BM_RandomSha1(benchmark::State& s) { Fill(s, kRandom, 1); }
void BM_ComplementOfRandomIsaac64(benchmark::State& s) { Fill(s, kComplement, 0); }
void BM_ComplementOfRandomIsaac(benchmark::State& s) { Fill(s, kComplement, 2); }

// Random chunks as a wipe makes them: one pool job per chunk, its blocks
// spread over the generation pool (one thread per core).
void BM_RandomIsaac64Pool(benchmark::State& state) {
  static CScheme scheme = bench_scheme();
  std::unique_ptr<CDataBuffer> buf(CDataBuffer::Create(&scheme, 0));
  CGenPool& pool = CGenPool::Instance();
  fill_record_t rec;
  long long offset = 0;
  double wall = 0;
  for (auto _ : state) {
    double w0 = clock_s(CLOCK_MONOTONIC);
    auto job = pool.Submit(
        [&] { buf->FillArea(buf->GetWriteBuffer(), &rec, kRandom, 1000, 999, offset, kDataBufferSize, &pool); });
    pool.Wait(job);
    wall += clock_s(CLOCK_MONOTONIC) - w0;
    offset += kDataBufferSize;
  }
  state.SetBytesProcessed((int64_t)state.iterations() * kDataBufferSize);
  if (wall > 0) state.counters["GB/s"] = (double)state.iterations() * kDataBufferSize / 1e9 / wall;
  state.counters["threads"] = pool.Threads();
}

// One 16 MiB chunk of random blocks in the form given by the argument: made
// (or, with `match`, compared with the chunk made before) on the calling
// thread, or as a wipe does it on the pool: one job, its pieces of 64 blocks
// spread over the pool's threads.
void Blocks(benchmark::State& state, bool isaac64, bool match, bool on_pool) {
  const int form = (int)state.range(0);
  state.SetLabel(isaac_form_name(form));
  if (!isaac_form_runs(form)) {
    state.SkipWithError("this CPU cannot run the form");
    return;
  }
  const int kPiece = 64, kBlocks = kDataBufferSize / 4096;
  CAlignedBuffer chunk(kDataBufferSize);
  std::atomic<bool> differ{false};
  auto blocks = isaac64 ? isaac64_blocks_in : isaac_blocks_in;
  auto matches = isaac64 ? isaac64_blocks_match : isaac_blocks_match;
  blocks(form, 0, chunk.get(), kBlocks);
  auto piece = [&](int i) {
    unsigned char* at = chunk.get() + (long)i * kPiece * 4096;
    if (!match)
      blocks(form, i * kPiece, at, kPiece);
    else if (!matches(form, i * kPiece, at, kPiece, 0))
      differ = true;
  };
  CGenPool& pool = CGenPool::Instance();
  double wall = 0, cpu = 0;
  for (auto _ : state) {
    double w0 = clock_s(CLOCK_MONOTONIC), c0 = clock_s(CLOCK_PROCESS_CPUTIME_ID);
    if (on_pool) {
      pool.Wait(pool.Submit([&] { pool.Run(kBlocks / kPiece, piece); }));
    } else {
      for (int i = 0; i < kBlocks / kPiece; ++i) piece(i);
    }
    benchmark::ClobberMemory();
    wall += clock_s(CLOCK_MONOTONIC) - w0;
    cpu += clock_s(CLOCK_PROCESS_CPUTIME_ID) - c0;
  }
  if (differ) state.SkipWithError("blocks differ");
  state.SetBytesProcessed((int64_t)state.iterations() * kDataBufferSize);
  double gb = (double)state.iterations() * kDataBufferSize / 1e9;
  if (wall > 0) state.counters["GB/s"] = gb / wall;
  if (cpu > 0) state.counters["cpu_GB/s"] = gb / cpu;  // per second of CPU time of all threads
}

void BM_BlocksIsaac64(benchmark::State& s) { Blocks(s, true, false, false); }
void BM_BlocksIsaac64Pool(benchmark::State& s) { Blocks(s, true, false, true); }
void BM_BlocksIsaac64Compare(benchmark::State& s) { Blocks(s, true, true, false); }
void BM_BlocksIsaac64ComparePool(benchmark::State& s) { Blocks(s, true, true, true); }
void BM_BlocksIsaac(benchmark::State& s) { Blocks(s, false, false, false); }

BENCHMARK(BM_Zero)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Test)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Pattern)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RandomIsaac64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RandomIsaac)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RandomSha1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ComplementOfRandomIsaac64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ComplementOfRandomIsaac)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RandomIsaac64Pool)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BlocksIsaac64)
    ->DenseRange(0, ISAAC_FORMS - 1)
    ->ArgName("form")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_BlocksIsaac64Pool)
    ->DenseRange(0, ISAAC_FORMS - 1)
    ->ArgName("form")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_BlocksIsaac64Compare)
    ->DenseRange(0, ISAAC_FORMS - 1)
    ->ArgName("form")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_BlocksIsaac64ComparePool)
    ->DenseRange(0, ISAAC_FORMS - 1)
    ->ArgName("form")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_BlocksIsaac)
    ->DenseRange(0, ISAAC_FORMS - 1)
    ->ArgName("form")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  log4cplus::Initializer log_init;
  log4cplus::Logger::getRoot().setLogLevel(log4cplus::OFF_LOG_LEVEL);  // no appenders here
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
