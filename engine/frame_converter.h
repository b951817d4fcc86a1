// FrameConverter turns a decoded picture into a 24-bit bitmap (media/bitmap.h) and back, with
// scalers cached between pictures. The transcoder keeps one for its custom hook and one for
// its preview; a player may keep its own. Not shared between threads: one owner converts.
#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <cstdint>
#include <memory>

#include "media/bitmap.h"

struct SwsContext;

class FrameConverter {
 public:
  FrameConverter() = default;
  ~FrameConverter();
  FrameConverter(const FrameConverter&) = delete;
  FrameConverter& operator=(const FrameConverter&) = delete;

  // Converts the picture into Bitmap(), which takes the picture's size. A BGR24 picture with
  // even dimensions and bitmap-compatible rows is copied row by row without a scaler. False
  // when no scaler can be made for the format.
  bool ToRGB(const uint8_t* const data[4], const int linesize[4], AVPixelFormat format, int height,
             int width);

  // Converts Bitmap() back into the picture (which the caller owns and may write), the
  // reverse of ToRGB. False when no scaler can be made.
  bool FromRGB(uint8_t* const data[4], const int linesize[4], AVPixelFormat format, int height,
               int width);

  // Whether Bitmap() still holds what the last ToRGB put there (a handler that drew nothing
  // needs no conversion back). Only after a ToRGB that went through the scaler; false
  // otherwise.
  bool Unchanged() const;

  // Created at the first ToRGB; lock Canvas() when another thread draws on it.
  TBitmap* Bitmap() { return FBitmap.get(); }

  // Frees the bitmap and both scalers.
  void Reset();

 private:
  static bool Direct(AVPixelFormat format, int width, int height, const int linesize[4]);

  // The BGR24 picture the scalers read and write: allocated with the library's padding, as
  // scalers may touch a few bytes past a row's last pixel, which the bitmap does not have.
  bool EnsureBuffer(int width, int height);

  std::unique_ptr<TBitmap> FBitmap;
  uint8_t* FBuffer[4] = {};
  int FBufferLinesize[4] = {};
  int FBufferWidth = 0, FBufferHeight = 0;
  bool FBufferCurrent = false;  // FBuffer holds the bitmap's pixels as ToRGB made them
  SwsContext* FToRGB = nullptr;
  SwsContext* FFromRGB = nullptr;
};
