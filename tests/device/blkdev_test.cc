// Device state, command table, device-node handles, partitions and sector
// reads, on a fake /dev and /sys/block tree.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <map>

#include "command/threaded_command.h"
#include "app/util.h"
#include "device/device_fixture.h"
#include "support/log_capture.h"

TEST(BlkDevTable, CommandNames) {
  EXPECT_STREQ(CBlkDev::GetCommandName(BLKDEV_CMD_REFRESH), "Refresh");
  EXPECT_STREQ(CBlkDev::GetCommandName(BLKDEV_CMD_SMART_CONVEYANCE), "Conveyance SMART test");
  EXPECT_STREQ(CBlkDev::GetCommandName(BLKDEV_CMD_ATA_ERASE_PATTERN), "ATA Erase [pattern]");
  EXPECT_STREQ(CBlkDev::GetCommandName(BLKDEV_CMD_TRIM), "TRIM");
  EXPECT_STREQ(CBlkDev::GetCommandName(BLKDEV_CMD_WIPE), "Wipe");
  EXPECT_STREQ(CBlkDev::GetCommandName(BLKDEV_CMD_WIPE_HW), "Wipe");
  EXPECT_STREQ(CBlkDev::GetCommandName(BLKDEV_CMD_REBOOT), "Reboot");
  EXPECT_STREQ(CBlkDev::GetCommandName(BLKDEV_CMD_UNLOCK), "Unlock disk");
  EXPECT_EQ(CBlkDev::GetCommandName(BLKDEV_CMD_DELAY), nullptr);
  EXPECT_EQ(CBlkDev::GetCommandName(BLKDEV_CMD_TERMINATOR), nullptr);
  EXPECT_EQ(CBlkDev::GetCommandName((blkdev_command_t)-1), nullptr);
}

TEST(BlkDevState, InitOffersTheWipeAndLogsTheDevice) {
  LogCapture logs;
  RecordingDev dev("zsa", 2000000000ULL);
  dev.model = "Model X";
  EXPECT_EQ(dev.Init(), 0);
  ASSERT_EQ(dev.commands.size(), 1u);
  EXPECT_EQ(dev.commands[0]->id, BLKDEV_CMD_WIPE);
  EXPECT_EQ(dev.commands[0]->GetName(), "Wipe");
  EXPECT_FALSE(dev.commands[0]->hidden);
  EXPECT_TRUE(dev.commands[0]->CanCancel());
  EXPECT_FALSE(dev.GetCommandById(BLKDEV_CMD_TRIM));
  EXPECT_TRUE(logs.Has("Disk-zsa: Model X, s/n: n/a device detected.", "wipe"));
  EXPECT_TRUE(logs.Has(std::string("Disk-zsa: ") + CSizeStr(2000000000ULL, 'A').c_str() + ", " +
                           CSizeStr(2000000000ULL, 'B').c_str(),
                       "wipe"));
  dev.serial = "S123";
  EXPECT_EQ(dev.Refresh(), 0);
  EXPECT_TRUE(logs.Has("Disk-zsa: Model X, s/n: S123 device detected."));
  EXPECT_EQ(dev.commands.size(), 1u);
  dev.ClearCommands();
  EXPECT_TRUE(dev.commands.empty());
}

TEST(BlkDevState, StatusText) {
  RecordingDev dev("zsb", 4096);
  std::string out = "untouched";
  EXPECT_EQ(dev.GetCommandStatus(out), 0);
  EXPECT_EQ(out, "untouched");
  EXPECT_FALSE(dev.IsCommandStatusChanged());
  dev.SetCommandStatus("Wiping");
  EXPECT_TRUE(dev.IsCommandStatusChanged());
  EXPECT_FALSE(dev.IsCommandStatusChanged());
  EXPECT_EQ(dev.GetCommandStatus(out), 1);
  EXPECT_EQ(out, "Wiping");
  EXPECT_EQ(dev.GetCommandStatus(out), 1);
  dev.SetCommandStatus(nullptr);
  EXPECT_EQ(dev.GetCommandStatus(out), 0);
  EXPECT_TRUE(dev.IsCommandStatusChanged());
}

