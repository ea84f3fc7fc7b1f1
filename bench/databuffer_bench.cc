// Throughput of CDataBuffer::FillBuffer for one 16 MiB chunk of each pass
// type, single-threaded, in GB/s (10^9 bytes per second). Each iteration
// moves to the next chunk of the device, as a wipe pass does, and a one-byte
// fill of another pass in between keeps the zero and pattern skips from
// applying, so every chunk is really generated. "GB/s" is over wall-clock
// time, "cpu_GB/s" over the thread's CPU time, which holds when other work
// shares the machine.
#include <benchmark/benchmark.h>
#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>

#include <time.h>

#include <memory>

#include "scheme/databuffer.h"
#include "scheme/genpool.h"

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

BENCHMARK(BM_Zero)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Test)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Pattern)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RandomIsaac64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RandomIsaac)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RandomSha1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ComplementOfRandomIsaac64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ComplementOfRandomIsaac)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RandomIsaac64Pool)->Unit(benchmark::kMillisecond)->UseRealTime();

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
