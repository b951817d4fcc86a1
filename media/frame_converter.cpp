#include "media/frame_converter.h"

#include <cstdint>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {
constexpr int kBicubic = SWS_BICUBIC;  // 4
// Rows a band converts beyond its own on each side when the scaler filters across rows:
// more than the bicubic chroma filter's reach, even so that chroma rows line up.
constexpr int kBandMargin = 16;
// Bands shorter than this cost more in hand-over than they save.
constexpr int kMinBandRows = 32;

bool Planar420(AVPixelFormat format) {
  return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}
}  // namespace

void FrameConverter::TBufferFree::operator()(uint8_t* p) const {
  av_free(p);
}

// A scaler from the cache: the old one is kept when it still fits, replaced otherwise.
static SwsContext* Cached(SwsContextPtr& scaler, int srcWidth, int srcHeight,
                          AVPixelFormat srcFormat, int dstWidth, int dstHeight,
                          AVPixelFormat dstFormat) {
  // sws_getCachedContext frees the context it is given when it makes a new one.
  SwsContext* cached =
      sws_getCachedContext(scaler.release(), srcWidth, srcHeight, srcFormat, dstWidth, dstHeight,
                           dstFormat, kBicubic, nullptr, nullptr, nullptr);
  scaler.reset(cached);
  return cached;
}

void FrameConverter::Reset() {
  FBitmap.reset();
  FBuffer.reset();
  FBufferWidth = FBufferHeight = 0;
  FFilled = FReference = false;
  FToRGB.reset();
  FFromRGB.reset();
  for (int band = 0; band < kMaxBands; ++band) {
    FBandToRGB[band].reset();
    FBandFromRGB[band].reset();
    FBandPicture[band].reset();
  }
}

bool FrameConverter::Direct(AVPixelFormat format, int width, int height, const int linesize[4]) {
  return format == AV_PIX_FMT_BGR24 && width % 2 == 0 && height % 2 == 0 &&
         linesize[0] == TBitmap::StrideFor(width);
}

bool FrameConverter::InPlace(int width, int height) {
  // The scalers' 24-bit writers work in blocks of 8 or 16 pixels; the bitmap's padding
  // behind the last row covers their reads.
  return width % 16 == 0 && height % 2 == 0;
}

bool FrameConverter::EnsureBuffer(int width, int height) {
  if (FBuffer && FBufferWidth == width && FBufferHeight == height) return true;
  FBuffer.reset();
  FBufferWidth = FBufferHeight = 0;
  FReference = false;
  // One spare row and alignment keep the scalers' wide writes and reads inside the buffer.
  uint8_t* planes[4] = {};
  if (av_image_alloc(planes, FBufferLinesize, width, height + 1, AV_PIX_FMT_BGR24, 64) < 0)
    return false;
  FBuffer.reset(planes[0]);
  FBufferWidth = width;
  FBufferHeight = height;
  return true;
}

bool FrameConverter::ToRGBInBands(const uint8_t* const data[4], const int linesize[4],
                                  AVPixelFormat format, int height, int width, uint8_t* out,
                                  int outLinesize) {
  // Bands begin on even rows, where a 4:2:0 picture's chroma rows begin too.
  std::atomic<bool> ok{true};
  FWorkers->RunRows(height, 2, kMinBandRows, [&](int band, int first, int last) {
    const int rows = last - first;
    SwsContext* scaler =
        Cached(FBandToRGB[band], width, rows, format, width, rows, AV_PIX_FMT_BGR24);
    if (!scaler) {
      ok = false;
      return;
    }
    const uint8_t* src[4] = {data[0] + size_t(first) * linesize[0],
                             data[1] + size_t(first / 2) * linesize[1],
                             data[2] + size_t(first / 2) * linesize[2], nullptr};
    uint8_t* dst[4] = {out + size_t(first) * outLinesize, nullptr, nullptr, nullptr};
    const int dstLinesize[4] = {outLinesize, 0, 0, 0};
    sws_scale(scaler, src, linesize, 0, rows, dst, dstLinesize);
  });
  return ok;
}

bool FrameConverter::ToRGB(const uint8_t* const data[4], const int linesize[4],
                           AVPixelFormat format, int height, int width) {
  if (!FBitmap) FBitmap = std::make_unique<TBitmap>();
  if (FBitmap->Width() != width || FBitmap->Height() != height) FBitmap->SetSize(width, height);
  const size_t rowBytes = size_t(width) * 3;
  FFilled = FReference = false;
  if (Direct(format, width, height, linesize)) {
    for (int y = 0; y < height; ++y)
      std::memcpy(FBitmap->ScanLine(y), data[0] + size_t(y) * linesize[0], rowBytes);
  } else {
    const bool inPlace = InPlace(width, height);
    if (!inPlace && !EnsureBuffer(width, height)) return false;
    uint8_t* out = inPlace ? FBitmap->Bits() : FBuffer.get();
    const int outLinesize = inPlace ? FBitmap->Stride() : FBufferLinesize[0];
    // Odd heights take the scaler's general path, whose chroma filter spans the bands.
    const bool banded = Planar420(format) && height % 2 == 0;
    if (banded) {
      if (!ToRGBInBands(data, linesize, format, height, width, out, outLinesize)) return false;
    } else {
      SwsContext* scaler = Cached(FToRGB, width, height, format, width, height, AV_PIX_FMT_BGR24);
      if (!scaler) return false;
      uint8_t* dst[4] = {out, nullptr, nullptr, nullptr};
      const int dstLinesize[4] = {outLinesize, 0, 0, 0};
      sws_scale(scaler, data, linesize, 0, height, dst, dstLinesize);
    }
    if (!inPlace) {
      for (int y = 0; y < height; ++y)
        std::memcpy(FBitmap->ScanLine(y), FBuffer.get() + size_t(y) * FBufferLinesize[0], rowBytes);
      FReference = true;
    }
  }
  FFilled = true;
  FFilledWrites = FBitmap->WriteCount();
  return true;
}

