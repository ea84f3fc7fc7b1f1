// Seams of the task steps for the tests: a short "second" (counted), a
// recorded reboot that never happens, and an end to the wait for a
// power-off cycle that the test gives.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <vector>

#include "task/task_commands.h"
#include "task/wipe_task.h"

class TaskSeams {
 public:
  TaskSeams() : sleep(g_task_sleep), reboot(g_reboot), wait(g_power_cycle_wait_over), delay(g_additional_drive_delay) {
    g_task_sleep = [] { ++sleeps(); usleep(2000); };
    g_reboot = [](int id) { reboots().push_back(id); return 0; };
    g_power_cycle_wait_over = [] { return wait_over().load(); };
    wait_over() = false;
    reboots().clear();
    sleeps() = 0;
  }
  ~TaskSeams() {
    g_task_sleep = sleep;
    g_reboot = reboot;
    g_power_cycle_wait_over = wait;
    g_additional_drive_delay = delay;
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
  task_sleep_fn_t sleep;
  reboot_fn_t reboot;
  wait_over_fn_t wait;
  int delay;
};

// Waits (with a generous limit that only catches a hang) until pred holds.
template <class P>
bool eventually(P pred, int seconds = 60) {
  for (int i = 0; i < seconds * 500 && !pred(); ++i) usleep(2000);
  return pred();
}
