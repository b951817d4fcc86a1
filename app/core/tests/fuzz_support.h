// Shared by the app/core fuzz targets: a private temporary folder for the files a target
// reads and writes (nothing outside it is written), and the input split into its parts.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

// The process's own folder under the system's temporary folder, created on first use and
// removed at exit.
inline const std::filesystem::path& FuzzFolder() {
  static const struct TFolder {
    std::filesystem::path Path;
    TFolder()
        : Path(std::filesystem::temp_directory_path() /
               ("dvdswf_fuzz." + std::to_string(getpid()))) {
      std::filesystem::create_directories(Path);
    }
    ~TFolder() {
      std::error_code ec;
      std::filesystem::remove_all(Path, ec);
    }
  } folder;
  return folder.Path;
}

inline void PutFile(const std::filesystem::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), std::streamsize(text.size()));
}

// The first line of `rest` (without its line feed); `rest` keeps what follows.
inline std::string_view TakeLine(std::string_view& rest) {
  const size_t end = rest.find('\n');
  const std::string_view line = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return line;
}

// The `index`-th tab-separated field of `line`; empty when there are fewer.
inline std::string Field(std::string_view line, int index) {
  for (int i = 0; i < index; ++i) {
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return {};
    line.remove_prefix(tab + 1);
  }
  return std::string(line.substr(0, line.find('\t')));
}
