// Initialisation of an ATA device from a software drive: descriptive fields,
// feature text, markers and the commands it offers.
#include <gtest/gtest.h>

#include "app/util.h"
#include "ata/ata_blocks.h"
#include "ata_device_fixture.h"

TEST_F(AtaDeviceTest, PlainDrive) {
  auto dev = MakeInit();
  EXPECT_EQ("ZV Test Drive 1000 7200RPM", dev->model);
  EXPECT_EQ("ZV0001 firmware: 1.02", dev->serial);
  EXPECT_EQ(2000000u, dev->size_sectors);
  EXPECT_EQ(1024000000u, dev->size_bytes);
  EXPECT_EQ(1024000000u, dev->kernel_size);
  EXPECT_EQ(1024000000u, dev->full_size_bytes);
  EXPECT_EQ(1024000000u, dev->hpa_size);
  EXPECT_EQ(1024000000u, dev->dco_size);
  EXPECT_EQ(0, dev->packet);
  EXPECT_EQ(2, dev->lba_level);
  EXPECT_EQ("", dev->markers);
  EXPECT_FALSE(dev->NeedReboot());
  EXPECT_TRUE(dev->SupportsHardwareWipe());
  std::vector<std::string> want = {"Wipe", "Wipe", "Standby", "ATA Erase [zero]", "ATA Erase [pattern]"};
  EXPECT_EQ(want, dev->CommandNames());
  EXPECT_FALSE(dev->commands[0]->hidden);
  EXPECT_TRUE(dev->commands[1]->hidden);
  EXPECT_EQ(BLKDEV_CMD_WIPE_HW, dev->commands[1]->id);
  EXPECT_EQ(BLKDEV_CMD_STANDBY, dev->commands[2]->id);
  EXPECT_EQ(BLKDEV_CMD_ATA_ERASE_ZERO, dev->commands[3]->id);
  EXPECT_EQ(BLKDEV_CMD_ATA_ERASE_PATTERN, dev->commands[4]->id);
  std::vector<std::string> details = {"Features: SATA-2 ATA8-ACS rev. 4 LBA48 SMART ERASE DCO HPA ",
                                      "S.M.A.R.T. status OK", "ATA ERASE time: 60min [zeroes] 120min [pattern] "};
  EXPECT_EQ(details, dev->details);
  EXPECT_TRUE(cap.Has("Disk-sdz: ZV Test Drive 1000 7200RPM, s/n: ZV0001 firmware: 1.02 ata device detected.", "wipe"));
  EXPECT_TRUE(cap.Has(std::string("Disk-sdz: ") + CSizeStr(1024000000, 'A').c_str() + ", 1024000000 Bytes", "wipe"));
  EXPECT_TRUE(cap.Has("Disk-sdz: SATA-2 ATA8-ACS rev. 4 LBA48 SMART ERASE DCO HPA ", "wipe"));
  EXPECT_TRUE(cap.Has("sdz: HPA support level: 2", "debug"));
  EXPECT_TRUE(cap.Has("sdz: DCO support level: 2", "debug"));
  EXPECT_TRUE(cap.Has("sdz: security level=2", "debug"));
  EXPECT_FALSE(cap.Has("Size mismatch"));
  // IDENTIFY, READ NATIVE MAX EXT, DCO IDENTIFY, SMART RETURN STATUS, SMART READ DATA.
  std::vector<uint8_t> cmds = {0xEC, 0x27, 0xB1, 0xB0, 0xB0};
  EXPECT_EQ(cmds, drive.Commands());
  EXPECT_EQ(0xDA, drive.log[3].feature);
  EXPECT_EQ(0xD0, drive.log[4].feature);
}

TEST_F(AtaDeviceTest, RefreshIsQuietAndRebuilds) {
  auto dev = MakeInit();
  cap.Clear();
  dev->markers = "junk";
  dev->details.push_back("junk");
  EXPECT_EQ(0, dev->Refresh());
  EXPECT_EQ("", dev->markers);
  EXPECT_EQ(3u, dev->details.size());
  EXPECT_EQ(5u, dev->commands.size());
  EXPECT_FALSE(cap.Has("ata device detected"));
  EXPECT_EQ("ZV Test Drive 1000 7200RPM", dev->model);
}

