// Windows-style INI files read and written without any in-memory copy: every call opens the
// file, does its work and closes it again, so a value written by one window is seen by the
// next read anywhere in the process (or in another process).
//
// Conventions:
// - A section line is "[name]"; a key line is "key=value". Section and key names are matched
//   without regard to ASCII case, with surrounding blanks ignored; the value is everything
//   after the first "=", with surrounding blanks removed.
// - Lines starting with ";" or "#", blank lines and lines without "=" are comments: they are
//   ignored by reads and kept byte for byte by writes, as are unknown sections and keys.
// - When a section or key occurs twice, the first one counts (for reads and for writes).
// - A missing or unreadable file, section or key gives the caller's default; so does an
//   integer that is not plain decimal text within 32 bits.
// - A write replaces the whole file through a temporary file in the same folder and a rename,
//   so a crash leaves either the old or the new file, never half of one. The folder is created
//   when missing. Writes from different threads of this process are serialised.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Raised when an INI file cannot be written; the message names the file and the reason.
class EIniFileException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TIniFile {
 public:
  explicit TIniFile(std::string fileName) : FFileName(std::move(fileName)) {}

  const std::string& FileName() const { return FFileName; }

  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
  // Any non-zero integer is true.
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  // Key names of the section's key lines, as written in the file, in file order.
  std::vector<std::string> ReadSection(std::string_view section) const;

  // Throw EIniFileException when the file cannot be written, and std::invalid_argument for
  // names or values that the file format cannot hold (line breaks; "]" in a section name;
  // "=" or a leading "[", ";" or "#" in a key; empty names).
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int value);
  // Written as "1" or "0".
  void WriteBool(std::string_view section, std::string_view key, bool value);

 private:
  std::string FFileName;
};

// Why a write to fileName would be refused, in words ("it is a symbolic link to a character
// device, not to a regular file"); empty when the name is missing (and no link) or is a
// regular file or a link to one. Writes replace only regular files.
std::string IniFileProblem(const std::string& fileName);
// "a folder", "a FIFO", "a character device", ... for a st_mode.
std::string FileKindText(mode_t mode);

// Replaces the whole file safely (temporary file, rename), with the checks of a write.
// Throws EIniFileException.
void ReplaceIniFile(const std::string& fileName, const std::string& content);
// The file's text as a write would keep it; nullopt when it is missing, unreadable or no
// regular file.
std::optional<std::string> ReadIniFileText(const std::string& fileName);

// Read access to INI text held in memory (the shipped catalogue), with the file's rules.
class TIniMemory {
 public:
  explicit TIniMemory(std::string_view content);
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  bool SectionExists(std::string_view section) const;
  // The section's lines from its header to its last non-blank line; empty when absent.
  std::vector<std::string> SectionLines(std::string_view section) const;

 private:
  std::shared_ptr<const std::vector<std::string>> FLines;
};

// Decimal integer with an optional sign and nothing else; false for anything else or for a
// value outside 32 bits.
bool TryParseInteger(std::string_view text, int& value);
