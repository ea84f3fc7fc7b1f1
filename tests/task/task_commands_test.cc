// Task steps: proxies, the shared checkpoints and the countdown.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "devmgr/fake_sysfs.h"
#include "scheme/scheme.h"
#include "support/log_capture.h"
#include "task/task_fixture.h"

namespace {

// A checkpoint whose action is counted.
class CountingCheckpoint : public CAllAtOnceCommand {
 public:
  CountingCheckpoint() : CAllAtOnceCommand(BLKDEV_CMD_TERMINATOR, "cp") {}
  bool single_entrance_hook() override {
    ++entrances;
    return true;
  }
  int all_together_hook() override {
    ++actions;
    return 0;
  }
  std::atomic<int> entrances{0}, actions{0};
};

// Index of the first debug line containing `text` at or after `from`; -1.
int LineIndex(LogCapture& logs, const std::string& text, int from = 0) {
  auto lines = logs.Texts("debug");
  for (int i = from; i < (int)lines.size(); ++i)
    if (lines[(size_t)i].find(text) != std::string::npos) return i;
  return -1;
}

}  // namespace

class TaskCommandTest : public ::testing::Test {
 protected:
  FakeSys sys;
  FakeIoctl ioctls;
  TaskSeams seams;
  SchemeScope schemes;
  LogCapture logs;
};

TEST_F(TaskCommandTest, ProxyRunsTheDevicesCommandOrReportsWhyNot) {
  if (!sys.DirectIoWorks()) GTEST_SKIP() << "no direct I/O on " << sys.dir;
  schemes.Add("Zero", {MakePass(PASS_ZERO, false)});
  sys.MakeImage("sda", 1 << 20, 0xAA);
  std::shared_ptr<RecordingDev> dev(new RecordingDev("sda", 1 << 20));
  dev->Init();

  CProxyCommand orphan(std::shared_ptr<CBlkDev>(), BLKDEV_CMD_WIPE, "Wipe proxy");
  EXPECT_EQ(-1, orphan.Run(true));
  EXPECT_TRUE(logs.Has("Wipe proxy: Proxy command: no device", "debug"));

  CProxyCommand trim(dev, BLKDEV_CMD_TRIM, "trim proxy");
  EXPECT_EQ(-2, trim.Run(true));
  EXPECT_TRUE(logs.Has("trim proxy: Proxy command: command '10' is not found on device 'sda'", "debug"));

  CProxyCommand wipe(dev, BLKDEV_CMD_WIPE, "Wipe proxy");
  EXPECT_TRUE(wipe.hidden);
  EXPECT_EQ(BLKDEV_CMD_WIPE, wipe.id);
  EXPECT_EQ("Wipe proxy", wipe.GetName());
  EXPECT_EQ(0, wipe.Run(true));
  EXPECT_TRUE(logs.Has("Wipe proxy: Proxy command: starting with sync=1", "debug"));
  EXPECT_TRUE(logs.Has("Wipe proxy: Proxy command: completed with return code=0", "debug"));
  // The command ran as the device's current one and reported back to it.
  EXPECT_FALSE(logs.Has("Internal error: CommandComplete"));
  EXPECT_FALSE(dev->GetCurrentCommand());
  std::vector<unsigned char> img = sys.ReadImage("sda");
  ASSERT_EQ(1u << 20, img.size());
  EXPECT_EQ(img.size(), (size_t)std::count(img.begin(), img.end(), 0));

  EXPECT_FALSE(wipe.CanCancel());
  EXPECT_EQ(-1, wipe.Cancel());
  EXPECT_TRUE(logs.Has("Internal error: Cancel() invoked for CAutoCommand (id=13)", "debug"));

  dev->SetDisconnectedFlag();
  logs.Clear();
  EXPECT_EQ(-1, wipe.Run(true));
  EXPECT_TRUE(logs.Has("Wipe proxy: Proxy command: no device", "debug"));
}

TEST_F(TaskCommandTest, ThreeQueuesPassACheckpointTogether) {
  CountingCheckpoint cp;
  for (int i = 0; i < 3; ++i) cp.IncreaseCount();
  EXPECT_EQ(3, cp.GetCount());
  std::vector<std::thread> queues;
  for (int i = 0; i < 3; ++i) queues.emplace_back([&] { EXPECT_EQ(0, cp.Run(true)); });
  ASSERT_TRUE(eventually([&] { return cp.IsDone(); }, 20));
  for (auto& t : queues) t.join();

  int two = LineIndex(logs, "cp: reached checkpoint, 2 disks more to go further");
  int one = LineIndex(logs, "cp: reached checkpoint, 1 disks more to go further");
  int zero = LineIndex(logs, "cp: reached checkpoint, 0 disks more to go further");
  int all = LineIndex(logs, "cp: all the disks are in this checkpoint now");
  ASSERT_GE(two, 0);
  EXPECT_LT(two, one);
  EXPECT_LT(one, zero);
  EXPECT_LT(zero, all);
  EXPECT_EQ(1, logs.Count("all the disks are in this checkpoint now"));
  EXPECT_EQ(1, cp.actions);
  EXPECT_EQ(3, cp.entrances);
  EXPECT_TRUE(cp.IsDone());
  EXPECT_EQ(CMD_STATUS_IDLE, cp.GetStatus());

  // Passed: later arrivals go through at once and are not counted.
  logs.Clear();
  cp.IncreaseCount();
  EXPECT_EQ(0, cp.GetCount());
  EXPECT_EQ(0, cp.Run(true));
  EXPECT_EQ(3, cp.entrances);
  EXPECT_EQ(1, cp.actions);
  EXPECT_TRUE(logs.Lines().empty());
}

