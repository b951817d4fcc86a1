#include "app/core/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <mutex>
#include <optional>

#include "media/small_file.h"
#include "media/strings.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The file as lines without their line ends, plus what is needed to write it back unchanged.
struct TIniText {
  std::string Bom;
  std::vector<std::string> Lines;
  std::string LineEnd = "\n";
  bool FinalLineEnd = true;
};

enum class TLineKind { lkOther, lkSection, lkKey };

struct TParsedLine {
  TLineKind Kind = TLineKind::lkOther;
  std::string_view Name;   // section or key name, trimmed
  std::string_view Value;  // key value, trimmed
  size_t ValueStart = 0;   // where the value (after "=" and blanks) begins in the line
};

TParsedLine ParseLine(std::string_view line) {
  TParsedLine parsed;
  const std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') return parsed;
  if (trimmed[0] == '[') {
    const size_t close = trimmed.find(']');
    if (close != std::string_view::npos) {
      parsed.Kind = TLineKind::lkSection;
      parsed.Name = Trim(trimmed.substr(1, close - 1));
    }
    return parsed;
  }
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return parsed;
  parsed.Kind = TLineKind::lkKey;
  parsed.Name = Trim(line.substr(0, eq));
  size_t start = line.find_first_not_of(kWhitespace, eq + 1);
  if (start == std::string_view::npos) start = line.size();
  parsed.ValueStart = start;
  parsed.Value = Trim(line.substr(start));
  return parsed;
}

TIniText ParseIni(std::string_view content) {
  TIniText text;
  std::string_view rest = content;
  if (rest.starts_with(kUtf8Bom)) {
    text.Bom = kUtf8Bom;
    rest.remove_prefix(kUtf8Bom.size());
  }
  bool lineEndKnown = false;
  text.FinalLineEnd = rest.empty() || rest.back() == '\n';
  while (!rest.empty()) {
    const size_t nl = rest.find('\n');
    std::string_view line = rest.substr(0, nl);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
      if (!lineEndKnown) text.LineEnd = "\r\n";
    }
    if (nl != std::string_view::npos) lineEndKnown = true;
    text.Lines.emplace_back(line);
    if (nl == std::string_view::npos) break;
    rest.remove_prefix(nl + 1);
  }
  return text;
}

// Reads the whole file; nullopt when it does not exist, cannot be read or is no regular
// file.
std::optional<TIniText> LoadIni(const std::string& fileName) {
  std::string reason;
  const std::optional<std::string> content =
      ReadSmallFile(fileName, std::numeric_limits<size_t>::max(), reason);
  if (!content) return std::nullopt;
  return ParseIni(*content);
}

// Index of the first line of the first section called `section`, or npos.
// Names are given with or without surrounding blanks, as a write takes them.
size_t FindSection(const std::vector<std::string>& lines, std::string_view section) {
  section = Trim(section);
  for (size_t i = 0; i < lines.size(); ++i) {
    const TParsedLine parsed = ParseLine(lines[i]);
    if (parsed.Kind == TLineKind::lkSection && SameText(parsed.Name, section)) return i;
  }
  return std::string::npos;
}

// Calls `visit(index, parsed)` for each key line of the section starting at `header`; stops
// early when `visit` returns true.
template <typename Visit>
void ForEachKey(const std::vector<std::string>& lines, size_t header, Visit visit) {
  for (size_t i = header + 1; i < lines.size(); ++i) {
    const TParsedLine parsed = ParseLine(lines[i]);
    if (parsed.Kind == TLineKind::lkSection) return;
    if (parsed.Kind == TLineKind::lkKey && visit(i, parsed)) return;
  }
}

std::optional<std::string> FindValue(const std::string& fileName, std::string_view section,
                                     std::string_view key) {
  const auto text = LoadIni(fileName);
  if (!text) return std::nullopt;
  const size_t header = FindSection(text->Lines, section);
  if (header == std::string::npos) return std::nullopt;
  std::optional<std::string> value;
  ForEachKey(text->Lines, header, [&](size_t, const TParsedLine& parsed) {
    if (!SameText(parsed.Name, Trim(key))) return false;
    value = std::string(parsed.Value);
    return true;
  });
  return value;
}

