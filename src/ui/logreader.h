// Live reader of a growing text file: a monitor thread splits the file into
// display lines (at line feeds, and every wrap-width characters), counts them
// and keeps the newest in two rotating buffers; an index of every 256th line
// lets older lines be read back from the file on demand.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/lockable.h"

// One buffer of consecutive display lines.
class CLineCache {
 public:
  CLineCache() = default;
  virtual ~CLineCache() = default;
  // Reset, then a new buffer of `size` bytes; 1 on success, 0 when memory is short.
  int Init(size_t size);
  void Reset();
  // Start of line n in the buffer, or null.
  const char* GetLine(size_t n) const;
  // Bytes from the start of line n to the end of the buffer (0 when absent).
  size_t BytesFrom(size_t n) const;
  bool IsFull() const { return valid && fill >= size; }
  size_t LineCount() const { return starts.size(); }

  std::unique_ptr<char[]> buffer;
  bool valid = false;
  size_t size = 0;
  size_t fill = 0;
  size_t line_start = 0;
  size_t first_line = 0;
  std::vector<size_t> starts;
};

class CLogReader : public CLockable {
 public:
  static constexpr size_t kCacheSize = 32768;
  static constexpr size_t kIndexStep = 256;

  CLogReader() = default;
  ~CLogReader() override;

  // Follows another file (null: none). 0, the error number when the file
  // cannot be opened (the previous source then stays), or the thread
  // creation result.
  int SetSource(const char* path, int width);
  size_t GetLineCount();
  // 0 and the text of line n; -1 when not available; an error number on a
  // read error.
  int GetLine(size_t n, std::string& text);

  int StartMonitor();
  void StopMonitor();
  // The monitor thread: a pass over the file every 200 ms until stopped.
  void FileMonitor();

 protected:
  // One monitor pass over the file; 0 or an error number.
  int ParseLog();
  // Parses new text into the current monitor cache, reader lock held. 1
  // when the cache became full, 0 otherwise, the negated error number on a
  // read error (so that it cannot be mistaken for "full").
  virtual int ParseRight(int fd) REQUIRES(this);
  void ResetCacheNoLock() REQUIRES(this);
  void SwitchMonitorCache() REQUIRES(this);
  void SwitchReadCache() REQUIRES(this);

  // Splits bytes just read into `cache` (at its fill position) into lines,
  // counting from *line_no; `offset` is the file offset of those bytes.
  // Returns the bytes consumed. Index entries are added when `index` is set.
  size_t ScanChunk(CLineCache& cache, size_t nread, size_t& line_no, off_t offset, std::vector<off_t>* index)
      REQUIRES(this);

  std::atomic<bool> monitor_running{false};
  std::thread monitor_thread;  // joinable while the monitor is started
  off_t parsed_offset GUARDED_BY(this) = 0;
  off_t file_size_seen GUARDED_BY(this) = 0;
  uint64_t line_count GUARDED_BY(this) = 0;
  std::string source;  // changed only while the monitor is stopped
  int wrap_width GUARDED_BY(this) = 0;
  std::vector<off_t> line_index GUARDED_BY(this);
  CLineCache monitor_cache[2] GUARDED_BY(this);
  CLineCache read_cache[2] GUARDED_BY(this);
  int monitor_current GUARDED_BY(this) = 0;
  int read_current GUARDED_BY(this) = 0;

 private:
  // Wakes the monitor out of its pause when it is stopped.
  std::mutex sleep_mutex;
  std::condition_variable sleep_cv;
};
