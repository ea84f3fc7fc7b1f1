// The wipe task: the queue per option, which drives a start takes, drives
// started later waiting with the others; the shared checkpoints, the
// power-off cycle, the countdown of an added drive, the flush before a reboot.
#include <errno.h>
#include <gtest/gtest.h>
#include <limits.h>

#include <atomic>
#include <thread>

#include "ata/ata_drive_model.h"
#include "devmgr/fake_sysfs.h"
#include "support/log_capture.h"
#include "support/scoped.h"
#include "task/task_commands.h"
#include "task/wipe_task.h"
#include "support/unguarded.h"

namespace {

// The task steps' platform: a short "second" (counted), a reboot that never
// happens, an end to the wait for a power-off cycle that the test gives; the
// ioctls go to the software ATA drive once a test sets it (ENOTTY before: none
// reaches a real device); while hold_sdb is set, sdb's writes wait.
struct TaskSeams : FakePlatform {
  std::atomic<bool> wait_over{false}, hold_sdb{false};
  std::atomic<int> sleeps{0};
  AtaDriveModel* ata_drive = nullptr;
  void TaskSleep() override { ++sleeps, usleep(2000); }
  int Reboot(bool) override { return 0; }
  bool PowerCycleWaitOver() override { return wait_over; }
  int Ioctl(int fd, unsigned long r, void* a) override { return ata_drive ? ata_drive->Ioctl(fd, r, a) : (errno = ENOTTY, -1); }
  long DeviceWrite(int fd, const void* buf, unsigned long n, long off) override {
    char link[64], target[PATH_MAX] = "";
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    while (hold_sdb && readlink(link, target, sizeof target - 1) > 0 && strstr(target, "/sdb")) usleep(1000);
    return FakePlatform::DeviceWrite(fd, buf, n, off);
  }
};

// Waits (with a generous limit that only catches a hang) until pred holds.
template <class P>
bool eventually(P pred, int seconds = 60) {
  for (int i = 0; i < seconds * 500 && !pred(); ++i) usleep(2000);
  return pred();
}

class CountingCheckpoint : public CAllAtOnceCommand {
 public:
  CountingCheckpoint() : CAllAtOnceCommand(BLKDEV_CMD_TERMINATOR, "cp") {}
  bool single_entrance_hook() override { return true; }
  int all_together_hook() override { return ++actions, 0; }
  std::atomic<int> actions{0};
};

}  // namespace

class WipeTaskTest : public ::testing::Test {
 protected:
  FakeSys sys;
  AtaDriveModel ata;
  TaskSeams seams;
  SchemeScope schemes;
  CBlkDevMgr mgr;
  CWipeTask task;
  Scoped<int> hpa{g_scheme.reset_hpa, 0}, dco{g_scheme.reset_dco, 0}, erase{g_scheme.ata_erase, 0};

  WipeTaskTest() {
    schemes.Add("Zeros", {MakePass(PASS_ZERO, true)});
    ata.factory_max = ata.dco_max = ata.native_max = ata.current_max = 2047;
  }
  ~WipeTaskTest() override {
    seams.hold_sdb = false;
    // A queue left unrun (a test failing) would hold the others at the last checkpoint.
    for (int i = 0; i < mgr.GetCount(); ++i)
      if (!mgr.GetBlkDev(i)->IsQueueRunning()) mgr.GetBlkDev(i)->ClearCommandQueue();
    for (int i = 0; i < mgr.GetCount(); ++i) eventually([&] { return !mgr.GetBlkDev(i)->IsQueueRunning(); });
  }
  std::shared_ptr<CBlkDev> Add(const std::string& name, fake_drive d = fake_drive()) {
    d.minor = mgr.GetCount();
    sys.AddDrive(name, d);
    mgr.AddDevice(name.c_str());
    return mgr.GetBlkDev(mgr.GetCount() - 1);
  }
};

// Reset HPA and DCO come first, an added drive waits first; the drive's own
// erase is the last pass, after a reduced wipe; SSDs are trimmed after it.
TEST_F(WipeTaskTest, QueuesFollowTheOptionsAndWhatTheDriveOffers) {
  seams.ata_drive = &ata;
  std::shared_ptr<CBlkDev> sda = Add("sda");
  const std::string tail = "Standby proxy,session_terminator";
  struct row {
    int hpa, dco, erase, additional;
    std::string queue;
  } rows[] = {
      {0, 0, 0, 0, "Reset,Wipe proxy,trim proxy," + tail},
      {1, 1, 0, 1, "delay,Reset HPA proxy,Reset DCO proxy,Reset,Wipe proxy,trim proxy," + tail},
      {0, 0, 1, 0, "Reset,Reduced wipe proxy,ATA erase pattern proxy," + tail},
  };
  for (const row& r : rows) {
    hpa.var = r.hpa, dco.var = r.dco, erase.var = r.erase;
    task.PrepareCommandsQueue(sda, &mgr, r.additional);
    std::string queue;
    for (auto& c : queue_of(*sda)) queue += (queue.empty() ? "" : ",") + c->GetName();
    EXPECT_EQ(r.queue, queue) << "hpa " << r.hpa << " erase " << r.erase;
  }
}

