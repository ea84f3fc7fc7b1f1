// Byte layouts of the register image, the SG_IO pass-through (16 and 12 byte),
// the IDE taskfile request, sense evaluation and failure lines.
#include <errno.h>
#include <gtest/gtest.h>
#include <linux/hdreg.h>
#include <scsi/sg.h>
#include <string.h>

#include "app/paths.h"
#include "ata/ata_blocks.h"
#include "ata/ata_data.h"
#include "ata/ata_info.h"
#include "ata/ata_transport.h"
#include "ata_drive_model.h"
#include "support/log_capture.h"

// ---- ata_data ----

TEST(AtaData, ConstructorsAndSmartSignature) {
  ata_data a;
  EXPECT_EQ(0, a.command);
  EXPECT_EQ(nullptr, a.buffer);
  ata_data b(0xEC);
  EXPECT_EQ(0xEC, b.command);
  EXPECT_EQ(0, b.lba[1]);
  ata_data s(0xB0);
  EXPECT_EQ(0xB0, s.command);
  EXPECT_EQ(0x4F, s.lba[1]);
  EXPECT_EQ(0xC2, s.lba[2]);
  EXPECT_TRUE(s.smart_ok());
  s.lba[1] = 0xF4;
  s.lba[2] = 0x2C;
  EXPECT_FALSE(s.smart_ok());
}

TEST(AtaData, Lba28ReplacesHead) {
  ata_data a;
  a.head = 0x40;
  a.lba[3] = a.lba[4] = a.lba[5] = 0x77;
  a.set_lba28(0x0FFFFFFF);
  EXPECT_EQ(0x0F, a.head);
  const uint8_t want[6] = {0xFF, 0xFF, 0xFF, 0, 0, 0};
  EXPECT_EQ(0, memcmp(want, a.lba, 6));
  EXPECT_EQ(0x0FFFFFFFu, a.lba28());
  a.set_lba28(0x01234567);
  EXPECT_EQ(0x01, a.head);
  EXPECT_EQ(0x67, a.lba[0]);
  EXPECT_EQ(0x45, a.lba[1]);
  EXPECT_EQ(0x23, a.lba[2]);
  EXPECT_EQ(0x01234567u, a.lba28());
}

TEST(AtaData, Lba48KeepsHead) {
  ata_data a;
  a.head = 0x40;
  a.set_lba48(0x0000BA9876543210ULL);
  EXPECT_EQ(0x40, a.head);
  const uint8_t want[6] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA};
  EXPECT_EQ(0, memcmp(want, a.lba, 6));
  EXPECT_EQ(0xBA9876543210ULL, a.lba48());
}

TEST(AtaData, DumpLine) {
  LogCapture cap;
  ata_data a(0x27);
  a.feature = 0x12;
  a.count = 0x03;
  a.head = 0x40;
  a.set_lba48(1000);
  a.dump();
  EXPECT_TRUE(cap.Has("CMD[FEA]=27[12] SEC=03 DAT=00 HEAD=40 LBA=0000000003E8 (1000)", "debug"));
}

// ---- SG_IO, 16-byte CDB, through the drive model ----

class SatTest : public ::testing::Test {
 protected:
  AtaDriveModel drive;
  AtaDriveScope scope{drive};
  CSgSatl sat;
};

TEST_F(SatTest, Identify16ByteLayout) {
  unsigned char buf[512];
  ASSERT_EQ(0, sat.Identify(3, buf, 0));
  ASSERT_EQ(1u, drive.log.size());
  const model_command_t& c = drive.log[0];
  EXPECT_EQ('S', c.interface_id);
  EXPECT_EQ(16, c.cdb_len);
  EXPECT_EQ(32, c.mx_sb_len);
  EXPECT_EQ(5000u, c.timeout_ms);
  EXPECT_EQ(SG_DXFER_FROM_DEV, c.dxfer_direction);
  EXPECT_EQ(512u, c.dxfer_len);
  const unsigned char want[16] = {0x85, 0x09, 0x2E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0};
  EXPECT_EQ(0, memcmp(want, c.cdb, 16));
  // Text fields come back in reading order.
  EXPECT_EQ(0, memcmp(buf + 54, "ZV Test Drive 1000", 18));
  EXPECT_EQ(0, memcmp(buf + 20, "ZV0001", 6));
}

