// The device's command queue and queue thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "command/threaded_command.h"
#include "device/device_fixture.h"
#include "report/report.h"
#include "support/log_capture.h"

namespace {

// A synchronous command that records the order in which commands ran.
std::mutex g_order_mutex;
std::vector<std::string> g_order;

class StepCommand : public CCommand {
 public:
  StepCommand(const std::string& name, int rc, CBlkDev* dev = nullptr, int pass_status = -1)
      : CCommand(BLKDEV_CMD_DELAY, true), name(name), rc(rc), dev(dev), pass_status(pass_status) {}
  std::string GetName() const override { return name; }
  int GetStatus() override { return 0; }
  int Run(bool) override {
    {
      std::lock_guard<std::mutex> g(g_order_mutex);
      g_order.push_back(name);
    }
    if (dev && pass_status >= 0) dev->LogFinishedPass(name, pass_status);
    return rc;
  }
  bool CanCancel() const override { return false; }
  int Cancel() override { return 0; }

 private:
  std::string name;
  int rc;
  CBlkDev* dev;
  int pass_status;
};

std::vector<std::string> Order() {
  std::lock_guard<std::mutex> g(g_order_mutex);
  return g_order;
}

// The work of an uninterruptible command, held until the test lets it go.
std::mutex g_gate_mutex;
std::condition_variable g_gate_cv;
bool g_gate_open = false;
bool g_gate_entered = false;
int HeldWork(CBlkDev*, int) {
  std::unique_lock<std::mutex> g(g_gate_mutex);
  g_gate_entered = true;
  g_gate_cv.notify_all();
  g_gate_cv.wait(g, [] { return g_gate_open; });
  return 0;
}
void WaitEntered() {
  std::unique_lock<std::mutex> g(g_gate_mutex);
  g_gate_cv.wait(g, [] { return g_gate_entered; });
}
void OpenGate() {
  std::lock_guard<std::mutex> g(g_gate_mutex);
  g_gate_open = true;
  g_gate_cv.notify_all();
}

std::atomic<int> g_writes{0};
long CountWrite(int fd, const void* buf, unsigned long n, long off) {
  ++g_writes;
  return pwrite64(fd, buf, n, off);
}

}  // namespace

class QueueTest : public ::testing::Test {
 protected:
  TempRoot root;
  SchemeScope schemes;
  LogCapture logs;
  void SetUp() override {
    if (!root.DirectIoWorks()) GTEST_SKIP() << "no direct I/O on " << root.dir;
    std::lock_guard<std::mutex> g(g_order_mutex);
    g_order.clear();
    g_scheme.verify = 1;
  }
  void TearDown() override { g_wipe_write = pwrite64; }
};

TEST_F(QueueTest, RunsCommandsInOrderSurvivesFailuresAndWritesTheReport) {
  schemes.Add("Zero", {MakePass(PASS_ZERO, true)});
  root.MakeImage("zqa", 1 << 20, 0x77);
  RecordingDev dev("zqa", 1 << 20);
  dev.Init();
  std::shared_ptr<CCommand> wipe = dev.GetCommandById(BLKDEV_CMD_WIPE);
  EXPECT_EQ(dev.QueueCommand(std::shared_ptr<CCommand>()), -1);
  ASSERT_EQ(dev.QueueCommand(std::shared_ptr<CCommand>(new StepCommand("first", -1, &dev, 1))), 0);
  // A null entry in the queue itself is skipped with a log line.
  dev.queue.push_back(std::shared_ptr<CCommand>());
  ASSERT_EQ(dev.QueueCommand(wipe), 0);
  ASSERT_EQ(dev.QueueCommand(std::shared_ptr<CCommand>(new StepCommand("last", 5))), 0);
  ASSERT_EQ(dev.RunCommandQueue(), 0);
  dev.WaitQueue();

  EXPECT_EQ(Order(), (std::vector<std::string>{"first", "last"}));
  EXPECT_TRUE(logs.Has("zqa: Run command queue", "debug"));
  EXPECT_TRUE(logs.Has("zqa: Command queue follows:", "debug"));
  EXPECT_TRUE(logs.Has("zqa: 2 = NULL", "debug"));
  EXPECT_TRUE(logs.Has("zqa: 3 = Wipe", "debug"));
  EXPECT_TRUE(logs.Has("zqa: Running command 'first', remaining: 4", "debug"));
  EXPECT_TRUE(logs.Has("zqa: Null command pointer, remaining: 3", "debug"));
  EXPECT_TRUE(logs.Has("zqa: Running command 'Wipe', remaining: 2", "debug"));
  EXPECT_TRUE(logs.Has("zqa: Running command 'last', remaining: 1", "debug"));
  EXPECT_TRUE(logs.Has("zqa: Command queue thread complete", "debug"));
  EXPECT_TRUE(logs.Has("zqa: commands queue is finished", "debug"));
  EXPECT_TRUE(logs.Has("Disk-zqa: verifying pass 1/1 completed in "));
  EXPECT_TRUE(dev.queue.empty());
  EXPECT_FALSE(dev.IsQueueRunning());

  auto img = root.ReadImage("zqa");
  parsed_report r = parse_report(img);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.header[1], "X-Completion-Status: completed-with-warnings");
  ASSERT_EQ(r.body.size(), 8u);
  EXPECT_EQ(r.body[5], "pass 1: first is completed-with-warnings");
  EXPECT_EQ(r.body[6], "pass 2: wiping pass [zero] is success");
  EXPECT_EQ(r.body[7], "pass 3: verifying pass is success");
  for (size_t i = r.end; i < r.end + 32; ++i) EXPECT_EQ(img[i], 0);
  for (size_t i = r.end + 32; i < img.size(); ++i) ASSERT_EQ(img[i], 0) << i;
  // The report's clock started with the queue.
  EXPECT_GT(dev.report->StartTime(), 0);
}

