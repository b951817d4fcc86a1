// The play thread: its event loop, the refresh step that shows each picture at its time,
// drawing with the aspect rules and subtitles, the audio visualisation, and the position
// and end reports.
#include <SDL2/SDL.h>

#include <cstdint>

extern "C" {
#include <libavutil/time.h>
}

#include <climits>
#include <cmath>
#include <cstring>
#include <thread>

#include "media/logger.h"
#include "player/playback_state.h"

void TPlayEventQueue::Post(const TPlayEvent& event) {
  {
    std::lock_guard lock(FLock);
    FEvents.push_back(event);
  }
  FPosted.notify_one();
}

TPlayEvent TPlayEventQueue::Wait() {
  std::unique_lock lock(FLock);
  FPosted.wait(lock, [&] { return !FEvents.empty(); });
  TPlayEvent event = FEvents.front();
  FEvents.pop_front();
  return event;
}

void PlaybackState::OutputResized(int width, int height) {
  PostEvent(peResize, width, height);
}

void PlaybackState::OutputExposed() {
  PostEvent(peExpose);
}

void PlaybackState::PlayMain() {
  Player.SetState(*this, psPlay);
  if (Output) Output->SetListener(this);
  for (;;) {
    const TPlayEvent event = Events.Wait();
    std::unique_lock lock(ComponentLock);
    if (Closed) break;
    try {
      switch (event.Type) {
        case peQuit:
          Shutdown();
          break;
        case peResize:
          if (event.Width > 0 && event.Height > 0) {
            if (Output && !Output->SetVideoMode(event.Width, event.Height))
              GlobalLogger().Log(&Player, llError, "SDL: could not set video mode.");
            Player.SetScreenWidth(event.Width);
            Player.SetScreenHeight(event.Height);
            DisplayWidth = event.Width;
            DisplayHeight = event.Height;
            SurfaceOpen = true;
            if (Paused) RedrawLast();
          }
          break;
        case peExpose:
          RedrawLast();
          break;
        case peAllocate:
          AllocatePicture();
          break;
        case peRefresh:
          VideoRefresh(true);
          RefreshPending = false;
          break;
        case peRedisplay:
          OpenSurface(true);
          RedrawLast();
          break;
      }
    } catch (const std::exception& e) {
      GlobalLogger().Log(&Player, llFatal, std::string("PlayThread Exception: ") + e.what());
      if (!Closed) Shutdown();
    }
    if (Closed) break;
  }
  Player.SetState(*this, psStop);
  PlayThreadDone.Set();
}

void PlaybackState::Shutdown() {
  Closed = true;
  if (Output) Output->SetListener(nullptr);
  StreamClose();
  LastShownOverlay.reset();
  if (SdlAudioStarted) {
    std::lock_guard lock(SdlLock());
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    SdlAudioStarted = false;
  }
}

void PlaybackState::RefreshMain() {
  while (!AbortRequest) {
    bool expected = false;
    if (RefreshPending.compare_exchange_strong(expected, true)) PostEvent(peRefresh);
    std::this_thread::sleep_for(std::chrono::milliseconds(ShowAudio ? 20 : 5));
  }
}

double PlaybackState::VideoClock() const {
  if (Paused || VideoClockHeld) return VideoCurrentPts;
  const double drift = VideoCurrentPtsDrift;
  if (drift == 0) return double(StartTime) / 1000000.0;
  return drift + NowSeconds();
}

double PlaybackState::ExternalClockNow() const {
  return ExternalClock + (NowSeconds() - ExternalClockTime);
}

double PlaybackState::MasterClock() const {
  if (SyncType == 1) return VideoStream ? VideoClock() : AudioClock();
  if (SyncType == 0) return AudioStream ? AudioClock() : VideoClock();
  return ExternalClockNow();
}

