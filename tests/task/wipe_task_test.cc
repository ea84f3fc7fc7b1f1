// The wipe task: the queue per drive and option, which drives a start takes,
// and drives started later waiting with the others at the last checkpoint.
#include <gtest/gtest.h>
#include <limits.h>

#include <condition_variable>
#include <mutex>
#include <set>

#include "devmgr/fake_sysfs.h"
#include "scheme/scheme.h"
#include "support/gate_command.h"
#include "task/task_fixture.h"

namespace {

std::string Queue(const std::shared_ptr<CBlkDev>& dev) {
  std::string s;
  for (auto& c : dev->queue) s += (s.empty() ? "" : ",") + c->GetName();
  return s;
}

// Writes to the drives named in `held` wait until they are taken out of it.
struct held_writes {
  std::mutex m;
  std::condition_variable cv;
  std::set<std::string> held;
} g_hold;

long HeldWrite(int fd, const void* buf, unsigned long n, long off) {
  char link[64], target[PATH_MAX] = "";
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  if (readlink(link, target, sizeof target - 1) > 0) {
    std::unique_lock<std::mutex> g(g_hold.m);
    g_hold.cv.wait(g, [&] { return !g_hold.held.count(strrchr(target, '/') + 1); });
  }
  return pwrite64(fd, buf, n, off);
}

void Release(const std::string& name = "") {
  std::lock_guard<std::mutex> g(g_hold.m);
  if (name.empty()) g_hold.held.clear();
  g_hold.held.erase(name);
  g_hold.cv.notify_all();
}

}  // namespace

class WipeTaskTest : public ::testing::Test {
 protected:
  FakeSys sys;
  FakeIoctl ioctls;
  TaskSeams seams;
  SchemeScope schemes;
  CBlkDevMgr mgr;
  CWipeTask task;
  Scoped<int> hpa{g_scheme.reset_hpa, 0}, dco{g_scheme.reset_dco, 0}, erase{g_scheme.ata_erase, 0};

  WipeTaskTest() { schemes.Add("Zeros", {MakePass(PASS_ZERO, true)}); }
  ~WipeTaskTest() override {
    Release();
    // A queue left unrun (a test failing) would hold the others at the last checkpoint.
    for (int i = 0; i < mgr.GetCount(); ++i)
      if (!mgr.GetBlkDev(i)->IsQueueRunning()) mgr.GetBlkDev(i)->ClearCommandQueue();
    for (int i = 0; i < mgr.GetCount(); ++i) eventually([&] { return !mgr.GetBlkDev(i)->IsQueueRunning(); });
    g_wipe_write = pwrite64;
  }
  std::shared_ptr<CBlkDev> Add(const std::string& name, fake_drive d = fake_drive()) {
    d.minor = mgr.GetCount();
    sys.AddDrive(name, d);
    mgr.AddDevice(name.c_str());
    return mgr.GetBlkDev(mgr.GetCount() - 1);
  }
};

TEST_F(WipeTaskTest, QueuesFollowTheOptionsAndWhatTheDriveOffers) {
  AtaDriveModel both, zero_only;
  zero_only.erase_enhanced = 0;
  for (auto* m : {&both, &zero_only}) m->factory_max = m->dco_max = m->native_max = m->current_max = 2047;
  ioctls.AddAta("sda", &both);
  ioctls.AddAta("sdb", &zero_only);
  fake_drive stick;
  stick.usb = "usb2";
  std::shared_ptr<CBlkDev> sda = Add("sda"), sdb = Add("sdb"), sdc = Add("sdc", stick);
  const std::string tail = "Standby proxy,session_terminator";
  struct row {
    int hpa, dco, erase;
    bool additional;
    std::shared_ptr<CBlkDev> dev;
    std::string queue;
  } rows[] = {
      {0, 0, 0, false, sda, "Reset,Wipe proxy,trim proxy," + tail},
      {1, 1, 0, true, sda, "delay,Reset HPA proxy,Reset DCO proxy,Reset,Wipe proxy,trim proxy," + tail},
      {0, 0, 1, false, sda, "Reset,Reduced wipe proxy,ATA erase pattern proxy," + tail},
      {0, 0, 1, false, sdb, "Reset,Reduced wipe proxy,ATA erase zero proxy," + tail},
      {0, 0, 1, false, sdc, "Reset,Wipe proxy," + tail},
  };
  for (const row& r : rows) {
    g_scheme.reset_hpa = r.hpa;
    g_scheme.reset_dco = r.dco;
    g_scheme.ata_erase = r.erase;
    task.PrepareCommandsQueue(r.dev, &mgr, r.additional);
    EXPECT_EQ(r.queue, Queue(r.dev)) << r.dev->name << " hpa " << r.hpa << " erase " << r.erase;
  }
}