TEST(BlkDevState, WipeSelection) {
  LogCapture logs;
  RecordingDev dev("zsc", 4096);
  EXPECT_EQ(dev.SetWiping(WIPING_SET), 0);
  EXPECT_EQ(dev.wipe_selected, 1);
  EXPECT_TRUE(logs.Has("zsc: set select for wipe flag: on", "debug"));
  EXPECT_STREQ(dev.GetWipingStatusString(), "WIPE");
  EXPECT_EQ(dev.SetWiping(WIPING_TOGGLE), 1);
  EXPECT_EQ(dev.wipe_selected, 0);
  EXPECT_TRUE(logs.Has("zsc: set select for wipe flag: off", "debug"));
  EXPECT_EQ(dev.SetWiping((wiping_command_e)5), 0);
  EXPECT_EQ(dev.wipe_selected, 1);
  EXPECT_EQ(dev.SetWiping(WIPING_CLEAR), 1);
  int saved = g_manual;
  g_manual = 0;
  EXPECT_STREQ(dev.GetWipingStatusString(), "----");
  g_manual = 1;
  EXPECT_STREQ(dev.GetWipingStatusString(), "    ");
  g_manual = saved;

  dev.log_device = 1;
  EXPECT_STREQ(dev.GetWipingStatusString(), "LOG ");
  EXPECT_EQ(dev.SetWiping(WIPING_SET), 0);
  EXPECT_EQ(dev.wipe_selected, 0);

  RecordingDev empty("zsd", 0);
  EXPECT_EQ(empty.SetWiping(WIPING_SET), 0);
  EXPECT_EQ(empty.wipe_selected, 0);
  EXPECT_TRUE(empty.CanBeWiped());
  empty.scsi_type = 5;
  EXPECT_FALSE(empty.CanBeWiped());
  EXPECT_FALSE(empty.SupportsHardwareWipe());
  EXPECT_FALSE(empty.NeedReboot());
}

TEST(BlkDevState, DisconnectAndReturn) {
  LogCapture logs;
  RecordingDev dev("zse", 4096);
  time_t before = time(nullptr);
  dev.SetDisconnectedFlag();
  EXPECT_EQ(dev.name, "");
  EXPECT_EQ(dev.disconnected, 1);
  EXPECT_GE(dev.disconnect_time, before);
  EXPECT_FALSE(dev.IsReady());
  EXPECT_TRUE(logs.Has(": not ready - device removed", "debug"));
  dev.ComeBackAfterDisconnect("zsf");
  EXPECT_EQ(dev.name, "zsf");
  EXPECT_EQ(dev.disconnected, 0);
  std::string st;
  ASSERT_EQ(dev.GetCommandStatus(st), 1);
  EXPECT_EQ(st, "The device was connected again.");
  EXPECT_TRUE(dev.IsReady());
}

TEST(BlkDevState, WipingStatusLine) {
  RecordingDev dev("zsg", 4096);
  char buf[256];
  EXPECT_EQ(dev.PrintWipingStatus(nullptr, 10), 0);
  snprintf(dev.progress_label, sizeof dev.progress_label, "Wiping %d/%d", 2, 3);
  dev.percent = 42.25;
  dev.speed = 1500000;
  dev.eta = 3725;
  std::string want = std::string("Wiping 2/3 42.2% ") + CSizeStr(1500000, 'A').c_str() + "/s ETA " + CTimeStr(3725).c_str();
  EXPECT_EQ(dev.PrintWipingStatus(buf, sizeof buf), (int)want.size());
  EXPECT_EQ(std::string(buf), want);
  // Truncated to the buffer; the full length is still returned.
  char small[8];
  EXPECT_EQ(dev.PrintWipingStatus(small, sizeof small), (int)want.size());
  EXPECT_EQ(std::string(small), want.substr(0, 7));
  // Fresh device: empty label, eta 10.
  RecordingDev fresh("zsh", 4096);
  fresh.PrintWipingStatus(buf, sizeof buf);
  EXPECT_EQ(std::string(buf), std::string(" 0.0% ") + CSizeStr(0, 'A').c_str() + "/s ETA 00:10");
}