TEST_F(AtaDeviceTest, RotationRate) {
  drive.rotation = 1;
  auto dev = MakeInit();
  EXPECT_EQ("ZV Test Drive 1000 SSD", dev->model);
  drive.rotation = 0;
  auto dev2 = MakeInit();
  EXPECT_EQ("ZV Test Drive 1000", dev2->model);
}

TEST_F(AtaDeviceTest, NoSerialShowsNa) {
  drive.serial = "";
  drive.firmware = "";
  drive.word_overrides[10] = 0;  // serial absent
  drive.word_overrides[23] = 0;  // firmware absent
  auto dev = Make();
  dev->serial = "";
  ASSERT_EQ(0, dev->Init());
  EXPECT_EQ("", dev->serial);
  EXPECT_TRUE(cap.Has("s/n: n/a ata device detected.", "wipe"));
}

TEST_F(AtaDeviceTest, PacketOnlyDrive) {
  drive.packet_only = true;
  auto dev = MakeInit();
  EXPECT_EQ(1, dev->packet);
  std::vector<uint8_t> first = {drive.log[0].command, drive.log[1].command};
  EXPECT_EQ((std::vector<uint8_t>{0xEC, 0xA1}), first);
}

TEST_F(AtaDeviceTest, IdentifyFailsReturnsTransportCode) {
  drive.identify_fails = true;
  auto dev = Make();
  EXPECT_EQ(5, dev->Init());
  EXPECT_EQ((std::vector<std::string>{"Wipe", "Wipe", "Standby"}), dev->CommandNames());
}

TEST_F(AtaDeviceTest, BadChecksumFails) {
  drive.bad_checksum = true;
  auto dev = Make();
  EXPECT_EQ(-1, dev->Init());
  EXPECT_TRUE(cap.Has("ATA IDENTITY checksum failed.", "debug"));
}

TEST_F(AtaDeviceTest, NoNameOrNode) {
  auto dev = Make();
  dev->name = "";
  EXPECT_EQ(-1, dev->Init());
  EXPECT_TRUE(drive.log.empty());
  dev->name = "missing/sdq";  // no such directory: the node cannot be made
  EXPECT_EQ(-1, dev->Init());
  EXPECT_TRUE(cap.Has("Could not open device file '" + dir + "/dev/missing/sdq': ", "debug"));
  EXPECT_TRUE(drive.log.empty());
}

TEST_F(AtaDeviceTest, KernelSizeUnknown) {
  drive.blkgetsize_fails = true;
  auto dev = MakeInit();
  EXPECT_EQ(0u, dev->kernel_size);
  EXPECT_TRUE(cap.Has("sdz: BLKGETSIZE64 failed. Code: -1", "debug"));
  EXPECT_TRUE(cap.Has("sdz: Size mismatch blk=1024000000, drv=0 - reboot required", "debug"));
  EXPECT_TRUE(dev->NeedReboot());
  EXPECT_EQ(" REBOOT", dev->markers);
  EXPECT_TRUE(cap.Has("Disk-sdz: Reboot required", "wipe"));
}

TEST_F(AtaDeviceTest, SizeFallsBackToKernel) {
  drive.lba48 = false;
  drive.word_overrides[60] = 0;
  drive.word_overrides[61] = 0;
  drive.word_overrides[1] = 0;
  drive.kernel_size = 4096 * 512;
  auto dev = MakeInit();
  EXPECT_EQ(0u, dev->size_sectors);
  EXPECT_EQ(4096u * 512u, dev->size_bytes);
}

