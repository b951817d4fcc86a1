// The editors' arithmetic: time texts, trim marks and stored trims, the fitted picture, the
// crop in source pixels and the crop rectangle kept inside the picture.
#include <gtest/gtest.h>

#include "app/gui/editors/editor_math.h"

TEST(FormatSecondsTest, Table) {
  const struct {
    int64_t Seconds;
    const char* Text;
  } cases[] = {{0, "0:00:00"},      {-5, "0:00:00"},       {59, "0:00:59"},
               {60, "0:01:00"},     {3599, "0:59:59"},     {3600, "1:00:00"},
               {36000, "10:00:00"}, {360000, "100:00:00"}, {4000, "1:06:40"}};
  for (const auto& c : cases) EXPECT_EQ(FormatSeconds(c.Seconds), c.Text) << c.Seconds;
}

TEST(TrimValuesTest, Table) {
  const struct {
    int64_t Start, End, Duration;
    bool Valid;
    int64_t TrimStart, TrimLength, Length;
  } cases[] = {
      // The whole title stores zeros and the column shows the duration.
      {0, 3600, 3600, true, 0, 0, 3600},
      {600, 900, 3600, true, 600000000, 300000000, 300},
      // Start after end, or at it: refused.
      {900, 600, 3600, false, 0, 0, 0},
      {600, 600, 3600, false, 0, 0, 0},
      // An end past the title, or unset, is the end of the title.
      {10, 5000, 3600, true, 10000000, 3590000000, 3590},
      {10, 0, 3600, true, 10000000, 3590000000, 3590},
      // A negative start is the beginning.
      {-3, 100, 3600, true, 0, 100000000, 100},
      {0, 11, 12, true, 0, 11000000, 11},
  };
  for (const auto& c : cases) {
    const TTrimValues v = TrimValuesFor(c.Start, c.End, c.Duration);
    EXPECT_EQ(v.Valid, c.Valid) << c.Start << "-" << c.End;
    if (!c.Valid) continue;
    EXPECT_EQ(v.TrimStart, c.TrimStart) << c.Start << "-" << c.End;
    EXPECT_EQ(v.TrimLength, c.TrimLength) << c.Start << "-" << c.End;
    EXPECT_EQ(v.LengthSeconds, c.Length) << c.Start << "-" << c.End;
  }
}

TEST(TrimValuesTest, StoredTrimGivesBackItsSeconds) {
  int64_t start = -1, end = -1;
  TrimSecondsOf(600000000, 300000000, 3600, start, end);
  EXPECT_EQ(start, 600);
  EXPECT_EQ(end, 900);
  TrimSecondsOf(0, 0, 3600, start, end);
  EXPECT_EQ(start, 0);
  EXPECT_EQ(end, 3600);
}

TEST(TrimMarkTest, RoundsToNearestEven) {
  // 822 × 600 / 3600 = 137.0; 822 × 1 / 4 = 205.5 → 206 (even); 822 × 3 / 4 = 616.5 → 616.
  EXPECT_EQ(TrimMarkFor(600, 3600, 822), 137);
  EXPECT_EQ(TrimMarkFor(1, 4, 822), 206);
  EXPECT_EQ(TrimMarkFor(3, 4, 822), 616);
  EXPECT_EQ(TrimMarkFor(3600, 3600, 822), 822);
  EXPECT_EQ(TrimMarkFor(5, 0, 822), 0);  // no length: no division
}

TEST(FitRectTest, Table) {
  const struct {
    QRect Picture, Target, Expected;
  } cases[] = {
      // 720 × 576 in the crop editor's 420 × 303 picture: (21, 0)–(399, 303).
      {{0, 0, 720, 576}, {0, 0, 420, 303}, {21, 0, 378, 303}},
      // Wide into tall: full width, centred vertically.
      {{0, 0, 1920, 1080}, {0, 0, 420, 303}, {0, 33, 420, 237}},
      // Same shape: the whole target.
      {{0, 0, 840, 606}, {0, 0, 420, 303}, {0, 0, 420, 303}},
  };
  for (const auto& c : cases) EXPECT_EQ(FitRect(c.Picture, c.Target), c.Expected);
}

TEST(SourceCropTest, Table) {
  // The picture area of a 720 × 576 source in the 420 × 303 picture is 376 × 301.
  const struct {
    TCropSpins Spins;
    TSourceCrop Expected;
  } cases[] = {
      {{10, 10, 0, 0}, {18, 18, 0, 0}},  // round(19.14) = 19 → 18
      {{1, 0, 1, 0}, {2, 0, 2, 0}},      // round(1.91) = 2
      {{0, 0, 0, 0}, {0, 0, 0, 0}},         {{0, 1, 0, 1}, {0, 2, 0, 2}},  // round(1.91) = 2
      {{300, 0, 0, 370}, {574, 0, 0, 708}},
  };
  for (const auto& c : cases) {
    const TSourceCrop crop = SourceCropFor(c.Spins, 720, 576, 376, 301);
    EXPECT_EQ(crop.Top, c.Expected.Top);
    EXPECT_EQ(crop.Left, c.Expected.Left);
    EXPECT_EQ(crop.Bottom, c.Expected.Bottom);
    EXPECT_EQ(crop.Right, c.Expected.Right);
    for (int v : {crop.Top, crop.Left, crop.Bottom, crop.Right}) EXPECT_EQ(v % 2, 0);
  }
}

TEST(KeepCropRectInsideTest, Table) {
  const QRect area(42, 21, 376, 301);  // right edge 418, bottom 322
  const QRect anchor(100, 100, 200, 150);
  const struct {
    const char* What;
    QRect Bounds;
    bool Move;
    QRect Expected;
  } cases[] = {
      {"left edge dragged past the picture's left: pinned, right edge kept",
       {10, 100, 290, 150},
       false,
       {42, 100, 258, 150}},
      {"top edge dragged past the top: pinned, bottom kept",
       {100, 0, 200, 250},
       false,
       {100, 21, 200, 229}},
      {"right edge past the right: stops at the edge",
       {100, 100, 400, 150},
       false,
       {100, 100, 318, 150}},
      {"bottom edge past the bottom: stops at the edge",
       {100, 100, 200, 400},
       false,
       {100, 100, 200, 222}},
      {"moved against the right edge: size kept, stops at the edge",
       {300, 100, 200, 150},
       true,
       {218, 100, 200, 150}},
      {"moved past the top-left corner: size kept", {0, 0, 200, 150}, true, {42, 21, 200, 150}},
      {"inside: unchanged", {120, 110, 100, 100}, true, {120, 110, 100, 100}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(KeepCropRectInside(c.Bounds, anchor, area, c.Move), c.Expected) << c.What;
}

TEST(CropSpinsTest, RectAndSpinsAgree) {
  const QRect area(42, 21, 376, 301);
  const TCropSpins spins{10, 20, 30, 40};
  const QRect r = RectForSpins(spins, area);
  const TCropSpins back = SpinsForRect(r, area);
  EXPECT_EQ(back.Up, 10);
  EXPECT_EQ(back.Left, 20);
  EXPECT_EQ(back.Down, 30);
  EXPECT_EQ(back.Right, 40);
  // A rectangle sticking out gives 0, never a negative distance.
  const TCropSpins out = SpinsForRect(area.adjusted(-5, -5, 5, 5), area);
  EXPECT_EQ(out.Up, 0);
  EXPECT_EQ(out.Left, 0);
  EXPECT_EQ(out.Down, 0);
  EXPECT_EQ(out.Right, 0);
}
