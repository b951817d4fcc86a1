#include "player/video_output.h"

#include <algorithm>

TOverlay::TOverlay(int width, int height) : TOverlay(width, height, true) {}

TOverlay::TOverlay(int width, int height, bool allocate) : FWidth(width), FHeight(height) {
  if (!allocate) return;
  // Rows padded to 32 bytes, as decoders and scalers like them.
  FPitches[0] = (width + 31) & ~31;
  FPitches[1] = FPitches[2] = (width / 2 + 31) & ~31;
  const size_t luma = size_t(FPitches[0]) * height;
  const size_t chroma = size_t(FPitches[1]) * (height / 2);
  // Black: luma 16, chroma 128.
  FMemory.assign(luma + 2 * chroma + 64, 128);
  std::fill(FMemory.begin(), FMemory.begin() + luma, uint8_t(16));
  FPlanes[0] = FMemory.data();
  FPlanes[1] = FPlanes[0] + luma;
  FPlanes[2] = FPlanes[1] + chroma;
}
