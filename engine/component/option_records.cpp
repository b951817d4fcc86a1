#include "engine/component/option_records.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "engine/component/transcoder_job.h"
#include "engine/target_presets.h"
#include "media/strings.h"

namespace {

using TNameValueList = std::vector<std::pair<std::string, std::string>>;

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

bool IsOneOf(const std::string& name, std::initializer_list<const char*> names) {
  for (const char* candidate : names)
    if (name == candidate) return true;
  return false;
}

std::string Decimal(int64_t value) {
  return std::to_string(value);
}

std::string Real(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", double(value));
  return text;
}

// The "def_" entries of the record's own fields and the codec, preset, size and filter lines
// of its option text. A record field wins over the lines; the first line of a kind is the
// default when the field is empty.
TNameValueList DefaultsList(const TOutputOptions& o) {
  TNameValueList list;
  auto add = [&list](const char* name, const std::string& value) {
    if (!value.empty()) list.emplace_back(name, value);
  };
  add("def_acodec", o.AudioCodec);
  add("def_vcodec", o.VideoCodec);
  add("def_scodec", o.SubtitleCodec);
  add("def_apre", o.AudioPreset);
  add("def_vpre", o.VideoPreset);
  add("def_spre", o.SubtitlePreset);
  add("def_s", o.FrameSize);
  add("def_vf", o.VideoFilters);
  for (auto [name, value] : SplitOptionLines(o.OptionLines)) {
    if (value.empty() || !IsOneOf(name, {"acodec", "vcodec", "scodec", "apre", "vpre", "spre", "s",
                                         "vfilters", "vf"}))
      continue;
    if (name == "vfilters") name = "vf";
    const std::string key = "def_" + name;
    bool present = false;
    for (const auto& entry : list)
      if (entry.first == key) present = true;
    if (!present) list.emplace_back(key, value);
    list.emplace_back(name, value);
  }
  return list;
}

std::string Lookup(const TNameValueList& list, const std::string& name) {
  for (const auto& entry : list)
    if (entry.first == name) return entry.second;
  return {};
}

// "timestamp" value of a TStreamInfo time stamp; empty when it leaves the stamp unset.
std::string TimestampOption(double timestamp) {
  if (timestamp < 0) return {};
  if (timestamp == 0) return "now";
  const time_t seconds = time_t(TimestampToUnixSeconds(timestamp));
  struct tm utc;
  if (!gmtime_r(&seconds, &utc)) return {};
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%SZ", &utc);
  return text;
}

}  // namespace

void InitInputOptions(TInputOptions& options) {
  options = TInputOptions();
}
void InitOutputOptions(TOutputOptions& options) {
  options = TOutputOptions();
}

std::vector<std::pair<std::string, std::string>> SplitOptionLines(const std::string& source) {
  std::string text(Trim(source));
  ReplaceAll(text, "\r\n", "\n");
  ReplaceAll(text, "\r", "\n");
  ReplaceAll(text, "<CRLF>", "\n");
  std::vector<std::pair<std::string, std::string>> lines;
  while (!text.empty()) {
    std::string line = SplitAtSeparator(text, "\n", true);
    const size_t equals = line.find('=');
    std::string name = LowerCase(line.substr(0, equals));
    std::string value = equals == std::string::npos ? std::string() : line.substr(equals + 1);
    // A blank line (two breaks in a row) names no option.
    if (!name.empty()) lines.emplace_back(std::move(name), std::move(value));
  }
  return lines;
}

int64_t TimestampToUnixSeconds(double timestamp) {
  tzset();
  // `timezone` is seconds west of UTC for standard time, the sign of a Windows bias.
  const double biasDays = double(timezone) / 60.0 / 1440.0;
  return std::llround((timestamp - 25569.0 + biasDays) * 86400.0);
}

namespace {

// Option lines in order. Lines that the defaults list and the additional streams handle are
// left out; codec and size lines only on inputs, where no defaults list exists.
void ApplyOptionLines(TTranscoder& job, const std::string& text, bool codecOptions) {
  for (const auto& [name, value] : SplitOptionLines(text)) {
    if (IsOneOf(name,
                {"newvideo", "newaudio", "newsubtitle", "apre", "vpre", "spre", "vfilters", "vf"}))
      continue;
    if (!codecOptions && IsOneOf(name, {"acodec", "vcodec", "scodec", "s"})) continue;
    job.ParseOption(name, value);
  }
}

}  // namespace

void ApplyInputOptions(TTranscoder& job, TInputOptions& options, const std::string& fileName) {
  if (options.FileName.empty()) options.FileName = fileName;
  job.StoreInputOptions(job.InputCount(), options);
  ApplyOptionLines(job, options.OptionLines, true);
  if (!options.FileFormat.empty()) job.ParseOption("f", options.FileFormat);
  job.SetStartTime(options.StartTime);
  if (options.ProgramNumber >= 0) job.ParseOption("programid", Decimal(options.ProgramNumber));
}

