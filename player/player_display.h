// The player's drawing rules, as pure functions: the rectangle a picture is shown in for an
// aspect setting, and bitmap subtitles converted to YUV and blended into an overlay.
// Callable from any thread (BlendSubtitle with the overlay's Lock() held).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "player/video_output.h"

// The display aspect (width / height) a picture is drawn with. `aspectRatio` > 0 forces
// it; 0 takes the picture's sample aspect ratio (`sar`, 1 when not positive) x width /
// height; < 0 fills the display (display width / height, when the display has a size).
double DrawAspect(float aspectRatio, double sar, int width, int height, int displayWidth,
                  int displayHeight);

// The largest rectangle of that aspect inside the display, centred; width and height even.
TVideoRect PictureRect(double aspect, int displayLeft, int displayTop, int displayWidth,
                       int displayHeight);

struct TYuva {
  uint8_t Y = 16, U = 128, V = 128, A = 0;
  bool operator==(const TYuva&) const = default;
};

// BT.601 studio range in 10-bit fixed point; `argb` as subtitle palettes hold it
// (0xAARRGGBB).
TYuva RgbaToYuva(uint32_t argb);

// One rectangle of a bitmap subtitle with its palette already in YUV.
struct TSubtitleBitmap {
  int X = 0, Y = 0, Width = 0, Height = 0;  // in picture pixels
  std::vector<uint8_t> Indices;             // Width x Height palette indexes
  std::array<TYuva, 256> Palette{};
};

// Blends the rectangle into the overlay (clipped to it): luma per pixel; each chroma
// sample from the luma pixels of its 2 x 2 block that the rectangle covers.
void BlendSubtitle(TOverlay& overlay, const TSubtitleBitmap& rect);