TEST_F(SatTest, IdentifyPacketSendsA1) {
  drive.packet_only = true;
  unsigned char buf[512];
  EXPECT_NE(0, sat.Identify(3, buf, 0));
  EXPECT_EQ(0, sat.Identify(3, buf, 7));
  EXPECT_EQ(0xEC, drive.log[0].command);
  EXPECT_EQ(0xA1, drive.log[1].command);
  EXPECT_EQ(0x8580, buf[0] | buf[1] << 8);
}

TEST_F(SatTest, RegisterPlacement16) {
  ata_data a(0x37);
  a.feature = 0xA1B2;
  a.count = 0xC3D4;
  a.set_lba48(0x665544332211ULL);
  a.head = 0x1E0;
  ata_data b = a;
  sat.RunAtaCommand(3, &b, 30);
  const model_command_t& c = drive.log[0];
  const unsigned char want[16] = {0x85, 0x07, 0x20, 0xA1, 0xB2, 0xC3, 0xD4, 0x44, 0x11,
                                  0x55, 0x22, 0x66, 0x33, 0xE0, 0x37, 0};
  EXPECT_EQ(0, memcmp(want, c.cdb, 16));
  EXPECT_EQ(30000u, c.timeout_ms);
  EXPECT_EQ(SG_DXFER_NONE, c.dxfer_direction);
  EXPECT_EQ(0u, c.dxfer_len);
}

TEST_F(SatTest, DataOutDirections) {
  unsigned char blk[512];
  memset(blk, 0xAB, sizeof blk);
  ata_data pio(0xF1);
  pio.count = 1;
  pio.direction = 2;
  pio.out_size = 512;
  pio.buffer = blk;
  EXPECT_EQ(0, sat.RunAtaCommand(3, &pio, 0));
  EXPECT_EQ(0x0B, drive.log[0].cdb[1]);
  EXPECT_EQ(0x26, drive.log[0].cdb[2]);
  EXPECT_EQ(SG_DXFER_TO_DEV, drive.log[0].dxfer_direction);
  EXPECT_EQ(512u, drive.log[0].dxfer_len);
  EXPECT_EQ(std::vector<unsigned char>(blk, blk + 512), drive.log[0].data);

  drive.trim = true;
  unsigned char ranges[512];
  trim_fill_ranges(ranges, 0, 8, nullptr);
  ata_data dma(0x06);
  dma.feature = 1;
  dma.count = 1;
  dma.direction = 3;
  dma.out_size = 512;
  dma.buffer = ranges;
  EXPECT_EQ(0, sat.RunAtaCommand(3, &dma, 0));
  EXPECT_EQ(0x0D, drive.log[1].cdb[1]);
  EXPECT_EQ(0x26, drive.log[1].cdb[2]);
  ASSERT_EQ(1u, drive.trimmed.size());
  EXPECT_EQ(8u, drive.trimmed[0].second);
}

TEST_F(SatTest, BadDirectionsAndNullBufferRefusedWithoutIoctl) {
  ata_data a(0xF1);
  a.direction = 2;
  a.out_size = 512;
  EXPECT_EQ(-1, sat.RunAtaCommand(3, &a, 0));
  a.direction = 4;
  EXPECT_EQ(-1, sat.RunAtaCommand(3, &a, 0));
  a.direction = -1;
  EXPECT_EQ(-1, sat.RunAtaCommand(3, &a, 0));
  ata_data d(0x06);
  d.short_cdb = 1;
  d.direction = 3;
  EXPECT_EQ(-1, sat.RunAtaCommand(3, &d, 0));
  EXPECT_TRUE(drive.log.empty());
}

TEST_F(SatTest, ReadWithNullBufferSucceeds) {
  ata_data a(0xEC);
  a.count = 1;
  a.direction = 1;
  a.in_size = 512;
  EXPECT_EQ(0, sat.RunAtaCommand(3, &a, 0));
  EXPECT_EQ(1u, drive.log.size());
}

