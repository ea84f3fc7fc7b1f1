// HPA/DCO operations, security erase and unlock, SMART, standby and TRIM run
// against the software drive, looking at the drive afterwards.
#include <gtest/gtest.h>
#include <string.h>

#include "ata/ata_blocks.h"
#include "ata_device_fixture.h"

// ---- HPA ----

TEST_F(AtaDeviceTest, ResetHpa28BitRegisters) {
  drive.lba48 = false;
  drive.factory_max = drive.dco_max = drive.native_max = 0x0ABCDEF0;
  drive.current_max = 0x01000000;
  auto dev = MakeInit();
  EXPECT_EQ(0, dev->lba_level);
  drive.log.clear();
  EXPECT_EQ(0, dev->ResetHPA(1));
  ASSERT_EQ(2u, drive.log.size());
  EXPECT_EQ(0xF8, drive.log[0].command);
  EXPECT_EQ(0x40, drive.log[0].device);
  EXPECT_EQ(0xF9, drive.log[1].command);
  EXPECT_EQ(0x4A, drive.log[1].device);  // LBA bit and address bits 24-27
  EXPECT_EQ(0xBCDEF0u, drive.log[1].lba);
  EXPECT_EQ(0x0ABCDEF0u, drive.current_max);
  EXPECT_TRUE(dev->PendingRefresh());
}

TEST_F(AtaDeviceTest, ResetHpaUnusableNativeSize) {
  auto dev = MakeInit();
  drive.native_max = 0;
  cap.Clear();
  EXPECT_EQ(-1, dev->ResetHPA(1));
  EXPECT_FALSE(cap.Has("Failed to reset HPA"));
  EXPECT_FALSE(cap.Has("ResetHPA."));
  EXPECT_EQ(-1, dev->SetHPA(1));
  EXPECT_TRUE(cap.Has("sdz: SetHPA. Bad max address: 0", "debug"));
  EXPECT_EQ(0, drive.CountCommand(0x37));
  // A failed native-size query gives up the same way.
  drive.Fail(0x27);
  cap.Clear();
  EXPECT_EQ(-1, dev->ResetHPA(1));
  EXPECT_TRUE(cap.Has("sdz: GetHPASize-LBA48. RunAtaCommand failed. Code: 5", "debug"));
  EXPECT_EQ(0, drive.CountCommand(0x37));
}

TEST_F(AtaDeviceTest, SetHpaHalvesNativeMax) {
  g_debuglevel = 1;
  // 1000 sectors: maximum address 999, half of it 499.
  drive.factory_max = drive.dco_max = drive.native_max = drive.current_max = 999;
  auto dev = MakeInit();
  EXPECT_TRUE(dev->Offers("Set HPA"));
  EXPECT_TRUE(dev->Offers("Reset HPA"));
  ASSERT_EQ(0, dev->RunAndWait(dev->GetCommandById(BLKDEV_CMD_SET_HPA)));
  EXPECT_EQ(499u, drive.current_max);
  EXPECT_TRUE(cap.Has("sdz: SetHPA OK. New limit 499 sectors", "debug"));
  EXPECT_EQ(1, dev->refreshes);
  EXPECT_EQ(500u * 512u, dev->size_bytes);
  EXPECT_EQ(" REBOOT HPA", dev->markers);
  EXPECT_FALSE(cap.Has("HPA reset successfully"));
}

TEST_F(AtaDeviceTest, ResetHpaMismatchAndFailure) {
  drive.current_max = 999999;
  auto dev = MakeInit();
  drive.setmax_readback_offset = -1;
  EXPECT_EQ(-2, dev->ResetHPA(1));
  EXPECT_TRUE(cap.Has("sdz: ResetHPA. Address mismatch: 1999998 != 1999999", "debug"));
  EXPECT_TRUE(cap.Has("Disk-sdz: Failed to reset HPA", "wipe"));
  EXPECT_TRUE(dev->PendingRefresh());

  drive.setmax_readback_offset = 0;
  drive.current_max = 999999;
  drive.Fail(0x37);
  auto dev2 = MakeInit();
  cap.Clear();
  EXPECT_EQ(5, dev2->ResetHPA(1));
  EXPECT_TRUE(cap.Has("sdz: ResetHPA. RunAtaCommand failed. Code: 5", "debug"));
  EXPECT_TRUE(cap.Has("Disk-sdz: Failed to reset HPA", "wipe"));
  EXPECT_FALSE(dev2->PendingRefresh());
  EXPECT_EQ(999999u, drive.current_max);
}

