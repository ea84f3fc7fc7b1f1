// The log viewer's file reader: CLogReader parsing a growing (or truncated,
// or replaced) file into display lines and reading lines back, from its
// caches or from the file through the line index. The input is a wrap width
// and a list of operations: append bytes (possibly many times over, to get
// past the 32 KiB caches and the 256-line index steps), truncate, parse, and
// read lines. The monitor thread is not started: the harness calls the pass
// it would make.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "fuzz_support.h"
#include "ui/logreader.h"

namespace {

class FuzzLogReader : public CLogReader {
 public:
  void Follow(const std::string& path, int width) {
    CLockWrapper guard(*this);
    source = path;
    wrap_width = width;
    ResetCacheNoLock();
  }
  int Pass() {
    monitor_running = true;
    int r = ParseLog();
    monitor_running = false;
    return r;
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_init_logging();
  FuzzRoot::Get();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  FuzzRoot& root = FuzzRoot::Get();
  root.Reset();
  const std::string path = root.Path("/tmp/zorvane.log");
  std::string content;  // what the file holds
  // After a cut the reader may show what the file held before, until a pass
  // notices (and a file grown past its old size again looks unchanged).
  bool cut = false;
  root.WriteFile("/tmp/zorvane.log", content);

  FuzzLogReader reader;
  int width = in.ConsumeBool() ? 0 : in.ConsumeIntegralInRange<int>(1, 200);
  reader.Follow(path, width);
  for (int ops = 0; ops < 64 && in.remaining_bytes(); ++ops) {
    switch (in.ConsumeIntegralInRange<int>(0, 4)) {
      case 0: {  // the program logs more
        std::string chunk = in.ConsumeRandomLengthString(256);
        int times = in.ConsumeIntegralInRange<int>(1, 256);
        std::string more;
        for (int i = 0; i < times; ++i) more += chunk;
        int fd = open(path.c_str(), O_WRONLY | O_APPEND);
        if (fd >= 0) {
          if (write(fd, more.data(), more.size()) == (ssize_t)more.size()) content += more;
          close(fd);
        }
        break;
      }
      case 1: {  // the file is cut (log rotation, a new session)
        size_t keep = in.ConsumeIntegralInRange<size_t>(0, content.size());
        if (truncate(path.c_str(), (off_t)keep) == 0) content.resize(keep);
        cut = true;
        break;
      }
      case 2:
        reader.Pass();
        break;
      default: {  // the viewer shows some lines
        size_t count = reader.GetLineCount();
        size_t n = in.ConsumeBool() ? in.ConsumeIntegralInRange<size_t>(0, count + 2)
                                    : count - std::min<size_t>(count, in.ConsumeIntegralInRange<size_t>(0, 40));
        std::string text;
        if (reader.GetLine(n, text) == 0) {
          if (n >= count) abort();
          if (text.find('\n') != std::string::npos || (width > 0 && text.size() > (size_t)width)) abort();
          if (!cut && content.find(text) == std::string::npos) abort();
        }
        break;
      }
    }
  }
  return 0;
}
