// A mutex holder and its scoped guard, annotated for clang's thread-safety
// analysis: a CLockable is a capability, a CLockWrapper holds it for a scope.
#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "app/thread_annotations.h"

class CAPABILITY("mutex") CLockable {
 public:
  CLockable() = default;
  virtual ~CLockable() = default;
  CLockable(const CLockable&) = delete;
  CLockable& operator=(const CLockable&) = delete;
  void Lock() ACQUIRE() { mutex.lock(); }
  void Unlock() RELEASE() { mutex.unlock(); }

  // Waits on `cv` for at most `ms` (forever when negative), the lock given
  // up meanwhile and held again on return; false when the time ran out.
  // Callers test their condition in a loop around it.
  bool Wait(std::condition_variable& cv, std::chrono::milliseconds ms = std::chrono::milliseconds(-1)) REQUIRES(this) {
    std::unique_lock<std::mutex> held(mutex, std::adopt_lock);
    bool woken = true;
    if (ms.count() < 0)
      cv.wait(held);
    else
      woken = cv.wait_for(held, ms) == std::cv_status::no_timeout;
    held.release();
    return woken;
  }

 private:
  std::mutex mutex;
};

template <class T>
class SCOPED_CAPABILITY CLockWrapperImpl {
 public:
  explicit CLockWrapperImpl(T& obj) ACQUIRE(obj) : obj(obj), locked(true) { obj.Lock(); }
  // The bodies test `locked`, which the analysis cannot follow; the
  // annotations say what they do.
  ~CLockWrapperImpl() RELEASE() NO_THREAD_SAFETY_ANALYSIS { Unlock(); }
  void Unlock() RELEASE() NO_THREAD_SAFETY_ANALYSIS {
    if (locked) {
      locked = false;
      obj.Unlock();
    }
  }
  void Lock() ACQUIRE() NO_THREAD_SAFETY_ANALYSIS {
    if (!locked) {
      obj.Lock();
      locked = true;
    }
  }
  CLockWrapperImpl(const CLockWrapperImpl&) = delete;
  CLockWrapperImpl& operator=(const CLockWrapperImpl&) = delete;

 private:
  T& obj;
  bool locked;
};

typedef CLockWrapperImpl<CLockable> CLockWrapper;