TEST_F(AtaDeviceTest, SetHpaVolatileBitFollowsParameter) {
  auto dev = MakeInit();
  EXPECT_EQ(0, dev->SetHPA(0));
  EXPECT_FALSE(drive.hpa_persistent);
  EXPECT_EQ(0, drive.log.back().count);
  EXPECT_EQ(0, dev->ResetHPA(1));
  EXPECT_TRUE(drive.hpa_persistent);
  EXPECT_EQ(1999999u, drive.current_max);
}

TEST_F(AtaDeviceTest, GetHpaSizeLogs) {
  auto dev = MakeInit();
  EXPECT_TRUE(cap.Has("sdz: GetHPASize-LBA48. RunAtaCommand ok.", "debug"));
  EXPECT_TRUE(cap.Has("sdz: GetHPASize OK. 2000000 sectors, 1024000000 Bytes", "debug"));
  EXPECT_TRUE(cap.Has("CMD[FEA]=27[00] SEC=00 DAT=00 HEAD=40 LBA=0000001E847F (1999999)", "debug"));
  EXPECT_TRUE(cap.Has("sdz: GetDCOSize OK. 2000000s, 1024000000b", "debug"));
}

// ---- DCO ----

TEST_F(AtaDeviceTest, SetDcoThreeQuarters) {
  drive.factory_max = drive.dco_max = drive.native_max = drive.current_max = 1000;  // 1001 sectors
  auto dev = MakeInit();
  EXPECT_EQ(1001u * 512u, dev->size_bytes);
  std::vector<unsigned char> before = drive.DcoBlock();
  EXPECT_EQ(0, dev->SetDCO(0));
  ASSERT_EQ(512u, drive.last_dco_set.size());
  EXPECT_EQ(750u, dco_get_max_lba(drive.last_dco_set.data()));
  for (int i = 0; i < 511; ++i) {
    if (i < 6 || i > 13) {
      EXPECT_EQ(before[(size_t)i], drive.last_dco_set[(size_t)i]) << i;
    }
  }
  EXPECT_EQ(0u, ata_sector_sum(drive.last_dco_set.data()));
  EXPECT_EQ(750u, drive.current_max);
  EXPECT_TRUE(cap.Has("sdz: SetDCO OK. New limit 750 sectors", "debug"));
  EXPECT_TRUE(dev->PendingRefresh());
  const model_command_t& set = drive.log.back();
  EXPECT_EQ(0xB1, set.command);
  EXPECT_EQ(0xC3, set.feature);
  EXPECT_EQ(1, set.count);
}

TEST_F(AtaDeviceTest, SetDcoFailures) {
  auto dev = MakeInit();
  drive.Fail(0xB1, 0xC2);
  EXPECT_EQ(5, dev->SetDCO(0));
  EXPECT_TRUE(cap.Has("sdz: SetDCO (identify). RunAtaCommand failed. Code: 5", "debug"));
  drive.fail.clear();
  drive.Fail(0xB1, 0xC3);
  EXPECT_EQ(5, dev->SetDCO(0));
  EXPECT_TRUE(cap.Has("sdz: SetDCO (set). RunAtaCommand failed. Code: 5", "debug"));
  EXPECT_FALSE(dev->PendingRefresh());
}

TEST_F(AtaDeviceTest, ResetDcoFailure) {
  auto dev = MakeInit();
  drive.Fail(0xB1, 0xC0);
  EXPECT_EQ(5, CBlkDevAta::CmdResetDCO(dev.get(), 0));
  EXPECT_TRUE(cap.Has("sdz: ResetDCO. RunAtaCommand failed. Code: 5", "debug"));
  EXPECT_TRUE(cap.Has("Disk-sdz: Failed to reset DCO", "wipe"));
  EXPECT_FALSE(dev->PendingRefresh());
  EXPECT_EQ(-1, CBlkDevAta::CmdResetDCO(nullptr, 0));
  EXPECT_EQ(-1, CBlkDevAta::CmdResetHPA(nullptr, 1));
  EXPECT_EQ(-1, CBlkDevAta::CmdSetHPA(nullptr, 1));
  EXPECT_EQ(-1, CBlkDevAta::CmdSetDCO(nullptr, 0));
}

