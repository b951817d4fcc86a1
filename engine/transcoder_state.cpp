// Transcoder state: construction, Reset, Cleanup, the run's outer steps and its flags.
#include <cstdarg>
#include <cstdio>
#include <filesystem>

#include <cstdint>

extern "C" {
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "engine/run_state.h"
#include "engine/transcoder.h"
#include "media/loader.h"
#include "media/logger.h"

void RaiseFFmpeg(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatTextV(format, args);
  va_end(args);
  throw FFmpegException(text);
}

const char* MediaTypeText(AVMediaType type) {
  const char* text = av_get_media_type_string(type);
  return text ? text : "unknown";
}

std::mutex& PreviewLock() {
  static std::mutex lock;
  return lock;
}

TCustomTranscoder::TCustomTranscoder() {
  Reset();
}

TCustomTranscoder::~TCustomTranscoder() {
  try {
    CloseOpenCodecs();
    Cleanup();
  } catch (...) {
  }
}

void TCustomTranscoder::Reset() {
  Cleanup();
  FSettings = TTranscoderSettings();
  FJoin = false;
  FUseFilters = false;
  FExpectedDuration = -1;
  FLastError.clear();
  FRunning = false;
  FStopRequested = false;
  FFinished = false;
  FTerminated = false;
  FFailed = false;
  {
    std::lock_guard lock(FFlagsMutex);
    FErrorMessage.clear();
    FPaused = false;
  }
  FVideoSize = FAudioSize = FExtraSize = 0;
  FDupFrames = FDropFrames = 0;
  FCountsChanged = false;
  FFrameNumber = 0;
  FFramesHooked = false;
  FHookDisabled = false;
  FRunReport.clear();

  static const AVMediaType kTypes[5] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA,
                                        AVMEDIA_TYPE_SUBTITLE, AVMEDIA_TYPE_ATTACHMENT};
  for (int i = 0; i < 5; ++i) {
    FOptCodec[i].reset(avcodec_alloc_context3(nullptr));
    if (!FOptCodec[i]) throw FFmpegException("avcodec_alloc_context failed");
    FOptCodec[i]->codec_type = kTypes[i];
    FPrivateCodecOptions[i].reset();
  }
  FOptFormat.reset(avformat_alloc_context());
  if (!FOptFormat) throw FFmpegException("avformat_alloc_context failed");
  FOptSws.reset(sws_alloc_context());
  if (!FOptSws) throw FFmpegException("Cannot get resampling context");
  av_opt_set_int(FOptSws.get(), "sws_flags", SWS_BICUBIC, 0);
  FPrivateFormatOptions.reset();
  FOptNames.clear();
  FOptTypes.clear();
}

void TCustomTranscoder::Cleanup() {
  if (FRun) FRun->Stage.reset();  // its thread works on the run's tables
  FRun.reset();
  for (auto& context : FOptCodec) context.reset();
  FOptFormat.reset();
  FOptSws.reset();

  // Outputs: in join mode the entries share one file, closed once.
  std::vector<TOutputFile*> closed;
  for (auto& output : FOutputs) {
    TOutputFile* file = output.get();
    if (!file || std::find(closed.begin(), closed.end(), file) != closed.end()) continue;
    closed.push_back(file);
    AVFormatContext* context = file->Context.get();
    if (context && context->oformat && !(context->oformat->flags & AVFMT_NOFILE) && context->pb)
      avio_closep(&context->pb);
    file->Streams.clear();
    file->Context.reset();
    // A failed or empty conversion leaves no empty file behind, nor one that holds a
    // header and nothing else (a run stopped before anything was encoded): no player can
    // read such a file. Only regular files: an output such as /dev/null or /dev/full must
    // never be removed.
    std::error_code error;
    const std::filesystem::path path(file->FileName);
    if (!file->FileName.empty() && std::filesystem::is_regular_file(path, error) &&
        (file->PacketsWritten == 0 || (std::filesystem::file_size(path, error) == 0 && !error)))
      std::filesystem::remove(path, error);
  }
  FOutputs.clear();
  FInputs.clear();
  FVStatsFile.reset();
  FSettings.VideoCodecName.clear();
  FSettings.AudioCodecName.clear();
  FSettings.SubtitleCodecName.clear();
  FSettings.VideoStandard.clear();
  FSettings.VideoLanguage.clear();
  FSettings.AudioLanguage.clear();
  FSettings.SubtitleLanguage.clear();
  ReleaseHookLibraries(FHooks);
  FPreviewConverter.Reset();
  FPreBuffer.reset();
}

