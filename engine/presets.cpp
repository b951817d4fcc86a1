// Built-in presets, "target" presets and preset files.
#include "engine/presets.h"
#include "engine/target_presets.h"

#include <cmath>
#include <optional>
#include <sstream>

#include "engine/transcoder.h"
#include "media/logger.h"
#include "media/small_file.h"
#include "media/strings.h"

namespace {

// The shared body of the portable-player presets.
#define DVDSWF_PSP_BODY                                                                        \
  "level=30\ncmp=chroma\npartitions=i4x4,i8x8,p8x8,b8x8\nme_method=umh\nsubq=7\nme_range=16\n" \
  "g=250\nkeyint_min=25\nsc_threshold=40\ni_qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\n"  \
  "qmax=51\nqdiff=4\n"

// x264's own presets do what the classic preset files spelled out line by line; the
// first-pass variants add x264's fast first-pass settings (used in pass 1 only).
#define DVDSWF_FIRSTPASS(speed) "preset=" speed "\nfastfirstpass=1\n"
#define DVDSWF_LOSSLESS(speed) "preset=" speed "\nqp=0\n"

}  // namespace

const TOptionsPreset kBuiltinPresets[kBuiltinPresetCount] = {
    {"libx264-baseline", "coder=0\nbf=0\n8x8dct=0\nweightb=0\nweightp=0\n"},
    {"libx264-default", "preset=medium\n"},
    {"libx264-fast", "preset=fast\n"},
    {"libx264-fast_firstpass", DVDSWF_FIRSTPASS("fast")},
    {"libx264-faster", "preset=faster\n"},
    {"libx264-faster_firstpass", DVDSWF_FIRSTPASS("faster")},
    {"libx264-fastfirstpass", DVDSWF_FIRSTPASS("medium")},
    {"libx264-hq", "preset=slow\n"},
    {"libx264-ipod320",
     "coder=0\nbf=0\n8x8dct=0\nweightb=0\nlevel=13\nmaxrate=768000\nbufsize=3000000\n"
     "weightp=0\n"},
    {"libx264-ipod640",
     "coder=0\nbf=0\n8x8dct=0\nweightb=0\nlevel=30\nmaxrate=10000000\nbufsize=10000000\n"
     "weightp=0\n"},
    {"libx264-lossless_fast", DVDSWF_LOSSLESS("fast")},
    {"libx264-lossless_max", DVDSWF_LOSSLESS("placebo")},
    {"libx264-lossless_medium", DVDSWF_LOSSLESS("medium")},
    {"libx264-lossless_slow", DVDSWF_LOSSLESS("slow")},
    {"libx264-lossless_slower", DVDSWF_LOSSLESS("slower")},
    {"libx264-lossless_ultrafast", DVDSWF_LOSSLESS("ultrafast")},
    {"libx264-main", "8x8dct=0\n"},
    {"libx264-max", "preset=placebo\n"},
    {"libx264-medium", "preset=medium\n"},
    {"libx264-medium_firstpass", DVDSWF_FIRSTPASS("medium")},
    {"libx264-normal", "preset=medium\n"},
    {"libx264-placebo", "preset=placebo\n"},
    {"libx264-placebo_firstpass", DVDSWF_FIRSTPASS("placebo")},
    {"libx264-slow", "preset=slow\n"},
    {"libx264-slow_firstpass", DVDSWF_FIRSTPASS("slow")},
    {"libx264-slower", "preset=slower\n"},
    {"libx264-slower_firstpass", DVDSWF_FIRSTPASS("slower")},
    {"libx264-slowfirstpass", "preset=medium\nfastfirstpass=0\n"},
    {"libx264-superfast", "preset=superfast\n"},
    {"libx264-superfast_firstpass", DVDSWF_FIRSTPASS("superfast")},
    {"libx264-ultrafast", "preset=ultrafast\n"},
    {"libx264-ultrafast_firstpass", DVDSWF_FIRSTPASS("ultrafast")},
    {"libx264-veryfast", "preset=veryfast\n"},
    {"libx264-veryfast_firstpass", DVDSWF_FIRSTPASS("veryfast")},
    {"libx264-veryslow", "preset=veryslow\n"},
    {"libx264-veryslow_firstpass", DVDSWF_FIRSTPASS("veryslow")},
    {"libx264-psp",
     "coder=1\n" DVDSWF_PSP_BODY
     "bf=3\nrefs=1\ndirect-pred=1\ntrellis=2\nb=1250000\nmaxrate=1500000\nbufsize=4000000\n"
     "bt=256000\nsc_threshold=40\n"},
    {"libx264-ps3",
     "coder=1\n" DVDSWF_PSP_BODY
     "bf=3\nrefs=1\ndirect-pred=1\ntrellis=2\nmaxrate=3500000\nbufsize=4000000\nbt=256000\n"
     "sc_threshold=40\n"},
    {"libx264-ipod",
     "coder=0\n"
     "level=30\ncmp=chroma\npartitions=i4x4,i8x8,p8x8\nme_method=umh\nsubq=7\nme_range=16\n"
     "g=250\nkeyint_min=25\nsc_threshold=40\ni_qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\n"
     "qmax=51\nqdiff=4\n"
     "refs=1\ndirect-pred=1\ntrellis=2\nb=1000000\nmaxrate=1250000\nbufsize=4000000\n"
     "bt=256000\nsc_threshold=40\n"},
    {"libx264-mp4",
     "coder=1\n" DVDSWF_PSP_BODY
     "bf=3\nrefs=1\ndirect-pred=1\ntrellis=2\nb=1250000\nmaxrate=1500000\nbufsize=4000000\n"
     "bt=256000\nsc_threshold=40\n"},
};

