// An ATA device on the software drive, its node a plain file in a temporary
// /dev (TempRoot): what initialisation offers and shows, and what
// HPA/DCO removal, the drive's own erase, unlock, standby and TRIM leave on
// the drive.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>

#include "app/globals.h"
#include "app/util.h"
#include "ata/ata_blocks.h"
#include "ata/blkdev_ata.h"
#include "ata_drive_model.h"
#include "device/device_fixture.h"
#include "support/log_capture.h"
#include "support/unguarded.h"

template <class V, class T>
static long count(const V& v, const T& x) { return std::count(v.begin(), v.end(), x); }

class TestAtaDev : public CBlkDevAta {
 public:
  explicit TestAtaDev(ata_transport_e t) : CBlkDevAta(t) {
    CBlkDevData& found = *this;
    found.name = "sdz", found.major = kUnusedMajor, found.minor = 3;
  }
  std::vector<std::string> CommandNames() const {
    std::vector<std::string> v;
    for (auto& c : commands) v.push_back(c->GetName());
    return v;
  }
  bool Offers(const std::string& n) const { return count(CommandNames(), n) > 0; }
};

class AtaDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { std::ofstream(root.Path("/dev/sdz")).put('\0'); }
  void TearDown() override { g_debuglevel = 0; }
  std::unique_ptr<TestAtaDev> MakeInit(CBlkDevAta::ata_transport_e t = CBlkDevAta::TRANSPORT_SAT) {
    std::unique_ptr<TestAtaDev> dev(new TestAtaDev(t));
    EXPECT_EQ(0, dev->Init());
    return dev;
  }

  TempRoot root;
  LogCapture cap;
  AtaDriveModel drive;
  IoctlScope<AtaDriveModel> scope{drive};
};

typedef std::vector<std::string> names;

// {drive} -> markers, the commands offered after "Wipe", "Wipe", "Standby", the last detail line.
TEST_F(AtaDeviceTest, InitShowsTheDriveAndOffersItsCommands) {
  struct row {
    std::function<void(AtaDriveModel&)> set;
    const char* markers;
    names commands;
    const char* detail;
  } rows[] = {
      {[](AtaDriveModel&) {}, "", {"ATA Erase [zero]", "ATA Erase [pattern]"}, "ATA ERASE time: 60min [zeroes] 120min [pattern] "},
      {[](AtaDriveModel& d) { d.SetPassword(ATA_PASSWORD_BYTE); d.sec_locked = true; }, " LCK", {"Unlock disk"},
       "ATA ERASE time: 60min [zeroes] 120min [pattern]  LOCKED"},
      {[](AtaDriveModel& d) { d.sec_frozen = true; d.erase_normal = 0; }, "", {}, "ATA ERASE time: 120min [pattern]  FROZEN"},
      {[](AtaDriveModel& d) { d.current_max = 999999; d.erase_normal = d.erase_enhanced = 0; }, " HPA", {"Reset HPA"},
       "ATA ERASE disabled"},
      {[](AtaDriveModel& d) { d.dco_max = d.native_max = 1499999; d.current_max = 999999; d.security_supported = false; },
       " HPA DCO", {"Reset HPA", "Reset DCO"}, "S.M.A.R.T. status OK"},
      {[](AtaDriveModel& d) { d.dco_max = d.native_max = d.current_max = 1499999; d.smart_threshold_exceeded = true;
         d.security_supported = false; }, " DCO", {"Reset DCO"}, "S.M.A.R.T. status BAD"},
      {[](AtaDriveModel& d) { d.kernel_size = 4096; d.trim = true; d.SetSmartAttribute(4, 5, 10);
         d.security_supported = false; }, " REBOOT BB", {"Trim"}, "Bad sectors: 10"},
  };
  for (auto& r : rows) {
    drive = AtaDriveModel();
    r.set(drive);
    auto dev = MakeInit();
    SCOPED_TRACE(r.detail);
    names want = {"Wipe", "Wipe", "Standby"};
    want.insert(want.end(), r.commands.begin(), r.commands.end());
    EXPECT_EQ(want, dev->CommandNames());
    EXPECT_EQ(r.markers, dev->Snapshot().markers);
    EXPECT_EQ(r.detail, dev->Snapshot().details.back());
    EXPECT_EQ(dev->Offers("ATA Erase [zero]"), dev->SupportsHardwareWipe());
  }
  EXPECT_TRUE(cap.Has("Disk-sdz: ZV Test Drive 1000 7200RPM, s/n: ZV0001 firmware: 1.02 ata device detected.", "wipe"));
  EXPECT_TRUE(cap.Has("Disk-sdz: SATA-2 ATA8-ACS rev. 4 LBA48 SMART DCO HPA TRIM ", "wipe"));
  for (const char* line : {"Device locked", "ATA ERASE command is blocked by BIOS", "Host Protected Area (HPA) detected",
                           "Device Configuration Overlay (DCO) detected", "Reboot required", "10 bad sectors detected"})
    EXPECT_TRUE(cap.Has(std::string("Disk-sdz: ") + line, "wipe")) << line;

  drive = AtaDriveModel();
  drive.packet_only = true;
  g_debuglevel = 1;
  auto dev = MakeInit(CBlkDevAta::TRANSPORT_IDE);
  EXPECT_EQ(1, dev->packet);
  EXPECT_TRUE(drive.log.back().hdio);
  EXPECT_TRUE(dev->Offers("Set HPA") && dev->Offers("Reset HPA") && dev->Offers("Set DCO") && dev->Offers("Reset DCO"));
  drive.identify_fails = true;
  EXPECT_NE(0, dev->Init());
}

