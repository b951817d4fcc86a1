// The drive list, read from a /sys/block-like tree whose device nodes are disc images.
#include <gtest/gtest.h>

#include <filesystem>

#include "dvd/dvd_drives.h"
#include "dvd/tests/dvd_test_support.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

TEST(DVDDrives, ListsOpticalDrivesWithTheirVolumeLabels) {
  const std::string root = TestFolder();
  for (const char* name : {"sda", "sr1", "sr0", "loop0"})
    fs::create_directories(root + "/sys/" + name);
  fs::create_directories(root + "/dev");
  fs::copy_file(DiscPath("disc_b", true), root + "/dev/sr0");  // sr1: an empty tray

  const auto drives = EnumOpticalDrives(root + "/sys", root + "/dev");
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_EQ(drives[0].Name, "sr0");
  EXPECT_EQ(drives[0].Device, root + "/dev/sr0");
  EXPECT_EQ(drives[0].Label, "DISC_B");
  EXPECT_EQ(drives[0].Caption, "sr0:DISC_B");
  EXPECT_EQ(drives[1].Name, "sr1");
  EXPECT_EQ(drives[1].Label, "");
  EXPECT_EQ(drives[1].Caption, "sr1:");
}

TEST(DVDDrives, VolumeLabelOnlyFromAnIso9660Volume) {
  EXPECT_EQ(VolumeLabel(DiscPath("disc_a", true)), "DISC_A");
  EXPECT_EQ(VolumeLabel(DiscPath("disc_a", false) + "/VIDEO_TS/VIDEO_TS.IFO"), "");
  EXPECT_EQ(VolumeLabel(TestFolder() + "/none"), "");
}
