#include "player/player.h"

#include <SDL2/SDL.h>

#include <cmath>
#include <thread>

#include "media/loader.h"
#include "media/logger.h"
#include "media/main_thread.h"
#include "player/playback_state.h"

namespace {

constexpr auto kStopStep = std::chrono::milliseconds(100);
// Stop gives up on a file whose demux thread stays inside a read after this many steps,
// and on any file after kStopRetriesAny.
constexpr int kStopRetriesReading = 10;
constexpr int kStopRetriesAny = 20;

bool OnThreadOf(const PlaybackState& s) {
  const auto me = std::this_thread::get_id();
  return me == s.PlayThread.get_id() || me == s.EventThread.get_id() ||
         me == s.VideoThread.get_id() || me == s.DemuxThread.get_id() ||
         me == s.SubtitleThread.get_id() || me == s.RefreshThread.get_id();
}

}  // namespace

std::mutex& SdlLock() {
  static std::mutex lock;
  return lock;
}

TCustomPlayer::TCustomPlayer(TMediaComponent* owner) : TMediaComponent(owner), FProbe(this) {}

TCustomPlayer::~TCustomPlayer() {
  // No event reaches a handler from here on; then every thread is stopped and joined.
  FDestroying = true;
  Stop(true);
  ReapRetired(true);
  OnPosition = nullptr;
  OnState = nullptr;
  OnHook = nullptr;
  FProbe.CloseMedia();
  FProbeStream.reset();
  FCurrentFrameConverter.Reset();
}

bool TCustomPlayer::LoadLibrariesFrom(const std::string& AFolder) {
  GlobalLoader().SetLibraryPath(AFolder);
  if (GlobalLoader().LoadLibraries(PlayerLibraries)) return true;
  SetLastError(GlobalLoader().LastError());
  return false;
}

bool TCustomPlayer::LibrariesReady() const {
  return GlobalLoader().LibrariesLoaded(PlayerLibraries);
}

std::string TCustomPlayer::FileName() const {
  std::lock_guard lock(FTextLock);
  return FFileName;
}

std::string TCustomPlayer::LastError() const {
  std::lock_guard lock(FTextLock);
  return FLastError;
}

void TCustomPlayer::SetLastError(const std::string& text) {
  std::lock_guard lock(FTextLock);
  FLastError = text;
}

std::string TCustomPlayer::VideoFilters() const {
  std::lock_guard lock(FTextLock);
  return FVideoFilters;
}

void TCustomPlayer::SetVideoFilters(const std::string& chain) {
  std::lock_guard lock(FTextLock);
  FVideoFilters = chain;
}

std::string TCustomPlayer::InputFormat() const {
  std::lock_guard lock(FTextLock);
  return FInputFormat;
}

void TCustomPlayer::SetInputFormat(const std::string& name) {
  std::lock_guard lock(FTextLock);
  FInputFormat = name;
}

int TCustomPlayer::WantedStream(int mediaType) const {
  return mediaType >= 0 && mediaType < 5 ? FNextFile.WantedStream[mediaType] : -1;
}

void TCustomPlayer::SetWantedStream(int mediaType, int ordinal) {
  if (mediaType >= 0 && mediaType < 5) FNextFile.WantedStream[mediaType] = ordinal;
}

void TCustomPlayer::SetAudioVolume(TAudioVolume value) {
  FAudioVolume = std::clamp(value, 0, kMaxAudioVolume);
}

void TCustomPlayer::SetAspectRatio(float value) {
  if (FAspectRatio.exchange(value) == value) return;
  auto s = CurrentStream();
  if (s && !s->Closed) s->PostEvent(peRedisplay);
}

std::shared_ptr<PlaybackState> TCustomPlayer::CurrentStream() const {
  std::lock_guard lock(FStreamLock);
  return FStream;
}

