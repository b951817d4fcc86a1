#include "app/core/format_params.h"

#include <utility>

#include "media/strings.h"

namespace {

constexpr TParamListInfo kListInfo[plCount] = {
    {kCatVideoSize, "iVideoSize", kParaVideoSize, false},
    {kCatVideoBitRate, "iVideoBitRate", kParaVideoBitRate, false},
    {kCatFrameRate, "iFrameRate", kParaFrameRate, false},
    {kCatVideoEncoder, "iVideoEncoder", kParaVideoEncoder, true},
    {kCatAudioBitRate, "iAudioBitRate", kParaAudioBitRate, false},
    {kCatSampleRate, "iSampleRate", kParaSampleRate, false},
    {kCatAudioEncoder, "iAudioEncoder", kParaAudioEncoder, true},
    {kCatChannel, "iChannel", kParaChannel, true},
    {kCatVolume, "iVolume", kParaVolume, true},
};

using TPair = std::pair<std::string_view, std::string_view>;

constexpr TPair kVideoEncoders[] = {
    {"mpeg-4", "mpeg4"},
    {"xvid", "libxvid"},
    {"h264", "libx264"},
    // Names the dialog stores unchanged.
    {"3gp", "3gp"},
    {"3g2", "3g2"},
    {"mov", "mov"},
    {"wmv1", "wmv1"},
    {"wmv2", "wmv2"},
    {"wmv3", "wmv3"},
    {"flv", "flv"},
    {"swf", "swf"},
    {"msmpeg4", "msmpeg4"},
    {"msmpeg4v1", "msmpeg4v1"},
    {"msmpeg4v2", "msmpeg4v2"},
    {"mpeg1video", "mpeg1video"},
    {"mpeg2video", "mpeg2video"},
    {"h263", "h263"},
    {"h263p", "h263p"},
    {"rawvideo", "rawvideo"},
    {"rv10", "rv10"},
    {"rv20", "rv20"},
    {"dvvideo", "dvvideo"},
    {"huffyuv", "huffyuv"},
    {"ljpeg", "ljpeg"},
    {"mjpeg", "mjpeg"},
    {"svq1", "svq1"},
    {"zlib", "zlib"},
};

// Stored names are encoders that Debian's FFmpeg has: its native "aac" (there is no libfaac),
// "libvorbis" rather than the experimental native Vorbis encoder, and "flac" (there is no
// libflac). "pcm_mulaw" is accepted with or without a trailing blank.
constexpr TPair kAudioEncoders[] = {
    {"mp3", "libmp3lame"},
    {"ogg", "libvorbis"},
    {"mp2", "mp2"},
    {"aac", "aac"},
    {"ac-3", "ac3"},
    {"flac", "flac"},
    {"amr_nb", "libopencore_amrnb"},
    {"pcm_s16", "pcm_s16le"},
    {"pcm_u16", "pcm_u16le"},
    {"pcm_alaw", "pcm_alaw"},
    {"pcm_mulaw", "pcm_mulaw"},
    {"pcm_mulaw ", "pcm_mulaw"},
    {"adpcm_ms", "adpcm_ms"},
    {"adpcm_ima_wav", "adpcm_ima_wav"},
    {"wma1", "wmav1"},
    {"wma2", "wmav2"},
};

constexpr TPair kChannels[] = {
    {"as source", "as source"},
    {"mono 1 channel", "1"},
    {"stereo 2 channels", "2"},
};

constexpr std::pair<int, std::string_view> kVolumes[] = {
    {25, "64"},   {50, "128"},  {75, "192"},  {100, "256"}, {125, "320"}, {150, "384"},
    {175, "448"}, {200, "512"}, {250, "640"}, {300, "768"}, {350, "896"}, {400, "1024"},
};

template <size_t N>
std::optional<std::string> Lookup(const TPair (&table)[N], std::string_view key) {
  for (const auto& [shown, stored] : table)
    if (shown == key) return std::string(stored);
  return std::nullopt;
}

}  // namespace

