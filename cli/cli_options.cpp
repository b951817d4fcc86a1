#include "cli/cli_options.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <vector>

#include "app/core/format_params.h"
#include "media/strings.h"

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (;;) {
    const size_t at = text.find(separator, from);
    parts.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) return parts;
    from = at + 1;
  }
}

bool ParseInt(const std::string& text, long long& value) {
  if (text.empty()) return false;
  const char* begin = text.data();
  if (*begin == '+') ++begin;
  const auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

int WholeNumber(const std::string& text, const std::string& what, long long low, long long high) {
  long long value = 0;
  if (!ParseInt(text, value)) throw TCliError(what + " \"" + text + "\" is not a whole number");
  if (value < low || value > high)
    throw TCliError(what + " " + text + " is out of range " + std::to_string(low) + ".." +
                    std::to_string(high));
  return int(value);
}

// Non-negative decimal seconds ("12", "0.5"); NaN when the text is not one.
double DecimalSeconds(const std::string& text) {
  if (text.empty()) return NAN;
  int dots = 0, digits = 0;
  for (char c : text) {
    if (c == '.')
      ++dots;
    else if (std::isdigit(static_cast<unsigned char>(c)))
      ++digits;
    else
      return NAN;
  }
  if (dots > 1 || digits == 0) return NAN;
  return std::strtod(text.c_str(), nullptr);
}

}  // namespace

int64_t ParseCliTime(const std::string& text) {
  const std::vector<std::string> parts = Split(text, ':');
  const auto bad = [&] {
    return TCliError("time \"" + text + "\" is neither seconds nor H:MM:SS");
  };
  if (parts.size() > 3) throw bad();
  double seconds = 0;
  for (size_t i = 0; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    const double value = DecimalSeconds(parts[i]);
    if (std::isnan(value)) throw bad();
    if (!last && parts[i].find('.') != std::string::npos) throw bad();
    // Minutes and seconds after a colon stay below 60.
    if (i > 0 && value >= 60) throw bad();
    seconds = seconds * 60 + value;
  }
  if (seconds > 1e7) throw bad();
  return int64_t(std::llround(seconds * 1e6));
}

TCliCrop ParseCliCrop(const std::string& text) {
  const std::vector<std::string> parts = Split(text, ',');
  if (parts.size() != 4) throw TCliError("crop \"" + text + "\" must be TOP,BOTTOM,LEFT,RIGHT");
  TCliCrop crop;
  crop.Top = WholeNumber(parts[0], "crop top", 0, 4096);
  crop.Bottom = WholeNumber(parts[1], "crop bottom", 0, 4096);
  crop.Left = WholeNumber(parts[2], "crop left", 0, 4096);
  crop.Right = WholeNumber(parts[3], "crop right", 0, 4096);
  return crop;
}

std::pair<int, int> ParseCliChapters(const std::string& text) {
  const std::vector<std::string> parts = Split(text, '-');
  if (parts.size() > 2) throw TCliError("chapters \"" + text + "\" must be A-B");
  const int from = WholeNumber(parts[0], "chapter", 1, 999);
  const int to = parts.size() == 2 ? WholeNumber(parts[1], "chapter", 1, 999) : from;
  if (to < from) throw TCliError("chapters \"" + text + "\" run backwards");
  return {from, to};
}

TCliWatermark ParseCliWatermark(const std::string& text) {
  const size_t at = text.rfind('@');
  if (at == std::string::npos || at == 0)
    throw TCliError("watermark \"" + text + "\" must be WHAT@X,Y[,ALPHA[,START-END]]");
  TCliWatermark mark;
  mark.What = text.substr(0, at);
  const std::vector<std::string> parts = Split(text.substr(at + 1), ',');
  if (parts.size() < 2 || parts.size() > 4)
    throw TCliError("watermark \"" + text + "\" must be WHAT@X,Y[,ALPHA[,START-END]]");
  mark.X = WholeNumber(parts[0], "watermark x", -100000, 100000);
  mark.Y = WholeNumber(parts[1], "watermark y", -100000, 100000);
  if (parts.size() > 2) mark.Alpha = WholeNumber(parts[2], "watermark alpha", 0, 255);
  if (parts.size() > 3) {
    const std::vector<std::string> window = Split(parts[3], '-');
    if (window.size() != 2)
      throw TCliError("watermark time \"" + parts[3] + "\" must be START-END in seconds");
    mark.Start = WholeNumber(window[0], "watermark start", 0, INT32_MAX);
    mark.End = WholeNumber(window[1], "watermark end", 0, INT32_MAX);
    if (mark.End < mark.Start)
      throw TCliError("watermark time \"" + parts[3] + "\" runs backwards");
  }
  return mark;
}

std::pair<std::string, std::string> ParseCliSetting(const std::string& text) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0)
    throw TCliError("setting \"" + text + "\" must be KEY=VALUE");
  const std::string key = text.substr(0, equals);
  const std::string value = text.substr(equals + 1);
  std::string name;
  for (int list = 0; list < plCount; ++list)
    if (SameText(key, ParamListInfo(TParamList(list)).ParaKey))
      name = ParamListInfo(TParamList(list)).ParaKey;
  if (SameText(key, kParaZoom)) name = kParaZoom;
  if (name.empty())
    throw TCliError("unknown setting \"" + key +
                    "\" (paraVideoSize, paraVideoBitRate, paraFrameRate, paraZoom, "
                    "paraVideoEncoder, paraSampleRate, paraAudioBitRate, paraChannel, "
                    "paraVolume, paraAudioEncoder)");
  if (name == kParaVideoSize && value != kAsSource) {
    const std::vector<std::string> size = Split(value, 'x');
    long long w = 0, h = 0;
    if (size.size() != 2 || !ParseInt(size[0], w) || !ParseInt(size[1], h) || w <= 0 || h <= 0)
      throw TCliError("paraVideoSize \"" + value + "\" must be WIDTHxHEIGHT or \"as source\"");
  }
  if (name == kParaZoom && ZoomRow(value) < 0)
    throw TCliError("paraZoom \"" + value + "\" must be full, lbox, pan or center");
  if (name == kParaVolume) {
    long long volume = 0;
    if (!ParseInt(value, volume) || volume < 0)
      throw TCliError("paraVolume \"" + value + "\" must be a whole number (256 = unchanged)");
  }
  return {name, value};
}
