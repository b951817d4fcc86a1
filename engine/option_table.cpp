// The option vocabulary: ParseOption's table and the generic library options.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <set>

#include <cstdint>

extern "C" {
#include <libavcodec/bsf.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "engine/transcoder.h"
#include "media/logger.h"
#include "media/strings.h"

namespace {

// The ordinary conversion errors for malformed numbers.
int ToInt(const std::string& value) {
  errno = 0;
  char* end = nullptr;
  const long number = std::strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || errno == ERANGE || number < INT_MIN || number > INT_MAX)
    throw std::invalid_argument("'" + value + "' is not a valid integer value");
  return int(number);
}

int64_t ToInt64(const std::string& value) {
  errno = 0;
  char* end = nullptr;
  const long long number = std::strtoll(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || errno == ERANGE)
    throw std::invalid_argument("'" + value + "' is not a valid integer value");
  return number;
}

double ToReal(const std::string& value) {
  char* end = nullptr;
  const double number = std::strtod(value.c_str(), &end);
  if (value.empty() || *end != '\0')
    throw std::invalid_argument("'" + value + "' is not a valid floating point value");
  return number;
}

bool Flag(const std::string& value) {
  return value != "0";
}

// The folder of the running program, with a trailing separator.
std::string ProgramFolder() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "./";
  std::string text(path, size_t(length));
  return text.substr(0, text.rfind('/') + 1);
}

constexpr int kTypeFlags[5] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                               AV_OPT_FLAG_SUBTITLE_PARAM, 0};
constexpr AVMediaType kTypes[5] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA,
                                   AVMEDIA_TYPE_SUBTITLE, AVMEDIA_TYPE_ATTACHMENT};

// Today's codec options carry the audio flag on these video settings; audio has its own
// prefixed forms ("ab", "abt"), so a plain name keeps meaning video, as it always did.
bool VideoOnlyName(const std::string& name) {
  return name == "b" || name == "bt" || name == "maxrate" || name == "minrate";
}

// Whether some encoder of `type` declares `name` as a private option and accepts `value`.
// found: some encoder declares it.
bool EncoderPrivateAccepts(AVMediaType type, const std::string& name, const std::string& value,
                           bool& found) {
  void* iterator = nullptr;
  while (const AVCodec* codec = av_codec_iterate(&iterator)) {
    if (!av_codec_is_encoder(codec) || codec->type != type || !codec->priv_class) continue;
    const AVClass* cls = codec->priv_class;
    if (!av_opt_find(&cls, name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ)) continue;
    found = true;
    AVCodecContextPtr probe(avcodec_alloc_context3(codec));
    if (probe && probe->priv_data &&
        av_opt_set(probe->priv_data, name.c_str(), value.c_str(), 0) >= 0)
      return true;
  }
  return false;
}

bool FormatPrivateAccepts(const std::string& name, const std::string& value, bool& found) {
  void* iterator = nullptr;
  while (const AVOutputFormat* format = av_muxer_iterate(&iterator)) {
    if (!format->priv_class) continue;
    const AVClass* cls = format->priv_class;
    if (!av_opt_find(&cls, name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ)) continue;
    found = true;
    AVFormatContext* probe = nullptr;
    if (avformat_alloc_output_context2(&probe, format, nullptr, nullptr) >= 0 && probe) {
      const bool ok =
          probe->priv_data && av_opt_set(probe->priv_data, name.c_str(), value.c_str(), 0) >= 0;
      avformat_free_context(probe);
      if (ok) return true;
    }
  }
  iterator = nullptr;
  while (const AVInputFormat* format = av_demuxer_iterate(&iterator)) {
    if (!format->priv_class) continue;
    const AVClass* cls = format->priv_class;
    if (av_opt_find(&cls, name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ)) {
      found = true;
      return true;  // checked when the input opens
    }
  }
  return false;
}

void DictSet(AVDictionaryPtr& dict, const std::string& key, const std::string& value) {
  av_dict_set(DictionaryArg(dict), key.c_str(), value.c_str(), 0);
}

}  // namespace

// ---- Generic options ----

bool TCustomTranscoder::SetCodecOption(int typeIndex, const std::string& name,
                                       const std::string& value, bool& rejected) {
  AVCodecContext* context = FOptCodec[typeIndex].get();
  if (!av_opt_find(context, name.c_str(), nullptr, kTypeFlags[typeIndex], 0)) return false;
  if (av_opt_set(context, name.c_str(), value.c_str(), 0) < 0)
    rejected = true;
  else
    FOptTypes[name] |= 1u << typeIndex;
  return true;
}