TEST_F(TaskCommandTest, AQueueDroppedBeforeTheCheckpointNoLongerHoldsTheOthers) {
  std::shared_ptr<CountingCheckpoint> cp(new CountingCheckpoint);
  std::vector<std::shared_ptr<CCommand>> entries;
  for (int i = 0; i < 3; ++i) {
    cp->IncreaseCount();
    entries.push_back(CAllAtOnceCommand::QueueEntry(cp));
  }
  EXPECT_EQ("cp", entries[0]->GetName());
  EXPECT_EQ(BLKDEV_CMD_TERMINATOR, entries[0]->id);
  EXPECT_TRUE(entries[0]->hidden);
  EXPECT_FALSE(entries[0]->CanCancel());

  std::vector<std::thread> queues;
  for (int i = 0; i < 2; ++i) queues.emplace_back([&, i] { entries[(size_t)i]->Run(true); });
  ASSERT_TRUE(eventually([&] { return cp->GetCount() == 1; }));
  EXPECT_FALSE(cp->IsDone());
  entries[2].reset();  // its queue was cleared
  ASSERT_TRUE(eventually([&] { return cp->IsDone(); }, 20));
  for (auto& t : queues) t.join();
  EXPECT_TRUE(cp->IsDone());
  EXPECT_EQ(1, cp->actions);
  EXPECT_TRUE(logs.Has("cp: 1 disk(s) left the task, 0 disks more to go further", "debug"));

  // Entries that ran do not count as leaving.
  entries.clear();
  EXPECT_EQ(1, logs.Count("left the task"));
}

TEST_F(TaskCommandTest, ResetCheckpointLetsQueuesThroughWhenNoDriveNeedsAPowerCycle) {
  fake_drive d;
  sys.AddDrive("sda", d);
  CBlkDevMgr mgr;
  mgr.AddDevice("sda");
  ASSERT_EQ(1, mgr.GetCount());
  mgr.GetBlkDev(0)->SetWiping(WIPING_SET);

  CResetCommand reset(&mgr, false);
  EXPECT_EQ(BLKDEV_CMD_REBOOT, reset.id);
  EXPECT_EQ("Reset", reset.GetName());
  CResetCommand halt(&mgr, true);
  EXPECT_EQ(BLKDEV_CMD_HALT, halt.id);
  EXPECT_EQ("Halt", halt.GetName());

  reset.IncreaseCount();
  reset.IncreaseCount();
  EXPECT_EQ(0, reset.Run(true));
  EXPECT_EQ(0, reset.Run(true));
  EXPECT_EQ(2, reset.GetCount());
  EXPECT_FALSE(reset.IsDone());
  EXPECT_EQ(2, logs.Count("Reset command: Reboot is not required, continue."));
  EXPECT_TRUE(logs.Has("Checking reboot requirements...", "debug"));
  EXPECT_TRUE(logs.Has("There are no devices which require power-off cycle", "debug"));
  EXPECT_FALSE(logs.Has("reached checkpoint"));
  EXPECT_TRUE(seams.reboots().empty());
}

