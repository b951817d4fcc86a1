// The machine's optical drives for the drive menu: each /sys/block/sr* device with the
// volume label of the disc in it.
//
// Threads: any; reads the file system only.
#pragma once

#include <string>
#include <vector>

struct TDVDDrive {
  std::string Name;     // "sr0"
  std::string Device;   // "/dev/sr0": the DrivePath the item sets
  std::string Label;    // the disc's volume id, empty without a (readable) disc
  std::string Caption;  // Name + ":" + Label, e.g. "sr0:MYDISC"
};

// Drives in name order. `sysBlock` and `devDir` are the folders to look in (the system's by
// default; tests point them at a tree of their own).
std::vector<TDVDDrive> EnumOpticalDrives(const std::string& sysBlock = "/sys/block",
                                         const std::string& devDir = "/dev");

// The ISO 9660 volume id of a device or an image (trailing blanks cut); empty when the
// path holds no readable ISO 9660 volume.
std::string VolumeLabel(const std::string& path);
