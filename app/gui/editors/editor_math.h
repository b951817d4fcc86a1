// The arithmetic of the three editors, apart from their widgets so that it can be checked on
// its own: time texts, the trim marks and the trim that Ok stores, the fitted picture
// rectangle, the crop in source pixels and the crop rectangle kept inside the picture.
//
// Threads: pure functions.
#pragma once

#include <QRect>
#include <cstdint>
#include <string>

// Nearest integer, ties to even (the rounding every editor uses).
int64_t RoundEven(double value);

// H:MM:SS, hours without leading zeros; negative seconds count as 0.
std::string FormatSeconds(int64_t seconds);

// ---- Trim -----------------------------------------------------------------------------------

// Where a second lies on the range bar: round(second / duration × markRange); 0 for a title
// without length.
int32_t TrimMarkFor(int64_t second, int64_t durationSeconds, int32_t markRange);

// What Ok stores for a start and end second of a title of durationSeconds.
struct TTrimValues {
  bool Valid = false;      // false: start after end (or equal): nothing is stored
  int64_t TrimStart = 0;   // microseconds, 0 = from the beginning
  int64_t TrimLength = 0;  // microseconds, 0 = to the end
  int64_t LengthSeconds = 0;
};
TTrimValues TrimValuesFor(int64_t startSecond, int64_t endSecond, int64_t durationSeconds);

// The start and end seconds a record's trim stands for.
void TrimSecondsOf(int64_t trimStart, int64_t trimLength, int64_t durationSeconds,
                   int64_t& startSecond, int64_t& endSecond);

// ---- Crop -----------------------------------------------------------------------------------

// The largest rectangle with picture's proportions, centred in target.
QRect FitRect(const QRect& picture, const QRect& target);

// Distances in preview pixels (the spins) and what they are in source pixels.
struct TCropSpins {
  int Up = 0, Left = 0, Down = 0, Right = 0;
};
struct TSourceCrop {
  int Top = 0, Left = 0, Bottom = 0, Right = 0;
};
// Each spin scaled from the picture area to the source and rounded down to an even number.
TSourceCrop SourceCropFor(const TCropSpins& spins, int sourceWidth, int sourceHeight, int areaWidth,
                          int areaHeight);
// The least picture a crop may leave, in source pixels.
constexpr int kMinimumCroppedSize = 16;

// The crop rectangle after the user dragged it: `bounds` is where the tracker put itself,
// `anchor` its bounds at the press; a move keeps its size, a resize keeps the edges that
// were not dragged. The inner rectangle (bounds inset by 2) is kept inside `area`.
QRect KeepCropRectInside(const QRect& bounds, const QRect& anchor, const QRect& area, bool move);
// The spins a rectangle stands for (negative values become 0).
TCropSpins SpinsForRect(const QRect& bounds, const QRect& area);
// The rectangle the spins stand for.
QRect RectForSpins(const TCropSpins& spins, const QRect& area);
