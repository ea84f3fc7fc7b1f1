// The log viewer's reader on a file that grows, is cut or replaced, read
// back through its caches and line index. The monitor thread is not
// started: the harness makes the pass it would make.
#include <fcntl.h>
#include <unistd.h>

#include "fuzz_support.h"
#include "ui/logreader.h"

namespace {
struct Reader : CLogReader {
  void Follow(const std::string& path, int width) {
    CLockWrapper guard(*this);
    source = path;
    wrap_width = width;
    ResetCacheNoLock();
  }
  void Pass() {
    monitor_running = true;
    ParseLog();
    monitor_running = false;
  }
};
}  // namespace

void fuzz_one(FuzzedDataProvider& in) {
  const std::string path = fuzz_path("/tmp/zorvane.log");
  std::string content;
  bool cut = false;  // after a cut the reader may show what the file held before
  fuzz_file("/tmp/zorvane.log", "");
  Reader reader;
  int width = in.ConsumeBool() ? 0 : in.ConsumeIntegralInRange<int>(1, 200);
  reader.Follow(path, width);
  for (int ops = 0; ops < 64 && in.remaining_bytes(); ++ops) {
    int op = in.ConsumeIntegralInRange<int>(0, 4);
    if (op == 0) {  // the program logs more, past the 32 KiB caches and 256-line index steps
      std::string chunk = in.ConsumeRandomLengthString(256), more;
      for (int i = in.ConsumeIntegralInRange<int>(1, 256); i > 0; --i) more += chunk;
      int fd = open(path.c_str(), O_WRONLY | O_APPEND);
      if (fd >= 0 && write(fd, more.data(), more.size()) == (ssize_t)more.size()) content += more;
      if (fd >= 0) close(fd);
    } else if (op == 1) {  // log rotation, a new session
      size_t keep = in.ConsumeIntegralInRange<size_t>(0, content.size());
      if (truncate(path.c_str(), (off_t)keep) == 0) content.resize(keep);
      cut = true;
    } else if (op == 2) {
      reader.Pass();
    } else {
      size_t count = reader.GetLineCount(), n = in.ConsumeIntegralInRange<size_t>(0, count + 2);
      std::string text;
      if (reader.GetLine(n, text) != 0) continue;
      if (n >= count || text.find('\n') != std::string::npos || (width > 0 && text.size() > (size_t)width)) abort();
      if (!cut && content.find(text) == std::string::npos) abort();
    }
  }
}
