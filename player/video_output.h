// Where the player's pictures go. The player decodes into YUV 4:2:0 overlays and asks an
// output to show one scaled into a rectangle of its surface; without video it hands the
// output a drawn RGB screen (the audio waveform or spectrum). Three outputs exist: the Qt
// widget output (app/gui/video_widget.h), TRecordingOutput for tests and benches
// (player/recording_output.h), and none (a null output, or DisableDisplay).
//
// Threads (the player's side of the contract):
// - ClientSize: the thread that calls TCustomPlayer::Open, before the play thread starts.
// - SetListener, SetVideoMode, CreateOverlay, DisplayOverlay, DisplayScreen: the player's
//   play thread only, one call at a time. They must not wait for another thread that may
//   itself wait for the player (the GUI thread in particular): hand the picture over and
//   return.
// - An overlay's pixels are written on the video decoding thread and read by
//   DisplayOverlay, each with Lock() held.
// - The listener's calls may come from any thread at any time while it is set; after
//   SetListener(nullptr) returns the output calls the old listener no more.
// - The output must stay alive until the player has stopped (Stop(true) returned) or has
//   been destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "media/bitmap.h"

struct TVideoRect {
  int X = 0, Y = 0, Width = 0, Height = 0;
  bool operator==(const TVideoRect&) const = default;
};

// A planar YUV 4:2:0 picture (BT.601 studio range): plane 0 luma, planes 1 and 2 the blue
// and red differences at half width and height. Width and height are even.
class TOverlay {
 public:
  TOverlay(int width, int height);
  virtual ~TOverlay() = default;
  TOverlay(const TOverlay&) = delete;
  TOverlay& operator=(const TOverlay&) = delete;

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  uint8_t* Plane(int index) { return FPlanes[index]; }
  const uint8_t* Plane(int index) const { return FPlanes[index]; }
  int Pitch(int index) const { return FPitches[index]; }
  std::mutex& Lock() { return FLock; }

 protected:
  // For outputs that keep the pixels elsewhere: they set the planes themselves.
  TOverlay(int width, int height, bool allocate);
  uint8_t* FPlanes[3] = {};
  int FPitches[3] = {};

 private:
  int FWidth, FHeight;
  std::vector<uint8_t> FMemory;
  std::mutex FLock;
};

// What an output tells the player about its window (the player implements it).
class TVideoOutputListener {
 public:
  virtual ~TVideoOutputListener() = default;
  // The window's client area changed size; the player re-creates its surface at that size
  // and, when paused, draws the current picture again.
  virtual void OutputResized(int width, int height) = 0;
  // The window needs its contents again (an output that keeps its last picture need not
  // call this).
  virtual void OutputExposed() = 0;
};

class TVideoOutput {
 public:
  virtual ~TVideoOutput() = default;

  // The window's client size; 0 x 0 when the output has no window of its own size.
  virtual void ClientSize(int& width, int& height) = 0;
  // The player attaches itself while a file plays (null detaches).
  virtual void SetListener(TVideoOutputListener* listener) { (void)listener; }
  // The surface the player draws on gets this size (the window's, or the one the player
  // asked for). False when the output cannot provide it.
  virtual bool SetVideoMode(int width, int height) = 0;
  // A new overlay of the given size; outputs with their own picture memory override it.
  virtual std::unique_ptr<TOverlay> CreateOverlay(int width, int height) {
    return std::make_unique<TOverlay>(width, height);
  }
  // Shows the overlay scaled into `rect` of the surface, the rest of the surface black.
  // `pts` is the picture's time in microseconds from the start of the file. The overlay's
  // Lock() is held by the caller; an output that shows the picture later copies it.
  virtual void DisplayOverlay(TOverlay& overlay, const TVideoRect& rect, int64_t pts) = 0;
  // Shows an RGB picture of the whole surface (the audio visualisation); `changed` is the
  // part that differs from the last one shown.
  virtual void DisplayScreen(const TBitmap& screen, const TVideoRect& changed) = 0;
};
