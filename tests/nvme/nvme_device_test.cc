// An NVMe namespace on the software controller, its node a plain file in a
// temporary /dev: what initialisation shows, what each erase path and each
// refusal leaves on the drive, the session log and the report, deallocation.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>

#include "device/device_fixture.h"
#include "nvme/blkdev_nvme.h"
#include "nvme_drive_model.h"
#include "support/log_capture.h"
#include "support/unguarded.h"

namespace {

typedef std::vector<std::string> names;
typedef std::function<void(NvmeDriveModel&)> setup;

class NvmeDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(root.Path("/dev/nvme0n1")).put('\0');
  }
  // A device as discovery leaves it (sysfs facts), initialised on a fresh drive.
  std::unique_ptr<CBlkDevNvme> Make(const setup& s) {
    drive = NvmeDriveModel();
    s(drive);
    std::unique_ptr<CBlkDevNvme> dev(new CBlkDevNvme(drive.Port()));
    CBlkDevData& found = facts_of(*dev);
    found.name = "nvme0n1", found.major = kUnusedMajor;
    found.model = "sysfs model", found.size_bytes = 4096;
    EXPECT_EQ(0, dev->Init());
    return dev;
  }
  bool InReport(CBlkDevNvme& dev, const std::string& line) { return report_of(dev).PassLog().find(line) != std::string::npos; }

  struct : TempRoot {
    void NvmePollPause(unsigned) override {}
  } root;
  LogCapture cap;
  NvmeDriveModel drive;
};

TEST_F(NvmeDeviceTest, IdentityAndHealthComeFromTheDrive) {
  struct row {
    setup set;
    const char *model, *serial;
    uint64_t size;
    names commands, details;
    const char* log;  // a session-log line
  } rows[] = {
      {[](NvmeDriveModel&) {}, "ZV NVMe 512", "ZVN0001", 1ULL << 30, {"Wipe", "Wipe", "Trim", "NVMe Format NVM [user data erase]"},
       {"Firmware: 3.1", "Namespace 1, LBA format 1: 4096-byte blocks", "Features: NVMe FORMAT TRIM ",
        "Hardware erase: Format NVM [user data erase]", "Health: critical warning 0x00, temperature 37 C, 3% used, 0 media errors"},
       "Disk-nvme0n1: ZV NVMe 512, s/n: ZVN0001 nvme device detected."},
      {[](NvmeDriveModel& d) { d.critical_warning = 4, d.kelvin = 350, d.media_errors = 5, d.oncs = d.oacs = 0;
         d.nsid = 2, d.lba_shift = 9, d.flbas = 0, d.blocks = 1000; },
       "ZV NVMe 512", "ZVN0001", 512000, {"Wipe", "Wipe"},
       {"Firmware: 3.1", "Namespace 2, LBA format 0: 512-byte blocks", "Features: NVMe ", "Hardware erase: not offered",
        "Health: critical warning 0x04, temperature 77 C, 3% used, 5 media errors"},
       "Disk-nvme0n1: health: critical warning 0x04"},
      {[](NvmeDriveModel& d) { d.refuse[0x06] = 0x002, d.refuse[0x02] = 0x109; }, "sysfs model", "", 4096, {"Wipe", "Wipe"},
       {"Features: NVMe ", "Hardware erase: not offered", "Health: not available"},
       "Disk-nvme0n1: Identify Controller failed: invalid field in command (status 0x002)"},
  };
  for (auto& r : rows) {
    auto dev = Make(r.set);
    SCOPED_TRACE(r.log);
    names commands;
    for (auto& c : dev->commands) commands.push_back(c->GetName());
    EXPECT_EQ(r.commands, commands);
    const CBlkDevData d = dev->Snapshot();
    EXPECT_EQ(r.details, d.details);
    EXPECT_TRUE(r.model == d.model && r.serial == d.serial && r.size == d.size_bytes);
    EXPECT_TRUE(cap.Has(r.log, "wipe"));
  }
  EXPECT_TRUE(cap.Has("Disk-nvme0n1: Identify Namespace failed: invalid field in command", "wipe"));
  EXPECT_TRUE(cap.Has("Disk-nvme0n1: health log not available: invalid log page", "wipe"));
}

