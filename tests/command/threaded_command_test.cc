// The threaded command templates against a device double: status values,
// progress text, cancellation, thread names and completion reports.
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "command/threaded_command.h"
#include "support/log_capture.h"

namespace {

// A latch the work waits on, so tests decide when it ends.
class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> g(m);
    open = true;
    cv.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> g(m);
    cv.wait(g, [this] { return open; });
  }

 private:
  std::mutex m;
  std::condition_variable cv;
  bool open = false;
};

class FakeDev {
 public:
  std::string name = "fk0";

  void SetCommandStatus(const char* text) {
    std::lock_guard<std::mutex> g(m);
    history.push_back(text ? text : "");
    cv.notify_all();
  }
  int PrintWipingStatus(char* buf, int size) {
    if (!buf) return 0;
    return snprintf(buf, size, "progress %d", progress_calls++);
  }
  int CancelWipe() {
    cancelled = true;
    work_gate.Open();
    return 0;
  }
  int CommandComplete(const CCommand* c) {
    std::lock_guard<std::mutex> g(m);
    completed.push_back(c);
    cv.notify_all();
    return 0;
  }
  int Wipe() { return Work(false); }
  int WipeHW() { return Work(true); }
  int Trim() { return Work(false); }

  int Work(bool hw) {
    char tn[16] = {0};
    prctl(PR_GET_NAME, (unsigned long)tn, 0, 0, 0);
    {
      std::lock_guard<std::mutex> g(m);
      thread_name = tn;
      hardware = hw;
      started = true;
      cv.notify_all();
    }
    work_gate.Wait();
    return cancelled ? 1 : work_rc;
  }

  void WaitStarted() {
    std::unique_lock<std::mutex> g(m);
    cv.wait(g, [this] { return started; });
  }
  void WaitCompleted(size_t n) {
    std::unique_lock<std::mutex> g(m);
    cv.wait(g, [&] { return completed.size() >= n; });
  }
  // Waits until the history holds `text`.
  void WaitText(const std::string& text) {
    std::unique_lock<std::mutex> g(m);
    cv.wait(g, [&] {
      for (auto& h : history)
        if (h.find(text) != std::string::npos) return true;
      return false;
    });
  }
  std::vector<std::string> History() {
    std::lock_guard<std::mutex> g(m);
    return history;
  }
  std::vector<const CCommand*> Completed() {
    std::lock_guard<std::mutex> g(m);
    return completed;
  }
  std::string ThreadName() {
    std::lock_guard<std::mutex> g(m);
    return thread_name;
  }
  bool Hardware() {
    std::lock_guard<std::mutex> g(m);
    return hardware;
  }

  Gate work_gate;
  std::atomic<bool> cancelled{false};
  std::atomic<int> progress_calls{0};
  int work_rc = 0;

 private:
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::string> history;
  std::vector<const CCommand*> completed;
  std::string thread_name;
  bool hardware = false;
  bool started = false;
};

int IndexOf(const std::vector<std::string>& v, const std::string& s) {
  for (size_t i = 0; i < v.size(); ++i)
    if (v[i] == s) return (int)i;
  return -1;
}

}  // namespace

TEST(InterruptibleCommand, AsyncRunReportsRunningUntilTheWorkEnds) {
  FakeDev dev;
  CWipeCommand<FakeDev> cmd(&dev, BLKDEV_CMD_WIPE, false, "Wipe");
  EXPECT_EQ(cmd.GetStatus(), CMD_STATUS_IDLE);
  EXPECT_EQ(cmd.Run(false), 0);
  dev.WaitStarted();
  EXPECT_EQ(cmd.GetStatus(), CMD_STATUS_RUNNING);
  // A second start while the first runs is refused.
  EXPECT_EQ(cmd.Run(false), -1);
  EXPECT_EQ(cmd.Run(true), -1);
  dev.work_gate.Open();
  dev.WaitCompleted(1);
  EXPECT_EQ(cmd.GetStatus(), CMD_STATUS_IDLE);
  ASSERT_EQ(dev.Completed().size(), 1u);
  EXPECT_EQ(dev.Completed()[0], &cmd);
  EXPECT_EQ(dev.History().back(), "Completed");
  EXPECT_FALSE(dev.Hardware());
  EXPECT_EQ(cmd.GetName(), "Wipe");
  EXPECT_TRUE(cmd.CanCancel());
  EXPECT_EQ(cmd.id, BLKDEV_CMD_WIPE);
}

