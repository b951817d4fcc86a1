// One opened file of the player: its queues, clocks, pictures, threads and the player's
// per-file synchronisation objects. Internal to player/.
//
// Threads and what they own (a field not listed is set before the threads start and only
// read afterwards):
// - Demux thread: Format (reading), LastPaused, ReadPauseResult, the seek request's
//   execution, EofReported, the reading flag.
// - Audio thread (SDL's callback): the audio buffers, AudioPacket, AudioConverter,
//   AudioClock/AudioBufferLeft (published as atomics for the other threads), the sample
//   ring (under SampleLock).
// - Video thread: the decoder, filter graph, fault counters, skip counter, HookConverter;
//   writes pictures into the ring under PictureLock.
// - Subtitle thread: the subtitle decoder; the subtitle ring under SubtitleLock.
// - Play thread: the output calls, overlay allocation, display size, FrameTimer reads at
//   resume (under PictureLock), the visualisation screen, Shown (under ShownLock).
// - Any thread: the atomics (flags and clocks), the queues (own locks).
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <SDL2/SDL_audio.h>

extern "C" {
#include <libavutil/tx.h>
}

#include "media/ffmpeg_ptr.h"
#include "media/frame_converter.h"
#include "player/player.h"
#include "player/player_display.h"
#include "player/player_event_ring.h"
#include "player/player_sync.h"
#include "player/stream_queue.h"
#include "player/video_output.h"

// The play thread's own event queue (in place of SDL's).
enum TPlayEventType : uint8_t {
  peQuit,
  peRefresh,
  peAllocate,
  peRedisplay,
  peResize,
  peExpose,
};
struct TPlayEvent {
  TPlayEventType Type = peQuit;
  int Width = 0, Height = 0;
};
class TPlayEventQueue {
 public:
  void Post(const TPlayEvent& event);
  TPlayEvent Wait();

 private:
  std::mutex FLock;
  std::condition_variable FPosted;
  std::deque<TPlayEvent> FEvents;
};

struct FramePicture {
  double Pts = 0;     // seconds
  double Target = 0;  // when to show it (NowSeconds() clock)
  int64_t Pos = -1;
  bool FirstAfterSeek = false;  // shown even when late: a seek always shows its picture
  std::unique_ptr<TOverlay> Overlay;
  int Width = 0, Height = 0;
  bool Allocated = false;
  AVFramePtr Frame;  // the decoded picture behind the overlay (CurrentFrame reads it)
};

struct SubtitlePicture {
  double Pts = 0;             // seconds
  double Start = 0, End = 0;  // display window, seconds (absolute)
  std::vector<TSubtitleBitmap> Rects;
};

// The per-file copy of the player's options taken at Open.
struct TOpenOptions {
  int64_t PlayStart = kNoPTS;
  int64_t PlayDuration = kNoPTS;
  int EndAction = 1;
  bool FlipVertical = false;
  int WantedStream[5] = {-1, -1, -1, -1, -1};
  bool DisableAudio = false, DisableVideo = false, DisableDisplay = false;
  int FrameWidth = 0, FrameHeight = 0;
  int ShowAudioMode = 1;
  std::string VideoFilters;
  std::string InputFormat;
  bool OpenPaused = false;
};

struct PlaybackState : public TVideoOutputListener {
  static constexpr int kPictureRing = 2;
  static constexpr int kSubtitleRing = 4;
  static constexpr int kAudioBufferBytes = 288000;
  static constexpr int kSampleRing = 131072;
  static constexpr int kMaxQueueBytes = 15 * 1024 * 1024;
  static constexpr int kMinAudioQueueBytes = 327680;
  static constexpr int kMinFrames = 5;
  static constexpr double kSyncThreshold = 0.01;
  static constexpr double kNoSyncThreshold = 10.0;
  static constexpr int kAudioDiffMeasures = 20;
  static constexpr double kFrameSkipFactor = 0.05;

  PlaybackState(TCustomPlayer& player, std::string fileName, TVideoOutput* output,
                TOpenOptions options);
  ~PlaybackState() override;

  TCustomPlayer& Player;
  const std::string FileName;
  TVideoOutput* const Output;
  const TOpenOptions Options;

  // --- Opening (player.cpp waits on it) ---
  std::mutex StatusLock;
  std::condition_variable StatusChanged;
  int Status = 0;  // 0 opening, 1 reading, -1 failed, -2 failed and finished
  std::string OpenError;
  TManualEvent ReadingAllowed{false};  // set by Open once the probe is attached
  TManualEvent DemuxDone{false};       // the demux thread is about to end
  bool SdlAudioStarted = false;        // the audio subsystem was initialised for this file

  // --- The component's per-file objects ---
  std::timed_mutex ComponentLock;  // the play thread holds it for each event
  TManualEvent SeekDone{true};
  TManualEvent FrameQueued{true};
  TManualEvent PlayThreadDone{false};
  TManualEvent EventThreadDone{false};
  TPlayerEventRing Ring;
  TPlayEventQueue Events;
  std::thread DemuxThread, VideoThread, SubtitleThread, RefreshThread, PlayThread, EventThread;
  std::atomic<bool> Closed{false};     // the stream shutdown began
  std::atomic<bool> Abandoned{false};  // Stop gave up waiting; no longer the player's
  std::atomic<bool> StepMode{false};
  std::atomic<int> DeliveringOnMain{0};  // main-thread deliveries of this file running

