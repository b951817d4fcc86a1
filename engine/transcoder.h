// TCustomTranscoder: one conversion job's engine. Options set pending values; opening an input
// consumes the pending input values; opening an output creates its streams from the pending
// output values; Transcode prepares the streams and codecs, converts, and closes everything.
//
// Threads: the set-up calls (Reset, ParseOption and the other option calls, OpenInputFile,
// OpenOutputFile, the New*Stream calls) run on the application's thread while no run is in
// progress. Run/Transcode run on one thread (the job's worker, or the caller's); everything
// the run touches belongs to that thread until it returns. From any thread, at any time:
// RequestStop, SetPaused, SetPreviewFlags/PreviewFlags (under the process-wide preview lock)
// and the flag queries (Running, Terminated, ...). Callbacks are called on the run's thread.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/ffmpeg_exception.h"
#include "engine/hook_libraries.h"
#include "engine/hook_lookahead.h"
#include "engine/transcoder_events.h"
#include "media/ffmpeg_ptr.h"
#include "media/frame_converter.h"

constexpr int kMaxFiles = 20;
constexpr int kMaxStreams = 20;
constexpr int kMaxStreamMaps = 400;
constexpr int kMaxMetaDataMaps = 20;

// Preview flags (PreviewFlags): pictures shown in a preview window, handed out as bitmaps.
constexpr int kPreviewWindowBit = 1;
constexpr int kPreviewBitmapBit = 2;

struct TStreamMap {
  int FileIndex = 0;
  int StreamIndex = 0;
  int SyncFileIndex = 0;
  int SyncStreamIndex = 0;
};

struct TMetaDataMap {
  int OutFile = 0;
  int InFile = 0;
};

// The pending values the options set. Reset restores these defaults.
struct TTranscoderSettings {
  // General
  int Verbose = 1;
  bool ExitOnError = false;  // "xerror"
  bool DoPktDump = false;    // "dump"
  bool DoHexDump = false;    // "hex"
  bool DoPSNR = false;
  int DoPass = 0;
  std::string PassLogFileName;  // empty: "ffmpeg2pass"
  std::string VStatsFileName;
  bool InputSync = false;  // "isync"
  bool CopyTs = false;
  bool Shortest = false;
  bool CopyInitialNonKeyFrames = false;
  bool RateEmu = false;  // "re"
  bool LoopInput = false;
  int LoopOutput = -1;
  double DtsDeltaThreshold = 10.0;
  float MuxPreload = 0.5f;
  float MuxMaxDelay = 0.7f;
  int64_t LimitFileSize = 0;  // 0: none
  int ProgramId = 0;          // 0: none
  bool QpHist = false;

  // Files, maps and times
  std::string FormatName;  // for the next input or output
  bool PgmYuv = false;
  std::vector<TStreamMap> StreamMaps;
  std::vector<TMetaDataMap> MetaDataMaps;
  std::array<int, kMaxStreams> StreamIds{};                   // of the next output file
  std::vector<std::pair<std::string, std::string>> Metadata;  // for the next output file
  int64_t RecordingTime = INT64_MAX;                          // microseconds; INT64_MAX: none
  int64_t StartTime = 0;
  int64_t RecordingTimestamp = 0;  // seconds since 1970
  int64_t InputTsOffset = 0;
  // Per input file number, per stream: time-scale factor (0: none).
  std::array<std::array<double, kMaxStreams>, kMaxFiles> TimeScales{};
  int64_t MaxFrames[3] = {INT64_MAX, INT64_MAX, INT64_MAX};  // video, audio, data

  // Codec choices
  std::string VideoCodecName, AudioCodecName, SubtitleCodecName;
  bool VideoStreamCopy = false, AudioStreamCopy = false, SubtitleStreamCopy = false;
  std::vector<std::string> VideoBitstreamFilters, AudioBitstreamFilters, SubtitleBitstreamFilters;

