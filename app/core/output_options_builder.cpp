#include "app/core/output_options_builder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "app/core/format_catalogue.h"
#include "engine/target_presets.h"
#include "media/strings.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

namespace fs = std::filesystem;

// A text that parses completely as a decimal integer (an optional sign, then digits).
std::optional<long long> ParseInteger(std::string_view text) {
  if (text.empty()) return std::nullopt;
  size_t i = 0;
  if (text[0] == '+' || text[0] == '-') i = 1;
  if (i == text.size()) return std::nullopt;
  for (size_t j = i; j < text.size(); ++j)
    if (!std::isdigit(static_cast<unsigned char>(text[j]))) return std::nullopt;
  const std::string copy(text);
  errno = 0;
  const long long value = std::strtoll(copy.c_str(), nullptr, 10);
  if (errno == ERANGE) return std::nullopt;
  return value;
}

// A text that parses completely as a decimal floating-point number: sign, digits with an
// optional point, optional exponent. No hexadecimal forms, no "inf" or "nan".
std::optional<double> ParseNumber(std::string_view text) {
  size_t i = 0;
  const auto digits = [&] {
    const size_t from = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    return i - from;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t mantissa = digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() == 0) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;
  return std::strtod(std::string(text).c_str(), nullptr);
}

bool IsIntegerOrNumber(std::string_view text) {
  return ParseInteger(text) || ParseNumber(text);
}

double NumberValue(std::string_view text) {
  if (auto value = ParseInteger(text)) return double(*value);
  return ParseNumber(text).value_or(0);
}

int32_t ToInt32(long long value) {
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return int32_t(value);
}

// "paraAudioBitRate" in kbit/s: bits per second when usable, else -1.
int32_t AudioBitrateOf(const std::string& text) {
  if (text == kAsSource || Trim(text).empty() || !IsIntegerOrNumber(text)) return -1;
  const double bits = std::trunc(NumberValue(text) * 1000);
  if (!(bits > 0)) return -1;
  return bits > double(std::numeric_limits<int32_t>::max()) ? std::numeric_limits<int32_t>::max()
                                                            : int32_t(bits);
}

// "paraVolume": unchanged for "256"; otherwise its integer value, as the original converted
// it without testing.
void ApplyVolume(const std::string& text, TOutputOptions& out) {
  if (text == kUnchangedVolume) return;
  const auto value = ParseInteger(text);
  if (!value) throw std::invalid_argument("'" + text + "' is not a valid integer value");
  out.AudioVolume = ToInt32(*value);
}

constexpr const char* kNamedVideoCodecs[] = {
    "mpeg4",   "libxvid", "mpeg1video", "mpeg2video", "msmpeg4", "msmpeg4v1", "msmpeg4v2",
    "huffyuv", "dvvideo", "rawvideo",   "h263p",      "h263",    "rv10",      "rv20",
    "ljpeg",   "mjpeg",   "svq1",       "zlib",       "wmv1",    "wmv2"};

constexpr const char* kNamedContainers[] = {"ipod", "3gp", "3g2", "avi",    "psp",
                                            "mov",  "vcd", "flv", "mpegts", "vob"};

template <size_t N>
bool OneOf(const std::string& value, const char* const (&names)[N]) {
  for (const char* name : names)
    if (value == name) return true;
  return false;
}

struct TPads {
  int Top = 0, Bottom = 0, Left = 0, Right = 0;
};

// The letterbox arithmetic over a picture of dw x dh output pixels (which need not be whole)
// shown in W x H: pads rounded to even, with the rules' order for ties.
TPads LetterboxPads(double dw, double dh, int W, int H) {
  TPads p;
  if (W <= 0 || H <= 0 || !(dw > 0) || !(dh > 0)) return p;
  const double r = dw / W;
  const double r2 = dh / H;
  const int vpad = ((H - 2 * (int(std::trunc(dh / r)) / 2)) / 4) * 2;
  const int hpad = ((W - 2 * (int(std::trunc(dw / r2)) / 2)) / 4) * 2;
  const auto vertical = [&] { p = {vpad, vpad, 0, 0}; };
  const auto horizontal = [&] { p = {0, 0, hpad, hpad}; };
  if (W <= dw && H >= dh) vertical();
  if (W >= dw && H <= dh) horizontal();
  if (W >= dw && H >= dh) {
    if (r > r2)
      vertical();
    else if (r < r2)
      horizontal();
    else
      p = {vpad, vpad, hpad, hpad};
  }
  if (W <= dw && H <= dh) {
    if (r > r2)
      vertical();
    else
      horizontal();
  }
  if (W == dw && H == dh) p = {};
  return p;
}

