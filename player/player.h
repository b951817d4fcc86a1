// The player component: plays one media file or DVD title ("opendvd:" + disc, after
// SetDVDParam) with audio through SDL and pictures through a TVideoOutput, reports the
// file's duration and picture size when it opens, its position and state changes as
// events, and can hand every picture to the application before it is shown (the hook).
//
// Threads and what they own:
// - The caller's thread (normally the main thread) runs every public operation. Settings
//   may be changed at any time (they are read by the playback threads as they go);
//   handlers and TriggerEventInMainThread are assigned while no file is open.
// - Each opened file has its own threads: a demux thread (opens the file, reads packets),
//   a video and a subtitle decoding thread, a refresh thread that paces the display, SDL's
//   audio thread, a play thread (runs the player's event queue: quit, refresh, allocate,
//   redisplay, resize, expose; it alone calls the TVideoOutput and frees the file when it
//   stops) and an event thread that delivers OnPosition and OnState.
// - OnFileOpen runs inside Open, before Open returns (through CallInMainThread when
//   TriggerEventInMainThread is set and Open runs elsewhere).
// - OnPosition and OnState run on the event thread, or on the main thread through
//   CallInMainThread when TriggerEventInMainThread is set (the default): the main thread
//   must then keep serving main-thread calls (ProcessMessages; a Qt program installs a
//   bridge, see app/gui/main_thread_bridge.h). Positions and states travel through a
//   ring of ten that coalesces, so a slow handler only misses intermediate positions.
// - OnHook runs on the video decoding thread, with the bitmap's Canvas() locked; the
//   decoder waits for it, so it must not wait for the main thread for long.
// - Every wait of a public operation on the main thread (Open, Stop(true), Seek with
//   AWait) keeps serving main-thread calls, so handlers delivered there cannot dead-lock.
// - Destroying the player stops delivering events first, then stops and returns only once
//   every thread it started has ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/bitmap.h"
#include "media/frame_converter.h"
#include "media/media_component.h"
#include "media/probe.h"
#include "player/player_types.h"
#include "player/video_output.h"

class TCustomPlayer;
struct PlaybackState;  // player/playback_state.h

// ADuration: microseconds (0 for still pictures, -1 unknown). AFrameWidth/AFrameHeight: the
// video's picture size, -1 x -1 without video. AScreenWidth/AScreenHeight start as
// ScreenWidth/ScreenHeight; the handler may set them (0: the output window's size).
using TFileOpenEvent = std::function<void(TCustomPlayer* Sender, int64_t ADuration, int AFrameWidth,
                                          int AFrameHeight, int& AScreenWidth, int& AScreenHeight)>;
// APTS: microseconds from the start of the file.
using TPositionEvent = std::function<void(TCustomPlayer* Sender, int64_t APTS)>;
using TPlayStateEvent = std::function<void(TCustomPlayer* Sender, TPlayState AState)>;
// ABitmap: the picture as 24-bit BGR, which the handler may change (it is shown changed);
// valid during the call only. APTS: microseconds from the start of the file.
using THookEvent = std::function<void(TCustomPlayer* Sender, TBitmap* ABitmap, int64_t APTS)>;

class TCustomPlayer : public TMediaComponent {
 public:
  explicit TCustomPlayer(TMediaComponent* owner = nullptr);
  ~TCustomPlayer() override;

  std::string About;
  static std::string Version() { return "2.3"; }

  TFileOpenEvent OnFileOpen;
  THookEvent OnHook;
  TPositionEvent OnPosition;
  TPlayStateEvent OnState;

  // Loads the player's library set (PlayerLibraries) from `AFolder` (empty: the default
  // places). False with LastError() set from the loader's text.
  bool LoadLibrariesFrom(const std::string& AFolder);
  bool LibrariesReady() const;

  // Stops any previous file (waiting), opens `AFileName` (a file, or a registered input
  // scheme such as "opendvd:" + disc) and starts playing it into `AScreenHandle` (null: no
  // window; pictures are decoded and timed but not shown). With APaused the first pictures
  // are shown and then the player pauses (psPause). False with LastError() set on failure.
  // The play-window settings and wanted streams set before Open apply to this file only.
  bool Open(const std::string& AFileName, TVideoOutput* AScreenHandle, bool APaused = false);
  // Ends playback. AWait: returns once the file's threads have ended, or, when the demux
  // thread stays blocked in a read, once it gave up waiting (about 1 s; 2 s at most): the
  // file is then closed in the background and the destructor waits for it.
  void Stop(bool AWait);
  void Pause();
  void Resume();
  // Shows the next picture and pauses again; psStep the first time.
  void StepFrame();
  // AFlags: kSeekByte makes APTS a byte position; otherwise APTS is microseconds from the
  // start (limited to the duration). AWait: returns once the seek is done and, with video,
  // the first picture after it is queued. A seek while another is pending is ignored.
  void Seek(uint8_t AFlags, bool AWait, int64_t APTS);
  // True when no file is open or playback is paused.
  bool Paused() const;
  // The picture on screen (the one last shown; before that, the first one queued) as a
  // 24-bit bitmap of the video's size, owned by the player and reused by the next call;
  // 0 x 0 without video. APTS: its time in microseconds from the start, -1 without video.
  TBitmap* CurrentFrame(int64_t& APTS);
  TBitmap* CurrentFrame();

