// Logging: the three named loggers, the log manager with its appender error
// handlers, and the macros that format a message only when its level is on.
#pragma once
#include <log4cplus/appender.h>
#include <log4cplus/fileappender.h>
#include <log4cplus/logger.h>
#include <log4cplus/loglevel.h>

#include <memory>

#include <sstream>
#include <string>
#include <vector>

extern log4cplus::Logger g_ll_log;    // "lowlevel": single ATA and SCSI commands
extern log4cplus::Logger g_dbg_log;   // "debug": diagnostics
extern log4cplus::Logger g_wipe_log;  // "wipe": the operator-facing session log

constexpr const char* zv_basename(const char* path) {
  const char* base = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/') base = p + 1;
  return base;
}

#define ZV_LOG(logger, level, expr)                                                       \
  do {                                                                                    \
    if ((logger).isEnabledFor(level)) {                                                   \
      std::ostringstream zv_log_stream_;                                                  \
      zv_log_stream_ << expr;                                                             \
      (logger).forcedLog((level), zv_log_stream_.str(), zv_basename(__FILE__), __LINE__); \
    }                                                                                     \
  } while (0)

#define LOG_TRACE(logger, expr) ZV_LOG(logger, log4cplus::TRACE_LOG_LEVEL, expr)
#define LOG_DEBUG(logger, expr) ZV_LOG(logger, log4cplus::DEBUG_LOG_LEVEL, expr)
#define LOG_INFO(logger, expr) ZV_LOG(logger, log4cplus::INFO_LOG_LEVEL, expr)
#define LOG_WARN(logger, expr) ZV_LOG(logger, log4cplus::WARN_LOG_LEVEL, expr)
#define LOG_ERROR(logger, expr) ZV_LOG(logger, log4cplus::ERROR_LOG_LEVEL, expr)
#define LOG_FATAL(logger, expr) ZV_LOG(logger, log4cplus::FATAL_LOG_LEVEL, expr)

class CLogErrorHandler;

class CLogMgr {
 public:
  CLogMgr() = default;
  ~CLogMgr();
  int Startup(const char* file);
  void ProcessAppendersErrorHandlers();
  void NotifyErrorHandlerDestroyed(CLogErrorHandler* handler);
  // Number of handlers in the list (tests).
  size_t HandlerCount() const { return handlers.size(); }

 private:
  std::vector<CLogErrorHandler*> handlers;
  // Handlers no appender took over; they live as long as the manager.
  std::vector<std::unique_ptr<CLogErrorHandler>> unbound;
};

extern CLogMgr g_log;

class CLogErrorHandler : public log4cplus::ErrorHandler {
 public:
  explicit CLogErrorHandler(const char* appender_name);
  ~CLogErrorHandler() override;
  void error(const log4cplus::tstring& message) override;
  void reset() override;
  void errorRecovery();
  bool IsBound() const { return appender != nullptr; }
  bool HasError() const { return error_flag; }

 private:
  log4cplus::FileAppender* appender = nullptr;
  bool error_flag = false;
  std::string appender_name;
};

// Copies every non-empty line of a text file into the logger at INFO.
void file_to_log(const char* path, log4cplus::Logger logger);
