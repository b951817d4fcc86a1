// The picture adjustments of a title (brightness, contrast, saturation, exposure) and the
// blend that draws one 24-bit picture over another. The crop editor's live preview and the
// conversion hook use the same routines, so the preview shows what the conversion writes.
//
// Threads: no shared state. The caller holds the bitmaps' canvases when other threads may
// touch them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "media/bitmap.h"
#include "media/slice_workers.h"

// The values that mean "the user left it alone": a new title and the editor's Reset hold
// these. They are not all exact identities (brightness 255 darkens most levels by one step);
// 256, 0, 256, 0 are.
constexpr int32_t kUntouchedBrightness = 255;
constexpr int32_t kUntouchedContrast = 0;
constexpr int32_t kUntouchedSaturation = 255;
constexpr int32_t kUntouchedExposure = 0;

// Brightness b (gain b/256; editor range 0..512), contrast k (-100..100, pivot level 170)
// and saturation a (0 = grey, 256 = unchanged, above pushes channels away from the pixel's
// mean; editor range 0..512), in place. Builds its tables on each call; code that adjusts
// many frames with the same values keeps a TPictureAdjust instead.
void ApplyColorAdjust(TBitmap& Bitmap, int32_t Brightness, int32_t Contrast, int32_t Saturation);

// Exposure E (editor range -255..512; the float holds an integer value): positive values
// brighten along 1 - e^(-E*i/16384), negative ones darken; level 255 always stays 255.
void ApplyExposure(TBitmap& Bitmap, float Exposure);

// Draws Src over Dest with Src's top-left corner at (X, Y) and opacity Alpha (0..255, values
// outside are clamped): each channel becomes (d*(256-Alpha) + s*Alpha) >> 8. Only the part
// of Src that lies inside Dest is drawn, whichever edges it crosses.
void BlendBitmap(TBitmap& Dest, const TBitmap& Src, int X, int Y, int Alpha);

// The level tables of one set of values, exposed for the preview and for tests.
struct TColorTables {
  std::array<uint8_t, 256> Tone{};  // brightness, then contrast
  std::array<int32_t, 256> Sat{};   // saturation: ((v + 1) * a) >> 8
  std::array<int32_t, 768> Grey{};  // by channel sum s: s/3 - Sat[s/3]
};
TColorTables BuildColorTables(int32_t Brightness, int32_t Contrast, int32_t Saturation);
std::array<uint8_t, 256> BuildExposureTable(float Exposure);

// Colour adjustment followed by exposure, either optional, in one pass over the picture.
// Tables are rebuilt only when the values change, so one object per conversion serves every
// frame at the cost of the pixel loop alone.
//
// Threads: Set and Apply from one thread at a time (the owner serialises); Apply may hand
// bands of rows to the owner's TSliceWorkers.
class TPictureAdjust {
 public:
  // colour: run the colour adjustment with b, k, a; exposure: run the exposure with E.
  void Set(bool colour, int32_t Brightness, int32_t Contrast, int32_t Saturation, bool exposure,
           int32_t Exposure);
  // False when the values set change no pixel at all (then Apply returns at once).
  bool Active() const { return FMode != TMode::None; }
  // With Workers, the picture's rows are shared out among its threads.
  void Apply(TBitmap& Bitmap, TSliceWorkers* Workers = nullptr) const;

 private:
  enum class TMode { None, PerByte, PerPixel };
  bool FValid = false;
  bool FColour = false, FExposure = false;
  int32_t FBrightness = 0, FContrast = 0, FSaturation = 0, FExposureValue = 0;
  TMode FMode = TMode::None;
  // PerByte: every channel byte x becomes FByte[x].
  std::array<uint8_t, 256> FByte{};
  // PerPixel: channel x of a pixel whose channels sum to s becomes
  // FFinal[FGreyIndex[s] + FSat[x]], the clamp to 0..255, the tone table and the exposure
  // folded into FFinal.
  std::array<int32_t, 768> FGreyIndex{};
  std::array<int32_t, 256> FSat{};
  std::vector<uint8_t> FFinal;
};