// A shape as a ratio of whole numbers (width : height), kept reduced.
struct TShape {
  long long X = 1, Y = 1;
  long double Value() const { return (long double)X / Y; }
  std::string Text() const { return std::to_string(X) + ":" + std::to_string(Y); }
};

TShape ShapeOf(long long x, long long y) {
  if (x <= 0 || y <= 0) return {};
  const long long g = std::gcd(x, y);
  return {x / g, y / g};
}

// Whether the output container records the pixel shape, so that a picture of any stored
// size can be shown in the shape it had. Flash Video and SWF record none: their pictures are
// shown with square pixels.
bool ContainerKeepsShape(const std::string& format) {
  return format != "flv" && format != "swf";
}

int EvenRound(long double value) {
  return int(std::max<long double>(2, 2 * std::llround(value / 2)));
}

// Catalogue formats "pal-vcd", "ntsc-dvd" and so on: a norm, then a target kind.
void ApplyTargetPresets(const std::string& format, const TFormatParams& params,
                        TOutputOptions& out) {
  const size_t dash = format.find('-');
  if (dash == std::string::npos) return;
  const std::string_view norm = std::string_view(format).substr(0, dash);
  if (norm != "pal" && norm != "ntsc") return;
  const TTargetPreset* target = FindTargetPreset(std::string_view(format).substr(dash + 1));
  if (!target || target->Number == ktnNone) return;  // DV: see ApplyDVTarget
  const bool pal = norm == "pal";
  out.Target = target->Number;
  out.TargetNorm = pal ? ktnPAL : ktnNTSC;
  const bool wideTarget = target->Aspect && std::string_view(target->Aspect) == "16:9";
  out.AspectRatio =
      wideTarget && params.VideoSize == (pal ? target->PalSize : target->NtscSize) ? "16:9" : "4:3";
}

// DV targets ("ntsc-dv", "pal-dv") have no field of their own in the options; the
// transcoder's "target" option sets up the DV container, size, rate and picture layout
// (NTSC DV needs yuv411p, which Debian's encoder insists on).
void ApplyDVTarget(const std::string& format, TOutputOptions& out) {
  if (format != "ntsc-dv" && format != "pal-dv") return;
  if (!out.OptionLines.empty()) out.OptionLines += "\n";
  out.OptionLines += "target=" + format;
}

}  // namespace