void PlaybackState::VideoRefresh(bool displayNow) {
  bool dropped = false;
  if (VideoStream) {
    for (;;) {
      std::unique_lock lock(PictureLock);
      if (PictureSize == 0) {
        lock.unlock();
        if (!displayNow) RedrawLast();
        break;
      }
      FramePicture& picture = Pictures[PictureRead];
      const double now = NowSeconds();
      if (displayNow && now < picture.Target) return;
      VideoCurrentPts = picture.Pts;
      VideoCurrentPtsDrift = picture.Pts - now;
      VideoClockHeld = false;
      VideoCurrentPos = picture.Pos;
      double nextTarget;
      if (PictureSize > 1) {
        nextTarget = std::max(Pictures[(PictureRead + 1) % kPictureRing].Target, picture.Target);
      } else {
        nextTarget = picture.Target + VideoClockValue - picture.Pts;
      }
      if (displayNow) {
        const bool justSeeked = JustSeeked;
        const bool late = now > nextTarget && !LiveCapture && !picture.FirstAfterSeek;
        if (late || justSeeked) {
          SkipRatio = SkipRatio * float(1.0 + kFrameSkipFactor);
          if (PictureSize > 1 || now > nextTarget + 0.5 || justSeeked) {
            PictureRead = (PictureRead + 1) % kPictureRing;
            --PictureSize;
            dropped = true;
            lock.unlock();
            PictureCond.notify_all();
            continue;
          }
        }
      }
      lock.unlock();

      if (SubtitleStream) {
        std::lock_guard subtitles(SubtitleLock);
        if (SubtitleStreamChanged) {
          Subtitles.clear();
          SubtitleStreamChanged = false;
          SubtitleCond.notify_all();
        } else if (!Subtitles.empty()) {
          const SubtitlePicture& first = Subtitles.front();
          const bool pastEnd = picture.Pts > first.End;
          const bool nextDue = Subtitles.size() > 1 && picture.Pts > Subtitles[1].Start;
          if (pastEnd || nextDue) {
            Subtitles.pop_front();
            SubtitleCond.notify_all();
          }
        }
      }

      if (!SurfaceOpen) OpenSurface(false, picture.Width, picture.Height);
      DrawPicture(picture);
      if (displayNow) {
        lock.lock();
        PictureRead = (PictureRead + 1) % kPictureRing;
        --PictureSize;
        lock.unlock();
        PictureCond.notify_all();
      }
      break;
    }
  }
  if (!VideoStream && AudioStream) VideoDisplay();
  if (!dropped) UpdatePosition();
}

void PlaybackState::VideoDisplay() {
  if (!SurfaceOpen) OpenSurface(false);
  if (AudioStream && ShowAudio) DrawAudioVisualisation();
}

bool PlaybackState::OpenSurface(bool force, int pictureWidth, int pictureHeight) {
  int width = Player.ScreenWidth(), height = Player.ScreenHeight();
  if (width <= 0 || height <= 0) {
    width = pictureWidth & ~1;
    height = pictureHeight & ~1;
    if (width <= 0 || height <= 0) {
      width = 640;
      height = 480;
    }
  }
  if (!force && SurfaceOpen && DisplayWidth == width && DisplayHeight == height) return true;
  if (Output && !Output->SetVideoMode(width, height)) {
    GlobalLogger().Log(&Player, llError, "SDL: could not set video mode.");
    return false;
  }
  DisplayWidth = width;
  DisplayHeight = height;
  DisplayLeft = DisplayTop = 0;
  SurfaceOpen = true;
  return true;
}

void PlaybackState::DrawPicture(FramePicture& picture) {
  TOverlay& overlay = *picture.Overlay;
  double sar = 0;
  if (picture.Frame && picture.Frame->sample_aspect_ratio.num > 0)
    sar = av_q2d(picture.Frame->sample_aspect_ratio);
  const double aspect = DrawAspect(Player.AspectRatio(), sar, overlay.Width(), overlay.Height(),
                                   DisplayWidth, DisplayHeight);
  std::lock_guard overlayLock(overlay.Lock());
  {
    std::lock_guard subtitles(SubtitleLock);
    if (!Subtitles.empty() && picture.Pts >= Subtitles.front().Start)
      for (const TSubtitleBitmap& rect : Subtitles.front().Rects) BlendSubtitle(overlay, rect);
  }
  const TVideoRect rect = PictureRect(aspect, DisplayLeft, DisplayTop, DisplayWidth, DisplayHeight);
  const int64_t pts = std::llround(picture.Pts * 1000000.0) - StartTime;
  if (Output) Output->DisplayOverlay(overlay, rect, pts);

  // What is on screen, for a redraw and for CurrentFrame.
  if (!LastShownOverlay || LastShownOverlay->Width() != overlay.Width() ||
      LastShownOverlay->Height() != overlay.Height())
    LastShownOverlay = std::make_unique<TOverlay>(overlay.Width(), overlay.Height());
  for (int plane = 0; plane < 3; ++plane) {
    const int rows = plane == 0 ? overlay.Height() : overlay.Height() / 2;
    const int bytes = plane == 0 ? overlay.Width() : overlay.Width() / 2;
    for (int y = 0; y < rows; ++y)
      std::memcpy(LastShownOverlay->Plane(plane) + size_t(y) * LastShownOverlay->Pitch(plane),
                  overlay.Plane(plane) + size_t(y) * overlay.Pitch(plane), size_t(bytes));
  }
  LastShownSar = sar;
  LastShownPts = pts;
  if (picture.Frame) {
    std::lock_guard shown(ShownLock);
    Shown.reset(av_frame_clone(picture.Frame.get()));
    ShownPts = picture.Pts;
  }
}

