#include "app/core/color_adjust.h"

#include <algorithm>
#include <cmath>

namespace {

// Saturation values beyond this push every channel that differs from its pixel's mean all
// the way to 0 or 255 already, so clamping to it changes no result and keeps the tables'
// arithmetic inside 32 bits.
constexpr int64_t kSaturationLimit = 65536;

uint8_t ClampByte(int64_t v) {
  return uint8_t(std::clamp<int64_t>(v, 0, 255));
}

void ApplyByteTable(uint8_t* bits, size_t stride, int width, int height,
                    const std::array<uint8_t, 256>& table) {
  const size_t rowBytes = size_t(width) * 3;
  const uint8_t* t = table.data();
  for (int y = 0; y < height; ++y) {
    uint8_t* p = bits + size_t(y) * stride;
    for (size_t i = 0; i < rowBytes; ++i) p[i] = t[p[i]];
  }
}

}  // namespace

TColorTables BuildColorTables(int32_t Brightness, int32_t Contrast, int32_t Saturation) {
  TColorTables tables;
  // The contrast curve turns back on itself beyond +-100; the editor never goes there, and
  // a stored value out of range is read as the nearest end.
  int32_t k = std::clamp<int32_t>(Contrast, -100, 100);
  if (k == 100) k = 99;
  // The two constants differ on purpose: the positive side uses pi/200 to full precision,
  // the negative side the rounded 0.015708, which makes -100 an exact flat grey.
  const long double f = k > 0 ? 1.0L / std::cos(static_cast<long double>(k) * 0.015707963267948967L)
                              : std::cos(static_cast<long double>(k) * 0.015708L);
  std::array<uint8_t, 256> contrast{};
  for (int i = 0; i < 256; ++i) {
    // Ties go to even (the default rounding mode).
    const long double v = std::nearbyint(static_cast<long double>(i - 170) * f + 170.0L);
    contrast[i] = ClampByte(int64_t(std::clamp(v, -1.0L, 256.0L)));
  }
  for (int j = 0; j < 256; ++j) {
    // 64-bit: a stored brightness far beyond the editor's range must not overflow.
    const int64_t n = (int64_t(Brightness) * (j - 1) + 256) / 256;
    tables.Tone[j] = contrast[ClampByte(n)];
  }
  const int64_t a = std::clamp<int64_t>(Saturation, -kSaturationLimit, kSaturationLimit);
  for (int v = 0; v < 256; ++v) tables.Sat[v] = int32_t(((v + 1) * a) >> 8);
  for (int s = 0; s < 768; ++s) tables.Grey[s] = s / 3 - tables.Sat[s / 3];
  return tables;
}

std::array<uint8_t, 256> BuildExposureTable(float Exposure) {
  std::array<uint8_t, 256> table{};
  const long double e128 = static_cast<long double>(Exposure) / 128.0L;
  for (int i = 0; i < 256; ++i) {
    const long double e = std::exp((static_cast<long double>(i) / -128.0L) * e128);
    // Past 2^40 every level but 255 is already pushed to an end; the clamp keeps the
    // conversion to an integer defined for huge exposures (e is infinite there).
    long double scaled = std::nearbyint((1.0L - e) * 256.0L);
    if (std::isnan(scaled)) scaled = 0;
    const int64_t v = int64_t(std::clamp(scaled, -0x1p40L, 0x1p40L));
    const int64_t x = Exposure >= 0 ? i + ((v * (255 - i)) >> 8) : i - (((-v) * (255 - i)) >> 8);
    table[i] = ClampByte(x);
  }
  return table;
}

void ApplyColorAdjust(TBitmap& Bitmap, int32_t Brightness, int32_t Contrast, int32_t Saturation) {
  TPictureAdjust adjust;
  adjust.Set(true, Brightness, Contrast, Saturation, false, 0);
  adjust.Apply(Bitmap);
}

void ApplyExposure(TBitmap& Bitmap, float Exposure) {
  if (Bitmap.Empty()) return;
  ApplyByteTable(Bitmap.Bits(), size_t(Bitmap.Stride()), Bitmap.Width(), Bitmap.Height(),
                 BuildExposureTable(Exposure));
}

