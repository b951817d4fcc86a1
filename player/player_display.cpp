#include "player/player_display.h"

#include <algorithm>
#include <cmath>

double DrawAspect(float aspectRatio, double sar, int width, int height, int displayWidth,
                  int displayHeight) {
  if (aspectRatio >= 0 || displayWidth == 0 || displayHeight == 0) {
    if (aspectRatio > 0) return aspectRatio;
    if (!(sar > 0)) sar = 1;
    return height > 0 ? sar * width / height : 1.0;
  }
  return double(displayWidth) / displayHeight;
}

TVideoRect PictureRect(double aspect, int displayLeft, int displayTop, int displayWidth,
                       int displayHeight) {
  if (!(aspect > 0)) aspect = 1;
  int height = displayHeight;
  int width = int(std::lrint(height * aspect)) & ~1;
  if (width > displayWidth) {
    width = displayWidth;
    height = int(std::lrint(width / aspect)) & ~1;
  }
  TVideoRect rect;
  rect.X = displayLeft + (displayWidth - width) / 2;
  rect.Y = displayTop + (displayHeight - height) / 2;
  rect.Width = std::max(width, 1);
  rect.Height = std::max(height, 1);
  return rect;
}

namespace {

constexpr int kScaleBits = 10;
constexpr int kOneHalf = 1 << (kScaleBits - 1);
constexpr int Fix(double x) {
  return int(x * (1 << kScaleBits) + 0.5);
}

// ((255 - a) * (old << s) + a * value) / (255 << s)
inline uint8_t Blend(int alpha, int old, int value, int shift) {
  return uint8_t(((old << shift) * (255 - alpha) + value * alpha) / (255 << shift));
}

}  // namespace

TYuva RgbaToYuva(uint32_t argb) {
  const int a = int(argb >> 24) & 0xff;
  const int r = int(argb >> 16) & 0xff;
  const int g = int(argb >> 8) & 0xff;
  const int b = int(argb) & 0xff;
  TYuva out;
  out.Y = uint8_t((Fix(0.29900 * 219.0 / 255.0) * r + Fix(0.58700 * 219.0 / 255.0) * g +
                   Fix(0.11400 * 219.0 / 255.0) * b + (kOneHalf + (16 << kScaleBits))) >>
                  kScaleBits);
  out.U = uint8_t(((-Fix(0.16874 * 224.0 / 255.0) * r - Fix(0.33126 * 224.0 / 255.0) * g +
                    Fix(0.50000 * 224.0 / 255.0) * b + kOneHalf - 1) >>
                   kScaleBits) +
                  128);
  out.V = uint8_t(((Fix(0.50000 * 224.0 / 255.0) * r - Fix(0.41869 * 224.0 / 255.0) * g -
                    Fix(0.08131 * 224.0 / 255.0) * b + kOneHalf - 1) >>
                   kScaleBits) +
                  128);
  out.A = uint8_t(a);
  return out;
}

void BlendSubtitle(TOverlay& overlay, const TSubtitleBitmap& rect) {
  const int x0 = std::max(rect.X, 0);
  const int y0 = std::max(rect.Y, 0);
  const int x1 = std::min(rect.X + rect.Width, overlay.Width());
  const int y1 = std::min(rect.Y + rect.Height, overlay.Height());
  if (x0 >= x1 || y0 >= y1) return;
  auto entry = [&](int x, int y) -> const TYuva& {
    return rect.Palette[rect.Indices[size_t(y - rect.Y) * rect.Width + (x - rect.X)]];
  };

  for (int y = y0; y < y1; ++y) {
    uint8_t* luma = overlay.Plane(0) + size_t(y) * overlay.Pitch(0);
    for (int x = x0; x < x1; ++x) {
      const TYuva& p = entry(x, y);
      luma[x] = Blend(p.A, luma[x], p.Y, 0);
    }
  }

  // Each chroma sample covers the 2 x 2 luma block at (2cx, 2cy).
  for (int cy = y0 / 2; cy <= (y1 - 1) / 2; ++cy) {
    uint8_t* cb = overlay.Plane(1) + size_t(cy) * overlay.Pitch(1);
    uint8_t* cr = overlay.Plane(2) + size_t(cy) * overlay.Pitch(2);
    for (int cx = x0 / 2; cx <= (x1 - 1) / 2; ++cx) {
      int alpha = 0, u = 0, v = 0, covered = 0;
      for (int y = 2 * cy; y < 2 * cy + 2; ++y) {
        if (y < y0 || y >= y1) continue;
        for (int x = 2 * cx; x < 2 * cx + 2; ++x) {
          if (x < x0 || x >= x1) continue;
          const TYuva& p = entry(x, y);
          alpha += p.A;
          u += p.U;
          v += p.V;
          ++covered;
        }
      }
      if (covered == 4) {
        cb[cx] = Blend(alpha >> 2, cb[cx], u, 2);
        cr[cx] = Blend(alpha >> 2, cr[cx], v, 2);
      } else if (covered == 2) {
        cb[cx] = Blend(alpha >> 2, cb[cx], u, 1);
        cr[cx] = Blend(alpha >> 2, cr[cx], v, 1);
      } else if (covered == 1) {
        cb[cx] = Blend(alpha, cb[cx], u, 0);
        cr[cx] = Blend(alpha, cr[cx], v, 0);
      }
    }
  }
}