const AVCodecContext* TCustomTranscoder::OptionCodecContext(AVMediaType type) const {
  const int index = TypeIndex(type);
  return index < 0 ? nullptr : FOptCodec[index].get();
}

const AVDictionary* TCustomTranscoder::PrivateCodecOptions(AVMediaType type) const {
  const int index = TypeIndex(type);
  return index < 0 ? nullptr : FPrivateCodecOptions[index].get();
}

int TCustomTranscoder::ScalerFlags() const {
  int64_t flags = SWS_BICUBIC;
  if (FOptSws) av_opt_get_int(FOptSws.get(), "sws_flags", 0, &flags);
  return int(flags);
}

int TCustomTranscoder::TypeIndex(AVMediaType type) {
  switch (type) {
    case AVMEDIA_TYPE_VIDEO:
      return 0;
    case AVMEDIA_TYPE_AUDIO:
      return 1;
    case AVMEDIA_TYPE_DATA:
      return 2;
    case AVMEDIA_TYPE_SUBTITLE:
      return 3;
    case AVMEDIA_TYPE_ATTACHMENT:
      return 4;
    default:
      return -1;
  }
}

// ---- Run flags ----

std::string TCustomTranscoder::ErrorMessage() const {
  std::lock_guard lock(FFlagsMutex);
  return FErrorMessage;
}

void TCustomTranscoder::RecordFailure(const std::string& message) {
  GlobalLogger().Log(this, llQuiet, message);
  FFailed = true;
  std::lock_guard lock(FFlagsMutex);
  FErrorMessage = message;
}

bool TCustomTranscoder::Start() {
  if (FRunning || FTerminated) return false;
  const char* refusal = nullptr;
  if (FOutputs.empty())
    refusal = "At least one output file must be specified";
  else if (FInputs.empty())
    refusal = "At least one input file must be specified";
  if (refusal) {
    RecordFailure(refusal);
    Terminate();
    return false;
  }
  FRunning = true;
  FStopRequested = false;
  FFinished = false;
  FTerminated = false;
  return true;
}

void TCustomTranscoder::Run() {
  FFinished = false;
  // Each step is guarded on its own so that the codecs opened before a failure are closed
  // and the files are closed whatever happened; the last failing step's text wins.
  auto guarded = [this](auto&& step) {
    try {
      step();
    } catch (const std::exception& e) {
      RecordFailure(e.what());
    } catch (...) {
      RecordFailure("Unknown error");
    }
  };
  guarded([this] { Transcode(); });
  guarded([this] { CloseOpenCodecs(); });
  guarded([this] { Cleanup(); });
  guarded([this] { Terminate(); });
}

void TCustomTranscoder::Terminate() {
  FRunning = false;
  FTerminated = true;
  if (OnTerminate) {
    TTerminateInfo info;
    info.Finished = FFinished;
    info.Failed = FFailed;
    info.ErrorMessage = ErrorMessage();
    OnTerminate(info);
  }
}

void TCustomTranscoder::RequestStop() {
  FStopRequested = true;
  std::lock_guard lock(FFlagsMutex);
  FPaused = false;
  FPauseChanged.notify_all();
}

void TCustomTranscoder::SetPaused(bool paused) {
  std::lock_guard lock(FFlagsMutex);
  FPaused = paused && !FStopRequested;
  FPauseChanged.notify_all();
}

void TCustomTranscoder::WaitWhilePaused() {
  std::unique_lock lock(FFlagsMutex);
  FPauseChanged.wait(lock, [this] { return !FPaused || FStopRequested; });
}

int TCustomTranscoder::PreviewFlags() const {
  std::lock_guard lock(PreviewLock());
  return FPreviewFlagsValue;
}

void TCustomTranscoder::SetPreviewFlags(int flags) {
  std::unique_ptr<TPreviewWindow> discarded;
  std::lock_guard lock(PreviewLock());
  FPreviewFlagsValue = flags & 3;
  if (!(flags & kPreviewWindowBit)) discarded = std::move(FPreviewWindow);
}