TEST_F(AtaDeviceTest, DcoIdentifyFailureGivesZero) {
  drive.Fail(0xB1, 0xC2);
  auto dev = MakeInit();
  EXPECT_EQ(0u, dev->dco_size);
  EXPECT_TRUE(cap.Has("sdz: GetDCOSize. RunAtaCommand failed. Code: 5", "debug"));
  EXPECT_EQ("", dev->markers);
}

// ---- security erase ----

TEST_F(AtaDeviceTest, SecurityEraseNormal) {
  drive.erase_normal = 15;  // 30 minutes
  auto dev = MakeInit();
  EXPECT_TRUE(dev->HasDetail("ATA ERASE time: 30min [zeroes] 120min [pattern] "));
  drive.log.clear();
  ASSERT_EQ(0, dev->RunAndWait(dev->GetCommandById(BLKDEV_CMD_ATA_ERASE_ZERO)));
  EXPECT_EQ((std::vector<uint8_t>{0xF1, 0xF3, 0xF4}), drive.Commands());
  EXPECT_TRUE(drive.erased);
  EXPECT_FALSE(drive.erased_enhanced);
  EXPECT_FALSE(drive.sec_enabled);
  EXPECT_EQ(0x00, drive.log[0].data[0]);
  EXPECT_EQ(0x00, drive.log[2].data[0]);
  EXPECT_EQ(ATA_PASSWORD_BYTE, drive.log[0].data[2]);
  EXPECT_EQ(5000u, drive.log[0].timeout_ms);
  EXPECT_EQ(5000u, drive.log[1].timeout_ms);
  // 30 minutes estimated: the erase may take twice that.
  EXPECT_EQ(3600u * 1000u, drive.log[2].timeout_ms);
  EXPECT_TRUE(cap.Has("Disk-sdz: ATA ERASE command started", "wipe"));
  EXPECT_TRUE(cap.Has("Disk-sdz: ATA ERASE command completed in ", "wipe"));
  EXPECT_TRUE(cap.Has("sdz: Security Erase. Setting a password. ", "debug"));
  EXPECT_TRUE(cap.Has("sdz: Security Erase. Preparing.", "debug"));
  EXPECT_TRUE(cap.Has("sdz: Security Erase. Erasing", "debug"));
}

TEST_F(AtaDeviceTest, SecurityEraseEnhanced) {
  auto dev = MakeInit();
  drive.log.clear();
  ASSERT_EQ(0, dev->RunAndWait(dev->GetCommandById(BLKDEV_CMD_ATA_ERASE_PATTERN)));
  EXPECT_TRUE(drive.erased_enhanced);
  EXPECT_EQ(0x00, drive.log[0].data[0]);
  EXPECT_EQ(0x02, drive.log[2].data[0]);
  EXPECT_EQ(0x00, drive.log[2].data[1]);
  EXPECT_EQ(2u * 7200u * 1000u, drive.log[2].timeout_ms);
}

TEST_F(AtaDeviceTest, SecurityErasePrepareFailsUnlocks) {
  auto dev = MakeInit();
  drive.Fail(0xF3);
  drive.log.clear();
  EXPECT_EQ(5, CBlkDevAta::CmdSecurityErase(dev.get(), CBlkDevAta::_cmd_param{1800, 0}));
  EXPECT_EQ((std::vector<uint8_t>{0xF1, 0xF3, 0xF2, 0xF6}), drive.Commands());
  EXPECT_FALSE(drive.sec_enabled);
  EXPECT_FALSE(drive.erased);
  EXPECT_EQ(0x00, drive.log[2].data[0]);
  EXPECT_EQ(0x00, drive.log[3].data[0]);
  EXPECT_TRUE(cap.Has("sdz: SecurityErase. SECURITY ERASE PREPARE failed. Code: 5", "debug"));
  EXPECT_TRUE(cap.Has("Disk-sdz: ATA ERASE command failed", "wipe"));
  EXPECT_FALSE(cap.Has("completed in"));
}

