// Pixel access and small pictures shared by the effects and watermark tests.
#pragma once

#include <array>
#include <cstdint>
#include <random>

#include "media/bitmap.h"

using Pixel = std::array<uint8_t, 3>;  // blue, green, red

inline Pixel At(const TBitmap& b, int x, int y) {
  const uint8_t* p = b.ScanLine(y) + x * 3;
  return {p[0], p[1], p[2]};
}

inline void Put(TBitmap& b, int x, int y, Pixel v) {
  uint8_t* p = b.ScanLine(y) + x * 3;
  p[0] = v[0];
  p[1] = v[1];
  p[2] = v[2];
}

inline TBitmap Filled(int w, int h, Pixel v) {
  TBitmap b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) Put(b, x, y, v);
  return b;
}

// Random bytes in every pixel (not in the row padding), the same for the same seed.
inline TBitmap Noise(int w, int h, unsigned seed) {
  TBitmap b(w, h);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * 3; ++x) b.ScanLine(y)[x] = uint8_t(rng());
  return b;
}

inline bool SamePixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (At(a, x, y) != At(b, x, y)) return false;
  return true;
}
