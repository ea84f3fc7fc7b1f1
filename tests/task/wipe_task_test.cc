// The wipe task: queue contents per device and option, and whole unattended
// sessions on a fake /sys/block with image files as the drives.
#include <gtest/gtest.h>
#include <limits.h>
#include <log4cplus/configurator.h>
#include <log4cplus/nullappender.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "app/log.h"
#include "devmgr/fake_sysfs.h"
#include "scheme/scheme.h"
#include "support/gate_command.h"
#include "support/log_capture.h"
#include "task/task_fixture.h"

namespace {

const uint64_t MiB = 1 << 20;

std::vector<std::string> QueueNames(const std::shared_ptr<CBlkDev>& dev) {
  std::vector<std::string> v;
  for (auto& c : dev->queue) v.push_back(c ? c->GetName() : "NULL");
  return v;
}

std::vector<int> QueueIds(const std::shared_ptr<CBlkDev>& dev) {
  std::vector<int> v;
  for (auto& c : dev->queue) v.push_back(c ? (int)c->id : -1);
  return v;
}

// The kernel name of the file behind a descriptor.
std::string FdName(int fd) {
  char link[64], target[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, target, sizeof target - 1);
  if (n <= 0) return "";
  target[n] = 0;
  const char* base = strrchr(target, '/');
  return base ? base + 1 : target;
}

// Holds the first write of every wipe until `expected` wipes are writing at
// the same time: the drives are wiped in parallel or the test fails.
struct rendezvous {
  std::mutex m;
  std::condition_variable cv;
  std::set<std::string> writing;
  int expected = 0;
  bool missed = false;
};
rendezvous g_meet;

long MeetingWrite(int fd, const void* buf, unsigned long n, long off) {
  {
    std::unique_lock<std::mutex> g(g_meet.m);
    std::string name = FdName(fd);
    if (g_meet.expected > 0 && !g_meet.writing.count(name)) {
      g_meet.writing.insert(name);
      g_meet.cv.notify_all();
      if (!g_meet.cv.wait_for(g, std::chrono::seconds(60),
                              [] { return (int)g_meet.writing.size() >= g_meet.expected; }))
        g_meet.missed = true;
    }
  }
  return pwrite64(fd, buf, n, off);
}

// The drive "sdb" goes away in the middle of its wipe: its second chunk waits
// until the test has taken it out of sysfs, and from then on every write to
// it fails as on a vanished device.
struct vanishing {
  std::mutex m;
  std::condition_variable cv;
  bool reached = false, gone = false;
};
vanishing g_vanish;

long VanishingWrite(int fd, const void* buf, unsigned long n, long off) {
  if (FdName(fd) == "sdb") {
    std::unique_lock<std::mutex> g(g_vanish.m);
    if (off >= (long)(16 * MiB) && !g_vanish.reached) {
      g_vanish.reached = true;
      g_vanish.cv.notify_all();
      g_vanish.cv.wait(g, [] { return g_vanish.gone; });
    }
    if (g_vanish.gone) {
      errno = EIO;
      return -1;
    }
  }
  return pwrite64(fd, buf, n, off);
}

std::vector<std::string> g_shell_commands;
std::mutex g_shell_mutex;
int RecordShell(const char* cmd) {
  std::lock_guard<std::mutex> g(g_shell_mutex);
  g_shell_commands.push_back(cmd);
  return 0;
}

// Checks a wiped image: a report with `status` at byte 0, zeros after it.
void ExpectWipedWithReport(FakeSys& sys, const std::string& name, const std::string& status, uint64_t size) {
  std::vector<unsigned char> img = sys.ReadImage(name);
  ASSERT_EQ(size, img.size()) << name;
  parsed_report r = parse_report(img);
  ASSERT_TRUE(r.ok) << name << ": no report at byte 0";
  EXPECT_EQ("X-Completion-Status: " + status, r.header[1]) << name;
  ASSERT_GE(r.body.size(), 7u) << name;
  EXPECT_EQ("Disk wiping status: " + status, r.body[0]) << name;
  EXPECT_EQ("pass 1: wiping pass [zero] is success", r.body[5]) << name;
  EXPECT_EQ("pass 2: verifying pass is success", r.body[6]) << name;
  size_t nonzero = 0;
  for (size_t i = r.end; i < img.size(); ++i)
    if (img[i] != 0) ++nonzero;
  EXPECT_EQ(0u, nonzero) << name << ": bytes left unwiped";
}

bool QueueDone(const std::shared_ptr<CBlkDev>& dev) { return !dev->IsQueueRunning(); }

}  // namespace