const TParamListInfo& ParamListInfo(TParamList list) {
  return kListInfo[list];
}

std::optional<std::string> StoredVideoEncoder(std::string_view shown) {
  return Lookup(kVideoEncoders, LowerCase(shown));
}

std::optional<std::string> StoredAudioEncoder(std::string_view shown) {
  return Lookup(kAudioEncoders, LowerCase(shown));
}

std::optional<std::string> StoredChannel(std::string_view shown) {
  return Lookup(kChannels, shown);
}

std::optional<std::string> StoredVolume(std::string_view shown) {
  if (shown.empty()) return std::nullopt;
  int percent = 0;
  if (!TryParseInteger(shown.substr(0, shown.size() - 1), percent)) return std::nullopt;
  for (const auto& [value, stored] : kVolumes)
    if (value == percent) return std::string(stored);
  return std::nullopt;
}

std::optional<std::string> StoredListValue(TParamList list, std::string_view shown) {
  switch (list) {
    case plVideoEncoder:
      return StoredVideoEncoder(shown);
    case plAudioEncoder:
      return StoredAudioEncoder(shown);
    case plChannel:
      return StoredChannel(shown);
    case plVolume:
      return StoredVolume(shown);
    default:
      return std::string(shown);
  }
}

int ZoomRow(std::string_view stored) {
  for (int row = 0; row < 4; ++row)
    if (stored == kZoomValues[row]) return row;
  return -1;
}

std::string& TFormatParams::Value(TParamList list) {
  switch (list) {
    case plVideoSize:
      return VideoSize;
    case plVideoBitRate:
      return VideoBitRate;
    case plFrameRate:
      return FrameRate;
    case plVideoEncoder:
      return VideoEncoder;
    case plAudioBitRate:
      return AudioBitRate;
    case plSampleRate:
      return SampleRate;
    case plAudioEncoder:
      return AudioEncoder;
    case plChannel:
      return Channel;
    default:
      return Volume;
  }
}

bool TFormatParams::HasVideo() const {
  return VideoEncoder.find_first_not_of(" \t") != std::string::npos;
}

TFormatParams ReadFormatParams(const TSettingsStore& settings, const TFormatCatalogue& catalogue,
                               int code) {
  const std::string section = FormatSectionName(code);
  const TIniFile& user = settings.Ini();
  TFormatParams params;
  bool audioEncoderMissing = false;
  for (int i = 0; i < plCount; ++i) {
    const auto list = TParamList(i);
    const TParamListInfo& info = kListInfo[i];
    std::string& value = params.Value(list);
    if (user.ValueExists(section, info.ParaKey)) {
      value = user.ReadString(section, info.ParaKey, "");
      continue;
    }
    const std::vector<std::string> rows = catalogue.List(code, info.CatalogueKey);
    const int row = catalogue.DefaultRow(code, info.CatalogueKey);
    std::optional<std::string> stored;
    if (row >= 0 && row < int(rows.size())) stored = StoredListValue(list, rows[size_t(row)]);
    if (stored) {
      value = *stored;
    } else if (!info.PickList) {
      value.clear();
    } else if (list == plChannel) {
      value = "2";
    } else if (list == plVolume) {
      value = kUnchangedVolume;
    } else if (list == plAudioEncoder) {
      audioEncoderMissing = true;
    }
  }
  if (audioEncoderMissing && !params.HasVideo()) params.AudioEncoder = "aac";
  params.Zoom = user.ReadString(section, kParaZoom, "lbox");
  return params;
}

TFormatRows ReadFormatRows(const TSettingsStore& settings, const TFormatCatalogue& catalogue,
                           int code) {
  const std::string section = FormatSectionName(code);
  TFormatRows rows;
  for (int i = 0; i < plCount; ++i) {
    const TParamListInfo& info = kListInfo[i];
    rows.Row[i] = settings.Ini().ReadInteger(section, info.IndexKey,
                                             catalogue.DefaultRow(code, info.CatalogueKey));
  }
  return rows;
}