void PlaybackState::RedrawLast() {
  if (!VideoStream) {
    if (AudioStream) VideoDisplay();
    return;
  }
  if (!LastShownOverlay || !Output) return;
  const double aspect = DrawAspect(Player.AspectRatio(), LastShownSar, LastShownOverlay->Width(),
                                   LastShownOverlay->Height(), DisplayWidth, DisplayHeight);
  const TVideoRect rect = PictureRect(aspect, DisplayLeft, DisplayTop, DisplayWidth, DisplayHeight);
  std::lock_guard overlayLock(LastShownOverlay->Lock());
  Output->DisplayOverlay(*LastShownOverlay, rect, LastShownPts);
}

namespace {

inline int Wrap(int index, int size) {
  return ((index % size) + size) % size;
}

void FillRect(TBitmap& screen, int x, int y, int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  const int x0 = std::max(x, 0), y0 = std::max(y, 0);
  const int x1 = std::min(x + w, screen.Width()), y1 = std::min(y + h, screen.Height());
  for (int row = y0; row < y1; ++row) {
    uint8_t* p = screen.ScanLine(row) + size_t(x0) * 3;
    for (int col = x0; col < x1; ++col, p += 3) {
      p[0] = b;
      p[1] = g;
      p[2] = r;
    }
  }
}

}  // namespace

