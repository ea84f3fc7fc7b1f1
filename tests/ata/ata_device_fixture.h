// A temporary /dev holding a plain file as the drive's node (reached through
// g_root_prefix), a software drive answering every ioctl, and an ATA device
// that reports when its commands complete.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include "app/globals.h"
#include "app/paths.h"
#include "ata/blkdev_ata.h"
#include "ata_drive_model.h"
#include "support/log_capture.h"

// A device major that no driver registers: a node the code might create can
// never reach real hardware.
constexpr int kAtaTestMajor = 241;

class TestAtaDev : public CBlkDevAta {
 public:
  explicit TestAtaDev(ata_transport_e t) : CBlkDevAta(t) {
    name = "sdz";
    major = kAtaTestMajor;
    minor = 3;
  }
  int CommandComplete(const CCommand* cmd) override {
    int rc = CBlkDevAta::CommandComplete(cmd);
    std::lock_guard<std::mutex> g(m);
    ++completed;
    cv.notify_all();
    return rc;
  }
  int Refresh() override {
    ++refreshes;
    return CBlkDevAta::Refresh();
  }
  // Runs a command the way the menu does and waits until it has completed
  // (a refresh it asked for included).
  int RunAndWait(command_ptr cmd) {
    int before;
    {
      std::lock_guard<std::mutex> g(m);
      before = completed;
    }
    int rc = RunCommand(cmd);
    if (rc != 0) return rc;
    std::unique_lock<std::mutex> g(m);
    bool done = cv.wait_for(g, std::chrono::seconds(20), [&] { return completed > before; });
    return done ? 0 : -100;
  }
  bool PendingRefresh() {
    CLockWrapper guard(DeviceLock());
    return refresh_pending;
  }
  std::vector<std::string> CommandNames() const {
    std::vector<std::string> v;
    for (auto& c : commands) v.push_back(c->GetName());
    return v;
  }
  bool Offers(const std::string& n) const {
    for (auto& c : commands)
      if (c->GetName() == n) return true;
    return false;
  }
  bool HasDetail(const std::string& d) const {
    for (auto& x : details)
      if (x == d) return true;
    return false;
  }
  int refreshes = 0;

 private:
  std::mutex m;
  std::condition_variable cv;
  int completed = 0;
};

class AtaDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zv-ata-XXXXXX";
    char* d = mkdtemp(tmpl);
    ASSERT_NE(nullptr, d);
    dir = d;
    mkdir((dir + "/dev").c_str(), 0755);
    std::ofstream((dir + "/dev/sdz").c_str()).put('\0');
    saved_prefix = g_root_prefix;
    g_root_prefix = dir;
    saved_debug = g_debuglevel;
    saved_fast = g_debug_fast;
    g_debuglevel = 0;
    g_debug_fast = 0;
    scope.reset(new AtaDriveScope(drive));
  }
  void TearDown() override {
    scope.reset();
    g_root_prefix = saved_prefix;
    g_debuglevel = saved_debug;
    g_debug_fast = saved_fast;
    if (dir.rfind("/tmp/zv-ata-", 0) == 0) {
      std::string cmd = "rm -rf '" + dir + "'";
      if (system(cmd.c_str()) != 0) {
      }
    }
  }
  std::unique_ptr<TestAtaDev> Make(CBlkDevAta::ata_transport_e t = CBlkDevAta::TRANSPORT_SAT) {
    return std::unique_ptr<TestAtaDev>(new TestAtaDev(t));
  }
  std::unique_ptr<TestAtaDev> MakeInit(CBlkDevAta::ata_transport_e t = CBlkDevAta::TRANSPORT_SAT) {
    auto dev = Make(t);
    EXPECT_EQ(0, dev->Init());
    return dev;
  }

  LogCapture cap;
  AtaDriveModel drive;
  std::unique_ptr<AtaDriveScope> scope;
  std::string dir;

 private:
  std::string saved_prefix;
  int saved_debug = 0, saved_fast = 0;
};