class WipeTaskTest : public ::testing::Test {
 protected:
  FakeSys sys;
  FakeIoctl ioctls;
  TaskSeams seams;
  SchemeScope schemes;
  LogCapture logs;
  int saved_hpa = g_scheme.reset_hpa, saved_dco = g_scheme.reset_dco, saved_erase = g_scheme.ata_erase;

  void SetUp() override {
    g_scheme.reset_hpa = g_scheme.reset_dco = g_scheme.ata_erase = 0;
    g_scheme.verify = 1;
    schemes.Add("Zeros", {MakePass(PASS_ZERO, true)});
  }
  void TearDown() override {
    g_scheme.reset_hpa = saved_hpa;
    g_scheme.reset_dco = saved_dco;
    g_scheme.ata_erase = saved_erase;
    g_wipe_write = pwrite64;
  }
  // A software ATA drive of `bytes` as sysfs name `name`.
  void AddAtaDrive(const std::string& name, AtaDriveModel& m, uint64_t bytes, int minor) {
    m.factory_max = m.dco_max = m.native_max = m.current_max = bytes / 512 - 1;
    ioctls.AddAta(name, &m);
    fake_drive d;
    d.size = bytes;
    d.minor = minor;
    sys.AddDrive(name, d);
  }
};

TEST_F(WipeTaskTest, NothingSelectedMeansNothingToDo) {
  CWipeTask task;
  EXPECT_TRUE(task.IsNothingToDo(nullptr));
  EXPECT_EQ(-1, task.Start(nullptr));
  CBlkDevMgr mgr;
  EXPECT_TRUE(task.IsNothingToDo(&mgr));
  sys.AddDrive("sda");
  mgr.AddDevice("sda");
  ASSERT_EQ(1, mgr.GetCount());
  EXPECT_TRUE(task.IsNothingToDo(&mgr));
  EXPECT_EQ(-1, task.Start(&mgr));
  EXPECT_TRUE(logs.Has("sda: Skipping - not marked for wiping.", "debug"));
  EXPECT_TRUE(logs.Has("Wipe task. Total queues: 0", "debug"));
  EXPECT_FALSE(logs.Has("Wipe task. Starting..."));
  EXPECT_FALSE(task.started);
  mgr.GetBlkDev(0)->SetWiping(WIPING_SET);
  EXPECT_FALSE(task.IsNothingToDo(&mgr));
  mgr.GetBlkDev(0)->SetDisconnectedFlag();
  EXPECT_TRUE(task.IsNothingToDo(&mgr));
}

