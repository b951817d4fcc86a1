// The mounted file systems as the kernel lists them (/proc/self/mountinfo): which mount holds a
// folder, whether that mount is an optical disc, and which mounts are the user's volumes
// (removable media and mounts under /media, /run/media and /mnt). No Qt; the folder chooser
// uses it.
//
// Threads: any; a table is a plain value read once.
#pragma once

#include <string>
#include <vector>

struct TMountEntry {
  std::string MountPoint;  // absolute, without a trailing "/" (except the root)
  std::string FileSystem;  // "ext4", "iso9660", ...
  std::string Source;      // "/dev/sr0", "tmpfs", ...
};

class TMountTable {
 public:
  // Reads a table in the kernel's mountinfo format; a file that cannot be read gives an
  // empty table (every folder then counts as not on a disc).
  static TMountTable Read(const std::string& mountInfoPath = "/proc/self/mountinfo");
  // Parses mountinfo text; lines that are not in its format are skipped.
  static TMountTable Parse(const std::string& text);

  const std::vector<TMountEntry>& Entries() const { return FEntries; }

  // The mount that holds `path` (an absolute path; symbolic links are resolved where the
  // path exists): the deepest mount point that is `path` or one of its parents, the later of
  // two mounts on the same point. Null when no entry holds it.
  const TMountEntry* MountOf(const std::string& path) const;
  // Whether `path` lies on an optical disc: its mount is an ISO 9660 file system or comes
  // from an optical drive (/dev/sr*, /dev/scd*, /dev/cdrom*, /dev/dvd*).
  bool OnOpticalDisc(const std::string& path) const;
  // Mount points a person thinks of as volumes: under /media/, /run/media/ or /mnt/, in
  // table order, each once.
  std::vector<std::string> Volumes() const;

 private:
  std::vector<TMountEntry> FEntries;
};

bool IsOpticalMount(const TMountEntry& entry);