TEST_F(AtaDeviceTest, SecurityEraseUnitFailsUnlocks) {
  auto dev = MakeInit();
  drive.Fail(0xF4);
  drive.log.clear();
  EXPECT_EQ(5, dev->SecurityErase(CBlkDevAta::_cmd_param{60, 1}));
  EXPECT_EQ((std::vector<uint8_t>{0xF1, 0xF3, 0xF4, 0xF2, 0xF6}), drive.Commands());
  EXPECT_EQ(0x02, drive.log[2].data[0]);
  EXPECT_EQ(120000u, drive.log[2].timeout_ms);
  EXPECT_FALSE(drive.sec_enabled);
  EXPECT_TRUE(cap.Has("sdz: SecurityErase. SECURITY ERASE UNIT failed. Code: 5", "debug"));
  EXPECT_TRUE(dev->PendingRefresh());  // the unlock asked for a refresh
}

TEST_F(AtaDeviceTest, SecurityEraseUnlockFailureKeepsEraseResult) {
  auto dev = MakeInit();
  drive.Fail(0xF4);
  drive.Fail(0xF6);
  EXPECT_EQ(5, dev->SecurityErase(CBlkDevAta::_cmd_param{60, 0}));
  EXPECT_TRUE(cap.Has("sdz: Lock disk-reset password. Command failed. Code: 5", "debug"));
  EXPECT_TRUE(drive.sec_enabled);
}

TEST_F(AtaDeviceTest, SecurityEraseSetPasswordFails) {
  auto dev = MakeInit();
  drive.Fail(0xF1);
  drive.log.clear();
  EXPECT_EQ(5, dev->SecurityErase(CBlkDevAta::_cmd_param{60, 0}));
  EXPECT_EQ((std::vector<uint8_t>{0xF1}), drive.Commands());
  EXPECT_TRUE(cap.Has("sdz: SecurityErase. SECURITY SET PASSWORD failed. Code: 5", "debug"));
}

TEST_F(AtaDeviceTest, SecurityEraseOpenFailure) {
  auto dev = MakeInit();
  dev->name = "missing/sdq";
  EXPECT_EQ(-1, dev->SecurityErase(CBlkDevAta::_cmd_param{60, 0}));
  EXPECT_TRUE(cap.Has("missing/sdq: Could not open device. ", "debug"));
  EXPECT_EQ(-1, dev->LockDisk(0));
  EXPECT_EQ(-1, dev->Standby(0));
  EXPECT_EQ(-1, dev->SmartTest(CBlkDevAta::_cmd_param{60, 0}));
  EXPECT_EQ(-1, dev->ResetHPA(1));
  EXPECT_EQ(-1, dev->ResetDCO(0));
  EXPECT_EQ(-1, CBlkDevAta::CmdSecurityErase(nullptr, CBlkDevAta::_cmd_param{1, 0}));
}

static std::vector<unsigned> g_pauses;
static void record_pause(unsigned s) { g_pauses.push_back(s); }

TEST_F(AtaDeviceTest, FastDebugPausesInsteadOfErasing) {
  auto dev = MakeInit();
  g_debug_fast = 1;
  g_pauses.clear();
  ata_pause_fn_t saved = g_ata_erase_pause;
  g_ata_erase_pause = record_pause;
  drive.log.clear();
  int rc = CBlkDevAta::CmdSecurityErase(dev.get(), CBlkDevAta::_cmd_param{1800, 0});
  g_ata_erase_pause = saved;
  EXPECT_EQ(0, rc);
  EXPECT_EQ((std::vector<unsigned>{10}), g_pauses);
  EXPECT_TRUE(drive.log.empty());
  EXPECT_FALSE(drive.erased);
  EXPECT_TRUE(cap.Has("Disk-sdz: ATA ERASE command completed in 00:0", "wipe"));
}

// ---- SMART ----