  // --- Demux and control flags ---
  MediaInputPtr Format;
  std::atomic<bool> AbortRequest{false};
  std::atomic<bool> Paused{false};
  bool LastPaused = false;
  std::atomic<int> ReadPauseResult{0};
  std::atomic<bool> SeekRequest{false};
  std::atomic<int> SeekFlags{0};
  std::atomic<int64_t> SeekPos{0};
  std::atomic<int64_t> SeekRel{0};
  std::atomic<bool> Reading{false};
  std::atomic<bool> EofReported{false};
  std::atomic<bool> EndFlagged{false};
  std::atomic<bool> Drained{false};
  std::atomic<bool> Seeking{false};  // the player's seeking flag
  std::atomic<int> OpenPausedCounter{0};
  std::atomic<bool> PausedAtSeek{false};
  std::atomic<bool> JustSeeked{false};
  // The video thread has taken the flush packet of the newest seek, so the pictures it
  // queues now are from after it. SeekPictureLock joins the demux thread's start of a seek
  // (JustSeeked set, this cleared, FrameQueued reset) to the video thread's checks of these
  // around a queued picture, so a picture from before a seek can neither clear JustSeeked
  // nor set FrameQueued for it.
  std::mutex SeekPictureLock;
  std::atomic<bool> VideoFlushedForSeek{true};
  static constexpr int64_t kSeekPreRoll = 1000000;
  static constexpr double kNoSeekTarget = -1e30;
  // Seconds of stream time the decoders drop pictures and sound before after the next flush
  // packet (set by the demux thread before it queues the flush packets).
  std::atomic<double> VideoSeekFrom{kNoSeekTarget};
  std::atomic<double> AudioSeekFrom{kNoSeekTarget};
  double VideoDropUntil = kNoSeekTarget;  // video thread
  double AudioDropUntil = kNoSeekTarget;  // audio thread
  bool StillImage = false;
  bool LiveCapture = false;
  int64_t StartTime = 0;       // microseconds (0 when unknown)
  int64_t Duration = -1;       // microseconds (-1 when unknown)
  int64_t AudioDuration = -1;  // microseconds

  // --- Audio ---
  int AudioStreamIndex = -1;
  AVStream* AudioStream = nullptr;
  AVCodecContextPtr AudioCodec;
  TStreamQueue AudioQueue;
  SDL_AudioDeviceID AudioDevice = 0;
  int AudioHardwareBufferSize = 0;
  int AudioChannels = 0, AudioRate = 0;  // what SDL plays
  std::vector<uint8_t> AudioBuffer;      // converted samples of the current chunk
  int AudioBufferSize = 0, AudioBufferIndex = 0;
  AVPacketPtr AudioPacket;
  AVFramePtr AudioFrame;
  bool AudioPacketPending = false;  // AudioPacket was sent; frames may remain
  SwrContextPtr AudioConverter;
  int AudioSourceFormat = -1, AudioSourceRate = 0;
  AVChannelLayout AudioSourceLayout{};
  double AudioClockValue = 0;  // audio thread: time at the end of the decoded data
  std::atomic<double> AudioClockPublished{0};
  std::atomic<int> AudioBufferLeft{0};  // bytes of the current chunk not yet played
  std::atomic<int64_t> AudioCallbackTime{0};
  std::atomic<double> AudioClockReset{-1e30};  // set by a seek, taken by the audio thread
  double AudioDiffCum = 0, AudioDiffAvgCoef = 0, AudioDiffThreshold = 0;
  int AudioDiffAvgCount = 0;
  int SyncType = 0;  // 0 audio master, 1 video master, 2 external clock
  double ExternalClock = 0, ExternalClockTime = 0;

  // --- Visualisation ---
  std::atomic<int> ShowAudio{0};  // 0 none, 1 waveform, 2 spectrum
  std::mutex SampleLock;
  std::vector<int16_t> SampleRing;
  int SampleIndex = 0;
  int LastStart = 0;
  AVTXContext* Rdft = nullptr;
  av_tx_fn RdftFn = nullptr;
  int RdftBits = 0;
  std::vector<float> RdftIn;
  std::vector<AVComplexFloat> RdftOut[2];
  int SpectrumColumn = 0;
  TBitmap Screen;  // play thread: what the visualisation draws

  // --- Subtitles ---
  int SubtitleStreamIndex = -1;
  AVStream* SubtitleStream = nullptr;
  AVCodecContextPtr SubtitleCodec;
  TStreamQueue SubtitleQueue;
  std::atomic<bool> SubtitleStreamChanged{false};
  std::mutex SubtitleLock;
  std::condition_variable SubtitleCond;
  std::deque<SubtitlePicture> Subtitles;  // at most kSubtitleRing