TEST_F(WipeTaskTest, QueuesFollowTheOptionsAndWhatTheDriveOffers) {
  AtaDriveModel both, zero_only;
  zero_only.erase_enhanced = 0;
  zero_only.serial = "ZV0002";
  AddAtaDrive("sda", both, MiB, 0);
  AddAtaDrive("sdb", zero_only, MiB, 1);
  fake_drive stick;
  stick.usb = "usb2";
  stick.minor = 2;
  sys.AddDrive("sdc", stick);
  CBlkDevMgr mgr;
  for (const char* n : {"sda", "sdb", "sdc"}) mgr.AddDevice(n);
  ASSERT_EQ(3, mgr.GetCount());
  std::shared_ptr<CBlkDev> sda = mgr.GetBlkDev(0), sdb = mgr.GetBlkDev(1), sdc = mgr.GetBlkDev(2);
  ASSERT_TRUE(sda->GetCommandById(BLKDEV_CMD_ATA_ERASE_PATTERN));
  ASSERT_FALSE(sdb->GetCommandById(BLKDEV_CMD_ATA_ERASE_PATTERN));
  ASSERT_TRUE(sdb->GetCommandById(BLKDEV_CMD_ATA_ERASE_ZERO));
  CWipeTask task;

  task.PrepareCommandsQueue(sda, &mgr, false);
  EXPECT_EQ((std::vector<std::string>{"Reset", "Wipe proxy", "trim proxy", "Standby proxy", "session_terminator"}),
            QueueNames(sda));
  EXPECT_EQ((std::vector<int>{15, 13, 10, 11, 20}), QueueIds(sda));
  EXPECT_TRUE(logs.Has("sda: Wipe task. Init", "debug"));
  EXPECT_TRUE(logs.Has("sda: Wipe task. Reset system added", "debug"));
  EXPECT_TRUE(logs.Has("sda: Wipe task. Full wipe added", "debug"));
  EXPECT_TRUE(logs.Has("sda: TRIM pass added because no 'Security Erase' in current wiping scheme", "debug"));
  EXPECT_TRUE(logs.Has("sda: Wipe task. Standby added", "debug"));

  g_scheme.reset_hpa = g_scheme.reset_dco = 1;
  task.PrepareCommandsQueue(sda, &mgr, true);
  EXPECT_EQ((std::vector<std::string>{"delay", "Reset HPA proxy", "Reset DCO proxy", "Reset", "Wipe proxy",
                                      "trim proxy", "Standby proxy", "session_terminator"}),
            QueueNames(sda));
  EXPECT_EQ((std::vector<int>{19, 3, 2, 15, 13, 10, 11, 20}), QueueIds(sda));
  EXPECT_TRUE(logs.Has("sda: Wipe task. Reset HPA added", "debug"));
  EXPECT_TRUE(logs.Has("sda: Wipe task. Reset DCO added", "debug"));

  g_scheme.reset_hpa = g_scheme.reset_dco = 0;
  g_scheme.ata_erase = 1;
  task.PrepareCommandsQueue(sda, &mgr, false);
  task.PrepareCommandsQueue(sdb, &mgr, false);
  task.PrepareCommandsQueue(sdc, &mgr, false);
  EXPECT_EQ((std::vector<std::string>{"Reset", "Reduced wipe proxy", "ATA erase pattern proxy", "Standby proxy",
                                      "session_terminator"}),
            QueueNames(sda));
  EXPECT_EQ((std::vector<int>{15, 14, 9, 11, 20}), QueueIds(sda));
  EXPECT_EQ((std::vector<std::string>{"Reset", "Reduced wipe proxy", "ATA erase zero proxy", "Standby proxy",
                                      "session_terminator"}),
            QueueNames(sdb));
  EXPECT_EQ((std::vector<int>{15, 14, 8, 11, 20}), QueueIds(sdb));
  EXPECT_EQ((std::vector<std::string>{"Reset", "Wipe proxy", "Standby proxy", "session_terminator"}),
            QueueNames(sdc));
  EXPECT_TRUE(logs.Has("sda: Wipe task. ATA erase [pattern] created", "debug"));
  EXPECT_TRUE(logs.Has("sdb: Wipe task. ATA erase [zero] created", "debug"));
  EXPECT_TRUE(logs.Has("sdb: Wipe task. Reduced wipe added", "debug"));
  EXPECT_TRUE(logs.Has("sdb: Wipe task. ATA erase queued", "debug"));
  EXPECT_FALSE(logs.Has("sdc: TRIM pass added"));

  // One checkpoint pair for the task; replaced queues no longer count.
  EXPECT_EQ(3, task.terminator->GetCount());
  EXPECT_EQ(3, task.reset_checkpoint->GetCount());
  for (auto& d : {sda, sdb, sdc}) d->ClearCommandQueue();
  EXPECT_EQ(0, task.terminator->GetCount());
}

