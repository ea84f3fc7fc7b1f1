// Process-wide mode flags, set once by main() before any thread starts.
#pragma once

extern int g_debuglevel;
extern int g_testmode;
extern int g_logfile;
extern int g_manual;
extern int g_wipe_all;
extern int g_debug_fast;
extern int g_nodelay;
// A log medium is mounted at /log: each wiped drive gets its certificate there.
extern int g_log_medium;

// Returns 1 when the value is non-null and starts with Y, y or 1.
int read_env_y_n(const char* value);
const char* get_product_name();

// Reads the operating mode from the environment into the flags above.
void read_mode_flags();