  // --- Video ---
  int VideoStreamIndex = -1;
  AVStream* VideoStream = nullptr;
  AVCodecContextPtr VideoCodec;
  TStreamQueue VideoQueue;
  double FrameDuration = 0.04;             // seconds per picture (the codec's time base)
  double FrameTimer = 0;                   // PictureLock
  double FrameLastPts = 0;                 // PictureLock
  double FrameLastDelay = 0.04;            // PictureLock
  std::atomic<double> VideoClockValue{0};  // video thread: the next picture's expected time
  std::atomic<double> VideoCurrentPts{0};
  std::atomic<double> VideoCurrentPtsDrift{0};
  // After a seek by time the video clock stays at the target until the seek's first picture
  // is shown: positions (and the play window's end) must not run ahead of the pictures
  // while a slow input or decoder is still getting there.
  std::atomic<bool> VideoClockHeld{false};
  std::atomic<int64_t> VideoCurrentPos{-1};
  int FaultyPts = 0, FaultyDts = 0;
  int64_t LastPts = kNoPTS, LastDts = kNoPTS;
  std::atomic<float> SkipRatio{1};
  float SkipCounter = 0;
  std::atomic<bool> RefreshPending{false};
  AVFilterGraphPtr Graph;
  AVFilterContext* GraphSource = nullptr;
  AVFilterContext* GraphSink = nullptr;
  int GraphWidth = 0, GraphHeight = 0, GraphFormat = -1;
  FrameConverter HookConverter;
  bool FirstAfterFlush = false;  // video thread: the next picture is the first after a seek

  std::mutex PictureLock;
  std::condition_variable PictureCond;
  FramePicture Pictures[kPictureRing];
  int PictureSize = 0, PictureRead = 0, PictureWrite = 0;

  // Play thread: the surface, and a copy of what it shows (for redraws).
  int DisplayWidth = 0, DisplayHeight = 0, DisplayLeft = 0, DisplayTop = 0;
  bool SurfaceOpen = false;
  std::unique_ptr<TOverlay> LastShownOverlay;
  double LastShownSar = 0;
  int64_t LastShownPts = 0;

  // The picture last shown, for CurrentFrame (ShownLock).
  std::mutex ShownLock;
  AVFramePtr Shown;
  double ShownPts = 0;

  // Positions (UpdatePosition may run on the play and the video thread).
  std::mutex PositionLock;
  int64_t LastReportedPosition = kNoPTS;
  int64_t CurrentPosition = -1;

  // TVideoOutputListener (any thread).
  void OutputResized(int width, int height) override;
  void OutputExposed() override;

  // player_demux.cpp
  void DemuxMain();
  bool OpenInput();
  int OpenStreamComponent(int index);
  void CloseStreamComponent(int index);
  void ReadLoop();
  void StreamClose();  // abort and join everything (play thread, or a closer)
  void AbortQueues();
  void RequestSeek(int64_t pos, int64_t rel, int flags);
  // Seeks the demuxer (demux thread). For a time, lands up to kSeekPreRoll early and has the
  // decoders drop what comes before `target` (AV_TIME_BASE units).
  int SeekInput(int64_t target, int64_t rel, int flags);
  // The component's Seek without waiting: APTS microseconds from the start (or a byte
  // position with kSeekByte).
  void SeekTo(uint8_t flags, int64_t pts);
  void TogglePause();
  void SetStatus(int status);

  // player_audio.cpp
  static void AudioCallbackEntry(void* opaque, uint8_t* stream, int len);
  void AudioCallback(uint8_t* stream, int len);
  int AudioDecodeFrame(double& pts);
  bool ReceiveAudioFrame();
  int SynchronizeAudio(int size, double pts);
  double AudioClock() const;
  bool OpenAudioDevice();

  // player_video.cpp
  void VideoMain();
  bool ConfigureGraph(const AVFrame* frame);
  bool DecodePicture(AVFrame* frame, const AVPacket* packet, bool& got);
  bool OutputPicture(AVFrame* frame, double pts, int64_t pos);
  int QueuePicture(AVFrame* frame, double pts, int64_t pos);
  double ComputeTargetTime(double pts);
  void RunHook(FramePicture& picture);
  void AllocatePicture();
  void FlushPictures();

  // player_subtitle.cpp
  void SubtitleMain();

  // player_refresh.cpp
  void PlayMain();  // the play thread: the event loop
  void Shutdown();  // the stream shutdown (play thread)
  void RedrawLast();
  void RefreshMain();
  void VideoRefresh(bool displayNow);
  void VideoDisplay();
  void DrawPicture(FramePicture& picture);
  bool OpenSurface(bool force, int pictureWidth = 0, int pictureHeight = 0);
  void DrawAudioVisualisation();
  void UpdatePosition();

  // Clocks (any thread).
  double VideoClock() const;
  double MasterClock() const;
  double ExternalClockNow() const;

  // Helpers shared by the files.
  void PostEvent(TPlayEventType type, int width = 0, int height = 0) {
    Events.Post({type, width, height});
  }
  bool HasVideo() const { return VideoStream != nullptr; }
  bool HasAudio() const { return AudioStream != nullptr; }
};

// Serialises SDL's subsystem and device calls across players (SDL keeps them in globals).
std::mutex& SdlLock();