TEST_F(AtaDeviceTest, SmartStatusBad) {
  drive.smart_threshold_exceeded = true;
  auto dev = MakeInit();
  EXPECT_TRUE(dev->HasDetail("S.M.A.R.T. status BAD"));
  drive.Fail(0xB0, 0xDA);
  dev->Refresh();
  EXPECT_TRUE(dev->HasDetail("S.M.A.R.T. status BAD"));
}

TEST_F(AtaDeviceTest, SmartDisabledSendsNothing) {
  drive.smart_enabled = false;
  auto dev = MakeInit();
  EXPECT_EQ(0, drive.CountCommand(0xB0));
  EXPECT_FALSE(dev->HasDetail("S.M.A.R.T. status OK"));
}

TEST_F(AtaDeviceTest, BadSectorsFromSmart) {
  drive.SetSmartAttribute(0, 1, 0);
  drive.SetSmartAttribute(4, 5, 10);
  auto dev = MakeInit();
  EXPECT_EQ(10u, dev->bad_sectors);
  EXPECT_TRUE(dev->HasDetail("Bad sectors: 10"));
  EXPECT_EQ(" BB", dev->markers);
  EXPECT_TRUE(cap.Has("Disk-sdz: 10 bad sectors detected", "wipe"));
}

TEST_F(AtaDeviceTest, SecondReallocatedEntryAddsLine) {
  auto dev = MakeInit();
  unsigned char data[512];
  memcpy(data, drive.smart_data, 512);
  data[2] = 5;
  data[7] = 3;
  data[2 + 12 * 7] = 5;
  data[7 + 12 * 7] = 4;
  ata_fix_checksum(data);
  blkdev_info_t got;
  EXPECT_EQ(0, dev->ParseSmartData(data, got));
  EXPECT_EQ((std::vector<std::string>{"Bad sectors: 3", "Bad sectors: 4"}), got.details);
  EXPECT_EQ(4u, got.bad_sectors);
}

TEST_F(AtaDeviceTest, SmartChecksumFailureIgnored) {
  g_debuglevel = 1;
  auto dev = MakeInit();
  unsigned char data[512];
  memcpy(data, drive.smart_data, 512);
  data[372] = 2;
  data[2] = 5;
  data[7] = 9;
  data[511] ^= 0x01;
  blkdev_info_t got;
  EXPECT_EQ(-1, dev->ParseSmartData(data, got));
  EXPECT_TRUE(got.commands.empty());
  EXPECT_EQ(0u, got.bad_sectors);
  EXPECT_TRUE(cap.Has("sdz: SMART checksum failed: ", "debug"));
  EXPECT_EQ(-1, dev->ParseSmartData(nullptr, got));
}

TEST_F(AtaDeviceTest, SmartTestCommandsOnlyWithDebugLevel) {
  drive.SetSmartPolling(2, 0);
  auto dev = MakeInit();
  EXPECT_FALSE(dev->Offers("SMART short test"));
  g_debuglevel = 1;
  dev->Refresh();
  EXPECT_TRUE(dev->Offers("SMART short test"));
  EXPECT_FALSE(dev->Offers("SMART conveyance test"));
  EXPECT_TRUE(cap.Has("sdz: SMART test. Short[sec] = 120", "debug"));
  auto cmd = dev->GetCommandById(BLKDEV_CMD_SMART_SHORT);
  ASSERT_TRUE((bool)cmd);
  drive.log.clear();
  ASSERT_EQ(0, dev->RunAndWait(cmd));
  ASSERT_EQ(1u, drive.log.size());
  EXPECT_EQ(0xD4, drive.log[0].feature);
  EXPECT_EQ(0x81, drive.last_selftest);
  EXPECT_EQ(120000u, drive.log[0].timeout_ms);
  EXPECT_TRUE(cap.Has("sdz: passed SmartTest.", "debug"));

  drive.SetSmartPolling(0, 5);
  dev->Refresh();
  EXPECT_FALSE(dev->Offers("SMART short test"));
  EXPECT_TRUE(dev->Offers("SMART conveyance test"));
  EXPECT_EQ(BLKDEV_CMD_SMART_CONVEYANCE, dev->GetCommandById(BLKDEV_CMD_SMART_CONVEYANCE)->id);
}

