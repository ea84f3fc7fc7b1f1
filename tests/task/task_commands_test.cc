// Task steps: proxies, the shared checkpoints, the power-off cycle and the
// countdown of a drive added to a running task.
#include <gtest/gtest.h>

#include <thread>

#include "devmgr/fake_sysfs.h"
#include "support/gate_command.h"
#include "support/log_capture.h"
#include "task/task_fixture.h"

namespace {

class CountingCheckpoint : public CAllAtOnceCommand {
 public:
  CountingCheckpoint() : CAllAtOnceCommand(BLKDEV_CMD_TERMINATOR, "cp") {}
  bool single_entrance_hook() override { return true; }
  int all_together_hook() override { return ++actions, 0; }
  std::atomic<int> actions{0};
};

}  // namespace

TEST(ProxyCommand, RunsTheDevicesCommandAsItsCurrentOne) {
  std::shared_ptr<RecordingDev> dev(new RecordingDev("sda", 1 << 20));
  std::shared_ptr<GateCommand> wipe(new GateCommand);
  wipe->Open();
  dev->commands.push_back(wipe);  // a delay id: found by that id
  EXPECT_EQ(-1, CProxyCommand(nullptr, BLKDEV_CMD_DELAY, "p").Run(true));
  EXPECT_EQ(-2, CProxyCommand(dev, BLKDEV_CMD_TRIM, "p").Run(true));
  EXPECT_EQ(0, CProxyCommand(dev, BLKDEV_CMD_DELAY, "p").Run(true));
  EXPECT_EQ(wipe, dev->GetCurrentCommand());
  dev->SetDisconnectedFlag();
  EXPECT_EQ(-1, CProxyCommand(dev, BLKDEV_CMD_DELAY, "p").Run(true));
}

// Three queues meet: the action runs once, when the last arrives; a queue
// dropped before it got there (its entry destroyed) no longer holds the
// others; later arrivals pass at once.
TEST(Checkpoint, QueuesPassTogetherAndDroppedOnesNoLongerCount) {
  TaskSeams seams;
  std::shared_ptr<CountingCheckpoint> cp(new CountingCheckpoint);
  std::vector<std::shared_ptr<CCommand>> entries;
  for (int i = 0; i < 4; ++i) {
    cp->IncreaseCount();
    entries.push_back(CAllAtOnceCommand::QueueEntry(cp));
  }
  std::vector<std::thread> queues;
  for (int i = 0; i < 3; ++i) queues.emplace_back([&, i] { entries[(size_t)i]->Run(true); });
  ASSERT_TRUE(eventually([&] { return cp->GetCount() == 1; }));
  usleep(20000);
  EXPECT_EQ(0, cp->actions);
  entries[3].reset();  // its queue was cleared
  ASSERT_TRUE(eventually([&] { return cp->IsDone(); }, 20));
  for (auto& t : queues) t.join();
  EXPECT_EQ(1, cp->actions);
  cp->IncreaseCount();
  EXPECT_EQ(0, cp->Run(true));
  EXPECT_EQ(1, cp->actions);
}

// A selected drive that reports more sectors than the kernel knows needs a
// power-off cycle: every queue reaching the reset step waits for it, without
// holding the checkpoint (a drive can still be added); the all-together
// step reboots through the seam. Unselected drives do not count.
TEST(ResetCommand, ADriveNeedingAPowerCycleHoldsTheQueues) {
  FakeSys sys;
  FakeIoctl ioctls;
  TaskSeams seams;
  LogCapture logs;
  AtaDriveModel drive;
  drive.factory_max = drive.dco_max = drive.native_max = drive.current_max = 2047;
  drive.kernel_size = 512 * 1024;
  ioctls.AddAta("sda", &drive);
  sys.AddDrive("sda");
  CBlkDevMgr mgr;
  mgr.AddDevice("sda");
  std::shared_ptr<CBlkDev> sda = mgr.GetBlkDev(0);
  CResetCommand reset(&mgr, false);
  reset.IncreaseCount();
  EXPECT_EQ(0, reset.Run(true));  // not selected: no wait
  sda->SetWiping(WIPING_SET);
  std::atomic<bool> through{false};
  std::thread queue([&] { reset.Run(true), through = true; });
  ASSERT_TRUE(eventually([&] {
    std::string s;
    return sda->GetCommandStatus(s) && s == "Waiting for reset...";
  }));
  reset.IncreaseCount();
  usleep(20000);
  EXPECT_FALSE(through);
  EXPECT_TRUE(logs.Has("Drive-sdaPower-off cycle is needed to continue wiping on this device.", "wipe"));
  TaskSeams::wait_over() = true;
  queue.join();
  EXPECT_TRUE(seams.reboots().empty());
  reset.Lock();
  reset.all_together_hook();
  reset.Unlock();
  CResetCommand(&mgr, true).DoReboot();
  EXPECT_EQ((std::vector<int>{BLKDEV_CMD_REBOOT, BLKDEV_CMD_HALT}), seams.reboots());
}

TEST(DelayCommand, CountsDownInTheStatusTextAndCanBeCancelled) {
  TaskSeams seams;
  std::shared_ptr<RecordingDev> dev(new RecordingDev("sde", 1 << 20));
  CDelayCommand delay(dev, 3, "Wiping will start in %d seconds...");
  EXPECT_EQ(0, delay.Run(true));
  EXPECT_EQ((std::vector<std::string>{"Wiping will start in 3 seconds...", "Wiping will start in 2 seconds...",
                                      "Wiping will start in 1 seconds..."}),
            dev->History());
  EXPECT_EQ(3, TaskSeams::sleeps());

  CDelayCommand long_delay(dev, 3000, "%d");
  std::thread run([&] { long_delay.Run(true); });
  dev->WaitText("2998");
  EXPECT_EQ(CMD_STATUS_RUNNING, long_delay.GetStatus());
  long_delay.Cancel();
  run.join();
  EXPECT_LT(dev->History().size(), 100u);
  EXPECT_EQ(CMD_STATUS_IDLE, long_delay.GetStatus());

  std::shared_ptr<RecordingDev> other(new RecordingDev("sdf", 1 << 20));
  CDelayCommand cancelled(other, 30, "%d");
  cancelled.Cancel();  // before the countdown began: skipped
  EXPECT_EQ(0, cancelled.Run(true));
  EXPECT_TRUE(other->History().empty());
}

// Before a reboot or power-off the logs are flushed; under a fake root the
// machine is never rebooted.
TEST(Reboot, FlushesFirstAndNeverRebootsUnderTest) {
  static int syncs;
  syncs = 0;
  Scoped<sync_fn_t> sync{g_sync, [] { ++syncs; }};
  Scoped<std::string> root{g_root_prefix, "/nonexistent-zorvane-test-root"};
  for (int id : {(int)BLKDEV_CMD_REBOOT, (int)BLKDEV_CMD_HALT}) EXPECT_EQ(-1, g_reboot(id));
  EXPECT_EQ(2, syncs);
}