TEST_F(SatTest, CopyBackFromSense) {
  drive.native_max = 0x0000123456789AULL;
  ata_data a(0x27);
  a.head = 0x40;
  a.feature = 0x55;
  ASSERT_EQ(0, sat.RunAtaCommand(3, &a, 0));
  EXPECT_EQ(0x123456789AULL, a.lba48());
  EXPECT_EQ(0x40, a.head);
  EXPECT_EQ(0x55, a.feature);  // not returned over SAT
  EXPECT_EQ(0x27, a.command);
}

TEST(Sat12, ShortCdbLayout) {
  AtaDriveModel drive;
  AtaDriveScope scope(drive);
  CSgSatl sat;
  ata_data a(0xF9);
  a.short_cdb = 1;
  a.feature = 0x0102;
  a.count = 0x0304;
  a.set_lba28(0x0ABCDEF1);
  a.head |= 0x40;
  sat.RunAtaCommand(3, &a, 0);
  ASSERT_EQ(1u, drive.log.size());
  const model_command_t& c = drive.log[0];
  EXPECT_EQ(12, c.cdb_len);
  const unsigned char want[12] = {0xA1, 0x07, 0x20, 0x02, 0x04, 0xF1, 0xDE, 0xBC, 0x4A, 0xF9, 0, 0};
  EXPECT_EQ(0, memcmp(want, c.cdb, 12));

  unsigned char buf[512];
  ata_data r(0xEC);
  r.short_cdb = 1;
  r.count = 1;
  r.direction = 1;
  r.in_size = 512;
  r.buffer = buf;
  EXPECT_EQ(0, sat.RunAtaCommand(3, &r, 0));
  EXPECT_EQ(0x09, drive.log[1].cdb[1]);
  EXPECT_EQ(0x2E, drive.log[1].cdb[2]);
  EXPECT_EQ(SG_DXFER_FROM_DEV, drive.log[1].dxfer_direction);
}

// ---- sense evaluation with hand-made sense buffers ----

static unsigned char g_sense[32];
static int g_sg_calls;
static int sense_ioctl(int, unsigned long req, void* arg) {
  if (req != SG_IO) return -1;
  ++g_sg_calls;
  sg_io_hdr_t* h = static_cast<sg_io_hdr_t*>(arg);
  memcpy(h->sbp, g_sense, 32);
  return 0;
}

class SenseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = g_ioctl;
    g_ioctl = sense_ioctl;
    memset(g_sense, 0, sizeof g_sense);
    g_sg_calls = 0;
  }
  void TearDown() override { g_ioctl = saved; }
  void Valid() {
    g_sense[0] = 0x72;
    g_sense[7] = 14;
    g_sense[8] = 0x09;
    g_sense[9] = 0x0C;
    g_sense[21] = 0x50;
  }
  int Run(ata_data& a) {
    CSgSatl sat;
    return sat.RunAtaCommand(3, &a, 0);
  }
  ioctl_fn_t saved;
};

TEST_F(SenseTest, ValidDescriptorCopiesRegisters) {
  Valid();
  g_sense[13] = 0x11;
  g_sense[14] = 0x44;
  g_sense[15] = 0x01;
  g_sense[16] = 0x55;
  g_sense[17] = 0x02;
  g_sense[18] = 0x66;
  g_sense[19] = 0x03;
  g_sense[20] = 0xE0;
  ata_data a(0xE0);
  a.feature = 0x77;
  EXPECT_EQ(0, Run(a));
  EXPECT_EQ(0x11, a.count);
  EXPECT_EQ(0xE0, a.head);
  EXPECT_EQ(0x665544030201ULL, a.lba48());
  EXPECT_EQ(0x77, a.feature);
  EXPECT_EQ(0xE0, a.command);
}