  std::string FileName() const;
  std::string LastError() const;
  TPlayState PlayState() const { return FPlayState.load(); }
  // The position last delivered through OnPosition (-1 before any).
  int64_t Position() const { return FPosition.load(); }
  // Attached to the open file (and still describing the last one after it ended, until the
  // next Open, Stop(true) or destruction). Main thread; its counts are filled when the file
  // opens, before it is read.
  TMediaProbe& Probe() { return FProbe; }

  // Playback options that apply to the next Open only (then they return to the defaults).
  int64_t PlayStart() const { return FNextFile.PlayStart; }  // kNoPTS: none
  void SetPlayStart(int64_t micros) { FNextFile.PlayStart = micros; }
  int64_t PlayDuration() const { return FNextFile.PlayDuration; }  // kNoPTS: none
  void SetPlayDuration(int64_t micros) { FNextFile.PlayDuration = micros; }
  // At the end of the play window: 1 stops, 2 seeks back to PlayStart (or 0).
  int EndAction() const { return FNextFile.EndAction; }
  void SetEndAction(int action) { FNextFile.EndAction = action; }
  bool FlipVertical() const { return FNextFile.FlipVertical; }
  void SetFlipVertical(bool value) { FNextFile.FlipVertical = value; }
  // The stream of a media type (AVMediaType 0..4) to play, as its ordinal among that
  // type's streams; -1 picks the one with the most frames.
  int WantedStream(int mediaType) const;
  void SetWantedStream(int mediaType, int ordinal);

  // Options that stay until changed (read at Open).
  std::string VideoFilters() const;
  void SetVideoFilters(const std::string& chain);  // an FFmpeg filter chain; empty: none
  int ShowAudioMode() const { return FShowAudioMode.load(); }
  void SetShowAudioMode(int mode) { FShowAudioMode = mode; }  // 0 none, 1 waveform, 2 spectrum
  std::string InputFormat() const;
  void SetInputFormat(const std::string& name);  // empty: detect
  // How long Open waits for a file to open before it gives up (milliseconds; a disc that
  // spins up takes seconds, an input whose read never returns must not hang the caller).
  int OpenTimeout() const { return FOpenTimeout.load(); }
  void SetOpenTimeout(int milliseconds) { FOpenTimeout = milliseconds; }

 protected:
  float AspectRatio() const { return FAspectRatio.load(); }
  // > 0 forces the display aspect, 0 takes the stream's, < 0 fills the window. A change
  // while a file is open redraws.
  void SetAspectRatio(float value);
  TAudioDriver AudioDriver() const { return FAudioDriver.load(); }
  void SetAudioDriver(TAudioDriver value) { FAudioDriver = value; }
  TAudioVolume AudioVolume() const { return FAudioVolume.load(); }
  void SetAudioVolume(TAudioVolume value);  // clamped to 0..128; read at every buffer
  bool DisableAudio() const { return FDisableAudio.load(); }
  void SetDisableAudio(bool value) { FDisableAudio = value; }
  bool DisableVideo() const { return FDisableVideo.load(); }
  void SetDisableVideo(bool value) { FDisableVideo = value; }
  // No video output at all (also sets DisableVideo at Open).
  bool DisableDisplay() const { return FDisableDisplay.load(); }
  void SetDisableDisplay(bool value) { FDisableDisplay = value; }
  bool Mute() const { return FMute.load(); }
  void SetMute(bool value) { FMute = value; }
  int FrameWidth() const { return FFrameWidth.load(); }
  void SetFrameWidth(int value) { FFrameWidth = value; }
  int FrameHeight() const { return FFrameHeight.load(); }
  void SetFrameHeight(int value) { FFrameHeight = value; }
  bool Hook() const { return FHook.load(); }
  void SetHook(bool value) { FHook = value; }
  // The surface size; 0 takes the output window's size at Open. Resizes of the window
  // update it.
  int ScreenWidth() const { return FScreenWidth.load(); }
  void SetScreenWidth(int value) { FScreenWidth = value; }
  int ScreenHeight() const { return FScreenHeight.load(); }
  void SetScreenHeight(int value) { FScreenHeight = value; }
  TVideoDriver VideoDriver() const { return FVideoDriver.load(); }
  void SetVideoDriver(TVideoDriver value) { FVideoDriver = value; }