TEST(InterruptibleCommand, SyncRunReturnsAfterTheWorkAndCanRunAgain) {
  FakeDev dev;
  dev.work_gate.Open();
  CWipeCommand<FakeDev> cmd(&dev, BLKDEV_CMD_WIPE_HW, true, "Wipe");
  LogCapture logs;
  EXPECT_EQ(cmd.Run(true), 0);
  // Completion has been reported by the time Run returns.
  EXPECT_EQ(dev.Completed().size(), 1u);
  EXPECT_EQ(cmd.GetStatus(), CMD_STATUS_IDLE);
  EXPECT_TRUE(dev.Hardware());
  EXPECT_TRUE(logs.Has("fk0: [Wipe] Command started", "debug"));
  // The worker thread carries the command name and " worker", cut to 15.
  EXPECT_EQ(dev.ThreadName(), "Wipe worker");
  EXPECT_EQ(cmd.Run(true), 0);
  EXPECT_EQ(dev.Completed().size(), 2u);
}

TEST(InterruptibleCommand, LongNameIsCutBySystem) {
  FakeDev dev;
  dev.work_gate.Open();
  CWipeCommand<FakeDev> cmd(&dev, BLKDEV_CMD_WIPE, false, "Overwrite everything");
  EXPECT_EQ(cmd.Run(true), 0);
  EXPECT_EQ(dev.ThreadName(), "Overwrite every");
}

TEST(InterruptibleCommand, FailedWorkShowsFailed) {
  FakeDev dev;
  dev.work_rc = -1;
  dev.work_gate.Open();
  CTrimCommand<FakeDev> cmd(&dev);
  EXPECT_EQ(cmd.GetName(), "Trim");
  EXPECT_EQ(cmd.id, BLKDEV_CMD_TRIM);
  EXPECT_FALSE(cmd.hidden);
  EXPECT_EQ(cmd.Run(true), 0);
  EXPECT_EQ(dev.History().back(), "Failed.");
  EXPECT_EQ(dev.Completed().size(), 1u);
}

TEST(InterruptibleCommand, ProgressTextComesFromTheDevice) {
  FakeDev dev;
  CWipeCommand<FakeDev> cmd(&dev, BLKDEV_CMD_WIPE, false, "Wipe");
  ASSERT_EQ(cmd.Run(false), 0);
  dev.WaitText("progress 0");
  dev.work_gate.Open();
  dev.WaitCompleted(1);
  auto h = dev.History();
  EXPECT_EQ(h.front(), "progress 0");
  EXPECT_EQ(h.back(), "Completed");
}

TEST(InterruptibleCommand, CancelShowsCancellingThenFailed) {
  FakeDev dev;
  CWipeCommand<FakeDev> cmd(&dev, BLKDEV_CMD_WIPE, false, "Wipe");
  ASSERT_EQ(cmd.Run(false), 0);
  dev.WaitStarted();
  // Cancel releases the work through the device's CancelWipe.
  EXPECT_EQ(cmd.Cancel(), 0);
  dev.WaitCompleted(1);
  EXPECT_TRUE(dev.cancelled);
  auto h = dev.History();
  int cancelling = IndexOf(h, "Cancelling...");
  int failed = IndexOf(h, "Failed.");
  ASSERT_GE(cancelling, 0);
  ASSERT_GE(failed, 0);
  EXPECT_LT(cancelling, failed);
  EXPECT_EQ(h.back(), "Failed.");
  EXPECT_EQ(cmd.GetStatus(), CMD_STATUS_IDLE);
}