// Only selected drives that do not hold the log are wiped, at the start and
// when added to a running task.
TEST_F(WipeTaskTest, StartTakesOnlySelectedDrivesNeverTheLogDisk) {
  if (!sys.DirectIoWorks()) GTEST_SKIP() << "no direct I/O on " << sys.dir;
  fake_drive usb;
  usb.usb = "usb1";
  mgr.log_device_name = "sdb";
  std::shared_ptr<CBlkDev> sda = Add("sda"), sdb = Add("sdb", usb);
  facts_of(*sdb).wipe_selected = 1;  // as if selected before it was known to hold the log
  sda->SetWiping(WIPING_SET);
  EXPECT_EQ(0, task.Start(&mgr));
  task.StartOnAdditionalDrive(sdb, &mgr);
  EXPECT_TRUE(queue_of(*sdb).empty());
  ASSERT_TRUE(eventually([&] { return !sda->IsQueueRunning(); }));
  EXPECT_FALSE(sys.Untouched("sda"));
  EXPECT_TRUE(sys.Untouched("sdb"));
}

// A second start (W once more, for drives selected after the first) joins
// the same checkpoints: the first drive, done with its wipe, waits at the
// last one until the later drive gets there too.
TEST_F(WipeTaskTest, ASecondStartSharesTheCheckpoints) {
  if (!sys.DirectIoWorks()) GTEST_SKIP() << "no direct I/O on " << sys.dir;
  seams.hold_sdb = true;
  std::shared_ptr<CBlkDev> sda = Add("sda"), sdb = Add("sdb");
  sdb->SetWiping(WIPING_SET);
  ASSERT_EQ(0, task.Start(&mgr));
  sda->SetWiping(WIPING_SET);
  ASSERT_EQ(0, task.Start(&mgr));
  // Only a queue waiting at a checkpoint sleeps.
  ASSERT_TRUE(eventually([&] { return seams.sleeps > 0 || !sda->IsQueueRunning(); }));
  EXPECT_TRUE(sda->IsQueueRunning()) << "the first drive did not wait for the later one";
  seams.hold_sdb = false;
  EXPECT_TRUE(eventually([&] { return !sda->IsQueueRunning() && !sdb->IsQueueRunning(); }));
  for (const char* n : {"sda", "sdb"}) EXPECT_FALSE(sys.Untouched(n)) << n;
}

// Three queues meet: the action runs once, when the last arrives; a queue
// dropped before it got there (its entry destroyed) no longer holds the
// others.
TEST(Checkpoint, QueuesPassTogetherAndDroppedOnesNoLongerCount) {
  TaskSeams seams;
  std::shared_ptr<CountingCheckpoint> cp(new CountingCheckpoint);
  std::vector<std::shared_ptr<CCommand>> entries;
  for (int i = 0; i < 4; ++i) cp->IncreaseCount(), entries.push_back(CAllAtOnceCommand::QueueEntry(cp));
  std::vector<std::thread> queues;
  for (int i = 0; i < 3; ++i) queues.emplace_back([&, i] { entries[(size_t)i]->Run(true); });
  ASSERT_TRUE(eventually([&] { return cp->GetCount() == 1; }));
  usleep(20000);
  EXPECT_EQ(0, cp->actions);
  entries[3].reset();  // its queue was cleared
  ASSERT_TRUE(eventually([&] { return cp->IsDone(); }, 20));
  for (auto& t : queues) t.join();
  EXPECT_EQ(1, cp->actions);
}

// A selected drive that reports more sectors than the kernel knows needs a
// power-off cycle: every queue reaching the reset step waits for it, without
// holding the checkpoint (a drive can still be added).
TEST_F(WipeTaskTest, ADriveNeedingAPowerCycleHoldsTheQueues) {
  LogCapture logs;
  ata.kernel_size = 512 * 1024;
  seams.ata_drive = &ata;
  std::shared_ptr<CBlkDev> sda = Add("sda");
  CResetCommand reset(&mgr, false);
  reset.IncreaseCount();
  sda->SetWiping(WIPING_SET);
  std::atomic<bool> through{false};
  std::thread queue([&] { reset.Run(true), through = true; });
  ASSERT_TRUE(eventually([&] { std::string s; return sda->GetCommandStatus(s) && s == "Waiting for reset..."; }));
  reset.IncreaseCount();
  usleep(20000);
  EXPECT_FALSE(through);
  EXPECT_TRUE(logs.Has("Drive-sdaPower-off cycle is needed to continue wiping on this device.", "wipe"));
  seams.wait_over = true;
  queue.join();
}

TEST(DelayCommand, CountsDownInTheStatusTextAndCanBeCancelled) {
  TaskSeams seams;
  std::shared_ptr<RecordingDev> dev(new RecordingDev("sde", 1 << 20));
  CDelayCommand long_delay(dev, 3000, "%d");
  std::thread run([&] { long_delay.Run(true); });
  dev->WaitText("2998");
  long_delay.Cancel();
  run.join();
  EXPECT_LT(dev->History().size(), 100u);
}

// Before a reboot or power-off the logs are flushed; under a fake root the
// machine is never rebooted.
TEST(Reboot, FlushesFirstAndNeverRebootsUnderTest) {
  struct : FakePlatform {
    std::string root = "/nonexistent-zorvane-test-root";
    int syncs = 0;
    const std::string& RootPrefix() override { return root; }
    void Sync() override { ++syncs; }
  } fake;
  for (bool restart : {true, false}) EXPECT_EQ(-1, CSystemPlatform().Reboot(restart));
  EXPECT_EQ(2, fake.syncs);
}