TEST_F(WipeTaskTest, ABusyDriveIsSkippedAndTheOthersStart) {
  if (!sys.DirectIoWorks()) GTEST_SKIP() << "no direct I/O on " << sys.dir;
  fake_drive d;
  sys.AddDrive("sda", d);
  d.minor = 1;
  sys.AddDrive("sdb", d);
  CBlkDevMgr mgr;
  mgr.AddDevice("sda");
  mgr.AddDevice("sdb");
  std::shared_ptr<CBlkDev> sda = mgr.GetBlkDev(0), sdb = mgr.GetBlkDev(1);
  sda->SetWiping(WIPING_SET);
  sdb->SetWiping(WIPING_SET);
  std::shared_ptr<GateCommand> gate(new GateCommand);
  sda->QueueCommand(gate);
  ASSERT_EQ(0, sda->RunCommandQueue());
  gate->WaitEntered();

  CWipeTask task;
  EXPECT_EQ(0, task.Start(&mgr));
  EXPECT_TRUE(task.started);
  EXPECT_TRUE(logs.Has("sda: Skipping - device is not ready (possible wiping in progress)", "debug"));
  EXPECT_TRUE(logs.Has("Wipe task. Total queues: 1", "debug"));
  EXPECT_TRUE(logs.Has("Wipe task. Starting...", "debug"));
  ASSERT_TRUE(eventually([&] { return QueueDone(sdb); }));
  ExpectWipedWithReport(sys, "sdb", "success", MiB);
  EXPECT_TRUE(logs.Has("trim proxy: Proxy command: command '10' is not found on device 'sdb'", "debug"));
  EXPECT_TRUE(logs.Has("session_terminator: all the disks are in this checkpoint now", "debug"));
  gate->Open();
  ASSERT_TRUE(eventually([&] { return QueueDone(sda); }));
}

// The disk holding the log is never queued, even with a selection that got
// past SetWiping; a drive added to a running task must be selected, and the
// log disk never is.
TEST_F(WipeTaskTest, TheLogDeviceIsNeverQueued) {
  if (!sys.DirectIoWorks()) GTEST_SKIP() << "no direct I/O on " << sys.dir;
  fake_drive d;
  sys.AddDrive("sda", d);
  d.minor = 1;
  d.usb = "usb1";
  sys.AddDrive("sdb", d);
  d.minor = 2;
  d.usb = nullptr;
  sys.AddDrive("sdc", d);
  CBlkDevMgr mgr;
  mgr.log_device_name = "sdb";
  for (const char* n : {"sda", "sdb", "sdc"}) mgr.AddDevice(n);
  std::shared_ptr<CBlkDev> sda = mgr.GetBlkDev(0), sdb = mgr.GetBlkDev(1), sdc = mgr.GetBlkDev(2);
  ASSERT_TRUE(sdb->IsLogDevice());
  sda->SetWiping(WIPING_SET);
  sdb->SetWiping(WIPING_SET);
  EXPECT_FALSE(sdb->IsSelectedForWiping());
  sdb->wipe_selected = 1;  // as if selected before it was known to hold the log

  CWipeTask task;
  EXPECT_FALSE(task.IsNothingToDo(&mgr));
  EXPECT_EQ(0, task.Start(&mgr));
  EXPECT_TRUE(logs.Has("sdb: Skipping - the log device is never wiped.", "debug"));
  EXPECT_TRUE(logs.Has("Wipe task. Total queues: 1", "debug"));
  EXPECT_TRUE(sdb->queue.empty());
  EXPECT_FALSE(sdb->IsQueueRunning());

  // Added to the running task: the log disk and an unselected drive are not.
  task.StartOnAdditionalDrive(sdb, &mgr);
  task.StartOnAdditionalDrive(sdc, &mgr);
  EXPECT_TRUE(sdb->queue.empty());
  EXPECT_TRUE(sdc->queue.empty());
  EXPECT_FALSE(sdb->IsQueueRunning());
  EXPECT_FALSE(sdc->IsQueueRunning());
  EXPECT_TRUE(logs.Has("sdb: Not wiping - the drive is not selected for wiping", "debug"));
  EXPECT_TRUE(logs.Has("sdc: Not wiping - the drive is not selected for wiping", "debug"));

  ASSERT_TRUE(eventually([&] { return QueueDone(sda); }));
  ExpectWipedWithReport(sys, "sda", "success", MiB);
  for (const char* n : {"sdb", "sdc"}) {
    std::vector<unsigned char> img = sys.ReadImage(n);
    EXPECT_EQ(img.size(), (size_t)std::count(img.begin(), img.end(), 0xAA)) << n << " was written to";
  }
}