  // Picture
  int FrameWidth = 0;
  int FrameHeight = 0;
  float FrameAspectRatio = 0;
  // The "aspect" option set FrameAspectRatio (rather than an opened input): the output's
  // picture is shown in that shape whatever filters make of it.
  bool FrameAspectRatioGiven = false;
  AVPixelFormat FramePixFmt = AV_PIX_FMT_NONE;
  int TopBand = 0, BottomBand = 0, LeftBand = 0, RightBand = 0;
  AVRational FrameRate = {0, 0};
  float VideoQScale = 0;
  std::vector<uint16_t> IntraMatrix, InterMatrix;  // 64 each when set
  std::string VideoRcOverride;
  bool VideoDisable = false, AudioDisable = false, SubtitleDisable = false;
  int VideoDiscard = 0;
  uint32_t VideoCodecTag = 0, AudioCodecTag = 0, SubtitleCodecTag = 0;
  std::string VideoLanguage, AudioLanguage, SubtitleLanguage;
  int TopFieldFirst = -1;
  int IntraDcPrecision = 8;
  bool SameQuality = false;
  bool DoDeinterlace = false;
  bool IntraOnly = false;
  int MeThreshold = 0;
  int VideoChannel = 0;
  std::string VideoStandard;
  int VideoSyncMethod = -1;
  bool ForceFps = false;
  int VideoGlobalHeader = 0;
  std::string VideoFilters;  // "vf"

  // Audio
  int AudioSampleRate = 44100;
  int AudioChannels = 2;
  uint64_t AudioChannelLayout = 0;
  AVSampleFormat AudioSampleFmt = AV_SAMPLE_FMT_NONE;
  float AudioQScale = -99999.0f;
  int AudioSyncMethod = 0;
  float AudioDriftThreshold = 0.1f;
  int AudioVolume = 256;
};

// An output stream as the set-up made it. The run opens a clone of Codec (an encoder can be
// opened only once), so the settings here stay as the options left them.
struct TOutputStreamSetup {
  AVStream* Stream = nullptr;  // owned by the output context
  AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
  bool StreamCopy = false;
  AVCodecContextPtr Codec;           // settings, never opened
  const AVCodec* Encoder = nullptr;  // chosen by name or guessed; null for stream copy
  AVDictionaryPtr PrivateOptions;    // encoder-private options, given when the encoder opens
  std::vector<std::string> BitstreamFilters;
  int TopBand = 0, BottomBand = 0, LeftBand = 0, RightBand = 0;  // video crop at set-up
};

struct TOutputFile {
  OutputContextPtr Context;
  std::string FileName;
  std::vector<std::unique_ptr<TOutputStreamSetup>> Streams;  // parallel to Context->streams
  AVDictionaryPtr FormatOptions;  // muxer-private options, given to the header
  int64_t PacketsWritten = -1;    // by the last run; -1 before any run
};

struct TInputFile {
  MediaInputPtr Context;
  std::string FileName;
  int64_t TimestampOffset = 0;           // microseconds, added to every packet time
  int64_t SeekTarget = 0;                // microseconds; where the start-time seek went (0: none)
  std::vector<const AVCodec*> Decoders;  // per stream; null: by codec id
  std::vector<AVDictionaryPtr> DecoderOptions;  // per stream, options given before the input
};

// What a finished run did, per output stream of the first entry order (for reports and tests).
struct TOutputStreamReport {
  AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
  bool StreamCopy = false;
  int64_t Frames = 0;      // pictures or audio frames handed to the encoder (or copied)
  int64_t Packets = 0;     // packets written
  bool Resampled = false;  // audio passed through the resampler
};

struct TRunState;  // engine/run_state.h
struct TStageJob;  // engine/encode_stage.h
struct TInputFileRun;
struct TInputStreamRun;
struct TOutputStreamRun;

struct FileClose {
  void operator()(FILE* file) const {
    if (file) std::fclose(file);
  }
};

