// libFuzzer target: the format catalogue "korvelswfformat.ini" of any content, read as the
// settings dialog and the conversion read it, then repaired.
//
// Input: a first line "CODE<TAB>FORMATNAME<TAB>COLLAPSED" (a format code to read besides
// a shipped one, the settings' "FormatName" and a group state for the picker), followed
// by the catalogue's text. After a repair that succeeds no shipped section may be missing,
// and every format must read as before (a section the file lacked was read from the shipped
// catalogue, which the repair copied in).
//
//   bin/app_catalogue_fuzz -max_total_time=60 corpus/ tests/fuzz/app_catalogue_fuzz/
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/format_catalogue.h"
#include "app/core/format_params.h"
#include "app/core/settings_store.h"
#include "app/core/tests/fuzz_support.h"

namespace {

// A broken property: says which, then ends the run as a finding.
#define Require(condition)                                                               \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: %s does not hold\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

const char* const kListKeys[] = {kCatVideoSize,    kCatVideoBitRate, kCatFrameRate,
                                 kCatVideoEncoder, kCatAudioBitRate, kCatSampleRate,
                                 kCatAudioEncoder, kCatChannel,      kCatVolume};

struct TRead {
  std::string Format, FileExt;
  std::vector<std::vector<std::string>> Lists;
  std::vector<int> Rows;
  bool operator==(const TRead&) const = default;
};

TRead ReadFormat(const TFormatCatalogue& catalogue, const TSettingsStore& settings, int code) {
  TRead read{catalogue.Format(code), catalogue.FileExt(code), {}, {}};
  for (const char* key : kListKeys) {
    read.Lists.push_back(catalogue.List(code, key));
    read.Rows.push_back(catalogue.DefaultRow(code, key));
  }
  catalogue.Knows(code);
  const TFormatParams params = ReadFormatParams(settings, catalogue, code);
  params.HasVideo();
  ZoomRow(params.Zoom);
  ReadFormatRows(settings, catalogue, code);
  for (int list = 0; list < plCount; ++list)
    for (const std::string& row : read.Lists[size_t(list)]) StoredListValue(TParamList(list), row);
  return read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string_view first = TakeLine(rest);
  int extraCode = 0;
  const bool hasExtra = TryParseInteger(Field(first, 0), extraCode);
  const std::filesystem::path catalogueFile = FuzzFolder() / "korvelswfformat.ini";
  const std::filesystem::path settingsFile = FuzzFolder() / "korveldvdtoswfconverter.ini";
  PutFile(catalogueFile, rest);
  PutFile(settingsFile, "[settings]\nFormatName=" + Field(first, 1) +
                            "\n[lstformat]\n1=" + Field(first, 2) + "\n");

  const TFormatCatalogue catalogue(catalogueFile.string());
  const TSettingsStore settings(settingsFile.string());
  // Every read parses the whole file again (nothing is cached), so a run reads two formats:
  // the one the first line names and a shipped one picked by the input's length.
  const auto shipped = BuiltInFormats();
  std::vector<int> codes = {shipped[size % shipped.size()].Code};
  if (hasExtra) codes.push_back(extraCode);
  std::vector<TRead> before;
  for (int code : codes) {
    before.push_back(ReadFormat(catalogue, settings, code));
    catalogue.FileHasNoSection(code);
    FormatDisplayName(code);
  }
  ParseFormatList(rest.substr(0, 256));

  TFormatPicker picker;
  picker.BuildFormatList(settings);
  for (int row = 0; row < int(picker.Rows().size()) && row < 64; ++row) {
    picker.ChooseRow(row);
    picker.FindRow(picker.Rows()[size_t(row)].Text);
  }
  if (!picker.Rows().empty()) picker.ToggleGroup(0);

  MissingCatalogueSections(catalogueFile.string());
  try {
    RepairFormatCatalogue(catalogueFile.string());
  } catch (const EIniFileException&) {
    return 0;
  }
  Require(MissingCatalogueSections(catalogueFile.string()).empty());
  for (size_t i = 0; i < codes.size(); ++i)
    Require(ReadFormat(catalogue, settings, codes[i]) == before[i]);
  return 0;
}