bool TCustomPlayer::Open(const std::string& AFileName, TVideoOutput* AScreenHandle, bool APaused) {
  if (!LibrariesReady()) {
    SetLastError("libav or libsdl not loaded.");
    GlobalLogger().Log(this, llError, "libav or libsdl not loaded.");
    return false;
  }
  // The per-file options were set for this file: take them before the previous file stops.
  const TFileOptions file = FNextFile;
  FNextFile = TFileOptions();
  Stop(true);
  ReapRetired(false);

  TOpenOptions options;
  options.PlayStart = file.PlayStart;
  options.PlayDuration = file.PlayDuration;
  options.EndAction = file.EndAction;
  options.FlipVertical = file.FlipVertical;
  std::copy(std::begin(file.WantedStream), std::end(file.WantedStream), options.WantedStream);
  options.DisableDisplay = DisableDisplay();
  options.DisableAudio = DisableAudio();
  options.DisableVideo = DisableVideo() || options.DisableDisplay;
  options.FrameWidth = FrameWidth();
  options.FrameHeight = FrameHeight();
  options.ShowAudioMode = ShowAudioMode();
  options.VideoFilters = VideoFilters();
  options.InputFormat = InputFormat();
  options.OpenPaused = APaused;

  auto s = std::make_shared<PlaybackState>(
      *this, AFileName, options.DisableDisplay ? nullptr : AScreenHandle, options);
  if (!options.DisableAudio) {
    std::lock_guard lock(SdlLock());
    // SDL would otherwise catch SIGINT and SIGTERM for an event loop the player does not run.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
      s->SdlAudioStarted = true;
      GlobalLogger().LogFmt(this, llDebug, "using audio driver: %s",
                            SDL_GetCurrentAudioDriver() ? SDL_GetCurrentAudioDriver() : "");
    } else {
      // A machine without sound still plays the pictures.
      GlobalLogger().LogFmt(this, llWarning, "SDL audio: %s", SDL_GetError());
    }
  }
  s->Paused = APaused;
  s->OpenPausedCounter = APaused ? 1 : 0;
  s->DemuxThread = std::thread([p = s.get()] { p->DemuxMain(); });

  auto status = [&] {
    std::lock_guard lock(s->StatusLock);
    return s->Status;
  };
  const bool answered =
      WaitServing([&] { return status() != 0; }, std::chrono::milliseconds(OpenTimeout()));
  if (!answered) {
    // The input blocks: leave it to finish in the background.
    SetLastError(AFileName + ": the input did not answer (timed out)");
    s->Abandoned = true;
    s->AbortRequest = true;
    s->AbortQueues();
    std::lock_guard lock(FStreamLock);
    FRetired.push_back(s);
    return false;
  }
  if (status() < 0) {
    WaitServing([&] { return status() == -2; }, std::chrono::hours(24));
    s->DemuxThread.join();
    {
      std::lock_guard lock(s->StatusLock);
      SetLastError(s->OpenError);
    }
    if (s->SdlAudioStarted) {
      std::lock_guard lock(SdlLock());
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      s->SdlAudioStarted = false;
    }
    return false;
  }

  {
    std::lock_guard lock(FStreamLock);
    FStream = s;
  }
  {
    std::lock_guard lock(FTextLock);
    FFileName = AFileName;
  }
  FPosition = -1;
  FProbe.AttachContext(s->Format.get());
  FProbeStream = s;

  int frameWidth = -1, frameHeight = -1;
  if (s->VideoCodec && s->VideoCodec->width > 0) {
    frameWidth = s->VideoCodec->width;
    frameHeight = s->VideoCodec->height;
  }
  const int64_t duration = s->StillImage ? 0 : s->Duration;
  int screenWidth = ScreenWidth(), screenHeight = ScreenHeight();
  if (OnFileOpen && !FDestroying) {
    auto raise = [&] {
      OnFileOpen(this, duration, frameWidth, frameHeight, screenWidth, screenHeight);
    };
    try {
      if (TriggerEventInMainThread)
        CallInMainThread(raise);
      else
        raise();
    } catch (const std::exception& e) {
      GlobalLogger().Log(this, llError, std::string("Error occurs OnFileOpen: ") + e.what());
    }
  }
  if (s->Output && (screenWidth == 0 || screenHeight == 0))
    s->Output->ClientSize(screenWidth, screenHeight);
  SetScreenWidth(screenWidth);
  SetScreenHeight(screenHeight);

  if (!s->HasVideo() && !options.DisableDisplay) s->ShowAudio = options.ShowAudioMode;
  s->RefreshThread = std::thread([p = s.get()] { p->RefreshMain(); });
  s->EventThread = std::thread([this, p = s.get()] {
    for (;;) {
      const TPlayerEventItem item = p->Ring.Pop();
      if (item.Kind == pekNone) {
        p->Ring.WaitNotEmpty();
        continue;
      }
      if (item.Kind == pekPosition) {
        if (!p->Abandoned) FPosition = item.PTS;
        DeliverPosition(*p, item.PTS);
      } else if (item.Kind == pekState) {
        DeliverState(*p, item.State);
        if (item.State == psStop) break;
      } else {
        break;
      }
    }
    p->EventThreadDone.Set();
  });
  s->PlayThread = std::thread([p = s.get()] { p->PlayMain(); });
  s->ReadingAllowed.Set();
  return true;
}