// Only selected, ready drives that do not hold the log are wiped, at the
// start and when added to a running task.
TEST_F(WipeTaskTest, StartTakesOnlySelectedReadyDrivesNeverTheLogDisk) {
  if (!sys.DirectIoWorks()) GTEST_SKIP() << "no direct I/O on " << sys.dir;
  fake_drive usb;
  usb.usb = "usb1";
  mgr.log_device_name = "sdb";
  std::shared_ptr<CBlkDev> sda = Add("sda"), sdb = Add("sdb", usb), sdc = Add("sdc"), sdd = Add("sdd");
  EXPECT_TRUE(task.IsNothingToDo(&mgr));
  EXPECT_EQ(-1, task.Start(&mgr));
  EXPECT_FALSE(task.started);
  sdb->wipe_selected = 1;  // as if selected before it was known to hold the log
  sda->SetWiping(WIPING_SET);
  sdd->SetWiping(WIPING_SET);
  std::shared_ptr<GateCommand> busy(new GateCommand);
  sdd->QueueCommand(busy);
  ASSERT_EQ(0, sdd->RunCommandQueue());
  busy->WaitEntered();
  EXPECT_EQ(0, task.Start(&mgr));
  EXPECT_TRUE(task.started);
  task.StartOnAdditionalDrive(sdb, &mgr);
  task.StartOnAdditionalDrive(sdc, &mgr);
  EXPECT_EQ("gate", Queue(sdd));
  busy->Open();
  for (auto& d : {sdb, sdc}) ASSERT_TRUE(d->queue.empty()) << d->name;
  ASSERT_TRUE(eventually([&] { return !sda->IsQueueRunning(); }));
  EXPECT_FALSE(sys.Untouched("sda"));
  for (auto& d : {sdb, sdc}) EXPECT_TRUE(sys.Untouched(d->name)) << d->name;
}

// A second start (W once more, for drives selected after the first) joins
// the same checkpoints: the first drive, done with its wipe, waits at the
// last one until the later drive gets there too.
TEST_F(WipeTaskTest, ASecondStartSharesTheCheckpoints) {
  if (!sys.DirectIoWorks()) GTEST_SKIP() << "no direct I/O on " << sys.dir;
  g_hold.held = {"sdb"};
  g_wipe_write = HeldWrite;
  std::shared_ptr<CBlkDev> sda = Add("sda"), sdb = Add("sdb");
  sdb->SetWiping(WIPING_SET);
  ASSERT_EQ(0, task.Start(&mgr));
  sda->SetWiping(WIPING_SET);
  ASSERT_EQ(0, task.Start(&mgr));
  // Only a queue waiting at a checkpoint sleeps.
  ASSERT_TRUE(eventually([&] { return TaskSeams::sleeps() > 0 || !sda->IsQueueRunning(); }));
  EXPECT_TRUE(sda->IsQueueRunning()) << "the first drive did not wait for the later one";
  Release("sdb");
  EXPECT_TRUE(eventually([&] { return !sda->IsQueueRunning() && !sdb->IsQueueRunning(); }));
  EXPECT_FALSE(sys.Untouched("sda"));
  EXPECT_FALSE(sys.Untouched("sdb"));
}