TEST_F(AtaDeviceTest, HiddenAreasAreNamedBeforeTheWipe) {
  drive.dco_max = drive.native_max = 1499999;
  drive.current_max = 999999;
  auto dev = MakeInit();
  EXPECT_EQ(0, dev->PreWipe());
  std::string quarter = CSizeStr(256000000, 'A').c_str();
  EXPECT_TRUE(cap.Has("Disk-sdz: HPA reserved " + quarter + " (25%) will not be wiped", "wipe"));
  EXPECT_TRUE(cap.Has("Disk-sdz: DCO reserved " + quarter + " (25%) will not be wiped", "wipe"));
}

// Reset HPA over each transport, address width and sense form, a 5 TB drive
// over the IDE taskfile included: the whole native size visible afterwards,
// for good. A native size beyond what the fixed sense form's 28-bit re-read
// holds is unknown and no reset is offered: never a truncated size.
TEST_F(AtaDeviceTest, ResetHpaMakesTheNativeSizeVisible) {
  struct {
    CBlkDevAta::ata_transport_e t;
    bool lba48, fixed_sense;
    uint64_t native, visible;
  } rows[] = {{CBlkDevAta::TRANSPORT_SAT, true, false, 1999999, 999999},
              {CBlkDevAta::TRANSPORT_IDE, true, false, 9765624999ULL, 1999999},
              {CBlkDevAta::TRANSPORT_SAT, true, false, 9765624999ULL, 0x0FFFFFFF},
              {CBlkDevAta::TRANSPORT_IDE, false, false, 0x0ABCDEF0, 0x01000000},
              {CBlkDevAta::TRANSPORT_SAT, true, true, 0x0FFFFFFE, 0x0FFFF000},
              {CBlkDevAta::TRANSPORT_SAT, true, true, 0x0FFFFFFF, 0x0FFFF000},
              {CBlkDevAta::TRANSPORT_SAT, true, true, 9765624999ULL, 0x0FFFF000}};
  for (auto& r : rows) {
    drive = AtaDriveModel();
    drive.lba48 = r.lba48, drive.fixed_sense = r.fixed_sense;
    drive.factory_max = drive.dco_max = drive.native_max = r.native;
    drive.current_max = r.visible;
    auto dev = MakeInit(r.t);
    bool unknown = r.fixed_sense && r.native >= 0x0FFFFFFF;
    EXPECT_EQ(unknown ? 0 : (r.native + 1) * 512, dev->hpa_size) << r.native;
    ASSERT_EQ(!unknown, dev->Offers("Reset HPA")) << r.native;
    if (unknown) continue;
    cap.Clear();
    EXPECT_EQ(0, run_now(*dev, BLKDEV_CMD_RESET_HPA));
    EXPECT_EQ(r.native, drive.current_max);
    EXPECT_TRUE(drive.hpa_persistent);
    EXPECT_EQ((r.native + 1) * 512, dev->Snapshot().size_bytes);  // refreshed
    EXPECT_EQ(" REBOOT", dev->Snapshot().markers);
    EXPECT_TRUE(cap.Has("Disk-sdz: HPA reset successfully", "wipe"));
  }
  // The drive keeps another limit than asked, or refuses: the operator is told.
  drive = AtaDriveModel();
  drive.current_max = 999999;
  drive.setmax_readback_offset = -1;
  auto dev = MakeInit();
  cap.Clear();
  EXPECT_EQ(-2, dev->ResetHPA(1));
  drive.Fail(0x37);
  EXPECT_NE(0, run_now(*dev, BLKDEV_CMD_RESET_HPA));
  EXPECT_EQ(2, cap.Count("Disk-sdz: Failed to reset HPA", "wipe"));
  EXPECT_FALSE(cap.Has("HPA reset successfully"));
  drive.native_max = 0;  // no usable native size: nothing is set
  EXPECT_EQ(-1, dev->ResetHPA(1));
  EXPECT_EQ(2, count(drive.Commands(), 0x37));
  drive.Fail(0x27);  // the hidden area is unknown, not absent
  dev = MakeInit();
  EXPECT_EQ(1, count(dev->Snapshot().details, "HPA: could not be checked"));
  EXPECT_TRUE(cap.Has("Disk-sdz: Host Protected Area (HPA) could not be checked", "wipe"));
}

