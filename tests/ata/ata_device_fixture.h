// An ATA device on the software drive, its node a plain file in a temporary
// /dev (through g_root_prefix).
#pragma once
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "app/globals.h"
#include "app/util.h"
#include "ata/blkdev_ata.h"
#include "ata_drive_model.h"
#include "support/log_capture.h"

class TestAtaDev : public CBlkDevAta {
 public:
  explicit TestAtaDev(ata_transport_e t) : CBlkDevAta(t) {
    name = "sdz";
    major = 241;  // a major no driver registers: a node made here reaches no hardware
    minor = 3;
  }
  std::vector<std::string> CommandNames() const {
    std::vector<std::string> v;
    for (auto& c : commands) v.push_back(c->GetName());
    return v;
  }
  bool Offers(const std::string& n) const {
    std::vector<std::string> v = CommandNames();
    return std::find(v.begin(), v.end(), n) != v.end();
  }
  bool HasDetail(const std::string& d) const { return std::find(details.begin(), details.end(), d) != details.end(); }
  // Runs a command to its end, as the queue does; 0 when it shows "Completed".
  int RunNow(blkdev_command_t id) {
    command_ptr c = GetCommandById(id);
    if (!c) return -100;
    SetCommandStatus("");
    c->Run(true);
    std::string s;
    GetCommandStatus(s);
    return s == "Completed" ? 0 : 1;
  }
};

class AtaDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zv-ata-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir = tmpl;
    mkdir((dir + "/dev").c_str(), 0755);
    std::ofstream((dir + "/dev/sdz").c_str()).put('\0');
    saved_prefix = g_root_prefix;
    g_root_prefix = dir;
    g_debuglevel = 0;
  }
  void TearDown() override {
    g_root_prefix = saved_prefix;
    g_debuglevel = 0;
    if (system(("rm -rf '" + dir + "'").c_str()) != 0) ADD_FAILURE();
  }
  std::unique_ptr<TestAtaDev> MakeInit(CBlkDevAta::ata_transport_e t = CBlkDevAta::TRANSPORT_SAT) {
    std::unique_ptr<TestAtaDev> dev(new TestAtaDev(t));
    EXPECT_EQ(0, dev->Init());
    return dev;
  }

  LogCapture cap;
  AtaDriveModel drive;
  AtaDriveScope scope{drive};
  std::string dir, saved_prefix;
};