std::optional<TParamProblem> FindUnworkableParam(const TFormatParams& params,
                                                 const std::string& catalogueFormat) {
  const std::string format = LowerCase(catalogueFormat);
  const auto problem = [](const char* key, std::string text) {
    return std::optional<TParamProblem>(TParamProblem{key, std::move(text)});
  };
  const auto quoted = [](const std::string& text) { return "\"" + text + "\""; };
  const auto chosen = [](const std::string& value) {
    return value != kAsSource && !Trim(value).empty();
  };

  // Audio: the encoder, its sample rates, channels, bit rate, volume.
  const std::string aenc(Trim(ConversionAudioEncoder(params.AudioEncoder)));
  const AVCodec* audio = nullptr;
  if (!aenc.empty()) {
    audio = avcodec_find_encoder_by_name(aenc.c_str());
    if (!audio || audio->type != AVMEDIA_TYPE_AUDIO)
      return problem(kParaAudioEncoder,
                     quoted(params.AudioEncoder) + " is not an audio encoder this program has");
  }
  if (chosen(params.SampleRate)) {
    const auto rate = ParseInteger(params.SampleRate);
    if (!rate || *rate <= 0 || *rate > 384000)
      return problem(kParaSampleRate,
                     quoted(params.SampleRate) + " is not a sample rate (a whole number of Hz)");
    if (audio && audio->supported_samplerates) {
      std::string rates;
      bool taken = false;
      for (const int* r = audio->supported_samplerates; *r; ++r) {
        taken = taken || *r == *rate;
        rates += (rates.empty() ? "" : ", ") + std::to_string(*r);
      }
      if (!taken)
        return problem(kParaSampleRate, params.SampleRate + " Hz is not a sample rate " + aenc +
                                            " takes (" + rates + ")");
    }
  }
  if (chosen(params.Channel)) {
    const auto channels = ParseInteger(params.Channel);
    if (!channels || *channels < 1 || *channels > 8)
      return problem(kParaChannel, quoted(params.Channel) + " is not a number of channels (1..8)");
  }
  if (chosen(params.AudioBitRate) &&
      (!IsIntegerOrNumber(params.AudioBitRate) || !(NumberValue(params.AudioBitRate) > 0) ||
       NumberValue(params.AudioBitRate) > 10000))
    return problem(kParaAudioBitRate,
                   quoted(params.AudioBitRate) + " is not a bit rate (kbit/s, 1..10000)");
  if (params.Volume != kUnchangedVolume) {
    const auto volume = ParseInteger(params.Volume);
    if (!volume || *volume < 0 || *volume > 1000000)
      return problem(kParaVolume,
                     quoted(params.Volume) + " is not a volume (a whole number, 256 = unchanged)");
  }
  if (!params.HasVideo()) return std::nullopt;

  // Video: the encoder, the size, the frame rate, the bit rate.
  const std::string& venc = params.VideoEncoder;
  if (OneOf(venc, kNamedVideoCodecs) || venc == "libx264") {
    const AVCodec* video = avcodec_find_encoder_by_name(venc.c_str());
    if (!video || video->type != AVMEDIA_TYPE_VIDEO)
      return problem(kParaVideoEncoder, quoted(venc) + " is not a video encoder this program has");
  }
  if (chosen(params.VideoSize)) {
    const std::string& s = params.VideoSize;
    const size_t x = s.find('x');
    const auto w =
        x == std::string::npos ? std::nullopt : ParseInteger(std::string_view(s).substr(0, x));
    const auto h =
        x == std::string::npos ? std::nullopt : ParseInteger(std::string_view(s).substr(x + 1));
    if (w && h) {
      if (*w < 16 || *h < 16 || *w > 8192 || *h > 8192)
        return problem(kParaVideoSize, quoted(s) + " is not a picture size (16x16 to 8192x8192)");
      if (*w % 2 || *h % 2)
        return problem(kParaVideoSize,
                       quoted(s) + " is an odd size; the encoders take even widths and heights");
      const char* dvFrame = format == "ntsc-dv" ? "720x480" : format == "pal-dv" ? "720x576" : "";
      if (*dvFrame && s != dvFrame)
        return problem(kParaVideoSize, quoted(s) + " does not fit DV; its pictures are " + dvFrame);
    }
  }
  if (chosen(params.FrameRate) &&
      (!IsIntegerOrNumber(params.FrameRate) || NumberValue(params.FrameRate) < 1 ||
       NumberValue(params.FrameRate) > 240))
    return problem(kParaFrameRate,
                   quoted(params.FrameRate) + " is not a frame rate (1 to 240 pictures a second)");
  if (chosen(params.FrameRate) && (format == "ntsc-dv" || format == "pal-dv")) {
    const double dvRate = format == "ntsc-dv" ? 29.97 : 25;
    if (std::abs(NumberValue(params.FrameRate) - dvRate) > 0.01)
      return problem(kParaFrameRate, quoted(params.FrameRate) + " does not fit DV; it runs at " +
                                         (format == "ntsc-dv" ? "29.97" : "25") +
                                         " pictures a second");
  }
  if (chosen(params.VideoBitRate)) {
    const auto rate = ParseInteger(params.VideoBitRate);
    if (!rate || *rate <= 0 || *rate > 1000000)
      return problem(kParaVideoBitRate,
                     quoted(params.VideoBitRate) + " is not a bit rate (kbit/s, a whole number)");
  }
  return std::nullopt;
}