void BlendBitmap(TBitmap& Dest, const TBitmap& Src, int X, int Y, int Alpha) {
  const int a = std::clamp(Alpha, 0, 255);
  if (a == 0 || Dest.Empty() || Src.Empty()) return;
  // Clip against all four edges in 64 bits: positions come from user data and may lie far
  // outside the picture.
  const int64_t x0 = std::max<int64_t>(X, 0), y0 = std::max<int64_t>(Y, 0);
  const int64_t x1 = std::min<int64_t>(int64_t(X) + Src.Width(), Dest.Width());
  const int64_t y1 = std::min<int64_t>(int64_t(Y) + Src.Height(), Dest.Height());
  if (x1 <= x0 || y1 <= y0) return;
  const size_t count = size_t(x1 - x0) * 3;
  const uint16_t sa = uint16_t(a), da = uint16_t(256 - a);
  for (int64_t y = y0; y < y1; ++y) {
    uint8_t* d = Dest.ScanLine(int(y)) + x0 * 3;
    const uint8_t* s = Src.ScanLine(int(y - Y)) + (x0 - X) * 3;
    // 16 bits suffice: 255 * 256 is the largest sum.
    for (size_t i = 0; i < count; ++i) d[i] = uint8_t(uint16_t(d[i] * da + s[i] * sa) >> 8);
  }
}

void TPictureAdjust::Set(bool colour, int32_t Brightness, int32_t Contrast, int32_t Saturation,
                         bool exposure, int32_t Exposure) {
  if (FValid && colour == FColour && exposure == FExposure &&
      (!colour ||
       (Brightness == FBrightness && Contrast == FContrast && Saturation == FSaturation)) &&
      (!exposure || Exposure == FExposureValue))
    return;
  FValid = true;
  FColour = colour;
  FExposure = exposure;
  FBrightness = Brightness;
  FContrast = Contrast;
  FSaturation = Saturation;
  FExposureValue = Exposure;
  FFinal.clear();

  std::array<uint8_t, 256> expo{};
  for (int i = 0; i < 256; ++i) expo[i] = uint8_t(i);
  if (exposure) expo = BuildExposureTable(float(Exposure));

  if (!colour || Saturation == 256) {
    // Saturation 256 leaves each channel as it is before the tone table, so the whole
    // adjustment is a function of each byte alone.
    std::array<uint8_t, 256> tone{};
    for (int i = 0; i < 256; ++i) tone[i] = uint8_t(i);
    if (colour) tone = BuildColorTables(Brightness, Contrast, Saturation).Tone;
    bool identity = true;
    for (int i = 0; i < 256; ++i) {
      FByte[i] = expo[tone[i]];
      identity = identity && FByte[i] == i;
    }
    FMode = identity ? TMode::None : TMode::PerByte;
    return;
  }

  const TColorTables tables = BuildColorTables(Brightness, Contrast, Saturation);
  const auto [satMin, satMax] = std::minmax_element(tables.Sat.begin(), tables.Sat.end());
  const auto [greyMin, greyMax] = std::minmax_element(tables.Grey.begin(), tables.Grey.end());
  const int32_t lowest = *greyMin + *satMin, highest = *greyMax + *satMax;
  FFinal.resize(size_t(highest - lowest) + 1);
  for (int32_t i = lowest; i <= highest; ++i)
    FFinal[size_t(i - lowest)] = expo[tables.Tone[ClampByte(i)]];
  for (int s = 0; s < 768; ++s) FGreyIndex[s] = tables.Grey[s] - lowest;
  FSat = tables.Sat;
  FMode = TMode::PerPixel;
}

void TPictureAdjust::Apply(TBitmap& Bitmap, TSliceWorkers* Workers) const {
  if (FMode == TMode::None || Bitmap.Empty()) return;
  // Row pointers come from one writable access here: the bands run on other threads.
  uint8_t* bits = Bitmap.Bits();
  const size_t stride = size_t(Bitmap.Stride());
  const int width = Bitmap.Width();
  auto rows = [&](int, int first, int last) {
    if (FMode == TMode::PerByte) {
      ApplyByteTable(bits + size_t(first) * stride, stride, width, last - first, FByte);
      return;
    }
    const int32_t* grey = FGreyIndex.data();
    const int32_t* sat = FSat.data();
    const uint8_t* final = FFinal.data();
    for (int y = first; y < last; ++y) {
      uint8_t* p = bits + size_t(y) * stride;
      for (int x = 0; x < width; ++x, p += 3) {
        const int32_t g = grey[p[0] + p[1] + p[2]];
        const uint8_t b = final[g + sat[p[0]]];
        const uint8_t gr = final[g + sat[p[1]]];
        const uint8_t r = final[g + sat[p[2]]];
        p[0] = b;
        p[1] = gr;
        p[2] = r;
      }
    }
  };
  if (Workers)
    Workers->RunRows(Bitmap.Height(), 1, 16, rows);
  else
    rows(0, 0, Bitmap.Height());
}