TEST_F(QueueTest, EmptyQueueStartsNothing) {
  RecordingDev dev("zqb", 4096);
  EXPECT_EQ(dev.RunCommandQueue(), 0);
  EXPECT_TRUE(logs.Has("zqb: Empty command queue. Skipping", "debug"));
  EXPECT_FALSE(dev.IsQueueRunning());
  EXPECT_EQ(dev.report->StartTime(), 0);
}

TEST_F(QueueTest, SecondRunWhileRunningIsBusy) {
  root.MakeImage("zqc", 4096, 0x77);
  RecordingDev dev("zqc", 4096);
  std::shared_ptr<CCommand> held(
      new CCommandUninterruptible<CBlkDev, int>(&dev, &HeldWork, 0, 10, "Hold", BLKDEV_CMD_STANDBY));
  {
    std::lock_guard<std::mutex> g(g_gate_mutex);
    g_gate_open = false;
    g_gate_entered = false;
  }
  ASSERT_EQ(dev.QueueCommand(held), 0);
  ASSERT_EQ(dev.RunCommandQueue(), 0);
  WaitEntered();
  EXPECT_EQ(dev.RunCommandQueue(), 16);
  EXPECT_TRUE(logs.Has("zqc: not ready - device busy", "debug"));
  EXPECT_TRUE(logs.Has("zqc: Unable to run commands queue: device is not ready.", "debug"));
  OpenGate();
  dev.WaitQueue();
  // A finished queue can be run again.
  ASSERT_EQ(dev.QueueCommand(std::shared_ptr<CCommand>(new StepCommand("again", 0))), 0);
  EXPECT_EQ(dev.RunCommandQueue(), 0);
  dev.WaitQueue();
  EXPECT_EQ(Order(), (std::vector<std::string>{"again"}));
}