class TCustomTranscoder {
 public:
  TCustomTranscoder();
  virtual ~TCustomTranscoder();
  TCustomTranscoder(const TCustomTranscoder&) = delete;
  TCustomTranscoder& operator=(const TCustomTranscoder&) = delete;

  // ---- Set-up ----
  // Cleans up and restores every default; creates the option contexts.
  void Reset();
  // One option of the vocabulary. Raises FFmpegException (or EAssertionFailed for codec tags,
  // std::invalid_argument for malformed numbers) with the option's failure text.
  void ParseOption(const std::string& name, const std::string& value);
  // A library option by name (codec, format, scaler, encoder- and muxer-private). False when
  // no option set knows the name or the value is rejected (logged by the library).
  bool SetGenericOption(const std::string& name, const std::string& value);
  void AddMetadata(const std::string& key, const std::string& value);
  // Microseconds; AV_NOPTS_VALUE is ignored.
  void SetRecordingTime(int64_t us);
  void SetStartTime(int64_t us);
  // kind "vcd", "svcd", "dvd", "dv", "dv50"; norm "pal", "ntsc", "film" or anything else to
  // detect; fallback used when detection fails.
  void ApplyTarget(const std::string& kind, const std::string& norm, const std::string& fallback);
  // kind "apre", "vpre", "spre" or "fpre".
  void ApplyPreset(const std::string& kind, const std::string& name);

  // False with LastError() set on failures reported by result; FFmpegException otherwise.
  bool OpenInputFile(const std::string& fileName);
  // The new output count, or -1 with LastError() set.
  int OpenOutputFile(const std::string& fileName, bool join);
  void NewVideoStream(int outputFile);
  void NewAudioStream(int outputFile);
  void NewSubtitleStream(int outputFile);
  // Empty name: success with id AV_CODEC_ID_NONE. False with LastError() set otherwise.
  bool FindCodec(const std::string& name, AVMediaType type, bool encoder, int strict,
                 AVCodecID& id);
  // Closes inputs and outputs (deleting an empty output file), frees the option contexts.
  void Cleanup();

  // ---- Run ----
  // The synchronous part of starting: false when the job is running or has terminated, or
  // when it lacks an output or input (then it fails and terminates at once).
  bool Start();
  // Converts, closes what is still open, cleans up and terminates; failures of each step are
  // logged and recorded (Failed, ErrorMessage), never raised.
  void Run();
  // The conversion itself: preparation, loop, end of run. Raises on failure.
  void Transcode();
  // Any thread. The loop ends at the next packet; also releases a pause.
  void RequestStop();
  // Any thread. A paused run waits between packets.
  void SetPaused(bool paused);

  bool Running() const { return FRunning; }
  bool StopRequested() const { return FStopRequested; }
  bool Finished() const { return FFinished; }
  bool Terminated() const { return FTerminated; }
  bool Failed() const { return FFailed; }
  std::string ErrorMessage() const;
  const std::string& LastError() const { return FLastError; }

  // ---- Callbacks (assign before the run; called on the run's thread) ----
  TCustomHookCallback OnCustomHook;  // installed per output with CustomHook
  TPreviewBitmapCallback OnPreviewBitmap;
  TProgressCallback OnProgress;
  TTerminateCallback OnTerminate;
  TPreviewWindowFactory PreviewWindowFactory;
  int64_t ProgressIntervalUs = 500000;

  // Whether runs encode and mux on a thread of their own, fed in order by the conversion
  // loop (the default). Off, every step runs on the run's thread, one after another; the
  // output is the same. Set before Start; not a user setting (the engine's tests compare
  // the two ways).
  void SetEncodeStage(bool on) { FEncodeStage = on; }
  bool EncodeStage() const { return FEncodeStage; }

  // kPreviewWindowBit, kPreviewBitmapBit. Any thread; under the process-wide preview lock.
  // Clearing kPreviewWindowBit discards the preview window.
  int PreviewFlags() const;
  void SetPreviewFlags(int flags);

