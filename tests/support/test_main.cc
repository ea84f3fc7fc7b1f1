// Test entry: logging goes to a file under the build tree so that tests can
// look at the lines the code wrote.
#include <gtest/gtest.h>
#include <log4cplus/initializer.h>

int main(int argc, char** argv) {
  log4cplus::Initializer log_init;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