TEST_F(SenseTest, AllZeroSenseIsProtocolError) {
  LogCapture cap;
  ata_data a(0xE0);
  a.count = 9;
  EXPECT_EQ(71, Run(a));
  EXPECT_EQ(9, a.count);  // nothing copied back
  std::string zeros;
  for (int i = 0; i < 22; ++i) zeros += " 00";
  EXPECT_TRUE(cap.Has("ATA16-SAT command (E0/00) bad sense: " + zeros, "lowlevel"));
  EXPECT_TRUE(cap.Has("ATA status: ERR=0 ABRT=0 IDNF=0 BSY=0 DRDY=0 SCNT=00 LBA0=00 LBA1=00 LBA2=00", "lowlevel"));
}

TEST_F(SenseTest, AbrtAndErr) {
  Valid();
  g_sense[11] = 0x04;
  ata_data a(0xF3);
  EXPECT_EQ(125, Run(a));
  g_sense[21] = 0x51;
  EXPECT_EQ(5, Run(a));
  // A broken descriptor with ERR set still reads as EIO.
  g_sense[0] = 0;
  g_sense[11] = 0;
  EXPECT_EQ(5, Run(a));
}

TEST_F(SenseTest, StatusLineFields) {
  LogCapture cap;
  Valid();
  g_sense[11] = 0x14;
  g_sense[21] = 0xD1;
  g_sense[13] = 0x2A;
  g_sense[15] = 0x01;
  g_sense[17] = 0x02;
  g_sense[19] = 0x03;
  ata_data a(0x37);
  a.feature = 0x0B;
  a.short_cdb = 1;
  EXPECT_EQ(5, Run(a));
  EXPECT_TRUE(cap.Has("ATA12-SAT command (37/0B) bad sense:  72 00", "lowlevel"));
  EXPECT_TRUE(cap.Has("ATA status: ERR=1 ABRT=1 IDNF=1 BSY=1 DRDY=1 SCNT=2A LBA0=01 LBA1=02 LBA2=03", "lowlevel"));
}

TEST(SatFailure, IoctlFailureLogsAndKeepsRecord) {
  LogCapture cap;
  AtaDriveModel drive;
  drive.sat_mode = AtaDriveModel::SAT_IOCTL_FAILS;
  AtaDriveScope scope(drive);
  CSgSatl sat;
  unsigned char buf[512];
  memset(buf, 0xEE, sizeof buf);
  ata_data a(0xEC);
  a.count = 1;
  a.direction = 1;
  a.in_size = 512;
  a.buffer = buf;
  EXPECT_EQ(-1, sat.RunAtaCommand(3, &a, 0));
  EXPECT_EQ(1, a.count);
  EXPECT_EQ(0xEE, buf[0]);
  EXPECT_TRUE(cap.Has(std::string("ATA16-SAT command (EC/00) failed. ") + strerror(EINVAL) + ".", "lowlevel"));
}

// ---- IDE taskfile ----

TEST(IdeTaskfile, RegistersAndPhases) {
  AtaDriveModel drive;
  AtaDriveScope scope(drive);
  CIdeTaskfile ide;
  ata_data a(0x37);
  a.data = 0x1122;
  a.feature = 0x3344;
  a.count = 0x5566;
  a.set_lba48(0xAABBCCDDEEFFULL);
  a.head = 0x7740;
  ide.RunAtaCommand(3, &a, 99);
  const model_command_t& c = drive.log[0];
  const unsigned char io[8] = {0x22, 0x44, 0x66, 0xFF, 0xEE, 0xDD, 0x40, 0x37};
  const unsigned char hob[8] = {0x11, 0x33, 0x55, 0xCC, 0xBB, 0xAA, 0x77, 0x00};
  EXPECT_EQ(0, memcmp(io, c.io_ports, 8));
  EXPECT_EQ(0, memcmp(hob, c.hob_ports, 8));
  EXPECT_EQ(TASKFILE_IN, c.data_phase);
  EXPECT_EQ(IDE_DRIVE_TASK_NO_DATA, c.req_cmd);

  unsigned char buf[512];
  ASSERT_EQ(0, ide.Identify(3, buf, 0));
  EXPECT_EQ(TASKFILE_IN, drive.log[1].data_phase);
  EXPECT_EQ(IDE_DRIVE_TASK_IN, drive.log[1].req_cmd);
  EXPECT_EQ(512u, drive.log[1].hdio_in_size);
  EXPECT_EQ(0, memcmp(buf + 54, "ZV Test Drive 1000", 18));

  unsigned char blk[512];
  ata_build_password_block(blk, false);
  ata_data w(0xF1);
  w.count = 1;
  w.direction = 2;
  w.out_size = 512;
  w.buffer = blk;
  EXPECT_EQ(0, ide.RunAtaCommand(3, &w, 0));
  EXPECT_EQ(TASKFILE_OUT, drive.log[2].data_phase);
  EXPECT_EQ(IDE_DRIVE_TASK_OUT, drive.log[2].req_cmd);
  EXPECT_EQ(512u, drive.log[2].hdio_out_size);
  EXPECT_EQ(std::vector<unsigned char>(blk, blk + 512), drive.log[2].data);
  EXPECT_TRUE(drive.sec_enabled);
}