TEST_F(AtaDeviceTest, LockedDrive) {
  drive.SetPassword(ATA_PASSWORD_BYTE);
  drive.sec_locked = true;
  auto dev = MakeInit();
  EXPECT_EQ(" LCK", dev->markers);
  EXPECT_TRUE(dev->Offers("Unlock disk"));
  EXPECT_FALSE(dev->Offers("ATA Erase [zero]"));
  EXPECT_FALSE(dev->Offers("ATA Erase [pattern]"));
  EXPECT_FALSE(dev->SupportsHardwareWipe());
  EXPECT_TRUE(dev->HasDetail("ATA ERASE time: 60min [zeroes] 120min [pattern]  LOCKED"));
  EXPECT_TRUE(cap.Has("Disk-sdz: Device locked", "wipe"));
  EXPECT_TRUE(cap.Has("sdz: security level=-2", "debug"));
  EXPECT_TRUE(dev->details[0].find(" ERASE ") != std::string::npos);
  EXPECT_FALSE(cap.Has("blocked by BIOS"));

  // "Unlock disk" opens the drive, removes the password and refreshes.
  drive.log.clear();
  ASSERT_EQ(0, dev->RunAndWait(dev->GetCommandById(BLKDEV_CMD_UNLOCK)));
  EXPECT_FALSE(drive.sec_locked);
  EXPECT_FALSE(drive.sec_enabled);
  EXPECT_EQ(0xF2, drive.log[0].command);
  EXPECT_EQ(0xF6, drive.log[1].command);
  EXPECT_EQ(0x00, drive.log[0].data[0]);
  EXPECT_EQ(1, dev->refreshes);
  EXPECT_EQ("", dev->markers);
  EXPECT_TRUE(dev->Offers("ATA Erase [zero]"));
  EXPECT_FALSE(dev->Offers("Unlock disk"));
  EXPECT_TRUE(cap.Has("sdz: Lock disk successful", "debug"));
}

TEST_F(AtaDeviceTest, UnlockWithForeignPasswordFails) {
  drive.SetPassword(0x11);
  drive.sec_locked = true;
  auto dev = MakeInit();
  EXPECT_EQ(5, CBlkDevAta::CmdUnlockDisk(dev.get(), 0));
  EXPECT_TRUE(cap.Has("sdz: Lock disk. Command failed. Code: 5", "debug"));
  EXPECT_TRUE(drive.sec_locked);
  EXPECT_FALSE(dev->PendingRefresh());
  EXPECT_EQ(1, drive.unlock_attempts);
  EXPECT_EQ(-1, CBlkDevAta::CmdUnlockDisk(nullptr, 0));
}

TEST_F(AtaDeviceTest, FrozenDrive) {
  drive.sec_frozen = true;
  auto dev = MakeInit();
  EXPECT_TRUE(cap.Has("Disk-sdz: ATA ERASE command is blocked by BIOS", "wipe"));
  EXPECT_EQ("", dev->markers);
  EXPECT_FALSE(dev->Offers("ATA Erase [zero]"));
  EXPECT_FALSE(dev->Offers("ATA Erase [pattern]"));
  EXPECT_FALSE(dev->Offers("Unlock disk"));
  EXPECT_TRUE(dev->HasDetail("ATA ERASE time: 60min [zeroes] 120min [pattern]  FROZEN"));
  // Not logged again on a quiet refresh.
  cap.Clear();
  dev->Refresh();
  EXPECT_FALSE(cap.Has("blocked by BIOS"));
}

TEST_F(AtaDeviceTest, EraseDisabledAndSingleVariant) {
  drive.erase_normal = 0;
  drive.erase_enhanced = 0;
  auto dev = MakeInit();
  EXPECT_TRUE(dev->HasDetail("ATA ERASE disabled"));
  EXPECT_FALSE(dev->SupportsHardwareWipe());
  drive.erase_enhanced = 15;
  dev->Refresh();
  EXPECT_TRUE(dev->HasDetail("ATA ERASE time: 30min [pattern] "));
  EXPECT_FALSE(dev->Offers("ATA Erase [zero]"));
  EXPECT_TRUE(dev->Offers("ATA Erase [pattern]"));
  EXPECT_TRUE(dev->SupportsHardwareWipe());
}

TEST_F(AtaDeviceTest, NoSecurityNoEraseLine) {
  drive.security_supported = false;
  auto dev = MakeInit();
  EXPECT_EQ(2u, dev->details.size());
  EXPECT_TRUE(dev->details[0].find("ERASE") == std::string::npos);
  EXPECT_TRUE(cap.Has("sdz: security level=0", "debug"));
}