  // ---- Queries ----
  const TTranscoderSettings& Settings() const { return FSettings; }
  int InputCount() const { return int(FInputs.size()); }
  const TInputFile& Input(int index) const { return *FInputs.at(size_t(index)); }
  AVFormatContext* InputContext(int index) const { return Input(index).Context.get(); }
  // Output file entries (in join mode one per input, sharing one file).
  int OutputCount() const { return int(FOutputs.size()); }
  const TOutputFile& Output(int index) const { return *FOutputs.at(size_t(index)); }
  AVFormatContext* OutputContext(int index) const { return Output(index).Context.get(); }
  bool Join() const { return FJoin; }
  int64_t ExpectedDuration() const { return FExpectedDuration; }
  // The option set of a media type (video, audio, data, subtitle, attachment).
  const AVCodecContext* OptionCodecContext(AVMediaType type) const;
  const AVFormatContext* OptionFormatContext() const { return FOptFormat.get(); }
  int ScalerFlags() const;
  const std::vector<std::string>& SetOptionNames() const { return FOptNames; }
  // Encoder-private and muxer-private options kept for the encoders and headers.
  const AVDictionary* PrivateCodecOptions(AVMediaType type) const;
  const AVDictionary* PrivateFormatOptions() const { return FPrivateFormatOptions.get(); }
  bool FramesHooked() const { return FFramesHooked; }
  int HookLibraryCount() const { return int(FHooks.size()); }
  int DupFrames() const { return FDupFrames; }
  int DropFrames() const { return FDropFrames; }
  int FrameNumber() const { return FFrameNumber; }
  // The streams of the last run (first output entry order).
  const std::vector<TOutputStreamReport>& RunReport() const { return FRunReport; }

 protected:
  // Terminates the job: clears Running, sets Terminated, calls OnTerminate.
  void Terminate();

 private:
  static constexpr unsigned kFormatBit = 1u << 5;  // in FOptTypes: set in the format set
  static constexpr unsigned kScalerBit = 1u << 6;  // set in the scaler set
  static int TypeIndex(AVMediaType type);  // video 0, audio 1, data 2, subtitle 3, attachment 4

  void RecordFailure(const std::string& message);
  void WaitWhilePaused();

  // option_table.cpp
  void SetCodecTag(uint32_t& tag, const std::string& value, const char* kind);
  void ParseMatrix(std::vector<uint16_t>& matrix, const std::string& value);
  void AddBitstreamFilter(std::vector<std::string>& list, const std::string& value);
  void ParseCrop(int& band, const std::string& value, bool vertical);
  bool SetCodecOption(int typeIndex, const std::string& name, const std::string& value,
                      bool& rejected);
  bool SetPrivateOption(const std::string& name, const std::string& value);
  void AddHook(const std::string& value);
  int64_t ParseTime(const std::string& value, const char* option, bool duration);

  // transcoder_inputs.cpp, transcoder_outputs.cpp
  void ApplyCodecOptions(AVCodecContext* target, AVMediaType type, int flags) const;
  AVDictionaryPtr CodecOptionsDictionary(AVMediaType type, int flags) const;
  void ApplyFormatOptions(AVFormatContext* target, int flags, AVDictionary** dict) const;
  TOutputStreamSetup& NewStream(int outputFile, AVMediaType type);
  bool CheckInputTypes(bool join, bool& hasVideo, bool& hasAudio, bool& hasSubtitle,
                       AVCodecID& subtitleId) const;

  // run_preparation.cpp: PrepareRun makes the run's tables and opens its codecs and outputs,
  // one step after another in this order.
  void PrepareRun();
  void MakeInputStreamTables();
  void CheckOutputStreams();
  void MapOutputStreams();
  void PrepareOutputStreams();
  void OpenCodecs();
  void SetInputTimes();
  void MakeBitstreamFilters();
  void WriteHeaders();
  void DescribeRun();
  void DescribeOutputs();
  void LogStreamMapping();
  void OpenEncoder(TOutputStreamRun& ost);
  // Closes a codec the run opened (under the library's codec lock); the handle stays with
  // its owner in the run's tables, which frees it with the run.
  void CloseCodec(AVCodecContext* context);
  // Closes the run's open encoders and decoders (after a failure as after the end).
  void CloseOpenCodecs();

