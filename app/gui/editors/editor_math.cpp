#include "app/gui/editors/editor_math.h"

#include <cmath>
#include <cstdio>

int64_t RoundEven(double value) {
  return std::llrint(std::nearbyint(value));
}

std::string FormatSeconds(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return text;
}

int32_t TrimMarkFor(int64_t second, int64_t durationSeconds, int32_t markRange) {
  if (durationSeconds <= 0) return 0;
  return static_cast<int32_t>(
      RoundEven(static_cast<double>(second) / static_cast<double>(durationSeconds) * markRange));
}

TTrimValues TrimValuesFor(int64_t startSecond, int64_t endSecond, int64_t durationSeconds) {
  TTrimValues values;
  if (startSecond < 0) startSecond = 0;
  // An end past the title (or unset) means the end of the title.
  if (endSecond <= 0 || endSecond > durationSeconds) endSecond = durationSeconds;
  if (startSecond >= endSecond) return values;
  values.Valid = true;
  values.LengthSeconds = endSecond - startSecond;
  values.TrimStart = startSecond > 0 ? startSecond * 1000000 : 0;
  values.TrimLength = values.LengthSeconds < durationSeconds ? values.LengthSeconds * 1000000 : 0;
  return values;
}

void TrimSecondsOf(int64_t trimStart, int64_t trimLength, int64_t durationSeconds,
                   int64_t& startSecond, int64_t& endSecond) {
  startSecond = trimStart >= 0 ? trimStart / 1000000 : 0;
  endSecond = trimLength > 0 ? (trimStart + trimLength) / 1000000 : durationSeconds;
}

QRect FitRect(const QRect& picture, const QRect& target) {
  if (picture.width() <= 0 || picture.height() <= 0 || target.width() <= 0 || target.height() <= 0)
    return target;
  const double a = double(picture.width()) / target.width();
  const double b = double(picture.height()) / target.height();
  // Edges as the inclusive-exclusive pair (left, top)-(right, bottom).
  int left = target.left(), top = target.top();
  int right = target.left() + target.width(), bottom = target.top() + target.height();
  if (a >= b) {
    const int inset = int(RoundEven((target.height() - picture.height() / a) / 2));
    top += inset;
    bottom -= inset;
  } else {
    const int inset = int(RoundEven((target.width() - picture.width() / b) / 2));
    left += inset;
    right -= inset;
  }
  return QRect(left, top, right - left, bottom - top);
}

namespace {
int EvenScaled(int value, int source, int area) {
  if (area <= 0) return 0;
  const long double scaled = static_cast<long double>(value) * source / area;
  return int(2 * (std::llrint(std::nearbyint(static_cast<double>(scaled))) / 2));
}
}  // namespace

TSourceCrop SourceCropFor(const TCropSpins& spins, int sourceWidth, int sourceHeight, int areaWidth,
                          int areaHeight) {
  return {EvenScaled(spins.Up, sourceHeight, areaHeight),
          EvenScaled(spins.Left, sourceWidth, areaWidth),
          EvenScaled(spins.Down, sourceHeight, areaHeight),
          EvenScaled(spins.Right, sourceWidth, areaWidth)};
}

QRect KeepCropRectInside(const QRect& bounds, const QRect& anchor, const QRect& area, bool move) {
  // Edges as (left, top, width, height); the inner rectangle lies 2 pixels inside.
  int left = bounds.x(), top = bounds.y(), width = bounds.width(), height = bounds.height();
  const int anchorRight = anchor.x() + anchor.width(), anchorBottom = anchor.y() + anchor.height();
  auto innerLeft = [&] { return left + 2; };
  auto innerTop = [&] { return top + 2; };
  auto innerRight = [&] { return left + width - 2; };
  auto innerBottom = [&] { return top + height - 2; };
  if (move) {
    if (innerLeft() < area.x()) left = area.x();
    if (innerTop() < area.y()) top = area.y();
    if (innerRight() - area.x() > area.width()) left = area.width() + area.x() - width;
    if (innerBottom() - area.y() >= area.height()) top = area.height() + area.y() - height;
  } else {
    if (innerLeft() < area.x()) {
      left = area.x();
      width = anchorRight - left;
    }
    if (innerTop() < area.y()) {
      top = area.y();
      height = anchorBottom - top;
    }
    if (innerRight() - area.x() > area.width()) {
      left = anchor.x();
      width = area.width() + area.x() - left;
    }
    if (innerBottom() - area.y() >= area.height()) {
      top = anchor.y();
      height = area.height() + area.y() - top;
    }
  }
  return QRect(left, top, width, height);
}

TCropSpins SpinsForRect(const QRect& r, const QRect& area) {
  auto positive = [](int v) { return v < 0 ? 0 : v; };
  return {positive(r.y() - area.y()), positive(r.x() - area.x()),
          positive(area.height() + area.y() - r.height() - r.y()),
          positive(area.width() + area.x() - r.width() - r.x())};
}

QRect RectForSpins(const TCropSpins& s, const QRect& area) {
  return QRect(area.x() + s.Left, area.y() + s.Up, area.width() - s.Right - s.Left,
               area.height() - s.Down - s.Up);
}