const char* FindBuiltinPreset(const std::string& name) {
  for (const auto& preset : kBuiltinPresets)
    if (SameText(preset.Name, name)) return preset.Text;
  return nullptr;
}

namespace {

enum TNorm { nmPAL, nmNTSC, nmFILM, nmUnknown };

TNorm NormOfRate(AVRational rate) {
  if (rate.den == 0) return nmUnknown;
  const long rounded = std::lround(1000.0 * rate.num / rate.den);
  if (rounded == 25000) return nmPAL;
  if (rounded == 29970 || rounded == 23976) return nmNTSC;
  return nmUnknown;
}

}  // namespace

void TCustomTranscoder::ApplyPreset(const std::string& kind, const std::string& presetName) {
  const char* builtin = nullptr;
  if (kind.empty() || kind[0] != 'f') {
    builtin = FindBuiltinPreset(presetName);
    if (!builtin) {
      const std::string* codec = nullptr;
      if (kind == "vpre" && !FSettings.VideoCodecName.empty())
        codec = &FSettings.VideoCodecName;
      else if (kind == "apre" && !FSettings.AudioCodecName.empty())
        codec = &FSettings.AudioCodecName;
      else if (!FSettings.SubtitleCodecName.empty())
        codec = &FSettings.SubtitleCodecName;
      if (codec) builtin = FindBuiltinPreset(*codec + "-" + presetName);
    }
  }
  std::string text;
  if (builtin) {
    text = builtin;
  } else {
    // A preset file is a few lines; a FIFO, a device or a huge file is refused unread.
    constexpr size_t kMaxPresetBytes = 1 << 20;
    std::string reason;
    bool missing = false;
    std::optional<std::string> content =
        ReadSmallFile(presetName, kMaxPresetBytes, reason, &missing);
    if (!content) {
      if (missing) RaiseFFmpeg("Preset \"%s\" not found", presetName.c_str());
      RaiseFFmpeg("Preset \"%s\" cannot be read: %s", presetName.c_str(), reason.c_str());
    }
    text = std::move(*content);
  }
  // Every line-break form becomes a line feed.
  std::string normalised;
  text = std::string(Trim(text));
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      normalised += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      normalised += text[i];
    }
  }
  std::istringstream lines(normalised);
  std::string line;
  while (std::getline(lines, line)) {
    line = std::string(Trim(line));
    if (line.empty()) continue;
    const size_t equals = line.find('=');
    const std::string name =
        equals == std::string::npos ? line : std::string(Trim(line.substr(0, equals)));
    const std::string value =
        equals == std::string::npos ? "" : std::string(Trim(line.substr(equals + 1)));
    if (name.empty() || value.empty())
      RaiseFFmpeg("%s: Invalid syntax: \"%s\"", presetName.c_str(), line.c_str());
    if (SameText(name, "acodec"))
      FSettings.AudioCodecName = value;
    else if (SameText(name, "vcodec"))
      FSettings.VideoCodecName = value;
    else if (SameText(name, "scodec"))
      FSettings.SubtitleCodecName = value;
    else if (!SetGenericOption(name, value))
      RaiseFFmpeg("%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"",
                  presetName.c_str(), line.c_str(), name.c_str(), value.c_str());
  }
}