// Runs `call` where events are delivered: on the main thread when TriggerEventInMainThread
// (counted in DeliveringOnMain, so that a Stop from inside a handler does not wait for this
// very delivery), else on the event thread. A handler's exception is logged, not passed on.
void TCustomPlayer::DeliverEvent(PlaybackState& stream, const char* eventName,
                                 const std::function<void()>& call) {
  try {
    if (TriggerEventInMainThread) {
      CallInMainThread([&] {
        struct TCounted {
          std::atomic<int>& Count;
          explicit TCounted(std::atomic<int>& count) : Count(count) { ++Count; }
          ~TCounted() { --Count; }
        } counted(stream.DeliveringOnMain);
        call();
      });
    } else {
      call();
    }
  } catch (const std::exception& e) {
    GlobalLogger().Log(this, llError, std::string("Error occurs ") + eventName + ": " + e.what());
  }
}

void TCustomPlayer::DeliverPosition(PlaybackState& stream, int64_t pts) {
  if (FDestroying || !OnPosition) return;
  DeliverEvent(stream, "OnPosition", [&] {
    if (!FDestroying && OnPosition) OnPosition(this, pts);
  });
}

void TCustomPlayer::DeliverState(PlaybackState& stream, TPlayState state) {
  if (FDestroying || !OnState) return;
  DeliverEvent(stream, "OnState", [&] {
    if (!FDestroying && OnState) OnState(this, state);
  });
}

void TCustomPlayer::SetState(PlaybackState& stream, TPlayState state) {
  {
    std::lock_guard lock(FStreamLock);
    if (!stream.Abandoned) FPlayState = state;
  }
  if (OnState && !FDestroying)
    stream.Ring.Push({pekState, state, 0});
  else if (state == psStop)
    stream.Ring.Push({pekEnd, state, 0});
}

void TCustomPlayer::Stop(bool AWait) {
  auto s = CurrentStream();
  if (s && !s->Closed) {
    if (s->Paused) {
      s->TogglePause();
      s->StepMode = false;
    }
    s->PostEvent(peQuit);
  }
  if (!AWait) return;
  if (!s) {
    ReapRetired(false);
    return;
  }
  // A handler or the hook running on one of the file's own threads cannot wait for them.
  if (OnThreadOf(*s)) return;

  int retries = 0;
  while (!WaitServing(s->PlayThreadDone, kStopStep)) {
    ++retries;
    if ((retries > kStopRetriesReading && s->Reading) || retries > kStopRetriesAny) {
      // The demux thread stays in a read (a drive that does not answer, a stalled input):
      // the file closes in the background once the read returns.
      GlobalLogger().Log(this, llWarning, "Player: the input does not answer; closing it later.");
      {
        std::lock_guard lock(FStreamLock);
        s->Abandoned = true;
        FPlayState = psStop;
        FRetired.push_back(s);
      }
      s->AbortRequest = true;
      s->AbortQueues();
      if (OnState && !FDestroying)
        s->Ring.Push({pekState, psStop, 0});
      else
        s->Ring.Push({pekEnd, psStop, 0});
      ForgetStream(s);
      return;
    }
    s->PostEvent(peQuit);
  }
  s->PlayThread.join();
  // The event thread ends once it delivered psStop; not when this is that delivery.
  const bool inDelivery = IsMainThread() && s->DeliveringOnMain > 0;
  if (!inDelivery && s->EventThread.joinable()) {
    WaitServing(s->EventThreadDone, std::chrono::hours(24));
    s->EventThread.join();
  } else if (s->EventThread.joinable()) {
    std::lock_guard lock(FStreamLock);
    FRetired.push_back(s);
  }
  ForgetStream(s);
  ReapRetired(false);
}

void TCustomPlayer::ForgetStream(const std::shared_ptr<PlaybackState>& stream) {
  {
    std::lock_guard lock(FStreamLock);
    if (FStream == stream) FStream.reset();
  }
  if (FProbeStream == stream && IsMainThread()) {
    FProbe.CloseMedia();
    FProbeStream.reset();
  }
}

