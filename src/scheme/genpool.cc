#include "scheme/genpool.h"

#include <sched.h>
#include <stdio.h>
#include <sys/prctl.h>

#include <algorithm>

CGenPool& CGenPool::Instance() {
  static CGenPool pool(UsableCores());
  return pool;
}

int CGenPool::UsableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  int n = 0;
  if (sched_getaffinity(0, sizeof set, &set) == 0) n = CPU_COUNT(&set);
  if (n <= 0) n = (int)std::thread::hardware_concurrency();
  return n > 0 ? n : 1;
}

CGenPool::CGenPool(int count) {
  if (count < 1) count = 1;
  for (int i = 0; i < count; ++i) threads.emplace_back(&CGenPool::ThreadProc, this, i);
}

CGenPool::~CGenPool() {
  {
    CLockWrapper g(mutex);
    stop = true;
  }
  work_cv.notify_all();
  for (auto& t : threads) t.join();
}

void CGenPool::ThreadProc(int index) {
  char name[16];
  snprintf(name, sizeof name, "datagen %d", index);
  prctl(PR_SET_NAME, (unsigned long)name, 0, 0, 0);
  CLockWrapper lock(mutex);
  for (;;) {
    while (!stop && queue.empty()) mutex.Wait(work_cv);
    if (queue.empty()) return;  // stopping, and nothing left to do
    task_t t = std::move(queue.front());
    queue.pop_front();
    if (t.job) t.job->started = true;
    lock.Unlock();
    if (t.job)
      t.job->fn();
    else
      Drain(t.batch);
    lock.Lock();
    if (t.job) {
      t.job->fn = nullptr;  // lets go of what it captured
      t.job->finished = true;
      done_cv.notify_all();
    }
  }
}

std::shared_ptr<CGenJob> CGenPool::Submit(std::function<void()> fn) {
  auto job = std::make_shared<CGenJob>();
  job->fn = std::move(fn);
  {
    CLockWrapper g(mutex);
    queue.push_back(task_t{job, nullptr});
  }
  work_cv.notify_one();
  return job;
}

void CGenPool::Wait(const std::shared_ptr<CGenJob>& job) {
  CLockWrapper lock(mutex);
  while (!job->finished) mutex.Wait(done_cv);
}

bool CGenPool::Cancel(const std::shared_ptr<CGenJob>& job) {
  CLockWrapper lock(mutex);
  if (!job->started && !job->finished) {
    for (auto it = queue.begin(); it != queue.end(); ++it)
      if (it->job == job) {
        queue.erase(it);
        break;
      }
    job->fn = nullptr;
    job->finished = true;
    return false;
  }
  while (!job->finished) mutex.Wait(done_cv);
  return true;
}

void CGenPool::Drain(const std::shared_ptr<batch_t>& b) {
  for (;;) {
    int i = b->next.fetch_add(1);
    if (i >= b->n) return;
    (*b->work)(i);
    CLockWrapper g(mutex);
    if (++b->done == b->n) done_cv.notify_all();
  }
}

void CGenPool::Run(int n, const std::function<void(int)>& work) {
  if (n <= 0) return;
  auto b = std::make_shared<batch_t>();
  b->n = n;
  b->work = &work;
  int helpers = std::min(n - 1, Threads());
  if (helpers > 0) {
    CLockWrapper g(mutex);
    // Ahead of the queued jobs: a chunk under way is finished first.
    for (int i = 0; i < helpers; ++i) queue.push_front(task_t{nullptr, b});
  }
  for (int i = 0; i < helpers; ++i) work_cv.notify_one();
  Drain(b);
  CLockWrapper lock(mutex);
  while (b->done != b->n) mutex.Wait(done_cv);
}
