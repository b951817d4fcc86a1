#include "app/gui/mount_table.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// mountinfo writes blanks, tabs, line breaks and backslashes in paths as octal escapes.
std::string Unescape(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() &&
        std::all_of(field.begin() + long(i) + 1, field.begin() + long(i) + 4,
                    [](char c) { return c >= '0' && c <= '7'; })) {
      out += char(std::stoi(field.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

// `path` is `dir` or lies below it.
bool Inside(const std::string& path, const std::string& dir) {
  if (dir == "/") return StartsWith(path, "/");
  return path == dir || (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
                         path[dir.size()] == '/');
}

}  // namespace

TMountTable TMountTable::Read(const std::string& mountInfoPath) {
  std::ifstream file(mountInfoPath);
  if (!file) return TMountTable();
  std::ostringstream text;
  text << file.rdbuf();
  return Parse(text.str());
}

TMountTable TMountTable::Parse(const std::string& text) {
  TMountTable table;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    // id parent major:minor root mount-point options [optional fields...] - type source super
    std::istringstream fields(line);
    std::vector<std::string> parts;
    for (std::string part; fields >> part;) parts.push_back(part);
    const auto dash = std::find(parts.begin(), parts.end(), "-");
    if (parts.size() < 5 || dash == parts.end() || parts.end() - dash < 3 ||
        dash - parts.begin() < 6)
      continue;
    TMountEntry entry;
    entry.MountPoint = WithoutTrailingSlash(Unescape(parts[4]));
    entry.FileSystem = *(dash + 1);
    entry.Source = Unescape(*(dash + 2));
    if (entry.MountPoint.empty() || entry.MountPoint[0] != '/') continue;
    table.FEntries.push_back(std::move(entry));
  }
  return table;
}

const TMountEntry* TMountTable::MountOf(const std::string& path) const {
  std::error_code error;
  std::string resolved = fs::weakly_canonical(fs::path(path), error).string();
  if (error || resolved.empty()) resolved = fs::path(path).lexically_normal().string();
  resolved = WithoutTrailingSlash(resolved);
  const TMountEntry* best = nullptr;
  for (const TMountEntry& entry : FEntries)
    if (Inside(resolved, entry.MountPoint) &&
        (!best || entry.MountPoint.size() >= best->MountPoint.size()))
      best = &entry;
  return best;
}

bool IsOpticalMount(const TMountEntry& entry) {
  if (entry.FileSystem == "iso9660") return true;
  for (const char* device : {"/dev/sr", "/dev/scd", "/dev/cdrom", "/dev/dvd"})
    if (StartsWith(entry.Source, device)) return true;
  return false;
}

bool TMountTable::OnOpticalDisc(const std::string& path) const {
  const TMountEntry* entry = MountOf(path);
  return entry && IsOpticalMount(*entry);
}

std::vector<std::string> TMountTable::Volumes() const {
  std::vector<std::string> volumes;
  for (const TMountEntry& entry : FEntries) {
    const std::string& point = entry.MountPoint;
    const bool volume = StartsWith(point, "/media/") || StartsWith(point, "/run/media/") ||
                        StartsWith(point, "/mnt/");
    if (volume && std::find(volumes.begin(), volumes.end(), point) == volumes.end())
      volumes.push_back(point);
  }
  return volumes;
}