TEST_F(AtaDeviceTest, HpaDetectedThenReset) {
  drive.current_max = 999999;  // half of the drive hidden
  auto dev = MakeInit();
  EXPECT_EQ(512000000u, dev->size_bytes);
  EXPECT_EQ(1024000000u, dev->hpa_size);
  EXPECT_EQ(1024000000u, dev->full_size_bytes);
  EXPECT_EQ(" HPA", dev->markers);
  EXPECT_TRUE(cap.Has("Disk-sdz: Host Protected Area (HPA) detected", "wipe"));
  EXPECT_TRUE(dev->Offers("Reset HPA"));
  EXPECT_FALSE(dev->Offers("Reset DCO"));  // DCO max is not above the HPA
  EXPECT_FALSE(dev->Offers("Set HPA"));

  EXPECT_EQ(0, dev->PreWipe());
  EXPECT_TRUE(cap.Has(std::string("Disk-sdz: HPA reserved ") + CSizeStr(512000000, 'A').c_str() +
                          " (50%) will not be wiped",
                      "wipe"));
  EXPECT_FALSE(cap.Has("DCO reserved"));

  drive.log.clear();
  ASSERT_EQ(0, dev->RunAndWait(dev->GetCommandById(BLKDEV_CMD_RESET_HPA)));
  EXPECT_EQ(1999999u, drive.current_max);
  EXPECT_TRUE(drive.hpa_persistent);
  ASSERT_GE(drive.log.size(), 2u);
  EXPECT_EQ(0x27, drive.log[0].command);
  EXPECT_EQ(0x40, drive.log[0].device);
  EXPECT_EQ(0x37, drive.log[1].command);
  EXPECT_EQ(1999999u, drive.log[1].lba);
  EXPECT_EQ(0x40, drive.log[1].device);
  EXPECT_EQ(1, drive.log[1].count);
  EXPECT_TRUE(cap.Has("Disk-sdz: HPA reset successfully", "wipe"));
  EXPECT_TRUE(cap.Has("sdz: ResetHPA OK.", "debug"));

  // The refresh after the command sees the full size; the kernel does not yet.
  EXPECT_EQ(1, dev->refreshes);
  EXPECT_EQ(1024000000u, dev->size_bytes);
  EXPECT_EQ(512000000u, dev->kernel_size);
  EXPECT_EQ(" REBOOT", dev->markers);
  EXPECT_TRUE(dev->NeedReboot());
  EXPECT_FALSE(dev->Offers("Reset HPA"));
  cap.Clear();
  dev->PreWipe();
  EXPECT_FALSE(cap.Has("reserved"));
}

TEST_F(AtaDeviceTest, PreWipeWholePercent) {
  auto dev = Make();
  dev->size_bytes = 99000000000ULL;
  dev->hpa_size = 100000000000ULL;
  dev->full_size_bytes = 100000000000ULL;
  dev->PreWipe();
  EXPECT_TRUE(cap.Has("Disk-sdz: HPA reserved 1000.0 MB (1%) will not be wiped", "wipe"));
}

TEST_F(AtaDeviceTest, DcoDetectedThenReset) {
  drive.dco_max = drive.native_max = drive.current_max = 1499999;
  auto dev = MakeInit();
  EXPECT_EQ(768000000u, dev->size_bytes);
  EXPECT_EQ(768000000u, dev->hpa_size);
  EXPECT_EQ(1024000000u, dev->dco_size);
  EXPECT_EQ(1024000000u, dev->full_size_bytes);
  EXPECT_EQ(" DCO", dev->markers);
  EXPECT_TRUE(cap.Has("Disk-sdz: Device Configuration Overlay (DCO) detected", "wipe"));
  EXPECT_TRUE(dev->Offers("Reset DCO"));
  EXPECT_FALSE(dev->Offers("Reset HPA"));
  dev->PreWipe();
  EXPECT_TRUE(cap.Has(std::string("Disk-sdz: DCO reserved ") + CSizeStr(256000000, 'A').c_str() +
                          " (25%) will not be wiped",
                      "wipe"));

  ASSERT_EQ(0, dev->RunAndWait(dev->GetCommandById(BLKDEV_CMD_RESET_DCO)));
  EXPECT_EQ(1999999u, drive.current_max);
  EXPECT_TRUE(cap.Has("Disk-sdz: DCO reset successfully", "wipe"));
  EXPECT_TRUE(cap.Has("sdz: ResetDCO OK.", "debug"));
  EXPECT_EQ(1, dev->refreshes);
  EXPECT_EQ(1024000000u, dev->size_bytes);
  EXPECT_EQ(" REBOOT", dev->markers);
  EXPECT_FALSE(dev->Offers("Reset DCO"));
}