  // transcode_loop.cpp
  void TranscodeLoop();
  bool JoinEndOfInput(int inputIndex);
  void EndRun();
  bool ReachedMaxFrames(const TOutputStreamRun& ost) const;
  int64_t FrameDuration(const TInputStreamRun& ist, const AVFrame* frame) const;
  int ProcessPacket(TInputStreamRun& ist, const AVPacket* pkt);
  void HandleDecodedFrame(TInputStreamRun& ist, int istIndex, AVFrame* frame);
  // Whether the hook's RGB picture is already made (by the look-ahead) or still to make.
  enum class THookPicture { Convert, Converted, Failed };
  void HandOnFrame(TInputStreamRun& ist, int istIndex, AVFrame* frame, THookPicture hookPicture);
  bool HookLooksAhead(int istIndex) const;
  void HandOnWaitingPicture();
  void HandOnWaitingPicture(THookLookahead::TPicture& picture);
  bool Started(const TInputStreamRun& ist) const;
  void CopyPacket(int istIndex, const AVPacket* pkt);
  void WriteFrame(TOutputStreamRun& ost, AVPacket* pkt);
  size_t ReportIndex(const TOutputStreamRun& ost) const;
  void CountFrame(const TOutputStreamRun& ost);
  // Hands `frame` (its reference moves; null drains the encoder) to the encoding stage, or
  // encodes it at once without one. The bytes written when encoded at once, otherwise 0.
  int64_t Encode(TOutputStreamRun& ost, AVFrame* frame);
  // Encodes on the calling thread and muxes the packets (the stage's work).
  int64_t EncodeNow(TOutputStreamRun& ost, AVFrame* frame);
  // A job for the stage, or run at once without one (then the bytes encoded).
  int64_t Submit(TStageJob&& job);
  int64_t RunStageJob(TStageJob& job);
  int StreamIndex(const TOutputStreamRun& ost) const;
  // The encoder's pixel shape from the next picture on, in order with the pictures.
  void SetEncoderAspect(TOutputStreamRun& ost, AVRational aspect);
  // Waits until the stage has done everything queued (raising its failure): afterwards the
  // loop may read what encoding and muxing write (sizes, output times, the muxer's file).
  void SyncStage();
  void FlushEncoders(int istIndex);
  // Flushes the decoding input streams of file `file` (all files when -1) that are not closed
  // yet, pictures first (the sound is completed up to their end); `close` marks them closed
  // and resets their decoders (join mode).
  void FlushInputStreams(int file, bool close);
  void NotePictureEnd(TInputFileRun& file, const TInputStreamRun& ist, const AVPacket& pkt) const;
  void DoSubtitleOut(TOutputStreamRun& ost, TInputStreamRun& ist, AVSubtitle* subtitle,
                     int64_t pts);

  // audio_path.cpp
  void DoAudioOut(TOutputStreamRun& ost, TInputStreamRun& ist, AVFrame* frame);
  void PrepareAudioFrame(AVFrame* frame, const AVCodecContext* enc, int samples);
  // Stamps `frame` with the stream's next sample index, encodes it, releases it and
  // advances the stream by `samples`.
  void EncodeAudioFrame(TOutputStreamRun& ost, AVFrame* frame, int samples);
  void EncodeAudioSamples(TOutputStreamRun& ost, AVFrame* work, int samples);
  void FinishAudio(TOutputStreamRun& ost);
  // The output stream's sample position: samples encoded, waiting in the FIFO and held by
  // the resampler.
  int64_t AudioPosition(const TOutputStreamRun& ost) const;
  void FlushAudioFifo(TOutputStreamRun& ost);

