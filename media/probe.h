// The media probe: opens an input (or takes one another component opened), counts its
// streams by kind and describes it. The player keeps one probe attached to the file it
// plays; each conversion job keeps one per input.
//
// Threads: a probe is used from one thread at a time (the main thread for the player's and
// the application's probes, the job's thread for a job's). Stream-information reads and
// codec closes take CodecLock(). Failures are logged through GlobalLogger() with the
// probe as sender and kept in LastError().
#pragma once

#include <cstdint>
#include <string>

#include "media/ffmpeg_ptr.h"
#include "media/media_component.h"

struct TFileStreamInfo {
  int64_t StartTime = -1;  // microseconds; -1 when unknown
  int64_t Duration = -1;   // microseconds; -1 when unknown
  int32_t BitRate = -1;    // bits per second, as the format library reports it
  int64_t TimeStamp = -1;  // creation time, seconds since 1970-01-01 UTC; 0 when absent
  int32_t Year = -1;       // 0 when absent
  int32_t Track = -1;      // 0 when absent
  std::string Title, Author, Copyright, Comment, Album, Genre;
};

struct TVideoStreamInfo {
  std::string Language;
  std::string CodecName;         // see CodecDescription (media/probe_text.h)
  int64_t StartTime = -1;        // stream time base; -1 when unknown
  int64_t StartTimeMicros = -1;  // -1 when unknown
  int64_t Duration = -1;         // stream time base; -1 when unknown
  int64_t DurationMicros = -1;   // -1 when unknown
  int32_t BitRate = -1;
  int32_t Height = -1;  // coded height before width; read them by name
  int32_t Width = -1;
  // sample aspect ratio x Width / Height; 0 for an unknown (0/1) sample aspect ratio;
  // -1 when not filled or when the ratio cannot be formed (zero height or denominator).
  float DisplayAspectRatio = -1.0f;
  int32_t PixelFormat = -1;   // AVPixelFormat
  int32_t FrameRateNum = -1;  // the stream's base frame rate (r_frame_rate)
  int32_t FrameRateDen = -1;
};

class TCustomMediaProbe : public TMediaComponent {
 public:
  explicit TCustomMediaProbe(TMediaComponent* owner = nullptr);
  ~TCustomMediaProbe() override;

  // Opens `AFileName` through OpenMediaInput, so plain files, names that need the
  // "unicode:utf8:" form and registered input schemes ("opendvd:...") all work, and reads
  // the stream information. `AFormatName` forces an input format; empty lets the library
  // detect it. Returns false with LastError() set and the probe closed on any failure.
  // Throws std::runtime_error when a library is not loaded (see CheckLibraries).
  bool OpenMedia(const std::string& AFileName, const std::string& AFormatName = std::string());
  // Takes a context another component opened and keeps it open: the probe never closes it.
  // The owner must close or re-attach the probe before closing the context.
  virtual void AttachContext(AVFormatContext* context);
  // Forgets the file, closing it only when the probe opened it. Safe when closed.
  virtual void CloseMedia();

  // Without a file: every number -1, strings empty, and "file not loaded." is logged.
  void ReadFileInfo(TFileStreamInfo& AInfo);
  // AIndex < 0 means FirstVideoStream(). On a bad index or a stream that is not video the
  // record stays preset and the reason is logged.
  void ReadVideoInfo(int AIndex, TVideoStreamInfo& AInfo);
  bool StreamIsVideo(int AIndex);
  // The whole file in the manner of the library's stream dump, lines joined by "\n" (no
  // line break after the last). Empty without a file.
  void DescribeFile(std::string& AText);
  std::string DescribeFile() {
    std::string text;
    DescribeFile(text);
    return text;
  }

  // Throws std::runtime_error("LibAVCodec not loaded.") (then LibAVFormat, LibAVUtil,
  // LibSwScale) for the first of those libraries the loader has not loaded.
  void CheckLibraries();

  AVFormatContext* FormatContext() const { return FFormatContext; }
  bool OwnsContext() const { return FOwnsContext; }
  const std::string& LastError() const { return FLastError; }
  const std::string& FormatName() const { return FFormatName; }
  // All of these are -1 while no file is open.
  int64_t FileSize() const { return FFileSize; }
  int32_t StreamCount() const { return FStreamCount; }
  int32_t ProgramCount() const { return FProgramCount; }
  int32_t AudioStreamCount() const { return FAudioStreamCount; }
  int32_t VideoStreamCount() const { return FVideoStreamCount; }
  int32_t SubtitleStreamCount() const { return FSubtitleStreamCount; }
  int32_t FirstAudioStream() const { return FFirstAudioStream; }
  int32_t FirstVideoStream() const { return FFirstVideoStream; }
  int32_t FirstSubtitleStream() const { return FFirstSubtitleStream; }

 protected:
  // Recounts everything from the held context (all -1 without one).
  virtual void CollectInfo();
  // Logs `text` at the level of the library number `libraryLevel` and keeps it as
  // LastError().
  void ReportError(int libraryLevel, const std::string& text);

 private:
  std::string StreamLine(unsigned index) const;

  AVFormatContext* FFormatContext = nullptr;
  MediaInputPtr FOwnedContext;  // set when the probe opened FFormatContext itself
  bool FOwnsContext = false;
  std::string FLastError;
  std::string FFormatName;
  int64_t FFileSize = -1;
  int32_t FStreamCount = -1;
  int32_t FProgramCount = -1;
  int32_t FAudioStreamCount = -1;
  int32_t FVideoStreamCount = -1;
  int32_t FSubtitleStreamCount = -1;
  int32_t FFirstAudioStream = -1;
  int32_t FFirstVideoStream = -1;
  int32_t FFirstSubtitleStream = -1;
};

class TMediaProbe : public TCustomMediaProbe {
 public:
  using TCustomMediaProbe::TCustomMediaProbe;
  ~TMediaProbe() override;

  void CloseMedia() override;

  // The first video stream, else the first audio stream, else -1.
  int32_t DefaultStream() const { return FDefaultStream; }
  // The default stream's start time in its time base, or the file's in microseconds when
  // there is no default stream; 0 when the library has none.
  int64_t DefaultStartTime() const { return FDefaultStartTime; }

 protected:
  void CollectInfo() override;

  // A decoder of the default video stream and a scaler for its pictures, for code that
  // shows frames of the probed file; released (the decoder under CodecLock()) on close.
  AVCodecContextPtr FVideoCodecContext;
  SwsContextPtr FPictureConverter;

 private:
  int32_t FDefaultStream = -1;
  int64_t FDefaultStartTime = 0;
};
