// The threads that generate pass data for the wipes. One pool serves the
// whole process, with one thread per usable core, so that any number of
// devices wiping at once share the cores instead of oversubscribing them.
#pragma once
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "app/lockable.h"
#include "scheme/databuffer.h"

// A unit of work queued on the pool; see CGenPool::Submit.
class CGenJob {
 private:
  friend class CGenPool;
  std::function<void()> fn;
  bool started = false;   // under the pool's mutex
  bool finished = false;  // under the pool's mutex
};

class CGenPool : public CFillRunner {
 public:
  // The pool of this process, started on first use; its threads are named
  // "datagen 0", "datagen 1", ...
  static CGenPool& Instance();
  // The number of cores this process may run on (at least 1).
  static int UsableCores();

  explicit CGenPool(int threads);
  // Runs what is still queued, then ends the threads.
  ~CGenPool() override;
  CGenPool(const CGenPool&) = delete;
  CGenPool& operator=(const CGenPool&) = delete;

  int Threads() const { return (int)threads.size(); }

  // Queues fn to run on one of the pool's threads.
  std::shared_ptr<CGenJob> Submit(std::function<void()> fn);
  // Waits until the job has run.
  void Wait(const std::shared_ptr<CGenJob>& job);
  // Takes a job that has not started yet off the queue (it never runs), or
  // waits for it to end. Returns whether it ran.
  bool Cancel(const std::shared_ptr<CGenJob>& job);

  // Runs work(0) .. work(n - 1) on the calling thread and on as many of the
  // pool's threads as are free, and returns when all have run. Called from a
  // job, it keeps the work within the pool's threads. work must not wait for
  // other work of the pool.
  void Run(int n, const std::function<void(int)>& work) override;

 private:
  struct batch_t {
    std::atomic<int> next{0};
    int n = 0;
    int done = 0;  // under the pool's mutex
    const std::function<void(int)>* work = nullptr;
  };
  struct task_t {
    std::shared_ptr<CGenJob> job;    // a submitted job, or
    std::shared_ptr<batch_t> batch;  // a helper for a batch of Run
  };

  void ThreadProc(int index);
  void Drain(const std::shared_ptr<batch_t>& b);

  CLockable mutex;
  std::condition_variable work_cv;  // a task was queued, or stop
  std::condition_variable done_cv;  // a job or a batch finished
  std::deque<task_t> queue GUARDED_BY(mutex);
  bool stop GUARDED_BY(mutex) = false;
  std::vector<std::thread> threads;
};
