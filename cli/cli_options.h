// The command line's value syntax: times, crop boxes, chapter ranges, watermarks and
// --set pairs. Each parser throws TCliError with a one-line reason for a bad value.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

class TCliError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Seconds ("12", "7.5") or H:MM:SS / M:SS with optional fractions ("1:02:03.5"), as
// microseconds.
int64_t ParseCliTime(const std::string& text);

struct TCliCrop {
  int Top = 0, Bottom = 0, Left = 0, Right = 0;
};
// "TOP,BOTTOM,LEFT,RIGHT", each a whole number of pixels, 0 or more.
TCliCrop ParseCliCrop(const std::string& text);

// "A-B" or a single chapter "A"; 1 <= A <= B.
std::pair<int, int> ParseCliChapters(const std::string& text);

// "WHAT@X,Y[,ALPHA[,START-END]]": WHAT is the text or the picture file (split at the last
// "@"), ALPHA 0..255 (default 255), START-END whole seconds of the title, both shown
// (default: the whole title).
struct TCliWatermark {
  std::string What;
  int X = 0, Y = 0;
  int Alpha = 255;
  int32_t Start = 0, End = INT32_MAX;
};
TCliWatermark ParseCliWatermark(const std::string& text);

// "KEY=VALUE" for one of the format's user keys (paraVideoSize, ..., any case). Returns the
// key as the settings spell it and the value. Values that a conversion could not use at
// all are refused here: a size that is not "as source" or WxH, a zoom other than full,
// lbox, pan or center, a volume that is no integer.
std::pair<std::string, std::string> ParseCliSetting(const std::string& text);
