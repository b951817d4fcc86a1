#include "media/probe_text.h"
#include "media/strings.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
#include <libavutil/dict.h>
#include <libavutil/rational.h>
}

#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

std::string TrimmedText(const char* text) {
  return text ? std::string(Trim(text)) : std::string();
}

struct KeyPair {
  const char* Key;
  const char* Shown;
};

// ID3v2.3/2.4 four-letter and ID3v2.2 three-letter frames; first match wins.
constexpr KeyPair kMetadataKeys[] = {
    {"TALB", "album"},     {"TAL", "album"},      {"TCOM", "composer"},  {"TCON", "genre"},
    {"TCO", "genre"},      {"TCOP", "copyright"}, {"TDRL", "date"},      {"TENC", "encoder"},
    {"TEN", "encoder"},    {"TIT2", "title"},     {"TT2", "title"},      {"TLAN", "language"},
    {"TPE1", "artist"},    {"TP1", "artist"},     {"TPOS", "disc"},      {"TPUB", "publisher"},
    {"TRCK", "track"},     {"TRK", "track"},      {"TSOA", "albumsort"}, {"TSOP", "authorsort"},
    {"TSOT", "titlesort"}, {"TYER", "year"},
};
static_assert(sizeof kMetadataKeys / sizeof kMetadataKeys[0] == 22);

}  // namespace

std::string FormatDuration(int64_t micros) {
  if (micros == AV_NOPTS_VALUE) return "N/A";
  std::string sign;
  uint64_t t = static_cast<uint64_t>(micros);
  if (micros < 0) {
    sign = "-";
    t = 0 - t;  // well defined for INT64_MIN + 1 and below
  }
  const uint64_t seconds = t / 1000000;
  return sign + FormatText("%.2" PRIu64 ":%.2" PRIu64 ":%.2" PRIu64 ".%.3" PRIu64, seconds / 3600,
                           seconds / 60 % 60, seconds % 60, t % 1000000 * 1000 / 1000000);
}

std::string FormatFileSize(int64_t bytes) {
  if (bytes > 1073741824) return FormatText("%.2f GB", bytes / 1073741824.0);
  if (bytes > 1048576) return FormatText("%.2f MB", bytes / 1048576.0);
  if (bytes > 1024) return FormatText("%.2f KB", bytes / 1024.0);
  return FormatText("%" PRId64 " Byte", bytes);
}

std::string MetadataValue(const AVDictionary* dict, const std::string& key,
                          const std::string& defaultValue) {
  const AVDictionaryEntry* entry = av_dict_get(dict, key.c_str(), nullptr, AV_DICT_MATCH_CASE);
  return entry ? std::string(entry->value) : defaultValue;
}

std::string MediaTypeName(int codecType) {
  switch (codecType) {
    case 0:
      return "Video";
    case 1:
      return "Audio";
    case 2:
      return "Data";
    case 3:
      return "Subtitle";
    case 4:
      return "Attachment";
    default:
      return "Unknown";
  }
}

std::string DisplayMetadataKey(const std::string& key) {
  for (const KeyPair& pair : kMetadataKeys)
    if (key == pair.Key) return pair.Shown;
  return key;
}

std::string MetadataBlock(const AVDictionary* dict, const std::string& indent) {
  if (av_dict_count(dict) == 0) return {};
  if (av_dict_count(dict) == 1 && av_dict_get(dict, "language", nullptr, AV_DICT_MATCH_CASE))
    return {};
  std::string text = indent + "Metadata:\n";
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = av_dict_get(dict, "", entry, AV_DICT_IGNORE_SUFFIX))) {
    if (std::strcmp(entry->key, "language") == 0) continue;
    // Not through Printf: values (comments, lyrics) may be longer than its buffer.
    std::string key = DisplayMetadataKey(entry->key);
    if (key.size() < 16) key.append(16 - key.size(), ' ');
    text += indent + "  " + key + ": " + entry->value + "\n";
  }
  return text;
}

std::string RatePiece(AVRational rate, const char* suffix) {
  if (rate.num == 0 || rate.den == 0) return {};
  const double value = av_q2d(rate);
  const long long v = std::llround(value * 100);
  if (v % 100 != 0) return FormatText(", %3.2f %s", value, suffix);
  if (v % (100 * 1000) != 0) return FormatText(", %1.0f %s", value, suffix);
  return FormatText(", %1.0fk %s", value / 1000, suffix);
}

std::string FormatSecondsMicros(int64_t micros) {
  const uint64_t magnitude = micros < 0 ? 0 - static_cast<uint64_t>(micros) : uint64_t(micros);
  return FormatText("%s%" PRIu64 ".%.6" PRIu64, micros < 0 ? "-" : "", magnitude / 1000000,
                    magnitude % 1000000);
}

std::string CodecDescription(const AVCodecParameters* par) {
  if (const AVCodec* codec = avcodec_find_decoder(par->codec_id)) {
    const std::string longName = TrimmedText(codec->long_name);
    return longName.empty() ? std::string(codec->name)
                            : std::string(codec->name) + "(" + longName + ")";
  }
  if (par->codec_id == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
  // Codecs this build cannot decode (DVD navigation packets, data streams) still carry
  // the library's name for them.
  if (const AVCodecDescriptor* desc = avcodec_descriptor_get(par->codec_id)) {
    const std::string name = TrimmedText(desc->name);
    if (!name.empty()) return name;
  }
  const uint32_t tag = par->codec_tag;
  char chars[4];
  bool printable = true;
  for (int i = 0; i < 4; ++i) {
    chars[i] = char((tag >> (8 * i)) & 0xFF);
    if (chars[i] < 32 || chars[i] > 126) printable = false;
  }
  if (printable)
    return FormatText("%c%c%c%c / 0x%04X", chars[0], chars[1], chars[2], chars[3], tag);
  return FormatText("0x%04x", tag);
}