void TCustomPlayer::ReapRetired(bool all) {
  for (;;) {
    std::shared_ptr<PlaybackState> next;
    {
      std::lock_guard lock(FStreamLock);
      if (FRetired.empty()) return;
      for (auto it = FRetired.begin(); it != FRetired.end(); ++it) {
        PlaybackState& s = **it;
        const bool playDone = !s.PlayThread.joinable() || s.PlayThreadDone.IsSet();
        const bool eventDone = !s.EventThread.joinable() || s.EventThreadDone.IsSet();
        const bool demuxDone =
            s.PlayThread.joinable() || !s.DemuxThread.joinable() || s.DemuxDone.IsSet();
        if (playDone && eventDone && demuxDone) {
          next = *it;
          FRetired.erase(it);
          break;
        }
      }
      if (!next && !all) return;
      if (!next) next = FRetired.front();
    }
    if (!next->PlayThread.joinable() && next->DemuxThread.joinable()) {
      // Opening never finished: the demux thread cleans up by itself.
      WaitServing(next->DemuxDone, std::chrono::hours(24));
      next->DemuxThread.join();
      if (next->SdlAudioStarted) {
        std::lock_guard lock(SdlLock());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        next->SdlAudioStarted = false;
      }
    }
    if (next->PlayThread.joinable()) {
      WaitServing(next->PlayThreadDone, std::chrono::hours(24));
      next->PlayThread.join();
    }
    if (next->EventThread.joinable()) {
      WaitServing(next->EventThreadDone, std::chrono::hours(24));
      next->EventThread.join();
    }
    std::lock_guard lock(FStreamLock);
    std::erase(FRetired, next);
  }
}

void TCustomPlayer::Pause() {
  auto s = CurrentStream();
  if (!s || s->Closed || s->Paused) return;
  s->TogglePause();
  s->StepMode = false;
  SetState(*s, psPause);
}

void TCustomPlayer::Resume() {
  auto s = CurrentStream();
  if (!s || s->Closed || !s->Paused) return;
  s->TogglePause();
  s->StepMode = false;
  SetState(*s, psResume);
}

void TCustomPlayer::StepFrame() {
  auto s = CurrentStream();
  if (!s || s->Closed) return;
  if (s->Paused) s->TogglePause();
  if (!s->StepMode.exchange(true)) SetState(*s, psStep);
}

void TCustomPlayer::Seek(uint8_t AFlags, bool AWait, int64_t APTS) {
  auto s = CurrentStream();
  if (!s || s->Closed) return;
  s->SeekTo(AFlags, APTS);
  if (!AWait) return;
  auto over = [&] { return s->Closed || s->AbortRequest; };
  while (!over() && !WaitServing(s->SeekDone, kStopStep)) {
  }
  if (s->HasVideo())
    while (!over() && !WaitServing(s->FrameQueued, kStopStep)) {
    }
}

bool TCustomPlayer::Paused() const {
  auto s = CurrentStream();
  return !s || s->Closed || s->Paused;
}

TBitmap* TCustomPlayer::CurrentFrame() {
  int64_t pts;
  return CurrentFrame(pts);
}

TBitmap* TCustomPlayer::CurrentFrame(int64_t& APTS) {
  APTS = -1;
  auto s = CurrentStream();
  if (!s || !s->HasVideo()) {
    FEmptyBitmap = TBitmap();
    return &FEmptyBitmap;
  }
  AVFramePtr frame;
  double pts = 0;
  {
    std::lock_guard lock(s->ShownLock);
    if (s->Shown) {
      frame.reset(av_frame_clone(s->Shown.get()));
      pts = s->ShownPts;
    }
  }
  if (!frame) {
    std::lock_guard lock(s->PictureLock);
    const FramePicture& first = s->Pictures[s->PictureRead];
    if (s->PictureSize > 0 && first.Frame) {
      frame.reset(av_frame_clone(first.Frame.get()));
      pts = first.Pts;
    }
  }
  if (!frame ||
      !FCurrentFrameConverter.ToRGB(frame->data, frame->linesize, AVPixelFormat(frame->format),
                                    frame->height, frame->width)) {
    FEmptyBitmap = TBitmap();
    return &FEmptyBitmap;
  }
  APTS = std::llround(pts * 1000000.0) - s->StartTime;
  return FCurrentFrameConverter.Bitmap();
}