bool TCustomTranscoder::SetPrivateOption(const std::string& name, const std::string& value) {
  bool found = false, accepted = false;
  for (int i : {0, 1, 3}) {
    bool foundHere = false;
    if (EncoderPrivateAccepts(kTypes[i], name, value, foundHere)) {
      DictSet(FPrivateCodecOptions[i], name, value);
      accepted = true;
    }
    found = found || foundHere;
  }
  bool foundFormat = false;
  if (FormatPrivateAccepts(name, value, foundFormat)) {
    DictSet(FPrivateFormatOptions, name, value);
    accepted = true;
  }
  found = found || foundFormat;
  if (found && !accepted)
    av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", value.c_str(),
           name.c_str());
  return accepted;
}

bool TCustomTranscoder::SetGenericOption(const std::string& rawName, const std::string& rawValue) {
  const std::string name(Trim(rawName)), value(Trim(rawValue));
  if (name.empty() || value.empty() || !FOptFormat) return false;
  bool found = false, rejected = false;
  for (int i = 0; i < 5 && !rejected; ++i) {
    if (i == 1 && VideoOnlyName(name)) continue;
    if (SetCodecOption(i, name, value, rejected)) found = true;
  }
  if (!found) {
    if (av_opt_find(FOptFormat.get(), name.c_str(), nullptr, 0, 0)) {
      found = true;
      if (av_opt_set(FOptFormat.get(), name.c_str(), value.c_str(), 0) < 0)
        rejected = true;
      else
        FOptTypes[name] |= kFormatBit;
    } else if (av_opt_find(FOptSws.get(), name.c_str(), nullptr, 0, 0)) {
      found = true;
      if (av_opt_set(FOptSws.get(), name.c_str(), value.c_str(), 0) < 0)
        rejected = true;
      else
        FOptTypes[name] |= kScalerBit;
    }
  }
  std::string setName = name;
  if (!found && name.size() > 1 && (name[0] == 'a' || name[0] == 'v' || name[0] == 's')) {
    const int index = name[0] == 'a' ? 1 : name[0] == 'v' ? 0 : 3;
    setName = name.substr(1);
    found = SetCodecOption(index, setName, value, rejected);
  }
  if (!found) {
    // Options only a specific encoder or muxer knows (x264's "preset", the MPEG muxer's
    // "muxrate"): kept and given to the encoder or the header when it opens.
    return SetPrivateOption(name, value);
  }
  if (rejected) {
    av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", value.c_str(),
           name.c_str());
    return false;
  }
  if (std::find(FOptNames.begin(), FOptNames.end(), setName) == FOptNames.end())
    FOptNames.push_back(setName);
  int64_t debug = 0;
  av_opt_get_int(FOptCodec[0].get(), "debug", 0, &debug);
  int64_t formatDebug = 0;
  av_opt_get_int(FOptFormat.get(), "fdebug", 0, &formatDebug);
  if (debug != 0 || formatDebug != 0) GlobalLogger().SetLogLevel(llDebug);
  return true;
}

void TCustomTranscoder::AddMetadata(const std::string& key, const std::string& value) {
  FSettings.Metadata.emplace_back(key, value);
}

void TCustomTranscoder::SetRecordingTime(int64_t us) {
  if (us == AV_NOPTS_VALUE) return;
  FSettings.RecordingTime = us;
  FExpectedDuration = us;
}

void TCustomTranscoder::SetStartTime(int64_t us) {
  if (us == AV_NOPTS_VALUE) return;
  FSettings.StartTime = us;
}

int64_t TCustomTranscoder::ParseTime(const std::string& value, const char* option, bool duration) {
  int64_t us = 0;
  if (av_parse_time(&us, value.c_str(), duration ? 1 : 0) < 0)
    RaiseFFmpeg("Invalid %s specification for %s: %s", duration ? "duration" : "date", option,
                value.c_str());
  return us;
}

// ---- Helpers of the table ----

void TCustomTranscoder::SetCodecTag(uint32_t& tag, const std::string& value, const char* kind) {
  if (value.size() != 4)
    throw EAssertionFailed(FormatText("%s tag parameter must be 4 chars", kind));
  tag = uint32_t(uint8_t(value[0])) | uint32_t(uint8_t(value[1])) << 8 |
        uint32_t(uint8_t(value[2])) << 16 | uint32_t(uint8_t(value[3])) << 24;
}