 private:
  friend struct PlaybackState;

  struct TFileOptions {
    int64_t PlayStart = kNoPTS;
    int64_t PlayDuration = kNoPTS;
    int EndAction = 1;
    bool FlipVertical = false;
    int WantedStream[5] = {-1, -1, -1, -1, -1};
  };

  std::shared_ptr<PlaybackState> CurrentStream() const;
  void SetLastError(const std::string& text);
  // Joins what the retired files left running; with `all`, waits for every one.
  void ReapRetired(bool all);
  // Main thread: detaches the probe and forgets the stream if it is still `stream`.
  void ForgetStream(const std::shared_ptr<PlaybackState>& stream);

  // Calls from the playback threads.
  void SetState(PlaybackState& stream, TPlayState state);
  void DeliverEvent(PlaybackState& stream, const char* eventName,
                    const std::function<void()>& call);
  void DeliverPosition(PlaybackState& stream, int64_t pts);
  void DeliverState(PlaybackState& stream, TPlayState state);

  mutable std::mutex FStreamLock;  // FStream, FRetired, and PlayState writes
  std::shared_ptr<PlaybackState> FStream;
  std::vector<std::shared_ptr<PlaybackState>> FRetired;  // still closing, or threads to join
  std::atomic<TPlayState> FPlayState{psStop};
  std::atomic<int64_t> FPosition{-1};
  std::atomic<bool> FDestroying{false};

  mutable std::mutex FTextLock;  // FFileName, FLastError, FVideoFilters, FInputFormat
  std::string FFileName;
  std::string FLastError;
  std::string FVideoFilters;
  std::string FInputFormat;

  TMediaProbe FProbe;
  std::shared_ptr<PlaybackState> FProbeStream;  // keeps the probe's context alive
  FrameConverter FCurrentFrameConverter;
  TBitmap FEmptyBitmap;
  TFileOptions FNextFile;

  std::atomic<float> FAspectRatio{0};
  std::atomic<TAudioDriver> FAudioDriver{adDefault};
  std::atomic<TAudioVolume> FAudioVolume{kMaxAudioVolume};
  std::atomic<bool> FDisableAudio{false};
  std::atomic<bool> FDisableVideo{false};
  std::atomic<bool> FDisableDisplay{false};
  std::atomic<bool> FMute{false};
  std::atomic<int> FFrameWidth{0};
  std::atomic<int> FFrameHeight{0};
  std::atomic<bool> FHook{false};
  std::atomic<int> FScreenWidth{0};
  std::atomic<int> FScreenHeight{0};
  std::atomic<TVideoDriver> FVideoDriver{vdDefault};
  std::atomic<int> FShowAudioMode{1};
  std::atomic<int> FOpenTimeout{30000};
};

// The player with its settings public.
class TMediaPlayer : public TCustomPlayer {
 public:
  using TCustomPlayer::TCustomPlayer;

  using TCustomPlayer::AspectRatio;
  using TCustomPlayer::AudioDriver;
  using TCustomPlayer::AudioVolume;
  using TCustomPlayer::DisableAudio;
  using TCustomPlayer::DisableDisplay;
  using TCustomPlayer::DisableVideo;
  using TCustomPlayer::FrameHeight;
  using TCustomPlayer::FrameWidth;
  using TCustomPlayer::Hook;
  using TCustomPlayer::Mute;
  using TCustomPlayer::ScreenHeight;
  using TCustomPlayer::ScreenWidth;
  using TCustomPlayer::SetAspectRatio;
  using TCustomPlayer::SetAudioDriver;
  using TCustomPlayer::SetAudioVolume;
  using TCustomPlayer::SetDisableAudio;
  using TCustomPlayer::SetDisableDisplay;
  using TCustomPlayer::SetDisableVideo;
  using TCustomPlayer::SetFrameHeight;
  using TCustomPlayer::SetFrameWidth;
  using TCustomPlayer::SetHook;
  using TCustomPlayer::SetMute;
  using TCustomPlayer::SetScreenHeight;
  using TCustomPlayer::SetScreenWidth;
  using TCustomPlayer::SetVideoDriver;
  using TCustomPlayer::VideoDriver;
};
