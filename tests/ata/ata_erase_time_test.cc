// The drive's own estimate of SECURITY ERASE UNIT (IDENTIFY word 89, short or
// extended format) reaches the SG_IO transport as a timeout at least as long
// as the estimate, however long that is: a drive cut off while erasing comes
// back locked.
#include <gtest/gtest.h>

#include "ata_device_fixture.h"

TEST_F(AtaDeviceTest, EraseIsWaitedForAsLongAsTheDriveEstimates) {
  const struct {
    uint16_t word89;
    uint64_t minutes;
  } rows[] = {
      {30, 60},
      {0x00FF, 510},
      {17896, 35792},            // short format word above 255
      {0x8000 | 0x0BD0, 6048},   // extended format: bits 14:0
      {0xFFFF, 65534},           // the longest extended estimate
  };
  for (const auto& row : rows) {
    drive.erase_normal = row.word89;
    auto dev = MakeInit();
    EXPECT_TRUE(dev->HasDetail("ATA ERASE time: " + std::to_string(row.minutes) + "min [zeroes] 120min [pattern] "))
        << row.word89;
    drive.log.clear();
    ASSERT_EQ(0, dev->RunAndWait(dev->GetCommandById(BLKDEV_CMD_ATA_ERASE_ZERO)));
    ASSERT_EQ(ATA_CMD_SECURITY_ERASE_UNIT, drive.log.back().command);
    EXPECT_GE((uint64_t)drive.log.back().timeout_ms, row.minutes * 60 * 1000) << row.word89;
  }
}