std::string ConversionAudioEncoder(const std::string& stored) {
  const std::string name(Trim(stored));
  const std::string lower = LowerCase(name);
  if (lower == "libfaac") return "aac";
  if (lower == "ogg" || lower == "vorbis") return "libvorbis";
  if (lower == "libamr_nb") return "libopencore_amrnb";
  return stored;
}

std::string LetterboxFilter(double dw, double dh, int W, int H) {
  const TPads p = LetterboxPads(dw, dh, W, H);
  return "scale=" + std::to_string(W - p.Left - p.Right) + ":" +
         std::to_string(H - p.Top - p.Bottom) + ",pad=" + std::to_string(W) + ":" +
         std::to_string(H) + ":" + std::to_string(p.Left) + ":" + std::to_string(p.Top);
}

void BuildOutputOptions(const TlvFilesRecord& record, const TFormatParams& params,
                        const std::string& catalogueFormat, TOutputOptions& out,
                        const TDVDTitleInfo& info, TJobDialogs& dialogs) {
  const std::string format = LowerCase(catalogueFormat);

  // 1. Target presets.
  ApplyTargetPresets(format, params, out);
  ApplyDVTarget(format, out);

  // 2. A format without a video encoder is audio-only.
  const std::string& venc = params.VideoEncoder;
  if (Trim(venc).empty()) {
    out.AudioCodec = ConversionAudioEncoder(params.AudioEncoder);
    if (params.Channel != kAsSource)
      if (auto value = ParseInteger(params.Channel); value && *value > 0)
        out.AudioChannels = ToInt32(*value);
    if (params.SampleRate != kAsSource)
      if (auto value = ParseInteger(params.SampleRate); value && *value > 0)
        out.AudioSampleRate = ToInt32(*value);
    if (int32_t bits = AudioBitrateOf(params.AudioBitRate); bits > 0) out.AudioBitrate = bits;
    ApplyVolume(params.Volume, out);
    out.DisableVideo = true;
    out.DisableSubtitle = true;
    return;
  }

  // 4. Video codec.
  if (OneOf(venc, kNamedVideoCodecs)) {
    out.VideoCodec = venc;
    if (venc == "mpeg2video") out.Target = 3;
  } else if (venc == "libx264") {
    out.VideoCodec = "libx264";
    if (format == "psp")
      out.VideoPreset = "libx264-psp";
    else if (format == "ipod")
      out.VideoPreset = "libx264-ipod";
    else if (format == "ps3")
      out.VideoPreset = "libx264-ps3";
    else
      out.VideoPreset = "libx264-mp4";
  }

  // 5. Video bit rate, kbit/s.
  if (params.VideoBitRate != kAsSource)
    if (auto value = ParseInteger(params.VideoBitRate); value && *value > 0)
      out.VideoBitrate = ToInt32(*value * 1000);

  // 6. Frame rate, as written.
  if (params.FrameRate != kAsSource && IsIntegerOrNumber(params.FrameRate) &&
      NumberValue(params.FrameRate) > 0)
    out.FrameRate = params.FrameRate;

  // 7. Container named by the catalogue; otherwise the extension chooses.
  if (OneOf(format, kNamedContainers)) out.FileFormat = catalogueFormat;

  // 8. Target size.
  const int sw = info.Width, sh = info.Height;
  std::string s = params.VideoSize;
  int W = sw, H = sh;
  if (s != kAsSource) {
    const size_t x = s.find('x');
    const size_t p = x == std::string::npos ? 0 : x + 1;  // 1-based
    if (p > 1 && p < s.size()) {
      W = ToInt32(ParseInteger(std::string_view(s).substr(0, x)).value_or(sw));
      H = ToInt32(ParseInteger(std::string_view(s).substr(x + 1)).value_or(sh));
      if (LowerCase(out.VideoCodec) == "h263" &&
          std::string_view("704x576,352x288,176x144,160x120,128x96").find(s) ==
              std::string_view::npos) {
        if (W >= 177 && W <= 352) {
          W = 352;
          H = 288;
        } else if (W >= 353) {
          W = 704;
          H = 576;
        }
      }
    } else if (dialogs.AskYesNo("Error output Video Size.Use the default size 320x240?",
                                "Warning")) {
      W = 320;
      H = 240;
    } else {
      s = kAsSource;
    }
  }
  const bool asSource = s == kAsSource;
  if (asSource) {
    W = sw;
    H = sh;
  }

  // 9. Crops not taken from the record are none.
  for (int32_t* crop : {&out.CropTop, &out.CropBottom, &out.CropLeft, &out.CropRight})
    if (*crop == -1) *crop = 0;

  // 10. Zoom, with every shape taken as the picture is shown. A DVD's stored size is never
  // its shape: 720x480 and 720x576 are shown as 4:3 or 16:9, so a stored pixel is `par`
  // wide (as shown) for each unit of height.
  const TDisplayAspect titleAspect = TitleDisplayAspect(info);
  const TShape title = ShapeOf(titleAspect.X, titleAspect.Y);
  const bool validSize = sw > 0 && sh > 0;
  const TShape par =
      validSize ? ShapeOf((long long)title.X * sh, (long long)title.Y * sw) : TShape{};
  // The part of the picture the crops leave, and its shape as shown.
  const int cw = std::max(1, sw - out.CropLeft - out.CropRight);
  const int ch = std::max(1, sh - out.CropTop - out.CropBottom);
  const TShape cropShape = validSize ? ShapeOf((long long)cw * par.X, (long long)ch * par.Y)
                                     : ShapeOf(std::max(1, W), std::max(1, H));
  const bool dv = format == "ntsc-dv" || format == "pal-dv";
  const bool keepsShape = ContainerKeepsShape(format) || dv;
  const bool pan = record.ZoomMode == "pan";
  // "center" and anything unknown: the picture is not fitted into the chosen size.
  const bool unfitted = record.ZoomMode != "full" && record.ZoomMode != "lbox" && !pan;

  // The output's own shape as shown. A size the user chose is shown as chosen (square
  // pixels), unless a target preset fixes the shape or the format is DV, whose frame holds
  // 4:3 or 16:9 only. "as source" keeps the title's frame where the container records the
  // pixel shape; elsewhere the picture gets square pixels at the stored height.
  TShape shown = ShapeOf(std::max(1, W), std::max(1, H));
  const TShape fourThirds{4, 3};
  if (!out.AspectRatio.empty()) {
    const size_t colon = out.AspectRatio.find(':');
    shown = ShapeOf(std::stoll(out.AspectRatio.substr(0, colon)),
                    std::stoll(out.AspectRatio.substr(colon + 1)));
  } else if (dv) {
    shown = title;
  } else if (unfitted) {
    // The picture keeps its size where the container records its shape; elsewhere it is
    // scaled to square pixels at its height.
    shown = cropShape;
    if (!keepsShape) {
      H = ch;
      W = EvenRound(H * cropShape.Value());
      shown = ShapeOf(W, H);
    }
  } else if (asSource) {
    const TShape picture = pan ? fourThirds : title;
    if (keepsShape) {
      shown = picture;
    } else {
      H = sh;
      W = EvenRound(H * picture.Value());
      shown = ShapeOf(W, H);
    }
  }
  const std::string size = std::to_string(W) + "x" + std::to_string(H);
  const std::string aspect =
      shown.Y * W == shown.X * H ? std::to_string(W) + ":" + std::to_string(H) : shown.Text();

  std::string filter;
  if (record.ZoomMode == "full") {
    out.FrameSize = size;
    out.AspectRatio = aspect;
  } else if (record.ZoomMode == "lbox") {
    // The picture in output pixels (which are shown shown.X * H / (shown.Y * W) wide):
    // the crops' height, and the width that gives it its shape.
    const long double outputPixel = shown.Value() * H / W;
    filter = LetterboxFilter(double(ch * cropShape.Value() / outputPixel), ch, W, H);
    out.AspectRatio = aspect;
  } else if (pan) {
    // Pan and scan: crop the sides (or top and bottom) so that what remains of the picture
    // has the output's shape as shown (4:3 for the usual sizes), then scale it to the
    // target size. The crop is the excess of the long side, half on each side, kept even.
    const TShape& q = shown;
    const int rw = sw - record.CropLeft - record.CropRight;
    const int rh = sh - record.CropTop - record.CropBottom;
    if (rw > 0 && rh > 0 && validSize) {
      // In whole numbers, so that a 4:3 picture in a 4:3 frame loses nothing and the
      // truncations are exact: the picture is shown rw * par.X / par.Y wide.
      const long long wide = (long long)rw * par.X * q.Y;
      const long long tall = (long long)rh * par.Y * q.X;
      if (wide > tall) {
        // Columns beyond Bv rows' worth of the shape q.
        const long long A = sw - out.CropLeft - out.CropRight;
        const long long Bv = sh - out.CropTop - out.CropBottom;
        const long long excess = (A * q.Y * par.X - Bv * q.X * par.Y) / (q.Y * par.X);
        const int k = int(std::llabs(excess) / 2);
        out.CropLeft = ((k + record.CropLeft) / 2) * 2;
        out.CropRight = out.CropLeft;
      } else if (wide < tall) {
        const long long A = sh - out.CropTop - out.CropBottom;
        const long long Bv = sw - out.CropLeft - out.CropRight;
        const long long excess = (A * par.Y * q.X - Bv * par.X * q.Y) / (par.Y * q.X);
        const int k = int(std::llabs(excess) / 2);
        out.CropTop = ((k + record.CropTop) / 2) * 2;
        out.CropBottom = out.CropTop;
      }
    }
    out.FrameSize = size;
    out.AspectRatio = aspect;
  } else {
    if (keepsShape) {
      out.AspectRatio = shown.Text();
    } else {
      out.FrameSize = size;
      out.AspectRatio = aspect;
    }
  }

  // 11. Filters.
  if (!out.VideoFilters.empty()) {
    if (!filter.empty()) out.VideoFilters += "," + filter;
  } else {
    out.VideoFilters = filter;
  }

  // 12. Audio of a video format.
  const std::string aenc = ConversionAudioEncoder(params.AudioEncoder);
  out.AudioCodec = aenc;
  if (Trim(aenc).empty()) out.DisableAudio = true;
  if (params.Channel != kAsSource)
    if (auto value = ParseInteger(params.Channel)) out.AudioChannels = ToInt32(*value);
  ApplyVolume(params.Volume, out);
  if (params.SampleRate != kAsSource)
    if (auto value = ParseInteger(params.SampleRate); value && *value > 0)
      out.AudioSampleRate = ToInt32(*value);
  if (int32_t bits = AudioBitrateOf(params.AudioBitRate); bits > 0) out.AudioBitrate = bits;
}