TEST_F(TaskCommandTest, ADriveNeedingAPowerCycleStopsTheQueuesWithoutHoldingTheCheckpoint) {
  // The drive reports more sectors than the kernel knows: it needs a reboot.
  AtaDriveModel drive;
  drive.factory_max = drive.dco_max = drive.native_max = drive.current_max = 2047;
  drive.kernel_size = 512 * 1024;
  ioctls.AddAta("sda", &drive);
  fake_drive d;
  sys.AddDrive("sda", d);
  d.minor = 1;
  sys.AddDrive("sdb", d);
  CBlkDevMgr mgr;
  mgr.AddDevice("sda");
  mgr.AddDevice("sdb");
  ASSERT_EQ(2, mgr.GetCount());
  std::shared_ptr<CBlkDev> sda = mgr.GetBlkDev(0);
  ASSERT_TRUE(sda->NeedReboot());
  sda->SetWiping(WIPING_SET);
  mgr.GetBlkDev(1)->SetWiping(WIPING_SET);

  CResetCommand reset(&mgr, false);
  reset.IncreaseCount();
  reset.IncreaseCount();
  std::thread first([&] { reset.Run(true); });
  ASSERT_TRUE(eventually([&] {
    std::string s;
    return sda->GetCommandStatus(s) && s == "Waiting for reset...";
  }));
  EXPECT_TRUE(logs.Has("Drive-sdaPower-off cycle is needed to continue wiping on this device.", "wipe"));
  EXPECT_TRUE(logs.Has("sda - reboot required.", "debug"));

  // The interface thread adding a drive is not held by the wait.
  auto added = std::async(std::launch::async, [&] { reset.IncreaseCount(); });
  EXPECT_EQ(std::future_status::ready, added.wait_for(std::chrono::seconds(30)));
  std::thread second([&] { reset.Run(true); });
  ASSERT_TRUE(eventually([&] { return logs.Count("Power-off cycle is needed") == 2; }));

  TaskSeams::wait_over() = true;
  first.join();
  second.join();
  EXPECT_TRUE(seams.reboots().empty());

  // Only selected drives count.
  TaskSeams::wait_over() = false;
  sda->SetWiping(WIPING_CLEAR);
  logs.Clear();
  EXPECT_EQ(0, reset.Run(true));
  EXPECT_TRUE(logs.Has("Reset command: Reboot is not required, continue.", "debug"));
  sda->SetWiping(WIPING_SET);

  // The all-together step counts down and reboots through the seam.
  reset.Lock();
  reset.all_together_hook();
  reset.Unlock();
  EXPECT_EQ(std::vector<int>{BLKDEV_CMD_REBOOT}, seams.reboots());
  EXPECT_TRUE(logs.Has("sda: Reboot in 10 seconds...", "debug"));
  std::string s;
  sda->GetCommandStatus(s);
  EXPECT_EQ("Reboot in 10 seconds...", s);
  CResetCommand halt(&mgr, true);
  halt.DoReboot();
  EXPECT_EQ((std::vector<int>{BLKDEV_CMD_REBOOT, BLKDEV_CMD_HALT}), seams.reboots());
}

TEST_F(TaskCommandTest, TerminatorCountsEveryQueue) {
  CSessionTerminatorCommand t;
  EXPECT_EQ(BLKDEV_CMD_TERMINATOR, t.id);
  EXPECT_EQ("session_terminator", t.GetName());
  EXPECT_TRUE(t.hidden);
  EXPECT_TRUE(t.single_entrance_hook());
}

TEST_F(TaskCommandTest, DelayCountsDownInTheStatusTextAndCanBeCancelled) {
  std::shared_ptr<RecordingDev> dev(new RecordingDev("sde", 1 << 20));
  CDelayCommand delay(dev, 30, "Wiping will start in %d seconds...");
  EXPECT_EQ(BLKDEV_CMD_DELAY, delay.id);
  EXPECT_TRUE(delay.hidden);
  EXPECT_EQ("delay", delay.GetName());
  EXPECT_TRUE(delay.CanCancel());
  EXPECT_EQ(CMD_STATUS_IDLE, delay.GetStatus());

  EXPECT_EQ(0, delay.Run(true));
  std::vector<std::string> expected;
  for (int n = 30; n >= 1; --n) expected.push_back("Wiping will start in " + std::to_string(n) + " seconds...");
  EXPECT_EQ(expected, dev->History());
  EXPECT_EQ(30, TaskSeams::sleeps());
  EXPECT_EQ(CMD_STATUS_IDLE, delay.GetStatus());

  // Cancelled while counting.
  std::shared_ptr<RecordingDev> dev2(new RecordingDev("sdf", 1 << 20));
  CDelayCommand d2(dev2, 30, "Wiping will start in %d seconds...");
  std::thread run([&] { d2.Run(true); });
  dev2->WaitText("Wiping will start in 27 seconds...");
  EXPECT_EQ(CMD_STATUS_RUNNING, d2.GetStatus());
  EXPECT_EQ(0, d2.Cancel());
  run.join();
  auto h = dev2->History();
  EXPECT_LT(h.size(), 30u);
  EXPECT_EQ("Wiping will start in 30 seconds...", h.front());
  EXPECT_EQ(CMD_STATUS_IDLE, d2.GetStatus());

  // Run without waiting: only a time limit.
  CDelayCommand d3(dev2, 30, "%d");
  EXPECT_EQ(0, d3.Run(false));
  EXPECT_EQ(CMD_STATUS_RUNNING, d3.GetStatus());
  d3.Cancel();
  EXPECT_EQ(CMD_STATUS_IDLE, d3.GetStatus());
  CDelayCommand expired(dev2, -1, "%d");
  EXPECT_EQ(0, expired.Run(false));
  EXPECT_EQ(CMD_STATUS_EXPIRED, expired.GetStatus());

  // A cancel before the countdown began skips it.
  std::shared_ptr<RecordingDev> dev3(new RecordingDev("sdg", 1 << 20));
  CDelayCommand d4(dev3, 30, "%d");
  d4.Cancel();
  EXPECT_EQ(0, d4.Run(true));
  EXPECT_TRUE(dev3->History().empty());
}
