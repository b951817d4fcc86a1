#include "app/core/format_catalogue.h"
#include "media/strings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr TBuiltInFormat kBuiltInFormats[] = {
    {0, "Flash Video Format (*.flv)"},
    {1, "Flash SWF Format (*.swf)"},
    {100, "MPEG-1 Video (*.mpg)"},
    {101, "MPEG-2 Video (*.mpg)"},
    {102, "MPEG-4 Video (*.mp4)"},
    {103, "H.264/MPEG-4 AVC Video (*.mp4)"},
    {104, "AVI Video (*.avi)"},
    {105, "WMV Video (*.wmv)"},
    {106, "Divx Video (*.avi)"},
    {107, "Xvid Video (*.avi)"},
    {108, "DV - NTSC -Digital Video Format (*.dv)"},
    {109, "DV - PAL -Digital Video Format (*.dv)"},
    {200, "MP3 MPEG Layer-3 Audio (*.mp3)"},
    {201, "AAC Advenced Audio Codec (*.aac)"},
    {202, "M4A MPEG-4 Audio (*.m4a)"},
    {203, "WMA - Windows Meida Audio (*.wma)"},
    {204, "WAV - Waveform Audio (*.wav)"},
    {205, "OGG Vorbis Audio Codec (*.ogg)"},
    {206, "AC-3 Audio Codec (*.ac3)"},
};

constexpr const char* kGroupHeaders[kFormatGroupCount] = {"Flash Video", "General Video formates",
                                                          "General Audio formates"};

}  // namespace

std::span<const TBuiltInFormat> BuiltInFormats() {
  return kBuiltInFormats;
}

const char* FormatGroupHeader(int group) {
  return group >= 0 && group < kFormatGroupCount ? kGroupHeaders[group] : "";
}

std::string FormatSectionName(int code) {
  return "formatInfo" + std::to_string(code);
}

std::string FormatDisplayName(int code) {
  for (const auto& format : kBuiltInFormats)
    if (format.Code == code) return format.Name;
  return "";
}

void FillFormatTable(TFormatTable& table) {
  for (auto& group : table)
    for (auto& name : group) name.clear();
  for (const auto& format : kBuiltInFormats)
    table[size_t(FormatGroupOf(format.Code))][size_t(FormatItemOf(format.Code))] = format.Name;
}

std::vector<std::string> ParseFormatList(std::string_view value) {
  std::vector<std::string> rows;
  if (value.empty() || value == "null") return rows;
  std::string piece;
  for (const char c : value) {
    if (c == ',') {
      rows.push_back(std::move(piece));
      piece.clear();
    } else {
      piece += c;
    }
  }
  rows.push_back(std::move(piece));
  return rows;
}

const TIniMemory& BuiltInCatalogue() {
  static const TIniMemory catalogue(BuiltInCatalogueText());
  return catalogue;
}

std::string TFormatCatalogue::Read(int code, std::string_view key,
                                   std::string_view defaultValue) const {
  const std::string section = FormatSectionName(code);
  if (FIni.SectionExists(section)) return FIni.ReadString(section, key, defaultValue);
  return BuiltInCatalogue().Find(section, key).value_or(std::string(defaultValue));
}

bool TFormatCatalogue::Knows(int code) const {
  const std::string section = FormatSectionName(code);
  return FIni.SectionExists(section) || BuiltInCatalogue().SectionExists(section);
}

bool TFormatCatalogue::FileHasNoSection(int code) const {
  const std::string section = FormatSectionName(code);
  return !FIni.SectionExists(section) && BuiltInCatalogue().SectionExists(section);
}

std::string TFormatCatalogue::Format(int code) const {
  return Read(code, kCatFormat, "null");
}

std::string TFormatCatalogue::FileExt(int code) const {
  return Read(code, kCatFileExt, "mp4");
}

std::vector<std::string> TFormatCatalogue::List(int code, std::string_view listKey) const {
  return ParseFormatList(Read(code, listKey, "null"));
}

int TFormatCatalogue::DefaultRow(int code, std::string_view listKey) const {
  int row = 0;
  return TryParseInteger(Read(code, "i" + std::string(listKey), "0"), row) ? row : 0;
}

std::vector<int> MissingCatalogueSections(const std::string& path) {
  const TFormatCatalogue catalogue(path);
  std::vector<int> codes;
  for (const auto& format : kBuiltInFormats)
    if (catalogue.FileHasNoSection(format.Code)) codes.push_back(format.Code);
  return codes;
}

