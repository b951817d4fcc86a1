// The user's parameters for one output format ("formatInfo" + code in the settings file):
// the translation of the catalogue's display names into stored values, which the settings
// dialog applies when it saves, and the effective parameters a conversion starts from.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/core/format_catalogue.h"
#include "app/core/settings_store.h"

// The user's keys. "para..." hold values, "i..." the selected row of the dialog's list (-1
// for a value typed by hand).
inline constexpr char kParaVideoSize[] = "paraVideoSize";
inline constexpr char kParaVideoBitRate[] = "paraVideoBitRate";
inline constexpr char kParaFrameRate[] = "paraFrameRate";
inline constexpr char kParaZoom[] = "paraZoom";
inline constexpr char kParaVideoEncoder[] = "paraVideoEncoder";
inline constexpr char kParaSampleRate[] = "paraSampleRate";
inline constexpr char kParaAudioBitRate[] = "paraAudioBitRate";
inline constexpr char kParaChannel[] = "paraChannel";
inline constexpr char kParaVolume[] = "paraVolume";
inline constexpr char kParaAudioEncoder[] = "paraAudioEncoder";

// A list value meaning "keep the source's own value".
inline constexpr char kAsSource[] = "as source";
// The stored volume that leaves the audio unchanged.
inline constexpr char kUnchangedVolume[] = "256";

// The nine lists: catalogue key (its default row is "i" + key), user value key, and whether
// the dialog's control is a pick list (whose display names are translated) or an editable
// list (whose shown text is stored as it stands).
enum TParamList {
  plVideoSize,
  plVideoBitRate,
  plFrameRate,
  plVideoEncoder,
  plAudioBitRate,
  plSampleRate,
  plAudioEncoder,
  plChannel,
  plVolume,
  plCount
};

struct TParamListInfo {
  const char* CatalogueKey;
  const char* IndexKey;  // in both files
  const char* ParaKey;
  bool PickList;
};
const TParamListInfo& ParamListInfo(TParamList list);

// Values the settings dialog stores for a chosen row; nullopt means it stores nothing (the
// earlier value stays). Encoder names are matched after lower-casing, channel and volume
// texts exactly.
std::optional<std::string> StoredVideoEncoder(std::string_view shown);
std::optional<std::string> StoredAudioEncoder(std::string_view shown);
std::optional<std::string> StoredChannel(std::string_view shown);
std::optional<std::string> StoredVolume(std::string_view shown);
// The stored value for a row of `list`: the translation for a pick list, the text itself for
// an editable one.
std::optional<std::string> StoredListValue(TParamList list, std::string_view shown);

// "paraZoom": rows 0..3 are "full", "lbox", "pan", "center"; -1 for any other text.
inline constexpr const char* kZoomValues[] = {"full", "lbox", "pan", "center"};
int ZoomRow(std::string_view stored);

// The parameters a conversion with this format starts from, as texts in the form the settings
// dialog stores them. A key the user's section holds is taken as written. A missing key takes
// the catalogue's default row of its list, translated as the dialog would store it (an
// editable list without that row gives ""). Without such a row: "paraZoom" "lbox",
// "paraChannel" "2", "paraVolume" "256" (unchanged), "paraVideoEncoder" "" (no video), and
// "paraAudioEncoder" "aac" for a format without video, "" (no audio) otherwise.
struct TFormatParams {
  std::string VideoSize, VideoBitRate, FrameRate, Zoom, VideoEncoder;
  std::string SampleRate, AudioBitRate, Channel, Volume, AudioEncoder;

  std::string& Value(TParamList list);
  bool HasVideo() const;  // VideoEncoder not blank
};
TFormatParams ReadFormatParams(const TSettingsStore& settings, const TFormatCatalogue& catalogue,
                               int code);

// The rows the settings dialog selects: the user's "i..." keys, and for a missing key the
// catalogue's default row.
struct TFormatRows {
  int Row[plCount] = {};
};
TFormatRows ReadFormatRows(const TSettingsStore& settings, const TFormatCatalogue& catalogue,
                           int code);