TEST_F(AtaDeviceTest, DcoResetAndTestOverlay) {
  drive.dco_max = drive.native_max = drive.current_max = 1499999;
  auto dev = MakeInit();
  EXPECT_EQ(0, run_now(*dev, BLKDEV_CMD_RESET_DCO));
  EXPECT_EQ(drive.factory_max, drive.current_max);
  EXPECT_EQ(1024000000u, dev->Snapshot().size_bytes);
  EXPECT_TRUE(cap.Has("Disk-sdz: DCO reset successfully", "wipe"));
  // The overlay the debug level makes hides a quarter, the rest of the block kept.
  EXPECT_EQ(0, dev->SetDCO(0));
  std::vector<unsigned char> want = drive.DcoBlock();
  dco_set_max_lba(want.data(), 1499999);
  EXPECT_EQ(want, drive.last_dco_set);
  drive.Fail(0xB1, 0xC0);
  EXPECT_NE(0, dev->ResetDCO(0));
  EXPECT_TRUE(cap.Has("Disk-sdz: Failed to reset DCO", "wipe"));
}

// The drive's own erase: {failing command, variant} -> commands sent and the
// drive's state; a failure never leaves the program's password set.
TEST_F(AtaDeviceTest, SecurityEraseSequences) {
  struct {
    int fail, variant;
    std::vector<uint8_t> sent;
    bool erased;
  } rows[] = {{0, 0, {0xF1, 0xF3, 0xF4}, true}, {0, 1, {0xF1, 0xF3, 0xF4}, true}, {0xF1, 0, {0xF1}, false},
              {0xF3, 0, {0xF1, 0xF3, 0xF2, 0xF6}, false}, {0xF4, 1, {0xF1, 0xF3, 0xF4, 0xF2, 0xF6}, false}};
  for (auto& r : rows) {
    drive = AtaDriveModel();
    if (r.fail) drive.Fail(r.fail);
    auto dev = MakeInit();
    drive.log.clear();
    EXPECT_EQ(r.erased, run_now(*dev, r.variant ? BLKDEV_CMD_ATA_ERASE_PATTERN : BLKDEV_CMD_ATA_ERASE_ZERO) == 0);
    std::vector<uint8_t> sent = drive.Commands();
    sent.resize(r.sent.size());  // an unlock refreshes the device afterwards
    EXPECT_EQ(r.sent, sent);
    EXPECT_TRUE(drive.erased == r.erased && drive.erased_enhanced == (r.erased && r.variant) && !drive.sec_enabled);
    EXPECT_EQ(std::string("pass 1: ATA Erase [") + (r.variant ? "pattern" : "zero") + "] is " +
                  (r.erased ? "success" : "failed") + "\r\n",
              report_of(*dev).PassLog());
    EXPECT_EQ(STEP_HW_ERASE, report_of(*dev).Steps().back().kind);  // what makes a certificate Purge
    if (r.sent.size() > 2 && r.sent[2] == 0xF4) {
      EXPECT_EQ((r.variant ? 240u : 120u) * 60000, drive.log[2].timeout_ms);
    }
  }
  EXPECT_EQ(5, cap.Count("Disk-sdz: ATA ERASE command started", "wipe"));
  EXPECT_EQ(2, cap.Count("Disk-sdz: ATA ERASE command completed in ", "wipe"));
  EXPECT_EQ(3, cap.Count("Disk-sdz: ATA ERASE command failed", "wipe"));
  // The longest estimates (short and extended format) are waited for in full, never wrapped.
  for (auto& r : {std::make_pair(17896, 35792ULL), std::make_pair(0xFFFF, 65534ULL)}) {
    drive = AtaDriveModel();
    drive.erase_normal = (uint16_t)r.first;
    auto dev = MakeInit();
    ASSERT_EQ(0, run_now(*dev, BLKDEV_CMD_ATA_ERASE_ZERO));
    EXPECT_GE((uint64_t)drive.log.back().timeout_ms, r.second * 60000) << r.first;
  }
}

