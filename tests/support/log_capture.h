// Captures what the program logs: an appender on the root logger, every
// level on, that keeps each message with its logger name while it lives.
#pragma once
#include <log4cplus/appender.h>
#include <log4cplus/logger.h>
#include <log4cplus/spi/loggingevent.h>

#include <mutex>
#include <string>
#include <vector>

class LogCapture {
 public:
  LogCapture() : app(new Appender) {
    log4cplus::Logger::getRoot().setLogLevel(log4cplus::TRACE_LOG_LEVEL);
    log4cplus::Logger::getRoot().addAppender(app);
  }
  ~LogCapture() { log4cplus::Logger::getRoot().removeAppender(app); }
  void Clear() {
    std::lock_guard<std::mutex> g(self().m);
    self().lines.clear();
  }
  // Lines containing the text (on the given logger, if any).
  int Count(const std::string& text, const std::string& logger = "") {
    std::lock_guard<std::mutex> g(self().m);
    int n = 0;
    for (auto& l : self().lines) n += l.second.find(text) != std::string::npos && (logger.empty() || l.first == logger);
    return n;
  }
  bool Has(const std::string& text, const std::string& logger = "") { return Count(text, logger) > 0; }

 private:
  class Appender : public log4cplus::Appender {
   public:
    ~Appender() override { destructorImpl(); }
    void close() override {}
    std::mutex m;
    std::vector<std::pair<std::string, std::string>> lines;  // logger, message
    void append(const log4cplus::spi::InternalLoggingEvent& ev) override {
      std::lock_guard<std::mutex> g(m);
      lines.push_back({ev.getLoggerName(), ev.getMessage()});
    }
  };
  Appender& self() { return static_cast<Appender&>(*app); }
  log4cplus::SharedAppenderPtr app;
};
