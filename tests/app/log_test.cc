// At the end of the session each session log file is copied, and a write
// error is told; a configuration that leaves the session without its log
// is noticed.
#include <gtest/gtest.h>
#include <log4cplus/hierarchy.h>
#include <log4cplus/nullappender.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>

#include "app/log.h"
#include "app/paths.h"
#include "support/log_capture.h"

namespace {

std::vector<std::string> g_commands;
int record_command(const char* cmd) { return g_commands.push_back(cmd), 0; }

class LogStartup : public ::testing::Test {
 protected:
  std::string dir = "/tmp/zv-log-" + std::to_string(getpid());
  LogStartup() {
    mkdir(dir.c_str(), 0700);
    log4cplus::Logger::getDefaultHierarchy().resetConfiguration();
    g_commands.clear();
    g_shell_runner = record_command;
  }
  ~LogStartup() override {
    log4cplus::Logger::getDefaultHierarchy().resetConfiguration();
    log4cplus::Logger::getRoot().addAppender(log4cplus::SharedAppenderPtr(new log4cplus::NullAppender()));
    g_shell_runner = [](const char* c) { return system(c); };
    (void)!system(("rm -rf " + dir).c_str());
  }
  std::string Config(const std::string& body) {
    std::string path = dir + "/wipe-log.cfg";
    std::ofstream(path) << body;
    return path;
  }
  // The session log in two files, as the boot environment has it.
  std::string FileAppenders() {
    std::string cfg = "log4cplus.logger.wipe=INFO, LOG_MSGS, LOG_CIFS\n";
    for (const char* a : {"LOG_MSGS", "LOG_CIFS"})
      cfg += std::string("log4cplus.appender.") + a + "=log4cplus::FileAppender\nlog4cplus.appender." + a +
             ".File=" + dir + "/" + a + ".log\n";
    return cfg;
  }
};

TEST_F(LogStartup, EveryFileAppenderIsCopiedAtTheEndAndAWriteErrorIsTold) {
  ASSERT_EQ(0, g_log.Startup(Config(FileAppenders()).c_str()));
  LogCapture cap;
  g_wipe_log.getAppender("LOG_MSGS")->getErrorHandler()->error("disk pulled");
  g_log.ProcessAppendersErrorHandlers();
  EXPECT_EQ((std::vector<std::string>{"sh /scripts/save_copy_of_log.sh LOG_MSGS",
                                      "sh /scripts/save_copy_of_log.sh LOG_CIFS"}),
            g_commands);
  EXPECT_EQ(1, cap.Count("Error occured during writting a log file.", "wipe"));
  log4cplus::Logger::getDefaultHierarchy().resetConfiguration();
  g_commands.clear();
  g_log.ProcessAppendersErrorHandlers();  // the appenders are gone, and so are their handlers
  EXPECT_TRUE(g_commands.empty());
}

// log4cplus does not throw for any of these; the program must notice that
// the session would run without its log.
TEST_F(LogStartup, AnUnusableConfigurationWarnsAndReturnsMinusOne) {
  struct row {
    const char* what;
    std::string config;  // empty: no configuration file
    bool usable;
  };
  const row rows[] = {
      {"usable", FileAppenders(), true},
      {"no file", "", false},
      {"unknown appender class",
       "log4cplus.logger.wipe=INFO, LOG_MSGS\nlog4cplus.appender.LOG_MSGS=no::SuchAppender\n", false},
      {"file that cannot be opened",
       "log4cplus.logger.wipe=INFO, LOG_MSGS\nlog4cplus.appender.LOG_MSGS=log4cplus::FileAppender\n"
       "log4cplus.appender.LOG_MSGS.File=" + dir + "/missing/zorvane.log\n",
       false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    log4cplus::Logger::getDefaultHierarchy().resetConfiguration();
    std::string path = r.config.empty() ? dir + "/absent.cfg" : Config(r.config);
    testing::internal::CaptureStderr();
    int rc = g_log.Startup(path.c_str());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, r.usable ? 0 : -1);
    EXPECT_EQ(err.find("Warning: error in logger subsystem initialization\n") != std::string::npos, !r.usable) << err;
  }
}

}  // namespace