TEST(IdeTaskfile, CopyBackIncludesStatusAndError) {
  AtaDriveModel drive;
  drive.native_max = 0x0ABCDEF;
  AtaDriveScope scope(drive);
  CIdeTaskfile ide;
  ata_data a(0xF8);
  a.head = 0x40;
  a.feature = 0x99;
  ASSERT_EQ(0, ide.RunAtaCommand(3, &a, 0));
  EXPECT_EQ(0x0ABCDEFu, a.lba28());
  EXPECT_EQ(0x50, a.command);  // STATUS
  EXPECT_EQ(0x00, a.feature);  // ERROR
}

TEST(IdeTaskfile, RefusesDmaAndNullWrite) {
  AtaDriveModel drive;
  AtaDriveScope scope(drive);
  CIdeTaskfile ide;
  ata_data d(0x06);
  d.direction = 3;
  d.out_size = 512;
  unsigned char blk[512] = {0};
  d.buffer = blk;
  EXPECT_EQ(-1, ide.RunAtaCommand(3, &d, 0));
  ata_data w(0xF1);
  w.direction = 2;
  w.out_size = 512;
  EXPECT_EQ(-1, ide.RunAtaCommand(3, &w, 0));
  EXPECT_TRUE(drive.log.empty());
}

TEST(IdeTaskfile, FailureLinesFromIoPorts) {
  LogCapture cap;
  AtaDriveModel drive;
  AtaDriveScope scope(drive);
  CIdeTaskfile ide;
  ata_data a(0xF3);
  drive.Fail(0xF3);
  a.count = 4;
  EXPECT_EQ(-1, ide.RunAtaCommand(3, &a, 0));
  EXPECT_EQ(4, a.count);
  EXPECT_EQ(0xF3, a.command);
  EXPECT_TRUE(cap.Has(std::string("ATA-HDIO command (F3/00) failed. ") + strerror(EIO) + ".", "lowlevel"));
  EXPECT_TRUE(cap.Has("ATA status: ERR=1 ABRT=1 IDNF=0 BSY=0 DRDY=1 SCNT=04", "lowlevel"));
}

// ---- probing ----

TEST(Probe, SatFirstThenIde) {
  AtaDriveModel drive;
  AtaDriveScope scope(drive);
  EXPECT_EQ(ATA_PROBE_SAT, ata_probe_transport(3));
  ASSERT_EQ(1u, drive.log.size());
  EXPECT_EQ(model_command_t::SAT16, drive.log[0].transport);
  EXPECT_EQ(0xEC, drive.log[0].command);
  EXPECT_EQ(1, drive.log[0].count);

  drive.log.clear();
  drive.sat_mode = AtaDriveModel::SAT_ZERO_SENSE;
  EXPECT_EQ(ATA_PROBE_IDE, ata_probe_transport(3));
  ASSERT_EQ(2u, drive.log.size());
  EXPECT_EQ(model_command_t::HDIO, drive.log[1].transport);

  drive.hdio_answers = false;
  EXPECT_EQ(ATA_PROBE_NONE, ata_probe_transport(3));
  EXPECT_NE(0, ata_probe_ide(3));
  drive.sat_mode = AtaDriveModel::SAT_ANSWER;
  EXPECT_EQ(0, ata_probe_satl(3));
}

// ---- data blocks ----

