// Seams of the task steps for the tests: a short "second", a recorded reboot
// that never happens, and an end to the wait for a power-off cycle.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "task/task_commands.h"
#include "task/wipe_task.h"

class TaskSeams {
 public:
  TaskSeams()
      : saved_sleep(g_task_sleep), saved_reboot(g_reboot), saved_wait(g_power_cycle_wait_over),
        saved_delay(g_additional_drive_delay) {
    g_task_sleep = &ShortSecond;
    g_reboot = &RecordReboot;
    g_power_cycle_wait_over = &WaitOver;
    wait_over() = false;
    reboots().clear();
    sleeps() = 0;
    on_sleep() = nullptr;
  }
  ~TaskSeams() {
    g_task_sleep = saved_sleep;
    g_reboot = saved_reboot;
    g_power_cycle_wait_over = saved_wait;
    g_additional_drive_delay = saved_delay;
    on_sleep() = nullptr;
  }
  // Called at every task "second" (set before any task thread starts).
  static std::function<void()>& on_sleep() {
    static std::function<void()> f;
    return f;
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
  static void ShortSecond() {
    ++sleeps();
    if (on_sleep()) on_sleep()();
    usleep(2000);
  }
  static int RecordReboot(int id) {
    reboots().push_back(id);
    return 0;
  }
  static bool WaitOver() { return wait_over(); }

  task_sleep_fn_t saved_sleep;
  reboot_fn_t saved_reboot;
  wait_over_fn_t saved_wait;
  int saved_delay;
};

// Waits (with a generous limit that only catches a hang) until pred holds.
template <class P>
bool eventually(P pred, int seconds = 60) {
  for (int i = 0; i < seconds * 500; ++i) {
    if (pred()) return true;
    usleep(2000);
  }
  return pred();
}
