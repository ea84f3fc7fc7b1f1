// The threaded commands against a device double: the status texts a run,
// a failure and a cancel leave, a second start refused, and completion
// reported once per run.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "command/threaded_command.h"

namespace {

std::atomic<bool> g_release{false};

struct FakeDev {
  std::string Name() const { return "fk0"; }
  std::mutex m;
  std::vector<std::string> history;
  std::atomic<int> completed{0}, started{0};
  int rc = 0;
  void SetCommandStatus(const char* t) {
    std::lock_guard<std::mutex> g(m);
    history.push_back(t);
  }
  std::string Last() {
    std::lock_guard<std::mutex> g(m);
    return history.empty() ? "" : history.back();
  }
  int PrintWipingStatus(char* buf, int size) { return snprintf(buf, size, "progress"); }
  int CancelWipe() { return g_release = true, 0; }
  int CommandComplete(const CCommand*) { return ++completed, 0; }
  int Wipe() {
    for (++started; !g_release;) usleep(1000);
    return rc;
  }
  int WipeHW() { return Wipe(); }
};

int Held(FakeDev* d, int rc) { return d->rc = rc, d->Wipe(); }

}  // namespace

// {work result, cancelled, uninterruptible} -> the last status text, and
// whether "Cancelling..." came before it.
TEST(ThreadedCommand, StatusTextsOfARun) {
  const struct {
    int rc;
    bool cancel, uninterruptible;
    const char* last;
    bool cancelling;
  } rows[] = {{0, false, false, "Completed", false}, {-1, false, false, "Failed.", false},
              {1, true, false, "Failed.", true},     {0, true, true, "Completed", false},
              {5, false, true, "Erase ", false}};  // a failed erase keeps its countdown
  for (auto& r : rows) {
    FakeDev dev;
    dev.rc = r.rc, g_release = false;
    CWipeCommand<FakeDev> wipe(&dev, BLKDEV_CMD_WIPE, false, "Wipe");
    CCommandUninterruptible<FakeDev, int> erase(&dev, &Held, r.rc, 7200, "Erase", BLKDEV_CMD_ATA_ERASE_ZERO);
    CCommand& cmd = r.uninterruptible ? (CCommand&)erase : (CCommand&)wipe;
    ASSERT_EQ(0, cmd.Run(false));
    while (!dev.started || dev.Last().empty()) usleep(1000);
    EXPECT_EQ(-1, cmd.Run(true));  // already running
    if (r.cancel) {
      cmd.Cancel();
      usleep(20000);
      EXPECT_EQ(!r.uninterruptible, g_release.load());  // an erase cannot be cancelled
    }
    g_release = true;
    while (dev.completed == 0) usleep(1000);
    EXPECT_EQ(0u, dev.Last().rfind(r.last, 0)) << dev.Last();
    EXPECT_EQ(r.cancelling, std::find(dev.history.begin(), dev.history.end(), "Cancelling...") != dev.history.end());
    EXPECT_TRUE(CMD_STATUS_IDLE == cmd.GetStatus() && dev.completed == 1);
  }
}