TEST_F(NvmeDeviceTest, EachErasePathIsWhatTheControllerOffers) {
  struct row {
    uint32_t sanicap;
    uint8_t fna;
    const char* name;
    int opcode, action;
    uint32_t nsid;
  } rows[] = {
      {0, 0, "Format NVM [user data erase]", 0x80, 1, 1},
      {0, 0x04, "Format NVM [crypto erase]", 0x80, 2, 1},
      {0, 0x05, "Format NVM [crypto erase]", 0x80, 2, 0xFFFFFFFF},     // formats every namespace
      {0, 0x02, "Format NVM [user data erase]", 0x80, 1, 0xFFFFFFFF},  // erases every namespace
      {0, 0x09, "Format NVM [user data erase]", 0x80, 1, 1},           // but takes no broadcast
      {0x3, 0x04, "Sanitize [crypto erase]", 0x84, 4, 0},
      {0x2, 0x04, "Sanitize [block erase]", 0x84, 2, 0},
  };
  for (auto& r : rows) {
    SCOPED_TRACE(r.name);
    auto dev = Make([&](NvmeDriveModel& d) { d.sanicap = r.sanicap, d.fna = r.fna; });
    ASSERT_TRUE(dev->SupportsHardwareWipe());
    EXPECT_EQ(0, run_now(*dev, BLKDEV_CMD_ATA_ERASE_ZERO));
    EXPECT_TRUE(r.opcode == drive.erase_opcode && r.action == drive.erase_action && r.nsid == drive.erase_nsid);
    if (r.opcode == 0x80) {
      EXPECT_TRUE(drive.erase_lbaf == 1 && drive.erase_timeout_ms >= 3600000);  // the format in use kept
    } else {
      EXPECT_EQ((std::vector<int>{50, 99}), drive.percent_seen);  // waited for the end
    }
    EXPECT_TRUE(InReport(*dev, std::string("NVMe ") + r.name + " is success"));
    EXPECT_TRUE(cap.Has(std::string("Disk-nvme0n1: hardware erase '") + r.name + "' completed in ", "wipe"));
  }
}

TEST_F(NvmeDeviceTest, ARefusedEraseIsNamedAndReportedFailed) {
  struct row {
    setup set;
    const char* line;
  } rows[] = {
      {[](NvmeDriveModel& d) { d.refuse[0x80] = 0x084; }, "'Format NVM [user data erase]' failed: format in progress (status 0x084)"},
      {[](NvmeDriveModel& d) { d.sanicap = 1, d.refuse[0x84] = 0x123; },
       "'Sanitize [crypto erase]' failed: sanitize prohibited while the persistent memory region is enabled"},
      {[](NvmeDriveModel& d) { d.sanicap = 1, d.sanitize_end = 3; },
       "'Sanitize [crypto erase]' failed: sanitize failed: the most recent sanitize did not complete (status 0x01C)"},
      {[](NvmeDriveModel& d) { d.sanicap = 1, d.sanitize_polls = 1000, d.sanitize_estimate = 3; },
       "'Sanitize [crypto erase]' failed: still running when the time allowed was over"},
  };
  for (auto& r : rows) {
    SCOPED_TRACE(r.line);
    auto dev = Make(r.set);
    EXPECT_NE(0, run_now(*dev, BLKDEV_CMD_ATA_ERASE_ZERO));
    EXPECT_TRUE(cap.Has(std::string("Disk-nvme0n1: hardware erase ") + r.line, "wipe"));
    EXPECT_TRUE(InReport(*dev, "] is failed"));
  }
  EXPECT_EQ(7u, drive.percent_seen.size());  // twice the estimate, then given up
}

TEST_F(NvmeDeviceTest, TrimDeallocatesTheWholeNamespace) {
  auto dev = Make([](NvmeDriveModel&) {});
  EXPECT_EQ(0, run_now(*dev, BLKDEV_CMD_TRIM));
  uint64_t next = 0;
  for (auto& r : drive.deallocated) {
    EXPECT_EQ(next, r.first);
    next += r.second;
  }
  EXPECT_EQ(drive.blocks, next);
  drive.refuse[0x09] = 0x020;
  EXPECT_NE(0, run_now(*dev, BLKDEV_CMD_TRIM));
  EXPECT_TRUE(cap.Has("nvme0n1: Trim. Dataset Management failed: namespace is write protected"));
}

}  // namespace