TEST_F(AtaDeviceTest, HpaAndDcoTogether) {
  drive.dco_max = drive.native_max = 1499999;
  drive.current_max = 999999;
  auto dev = MakeInit();
  EXPECT_EQ(" HPA DCO", dev->markers);
  EXPECT_TRUE(dev->Offers("Reset HPA"));
  EXPECT_TRUE(dev->Offers("Reset DCO"));
  dev->PreWipe();
  EXPECT_TRUE(cap.Has("HPA reserved " + std::string(CSizeStr(256000000, 'A').c_str()) + " (25%)", "wipe"));
  EXPECT_TRUE(cap.Has("DCO reserved " + std::string(CSizeStr(256000000, 'A').c_str()) + " (25%)", "wipe"));
  // The drive refuses to restore the DCO while an HPA is set.
  EXPECT_EQ(5, dev->ResetDCO(0));
  EXPECT_EQ(0, dev->ResetHPA(1));
  EXPECT_EQ(0, dev->ResetDCO(0));
  EXPECT_EQ(1999999u, drive.current_max);
}

TEST_F(AtaDeviceTest, DebugLevelOffersSetCommands) {
  g_debuglevel = 1;
  auto dev = MakeInit();
  std::vector<std::string> want = {"Wipe",      "Wipe",      "Standby",          "Set HPA",
                                   "Reset HPA", "Set DCO",   "Reset DCO",        "ATA Erase [zero]",
                                   "ATA Erase [pattern]"};
  EXPECT_EQ(want, dev->CommandNames());
  EXPECT_EQ(BLKDEV_CMD_SET_HPA, dev->commands[3]->id);
  EXPECT_EQ(BLKDEV_CMD_SET_DCO, dev->commands[5]->id);
}

TEST_F(AtaDeviceTest, NoHpaFeatureKeepsSizes) {
  drive.hpa_supported = false;
  drive.dco_supported = false;
  auto dev = MakeInit();
  EXPECT_EQ(0u, dev->hpa_size);
  EXPECT_EQ(0u, dev->dco_size);
  EXPECT_EQ(0, drive.CountCommand(0x27));
  EXPECT_EQ(0, drive.CountCommand(0xB1));
  EXPECT_EQ("Features: SATA-2 ATA8-ACS rev. 4 LBA48 SMART ERASE ", dev->details[0]);
}

TEST_F(AtaDeviceTest, TrimAndSanitizeFeatures) {
  drive.trim = true;
  drive.sanitize = true;
  auto dev = MakeInit();
  EXPECT_EQ("Features: SATA-2 ATA8-ACS rev. 4 LBA48 SMART ERASE DCO HPA TRIM SANITIZE ", dev->details[0]);
  auto trim = dev->GetCommandById(BLKDEV_CMD_TRIM);
  ASSERT_TRUE((bool)trim);
  EXPECT_EQ("Trim", trim->GetName());
  EXPECT_EQ("Trim", dev->commands[3]->GetName());  // registered with the feature text
}

TEST_F(AtaDeviceTest, IdeTransportInit) {
  auto dev = MakeInit(CBlkDevAta::TRANSPORT_IDE);
  EXPECT_EQ(model_command_t::HDIO, drive.log[0].transport);
  EXPECT_EQ("ZV Test Drive 1000 7200RPM", dev->model);
  EXPECT_EQ(1024000000u, dev->hpa_size);
}

TEST_F(AtaDeviceTest, ConstructionLines) {
  {
    auto a = Make(CBlkDevAta::TRANSPORT_SAT);
    auto b = Make(CBlkDevAta::TRANSPORT_IDE);
    EXPECT_NE(nullptr, dynamic_cast<CSgSatl*>(a->transport));
    EXPECT_NE(nullptr, dynamic_cast<CIdeTaskfile*>(b->transport));
  }
  EXPECT_TRUE(cap.Has("ATA-SAT device 0x", "debug"));
  EXPECT_TRUE(cap.Has("ATA-IDE device 0x", "debug"));
  EXPECT_TRUE(cap.Has(" cmd=0x", "debug"));
  EXPECT_EQ(2, cap.Count("Delete ATA device 0x", "debug"));
}