void CheckNames(std::string_view section, std::string_view key, std::string_view value) {
  const auto hasLineBreak = [](std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
  };
  const std::string_view trimmedKey = Trim(key);
  if (Trim(section).empty() || trimmedKey.empty())
    throw std::invalid_argument("INI section and key names must not be empty");
  if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value))
    throw std::invalid_argument("INI names and values must not contain line breaks");
  if (section.find(']') != std::string_view::npos)
    throw std::invalid_argument("INI section name must not contain ']'");
  if (key.find('=') != std::string_view::npos || trimmedKey[0] == '[' || trimmedKey[0] == ';' ||
      trimmedKey[0] == '#')
    throw std::invalid_argument("INI key name cannot be stored: " + std::string(key));
}

[[noreturn]] void WriteFailed(const std::string& fileName, int error) {
  throw EIniFileException("Unable to write to " + fileName + ": " + std::strerror(error));
}

// The file a write replaces: the name itself, or where its symbolic links lead. Only a
// regular file is replaced (or a missing one created at a name that is no link): a link to
// a device, a FIFO, a folder or nothing is refused, or the rename would put a regular file
// in the place of whatever it is.
fs::path WriteTarget(const std::string& fileName) {
  const std::string problem = IniFileProblem(fileName);
  if (!problem.empty()) throw EIniFileException("Unable to write to " + fileName + ": " + problem);
  std::error_code ec;
  fs::path target = fileName;
  if (fs::is_symlink(fs::symlink_status(target, ec))) {
    target = fs::canonical(target, ec);
    if (ec) WriteFailed(fileName, ec.value());
  }
  return target;
}

// Replaces the file's content through a temporary file and a rename. A symbolic link is
// followed, so the link stays and its target gets the new content.
void ReplaceFile(const std::string& fileName, const std::string& content) {
  std::error_code ec;
  const fs::path target = WriteTarget(fileName);
  const fs::path folder = target.parent_path();
  if (!folder.empty()) {
    fs::create_directories(folder, ec);
    if (ec) WriteFailed(fileName, ec.value());
  }

  std::string temp = target.string() + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) WriteFailed(fileName, errno);
  struct stat old {};
  const mode_t mode = stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  int error = 0;
  if (fchmod(fd, mode) != 0) error = errno;
  for (size_t done = 0; error == 0 && done < content.size();) {
    const ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno != EINTR) error = errno;
    } else {
      done += size_t(n);
    }
  }
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temp.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(temp.c_str());
    WriteFailed(fileName, error);
  }
}

std::string Join(const TIniText& text) {
  std::string out = text.Bom;
  for (size_t i = 0; i < text.Lines.size(); ++i) {
    out += text.Lines[i];
    if (i + 1 < text.Lines.size() || text.FinalLineEnd) out += text.LineEnd;
  }
  return out;
}

std::mutex& WriteLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

std::string FileKindText(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISLNK(mode)) return "a symbolic link";
  return "not a regular file";
}

std::string IniFileProblem(const std::string& fileName) {
  struct stat link {};
  if (lstat(fileName.c_str(), &link) != 0) {
    // Missing is fine (a write creates it); a folder on the way that is no folder is not.
    return errno == ENOENT ? "" : std::strerror(errno);
  }
  if (S_ISREG(link.st_mode)) return "";
  if (!S_ISLNK(link.st_mode)) return "it is " + FileKindText(link.st_mode) + ", not a regular file";
  struct stat target {};
  if (stat(fileName.c_str(), &target) != 0)
    return "it is a symbolic link to nothing (" + std::string(std::strerror(errno)) + ")";
  if (!S_ISREG(target.st_mode))
    return "it is a symbolic link to " + FileKindText(target.st_mode) + ", not to a regular file";
  return "";
}

TIniMemory::TIniMemory(std::string_view content)
    : FLines(std::make_shared<std::vector<std::string>>(ParseIni(content).Lines)) {}

std::optional<std::string> TIniMemory::Find(std::string_view section, std::string_view key) const {
  const size_t header = FindSection(*FLines, section);
  if (header == std::string::npos) return std::nullopt;
  std::optional<std::string> value;
  ForEachKey(*FLines, header, [&](size_t, const TParsedLine& parsed) {
    if (!SameText(parsed.Name, Trim(key))) return false;
    value = std::string(parsed.Value);
    return true;
  });
  return value;
}

bool TIniMemory::SectionExists(std::string_view section) const {
  return FindSection(*FLines, section) != std::string::npos;
}