bool FrameConverter::Unchanged() const {
  if (!FFilled || !FBitmap) return false;
  if (FBitmap->WriteCount() == FFilledWrites) return true;
  if (!FReference || FBitmap->Width() != FBufferWidth || FBitmap->Height() != FBufferHeight)
    return false;
  const size_t rowBytes = size_t(FBufferWidth) * 3;
  const TBitmap& bitmap = *FBitmap;
  for (int y = 0; y < FBufferHeight; ++y)
    if (std::memcmp(bitmap.ScanLine(y), FBuffer.get() + size_t(y) * FBufferLinesize[0], rowBytes))
      return false;
  return true;
}

bool FrameConverter::FromRGBInBands(const uint8_t* rgb, int rgbLinesize, uint8_t* const data[4],
                                    const int linesize[4], AVPixelFormat format, int height,
                                    int width) {
  std::atomic<bool> ok{true};
  FWorkers->RunRows(height, 2, kMinBandRows, [&](int band, int first, int last) {
    const int top = std::max(0, first - kBandMargin);
    const int bottom = std::min(height, last + kBandMargin);
    const int rows = bottom - top;
    SwsContext* scaler =
        Cached(FBandFromRGB[band], width, rows, AV_PIX_FMT_BGR24, width, rows, format);
    AVFramePtr& picture = FBandPicture[band];
    if (scaler && (!picture || picture->width != width || picture->height != rows ||
                   picture->format != format)) {
      picture = MakeFrame();
      picture->width = width;
      picture->height = rows;
      picture->format = format;
      if (av_frame_get_buffer(picture.get(), 0) < 0) picture.reset();
    }
    if (!scaler || !picture) {
      ok = false;
      return;
    }
    const uint8_t* src[4] = {rgb + size_t(top) * rgbLinesize, nullptr, nullptr, nullptr};
    const int srcLinesize[4] = {rgbLinesize, 0, 0, 0};
    sws_scale(scaler, src, srcLinesize, 0, rows, picture->data, picture->linesize);
    const int chromaWidth = (width + 1) / 2;
    for (int y = first; y < last; ++y)
      std::memcpy(data[0] + size_t(y) * linesize[0],
                  picture->data[0] + size_t(y - top) * picture->linesize[0], size_t(width));
    for (int y = first / 2; y < last / 2; ++y)
      for (int plane = 1; plane <= 2; ++plane)
        std::memcpy(data[plane] + size_t(y) * linesize[plane],
                    picture->data[plane] + size_t(y - top / 2) * picture->linesize[plane],
                    size_t(chromaWidth));
  });
  return ok;
}

bool FrameConverter::FromRGB(uint8_t* const data[4], const int linesize[4], AVPixelFormat format,
                             int height, int width) {
  if (!FBitmap || FBitmap->Width() != width || FBitmap->Height() != height) return false;
  const TBitmap& bitmap = *FBitmap;
  const size_t rowBytes = size_t(width) * 3;
  if (format == AV_PIX_FMT_BGR24) {
    for (int y = 0; y < height; ++y)
      std::memcpy(data[0] + size_t(y) * linesize[0], bitmap.ScanLine(y), rowBytes);
    return true;
  }
  const uint8_t* rgb = bitmap.Bits();
  int rgbLinesize = bitmap.Stride();
  if (!InPlace(width, height)) {
    if (!EnsureBuffer(width, height)) return false;
    FReference = false;
    for (int y = 0; y < height; ++y)
      std::memcpy(FBuffer.get() + size_t(y) * FBufferLinesize[0], bitmap.ScanLine(y), rowBytes);
    rgb = FBuffer.get();
    rgbLinesize = FBufferLinesize[0];
  }
  if (Planar420(format) && height % 2 == 0)
    return FromRGBInBands(rgb, rgbLinesize, data, linesize, format, height, width);
  SwsContext* scaler = Cached(FFromRGB, width, height, AV_PIX_FMT_BGR24, width, height, format);
  if (!scaler) return false;
  const uint8_t* src[4] = {rgb, nullptr, nullptr, nullptr};
  const int srcLinesize[4] = {rgbLinesize, 0, 0, 0};
  sws_scale(scaler, src, srcLinesize, 0, height, data, linesize);
  return true;
}
