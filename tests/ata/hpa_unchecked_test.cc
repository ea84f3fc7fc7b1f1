// A drive whose READ NATIVE MAX fails: the hidden area is unknown, not absent,
// and the operator reads so; a reset that cannot measure the area reports
// its failure on the session log.
#include <gtest/gtest.h>

#include "ata_device_fixture.h"

TEST_F(AtaDeviceTest, AnUnmeasurableHpaIsReportedAndItsResetFails) {
  drive.Fail(0x27);
  auto dev = MakeInit();
  EXPECT_TRUE(cap.Has("Disk-sdz: Host Protected Area (HPA) could not be checked", "wipe"));
  EXPECT_TRUE(dev->HasDetail("HPA: could not be checked"));
  EXPECT_EQ(-1, dev->ResetHPA(1));
  EXPECT_TRUE(cap.Has("Disk-sdz: Failed to reset HPA", "wipe"));
  EXPECT_EQ(0, drive.CountCommand(0x37));
}