class NodeTest : public ::testing::Test {
 protected:
  TempRoot root;
  LogCapture logs;
};

TEST_F(NodeTest, OpenModes) {
  root.MakeImage("zna", 8192, 0x10);
  CDevFile f;
  EXPECT_EQ(f.OpenFile(kUnusedMajor, 1, nullptr, 1), 1);
  struct {
    int mode;
    int access;
    int extra;
  } cases[] = {{0, O_RDONLY, O_NONBLOCK}, {1, O_RDONLY, 0}, {2, O_RDWR, 0}, {3, O_RDWR, O_DIRECT}, {4, O_RDWR, 0}};
  for (auto& c : cases) {
    ASSERT_EQ(f.OpenFile(kUnusedMajor, 1, "zna", c.mode), 0) << c.mode;
    int fl = fcntl(f.fd, F_GETFL);
    EXPECT_EQ(fl & O_ACCMODE, c.access) << c.mode;
    EXPECT_EQ(fl & (O_NONBLOCK | O_DIRECT), c.extra) << c.mode;
  }
  int fd = f.fd;
  f.Close();
  EXPECT_EQ(f.fd, -1);
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  {
    CDevFile g;
    ASSERT_EQ(g.OpenFile(kUnusedMajor, 1, "zna", 1), 0);
    fd = g.fd;
  }
  // Closed by the destructor.
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
}

TEST_F(NodeTest, MissingNodeIsCreatedFromTheDeviceNumbers) {
  ASSERT_FALSE(major_is_registered(kUnusedMajor));
  CDevFile f;
  EXPECT_EQ(f.OpenFile(kUnusedMajor, 9, "znb", 0), 1);
  struct stat st;
  ASSERT_EQ(stat(root.Path("/dev/znb").c_str(), &st), 0);
  EXPECT_TRUE(S_ISBLK(st.st_mode));
  EXPECT_EQ(major(st.st_rdev), (unsigned)kUnusedMajor);
  EXPECT_EQ(minor(st.st_rdev), 9u);
  // Nothing answers behind that number.
  EXPECT_TRUE(logs.Has("Could not open device file '" + root.Path("/dev/znb") + "': " + strerror(ENXIO), "debug"));
}

TEST_F(NodeTest, ReadSectorAndPing) {
  std::string data(4 * 512, 0);
  for (size_t i = 0; i < data.size(); ++i) data[i] = (char)(i / 512 + 1);
  root.WriteFile("/dev/znc", data);
  RecordingDev dev("znc", data.size());
  unsigned char buf[512];
  EXPECT_EQ(dev.ReadSector(2, buf), 0);
  for (int i = 0; i < 512; ++i) ASSERT_EQ(buf[i], 3);
  EXPECT_EQ(dev.ReadSector(0, buf), 0);
  EXPECT_EQ(buf[0], 1);
  EXPECT_EQ(dev.Ping(), 0);
  EXPECT_EQ(dev.ReadSector(4, buf), -1);  // past the end
  EXPECT_EQ(dev.ReadSector(0, nullptr), -1);
  // A read that does not fill the sector.
  root.WriteFile("/dev/znd", std::string(700, 'x'));
  RecordingDev half("znd", 700);
  EXPECT_EQ(half.ReadSector(1, buf), -1);
  EXPECT_EQ(half.ReadSector(0, buf), 0);
  RecordingDev gone("zne", 4096);
  EXPECT_EQ(gone.ReadSector(0, buf), -1);
  EXPECT_EQ(gone.Ping(), -1);
}

class PartitionTest : public NodeTest {
 protected:
  void Part(const std::string& dev, const std::string& part, const char* size, const char* devnum) {
    root.MakeDir("/sys/block/" + dev + "/" + part);
    if (size) root.WriteFile("/sys/block/" + dev + "/" + part + "/size", size);
    if (devnum) root.WriteFile("/sys/block/" + dev + "/" + part + "/dev", devnum);
  }
};

