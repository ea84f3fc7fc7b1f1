// The size texts the operator reads, the mode flags from the environment,
// and the session log: each file copied at the end, a write error told, a
// configuration that leaves the session without its log noticed.
#include <gtest/gtest.h>
#include <log4cplus/hierarchy.h>
#include <log4cplus/nullappender.h>
#include <unistd.h>

#include <fstream>

#include "app/globals.h"
#include "app/log.h"
#include "app/paths.h"
#include "app/util.h"
#include "support/log_capture.h"
#include "support/fake_platform.h"

namespace {

TEST(SizeStr, AutomaticUnitIsTheLargestStrictlyBelowTheSizeFixedUnitsTruncate) {
  struct row { unsigned long long bytes; char unit; const char* text; } rows[] = {  // unit 'A': automatic
      {1000, 'A', "1000 Bytes"}, {1001, 'A', "1 kB"}, {1000000, 'A', "1000 kB"}, {1500000, 'A', "1.5 MB"},
      {1000000000ULL, 'A', "1000.0 MB"}, {500107862016ULL, 'A', "500.1 GB"}, {2000398934016ULL, 'A', "2.0 TB"},
      {3500000000000000ULL, 'A', "3.5 PB"}, {1999999, 'M', "1.9 MB"}, {1048576, 's', "2048 sectors"},
      {42, 'b', "42 Bytes"}, {999999999, 'g', "0.9 GB"}};
  for (const row& r : rows) EXPECT_STREQ(r.text, CSizeStr(r.bytes, r.unit).c_str()) << r.bytes << r.unit;
}

TEST(ModeFlags, EnvironmentRules) {
  struct row { std::vector<std::pair<const char*, const char*>> env; int debuglevel, manual, wipe_all, nodelay, testmode, logfile; }
  rows[] = {
      {{{"TEST_MODE", "y"}, {"DEBUG", "0"}, {"WIPE_ALL_DISKS", "Y"}, {"USE_NODELAY", "1"}}, 2, 1, 0, 0, 1, 0},
      {{{"USE_SHELL", "Y"}, {"WIPE_ALL_DISKS", "Y"}, {"USE_LOGFILE", "1000"}}, 0, 1, 0, 0, 0, 1},
      {{{"DEBUG", "3x"}, {"WIPE_ALL_DISKS", "yes"}, {"USE_LOGFILE", "on"}}, 3, 0, 1, 0, 0, 0},
      {{{"DEBUG", " -1"}, {"USE_NODELAY", "y"}}, -1, 0, 0, 1, 0, 0},
  };
  for (const row& r : rows) {
    for (const char* v : {"DEBUG", "TEST_MODE", "USE_LOGFILE", "USE_SHELL", "WIPE_ALL_DISKS", "USE_NODELAY"}) unsetenv(v);
    for (auto& kv : r.env) setenv(kv.first, kv.second, 1);
    read_mode_flags();
    EXPECT_EQ((std::vector<int>{r.debuglevel, r.manual, r.wipe_all, r.nodelay, r.testmode, r.logfile}),
              (std::vector<int>{g_debuglevel, g_manual, g_wipe_all, g_nodelay, g_testmode, g_logfile}))
        << r.env[0].first << "=" << r.env[0].second;
  }
  for (const char* v : {"DEBUG", "USE_NODELAY"}) unsetenv(v);
  read_mode_flags();
}

std::vector<std::string> g_commands;

class LogStartup : public ::testing::Test {
 protected:
  std::string dir = "/tmp/zv-log-" + std::to_string(getpid());
  struct Recorder : FakePlatform {
    int Shell(const char* cmd) override { return g_commands.push_back(cmd), 0; }
  } shell;
  LogStartup() {
    mkdir(dir.c_str(), 0700);
    log4cplus::Logger::getDefaultHierarchy().resetConfiguration();
    g_commands.clear();
  }
  ~LogStartup() override {
    log4cplus::Logger::getDefaultHierarchy().resetConfiguration();
    log4cplus::Logger::getRoot().addAppender(log4cplus::SharedAppenderPtr(new log4cplus::NullAppender()));
    (void)!system(("rm -rf " + dir).c_str());
  }
  std::string Config(const std::string& body) {
    std::ofstream(dir + "/wipe-log.cfg") << body;
    return dir + "/wipe-log.cfg";
  }
  std::string FileAppenders() {
    std::string cfg = "log4cplus.logger.wipe=INFO, LOG_MSGS, LOG_CIFS\n";
    for (std::string a : {"LOG_MSGS", "LOG_CIFS"})
      cfg += "log4cplus.appender." + a + "=log4cplus::FileAppender\nlog4cplus.appender." + a + ".File=" + dir + "/" + a + ".log\n";
    return cfg;
  }
};

TEST_F(LogStartup, EveryFileAppenderIsCopiedAtTheEndAndAWriteErrorIsTold) {
  ASSERT_EQ(0, g_log.Startup(Config(FileAppenders()).c_str()));
  LogCapture cap;
  g_wipe_log.getAppender("LOG_MSGS")->getErrorHandler()->error("disk pulled");
  g_log.ProcessAppendersErrorHandlers();
  EXPECT_EQ((std::vector<std::string>{"sh /scripts/save_copy_of_log.sh LOG_MSGS", "sh /scripts/save_copy_of_log.sh LOG_CIFS"}),
            g_commands);
  EXPECT_EQ(1, cap.Count("Error occured during writting a log file.", "wipe"));
}

// log4cplus does not throw for any of these; the program must notice that
// the session would run without its log.
TEST_F(LogStartup, AnUnusableConfigurationWarnsAndReturnsMinusOne) {
  const std::string msgs = "log4cplus.logger.wipe=INFO, LOG_MSGS\nlog4cplus.appender.LOG_MSGS=";
  const std::string rows[] = {"" /* no file */, msgs + "no::SuchAppender\n",
      msgs + "log4cplus::FileAppender\nlog4cplus.appender.LOG_MSGS.File=" + dir + "/missing/zorvane.log\n"};
  for (const std::string& r : rows) {
    SCOPED_TRACE(r);
    log4cplus::Logger::getDefaultHierarchy().resetConfiguration();
    std::string path = r.empty() ? dir + "/absent.cfg" : Config(r);
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, g_log.Startup(path.c_str()));
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("Warning: error in logger"));
  }
}

}  // namespace
