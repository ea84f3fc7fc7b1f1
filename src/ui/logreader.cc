#include "ui/logreader.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <new>

#include "app/unique_fd.h"
#include "command/command.h"

int CLineCache::Init(size_t sz) {
  Reset();
  buffer.reset();  // the old one goes first: memory may be short
  buffer.reset(new (std::nothrow) char[sz]);
  valid = buffer != nullptr;
  size = valid ? sz : 0;
  return valid ? 1 : 0;
}

void CLineCache::Reset() {
  fill = 0;
  line_start = 0;
  first_line = 0;
  starts.clear();
  starts.reserve(100);
}

const char* CLineCache::GetLine(size_t n) const {
  if (!valid || n < first_line || n - first_line >= starts.size()) return nullptr;
  size_t pos = starts[n - first_line];
  if (pos >= size) return nullptr;
  return buffer.get() + pos;
}

size_t CLineCache::BytesFrom(size_t n) const {
  if (!GetLine(n)) return 0;
  return size - starts[n - first_line];
}

CLogReader::~CLogReader() { StopMonitor(); }

void CLogReader::ResetCacheNoLock() {
  line_count = 0;
  line_index.clear();
  line_index.reserve(32);
  for (int i = 0; i < 2; ++i) {
    monitor_cache[i].Reset();
    read_cache[i].Reset();
  }
  monitor_current = 0;
  read_current = 0;
  parsed_offset = 0;
  struct stat st;
  file_size_seen = (!source.empty() && stat(source.c_str(), &st) == 0) ? st.st_size : 0;
}

void CLogReader::SwitchMonitorCache() {
  monitor_current = 1 - monitor_current;
  CLineCache& c = monitor_cache[monitor_current];
  if (!c.valid)
    c.Init(kCacheSize);
  else
    c.Reset();
}

void CLogReader::SwitchReadCache() {
  read_current = 1 - read_current;
  CLineCache& c = read_cache[read_current];
  if (!c.valid)
    c.Init(kCacheSize);
  else
    c.Reset();
}

int CLogReader::SetSource(const char* path, int width) {
  {
    CLockWrapper guard(*this);
    wrap_width = width;
  }
  if (path) {
    unique_fd file(open(path, O_RDONLY));
    if (!file.valid()) return errno;
  }
  // The monitor takes the reader lock while it parses: stop it first.
  StopMonitor();
  {
    CLockWrapper guard(*this);
    source = path ? path : "";
    ResetCacheNoLock();
  }
  if (!path) return 0;
  return StartMonitor();
}

size_t CLogReader::GetLineCount() {
  CLockWrapper guard(*this);
  return (size_t)line_count;
}

int CLogReader::StartMonitor() {
  if (monitor_thread.joinable()) return 0;
  monitor_running = true;
  int r = start_thread(monitor_thread, [this] { FileMonitor(); });
  if (r != 0) monitor_running = false;
  return r;
}

void CLogReader::StopMonitor() {
  {
    std::lock_guard<std::mutex> g(sleep_mutex);
    monitor_running = false;
  }
  sleep_cv.notify_all();
  if (monitor_thread.joinable()) monitor_thread.join();
}

void CLogReader::FileMonitor() {
  set_thread_name(source + " logreader");
  while (monitor_running) {
    ParseLog();
    std::unique_lock<std::mutex> lk(sleep_mutex);
    sleep_cv.wait_for(lk, std::chrono::milliseconds(200), [this] { return !monitor_running; });
  }
}

int CLogReader::ParseLog() {
  // The source changes only while the monitor is stopped.
  unique_fd file(open(source.c_str(), O_RDONLY));
  const int fd = file.get();
  if (fd < 0) return errno;
  off_t size = lseek(fd, 0, SEEK_END);
  {
    CLockWrapper guard(*this);
    if (size < parsed_offset || size < file_size_seen) {
      // Truncated or replaced: start again from the beginning.
      ResetCacheNoLock();
      return 0;
    }
    file_size_seen = size;
  }
  int result = 0;
  for (;;) {
    // The lock is taken per chunk, so readers get in between.
    CLockWrapper guard(*this);
    if (!(parsed_offset < file_size_seen && monitor_running)) break;
    size = lseek(fd, 0, SEEK_END);
    if (size < file_size_seen) {
      ResetCacheNoLock();
      break;
    }
    file_size_seen = size;
    if (size <= parsed_offset) break;
    off_t before = parsed_offset;
    int r = ParseRight(fd);
    if (r < 0) {
      result = -r;
      break;
    }
    // An unfinished last line: wait for the rest of it on a later pass.
    if (r == 0 && parsed_offset == before) break;
  }
  return result;
}