void PlaybackState::DrawAudioVisualisation() {
  if (!Output || DisplayWidth <= 0 || DisplayHeight <= 0) return;
  const int width = DisplayWidth, height = DisplayHeight;
  const int channels = std::max(AudioChannels, 1);
  const int mode = ShowAudio;
  if (Screen.Width() != width || Screen.Height() != height) {
    Screen.SetSize(width, height);
    SpectrumColumn = 0;
  }

  int bits = 1;
  while ((1 << bits) < 2 * height) ++bits;
  const int half = 1 << (bits - 1);  // N
  const int shown = mode == 1 ? width : 2 * half;

  std::vector<int16_t> samples;
  int start;
  {
    std::lock_guard lock(SampleLock);
    if (SampleRing.empty()) SampleRing.assign(kSampleRing, 0);
    if (!Paused) {
      int delay = AudioBufferLeft / (2 * channels);
      const int64_t callback = AudioCallbackTime;
      if (callback) {
        const int64_t since = av_gettime_relative() - callback;
        delay -= int(since * AudioRate / 1000000);
      }
      delay += 2 * shown;
      if (delay < shown) delay = shown;
      start = Wrap(SampleIndex - delay * channels, kSampleRing);
      if (mode == 1) {
        // Start at a rising zero crossing so the waveform stands still.
        int best = INT_MIN;
        const int from = start;
        for (int i = 0; i < 1000; i += channels) {
          const int idx = Wrap(from - i, kSampleRing);
          const int a = SampleRing[size_t(idx)];
          const int b = SampleRing[size_t(Wrap(idx + 4 * channels, kSampleRing))];
          const int c = SampleRing[size_t(Wrap(idx + 5 * channels, kSampleRing))];
          const int d = SampleRing[size_t(Wrap(idx + 9 * channels, kSampleRing))];
          const int score = a - d;
          if (best < score && (b ^ c) < 0) {
            best = score;
            start = idx;
          }
        }
      }
      LastStart = start;
    } else {
      start = LastStart;
    }
    const int count = (mode == 1 ? width : 2 * half) * channels;
    samples.resize(size_t(count));
    for (int i = 0; i < count; ++i)
      samples[size_t(i)] = SampleRing[size_t(Wrap(start + i, kSampleRing))];
  }

  if (mode == 1) {
    FillRect(Screen, 0, 0, width, height, 0, 0, 0);
    const int band = height / channels;
    const int scale = band * 9 / 20;
    for (int ch = 0; ch < channels; ++ch) {
      const int centre = ch * band + band / 2;
      for (int x = 0; x < width; ++x) {
        int y = (samples[size_t(x * channels + ch)] * scale) >> 15;
        int top = centre;
        if (y < 0) {
          y = -y;
          top = centre - y;
        }
        FillRect(Screen, x, top, 1, std::max(y, 1), 255, 255, 255);
      }
    }
    for (int ch = 1; ch < channels; ++ch) FillRect(Screen, 0, ch * band, width, 1, 255, 255, 255);
    Output->DisplayScreen(Screen, TVideoRect{0, 0, width, height});
    return;
  }

  // Spectrum: one column per call.
  const int transform = 2 * half;
  if (!Rdft || RdftBits != bits) {
    if (Rdft) av_tx_uninit(&Rdft);
    RdftBits = bits;
    const float scale = 1.0f;
    if (av_tx_init(&Rdft, &RdftFn, AV_TX_FLOAT_RDFT, 0, transform, &scale, AV_TX_UNALIGNED) < 0) {
      Rdft = nullptr;
      return;
    }
    RdftIn.assign(size_t(transform) + 2, 0.0f);
    for (auto& out : RdftOut) out.assign(size_t(half) + 1, AVComplexFloat{0, 0});
  }
  const int used = std::min(channels, 2);
  for (int ch = 0; ch < used; ++ch) {
    for (int k = 0; k < transform; ++k) {
      const double w = double(k - half) / half;
      RdftIn[size_t(k)] = float(samples[size_t(k * channels + ch)] * (1.0 - w * w));
    }
    RdftFn(Rdft, RdftOut[ch].data(), RdftIn.data(), sizeof(float));
  }
  if (used == 1) RdftOut[1] = RdftOut[0];
  const double norm = 1.0 / std::sqrt(double(half));
  for (int y = 0; y < height; ++y) {
    double value[2];
    for (int ch = 0; ch < 2; ++ch) {
      const AVComplexFloat& bin = RdftOut[ch][size_t(std::min(y, half))];
      value[ch] = std::min(
          255.0, std::sqrt(norm * std::sqrt(double(bin.re) * bin.re + double(bin.im) * bin.im)));
    }
    const int row = height - 1 - y;
    FillRect(Screen, SpectrumColumn, row, 1, 1, uint8_t(value[0]), uint8_t(value[1]),
             uint8_t((value[0] + value[1]) / 2));
  }
  Output->DisplayScreen(Screen, TVideoRect{SpectrumColumn, 0, 1, height});
  if (!Paused) SpectrumColumn = (SpectrumColumn + 1) % width;
}

void PlaybackState::UpdatePosition() {
  if (StillImage) return;
  int64_t position;
  if (VideoStream) {
    position = std::llround(VideoClock() * 1000000.0) - StartTime;
  } else if (AudioStream) {
    position = std::llround(AudioClock() * 1000000.0) - StartTime;
    if (AudioDuration > 0 && position >= AudioDuration && Duration > position) position = Duration;
  } else {
    return;
  }
  {
    std::lock_guard lock(PositionLock);
    if (Duration > 0 && position >= Duration) {
      position = Duration;
      if (LastReportedPosition != Duration) LastReportedPosition = 0;
    }
    CurrentPosition = position;
    if (PositionWorthReporting(LastReportedPosition, position)) {
      LastReportedPosition = position;
      if (Player.OnPosition && !Player.FDestroying) Ring.Push({pekPosition, psPlay, position});
    }
  }
  if (!LiveCapture && !EndFlagged && Drained) {
    if (VideoStream) EndFlagged = true;
    Player.SetState(*this, psEnd);
  }
  if (Options.PlayDuration != kNoPTS) {
    const int64_t end = Options.PlayStart != kNoPTS ? Options.PlayStart + Options.PlayDuration
                                                    : Options.PlayDuration;
    // A seek under way (the play window's own return included) has not shown its place yet.
    if (position >= end && !Seeking) {
      if (Options.EndAction == 1) {
        PostEvent(peQuit);
      } else if (Options.EndAction == 2) {
        if (Options.PlayStart != kNoPTS)
          SeekTo(0, Options.PlayStart);
        else
          SeekTo(kSeekAny, 0);
      }
    }
  }
}
