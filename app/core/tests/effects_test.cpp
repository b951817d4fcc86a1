// The picture adjustments and the blend: level tables at their documented points, the
// one-pass adjustment against the two routines it replaces, clipping of the blend, and the
// test that decides whether a title needs the conversion hook.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "app/core/color_adjust.h"
#include "app/core/effects.h"
#include "app/core/tests/pixels.h"
#include "app/core/wm_rec.h"
#include "media/bitmap.h"

namespace {

// One grey pixel per level 0..255 (grey pixels are left alone by the saturation step).
TBitmap GreyRamp() {
  TBitmap b(256, 1);
  for (int i = 0; i < 256; ++i) Put(b, i, 0, {uint8_t(i), uint8_t(i), uint8_t(i)});
  return b;
}

// ---- ApplyColorAdjust: grey levels ----

struct LevelCase {
  const char* name;
  int32_t brightness, contrast, saturation;
  std::vector<std::pair<int, int>> levels;  // in -> out
};

class ColorAdjustLevels : public ::testing::TestWithParam<LevelCase> {};

TEST_P(ColorAdjustLevels, MapsLevels) {
  const LevelCase& c = GetParam();
  TBitmap ramp = GreyRamp();
  ApplyColorAdjust(ramp, c.brightness, c.contrast, c.saturation);
  for (auto [in, out] : c.levels) {
    const Pixel p = At(ramp, in, 0);
    EXPECT_EQ(p[0], out) << "level " << in;
    EXPECT_EQ(p[1], out) << "level " << in;
    EXPECT_EQ(p[2], out) << "level " << in;
  }
}

std::vector<std::pair<int, int>> AllLevelsTo(int value) {
  std::vector<std::pair<int, int>> v;
  for (int i = 0; i < 256; ++i) v.emplace_back(i, value);
  return v;
}

std::vector<std::pair<int, int>> Identity() {
  std::vector<std::pair<int, int>> v;
  for (int i = 0; i < 256; ++i) v.emplace_back(i, i);
  return v;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ColorAdjustLevels,
    ::testing::Values(
        LevelCase{"Neutral", 256, 0, 256, Identity()},
        LevelCase{"Brightness128", 128, 0, 256, {{0, 0}, {1, 1}, {2, 1}, {128, 64}, {255, 128}}},
        LevelCase{"Brightness0", 0, 0, 256, AllLevelsTo(1)},
        LevelCase{"Brightness512",
                  512,
                  0,
                  256,
                  {{0, 0}, {1, 1}, {127, 253}, {128, 255}, {200, 255}, {255, 255}}},
        LevelCase{"Brightness255DarkensOneStep",
                  255,
                  0,
                  256,
                  {{0, 0}, {1, 1}, {2, 1}, {128, 127}, {254, 253}, {255, 254}}},
        LevelCase{"Contrast50", 256, 50, 256, {{0, 0}, {100, 71}, {170, 170}, {255, 255}}},
        LevelCase{"ContrastMinus50", 256, -50, 256, {{0, 50}, {100, 121}, {170, 170}, {255, 230}}},
        LevelCase{"ContrastMinus100FlatGrey", 256, -100, 256, AllLevelsTo(170)},
        // Stored values beyond the editor's ranges: no overflow, the nearest end's result.
        LevelCase{"BrightnessHuge", INT32_MAX, 0, 256, {{0, 0}, {1, 1}, {2, 255}, {255, 255}}},
        LevelCase{"BrightnessNegative", INT32_MIN, 0, 256, {{0, 255}, {1, 1}, {2, 0}, {255, 0}}},
        LevelCase{"ContrastBeyondMinus100", 256, -1000, 256, AllLevelsTo(170)},
        LevelCase{"SaturationLeavesGrey", 256, 0, 0, Identity()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ColorTables, Contrast100IsContrast99) {
  EXPECT_EQ(BuildColorTables(256, 100, 256).Tone, BuildColorTables(256, 99, 256).Tone);
  EXPECT_NE(BuildColorTables(256, 98, 256).Tone, BuildColorTables(256, 99, 256).Tone);
  // Beyond 100 counts as 100.
  EXPECT_EQ(BuildColorTables(256, 5000, 256).Tone, BuildColorTables(256, 99, 256).Tone);
}

// ---- ApplyColorAdjust: saturation on a coloured pixel ----

struct SaturationCase {
  const char* name;
  int32_t saturation;
  Pixel in, out;
};

class SaturationPixels : public ::testing::TestWithParam<SaturationCase> {};

TEST_P(SaturationPixels, MovesChannelsAroundTheMean) {
  const SaturationCase& c = GetParam();
  TBitmap b = Filled(3, 2, c.in);
  ApplyColorAdjust(b, 256, 0, c.saturation);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(At(b, x, y), c.out) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SaturationPixels,
    ::testing::Values(SaturationCase{"Zero", 0, {0, 100, 200}, {100, 100, 100}},
                      SaturationCase{"ZeroIntegerMean", 0, {0, 0, 100}, {33, 33, 33}},
                      SaturationCase{"Neutral", 256, {0, 100, 200}, {0, 100, 200}},
                      SaturationCase{"Double", 512, {0, 100, 200}, {0, 100, 255}},
                      SaturationCase{"Huge", INT32_MAX, {0, 100, 200}, {0, 100, 255}},
                      SaturationCase{"Negative", INT32_MIN, {0, 100, 200}, {255, 100, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ColorAdjust, NeutralValuesChangeNoPixel) {
  const TBitmap original = Noise(37, 11, 1);
  TBitmap b = original;
  ApplyColorAdjust(b, 256, 0, 256);
  EXPECT_TRUE(SamePixels(b, original));
}

TEST(ColorAdjust, UntouchedValuesAreNotAnIdentity) {
  TBitmap ramp = GreyRamp();
  ApplyColorAdjust(ramp, 255, 0, 255);
  EXPECT_EQ(At(ramp, 255, 0)[0], 254);
}

TEST(ColorAdjust, LeavesRowPaddingAndEmptyBitmapsAlone) {
  TBitmap b = Filled(3, 2, {10, 20, 30});  // 9 bytes of pixels, 3 of padding per row
  for (int y = 0; y < 2; ++y)
    for (int i = 9; i < b.Stride(); ++i) b.ScanLine(y)[i] = 0xAB;
  ApplyColorAdjust(b, 100, 30, 400);
  ApplyExposure(b, 50);
  for (int y = 0; y < 2; ++y)
    for (int i = 9; i < b.Stride(); ++i) EXPECT_EQ(b.ScanLine(y)[i], 0xAB);
  TBitmap empty;
  ApplyColorAdjust(empty, 100, 30, 400);
  ApplyExposure(empty, 50);
  BlendBitmap(empty, b, 0, 0, 255);
  BlendBitmap(b, empty, 0, 0, 255);
  EXPECT_TRUE(empty.Empty());
}

// ---- ApplyExposure ----

struct ExposureCase {
  const char* name;
  float exposure;
  std::vector<std::pair<int, int>> levels;
};

class ExposureLevels : public ::testing::TestWithParam<ExposureCase> {};

TEST_P(ExposureLevels, MapsLevels) {
  const ExposureCase& c = GetParam();
  TBitmap ramp = GreyRamp();
  ApplyExposure(ramp, c.exposure);
  for (auto [in, out] : c.levels) EXPECT_EQ(At(ramp, in, 0)[1], out) << "level " << in;
}

std::vector<std::pair<int, int>> Minus128() {
  std::vector<std::pair<int, int>> v;
  for (int i = 0; i <= 202; ++i) v.emplace_back(i, 0);
  v.insert(v.end(), {{220, 60}, {240, 158}, {254, 248}, {255, 255}});
  return v;
}

std::vector<std::pair<int, int>> Plus(int from, int value) {
  std::vector<std::pair<int, int>> v{{0, 0}};
  for (int i = from; i < 256; ++i) v.emplace_back(i, value);
  return v;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExposureLevels,
    ::testing::Values(
        ExposureCase{"Zero", 0, Identity()},
        ExposureCase{"Plus128", 128, {{0, 0}, {64, 139}, {128, 208}, {200, 243}, {255, 255}}},
        ExposureCase{"Minus128", -128, Minus128()},
        // Exposures far beyond the editor's range saturate instead of overflowing.
        ExposureCase{"PlusHuge", 1e9f, Plus(1, 255)},
        ExposureCase{"MinusHuge", -1e9f, {{0, 0}, {1, 0}, {128, 0}, {254, 0}, {255, 255}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Exposure, LevelZeroAndFullStayPut) {
  for (float e : {-255.0f, -1.0f, 1.0f, 512.0f}) {
    const auto t = BuildExposureTable(e);
    EXPECT_EQ(t[0], 0) << e;
    EXPECT_EQ(t[255], 255) << e;
  }
}

// ---- TPictureAdjust: one pass equals the two routines ----

struct AdjustCase {
  bool colour;
  int32_t b, k, a;
  bool exposure;
  int32_t e;
};

class PictureAdjustMatches : public ::testing::TestWithParam<AdjustCase> {};

TEST_P(PictureAdjustMatches, TheRoutinesInTurn) {
  const AdjustCase& c = GetParam();
  const TBitmap original =
      Noise(53, 17, unsigned(c.b) * 7u + unsigned(c.k) * 3u + unsigned(c.a) + unsigned(c.e));
  TBitmap expected = original;
  if (c.colour) ApplyColorAdjust(expected, c.b, c.k, c.a);
  if (c.exposure) ApplyExposure(expected, float(c.e));

  TPictureAdjust adjust;
  adjust.Set(true, 10, 10, 10, true, 10);  // something else first: the cache must follow
  adjust.Set(c.colour, c.b, c.k, c.a, c.exposure, c.e);
  TBitmap actual = original;
  adjust.Apply(actual);
  EXPECT_TRUE(SamePixels(actual, expected));
  // Applying again with the same values reuses the tables and gives the same again.
  TBitmap again = original;
  adjust.Set(c.colour, c.b, c.k, c.a, c.exposure, c.e);
  adjust.Apply(again);
  EXPECT_TRUE(SamePixels(again, expected));

  // Shared out in bands of rows, a taller picture comes out as from one pass.
  TBitmap tall = Noise(53, 170, unsigned(c.e) + 11u);
  TBitmap tallExpected = tall;
  adjust.Apply(tallExpected);
  TSliceWorkers workers(3);
  adjust.Apply(tall, &workers);
  EXPECT_TRUE(SamePixels(tall, tallExpected));
}

INSTANTIATE_TEST_SUITE_P(Table, PictureAdjustMatches,
                         ::testing::Values(AdjustCase{true, 255, 0, 255, false, 0},
                                           AdjustCase{true, 256, 0, 256, false, 0},
                                           AdjustCase{true, 128, 0, 256, false, 0},
                                           AdjustCase{true, 300, 40, 256, true, 60},
                                           AdjustCase{true, 256, -70, 0, false, 0},
                                           AdjustCase{true, 200, 20, 512, true, -90},
                                           AdjustCase{true, 0, 100, 130, true, 512},
                                           AdjustCase{false, 0, 0, 0, true, -255},
                                           AdjustCase{true, INT32_MAX, -100, INT32_MIN, true, 1},
                                           AdjustCase{false, 0, 0, 0, false, 0}));

TEST(PictureAdjust, NeutralValuesAreInactive) {
  TPictureAdjust adjust;
  adjust.Set(true, 256, 0, 256, true, 0);
  EXPECT_FALSE(adjust.Active());
  adjust.Set(true, 255, 0, 255, false, 0);
  EXPECT_TRUE(adjust.Active());
}

// ---- BlendBitmap ----

// Source pixel (c, r) holds values that tell pixels and channels apart.
TBitmap BlendSource(int w, int h) {
  TBitmap b(w, h);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c)
      Put(b, c, r, {uint8_t(200 + c), uint8_t(100 + r), uint8_t(10 * c + r)});
  return b;
}

struct BlendCase {
  const char* name;
  int srcW, srcH, x, y, alpha;
  int drawn;  // destination pixels that change
};

class BlendClipping : public ::testing::TestWithParam<BlendCase> {};

TEST_P(BlendClipping, DrawsOnlyInsideTheDestination) {
  const BlendCase& c = GetParam();
  const int w = 7, h = 5;
  const TBitmap original = Filled(w, h, {1, 2, 3});
  TBitmap dest = original;
  const TBitmap src = BlendSource(c.srcW, c.srcH);
  BlendBitmap(dest, src, c.x, c.y, c.alpha);
  const int a = std::clamp(c.alpha, 0, 255);
  int changed = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      Pixel expected = At(original, x, y);
      const int64_t sx = int64_t(x) - c.x, sy = int64_t(y) - c.y;
      if (sx >= 0 && sy >= 0 && sx < c.srcW && sy < c.srcH) {
        const Pixel s = At(src, int(sx), int(sy));
        for (int ch = 0; ch < 3; ++ch)
          expected[ch] = uint8_t((expected[ch] * (256 - a) + s[ch] * a) >> 8);
      }
      EXPECT_EQ(At(dest, x, y), expected) << x << "," << y;
      changed += At(dest, x, y) != At(original, x, y);
    }
  EXPECT_EQ(changed, c.drawn);
}

INSTANTIATE_TEST_SUITE_P(Table, BlendClipping,
                         ::testing::Values(BlendCase{"Inside", 3, 2, 1, 1, 255, 6},
                                           BlendCase{"Corner", 3, 2, 0, 0, 128, 6},
                                           BlendCase{"ExactlyToTheEdges", 7, 5, 0, 0, 255, 35},
                                           BlendCase{"PastRightEdge", 3, 2, 5, 1, 255, 4},
                                           BlendCase{"PastBottomEdge", 3, 2, 1, 4, 255, 3},
                                           BlendCase{"PastBothEdges", 3, 3, 6, 4, 255, 1},
                                           BlendCase{"AtRightEdge", 3, 2, 7, 0, 255, 0},
                                           BlendCase{"AtBottomEdge", 3, 2, 0, 5, 255, 0},
                                           BlendCase{"FarBeyond", 3, 2, INT_MAX, INT_MAX, 255, 0},
                                           BlendCase{"LeftOfTheFrame", 3, 2, -2, 1, 255, 2},
                                           BlendCase{"AboveTheFrame", 3, 2, 1, -1, 255, 3},
                                           BlendCase{"AboveAndLeft", 3, 3, -2, -2, 255, 1},
                                           BlendCase{"EntirelyLeft", 3, 2, -3, 0, 255, 0},
                                           BlendCase{"FarLeft", 3, 2, INT_MIN, INT_MIN, 255, 0},
                                           BlendCase{"LargerThanTheFrame", 20, 20, -5, -5, 255, 35},
                                           BlendCase{"AlphaZero", 3, 2, 1, 1, 0, 0},
                                           BlendCase{"AlphaBelowZero", 3, 2, 1, 1, -40, 0},
                                           BlendCase{"AlphaAbove255", 3, 2, 1, 1, 1000, 6},
                                           BlendCase{"ZeroSizeSource", 0, 0, 1, 1, 255, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

struct BlendValueCase {
  int alpha;
  uint8_t over, under, result;
};

class BlendValues : public ::testing::TestWithParam<BlendValueCase> {};

TEST_P(BlendValues, Level) {
  const BlendValueCase& c = GetParam();
  TBitmap dest = Filled(2, 2, {c.under, c.under, c.under});
  BlendBitmap(dest, Filled(2, 2, {c.over, c.over, c.over}), 0, 0, c.alpha);
  EXPECT_EQ(At(dest, 1, 1), (Pixel{c.result, c.result, c.result}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, BlendValues,
    ::testing::Values(BlendValueCase{255, 255, 0, 254}, BlendValueCase{0, 255, 0, 0},
                      BlendValueCase{0, 0, 255, 255}, BlendValueCase{128, 255, 0, 127},
                      BlendValueCase{128, 200, 100, 150}, BlendValueCase{255, 0, 255, 0},
                      BlendValueCase{1000, 255, 0, 254}));

TEST(BlendBitmap, OntoItself) {
  const TBitmap original = Noise(9, 9, 5);
  TBitmap b = original;
  BlendBitmap(b, b, 0, 0, 200);
  EXPECT_TRUE(SamePixels(b, original));  // d*(256-A) + d*A = 256*d
}

// ---- Whether a title needs the hook ----

std::shared_ptr<TWmRec> Mark(int kind, std::string text, std::string file) {
  auto m = std::make_shared<TWmRec>();
  m->Kind = kind;
  m->Text = std::move(text);
  m->ImageFile = std::move(file);
  return m;
}

struct NeedsCase {
  const char* name;
  int32_t b, k, a, e;
  std::vector<std::shared_ptr<TWmRec>> marks;
  bool needs;
};

class NeedsHook : public ::testing::TestWithParam<NeedsCase> {};

TEST_P(NeedsHook, Decides) {
  const NeedsCase& c = GetParam();
  TlvFilesRecord record;
  record.Brightness = c.b;
  record.Contrast = c.k;
  record.Saturation = c.a;
  record.Exposure = c.e;
  record.WaterMarks = c.marks;
  EXPECT_EQ(NeedsCustomHook(record), c.needs);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NeedsHook,
    ::testing::Values(
        NeedsCase{"NewRecord", 255, 0, 255, 0, {}, false},
        NeedsCase{"NeutralOfTheAlgorithm", 256, 0, 256, 0, {}, true},
        NeedsCase{"Brightness", 128, 0, 255, 0, {}, true},
        NeedsCase{"Contrast", 255, 1, 255, 0, {}, true},
        NeedsCase{"Saturation", 255, 0, 0, 0, {}, true},
        NeedsCase{"Exposure", 255, 0, 255, -1, {}, true},
        NeedsCase{"TextMark", 255, 0, 255, 0, {Mark(0, "Hi", "")}, true},
        NeedsCase{"PictureMark", 255, 0, 255, 0, {Mark(1, "", "/x.bmp")}, true},
        NeedsCase{"EmptyMark", 255, 0, 255, 0, {Mark(0, "", "")}, false},
        NeedsCase{"EmptyPictureMark", 255, 0, 255, 0, {Mark(1, "Hi", "")}, false},
        NeedsCase{"UnknownKind", 255, 0, 255, 0, {Mark(2, "Hi", "/x.bmp")}, false},
        NeedsCase{
            "SecondMarkCounts", 255, 0, 255, 0, {Mark(0, "", ""), Mark(1, "", "/x.bmp")}, true},
        NeedsCase{"NullElement", 255, 0, 255, 0, {nullptr}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NeedsColorAdjust, SkipsOnlyWhenAllThreeUntouched) {
  TlvFilesRecord record;
  EXPECT_FALSE(NeedsColorAdjust(record));
  record.Exposure = 40;
  EXPECT_FALSE(NeedsColorAdjust(record));
  record.Saturation = 256;
  EXPECT_TRUE(NeedsColorAdjust(record));
}

// ---- The time window ----

struct WindowCase {
  int32_t start, end;
  int64_t pts;
  bool shows;
};

class WatermarkWindow : public ::testing::TestWithParam<WindowCase> {};

TEST_P(WatermarkWindow, WholeSeconds) {
  const WindowCase& c = GetParam();
  TWmRec mark;
  mark.StartTime = c.start;
  mark.EndTime = c.end;
  EXPECT_EQ(WatermarkShowsAt(mark, c.pts), c.shows) << c.pts;
}

INSTANTIATE_TEST_SUITE_P(
    Table, WatermarkWindow,
    ::testing::Values(WindowCase{5, 5, 4'999'999, false}, WindowCase{5, 5, 5'000'000, true},
                      WindowCase{5, 5, 5'999'999, true}, WindowCase{5, 5, 6'000'000, false},
                      WindowCase{0, 0, 0, true},
                      WindowCase{0, 0, -999'999, true},  // truncation toward zero
                      WindowCase{0, 0, -1'000'000, false}, WindowCase{0, 10, INT64_MIN, false},
                      WindowCase{INT32_MIN, INT32_MAX, INT64_MAX, false},
                      WindowCase{INT32_MIN, INT32_MAX, 3'600'000'000, true},
                      WindowCase{7, 3, 5'000'000, false}));

}  // namespace
