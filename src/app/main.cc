// Entry point: one wiping session per process run.
#include <curses.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include <log4cplus/helpers/loglog.h>
#include <log4cplus/initializer.h>

#include "app/globals.h"
#include "app/log.h"
#include "app/paths.h"
#include "devmgr/devmgr.h"
#include "scheme/scheme.h"
#include "ui/screen.h"

namespace {

// The system, with the interface's console and screen: the log medium search
// writes to the interface's text output, which is the console until the
// screen starts, and clears the screen before each round; curses starts here.
class CSessionPlatform : public CSystemPlatform {
 public:
  void ConsoleText(int y, int x, const char* text, bool newlines) override { text_out(y, x, text, newlines); }
  void ConsoleClear() override { clear_screen(); }
  WINDOW* CursesInit() override { return initscr(); }
  int Key() override { return wgetch(stdscr); }
};

}  // namespace

int main() {
  // Lives until the end of main, after everything that may still log.
  log4cplus::Initializer log_init;
  // Both live for the whole session; no thread is started yet.
  CSessionPlatform session_platform;
  CScopedPlatform use_session_platform(session_platform);
  CBlkDevMgr mgr;

  read_mode_flags();

  // The log medium is mounted at /log before logging opens its files there.
  // Only the console exists yet.
  if (g_logfile) {
    // What the search logs goes nowhere yet; log4cplus is not to complain
    // about that on the console.
    log4cplus::helpers::LogLog::getLogLog()->setQuietMode(true);
    mgr.AutoSetLogDevice();
    g_log_medium = mgr.log_medium_mounted;
    log4cplus::helpers::LogLog::getLogLog()->setQuietMode(false);
  }

  // The session date, taken once.
  char session_date[32];
  memset(session_date, 0, sizeof(session_date));
  time_t now = time(nullptr);
  ctime_r(&now, session_date);
  if (char* nl = strchr(session_date, '\n')) *nl = '\0';

  g_log.Startup(nullptr);

  std::string banner = std::string("######## ") + get_product_name() + " ########";
  std::string started = std::string("Session started at ") + session_date;
  LOG_INFO(g_wipe_log, banner);
  LOG_INFO(g_wipe_log, started);
  LOG_INFO(g_dbg_log, banner);
  LOG_INFO(g_dbg_log, started);

  file_to_log(sys_path("/tmp/sys_info").c_str(), g_wipe_log);

  g_scheme.Load(sys_path("/tmp/scheme").c_str());
  if (g_scheme.SetDefaultScheme(-1) != 0) {
    fputs("Error: Unable to load wiping schemes.\n", stderr);
    return -1;
  }

  mgr.StartScanDevices();
  g_scr.Init();
  g_scr.CreateLayout(&mgr);
  g_scr.WindowLoop();
  // Leave curses and drop the windows (the main window unregisters its hook)
  // while the manager and logging still exist.
  g_scr.Shutdown();
  return 0;
}
