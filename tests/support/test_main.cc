// Test entry: log4cplus initialised, a null appender on the root logger so that loggers without a
// configuration stay quiet (tests that look at log lines attach a LogCapture); below every test's own
// fake root, a root that does not exist, so that no test reaches the host's /sys and /dev, nor runs a
// shell command or reboots.
#include <gtest/gtest.h>
#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>
#include <log4cplus/nullappender.h>

#include "support/fake_platform.h"

struct NoRoot : FakePlatform {
  std::string root = "/nonexistent-zorvane-test-root";
  const std::string& RootPrefix() override { return root; }
};

int main(int argc, char** argv) {
  log4cplus::Initializer log_init;
  log4cplus::Logger::getRoot().addAppender(log4cplus::SharedAppenderPtr(new log4cplus::NullAppender()));
  NoRoot no_root;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
