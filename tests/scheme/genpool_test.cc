// The generation pool, and fills that spread their random blocks over it:
// the bytes must be those of a plain single-threaded fill.
#include "scheme/genpool.h"

#include <gtest/gtest.h>
#include <string.h>
#include <sys/prctl.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/util.h"
#include "support/make_pass.h"

namespace {

typedef std::vector<unsigned char> bytes;

TEST(GenPool, RunCoversEveryIndexOnce) {
  for (int threads : {1, 2, 4}) {
    CGenPool pool(threads);
    EXPECT_EQ(pool.Threads(), threads);
    for (int n : {0, 1, 2, 7, 1000}) {
      std::vector<std::atomic<int>> hits(n);
      pool.Run(n, [&](int i) { ++hits[i]; });
      for (int i = 0; i < n; ++i) ASSERT_EQ(hits[i].load(), 1) << threads << " threads, n " << n << ", i " << i;
    }
  }
}

// Jobs of several devices at once, each spreading its work over the pool:
// nobody waits for work that nobody runs.
TEST(GenPool, JobsThatRunBatchesAllFinish) {
  CGenPool pool(2);
  std::vector<std::shared_ptr<CGenJob>> jobs;
  std::vector<std::atomic<int>> sums(8);
  for (int j = 0; j < 8; ++j)
    jobs.push_back(pool.Submit([&, j] { pool.Run(50, [&, j](int i) { sums[j] += i; }); }));
  for (auto& job : jobs) pool.Wait(job);
  for (int j = 0; j < 8; ++j) EXPECT_EQ(sums[j].load(), 49 * 50 / 2);
}

TEST(GenPool, CancelDropsAJobNotStartedAndWaitsForARunningOne) {
  CGenPool pool(1);
  std::mutex m;
  std::condition_variable cv;
  bool release = false, running = false;
  std::atomic<int> ran{0};
  auto blocker = pool.Submit([&] {
    std::unique_lock<std::mutex> l(m);
    running = true;
    cv.notify_all();
    cv.wait(l, [&] { return release; });
    ++ran;
  });
  auto queued = pool.Submit([&] { ran += 10; });
  {
    std::unique_lock<std::mutex> l(m);
    cv.wait(l, [&] { return running; });
  }
  EXPECT_FALSE(pool.Cancel(queued));
  pool.Wait(queued);  // returns at once: it is finished without running
  {
    std::lock_guard<std::mutex> l(m);
    release = true;
  }
  cv.notify_all();
  EXPECT_TRUE(pool.Cancel(blocker));
  EXPECT_EQ(ran.load(), 1);
  auto later = pool.Submit([&] { ran += 100; });
  pool.Wait(later);
  EXPECT_EQ(ran.load(), 101);
}

TEST(GenPool, ThreadsAreNamedAndTheProcessPoolFitsTheCores) {
  CGenPool& pool = CGenPool::Instance();
  EXPECT_EQ(&pool, &CGenPool::Instance());
  EXPECT_EQ(pool.Threads(), CGenPool::UsableCores());
  char name[17] = {0};
  auto job = pool.Submit([&] { prctl(PR_GET_NAME, (unsigned long)name, 0, 0, 0); });
  pool.Wait(job);
  EXPECT_EQ(std::string(name).rfind("datagen ", 0), 0u) << name;
}

// ---- fills on the pool ----

TEST(ParallelFill, SameBytesAsOneThreadForEveryPassAndGenerator) {
  CScheme s;
  s.name = "all";
  s.passes = {MakePass(PASS_RANDOM), MakePass(PASS_COMPLEMENT), MakePass(PASS_COMPLEMENT),
              MakePass(PASS_ZERO),   MakePass(PASS_TEST),       MakePass(PASS_PATTERN, false, {7, 6, 5, 4, 3})};
  CGenPool pool(3);
  CAlignedBuffer area(kDataBufferSize);
  ASSERT_TRUE(area.get());
  const struct {
    long long offset;
    int length;
  } ranges[] = {{0, kDataBufferSize}, {(1LL << 32) + 100, 5 * 4096 * 64 + 4000}, {4096 * 63, 4096 * 66}, {17, 3}};
  for (int gen : {0, 1, 2}) {
    std::unique_ptr<CDataBuffer> buf(CDataBuffer::Create(&s, gen));
    ASSERT_TRUE(buf);
    for (int pass = 0; pass < (int)s.passes.size(); ++pass) {
      for (auto& r : ranges) {
        if (gen != 0 && r.length == kDataBufferSize) continue;  // the SHA1 generator is slow
        fill_record_t rec;
        memset(area.get(), 0x5A, r.length);
        ASSERT_EQ(buf->FillArea(area.get(), &rec, pass, 3000, 2000, r.offset, r.length, &pool), 0);
        ASSERT_EQ(buf->FillBuffer(pass, 3000, 2000, r.offset, r.length), 0);
        EXPECT_EQ(0, memcmp(area.get(), buf->GetWriteBuffer(), r.length))
            << "generator " << gen << " pass " << pass << " offset " << r.offset;
        EXPECT_EQ(rec.pass, pass);
        EXPECT_EQ(rec.length, r.length);
        EXPECT_EQ(rec.offset, r.offset);
      }
    }
  }
}

// An area's own record drives its skips, and leaves the write area's alone.
TEST(ParallelFill, EachAreaKeepsItsOwnSkipRecord) {
  CScheme s;
  s.passes = {MakePass(PASS_ZERO), MakePass(PASS_PATTERN, false, {1, 2})};
  std::unique_ptr<CDataBuffer> buf(CDataBuffer::Create(&s, 0));
  CAlignedBuffer area(8192);
  fill_record_t rec;
  ASSERT_EQ(buf->FillArea(area.get(), &rec, 0, 0, 0, 0, 8192, nullptr), 0);
  area.get()[5] = 0xEE;
  ASSERT_EQ(buf->FillArea(area.get(), &rec, 0, 0, 0, 8192, 8192, nullptr), 0);
  EXPECT_EQ(area.get()[5], 0xEE);  // skipped
  EXPECT_EQ(buf->GetLastFill()->pass, -1);
  ASSERT_EQ(buf->FillBuffer(0, 0, 0, 0, 4096), 0);  // not skipped on the record of another area
  EXPECT_EQ(buf->GetWriteBuffer()[5], 0);
  EXPECT_EQ(buf->GetLastFill()->pass, 0);
  ASSERT_EQ(buf->FillArea(area.get(), &rec, 1, 0, 0, 8193, 100, nullptr), 0);
  EXPECT_EQ(area.get()[0], 2);
  EXPECT_EQ(rec.pass, 1);
}

// Two devices filling at once on the same pool.
TEST(ParallelFill, BuffersOfSeveralDevicesFillAtOnce) {
  CScheme s;
  s.passes = {MakePass(PASS_RANDOM), MakePass(PASS_COMPLEMENT)};
  CGenPool pool(2);
  const int len = 4096 * 64 * 6 + 512;
  std::unique_ptr<CDataBuffer> bufs[2] = {std::unique_ptr<CDataBuffer>(CDataBuffer::Create(&s, 0)),
                                          std::unique_ptr<CDataBuffer>(CDataBuffer::Create(&s, 0))};
  CAlignedBuffer areas[2] = {CAlignedBuffer(len), CAlignedBuffer(len)};
  fill_record_t recs[2];
  std::shared_ptr<CGenJob> jobs[2];
  for (int d = 0; d < 2; ++d)
    jobs[d] = pool.Submit([&, d] { bufs[d]->FillArea(areas[d].get(), &recs[d], d, 11, 10, 4096LL * d, len, &pool); });
  for (auto& j : jobs) pool.Wait(j);
  ASSERT_EQ(bufs[0]->FillBuffer(0, 11, 10, 0, len), 0);
  EXPECT_EQ(0, memcmp(areas[0].get(), bufs[0]->GetWriteBuffer(), len));
  ASSERT_EQ(bufs[1]->FillBuffer(1, 11, 10, 4096, len), 0);
  EXPECT_EQ(0, memcmp(areas[1].get(), bufs[1]->GetWriteBuffer(), len));
}

}  // namespace
