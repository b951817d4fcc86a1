// The output-format catalogue: format codes (group * 100 + item), the built-in table of
// display names, the catalogue file "korvelswfformat.ini" with its lists, and the rows of the
// two-level format picker as data (the drop-down widget draws them).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/ini_file.h"
#include "app/core/settings_store.h"

inline constexpr int kFormatTableSize = 51;
inline constexpr int kFormatGroupCount = 3;

// Display names by group and item; an empty name is a free place.
using TFormatTable = std::array<std::array<std::string, kFormatTableSize>, kFormatTableSize>;

struct TBuiltInFormat {
  int Code;
  const char* Name;
};

// The 19 formats of the built-in table, in code order.
std::span<const TBuiltInFormat> BuiltInFormats();
// "Flash Video", "General Video formates", "General Audio formates".
const char* FormatGroupHeader(int group);

constexpr int MakeFormatCode(int group, int item) {
  return group * 100 + item;
}
constexpr int FormatGroupOf(int code) {
  return code / 100;
}
constexpr int FormatItemOf(int code) {
  return code % 100;
}
// "formatInfo" + code: the section in both INI files.
std::string FormatSectionName(int code);
// The built-in display name of a code; empty when the table has none.
std::string FormatDisplayName(int code);

// Clears the table and fills it with the built-in names.
void FillFormatTable(TFormatTable& table);

// The catalogue's list syntax: every comma ends a row, and whatever follows the last comma
// is a row too; pieces are kept exactly as written. "null" or an empty value is no list.
std::vector<std::string> ParseFormatList(std::string_view value);

// Catalogue keys. Each list has the key of its default row ("i" + list key).
inline constexpr char kCatFormat[] = "Format";
inline constexpr char kCatFileExt[] = "FileExt";
inline constexpr char kCatVideoSize[] = "VideoSize";
inline constexpr char kCatVideoBitRate[] = "VideoBitRate";
inline constexpr char kCatFrameRate[] = "FrameRate";
inline constexpr char kCatVideoEncoder[] = "VideoEncoder";
inline constexpr char kCatAudioBitRate[] = "AudioBitRate";
inline constexpr char kCatSampleRate[] = "SampleRate";
inline constexpr char kCatAudioEncoder[] = "AudioEncoder";
inline constexpr char kCatChannel[] = "Channel";
inline constexpr char kCatVolume[] = "Volume";

// Read access to "korvelswfformat.ini"; reads the file on every call.
class TFormatCatalogue {
 public:
  explicit TFormatCatalogue(std::string iniPath) : FIni(std::move(iniPath)) {}
  const TIniFile& Ini() const { return FIni; }

  // Container or target name; default "null".
  std::string Format(int code) const;
  // Extension without the dot; default "mp4".
  std::string FileExt(int code) const;
  // One of the list keys above, parsed with ParseFormatList.
  std::vector<std::string> List(int code, std::string_view listKey) const;
  // "i" + listKey: the default row of that list; default 0.
  int DefaultRow(int code, std::string_view listKey) const;
  // Whether the format exists: the file has its section, or the shipped catalogue does.
  bool Knows(int code) const;
  // The file lacks the section of a format that the shipped catalogue has (a missing,
  // empty or damaged file lacks them all).
  bool FileHasNoSection(int code) const;

 private:
  // A format whose section the file lacks is read from the shipped catalogue.
  std::string Read(int code, std::string_view key, std::string_view defaultValue) const;

  TIniFile FIni;
};

// The catalogue as shipped with this build (app/core/data/korvelswfformat.ini).
std::string_view BuiltInCatalogueText();
// Writes the shipped catalogue to `path` when nothing is there; returns whether the file
// exists afterwards. An existing file, the user's own edits included, is never replaced,
// nor is anything else at the name.
bool InstallFormatCatalogue(const std::string& path);
// The shipped formats whose sections the file at `path` lacks.
std::vector<int> MissingCatalogueSections(const std::string& path);
// Adds the shipped sections the file lacks at its end; the user's own sections and lines
// stay as they are. Throws EIniFileException when the file cannot be written.
void RepairFormatCatalogue(const std::string& path);

// One row of a picker list.
struct TItemInfo {
  bool IsFormat = false;
  bool IsGroup = false;
  bool Collapsed = false;  // group headers only
  int32_t Code = 0;        // group number for a header, format code for a format
};

struct TPickerRow {
  std::string Text;
  TItemInfo Info;
};

// The rows of one window's format picker and its own FormatTable. Used on the main thread.
class TFormatPicker {
 public:
  // Refills the table and the rows: each group header with its collapsed state from the
  // settings ("lstformat", default collapsed), followed by its formats when expanded. The
  // format box then shows "FormatName", and the selection moves to the row whose text equals
  // that name with blanks trimmed (none when no row matches).
  void BuildFormatList(const TSettingsStore& settings);
  // Writes every header's collapsed state to "lstformat".
  void SaveGroupStates(TSettingsStore& settings) const;
  // Expands a collapsed header (its formats follow it in item order) or collapses an
  // expanded one. False, and nothing changes, when the row is not a group header.
  bool ToggleGroup(int row);
  // Row whose text equals name with blanks trimmed; -1 when none.
  int FindRow(std::string_view name) const;

  const std::vector<TPickerRow>& Rows() const { return FRows; }
  const TFormatTable& Table() const { return FTable; }
  int Selected() const { return FSelected; }
  void SetSelected(int row) { FSelected = row >= 0 && row < int(FRows.size()) ? row : -1; }
  // The text of the format box.
  const std::string& ShownName() const { return FShownName; }

  // Choosing a format row: it becomes the shown name; returns its code. nullopt, and nothing
  // changes, for a header or a row that does not exist.
  std::optional<int> ChooseRow(int row);

 private:
  std::vector<TPickerRow> FormatRows(int group) const;

  TFormatTable FTable;
  std::vector<TPickerRow> FRows;
  int FSelected = -1;
  std::string FShownName;
};
