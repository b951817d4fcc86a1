#include "player/recording_output.h"

#include <cstring>

TRecordingOutput::TRecordingOutput(int clientWidth, int clientHeight, size_t keepPixels)
    : FClientWidth(clientWidth), FClientHeight(clientHeight), FKeepPixels(keepPixels) {}

std::vector<TRecordedPicture> TRecordingOutput::Pictures() const {
  std::lock_guard lock(FLock);
  return FPictures;
}

size_t TRecordingOutput::PictureCount() const {
  std::lock_guard lock(FLock);
  return FPictures.size();
}

TRecordedPicture TRecordingOutput::LastPicture() const {
  std::lock_guard lock(FLock);
  if (FPictures.empty()) {
    TRecordedPicture none;
    none.PTS = -1;
    return none;
  }
  return FPictures.back();
}

std::vector<TRecordedScreen> TRecordingOutput::Screens() const {
  std::lock_guard lock(FLock);
  return FScreens;
}

size_t TRecordingOutput::ScreenCount() const {
  std::lock_guard lock(FLock);
  return FScreens.size();
}

int TRecordingOutput::ModeWidth() const {
  std::lock_guard lock(FLock);
  return FModeWidth;
}

int TRecordingOutput::ModeHeight() const {
  std::lock_guard lock(FLock);
  return FModeHeight;
}

int TRecordingOutput::ModeChanges() const {
  std::lock_guard lock(FLock);
  return FModeChanges;
}

void TRecordingOutput::SetKeepPixels(size_t keepPixels) {
  std::lock_guard lock(FLock);
  FKeepPixels = keepPixels;
  TrimPixels();
}

void TRecordingOutput::Clear() {
  std::lock_guard lock(FLock);
  FPictures.clear();
  FScreens.clear();
  FFirstWithPixels = FFirstScreenWithPixels = 0;
}

void TRecordingOutput::Resize(int width, int height) {
  {
    std::lock_guard lock(FLock);
    FClientWidth = width;
    FClientHeight = height;
  }
  std::lock_guard lock(FListenerLock);
  if (FListener) FListener->OutputResized(width, height);
}

void TRecordingOutput::ClientSize(int& width, int& height) {
  std::lock_guard lock(FLock);
  width = FClientWidth;
  height = FClientHeight;
}

void TRecordingOutput::SetListener(TVideoOutputListener* listener) {
  std::lock_guard lock(FListenerLock);
  FListener = listener;
}

bool TRecordingOutput::SetVideoMode(int width, int height) {
  std::lock_guard lock(FLock);
  FModeWidth = width;
  FModeHeight = height;
  ++FModeChanges;
  return true;
}

void TRecordingOutput::DisplayOverlay(TOverlay& overlay, const TVideoRect& rect, int64_t pts) {
  TRecordedPicture picture;
  picture.PTS = pts;
  picture.ShownAt = std::chrono::steady_clock::now();
  picture.Rect = rect;
  picture.Width = overlay.Width();
  picture.Height = overlay.Height();
  const bool keep = [&] {
    std::lock_guard lock(FLock);
    picture.SurfaceWidth = FModeWidth;
    picture.SurfaceHeight = FModeHeight;
    return FKeepPixels > 0;
  }();
  if (keep) {
    auto copy = [&](int plane, int width, int height, std::vector<uint8_t>& out) {
      out.resize(size_t(width) * height);
      for (int y = 0; y < height; ++y)
        std::memcpy(out.data() + size_t(y) * width,
                    overlay.Plane(plane) + size_t(y) * overlay.Pitch(plane), size_t(width));
    };
    copy(0, picture.Width, picture.Height, picture.Y);
    copy(1, picture.Width / 2, picture.Height / 2, picture.U);
    copy(2, picture.Width / 2, picture.Height / 2, picture.V);
  }
  std::lock_guard lock(FLock);
  FPictures.push_back(std::move(picture));
  TrimPixels();
}

void TRecordingOutput::DisplayScreen(const TBitmap& screen, const TVideoRect& changed) {
  TRecordedScreen shown;
  shown.ShownAt = std::chrono::steady_clock::now();
  shown.Changed = changed;
  const bool keep = [&] {
    std::lock_guard lock(FLock);
    return FKeepPixels > 0;
  }();
  if (keep) shown.Screen = screen;
  std::lock_guard lock(FLock);
  FScreens.push_back(std::move(shown));
  TrimPixels();
}

void TRecordingOutput::TrimPixels() {
  while (FPictures.size() - FFirstWithPixels > FKeepPixels) {
    auto& old = FPictures[FFirstWithPixels++];
    old.Y = {};
    old.U = {};
    old.V = {};
  }
  while (FScreens.size() - FFirstScreenWithPixels > FKeepPixels)
    FScreens[FFirstScreenWithPixels++].Screen = TBitmap();
}
