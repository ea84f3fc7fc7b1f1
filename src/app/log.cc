#include "app/log.h"

#include <log4cplus/configurator.h>
#include <log4cplus/fileappender.h>
#include <log4cplus/helpers/property.h>
#include <log4cplus/hierarchy.h>
#include <stdio.h>

#include <fstream>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <memory>

#include "app/paths.h"

log4cplus::Logger g_ll_log = log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("lowlevel"));
log4cplus::Logger g_dbg_log = log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("debug"));
log4cplus::Logger g_wipe_log = log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("wipe"));

CLogMgr g_log;

// Appenders (and so the handlers they own) may outlive the manager at process
// exit; handlers must not call into a destroyed manager.
static bool g_log_alive = true;

CLogMgr::~CLogMgr() {
  handlers.clear();
  g_log_alive = false;
  unbound.clear();
}

// Whether the session log has somewhere to go. log4cplus does not throw for
// a missing configuration, an unknown appender class or a file it cannot
// open: it leaves the appender out, or keeps one that writes nothing. So the
// "wipe" logger must have an appender, and each of its file appenders a file
// that opens for appending.
static bool wipe_log_usable(const char* file) {
  log4cplus::SharedAppenderPtrList list = g_wipe_log.getAllAppenders();
  if (list.empty()) return false;
  log4cplus::helpers::Properties props{log4cplus::tstring(file)};
  for (auto& app : list) {
    if (!dynamic_cast<log4cplus::FileAppender*>(app.get())) continue;
    log4cplus::tstring path = props.getProperty("log4cplus.appender." + app->getName() + ".File");
    if (path.empty() || !std::ofstream(path, std::ios::app)) return false;
  }
  return true;
}

int CLogMgr::Startup(const char* file) {
  if (!file) file = "wipe-log.cfg";
  try {
    log4cplus::Logger root = log4cplus::Logger::getRoot();
    log4cplus::Hierarchy& h = log4cplus::Logger::getDefaultHierarchy();
    log4cplus::PropertyConfigurator::doConfigure(file, h, 0);
    LOG_INFO(root, "*************** Session started *********************");
    for (const char* name : {"LOG_MSGS", "LOG_CIFS"}) {
      CLogErrorHandler* h = new CLogErrorHandler(name);
      handlers.push_back(h);
      if (!h->IsBound()) unbound.emplace_back(h);
    }
    if (wipe_log_usable(file)) return 0;
  } catch (...) {}
  fputs("Warning: error in logger subsystem initialization\n", stderr);
  return -1;
}

void CLogMgr::ProcessAppendersErrorHandlers() {
  for (CLogErrorHandler* h : handlers) h->errorRecovery();
}

void CLogMgr::NotifyErrorHandlerDestroyed(CLogErrorHandler* handler) {
  auto it = std::find(handlers.begin(), handlers.end(), handler);
  if (it != handlers.end()) handlers.erase(it);
}

CLogErrorHandler::CLogErrorHandler(const char* name) : appender_name(name ? name : "") {
  LOG_DEBUG(g_dbg_log, "searching for file appenders in 'wipe' logger");
  log4cplus::SharedAppenderPtrList list = g_wipe_log.getAllAppenders();
  if (list.empty()) {
    LOG_DEBUG(g_dbg_log, "There are no appenders in 'wipe' logger.");
  } else {
    for (auto& app : list) {
      if (app->getName() != appender_name) continue;
      auto* file_app = dynamic_cast<log4cplus::FileAppender*>(app.get());
      if (file_app) {
        appender = file_app;
        LOG_DEBUG(g_dbg_log, "Add the error handler to '" << app->getName() << "' file appender");
        app->setErrorHandler(std::unique_ptr<log4cplus::ErrorHandler>(this));
        break;
      }
      LOG_DEBUG(g_dbg_log, "'" << app->getName() << "' is not a file appender");
    }
  }
  if (!appender)
    LOG_DEBUG(g_dbg_log, "Unable to setup error handler on logger 'wipe': there is no file appenders in it");
}

CLogErrorHandler::~CLogErrorHandler() {
  if (g_log_alive) g_log.NotifyErrorHandlerDestroyed(this);
}

void CLogErrorHandler::error(const log4cplus::tstring&) { error_flag = true; }

void CLogErrorHandler::reset() {
  LOG_DEBUG(g_dbg_log, "reset() is called on LogErrorHandler of '" << appender_name << "'");
}

void CLogErrorHandler::errorRecovery() {
  if (!appender) return;
  if (error_flag) {
    LOG_WARN(g_wipe_log, "Error occured during writting a log file.");
    LOG_INFO(g_wipe_log, "We will try to save a copy with extension .recovery afterwards.");
  }
  char cmd[4096];
  snprintf(cmd, sizeof cmd, "sh /scripts/save_copy_of_log.sh %s", appender_name.c_str());
  LOG_DEBUG(g_dbg_log, "Executing '" << cmd << "'");
  if (run_shell(cmd) != 0) LOG_DEBUG(g_dbg_log, "Script returned with an error");
}

void file_to_log(const char* path, log4cplus::Logger logger) {
  if (!path) return;
  std::ifstream f(path);
  if (!f.is_open()) return;
  std::string line;
  while (std::getline(f, line))
    if (!line.empty() && logger.isEnabledFor(log4cplus::INFO_LOG_LEVEL)) LOG_INFO(logger, line);
}