void RepairFormatCatalogue(const std::string& path) {
  const std::vector<int> missing = MissingCatalogueSections(path);
  if (missing.empty()) return;
  std::string text = ReadIniFileText(path).value_or("");
  if (!text.empty() && text.back() != '\n') text += '\n';
  for (int code : missing) {
    if (!text.empty()) text += '\n';
    for (const std::string& line : BuiltInCatalogue().SectionLines(FormatSectionName(code)))
      text += line + '\n';
  }
  ReplaceIniFile(path, text);
}

bool InstallFormatCatalogue(const std::string& path) {
  std::error_code ec;
  // Anything at the name, a link to nowhere included, is the user's: never replaced.
  if (fs::exists(fs::symlink_status(path, ec))) return fs::exists(path, ec);
  // The same safe replacement as every settings write: write a temporary file, then rename.
  const fs::path target(path);
  if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
  // Written whole under a name of its own, then linked into place: link() never replaces,
  // so a catalogue another process installed (or the user put there) meanwhile stays.
  std::string temp = target.string() + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  const std::string_view text = BuiltInCatalogueText();
  bool written = fchmod(fd, 0644) == 0;
  for (size_t done = 0; written && done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) done += size_t(n);
  }
  written = fsync(fd) == 0 && written;
  written = close(fd) == 0 && written;
  if (written) link(temp.c_str(), path.c_str());
  unlink(temp.c_str());
  return fs::exists(path, ec);
}

std::vector<TPickerRow> TFormatPicker::FormatRows(int group) const {
  std::vector<TPickerRow> rows;
  for (int item = 0; item < kFormatTableSize; ++item) {
    const std::string& name = FTable[size_t(group)][size_t(item)];
    if (name.empty()) continue;
    TPickerRow row;
    row.Text = name;
    row.Info.IsFormat = true;
    row.Info.Code = MakeFormatCode(group, item);
    rows.push_back(std::move(row));
  }
  return rows;
}

void TFormatPicker::BuildFormatList(const TSettingsStore& settings) {
  FillFormatTable(FTable);
  FRows.clear();
  for (int group = 0; group < kFormatGroupCount; ++group) {
    TPickerRow header;
    header.Text = kGroupHeaders[group];
    header.Info.IsGroup = true;
    header.Info.Code = group;
    header.Info.Collapsed = settings.GroupCollapsed(group);
    const bool collapsed = header.Info.Collapsed;
    FRows.push_back(std::move(header));
    if (!collapsed)
      for (auto& row : FormatRows(group)) FRows.push_back(std::move(row));
  }
  FShownName = settings.FormatName();
  FSelected = FindRow(FShownName);
}

void TFormatPicker::SaveGroupStates(TSettingsStore& settings) const {
  for (const auto& row : FRows)
    if (row.Info.IsGroup) settings.SetGroupCollapsed(row.Info.Code, row.Info.Collapsed);
}

bool TFormatPicker::ToggleGroup(int row) {
  if (row < 0 || row >= int(FRows.size()) || !FRows[size_t(row)].Info.IsGroup) return false;
  TItemInfo& header = FRows[size_t(row)].Info;
  const auto next = FRows.begin() + row + 1;
  if (header.Collapsed) {
    std::vector<TPickerRow> formats = FormatRows(header.Code);
    header.Collapsed = false;
    const int added = int(formats.size());
    FRows.insert(next, std::make_move_iterator(formats.begin()),
                 std::make_move_iterator(formats.end()));
    if (FSelected > row) FSelected += added;
  } else {
    auto end = next;
    while (end != FRows.end() && end->Info.IsFormat) ++end;
    const int removed = int(end - next);
    header.Collapsed = true;
    FRows.erase(next, end);
    if (FSelected > row + removed)
      FSelected -= removed;
    else if (FSelected > row)
      FSelected = -1;
  }
  return true;
}

int TFormatPicker::FindRow(std::string_view name) const {
  const std::string_view wanted = Trim(name);
  for (size_t i = 0; i < FRows.size(); ++i)
    if (FRows[i].Text == wanted) return int(i);
  return -1;
}

std::optional<int> TFormatPicker::ChooseRow(int row) {
  if (row < 0 || row >= int(FRows.size()) || !FRows[size_t(row)].Info.IsFormat) return std::nullopt;
  FSelected = row;
  FShownName = FRows[size_t(row)].Text;
  return FRows[size_t(row)].Info.Code;
}
