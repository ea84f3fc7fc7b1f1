// A mutex holder and its scoped guard.
#pragma once
#include <mutex>

class CLockable {
 public:
  CLockable() = default;
  virtual ~CLockable() = default;
  CLockable(const CLockable&) = delete;
  CLockable& operator=(const CLockable&) = delete;
  void Lock() { mutex.lock(); }
  void Unlock() { mutex.unlock(); }

 private:
  std::mutex mutex;
};

template <class T>
class CLockWrapperImpl {
 public:
  explicit CLockWrapperImpl(T& obj) : obj(obj), locked(true) { obj.Lock(); }
  ~CLockWrapperImpl() { Unlock(); }
  void Unlock() {
    if (locked) {
      locked = false;
      obj.Unlock();
    }
  }
  void Lock() {
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