std::vector<std::string> TIniMemory::SectionLines(std::string_view section) const {
  std::vector<std::string> lines;
  const size_t header = FindSection(*FLines, section);
  if (header == std::string::npos) return lines;
  for (size_t i = header; i < FLines->size(); ++i) {
    if (i > header && ParseLine((*FLines)[i]).Kind == TLineKind::lkSection) break;
    lines.push_back((*FLines)[i]);
  }
  while (!lines.empty() && Trim(lines.back()).empty()) lines.pop_back();
  return lines;
}

void ReplaceIniFile(const std::string& fileName, const std::string& content) {
  std::lock_guard<std::mutex> guard(WriteLock());
  ReplaceFile(fileName, content);
}

std::optional<std::string> ReadIniFileText(const std::string& fileName) {
  if (!IniFileProblem(fileName).empty()) return std::nullopt;
  const auto text = LoadIni(fileName);
  if (!text) return std::nullopt;
  return Join(*text);
}

bool TryParseInteger(std::string_view text, int& value) {
  if (!text.empty() && text[0] == '+') {
    text.remove_prefix(1);
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  }
  int parsed = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const {
  auto value = FindValue(FFileName, section, key);
  return value ? *value : std::string(defaultValue);
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int defaultValue) const {
  const auto text = FindValue(FFileName, section, key);
  int value = defaultValue;
  if (text && TryParseInteger(*text, value)) return value;
  return defaultValue;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool TIniFile::SectionExists(std::string_view section) const {
  const auto text = LoadIni(FFileName);
  return text && FindSection(text->Lines, section) != std::string::npos;
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
  return FindValue(FFileName, section, key).has_value();
}

std::vector<std::string> TIniFile::ReadSection(std::string_view section) const {
  std::vector<std::string> keys;
  const auto text = LoadIni(FFileName);
  if (!text) return keys;
  const size_t header = FindSection(text->Lines, section);
  if (header == std::string::npos) return keys;
  ForEachKey(text->Lines, header, [&](size_t, const TParsedLine& parsed) {
    keys.emplace_back(parsed.Name);
    return false;
  });
  return keys;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  CheckNames(section, key, value);
  const std::string_view cleanSection = Trim(section);
  const std::string_view cleanKey = Trim(key);
  const std::string_view cleanValue = Trim(value);
  const std::string newLine = std::string(cleanKey) + "=" + std::string(cleanValue);

  std::lock_guard<std::mutex> guard(WriteLock());
  WriteTarget(FFileName);  // refuses before anything is read or written
  TIniText text;
  if (std::error_code ec; fs::exists(FFileName, ec)) {
    auto loaded = LoadIni(FFileName);
    if (!loaded) WriteFailed(FFileName, EACCES);  // never replace a file we could not read
    text = std::move(*loaded);
  }

  const size_t header = FindSection(text.Lines, cleanSection);
  if (header == std::string::npos) {
    if (!text.Lines.empty() && !Trim(text.Lines.back()).empty()) text.Lines.emplace_back();
    text.Lines.push_back("[" + std::string(cleanSection) + "]");
    text.Lines.push_back(newLine);
    text.FinalLineEnd = true;
  } else {
    size_t found = std::string::npos;
    size_t valueStart = 0;
    ForEachKey(text.Lines, header, [&](size_t index, const TParsedLine& parsed) {
      if (!SameText(parsed.Name, cleanKey)) return false;
      found = index;
      valueStart = parsed.ValueStart;
      return true;
    });
    if (found != std::string::npos) {
      // Keep the key as the file spells it and the spacing around "=".
      std::string& line = text.Lines[found];
      line = line.substr(0, valueStart) + std::string(cleanValue);
    } else {
      // After the section's last non-blank line, so blank separators stay between sections.
      size_t last = header;
      for (size_t i = header + 1; i < text.Lines.size(); ++i) {
        if (ParseLine(text.Lines[i]).Kind == TLineKind::lkSection) break;
        if (!Trim(text.Lines[i]).empty()) last = i;
      }
      text.Lines.insert(text.Lines.begin() + std::ptrdiff_t(last + 1), newLine);
      if (last + 2 == text.Lines.size()) text.FinalLineEnd = true;
    }
  }
  ReplaceFile(FFileName, Join(text));
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}
