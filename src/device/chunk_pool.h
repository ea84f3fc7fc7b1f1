// The extra chunk areas of the wipes (a pattern pass's window, and a read
// area for a verification that cannot borrow its buffer's write area), taken
// from one pool shared by all drives of the process, so that memory stays
// bounded however many drives wipe at once. A drive that gets no area runs
// with its buffer's own two areas and writes the same bytes.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "app/lockable.h"
#include "scheme/databuffer.h"

class CChunkPool {
 public:
  // Each area: a chunk and 1 MiB, aligned for direct I/O.
  static const size_t kAreaSize = kDataBufferSize + 1024 * 1024;
  CChunkPool(const CChunkPool&) = delete;
  CChunkPool& operator=(const CChunkPool&) = delete;

  // The pool the wipes use: the process's own, sized by MachineAreas() on
  // first use.
  static CChunkPool& Instance();
  // The size rule: an eighth of MemAvailable in /proc/meminfo, in whole
  // areas, and never less than the two one drive may use at once.
  static size_t MachineAreas();

  // An area, or null when all are in use or its memory cannot be had (the
  // first such failure goes to the debug log). Never waits.
  unsigned char* TryAcquire();
  // Gives an area back (its memory goes back to the system); null is a no-op.
  void Release(unsigned char* area);

  size_t Capacity() const { return capacity; }
  size_t InUse();

 private:
  explicit CChunkPool(size_t areas);  // only the process's pool (Instance)

  const size_t capacity;
  CLockable mutex;                    // a leaf: guards `used` and `failure_logged` only
  size_t used GUARDED_BY(mutex) = 0;  // areas handed out, or being mapped for a caller
  bool failure_logged GUARDED_BY(mutex) = false;
};

// An area of the pool held for a scope: given back when it ends.
class CPoolArea {
 public:
  CPoolArea() : pool(CChunkPool::Instance()), area(pool.TryAcquire()) {}
  ~CPoolArea() { pool.Release(area); }
  CPoolArea(const CPoolArea&) = delete;
  CPoolArea& operator=(const CPoolArea&) = delete;
  unsigned char* get() const { return area; }

 private:
  CChunkPool& pool;
  unsigned char* area;
};