// The whole unattended session without the screen: the monitor finds three
// drives, all are selected and the task started; each is wiped by its own
// queue thread at the same time; the checkpoints are passed together, the
// log is handed over once and every drive gets its report. A drive plugged
// in afterwards counts down, passes the checkpoints already passed and is
// wiped as well.
TEST_F(WipeTaskTest, UnattendedSessionWipesEverySelectedDriveInParallel) {
  if (!sys.DirectIoWorks()) GTEST_SKIP() << "no direct I/O on " << sys.dir;
  // The session log with its error handler, as at start-up.
  std::string cfg = sys.Path("/wipe-log.cfg");
  std::ofstream(cfg) << "log4cplus.logger.wipe=INFO, LOG_MSGS, LOG_CIFS\n"
                        "log4cplus.appender.LOG_MSGS=log4cplus::FileAppender\n"
                        "log4cplus.appender.LOG_MSGS.File=" + sys.Path("/zorvane.log") + "\n"
                        "log4cplus.appender.LOG_CIFS=log4cplus::FileAppender\n"
                        "log4cplus.appender.LOG_CIFS.File=" + sys.Path("/copy.log") + "\n";
  shell_runner_t saved_shell = g_shell_runner;
  g_shell_commands.clear();
  g_shell_runner = RecordShell;
  ASSERT_EQ(0, g_log.Startup(cfg.c_str()));
  struct restore {
    shell_runner_t shell;
    ~restore() {
      g_wipe_log.removeAllAppenders();
      g_wipe_log.setLogLevel(log4cplus::NOT_SET_LOG_LEVEL);
      g_shell_runner = shell;
    }
  } restore_log{saved_shell};

  AtaDriveModel ata;
  AddAtaDrive("sda", ata, 8 * MiB, 0);
  fake_drive d;
  d.size = 4 * MiB;
  d.minor = 1;
  sys.AddDrive("sdb", d);
  d.minor = 2;
  d.usb = "usb2";
  d.model = "ZV Stick";
  sys.AddDrive("sdc", d);

  {
    std::lock_guard<std::mutex> g(g_meet.m);
    g_meet.writing.clear();
    g_meet.expected = 3;
    g_meet.missed = false;
  }
  g_wipe_write = MeetingWrite;

  MonitorStepper stepper;
  RecordingHook hook;
  CBlkDevMgr mgr;
  struct stop {
    MonitorStepper& s;
    CBlkDevMgr& m;
    ~stop() {
      s.FreeRun();
      m.StopScanDevices();
    }
  } stop_monitor{stepper, mgr};
  mgr.StartScanDevices();
  mgr.RegisterHooks(&hook);
  stepper.Step();
  ASSERT_EQ(0, mgr.IsDetectingDrivesInitialization());
  ASSERT_EQ(3, mgr.GetCount());
  EXPECT_EQ((std::vector<std::string>{"attached sda", "attached sdb", "attached sdc"}), hook.Summary());

  // Wipe-all: every listed drive is selected, then the task starts. (The
  // task is the program's one; a repeated run starts it from scratch.)
  g_wipe_task.started = false;
  g_wipe_task.reset_checkpoint.reset();
  g_wipe_task.terminator.reset(new CSessionTerminatorCommand);
  for (int i = 0; i < mgr.GetCount(); ++i) mgr.GetBlkDev(i)->SetWiping(WIPING_SET);
  ASSERT_FALSE(g_wipe_task.IsNothingToDo(&mgr));
  ASSERT_EQ(0, g_wipe_task.Start(&mgr));
  EXPECT_TRUE(g_wipe_task.started);
  EXPECT_TRUE(logs.Has("Wipe task. Total queues: 3", "debug"));
  std::vector<std::shared_ptr<CBlkDev>> devs;
  for (int i = 0; i < 3; ++i) devs.push_back(mgr.GetBlkDev(i));
  ASSERT_TRUE(eventually([&] {
    for (auto& dv : devs)
      if (!QueueDone(dv)) return false;
    return true;
  }));

  {
    std::lock_guard<std::mutex> g(g_meet.m);
    EXPECT_FALSE(g_meet.missed) << "the wipes did not run at the same time";
    EXPECT_EQ((std::set<std::string>{"sda", "sdb", "sdc"}), g_meet.writing);
    g_meet.expected = 0;
  }
  EXPECT_EQ(3, logs.Count("Reset command: Reboot is not required, continue."));
  auto lines = logs.Texts("debug");
  std::vector<std::string> checkpoint;
  for (auto& l : lines)
    if (l.rfind("session_terminator: ", 0) == 0) checkpoint.push_back(l);
  EXPECT_EQ((std::vector<std::string>{"session_terminator: reached checkpoint, 2 disks more to go further",
                                      "session_terminator: reached checkpoint, 1 disks more to go further",
                                      "session_terminator: reached checkpoint, 0 disks more to go further",
                                      "session_terminator: all the disks are in this checkpoint now"}),
            checkpoint);
  {
    std::lock_guard<std::mutex> g(g_shell_mutex);
    EXPECT_EQ((std::vector<std::string>{"sh /scripts/save_copy_of_log.sh LOG_MSGS",
                                        "sh /scripts/save_copy_of_log.sh LOG_CIFS"}),
              g_shell_commands);
  }
  ExpectWipedWithReport(sys, "sda", "success", 8 * MiB);
  ExpectWipedWithReport(sys, "sdb", "success", 4 * MiB);
  ExpectWipedWithReport(sys, "sdc", "success", 4 * MiB);
  EXPECT_TRUE(ata.standby);
  EXPECT_TRUE(logs.Has("Standby proxy: Proxy command: command '11' is not found on device 'sdb'", "debug"));
  EXPECT_EQ(3, logs.Count("Wiping finished with status: success"));
  // The session log file has the operator's lines.
  std::ifstream f(sys.Path("/zorvane.log"));
  std::stringstream text;
  text << f.rdbuf();
  EXPECT_NE(std::string::npos, text.str().find("Disk-sdb: Wiping finished with status: success"));

  // A drive plugged in afterwards.
  g_additional_drive_delay = 3;
  d.minor = 3;
  d.usb = nullptr;
  d.model = "ZV Late Disk";
  sys.AddDrive("sdd", d);
  stepper.Apply();
  ASSERT_EQ(4, mgr.GetCount());
  std::shared_ptr<CBlkDev> late = mgr.GetBlkDev(3);
  std::vector<std::string> texts;
  std::mutex texts_mutex;
  TaskSeams::on_sleep() = [&] {
    std::string s;
    if (late->GetCommandStatus(s)) {
      std::lock_guard<std::mutex> g(texts_mutex);
      if (texts.empty() || texts.back() != s) texts.push_back(s);
    }
  };
  logs.Clear();
  late->SetWiping(WIPING_SET);
  g_wipe_task.StartOnAdditionalDrive(late, &mgr);
  ASSERT_TRUE(eventually([&] { return QueueDone(late); }));
  TaskSeams::on_sleep() = nullptr;
  EXPECT_EQ((std::vector<std::string>{"Wiping will start in 3 seconds...", "Wiping will start in 2 seconds...",
                                      "Wiping will start in 1 seconds..."}),
            texts);
  EXPECT_TRUE(logs.Has("sdd: Running command 'delay', remaining: 6", "debug"));
  EXPECT_TRUE(logs.Has("Reset command: Reboot is not required, continue.", "debug"));
  EXPECT_FALSE(logs.Has("reached checkpoint"));
  EXPECT_FALSE(logs.Has("all the disks are in this checkpoint now"));
  ExpectWipedWithReport(sys, "sdd", "success", 4 * MiB);
  std::lock_guard<std::mutex> g(g_shell_mutex);
  EXPECT_EQ(2u, g_shell_commands.size());
}

