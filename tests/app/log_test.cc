// Logging start-up, the appender error handlers and end-of-session recovery.
#include <gtest/gtest.h>
#include <log4cplus/hierarchy.h>
#include <log4cplus/nullappender.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/log.h"
#include "app/paths.h"
#include "support/log_capture.h"

namespace {

std::vector<std::string> g_commands;
int g_script_status = 0;
int record_command(const char* cmd) {
  g_commands.push_back(cmd);
  return g_script_status;
}

class LogStartup : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zv-log-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    log4cplus::Logger::getDefaultHierarchy().resetConfiguration();
    g_commands.clear();
    g_script_status = 0;
    g_shell_runner = record_command;
  }
  void TearDown() override {
    log4cplus::Logger::getDefaultHierarchy().resetConfiguration();
    log4cplus::Logger::getRoot().addAppender(log4cplus::SharedAppenderPtr(new log4cplus::NullAppender()));
    g_shell_runner = [](const char* c) { return system(c); };
    std::string cmd = "rm -rf " + dir;
    (void)!system(cmd.c_str());
  }
  std::string Config(const std::string& body) {
    std::string path = dir + "/wipe-log.cfg";
    std::ofstream(path) << body;
    return path;
  }
  std::string FileAppenders() {
    return "log4cplus.rootLogger=DEBUG, DBG\n"
           "log4cplus.appender.DBG=log4cplus::FileAppender\n"
           "log4cplus.appender.DBG.File=" + dir + "/xdebug.log\n"
           "log4cplus.logger.wipe=INFO, LOG_MSGS, LOG_CIFS\n"
           "log4cplus.appender.LOG_MSGS=log4cplus::FileAppender\n"
           "log4cplus.appender.LOG_MSGS.File=" + dir + "/zorvane.log\n"
           "log4cplus.appender.LOG_CIFS=log4cplus::FileAppender\n"
           "log4cplus.appender.LOG_CIFS.File=" + dir + "/copy.log\n";
  }
  // The configuration replaces the root logger's appenders, so messages
  // written while it is read are looked for in a debug file.
  std::string DebugFile() {
    return "log4cplus.logger.debug=DEBUG, D\n"
           "log4cplus.appender.D=log4cplus::FileAppender\n"
           "log4cplus.appender.D.File=" + dir + "/d.log\n";
  }
  std::string Read(const std::string& name) {
    std::ifstream f(dir + "/" + name);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  }
  static int Count(const std::string& hay, const std::string& needle) {
    int n = 0;
    for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
    return n;
  }
  std::string dir;
};

TEST_F(LogStartup, FileAppendersGetHandlersAndTheScriptRunsForEachEvenWithoutErrors) {
  ASSERT_EQ(g_log.Startup(Config(FileAppenders()).c_str()), 0);
  LogCapture cap;
  LOG_INFO(g_wipe_log, "hello");
  g_log.ProcessAppendersErrorHandlers();
  EXPECT_EQ(g_commands, (std::vector<std::string>{"sh /scripts/save_copy_of_log.sh LOG_MSGS",
                                                  "sh /scripts/save_copy_of_log.sh LOG_CIFS"}));
  EXPECT_TRUE(cap.Has("Executing 'sh /scripts/save_copy_of_log.sh LOG_MSGS'", "debug"));
  EXPECT_FALSE(cap.Has("Error occured during writting a log file."));
  EXPECT_FALSE(cap.Has("Script returned with an error"));
  // The start line goes to the root logger, so the debug file holds it.
  std::string all = Read("xdebug.log");
  EXPECT_NE(all.find("*************** Session started *********************"), std::string::npos);
  EXPECT_NE(all.find("Add the error handler to 'LOG_MSGS' file appender"), std::string::npos);
  EXPECT_NE(all.find("Add the error handler to 'LOG_CIFS' file appender"), std::string::npos);
}

TEST_F(LogStartup, AWriteErrorIsReportedAtTheEndAndAFailingScriptLogsOnce) {
  ASSERT_EQ(g_log.Startup(Config(FileAppenders()).c_str()), 0);
  LogCapture cap;
  log4cplus::SharedAppenderPtr app = g_wipe_log.getAppender("LOG_MSGS");
  ASSERT_TRUE(app);
  app->getErrorHandler()->error("disk pulled");
  g_script_status = 256;
  g_log.ProcessAppendersErrorHandlers();
  EXPECT_EQ(cap.Count("Error occured during writting a log file.", "wipe"), 1);
  EXPECT_EQ(cap.Count("We will try to save a copy with extension .recovery afterwards.", "wipe"), 1);
  EXPECT_EQ(cap.Count("Script returned with an error", "debug"), 2);
  EXPECT_EQ(g_commands.size(), 2u);
}

TEST_F(LogStartup, NoMatchingFileAppendersMeansNoScript) {
  size_t before = g_log.HandlerCount();
  ASSERT_EQ(g_log.Startup(Config(DebugFile() + "log4cplus.rootLogger=DEBUG, N\n"
                                 "log4cplus.appender.N=log4cplus::NullAppender\n"
                                 "log4cplus.logger.wipe=INFO, LOG_MSGS\n"
                                 "log4cplus.appender.LOG_MSGS=log4cplus::NullAppender\n")
                             .c_str()),
            0);
  EXPECT_EQ(g_log.HandlerCount(), before + 2);
  std::string d = Read("d.log");
  EXPECT_EQ(Count(d, "'LOG_MSGS' is not a file appender"), 1);
  EXPECT_EQ(Count(d, "Unable to setup error handler on logger 'wipe': there is no file appenders in it"), 2);
  g_log.ProcessAppendersErrorHandlers();
  EXPECT_TRUE(g_commands.empty());
}

TEST_F(LogStartup, AWipeLoggerWithoutAppendersIsReported) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(g_log.Startup(Config(DebugFile() + "log4cplus.rootLogger=DEBUG, N\nlog4cplus.appender.N=log4cplus::NullAppender\n").c_str()), -1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(Count(Read("d.log"), "There are no appenders in 'wipe' logger."), 2);
}

TEST_F(LogStartup, DestroyedAppendersUnlistTheirHandlers) {
  size_t before = g_log.HandlerCount();
  ASSERT_EQ(g_log.Startup(Config(FileAppenders()).c_str()), 0);
  EXPECT_EQ(g_log.HandlerCount(), before + 2);
  log4cplus::Logger::getDefaultHierarchy().resetConfiguration();
  EXPECT_EQ(g_log.HandlerCount(), before);
  g_log.ProcessAppendersErrorHandlers();
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

TEST_F(LogStartup, FileToLogCopiesNonEmptyLinesInOrder) {
  LogCapture cap;
  std::string path = dir + "/sys_info";
  std::ofstream(path) << "CPU: test\n\n   \nRAM: 2 GiB\nlast line";
  file_to_log(path.c_str(), g_wipe_log);
  EXPECT_EQ(cap.Texts("wipe"), (std::vector<std::string>{"CPU: test", "   ", "RAM: 2 GiB", "last line"}));
  cap.Clear();
  file_to_log((dir + "/absent").c_str(), g_wipe_log);
  file_to_log(nullptr, g_wipe_log);
  EXPECT_TRUE(cap.Lines().empty());
}

}  // namespace