bool ApplyOutputOptions(TTranscoder& job, TOutputOptions& o, const std::string& fileName) {
  if (o.FileName.empty()) o.FileName = fileName;
  job.StoreOutputOptions(job.OutputCount(), o);
  const TNameValueList list = DefaultsList(o);

  if (const TTargetPreset* target = TargetPresetOfNumber(o.Target)) {
    const char* norm = o.TargetNorm == ktnPAL ? "pal" : o.TargetNorm == ktnNTSC ? "ntsc" : "auto";
    job.ApplyTarget(target->Kind, norm, o.FallbackNorm == ktnPAL ? "pal" : "ntsc");
  }

  auto fromList = [&job, &list](const char* option, const char* entry) {
    const std::string value = Lookup(list, entry);
    if (!value.empty()) job.ParseOption(option, value);
  };
  fromList("acodec", "def_acodec");
  fromList("vcodec", "def_vcodec");
  fromList("scodec", "def_scodec");
  fromList("apre", "def_apre");
  fromList("vpre", "def_vpre");
  fromList("spre", "def_spre");

  ApplyOptionLines(job, o.OptionLines, false);

  auto text = [&job](const char* option, const std::string& value) {
    if (!value.empty()) job.ParseOption(option, value);
  };
  auto positive = [&job](const char* option, int64_t value) {
    if (value > 0) job.ParseOption(option, Decimal(value));
  };
  auto generic = [&job](const char* option, int64_t value) {
    if (value > 0) job.SetGenericOption(option, Decimal(value));
  };
  auto flag = [&job](const char* option, bool value) {
    if (value) job.ParseOption(option, "1");
  };

  text("f", o.FileFormat);
  generic("packetsize", o.PacketSize);
  generic("muxrate", o.MuxRate);
  if (o.MuxDelay > 0) job.ParseOption("muxdelay", Real(o.MuxDelay));
  if (o.MuxPreload > 0) job.ParseOption("muxpreload", Real(o.MuxPreload));
  flag("an", o.DisableAudio);
  if (o.AudioVolume >= 0) job.ParseOption("vol", Decimal(o.AudioVolume));
  positive("ac", o.AudioChannels);
  positive("ar", o.AudioSampleRate);
  generic("ab", o.AudioBitrate);
  generic("abt", o.AudioBitrateTolerance);
  job.ParseOption("alang", o.AudioLanguage);
  job.ParseOption("async", Decimal(o.AudioSync));
  text("atag", o.AudioTag);
  flag("vn", o.DisableVideo);
  text("r", o.FrameRate);
  text("aspect", o.AspectRatio);
  positive("croptop", o.CropTop);
  positive("cropbottom", o.CropBottom);
  positive("cropleft", o.CropLeft);
  positive("cropright", o.CropRight);
  generic("g", o.GopSize);
  generic("vb", o.VideoBitrate);
  generic("maxrate", o.MaxRate);
  generic("minrate", o.MinRate);
  generic("bt", o.BitrateTolerance);
  generic("bufsize", o.BufferSize);
  job.ParseOption("vsync", Decimal(o.VideoSync));
  text("vtag", o.VideoTag);
  text("vlang", o.VideoLanguage);
  flag("sn", o.DisableSubtitle);
  text("slang", o.SubtitleLanguage);
  job.ParseOption("isync", o.InputSync ? "1" : "0");
  flag("copyts", o.CopyTimestamps);
  job.SetStartTime(o.StartTime);
  job.SetRecordingTime(o.Duration);

  const TStreamInfo& m = o.Metadata;
  text("timestamp", TimestampOption(m.Timestamp));
  if (m.Year > 0) job.AddMetadata("year", Decimal(m.Year));
  if (m.Track > 0) job.AddMetadata("track", Decimal(m.Track));
  const std::pair<const char*, const std::string*> texts[] = {
      {"title", &m.Title},     {"author", &m.Author}, {"copyright", &m.Copyright},
      {"comment", &m.Comment}, {"album", &m.Album},   {"genre", &m.Genre}};
  for (const auto& [key, value] : texts)
    if (!value->empty()) job.AddMetadata(key, *value);

  // After the crop bands, which were checked against the input's size.
  fromList("s", "def_s");
  fromList("vf", "def_vf");
  return o.Join;
}

void CreateAdditionalStreams(TTranscoder& job, const TOutputOptions& options) {
  TNameValueList list = DefaultsList(options);
  auto takeOrDefault = [&job, &list](const char* name) {
    for (auto entry = list.begin(); entry != list.end(); ++entry) {
      if (entry->first == name) {
        const std::string value = entry->second;
        list.erase(entry);
        job.ParseOption(name, value);
        return;
      }
    }
    job.ParseOption(name, Lookup(list, std::string("def_") + name));
  };
  for (const auto& [name, value] : SplitOptionLines(options.OptionLines)) {
    if (name == "newaudio") {
      for (const char* option : {"acodec", "apre"}) takeOrDefault(option);
    } else if (name == "newvideo") {
      for (const char* option : {"vcodec", "vpre", "s", "vf"}) takeOrDefault(option);
    } else if (name == "newsubtitle") {
      for (const char* option : {"scodec", "spre"}) takeOrDefault(option);
    } else {
      continue;
    }
    job.ParseOption(name, value);
  }
}
