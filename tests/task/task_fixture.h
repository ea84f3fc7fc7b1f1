// Seams of the task steps for the tests: a short "second" (counted), a
// recorded reboot that never happens, and an end to the wait for a
// power-off cycle that the test gives.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <vector>

#include "support/scoped.h"
#include "task/task_commands.h"
#include "task/wipe_task.h"

class TaskSeams {
 public:
  TaskSeams() {
    wait_over() = false;
    reboots().clear();
    sleeps() = 0;
  }
  static std::atomic<bool>& wait_over() {
    static std::atomic<bool> v{false};
    return v;
  }
  static std::vector<int>& reboots() {
    static std::vector<int> v;
    return v;
  }
  static std::atomic<int>& sleeps() {
    static std::atomic<int> n{0};
    return n;
  }

 private:
  Scoped<task_sleep_fn_t> sleep{g_task_sleep, [] { ++sleeps(), usleep(2000); }};
  Scoped<reboot_fn_t> reboot{g_reboot, [](int id) { return reboots().push_back(id), 0; }};
  Scoped<wait_over_fn_t> wait{g_power_cycle_wait_over, [] { return wait_over().load(); }};
};

// Waits (with a generous limit that only catches a hang) until pred holds.
template <class P>
bool eventually(P pred, int seconds = 60) {
  for (int i = 0; i < seconds * 500 && !pred(); ++i) usleep(2000);
  return pred();
}