TEST(Blocks, FixIdentityStrings) {
  unsigned char b[512];
  for (int i = 0; i < 512; ++i) b[i] = (unsigned char)i;
  EXPECT_EQ(-1, FixIdentityStrings(nullptr));
  EXPECT_EQ(0, FixIdentityStrings(b));
  EXPECT_EQ(21, b[20]);
  EXPECT_EQ(20, b[21]);
  EXPECT_EQ(39, b[38]);  // word 19
  EXPECT_EQ(40, b[40]);  // words 20-22 untouched
  EXPECT_EQ(45, b[45]);
  EXPECT_EQ(47, b[46]);  // word 23
  EXPECT_EQ(93, b[92]);  // word 46
  EXPECT_EQ(94, b[94]);  // word 47 untouched
  EXPECT_EQ(19, b[19]);
}

TEST(Blocks, DcoChecksumAndMaxLba) {
  AtaDriveModel drive;
  std::vector<unsigned char> d = drive.DcoBlock();
  EXPECT_EQ(0u, ata_sector_sum(d.data()));
  EXPECT_EQ(drive.factory_max, dco_get_max_lba(d.data()));
  std::vector<unsigned char> before = d;
  dco_set_max_lba(d.data(), 0x0102030405ULL);
  EXPECT_EQ(0x0102030405ULL, dco_get_max_lba(d.data()));
  EXPECT_EQ(0x05, d[6]);
  EXPECT_EQ(0x01, d[10]);
  EXPECT_EQ(0x00, d[13]);
  EXPECT_EQ(0u, ata_sector_sum(d.data()));
  for (int i = 0; i < 511; ++i) {
    if (i < 6 || i > 13) {
      EXPECT_EQ(before[(size_t)i], d[(size_t)i]) << i;
    }
  }
}

TEST(Blocks, PasswordBlockControlWord) {
  unsigned char b[512];
  memset(b, 0xFF, sizeof b);
  ata_build_password_block(b, false);
  EXPECT_EQ(0x00, b[0]);
  EXPECT_EQ(0x00, b[1]);
  for (int i = 2; i < 34; ++i) EXPECT_EQ(ATA_PASSWORD_BYTE, b[i]);
  for (int i = 34; i < 512; ++i) EXPECT_EQ(0, b[i]);
  ata_build_password_block(b, true);
  EXPECT_EQ(0x02, b[0]);
  EXPECT_EQ(0x00, b[1]);
}

TEST(Blocks, TrimRanges) {
  unsigned char b[512];
  uint64_t left = 1;
  EXPECT_EQ(2, trim_fill_ranges(b, 100, 65473, &left));
  EXPECT_EQ(0u, left);
  uint64_t e0 = 0, e1 = 0, e2 = 0;
  for (int i = 7; i >= 0; --i) {
    e0 = e0 << 8 | b[i];
    e1 = e1 << 8 | b[8 + i];
    e2 = e2 << 8 | b[16 + i];
  }
  EXPECT_EQ(100u, e0 & 0xFFFFFFFFFFFFULL);
  EXPECT_EQ(65472u, e0 >> 48);
  EXPECT_EQ(100u + 65472u, e1 & 0xFFFFFFFFFFFFULL);
  EXPECT_EQ(1u, e1 >> 48);
  EXPECT_EQ(0u, e2);
  EXPECT_EQ(64, trim_fill_ranges(b, 0, 0x3FF000, &left));
  EXPECT_EQ(0u, left);
  EXPECT_EQ(64, trim_fill_ranges(b, 0, 0x3FF001, &left));
  EXPECT_EQ(1u, left);
}

TEST(Blocks, SmartAttributeSearch) {
  AtaDriveModel drive;
  drive.SetSmartAttribute(0, 1, 7);
  drive.SetSmartAttribute(3, 5, 10);
  uint64_t raw = 0;
  EXPECT_EQ(3, smart_find_attribute(drive.smart_data, 5, 0, &raw));
  EXPECT_EQ(10u, raw);
  EXPECT_EQ(-1, smart_find_attribute(drive.smart_data, 5, 4, &raw));
  EXPECT_EQ(0u, ata_sector_sum(drive.smart_data));
}