  // video_path.cpp
  AVFrame* PreProcess(TInputStreamRun& ist, AVFrame* frame, THookPicture hookPicture);
  AVFrame* CustomHook(AVFrame* picture, AVPixelFormat format, int64_t time,
                      THookPicture hookPicture);
  void Preview(const AVFrame* picture, int64_t time);
  int ConfigureFilters(TInputStreamRun& ist, TOutputStreamRun& ost);
  int64_t DoVideoOut(TOutputStreamRun& ost, TInputStreamRun& ist, AVFrame* picture);

  // reports.cpp
  void OpenPassLog(int streamNumber, TOutputStreamRun& ost);
  void DoVideoStats(TOutputStreamRun& ost, int64_t frameSize);
  void Report(bool isLast, int inputIndex);

  // ---- Set-up side: the application's thread while no run is in progress; the run's thread
  // reads them during a run. Declared first, so that they outlive the run's state. ----
  TTranscoderSettings FSettings;
  std::vector<std::unique_ptr<TInputFile>> FInputs;
  std::vector<std::shared_ptr<TOutputFile>> FOutputs;  // join: entries share one file
  bool FJoin = false;
  bool FUseFilters = false;  // "vf" was pending when the output was opened
  int64_t FExpectedDuration = -1;
  std::string FLastError;
  THookLibraryList FHooks;     // "vhook" libraries
  bool FFramesHooked = false;  // a hook library or a custom hook is installed
  bool FEncodeStage = true;    // encoding and muxing on a thread of their own

  // Option sets: codec contexts per media type (video, audio, data, subtitle, attachment),
  // a format context and a scaler context, plus the names set, and the private options that
  // only a specific encoder or muxer knows.
  AVCodecContextPtr FOptCodec[5];
  FormatContextPtr FOptFormat;
  SwsContextPtr FOptSws;
  std::vector<std::string> FOptNames;
  std::map<std::string, unsigned> FOptTypes;  // name -> bit per option set it was set in
  AVDictionaryPtr FPrivateCodecOptions[5];
  AVDictionaryPtr FPrivateFormatOptions;

  // ---- The process-wide preview lock (PreviewLock()): any thread. ----
  int FPreviewFlagsValue = 0;                      // kPreviewWindowBit, kPreviewBitmapBit
  std::unique_ptr<TPreviewWindow> FPreviewWindow;  // discarded when the window bit clears

  // ---- The run's thread, from Start until the run returns; the queries read the results
  // after it. ----
  // Video path (engine/video_path.cpp).
  FrameConverter FPreviewConverter;
  bool FHookDisabled = false;  // DisableHook or a failed conversion, for the rest of the run
  AVFramePtr FPreBuffer;       // pre-processing work picture
  int FFrameNumber = 0;
  int64_t FLastPreviewTime = 0;
  int64_t FPreviewInterval = 100000;
  // Statistics.
  int64_t FVideoSize = 0, FAudioSize = 0, FExtraSize = 0;
  int FDupFrames = 0, FDropFrames = 0;
  bool FCountsChanged = false;
  std::vector<TOutputStreamReport> FRunReport;
  std::unique_ptr<FILE, FileClose> FVStatsFile;
  std::string FFilterError;  // why the last filter graph could not be made

  // ---- Any thread: the run flags (atomics), and under FFlagsMutex the error text and the
  // pause gate. ----
  std::atomic<bool> FRunning{false}, FStopRequested{false}, FFinished{false}, FTerminated{false},
      FFailed{false};
  mutable std::mutex FFlagsMutex;
  std::condition_variable FPauseChanged;
  bool FPaused = false;
  std::string FErrorMessage;

  // ---- The run's thread: the stream tables of the current run. Last, so that it goes
  // before anything it refers to. ----
  std::unique_ptr<TRunState> FRun;
};

// The process-wide lock of every transcoder's preview flags and preview code.
std::mutex& PreviewLock();

// "video", "audio", "data", "subtitle", "attachment" or "unknown".
const char* MediaTypeText(AVMediaType type);
