// An output that keeps what the player showed, for tests and benches: every picture's time,
// when it was shown and where, and the pixels of the newest few; every visualisation screen
// likewise. Reading is thread-safe (any thread, while the player plays).
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "player/video_output.h"

struct TRecordedPicture {
  int64_t PTS = 0;  // microseconds from the start of the file
  std::chrono::steady_clock::time_point ShownAt;
  TVideoRect Rect;
  int SurfaceWidth = 0, SurfaceHeight = 0;
  int Width = 0, Height = 0;
  // Tightly packed planes (luma Width x Height, chroma half that each way); empty once the
  // picture is older than the newest KeepPixels ones.
  std::vector<uint8_t> Y, U, V;
};

struct TRecordedScreen {
  std::chrono::steady_clock::time_point ShownAt;
  TVideoRect Changed;
  TBitmap Screen;  // a copy (kept for the newest KeepPixels screens only; else 0 x 0)
};

class TRecordingOutput : public TVideoOutput {
 public:
  // `clientWidth` x `clientHeight` is the window size it reports (0 x 0: none). Pixels are
  // kept for the newest `keepPixels` pictures and screens.
  TRecordingOutput(int clientWidth = 0, int clientHeight = 0, size_t keepPixels = 8);

  std::vector<TRecordedPicture> Pictures() const;
  size_t PictureCount() const;
  // Only the newest picture (PTS -1 and no pixels when none was shown).
  TRecordedPicture LastPicture() const;
  std::vector<TRecordedScreen> Screens() const;
  size_t ScreenCount() const;
  int ModeWidth() const;
  int ModeHeight() const;
  int ModeChanges() const;  // SetVideoMode calls
  void SetKeepPixels(size_t keepPixels);
  void Clear();  // forgets pictures and screens

  // The host window is resized: reports the new client size to the attached player.
  void Resize(int width, int height);

  void ClientSize(int& width, int& height) override;
  void SetListener(TVideoOutputListener* listener) override;
  bool SetVideoMode(int width, int height) override;
  void DisplayOverlay(TOverlay& overlay, const TVideoRect& rect, int64_t pts) override;
  void DisplayScreen(const TBitmap& screen, const TVideoRect& changed) override;

 private:
  void TrimPixels();

  mutable std::mutex FLock;
  int FClientWidth, FClientHeight;
  size_t FKeepPixels;
  int FModeWidth = 0, FModeHeight = 0, FModeChanges = 0;
  std::vector<TRecordedPicture> FPictures;
  size_t FFirstWithPixels = 0;  // pictures before it have lost their pixels
  std::vector<TRecordedScreen> FScreens;
  size_t FFirstScreenWithPixels = 0;
  std::mutex FListenerLock;  // held while the listener is called or changed
  TVideoOutputListener* FListener = nullptr;
};