TEST_F(PartitionTest, ScansTheSysfsEntries) {
  ASSERT_FALSE(major_is_registered(kUnusedMajor));
  root.MakeDir("/sys/block/zpa");
  root.WriteFile("/sys/block/zpa/size", "100000\n");
  root.WriteFile("/sys/block/zpa/dev", "241:0\n");
  root.MakeDir("/sys/block/zpa/queue");
  // zpa1: node present (an image file); zpa3: node missing, so it is created
  // from 241:3; zpa12: size unreadable; zpa7: no size file.
  Part("zpa", "zpa1", "2048\n", "241:1\n");
  root.MakeImage("zpa1", 4096, 0);
  Part("zpa", "zpa3", "4096\n", "241:3\n");
  Part("zpa", "zpa12", "garbage\n", nullptr);
  Part("zpa", "zpa7", nullptr, nullptr);
  RecordingDev dev("zpa", 100000 * 512ULL);
  dev.ScanPartitions();
  ASSERT_EQ(dev.partitions.size(), 4u);
  std::map<int64_t, uint64_t> found;
  for (auto& p : dev.partitions) found[p.number] = p.size;
  EXPECT_EQ(found[1], 2048u * 512);
  EXPECT_EQ(found[3], 4096u * 512);
  EXPECT_EQ(found[12], 0u);
  EXPECT_EQ(found[7], 0u);
  EXPECT_TRUE(logs.Has("zpa: Scanning partitions", "debug"));
  EXPECT_TRUE(logs.Has("zpa: Found partition #1 size: 1048576", "debug"));
  EXPECT_TRUE(logs.Has("zpa: Found partition #3 size: 2097152", "debug"));
  EXPECT_EQ(logs.Count("zpa: Scanning partitions failed: unable to read partition size", "debug"), 1);
  EXPECT_TRUE(logs.Has("zpa: Scanning complete", "debug"));
  struct stat st;
  ASSERT_EQ(stat(root.Path("/dev/zpa3").c_str(), &st), 0);
  EXPECT_TRUE(S_ISBLK(st.st_mode));
  EXPECT_EQ(st.st_rdev, makedev(241, 3));
  EXPECT_NE(stat(root.Path("/dev/zpa12").c_str(), &st), 0);
  // The scan appends.
  dev.ScanPartitions();
  EXPECT_EQ(dev.partitions.size(), 8u);
}

TEST_F(PartitionTest, MmcStyleNamesAndEmptyDevices) {
  root.MakeDir("/sys/block/zmmc0");
  Part("zmmc0", "zmmc0p1", "10\n", nullptr);
  RecordingDev dev("zmmc0", 4096);
  dev.ScanPartitions();
  ASSERT_EQ(dev.partitions.size(), 1u);
  EXPECT_EQ(dev.partitions[0].number, 0);
  EXPECT_EQ(dev.partitions[0].size, 5120u);

  root.MakeDir("/sys/block/zpb");
  root.WriteFile("/sys/block/zpb/size", "8\n");
  RecordingDev plain("zpb", 4096);
  plain.ScanPartitions();
  EXPECT_TRUE(plain.partitions.empty());
  EXPECT_TRUE(logs.Has("zpb: Scanning partitions"));
  EXPECT_TRUE(logs.Has("zpb: Scanning complete"));

  RecordingDev detached("zpc", 4096);
  detached.ScanPartitions();
  EXPECT_TRUE(logs.Has("zpc: Scanning partitions failed: device detached", "debug"));
}

TEST_F(PartitionTest, NotScannedWithoutMajorOrWithShortName) {
  root.MakeDir("/sys/block/zpd");
  Part("zpd", "zpd1", "10\n", nullptr);
  RecordingDev nomajor("zpd", 4096);
  nomajor.major = 0;
  nomajor.ScanPartitions();
  RecordingDev shortname("z", 4096);
  shortname.ScanPartitions();
  EXPECT_TRUE(nomajor.partitions.empty());
  EXPECT_TRUE(logs.Lines().empty() || !logs.Has("Scanning"));
}