size_t CLogReader::ScanChunk(CLineCache& c, size_t nread, size_t& line_no, off_t offset, std::vector<off_t>* index) {
  char* base = c.buffer.get() + c.fill;
  size_t consumed = 0;
  for (size_t i = 0; i < nread; ++i) {
    bool cut = false;
    size_t next = 0;
    if (base[i] == '\n') {
      base[i] = 0;
      cut = true;
      next = i + 1;
    } else if (wrap_width > 0 && i - consumed >= (size_t)wrap_width) {
      cut = true;
      next = i;
    }
    if (!cut) continue;
    c.starts.push_back(c.line_start);
    if (index && line_no % kIndexStep == 0) index->push_back(offset + (off_t)consumed);
    c.line_start = c.fill + next;
    ++line_no;
    consumed = next;
  }
  // A line longer than a whole buffer (possible only without wrapping) is
  // cut at the buffer's end, so that parsing always moves on.
  if (consumed == 0 && c.fill == 0 && nread == c.size && nread > 0) {
    c.starts.push_back(c.line_start);
    if (index && line_no % kIndexStep == 0) index->push_back(offset);
    ++line_no;
    consumed = nread;
    c.line_start = c.size;
  }
  return consumed;
}

int CLogReader::ParseRight(int fd) {
  if (!monitor_cache[monitor_current].valid) monitor_cache[monitor_current].Init(kCacheSize);
  if (monitor_cache[monitor_current].IsFull()) SwitchMonitorCache();
  CLineCache& c = monitor_cache[monitor_current];
  if (!c.valid) return -ENOMEM;
  size_t room = c.size - c.fill;
  size_t want = std::min((size_t)(file_size_seen - parsed_offset), room);
  ssize_t got = pread(fd, c.buffer.get() + c.fill, want, parsed_offset);
  if (got < 0) return -errno;
  if (c.fill == 0 && c.starts.empty()) c.first_line = (size_t)line_count;
  size_t line_no = (size_t)line_count;
  size_t consumed = ScanChunk(c, (size_t)got, line_no, parsed_offset, &line_index);
  line_count = line_no;
  parsed_offset += (off_t)consumed;
  if ((size_t)got == room && got > 0) {
    c.fill = c.size;
    return 1;
  }
  c.fill += consumed;
  return 0;
}

int CLogReader::GetLine(size_t n, std::string& text) {
  CLockWrapper guard(*this);
  if (n >= line_count) return -1;
  const CLineCache* found = nullptr;
  for (const CLineCache* c : {&monitor_cache[0], &monitor_cache[1], &read_cache[0], &read_cache[1]}) {
    if (c->valid && c->GetLine(n)) {
      found = c;
      break;
    }
  }
  if (!found) {
    // Older than the monitor caches: read it back from the nearest indexed line.
    size_t k = n / kIndexStep;
    if (k < line_index.size() && line_index[k] < file_size_seen) {
      unique_fd file(open(source.c_str(), O_RDONLY));
      const int fd = file.get();
      if (fd < 0) return errno;
      SwitchReadCache();
      off_t off = line_index[k];
      size_t line_no = k * kIndexStep;
      CLineCache* c = &read_cache[read_current];
      while (c->valid && off < file_size_seen && !c->GetLine(n)) {
        if (c->IsFull()) {
          SwitchReadCache();
          c = &read_cache[read_current];
          if (!c->valid) break;
        }
        if (c->fill == 0 && c->starts.empty()) c->first_line = line_no;
        size_t room = c->size - c->fill;
        size_t want = std::min((size_t)(file_size_seen - off), room);
        ssize_t got = pread(fd, c->buffer.get() + c->fill, want, off);
        if (got < 0) return errno;
        if (got == 0) break;
        size_t consumed = ScanChunk(*c, (size_t)got, line_no, off, nullptr);
        off += (off_t)consumed;
        if ((size_t)got == room) {
          c->fill = c->size;
        } else {
          c->fill += consumed;
          if (consumed == 0) break;
        }
      }
      if (c->valid && c->GetLine(n)) found = c;
    }
  }
  if (!found) return -1;
  const char* p = found->GetLine(n);
  size_t limit = found->BytesFrom(n);
  if (wrap_width > 0) limit = std::min(limit, (size_t)wrap_width);
  text.assign(p, strnlen(p, limit));
  return 0;
}