TEST_F(AtaDeviceTest, UnlockStandbyAndTrim) {
  drive.SetPassword(0x11);  // somebody else's password: stays locked
  drive.sec_locked = true;
  auto dev = MakeInit();
  EXPECT_NE(0, run_now(*dev, BLKDEV_CMD_UNLOCK));
  EXPECT_TRUE(drive.sec_locked);
  drive.SetPassword(ATA_PASSWORD_BYTE);
  EXPECT_EQ(0, run_now(*dev, BLKDEV_CMD_UNLOCK));
  EXPECT_FALSE(drive.sec_locked || drive.sec_enabled);
  EXPECT_TRUE(dev->Offers("ATA Erase [zero]"));  // refreshed

  drive.host_status = 0x03;  // the adapter timed the command out, whatever the sense says
  EXPECT_NE(0, run_now(*dev, BLKDEV_CMD_STANDBY));
  drive.host_status = 0;
  EXPECT_EQ(0, run_now(*dev, BLKDEV_CMD_STANDBY));
  EXPECT_TRUE(drive.standby);

  drive.trim = true;
  CDevFile f;
  const blkdev_node_t node = dev->Node();
  ASSERT_EQ(0, f.OpenFile(node.major, node.minor, node.name.c_str(), 0));
  // The longest range the trim pass hands over: 64 entries of 65472 sectors in one block.
  EXPECT_EQ(0, dev->Trim_helper_trim_range(f, 0x123456789AULL, 0x3FF000));
  ASSERT_EQ(64u, drive.trimmed.size());
  EXPECT_EQ((std::pair<uint64_t, unsigned>{0x123456789AULL + 65472, 65472}), drive.trimmed[1]);
  EXPECT_EQ((std::pair<uint64_t, unsigned>{0x123456789AULL + 63 * 65472, 65472}), drive.trimmed.back());
  auto ide = MakeInit(CBlkDevAta::TRANSPORT_IDE);  // no DMA over the taskfile
  EXPECT_NE(0, ide->Trim_helper_trim_range(f, 0, 100));
}