std::string MakeOutputFileName(const TGlobalObject& global, const std::string& caption,
                               const std::string& ext, TJobDialogs& dialogs,
                               const std::string& dirOverride) {
  const bool fromSettings = dirOverride.empty();
  std::string dir = fromSettings ? global.Settings().OutPutDir() : dirOverride;
  std::error_code error;
  fs::create_directories(dir, error);
  // A folder that exists but takes no files would make every output fail to open, so it
  // falls back like a folder that cannot be created.
  if (!fs::is_directory(dir, error) || !CanWriteToFolder(dir)) {
    const std::string fallback = DefaultVideoFolder();
    dialogs.ShowWarning("Cannot create output directory:" + dir +
                            ".It will create default directory " + fallback + "!",
                        "Warning");
    fs::create_directories(fallback, error);
    if (fromSettings) {
      // Remembered for the next run when the settings can be written; this run uses the
      // fallback either way.
      try {
        TSettingsStore settings = global.Settings();
        settings.SetOutPutDir(fallback);
      } catch (const EIniFileException&) {
      }
    }
    dir = fallback;
  }
  if (dir.empty() || dir.back() != '/') dir += '/';

  const std::string base = dir + fs::path(caption).filename().replace_extension().string();
  for (int n = 0;; ++n) {
    const std::string name = base + (n == 0 ? "_(new)" : "_(new_" + std::to_string(n) + ")") + ext;
    // Anything at the name is taken, a link to nothing included (writing through it would
    // put the output somewhere else). The name is claimed by creating the file exclusively,
    // so a run started at the same moment takes the next one.
    if (fs::exists(fs::symlink_status(name, error))) continue;
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      return name;
    }
    if (errno != EEXIST) return name;  // the output's own open will say why
  }
}
