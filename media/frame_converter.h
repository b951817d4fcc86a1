// FrameConverter turns a decoded picture into a 24-bit bitmap (media/bitmap.h) and back, with
// scalers cached between pictures. The transcoder keeps one for its custom hook and one for
// its preview; a player may keep its own. Not shared between threads: one owner converts
// (a 4:2:0 picture is converted in bands on the slice pool handed in, see ToRGB).
#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <cstdint>
#include <memory>
#include <utility>

#include "media/bitmap.h"
#include "media/ffmpeg_ptr.h"
#include "media/slice_workers.h"

class FrameConverter {
 public:
  // Bands run on workers, the process's pool unless the owner hands in another; the
  // converter shares it with whoever else holds it.
  FrameConverter() : FWorkers(TSliceWorkers::Shared()) {}
  explicit FrameConverter(std::shared_ptr<TSliceWorkers> workers)
      : FWorkers(workers ? std::move(workers) : TSliceWorkers::Shared()) {}
  FrameConverter(const FrameConverter&) = delete;
  FrameConverter& operator=(const FrameConverter&) = delete;

  // Converts the picture into Bitmap(), which takes the picture's size. A BGR24 picture with
  // even dimensions and bitmap-compatible rows is copied row by row without a scaler. A
  // planar 4:2:0 picture is converted in bands of whole row pairs, one scaler per band, on
  // the cores the conversion loop leaves idle (the colour conversion of one row pair needs no
  // other rows, so the pixels are those of one pass). Scalers write straight into the bitmap
  // when its rows are whole vector widths. False when no scaler can be made for the format.
  bool ToRGB(const uint8_t* const data[4], const int linesize[4], AVPixelFormat format, int height,
             int width);

  // Converts Bitmap() back into the picture (which the caller owns and may write), the
  // reverse of ToRGB. Into a 4:2:0 picture in bands too: the scaler's chroma filter spans a
  // few rows, so each band converts a margin of rows on both sides into a picture of its own
  // and keeps only its rows, which are then those of one pass. False when no scaler can be
  // made.
  bool FromRGB(uint8_t* const data[4], const int linesize[4], AVPixelFormat format, int height,
               int width);

  // Whether Bitmap() still holds what the last ToRGB put there (a handler that drew nothing
  // needs no conversion back). True when nobody took a writable pointer to the pixels since;
  // otherwise, where ToRGB kept the scaler's own output, whether the pixels still equal it.
  // False before a ToRGB.
  bool Unchanged() const;

  // Created at the first ToRGB; lock Canvas() when another thread draws on it.
  TBitmap* Bitmap() { return FBitmap.get(); }

  // Frees the bitmap and both scalers.
  void Reset();

 private:
  static bool Direct(AVPixelFormat format, int width, int height, const int linesize[4]);
  // Whether scalers may write and read the bitmap's rows in place: rows of whole vector
  // widths (no write past a row's end) and an even height (row pairs).
  static bool InPlace(int width, int height);
  bool FromRGBInBands(const uint8_t* rgb, int rgbLinesize, uint8_t* const data[4],
                      const int linesize[4], AVPixelFormat format, int height, int width);
  bool ToRGBInBands(const uint8_t* const data[4], const int linesize[4], AVPixelFormat format,
                    int height, int width, uint8_t* out, int outLinesize);

  // The BGR24 picture the scalers read and write: allocated with the library's padding, as
  // scalers may touch a few bytes past a row's last pixel, which the bitmap does not have.
  bool EnsureBuffer(int width, int height);

  struct TBufferFree {
    void operator()(uint8_t* p) const;
  };

  std::unique_ptr<TBitmap> FBitmap;
  std::unique_ptr<uint8_t, TBufferFree> FBuffer;  // av_image_alloc's one block
  int FBufferLinesize[4] = {};
  int FBufferWidth = 0, FBufferHeight = 0;
  bool FFilled = false;  // the bitmap holds a ToRGB's pixels, as of FFilledWrites
  uint64_t FFilledWrites = 0;
  bool FReference = false;  // FBuffer holds the pixels as ToRGB made them
  SwsContextPtr FToRGB;
  SwsContextPtr FFromRGB;
  static constexpr int kMaxBands = 4;
  SwsContextPtr FBandToRGB[kMaxBands];
  SwsContextPtr FBandFromRGB[kMaxBands];
  AVFramePtr FBandPicture[kMaxBands];       // a band and its margins, converted back
  std::shared_ptr<TSliceWorkers> FWorkers;  // never null
};
