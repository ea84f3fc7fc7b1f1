// Test entry: log4cplus initialised, a null appender on the root logger so that loggers without a
// configuration stay quiet; tests that look at log lines attach a LogCapture.
#include <gtest/gtest.h>
#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>
#include <log4cplus/nullappender.h>

int main(int argc, char** argv) {
  log4cplus::Initializer log_init;
  log4cplus::Logger::getRoot().addAppender(log4cplus::SharedAppenderPtr(new log4cplus::NullAppender()));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
