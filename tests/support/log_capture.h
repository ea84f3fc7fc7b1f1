// Captures what the program logs: an appender on the root logger that keeps
// every message (with its logger name and level) in memory.
#pragma once
#include <log4cplus/appender.h>
#include <log4cplus/logger.h>
#include <log4cplus/spi/loggingevent.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

struct captured_line {
  std::string logger;
  int level;
  std::string text;
};

class CaptureAppender : public log4cplus::Appender {
 public:
  CaptureAppender() { setName(LOG4CPLUS_TEXT("capture")); }
  ~CaptureAppender() override { destructorImpl(); }
  void close() override {}
  std::vector<captured_line> Lines() {
    std::lock_guard<std::mutex> g(m);
    return lines;
  }
  void Clear() {
    std::lock_guard<std::mutex> g(m);
    lines.clear();
  }

 protected:
  void append(const log4cplus::spi::InternalLoggingEvent& ev) override {
    std::lock_guard<std::mutex> g(m);
    lines.push_back({ev.getLoggerName(), ev.getLogLevel(), ev.getMessage()});
  }

 private:
  std::mutex m;
  std::vector<captured_line> lines;
};

// RAII: attaches a capture appender to the root logger with every level on.
class LogCapture {
 public:
  LogCapture() : app(new CaptureAppender) {
    log4cplus::Logger root = log4cplus::Logger::getRoot();
    root.setLogLevel(log4cplus::TRACE_LOG_LEVEL);
    root.addAppender(log4cplus::SharedAppenderPtr(app.get()));
  }
  ~LogCapture() { log4cplus::Logger::getRoot().removeAppender(app); }
  std::vector<captured_line> Lines() { return static_cast<CaptureAppender*>(app.get())->Lines(); }
  void Clear() { static_cast<CaptureAppender*>(app.get())->Clear(); }
  // True when some line contains the text (optionally on the given logger).
  bool Has(const std::string& text, const std::string& logger = "") {
    for (auto& l : Lines())
      if (l.text.find(text) != std::string::npos && (logger.empty() || l.logger == logger)) return true;
    return false;
  }
  int Count(const std::string& text, const std::string& logger = "") {
    int n = 0;
    for (auto& l : Lines())
      if (l.text.find(text) != std::string::npos && (logger.empty() || l.logger == logger)) ++n;
    return n;
  }
  // Exact-match line list for one logger.
  std::vector<std::string> Texts(const std::string& logger) {
    std::vector<std::string> out;
    for (auto& l : Lines())
      if (logger.empty() || l.logger == logger) out.push_back(l.text);
    return out;
  }

 private:
  log4cplus::SharedAppenderPtr app;
};