TEST_F(AtaDeviceTest, SmartTestResults) {
  auto dev = MakeInit();
  EXPECT_EQ(0, CBlkDevAta::CmdSmartTest(dev.get(), CBlkDevAta::_cmd_param{300, 1}));
  EXPECT_EQ(0x83, drive.last_selftest);
  EXPECT_EQ(300000u, drive.log.back().timeout_ms);
  drive.selftest_passes = false;
  EXPECT_EQ(-1, dev->SmartTest(CBlkDevAta::_cmd_param{60, 0}));
  EXPECT_TRUE(cap.Has("sdz: failed SmartTest.", "debug"));
  drive.Fail(0xB0, 0xD4);
  EXPECT_EQ(5, dev->SmartTest(CBlkDevAta::_cmd_param{60, 0}));
  EXPECT_TRUE(cap.Has("sdz: SmartTest. RunAtaCommand failed. Code: 5", "debug"));
  EXPECT_EQ(-1, CBlkDevAta::CmdSmartTest(nullptr, CBlkDevAta::_cmd_param{60, 0}));
}

// ---- standby ----

TEST_F(AtaDeviceTest, StandbyCommand) {
  auto dev = MakeInit();
  auto cmd = dev->GetCommandById(BLKDEV_CMD_STANDBY);
  ASSERT_TRUE((bool)cmd);
  drive.log.clear();
  ASSERT_EQ(0, dev->RunAndWait(cmd));
  EXPECT_TRUE(drive.standby);
  ASSERT_EQ(1u, drive.log.size());
  EXPECT_EQ(0xE0, drive.log[0].command);
  EXPECT_EQ(5000u, drive.log[0].timeout_ms);
  EXPECT_TRUE(cap.Has("sdz: Standby OK.", "debug"));
  EXPECT_EQ(0, dev->refreshes);
  drive.Fail(0xE0);
  EXPECT_EQ(5, CBlkDevAta::CmdStandby(dev.get(), 0));
  EXPECT_TRUE(cap.Has("sdz: Standby. RunAtaCommand failed. Code: 5", "debug"));
  EXPECT_EQ(-1, CBlkDevAta::CmdStandby(nullptr, 0));
}

// ---- TRIM ----

TEST_F(AtaDeviceTest, TrimRangesReachDrive) {
  drive.trim = true;
  auto dev = MakeInit();
  CDevFile f;
  ASSERT_EQ(0, f.OpenFile(dev->major, dev->minor, dev->name.c_str(), 0));
  EXPECT_EQ(0, dev->Trim_helper_trim_range(f, 1000, 65473));
  ASSERT_EQ(2u, drive.trimmed.size());
  EXPECT_EQ(1000u, drive.trimmed[0].first);
  EXPECT_EQ(65472u, drive.trimmed[0].second);
  EXPECT_EQ(1000u + 65472u, drive.trimmed[1].first);
  EXPECT_EQ(1u, drive.trimmed[1].second);
  const model_command_t& c = drive.log.back();
  EXPECT_EQ(0x06, c.command);
  EXPECT_EQ(0x0D, c.cdb[1]);
  EXPECT_EQ(1, c.feature);
  EXPECT_EQ(1, c.count);
  EXPECT_EQ(0u, c.lba);
  EXPECT_TRUE(cap.Has("Send to drive 2 ranges for TRIM", "debug"));
  EXPECT_TRUE(cap.Has("sdz: Trim ranges OK.", "debug"));
}