TEST_F(QueueTest, ClearingWhileAnUncancellableCommandRunsLeavesTheDeviceUsable) {
  schemes.Add("Zero", {MakePass(PASS_ZERO, false)});
  root.MakeImage("zqd", 8192, 0x77);
  g_writes = 0;
  g_wipe_write = CountWrite;
  {
    RecordingDev dev("zqd", 8192);
    dev.Init();
    std::shared_ptr<CCommand> held(
        new CCommandUninterruptible<CBlkDev, int>(&dev, &HeldWork, 0, 10, "Hold", BLKDEV_CMD_STANDBY));
    {
      std::lock_guard<std::mutex> g(g_gate_mutex);
      g_gate_open = false;
      g_gate_entered = false;
    }
    ASSERT_EQ(dev.QueueCommand(held), 0);
    ASSERT_EQ(dev.QueueCommand(dev.GetCommandById(BLKDEV_CMD_WIPE)), 0);
    ASSERT_EQ(dev.RunCommandQueue(), 0);
    WaitEntered();
    dev.ClearCommandQueue();
    EXPECT_TRUE(logs.Has("zqd: Command execution thread killed because current command could not be cancelled.",
                         "debug"));
    EXPECT_FALSE(logs.Has("Internal error: Cancel() invoked"));
    // The device lock is free and the device takes a new queue at once.
    EXPECT_FALSE(dev.IsQueueRunning());
    EXPECT_TRUE(dev.queue.empty());
    EXPECT_TRUE(dev.IsReady());
    dev.SetCommandStatus("still here");
    std::string st;
    EXPECT_EQ(dev.GetCommandStatus(st), 1);
    ASSERT_EQ(dev.QueueCommand(std::shared_ptr<CCommand>(new StepCommand("after", 0, &dev, 0))), 0);
    ASSERT_EQ(dev.RunCommandQueue(), 0);
    dev.WaitQueue();
    EXPECT_EQ(Order(), (std::vector<std::string>{"after"}));
    // The wipe queued behind the held command never ran.
    EXPECT_EQ(g_writes.load(), 0);
    auto img = root.ReadImage("zqd");
    parsed_report r = parse_report(img);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.body.size(), 6u);
    EXPECT_EQ(r.body[5], "pass 1: after is success");
    EXPECT_EQ(held->GetStatus(), CMD_STATUS_RUNNING);
    EXPECT_TRUE(dev.HasGivenUpQueueThreads());
    OpenGate();
    // The given-up queue thread ends once its command has, without touching
    // the queue or the report.
    while (dev.HasGivenUpQueueThreads()) usleep(1000);
    EXPECT_EQ(held->GetStatus(), CMD_STATUS_IDLE);
    EXPECT_EQ(Order(), (std::vector<std::string>{"after"}));
  }
  EXPECT_EQ(g_writes.load(), 0);
}

TEST_F(QueueTest, ClearingAnIdleQueueEmptiesItAndRenewsTheReport) {
  RecordingDev dev("zqe", 4096);
  dev.LogFinishedPass("old", 2);
  ASSERT_EQ(dev.QueueCommand(std::shared_ptr<CCommand>(new StepCommand("never", 0))), 0);
  CDeviceReport* before = dev.report.get();
  dev.ClearCommandQueue();
  EXPECT_TRUE(dev.queue.empty());
  EXPECT_NE(dev.report.get(), before);
  EXPECT_EQ(dev.report->PassLog(), "");
  EXPECT_EQ(dev.report->OverallStatus(), CDeviceReport::success);
  EXPECT_TRUE(Order().empty());
}

TEST_F(QueueTest, RunCommandAndCompletion) {
  RecordingDev dev("zqf", 4096);
  EXPECT_EQ(dev.RunCommand(std::shared_ptr<CCommand>()), 22);
  EXPECT_EQ(dev.CommandComplete(nullptr), 22);
  std::shared_ptr<CCommand> step(new StepCommand("menu", 0));
  EXPECT_EQ(dev.RunCommand(step), 0);
  EXPECT_EQ(dev.GetCurrentCommand(), step);
  EXPECT_TRUE(dev.IsReady());
  EXPECT_TRUE(logs.Has("zqf: device ready - command reported status ok", "debug"));
  StepCommand other("other", 0);
  EXPECT_EQ(dev.CommandComplete(&other), 0);
  EXPECT_TRUE(logs.Has("Internal error: CommandComplete(cmd_ptr) and current_command ptr mismatch", "debug"));
  EXPECT_FALSE(dev.GetCurrentCommand());
  EXPECT_TRUE(dev.IsReady());
  EXPECT_TRUE(logs.Has("zqf: device ready - no commands running", "debug"));
  // A pending refresh runs after completion.
  dev.refresh_pending = true;
  EXPECT_EQ(dev.RunCommand(step), 0);
  EXPECT_EQ(dev.CommandComplete(step.get()), 0);
  EXPECT_TRUE(logs.Has("Disk-zqf: re-read device info from system", "debug"));
  EXPECT_TRUE(logs.Has("Disk-zqf: ,", "wipe") || logs.Has("Disk-zqf:  device detected", "wipe") ||
              logs.Has("device detected.", "wipe"));
  EXPECT_FALSE(dev.refresh_pending);
  EXPECT_TRUE(dev.GetCommandById(BLKDEV_CMD_WIPE));
}
