// A mutex holder and its scoped guard.
#pragma once
#include <pthread.h>

class CLockable {
 public:
  CLockable() { pthread_mutex_init(&mutex, nullptr); }
  virtual ~CLockable() { pthread_mutex_destroy(&mutex); }
  CLockable(const CLockable&) = delete;
  CLockable& operator=(const CLockable&) = delete;
  void Lock() { pthread_mutex_lock(&mutex); }
  void Unlock() { pthread_mutex_unlock(&mutex); }

 private:
  pthread_mutex_t mutex;
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