void TCustomTranscoder::ApplyTarget(const std::string& kind, const std::string& normText,
                                    const std::string& fallback) {
  auto& s = FSettings;
  TNorm norm = normText == "pal"    ? nmPAL
               : normText == "ntsc" ? nmNTSC
               : normText == "film" ? nmFILM
                                    : nmUnknown;
  if (norm == nmUnknown) {
    if (s.FrameRate.den == 0) throw FFmpegException("frame_rate is invalid.");
    norm = NormOfRate(s.FrameRate);
    for (int i = 0; norm == nmUnknown && i < InputCount(); ++i) {
      AVFormatContext* input = InputContext(i);
      for (unsigned j = 0; j < input->nb_streams; ++j) {
        const AVStream* stream = input->streams[j];
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        // The codec time base of older libraries is the frame period.
        AVRational rate =
            stream->avg_frame_rate.den ? stream->avg_frame_rate : stream->r_frame_rate;
        norm = NormOfRate(rate);
        if (norm != nmUnknown) break;
      }
    }
    if (norm == nmUnknown) norm = fallback == "film" ? nmFILM : fallback == "ntsc" ? nmNTSC : nmPAL;
    if (s.Verbose > 0)
      GlobalLogger().LogFmt(this, llVerbose, "Assuming %s for target.",
                            norm == nmPAL ? "PAL" : "NTSC");
  }
  const TTargetPreset* preset = FindTargetPreset(kind);
  if (!preset) throw FFmpegException("Unknown target type");
  const TTargetPreset& t = *preset;
  const bool pal = norm == nmPAL;
  auto option = [this](const char* name, const char* value) {
    if (value) ParseOption(name, value);
  };
  auto generic = [this](const char* name, const char* value) {
    if (value) SetGenericOption(name, value);
  };
  option("vcodec", t.VideoCodec);
  option("acodec", t.AudioCodec);
  option("f", t.Format);
  option("s", pal ? t.PalSize : t.NtscSize);
  option("r", pal ? "25" : norm == nmNTSC ? "30000/1001" : "24000/1001");
  option("pix_fmt", pal ? t.PalPixFmt : t.NtscPixFmt);
  if (t.SetsGop) generic("g", pal ? "15" : "18");
  generic("b", t.Bitrate);
  generic("maxrate", t.MaxRate);
  generic("minrate", t.MinRate);
  generic("bufsize", t.BufSize);
  // The scan-offset flag of older libraries is a private option of the MPEG-2 encoder now.
  if (t.ScanOffset) generic("scan_offset", "1");
  generic("ab", t.AudioBitrate);
  s.AudioSampleRate = t.SampleRate;
  if (t.ForceStereo || s.AudioChannels == 1) s.AudioChannels = 2;
  generic("packetsize", t.PacketSize);
  generic("muxrate", t.MuxRate);
  if (t.MuxPreload > 0) s.MuxPreload = t.MuxPreload;
  if (t.Aspect && s.FrameAspectRatio == 0) {
    ParseOption("aspect", t.Aspect);
    GlobalLogger().Log(this, llInfo, std::string("Assuming ") + t.Aspect + " for aspect ratio");
  }
}