void TCustomTranscoder::ParseMatrix(std::vector<uint16_t>& matrix, const std::string& value) {
  std::vector<uint16_t> coefficients(64);
  const char* p = value.c_str();
  for (int i = 0; i < 64; ++i) {
    coefficients[size_t(i)] = uint16_t(std::atoi(p));
    p = std::strchr(p, ',');
    if (!p && i < 63) RaiseFFmpeg("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), i);
    if (p) ++p;
  }
  matrix = std::move(coefficients);
}

void TCustomTranscoder::AddBitstreamFilter(std::vector<std::string>& list,
                                           const std::string& value) {
  if (value.empty() || value[0] == '=') return;
  const std::string filter = value.substr(0, value.find('='));
  if (!av_bsf_get_by_name(filter.c_str()))
    RaiseFFmpeg("Unknown bitstream filter %s", filter.c_str());
  list.push_back(filter);
}

void TCustomTranscoder::ParseCrop(int& band, const std::string& value, bool vertical) {
  const int size = ToInt(value);
  if (size <= 0) return;
  int& dimension = vertical ? FSettings.FrameHeight : FSettings.FrameWidth;
  if (size >= dimension)
    throw FFmpegException(vertical ? "Vertical crop dimensions are outside the range of the "
                                     "original image.\nRemember to crop first and scale second."
                                   : "Horizontal crop dimensions are outside the range of the "
                                     "original image.\nRemember to crop first and scale second.");
  band = size;
  dimension -= size;
}

void TCustomTranscoder::AddHook(const std::string& value) {
  std::vector<std::string> words;
  std::string rest = value;
  const bool pipes = value.find('|') != std::string::npos;
  while (!rest.empty()) {
    std::string word = SplitAtSeparator(rest, pipes ? "|" : " ", true);
    if (!word.empty()) words.push_back(word);
  }
  if (AddHookLibrary(FHooks, words) != 0)
    throw FFmpegException("Failed to add video hook function: " + value);
  FFramesHooked = true;
}

// ---- The table ----

// Each entry answers to the names listed (separated by spaces); a name no entry lists is a
// library option (SetGenericOption). Handlers are plain functions given the transcoder, so
// the table is made once for the process.
void TCustomTranscoder::ParseOption(const std::string& name, const std::string& value) {
  static const std::set<std::string> kNeedValue = {
      "f",    "r",    "s",    "aspect", "b",        "vb",   "ab",   "acodec", "vcodec", "scodec",
      "atag", "vtag", "stag", "vf",     "vfilters", "apre", "vpre", "spre",   "fpre"};
  if (value.empty() && kNeedValue.count(name)) return;
  using THandler = void (*)(TCustomTranscoder&, TTranscoderSettings&, TMediaLogger&,
                            const std::string&, const std::string&);
  struct TOptionEntry {
    const char* Names;
    THandler Handler;
  };
  // Every handler takes the same parameters, and most use only some of them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
  static const TOptionEntry kTable[] = {
      // General
      {"h version formats codecs bsfs protocols filters i y benchmark",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         logger.Log(&self, llInfo, "Do nothing: option - " + name);
       }},
      {"loglevel",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         logger.SetLogLevelByName(value);
       }},
      {"f",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         if (value == "pgmyuv") {
           s.FormatName = "image2";
           s.PgmYuv = true;
           logger.Log(&self, llInfo, "pgmyuv format is deprecated, use image2");
         } else {
           s.FormatName = value;
         }
       }},
      {"v",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.Verbose = ToInt(value);
       }},
      {"threads",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         throw FFmpegException("TODO: option - " + name);
       }},
      {"timelimit",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         logger.Log(&self, llWarning, "Warning: -timelimit not implemented on Windows");
       }},
      {"xerror",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.ExitOnError = true;
       }},
      {"dump",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.DoPktDump = Flag(value);
       }},
      {"hex",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.DoHexDump = Flag(value);
       }},
      {"vstats",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         const time_t now = time(nullptr);
         struct tm local;
         localtime_r(&now, &local);
         char stamp[16];
         snprintf(stamp, sizeof stamp, "%02d%02d%02d", local.tm_hour, local.tm_min, local.tm_sec);
         s.VStatsFileName = FormatText("%svstats_%s.log", ProgramFolder().c_str(), stamp);
       }},
      {"vstats_file",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.VStatsFileName = value;
       }},
      {"pass",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         const int pass = ToInt(value);
         if (pass != 1 && pass != 2) throw FFmpegException("pass number can be only 1 or 2");
         s.DoPass = pass;
       }},
      {"passlogfile",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.PassLogFileName = value;
       }},
      {"target",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         std::string norm = "auto", kind = value;
         for (const char* prefix : {"pal-", "ntsc-", "film-"}) {
           const size_t length = std::strlen(prefix);
           if (value.compare(0, length, prefix) == 0) {
             norm = std::string(prefix, length - 1);
             kind = value.substr(length);
             break;
           }
         }
         self.ApplyTarget(kind, norm, "ntsc");
       }},
      // Files, maps and times
      {"map",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         if (int(s.StreamMaps.size()) >= kMaxStreamMaps)
           RaiseFFmpeg("Number of stream maps must not exceed %d", kMaxStreamMaps);
         TStreamMap map;
         char* p = nullptr;
         map.FileIndex = int(std::strtol(value.c_str(), &p, 0));
         if (*p) ++p;
         map.StreamIndex = int(std::strtol(p, &p, 0));
         if (*p) {
           ++p;
           map.SyncFileIndex = int(std::strtol(p, &p, 0));
           if (*p) ++p;
           map.SyncStreamIndex = int(std::strtol(p, &p, 0));
         } else {
           map.SyncFileIndex = map.FileIndex;
           map.SyncStreamIndex = map.StreamIndex;
         }
         s.StreamMaps.push_back(map);
       }},
      {"map_meta_data",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         if (int(s.MetaDataMaps.size()) >= kMaxMetaDataMaps)
           RaiseFFmpeg("Number of metadata maps must not exceed %d", kMaxMetaDataMaps);
         TMetaDataMap map;
         char* p = nullptr;
         map.OutFile = int(std::strtol(value.c_str(), &p, 0));
         if (*p) ++p;
         map.InFile = int(std::strtol(p, &p, 0));
         s.MetaDataMaps.push_back(map);
       }},
      {"t",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         self.SetRecordingTime(self.ParseTime(value, "t", true));
       }},
      {"fs",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.LimitFileSize = ToInt64(value);
       }},
      {"ss",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.StartTime = self.ParseTime(value, "ss", true);
       }},
      {"itsoffset",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.InputTsOffset = self.ParseTime(value, "itsoffset", true);
       }},
      {"itsscale",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         char* p = nullptr;
         const long stream = std::strtol(value.c_str(), &p, 0);
         if (*p) ++p;
         const double scale = std::strtod(p, &p);
         if (stream < 0 || stream >= kMaxStreams)
           RaiseFFmpeg("stream index over MAX_STREAMS(%d)", kMaxStreams);
         if (self.InputCount() >= kMaxFiles) RaiseFFmpeg("Too many input files");
         s.TimeScales[size_t(self.InputCount())][size_t(stream)] = scale;
       }},
      {"timestamp",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         const int64_t us = self.ParseTime(value, "timestamp", false);
         s.RecordingTimestamp = std::llround(double(us) / 1e6);
       }},
      {"metadata",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         const size_t equals = value.find('=');
         if (equals == std::string::npos) throw FFmpegException("Missing =");
         self.AddMetadata(value.substr(0, equals), value.substr(equals + 1));
       }},
      {"vframes",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.MaxFrames[0] = ToInt(value);
       }},
      {"aframes",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.MaxFrames[1] = ToInt(value);
       }},
      {"dframes",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.MaxFrames[2] = ToInt(value);
       }},
      {"re",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.RateEmu = Flag(value);
       }},
      {"loop_input",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.LoopInput = Flag(value);
       }},
      {"loop_output",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.LoopOutput = ToInt(value);
       }},
      {"programid",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.ProgramId = ToInt(value);
       }},
      {"copyts",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.CopyTs = true;
       }},
      {"shortest",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.Shortest = Flag(value);
       }},
      {"dts_delta_threshold",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.DtsDeltaThreshold = ToReal(value);
       }},
      {"copyinkf",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.CopyInitialNonKeyFrames = ToInt(value) != 0;
       }},
      {"isync",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.InputSync = Flag(value);
       }},
      {"muxdelay",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.MuxMaxDelay = float(ToReal(value));
       }},
      {"muxpreload",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.MuxPreload = float(ToReal(value));
       }},
      {"streamid",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         const size_t colon = value.find(':');
         char* end = nullptr;
         const long index = colon == std::string::npos ? -1 : std::strtol(value.c_str(), &end, 10);
         char* valueEnd = nullptr;
         const long id =
             colon == std::string::npos ? 0 : std::strtol(value.c_str() + colon + 1, &valueEnd, 10);
         if (colon == std::string::npos || colon == 0 || end != value.c_str() + colon ||
             colon + 1 == value.size() || *valueEnd != '\0')
           RaiseFFmpeg("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"",
                       value.c_str(), name.c_str());
         if (index < 0 || index >= kMaxStreams)
           RaiseFFmpeg("stream index over MAX_STREAMS(%d)", kMaxStreams);
         s.StreamIds[size_t(index)] = int(id);
       }},
      // Synchronisation
      {"vsync",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.VideoSyncMethod = ToInt(value);
       }},
      {"async",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.AudioSyncMethod = ToInt(value);
       }},
      {"adrift_threshold",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.AudioDriftThreshold = float(ToReal(value));
       }},
      {"vglobal",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.VideoGlobalHeader = ToInt(value);
       }},
      // Video
      {"b vb",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         self.SetGenericOption(name, value);
         if (self.FOptCodec[0]->bit_rate < 1000)
           logger.Log(&self, llWarning,
                      "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, "
                      "not kbits/s");
       }},
      {"r",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         AVRational rate;
         if (av_parse_video_rate(&rate, value.c_str()) < 0)
           throw FFmpegException("Incorrect frame rate");
         s.FrameRate = rate;
       }},
      {"s",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         int width = 0, height = 0;
         if (av_parse_video_size(&width, &height, value.c_str()) < 0)
           throw FFmpegException("Incorrect frame size");
         s.FrameWidth = width;
         s.FrameHeight = height;
       }},
      {"aspect",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         double aspect = 0;
         const size_t colon = value.find(':');
         if (colon != std::string::npos) {
           const double x = std::strtod(value.substr(0, colon).c_str(), nullptr);
           const double y = std::strtod(value.substr(colon + 1).c_str(), nullptr);
           if (y > 0) aspect = x / y;
         } else {
           char* end = nullptr;
           aspect = std::strtod(value.c_str(), &end);
           if (*end != '\0') aspect = 0;
         }
         if (!(aspect > 0) && !(aspect < 0))
           throw FFmpegException("Incorrect aspect ratio specification.");
         s.FrameAspectRatio = float(aspect);
         s.FrameAspectRatioGiven = true;
       }},
      {"pix_fmt",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         if (value == "list") {
           const AVPixFmtDescriptor* desc = nullptr;
           while ((desc = av_pix_fmt_desc_next(desc)))
             logger.LogFmt(&self, llInfo, "%-11s %7d %10d", desc->name, desc->nb_components,
                           av_get_bits_per_pixel(desc));
           return;
         }
         const AVPixelFormat format = av_get_pix_fmt(value.c_str());
         if (format == AV_PIX_FMT_NONE)
           RaiseFFmpeg("Unknown pixel format requested: %s", value.c_str());
         s.FramePixFmt = format;
       }},
      {"croptop",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         self.ParseCrop(s.TopBand, value, true);
         logger.Log(&self, llWarning, "CropTop is deprecated in favor of the crop avfilter");
       }},
      {"cropbottom",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         self.ParseCrop(s.BottomBand, value, true);
         logger.Log(&self, llWarning, "CropBottom is deprecated in favor of the crop avfilter");
       }},
      {"cropleft",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         self.ParseCrop(s.LeftBand, value, false);
         logger.Log(&self, llWarning, "CropLeft is deprecated in favor of the crop avfilter");
       }},
      {"cropright",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         self.ParseCrop(s.RightBand, value, false);
         logger.Log(&self, llWarning, "CropRight is deprecated in favor of the crop avfilter");
       }},
      {"padtop padbottom padleft padright padcolor",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         throw FFmpegException("Please use vfilters=pad");
       }},
      {"intra",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.IntraOnly = Flag(value);
       }},
      {"vn",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.VideoDisable = Flag(value);
       }},
      {"vdt",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.VideoDiscard = ToInt(value);
       }},
      {"qscale",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         const double q = ToReal(value);
         if (!(q > 0) || q > 255) throw FFmpegException("qscale must be > 0.0 and <= 255");
         s.VideoQScale = float(q);
       }},
      {"rc_override",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.VideoRcOverride = value;
       }},
      {"vcodec",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         if (value == "copy")
           s.VideoStreamCopy = true;
         else
           s.VideoCodecName = value;
       }},
      {"me_threshold",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.MeThreshold = ToInt(value);
       }},
      {"sameq",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.SameQuality = Flag(value);
       }},
      {"deinterlace",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.DoDeinterlace = Flag(value);
       }},
      {"psnr",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.DoPSNR = Flag(value);
       }},
      {"vhook",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         self.AddHook(value);
       }},
      {"vfilters vf",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.VideoFilters = value;
       }},
      {"intra_matrix",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         self.ParseMatrix(s.IntraMatrix, value);
       }},
      {"inter_matrix",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         self.ParseMatrix(s.InterMatrix, value);
       }},
      {"top",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.TopFieldFirst = ToInt(value);
       }},
      {"dc",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.IntraDcPrecision = ToInt(value);
       }},
      {"vtag",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         self.SetCodecTag(s.VideoCodecTag, value, "video");
       }},
      {"newvideo newaudio newsubtitle",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         if (self.FOutputs.empty())
           throw FFmpegException("At least one output file must be specified");
         const int last = self.OutputCount() - 1;
         if (name == "newvideo")
           self.NewVideoStream(last);
         else if (name == "newaudio")
           self.NewAudioStream(last);
         else
           self.NewSubtitleStream(last);
       }},
      {"vlang",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.VideoLanguage = value;
       }},
      {"qphist",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.QpHist = Flag(value);
       }},
      {"force_fps",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.ForceFps = Flag(value);
       }},
      {"vc",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.VideoChannel = ToInt(value);
       }},
      {"tvstd",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.VideoStandard = value;
       }},
      // Audio
      {"ab",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         self.SetGenericOption(name, value);
         if (self.FOptCodec[1]->bit_rate < 1000)
           logger.Log(&self, llWarning,
                      "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, "
                      "not kbits/s");
       }},
      {"aq",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.AudioQScale = float(ToReal(value));
       }},
      {"ar",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         const int rate = ToInt(value);
         if (rate > 0) s.AudioSampleRate = rate;
       }},
      {"ac",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         const int channels = ToInt(value);
         if (channels > 0) s.AudioChannels = channels;
       }},
      {"an",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.AudioDisable = Flag(value);
       }},
      {"acodec",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         if (value == "copy")
           s.AudioStreamCopy = true;
         else
           s.AudioCodecName = value;
       }},
      {"atag",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         self.SetCodecTag(s.AudioCodecTag, value, "audio");
       }},
      {"vol",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.AudioVolume = ToInt(value);
       }},
      {"alang",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.AudioLanguage = value;
       }},
      {"sample_fmt",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         if (value == "list") {
           for (int i = 0; i < AV_SAMPLE_FMT_NB; ++i) {
             char line[128];
             av_get_sample_fmt_string(line, sizeof line, AVSampleFormat(i));
             logger.Log(&self, llInfo, line);
           }
           return;
         }
         s.AudioSampleFmt = av_get_sample_fmt(value.c_str());
       }},
      // Subtitle
      {"sn",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.SubtitleDisable = Flag(value);
       }},
      {"scodec",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         if (value == "copy")
           s.SubtitleStreamCopy = true;
         else
           s.SubtitleCodecName = value;
       }},
      {"slang",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         s.SubtitleLanguage = value;
       }},
      {"stag",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         self.SetCodecTag(s.SubtitleCodecTag, value, "subtitle");
       }},
      // Bitstream filters and presets
      {"absf",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         self.AddBitstreamFilter(s.AudioBitstreamFilters, value);
       }},
      {"vbsf",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         self.AddBitstreamFilter(s.VideoBitstreamFilters, value);
       }},
      {"sbsf",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         self.AddBitstreamFilter(s.SubtitleBitstreamFilters, value);
       }},
      {"apre vpre spre fpre",
       [](TCustomTranscoder& self, TTranscoderSettings& s, TMediaLogger& logger,
          const std::string& name, const std::string& value) {
         self.ApplyPreset(name, value);
       }},
  };
#pragma GCC diagnostic pop
  static const std::map<std::string, THandler, std::less<>> kHandlers = [] {
    std::map<std::string, THandler, std::less<>> handlers;
    for (const auto& entry : kTable) {
      std::string names = entry.Names;
      while (!names.empty()) handlers.emplace(SplitAtSeparator(names, " ", true), entry.Handler);
    }
    return handlers;
  }();
  const auto found = kHandlers.find(name);
  if (found == kHandlers.end()) {
    SetGenericOption(name, value);
    return;
  }
  found->second(*this, FSettings, GlobalLogger(), name, value);
}
