#include "dvd/dvd_drives.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

std::string VolumeLabel(const std::string& path) {
  // O_NONBLOCK: an empty tray must not make the menu wait for the drive.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  char descriptor[2048];
  const ssize_t got = pread(fd, descriptor, sizeof descriptor, 16 * 2048);
  close(fd);
  // The primary volume descriptor: type 1, "CD001", the volume id at bytes 40..71.
  if (got != ssize_t(sizeof descriptor) || descriptor[0] != 1 ||
      memcmp(descriptor + 1, "CD001", 5) != 0)
    return {};
  std::string label(descriptor + 40, 32);
  while (!label.empty() && (label.back() == ' ' || label.back() == '\0')) label.pop_back();
  return label;
}

std::vector<TDVDDrive> EnumOpticalDrives(const std::string& sysBlock, const std::string& devDir) {
  std::vector<TDVDDrive> drives;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(sysBlock, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("sr", 0) != 0) continue;
    TDVDDrive drive;
    drive.Name = name;
    drive.Device = (fs::path(devDir) / name).string();
    drive.Label = VolumeLabel(drive.Device);
    drive.Caption = drive.Name + ":" + drive.Label;
    drives.push_back(std::move(drive));
  }
  std::sort(drives.begin(), drives.end(),
            [](const TDVDDrive& a, const TDVDDrive& b) { return a.Name < b.Name; });
  return drives;
}
