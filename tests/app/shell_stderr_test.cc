// While the screen is up, what a shell command writes to its standard error
// goes to the verbose log (or nowhere), never onto the terminal.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "app/paths.h"

TEST(ShellStderrTest, ChildErrorsGoToTheVerboseLogWhileTheScreenIsUp) {
  struct row {
    bool screen_up;
    bool has_tmp;  // the verbose log can be opened
    bool on_terminal, in_log;
  };
  const row rows[] = {{false, true, true, false}, {true, true, false, true}, {true, false, false, false}};
  shell_runner_t saved_runner = g_shell_runner;
  std::string saved_prefix = g_root_prefix;
  g_shell_runner = [](const char* c) { return system(c); };
  for (const row& r : rows) {
    SCOPED_TRACE(std::to_string(r.screen_up) + std::to_string(r.has_tmp));
    char tmpl[] = "/tmp/zv-shell-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    g_root_prefix = tmpl;
    if (r.has_tmp) mkdir((g_root_prefix + "/tmp").c_str(), 0755);
    g_shell_stderr_to_log = r.screen_up;
    testing::internal::CaptureStderr();
    int rc = run_shell("echo zv-child-oops >&2; exit 3");
    std::string terminal = testing::internal::GetCapturedStderr();
    g_shell_stderr_to_log = false;
    EXPECT_EQ(3, WEXITSTATUS(rc));
    std::stringstream log;
    log << std::ifstream(g_root_prefix + "/tmp/xdebug.log").rdbuf();
    EXPECT_EQ(r.on_terminal, terminal.find("zv-child-oops") != std::string::npos) << terminal;
    EXPECT_EQ(r.in_log, log.str().find("zv-child-oops") != std::string::npos) << log.str();
    ASSERT_EQ(0, system(("rm -rf '" + g_root_prefix + "'").c_str()));
  }
  g_root_prefix = saved_prefix;
  g_shell_runner = saved_runner;
}