// A drive taken away in the middle of its wipe: its queue is cleared and it
// shows as disconnected, while the others finish undisturbed.
TEST_F(WipeTaskTest, ADriveRemovedDuringItsWipeLeavesTheOthersToFinish) {
  if (!sys.DirectIoWorks()) GTEST_SKIP() << "no direct I/O on " << sys.dir;
  fake_drive d;
  d.size = 32 * MiB;
  sys.AddDrive("sda", d);
  d.minor = 1;
  d.size = 48 * MiB;
  sys.AddDrive("sdb", d);
  d.minor = 2;
  d.size = 32 * MiB;
  sys.AddDrive("sdc", d);
  {
    std::lock_guard<std::mutex> g(g_vanish.m);
    g_vanish.reached = g_vanish.gone = false;
  }
  g_wipe_write = VanishingWrite;

  MonitorStepper stepper;
  RecordingHook hook;
  CBlkDevMgr mgr;
  struct stop {
    MonitorStepper& s;
    CBlkDevMgr& m;
    ~stop() {
      s.FreeRun();
      m.StopScanDevices();
    }
  } stop_monitor{stepper, mgr};
  mgr.StartScanDevices();
  mgr.RegisterHooks(&hook);
  stepper.Step();
  ASSERT_EQ(3, mgr.GetCount());
  std::vector<std::shared_ptr<CBlkDev>> devs;
  for (int i = 0; i < 3; ++i) {
    devs.push_back(mgr.GetBlkDev(i));
    devs.back()->SetWiping(WIPING_SET);
  }
  std::shared_ptr<CBlkDev> sdb = devs[1];
  CWipeTask task;
  ASSERT_EQ(0, task.Start(&mgr));
  {
    std::unique_lock<std::mutex> g(g_vanish.m);
    g_vanish.cv.wait(g, [] { return g_vanish.reached; });
  }

  hook.Clear();
  sys.RemoveDrive("sdb");
  stepper.Apply();
  EXPECT_EQ((std::vector<std::string>{"removed "}), hook.Summary());
  EXPECT_EQ(1, sdb->disconnected);
  EXPECT_EQ("", sdb->name);
  EXPECT_EQ(0, sdb->wipe_selected);
  EXPECT_FALSE(sdb->IsReady());
  EXPECT_TRUE(logs.Has("Disk-sdb: ZV Fake Disk, s/n:  device removed.", "wipe"));
  {
    std::lock_guard<std::mutex> g(g_vanish.m);
    g_vanish.gone = true;
    g_vanish.cv.notify_all();
  }

  ASSERT_TRUE(eventually([&] { return QueueDone(devs[0]) && QueueDone(devs[2]); }));
  ExpectWipedWithReport(sys, "sda", "success", 32 * MiB);
  ExpectWipedWithReport(sys, "sdc", "success", 32 * MiB);
  EXPECT_TRUE(logs.Has("session_terminator: 1 disk(s) left the task", "debug"));
  EXPECT_EQ(1, logs.Count("session_terminator: all the disks are in this checkpoint now"));

  // The removed drive's own wipe runs out on its failing writes; then nothing
  // of the task is left on it.
  ASSERT_TRUE(eventually([&] { return !sdb->HasGivenUpQueueThreads() && !sdb->GetCurrentCommand(); }));
  EXPECT_TRUE(sdb->queue.empty());
  EXPECT_FALSE(sdb->IsQueueRunning());
  EXPECT_EQ(3, mgr.GetCount());
  std::vector<unsigned char> img = sys.ReadImage("sdb");
  EXPECT_FALSE(parse_report(img).ok);
  EXPECT_FALSE(logs.Has("Internal error"));
}
