#include "app/globals.h"

#include <stdlib.h>

int g_debuglevel = 0;
int g_testmode = 0;
int g_logfile = 0;
int g_manual = 0;
int g_wipe_all = 0;
int g_debug_fast = 0;
int g_nodelay = 0;
int g_log_medium = 0;

int read_env_y_n(const char* value) {
  if (!value) return 0;
  return (value[0] == 'Y' || value[0] == 'y' || value[0] == '1') ? 1 : 0;
}

const char* get_product_name() { return "Zorvane 2.69"; }

void read_mode_flags() {
  const char* dbg = getenv("DEBUG");
  g_debuglevel = dbg ? (int)strtol(dbg, nullptr, 10) : 0;
  g_testmode = read_env_y_n(getenv("TEST_MODE"));
  g_logfile = read_env_y_n(getenv("USE_LOGFILE"));
  if (g_testmode) {
    // Test mode runs the manual mode with extra diagnostics.
    g_manual = 1;
    g_debuglevel = 2;
    g_wipe_all = 0;
    g_debug_fast = 0;
    g_nodelay = 0;
  } else {
    g_manual = read_env_y_n(getenv("USE_SHELL"));
    g_wipe_all = g_manual ? 0 : read_env_y_n(getenv("WIPE_ALL_DISKS"));
    g_debug_fast = read_env_y_n(getenv("FAST_DBG"));
    g_nodelay = read_env_y_n(getenv("USE_NODELAY"));
  }
}
