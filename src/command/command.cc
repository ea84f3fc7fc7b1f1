#include "command/command.h"

#include <sys/prctl.h>

void set_thread_name(const std::string& name) {
  char buf[16];
  size_t n = name.copy(buf, sizeof buf - 1);
  buf[n] = 0;
  prctl(PR_SET_NAME, (unsigned long)buf, 0, 0, 0);
}
