#include "media/probe.h"

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/parseutils.h>
}

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "media/file_names.h"
#include "media/io_scheme.h"
#include "media/loader.h"
#include "media/logger.h"
#include "media/probe_text.h"
#include "media/strings.h"

namespace {

constexpr int kLevelError = 16;    // AV_LOG_ERROR
constexpr int kLevelWarning = 24;  // AV_LOG_WARNING
constexpr char kNotLoaded[] = "file not loaded.";

int32_t ClampToInt32(int64_t value) {
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return int32_t(value);
}

int64_t KnownOrMinusOne(int64_t value) {
  return value == AV_NOPTS_VALUE ? -1 : value;
}

// A time base that can be divided by: a zero denominator takes the numerator, and 1 when
// that is zero too.
AVRational UsableTimeBase(AVRational tb) {
  if (tb.den == 0) {
    tb.den = tb.num != 0 ? tb.num : 1;
    if (tb.num == 0) tb.num = 1;
  }
  return tb;
}

// The leading number of a metadata value ("2009-05-01" -> 2009, "3/12" -> 3); 0 when absent.
int32_t LeadingNumber(const std::string& text) {
  return text.empty() ? 0 : ClampToInt32(std::strtoll(text.c_str(), nullptr, 10));
}

// "yyyy-mm-dd hh:nn:ss" in the system's time zone.
std::string LocalTimeText(int64_t seconds) {
  const std::time_t t = std::time_t(seconds);
  std::tm local{};
  if (!localtime_r(&t, &local)) return std::to_string(seconds);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string FileNameOfContext(const AVFormatContext* ctx) {
  return WideFileNameOf(ctx->url ? ctx->url : "");
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TCustomMediaProbe

TCustomMediaProbe::TCustomMediaProbe(TMediaComponent* owner) : TMediaComponent(owner) {}

TCustomMediaProbe::~TCustomMediaProbe() {
  TCustomMediaProbe::CloseMedia();
}

void TCustomMediaProbe::CheckLibraries() {
  if (!LibraryLoaded(liAVCodec)) throw std::runtime_error("LibAVCodec not loaded.");
  if (!LibraryLoaded(liAVFormat)) throw std::runtime_error("LibAVFormat not loaded.");
  if (!LibraryLoaded(liAVUtil)) throw std::runtime_error("LibAVUtil not loaded.");
  if (!LibraryLoaded(liSWScale)) throw std::runtime_error("LibSwScale not loaded.");
}

void TCustomMediaProbe::ReportError(int libraryLevel, const std::string& text) {
  GlobalLogger().Log(this, LibraryToLogLevel(libraryLevel), text);
  FLastError = text;
}

bool TCustomMediaProbe::OpenMedia(const std::string& AFileName, const std::string& AFormatName) {
  CheckLibraries();
  CloseMedia();

  const AVInputFormat* format = nullptr;
  if (!AFormatName.empty()) {
    format = av_find_input_format(AFormatName.c_str());
    if (!format) {
      FLastError = "Unknown input format: " + AFormatName;
      return false;
    }
  }

  // Opened blocking: the only reads here are avformat_find_stream_info's, which would spin
  // on a non-blocking source that has nothing yet.
  AVFormatContext* ctx = nullptr;
  int ret = OpenMediaInput(&ctx, LibraryFileNameOf(AFileName), format, nullptr);
  if (ret < 0) {
    ReportError(kLevelError, FormatErrorMessage(AFileName, ret));
    CloseMedia();
    return false;
  }
  FOwnedContext.reset(ctx);
  FFormatContext = ctx;
  FOwnsContext = true;

  {
    std::lock_guard lock(CodecLock());
    ret = avformat_find_stream_info(ctx, nullptr);
  }
  if (ret < 0) {
    // Kept before CloseMedia so that the reason survives the close.
    const std::string error = AFileName + ": could not find codec parameters";
    CloseMedia();
    FLastError = error;
    return false;
  }

  CollectInfo();
  FFormatName = AFormatName;
  return true;
}

void TCustomMediaProbe::AttachContext(AVFormatContext* context) {
  CheckLibraries();
  CloseMedia();
  FFormatContext = context;
  FOwnsContext = false;
  CollectInfo();
}

void TCustomMediaProbe::CloseMedia() {
  FFormatName.clear();
  if (FOwnsContext) FOwnedContext.reset();
  FOwnedContext.release();  // an attached context belongs to its opener
  FFormatContext = nullptr;
  FOwnsContext = false;
  CollectInfo();
}

void TCustomMediaProbe::CollectInfo() {
  FFileSize = -1;
  FStreamCount = FProgramCount = -1;
  FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = -1;
  FFirstAudioStream = FFirstVideoStream = FFirstSubtitleStream = -1;
  const AVFormatContext* ctx = FFormatContext;
  if (!ctx) return;

  // The I/O context knows the size of any input, a scheme's stream included; the file
  // behind the name is asked only when it cannot tell.
  const int64_t ioSize = ctx->pb ? avio_size(ctx->pb) : -1;
  if (ioSize > 0) {
    FFileSize = ioSize;
  } else {
    std::error_code ec;
    const std::filesystem::path path = FileNameOfContext(ctx);
    if (!path.empty() && std::filesystem::is_regular_file(path, ec)) {
      const auto size = std::filesystem::file_size(path, ec);
      FFileSize = ec ? -1 : int64_t(size);
    } else {
      FFileSize = ioSize < 0 ? -1 : ioSize;
    }
  }

  FStreamCount = int32_t(ctx->nb_streams);
  FProgramCount = int32_t(ctx->nb_programs);
  FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = 0;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    switch (ctx->streams[i]->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        ++FVideoStreamCount;
        if (FFirstVideoStream < 0) FFirstVideoStream = int32_t(i);
        break;
      case AVMEDIA_TYPE_AUDIO:
        ++FAudioStreamCount;
        if (FFirstAudioStream < 0) FFirstAudioStream = int32_t(i);
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        ++FSubtitleStreamCount;
        if (FFirstSubtitleStream < 0) FFirstSubtitleStream = int32_t(i);
        break;
      default:
        break;
    }
  }
}

void TCustomMediaProbe::ReadFileInfo(TFileStreamInfo& AInfo) {
  AInfo = TFileStreamInfo();
  AInfo.Title = AInfo.Author = AInfo.Copyright = AInfo.Comment = AInfo.Album = AInfo.Genre = "";
  const AVFormatContext* ctx = FFormatContext;
  if (!ctx) {
    ReportError(kLevelWarning, kNotLoaded);
    return;
  }
  AInfo.StartTime = KnownOrMinusOne(ctx->start_time);
  AInfo.Duration = KnownOrMinusOne(ctx->duration);
  AInfo.BitRate = ClampToInt32(ctx->bit_rate);

  const AVDictionary* meta = ctx->metadata;
  AInfo.TimeStamp = 0;
  const std::string created = MetadataValue(meta, "creation_time");
  int64_t createdMicros = 0;
  if (!created.empty() && av_parse_time(&createdMicros, created.c_str(), 0) >= 0)
    AInfo.TimeStamp = createdMicros / 1000000;
  // Demuxers of today name the older "year" and "author" fields "date" and "artist".
  AInfo.Year = LeadingNumber(MetadataValue(meta, "year", MetadataValue(meta, "date")));
  AInfo.Track = LeadingNumber(MetadataValue(meta, "track"));
  AInfo.Title = MetadataValue(meta, "title");
  AInfo.Author = MetadataValue(meta, "author", MetadataValue(meta, "artist"));
  AInfo.Copyright = MetadataValue(meta, "copyright");
  AInfo.Comment = MetadataValue(meta, "comment");
  AInfo.Album = MetadataValue(meta, "album");
  AInfo.Genre = MetadataValue(meta, "genre");
}

void TCustomMediaProbe::ReadVideoInfo(int AIndex, TVideoStreamInfo& AInfo) {
  AInfo = TVideoStreamInfo();
  AVFormatContext* ctx = FFormatContext;
  if (!ctx) {
    ReportError(kLevelWarning, kNotLoaded);
    return;
  }
  if (AIndex >= FStreamCount) {
    ReportError(kLevelError, FormatText("stream index #%d is invalid.", AIndex));
    return;
  }
  if (AIndex < 0) {
    AIndex = FFirstVideoStream;
    if (AIndex < 0) {
      ReportError(kLevelError, "no video stream.");
      return;
    }
  }
  AVStream* st = ctx->streams[AIndex];
  const AVCodecParameters* par = st->codecpar;
  if (par->codec_type != AVMEDIA_TYPE_VIDEO) {
    ReportError(kLevelError, FormatText("stream #%d is not video stream.", AIndex));
    return;
  }

  AInfo.Language = MetadataValue(st->metadata, "language");
  AInfo.CodecName = CodecDescription(par);
  st->time_base = UsableTimeBase(st->time_base);
  AInfo.StartTime = KnownOrMinusOne(st->start_time);
  if (st->start_time != AV_NOPTS_VALUE)
    AInfo.StartTimeMicros = av_rescale_q(st->start_time, st->time_base, AV_TIME_BASE_Q);
  AInfo.Duration = KnownOrMinusOne(st->duration);
  if (st->duration != AV_NOPTS_VALUE)
    AInfo.DurationMicros = av_rescale_q(st->duration, st->time_base, AV_TIME_BASE_Q);
  AInfo.BitRate = ClampToInt32(par->bit_rate);
  AInfo.Height = par->height;
  AInfo.Width = par->width;
  // The container's ratio when it has one (YUV4MPEG, Matroska), else the codec's.
  const AVRational sar = av_guess_sample_aspect_ratio(ctx, st, nullptr);
  if (par->height != 0 && sar.den != 0)
    AInfo.DisplayAspectRatio = float(av_q2d(sar) * par->width / par->height);
  AInfo.PixelFormat = par->format;
  AInfo.FrameRateNum = st->r_frame_rate.num;
  AInfo.FrameRateDen = st->r_frame_rate.den;
}

bool TCustomMediaProbe::StreamIsVideo(int AIndex) {
  if (!FFormatContext) {
    ReportError(kLevelWarning, kNotLoaded);
    return false;
  }
  if (AIndex < 0 || AIndex >= FStreamCount) {
    ReportError(kLevelError, FormatText("stream index #%d is invalid.", AIndex));
    return false;
  }
  return FFormatContext->streams[AIndex]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
}

std::string TCustomMediaProbe::StreamLine(unsigned index) const {
  const AVFormatContext* ctx = FFormatContext;
  const AVStream* st = ctx->streams[index];
  const AVCodecParameters* par = st->codecpar;

  std::string line = FormatText("Stream #%u", index);
  if (ctx->iformat && (ctx->iformat->flags & AVFMT_SHOW_IDS)) line += FormatText("[0x%x]", st->id);
  const std::string language = MetadataValue(st->metadata, "language");
  if (!language.empty()) line += "(" + language + ")";
  int64_t divisor = av_gcd(st->time_base.num, st->time_base.den);
  if (divisor == 0) divisor = 1;
  line += FormatText(", %" PRId64 "/%" PRId64, st->time_base.num / divisor,
                     st->time_base.den / divisor);

  // The library's summary is made from a codec context; the parameters are all it needs.
  AVCodecContextPtr codec(avcodec_alloc_context3(nullptr));
  char summary[256] = {};
  if (codec && avcodec_parameters_to_context(codec.get(), par) >= 0)
    avcodec_string(summary, sizeof summary, codec.get(), 0);
  line += ": ";
  line += summary;

  const AVRational sar = st->sample_aspect_ratio;
  if (sar.num != 0 && av_cmp_q(sar, par->sample_aspect_ratio) != 0) {
    int darNum = 0, darDen = 0;
    av_reduce(&darNum, &darDen, int64_t(par->width) * sar.num, int64_t(par->height) * sar.den,
              1024 * 1024);
    line += FormatText(", PAR %d:%d DAR %d:%d", sar.num, sar.den, darNum, darDen);
  }

  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    line += RatePiece(st->avg_frame_rate, "fps");
    line += RatePiece(st->r_frame_rate, "tbr");
    line += RatePiece(av_inv_q(st->time_base), "tbn");
    // A context built from parameters has no codec time base (0/1) unless the demuxer
    // gave one, so the piece appears only when there is something true to show.
    line += RatePiece(av_inv_q(codec ? codec->time_base : AVRational{0, 1}), "tbc");
  }

  const AVRational tb = UsableTimeBase(st->time_base);
  if (st->start_time != AV_NOPTS_VALUE)
    line += ", StartTime: " + FormatSecondsMicros(av_rescale_q(st->start_time, tb, AV_TIME_BASE_Q));
  if (st->duration != AV_NOPTS_VALUE)
    line += ", Duration: " + FormatDuration(av_rescale_q(st->duration, tb, AV_TIME_BASE_Q));
  else
    line += ", Duration: N/A";
  return line + "\n" + MetadataBlock(st->metadata, "  ");
}

void TCustomMediaProbe::DescribeFile(std::string& AText) {
  AText.clear();
  const AVFormatContext* ctx = FFormatContext;
  if (!ctx) {
    ReportError(kLevelWarning, kNotLoaded);
    return;
  }
  std::string text;
  text += "File Name: " + FileNameOfContext(ctx) + "\n";
  text += std::string("Format Name: ") + (ctx->iformat ? ctx->iformat->name : "") + "\n";
  text += std::string("Format Long Name: ") +
          (ctx->iformat && ctx->iformat->long_name ? ctx->iformat->long_name : "") + "\n";
  // An input whose size nobody can tell (a pipe, a scheme without a size) is N/A, not
  // "-1 Byte".
  text += "File Size: " + (FFileSize < 0 ? std::string("N/A") : FormatFileSize(FFileSize)) + "\n";
  if (ctx->duration != AV_NOPTS_VALUE && ctx->duration >= 0)
    text += "Duration: " + FormatDuration(ctx->duration) + "\n";
  else
    text += "Duration: N/A\n";
  if (ctx->start_time != AV_NOPTS_VALUE && ctx->start_time >= 0)
    text += "StartTime: " + FormatSecondsMicros(ctx->start_time) + "\n";
  if (ctx->bit_rate >= 1)
    text += FormatText("Bit Rate: %" PRId64 " kb/s\n", ctx->bit_rate / 1000);
  else
    text += "Bit Rate: N/A\n";

  TFileStreamInfo info;
  const std::string savedError = FLastError;
  ReadFileInfo(info);
  FLastError = savedError;
  if (info.TimeStamp > 0) text += "Time Stamp: " + LocalTimeText(info.TimeStamp) + "\n";

  text += MetadataBlock(ctx->metadata, "");

  std::vector<bool> printed(ctx->nb_streams, false);
  for (unsigned p = 0; p < ctx->nb_programs; ++p) {
    const AVProgram* program = ctx->programs[p];
    // The transport-stream demuxer of today keeps the older "provider_name" and "name"
    // under "service_provider" and "service_name".
    const AVDictionary* meta = program->metadata;
    text += FormatText("Program %d ", program->id) +
            MetadataValue(meta, "provider_name", MetadataValue(meta, "service_provider", "N/A")) +
            "@" + MetadataValue(meta, "name", MetadataValue(meta, "service_name", "N/A")) + "\n";
    text += MetadataBlock(program->metadata, "  ");
    for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
      const unsigned index = program->stream_index[k];
      if (index >= ctx->nb_streams) continue;
      text += StreamLine(index);
      printed[index] = true;
    }
  }
  for (unsigned i = 0; i < ctx->nb_streams; ++i)
    if (!printed[i]) text += StreamLine(i);

  if (!text.empty() && text.back() == '\n') text.pop_back();
  AText = std::move(text);
}

// ---------------------------------------------------------------------------------------
// TMediaProbe

TMediaProbe::~TMediaProbe() {
  TMediaProbe::CloseMedia();
}

void TMediaProbe::CloseMedia() {
  FDefaultStream = -1;
  FDefaultStartTime = 0;
  if (FVideoCodecContext) {
    std::lock_guard lock(CodecLock());
    FVideoCodecContext.reset();
  }
  FPictureConverter.reset();
  TCustomMediaProbe::CloseMedia();
}

void TMediaProbe::CollectInfo() {
  TCustomMediaProbe::CollectInfo();
  FDefaultStream = FirstVideoStream() >= 0 ? FirstVideoStream() : FirstAudioStream();
  FDefaultStartTime = 0;
  const AVFormatContext* ctx = FormatContext();
  if (!ctx) return;
  const int64_t start =
      FDefaultStream >= 0 ? ctx->streams[FDefaultStream]->start_time : ctx->start_time;
  FDefaultStartTime = start == AV_NOPTS_VALUE ? 0 : start;
}