// The largest chunk of the TRIM pass fills the whole range block: 64 entries
// of 65,472 sectors, each LBA (48 bits) and count (16 bits) little-endian.
TEST_F(AtaDeviceTest, TrimRangeBlockBytes) {
  drive.trim = true;
  auto dev = MakeInit();
  CDevFile f;
  ASSERT_EQ(0, f.OpenFile(dev->major, dev->minor, dev->name.c_str(), 0));
  const uint64_t start = 0x0000123456789AULL;
  ASSERT_EQ(0, dev->Trim_helper_trim_range(f, start, 0x3FF000));
  const model_command_t& c = drive.log.back();
  EXPECT_EQ(0x06, c.command);
  ASSERT_EQ(512u, c.data.size());
  for (int i = 0; i < 64; ++i) {
    uint64_t lba = start + (uint64_t)i * 0xFFC0;
    for (int b = 0; b < 6; ++b) EXPECT_EQ((unsigned char)(lba >> (8 * b)), c.data[8 * i + b]) << i << "/" << b;
    EXPECT_EQ(0xC0, c.data[8 * i + 6]) << i;
    EXPECT_EQ(0xFF, c.data[8 * i + 7]) << i;
  }
  EXPECT_TRUE(cap.Has("Send to drive 64 ranges for TRIM", "debug"));
  EXPECT_FALSE(cap.Has("Internal error"));

  // A short range: one entry, the other 63 are zero.
  ASSERT_EQ(0, dev->Trim_helper_trim_range(f, 7, 16960));
  const model_command_t& d = drive.log.back();
  ASSERT_EQ(512u, d.data.size());
  const unsigned char first[8] = {7, 0, 0, 0, 0, 0, 0x40, 0x42};  // 16960 = 0x4240
  for (int b = 0; b < 8; ++b) EXPECT_EQ(first[b], d.data[b]) << b;
  for (int i = 8; i < 512; ++i) EXPECT_EQ(0, d.data[i]) << i;
}

TEST_F(AtaDeviceTest, TrimOverflowLogsInternalError) {
  drive.trim = true;
  auto dev = MakeInit();
  CDevFile f;
  ASSERT_EQ(0, f.OpenFile(dev->major, dev->minor, dev->name.c_str(), 0));
  EXPECT_EQ(0, dev->Trim_helper_trim_range(f, 0, 0x3FF000 + 10));
  EXPECT_EQ(64u, drive.trimmed.size());
  EXPECT_TRUE(cap.Has("Internal error: virtual int CBlkDevAta::Trim_helper_trim_range(const CDevFile&, uint64_t, "
                      "unsigned int) const: number of sectors is overhead number of ranges wich can fit in one sector.",
                      "debug"));
}

TEST_F(AtaDeviceTest, TrimOverIdeRefused) {
  drive.trim = true;
  auto dev = MakeInit(CBlkDevAta::TRANSPORT_IDE);
  CDevFile f;
  ASSERT_EQ(0, f.OpenFile(dev->major, dev->minor, dev->name.c_str(), 0));
  size_t before = drive.log.size();
  EXPECT_EQ(-1, dev->Trim_helper_trim_range(f, 0, 100));
  EXPECT_EQ(before, drive.log.size());
  EXPECT_TRUE(cap.Has("sdz: Trim. RunAtaCommand failed. Code: -1", "debug"));
}

// ---- a whole session on one drive ----

TEST_F(AtaDeviceTest, HpaResetEraseStandbySequence) {
  drive.current_max = 999999;
  drive.trim = true;
  auto dev = MakeInit();
  ASSERT_EQ(0, dev->RunAndWait(dev->GetCommandById(BLKDEV_CMD_RESET_HPA)));
  ASSERT_EQ(0, dev->RunAndWait(dev->GetCommandById(BLKDEV_CMD_ATA_ERASE_ZERO)));
  CDevFile f;
  ASSERT_EQ(0, f.OpenFile(dev->major, dev->minor, dev->name.c_str(), 0));
  ASSERT_EQ(0, dev->Trim_helper_trim_range(f, 0, 1000));
  ASSERT_EQ(0, dev->RunAndWait(dev->GetCommandById(BLKDEV_CMD_STANDBY)));
  // The drive: whole surface visible, erased, no password left, spun down.
  EXPECT_EQ(drive.factory_max, drive.current_max);
  EXPECT_TRUE(drive.erased);
  EXPECT_FALSE(drive.sec_enabled);
  EXPECT_FALSE(drive.sec_locked);
  EXPECT_TRUE(drive.standby);
  EXPECT_EQ(1u, drive.trimmed.size());
  // The device: refreshed once (after the HPA reset), now needing a reboot.
  EXPECT_EQ(1, dev->refreshes);
  EXPECT_EQ(" REBOOT", dev->markers);
  EXPECT_EQ("Completed", [&] {
    std::string s;
    dev->GetCommandStatus(s);
    return s;
  }());
}