TEST(InterruptibleCommand, CancelOnIdleCommandLeavesItRunnable) {
  FakeDev dev;
  CWipeCommand<FakeDev> cmd(&dev, BLKDEV_CMD_WIPE, false, "Wipe");
  EXPECT_EQ(cmd.Cancel(), 0);
  EXPECT_EQ(cmd.GetStatus(), CMD_STATUS_IDLE);
  dev.cancelled = false;
  EXPECT_EQ(cmd.Run(true), 0);
  EXPECT_EQ(dev.History().back(), "Completed");
}

namespace {
Gate* g_fn_gate = nullptr;
std::atomic<int> g_fn_param{0};
std::atomic<bool> g_fn_started{false};
int BlockingFn(FakeDev*, int p) {
  g_fn_param = p;
  g_fn_started = true;
  g_fn_gate->Wait();
  return p == 7 ? 0 : 5;
}
struct Param {
  int a;
  int b;
};
int ParamFn(FakeDev*, Param p) { return p.a + p.b; }
}  // namespace

TEST(UninterruptibleCommand, CountdownBelowZeroAndCancelRefused) {
  FakeDev dev;
  LogCapture logs;
  Gate gate;
  g_fn_gate = &gate;
  CCommandUninterruptible<FakeDev, int> cmd(&dev, &BlockingFn, 7, -5, "Standby", BLKDEV_CMD_STANDBY);
  EXPECT_FALSE(cmd.CanCancel());
  EXPECT_FALSE(cmd.hidden);
  EXPECT_EQ(cmd.GetName(), "Standby");
  ASSERT_EQ(cmd.Run(false), 0);
  // The work outlasts its duration: the countdown goes below zero.
  dev.WaitText("Standby 0:00 +00:0");
  EXPECT_EQ(cmd.Cancel(), 0);
  EXPECT_TRUE(logs.Has("Internal error: Cancel() invoked for CCommandUninterruptible (id=11, name=Standby)", "debug"));
  EXPECT_EQ(cmd.GetStatus(), CMD_STATUS_RUNNING);
  EXPECT_FALSE(dev.cancelled);
  gate.Open();
  dev.WaitCompleted(1);
  EXPECT_EQ(g_fn_param, 7);
  EXPECT_EQ(dev.History().back(), "Completed");
  EXPECT_TRUE(logs.Has("fk0: [Standby] Command started", "debug"));
  EXPECT_TRUE(logs.Has("fk0: [Standby] Command complete: 0", "debug"));
  EXPECT_EQ(cmd.GetStatus(), CMD_STATUS_IDLE);
}

TEST(UninterruptibleCommand, FailureLeavesTheStatusTextAlone) {
  FakeDev dev;
  LogCapture logs;
  CCommandUninterruptible<FakeDev, Param> cmd(&dev, &ParamFn, Param{2, 3}, 60, "SMART", BLKDEV_CMD_SMART_SHORT);
  EXPECT_EQ(cmd.Run(true), 0);
  EXPECT_TRUE(logs.Has("fk0: [SMART] Command complete: 5", "debug"));
  for (auto& h : dev.History()) EXPECT_NE(h, "Completed");
  EXPECT_EQ(dev.Completed().size(), 1u);
}

TEST(UninterruptibleCommand, CountdownStartsFromDuration) {
  FakeDev dev;
  Gate* gate = new Gate;
  static Gate* s_gate;
  s_gate = gate;
  auto fn = [](FakeDev*, int) -> int {
    s_gate->Wait();
    return 0;
  };
  CCommandUninterruptible<FakeDev, int> cmd(&dev, fn, 0, 7200, "Erase", BLKDEV_CMD_ATA_ERASE_ZERO);
  ASSERT_EQ(cmd.Run(false), 0);
  // Two hours left, shown as h:mm:ss.
  dev.WaitText("Erase ");
  std::string first = dev.History().front();
  EXPECT_TRUE(first == "Erase 2:00:00" || first == "Erase 1:59:59") << first;
  gate->Open();
  dev.WaitCompleted(1);
  delete gate;
}
