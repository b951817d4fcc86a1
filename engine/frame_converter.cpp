#include "engine/frame_converter.h"

#include <cstdint>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <cstring>

namespace {
constexpr int kBicubic = SWS_BICUBIC;  // 4
}

FrameConverter::~FrameConverter() {
  Reset();
}

void FrameConverter::Reset() {
  FBitmap.reset();
  av_freep(&FBuffer[0]);
  FBufferWidth = FBufferHeight = 0;
  sws_freeContext(FToRGB);
  FToRGB = nullptr;
  sws_freeContext(FFromRGB);
  FFromRGB = nullptr;
}

bool FrameConverter::Direct(AVPixelFormat format, int width, int height, const int linesize[4]) {
  return format == AV_PIX_FMT_BGR24 && width % 2 == 0 && height % 2 == 0 &&
         linesize[0] == TBitmap::StrideFor(width);
}

bool FrameConverter::EnsureBuffer(int width, int height) {
  if (FBuffer[0] && FBufferWidth == width && FBufferHeight == height) return true;
  av_freep(&FBuffer[0]);
  FBufferWidth = FBufferHeight = 0;
  // One spare row and alignment keep the scalers' wide writes and reads inside the buffer.
  if (av_image_alloc(FBuffer, FBufferLinesize, width, height + 1, AV_PIX_FMT_BGR24, 64) < 0)
    return false;
  FBufferWidth = width;
  FBufferHeight = height;
  return true;
}

bool FrameConverter::ToRGB(const uint8_t* const data[4], const int linesize[4],
                           AVPixelFormat format, int height, int width) {
  if (!FBitmap) FBitmap = std::make_unique<TBitmap>();
  if (FBitmap->Width() != width || FBitmap->Height() != height) FBitmap->SetSize(width, height);
  const size_t rowBytes = size_t(width) * 3;
  FBufferCurrent = false;
  if (Direct(format, width, height, linesize)) {
    for (int y = 0; y < height; ++y)
      std::memcpy(FBitmap->ScanLine(y), data[0] + size_t(y) * linesize[0], rowBytes);
    return true;
  }
  FToRGB = sws_getCachedContext(FToRGB, width, height, format, width, height, AV_PIX_FMT_BGR24,
                                kBicubic, nullptr, nullptr, nullptr);
  if (!FToRGB || !EnsureBuffer(width, height)) return false;
  sws_scale(FToRGB, data, linesize, 0, height, FBuffer, FBufferLinesize);
  for (int y = 0; y < height; ++y)
    std::memcpy(FBitmap->ScanLine(y), FBuffer[0] + size_t(y) * FBufferLinesize[0], rowBytes);
  FBufferCurrent = true;
  return true;
}

bool FrameConverter::Unchanged() const {
  if (!FBufferCurrent || !FBitmap || FBitmap->Width() != FBufferWidth ||
      FBitmap->Height() != FBufferHeight)
    return false;
  const size_t rowBytes = size_t(FBufferWidth) * 3;
  for (int y = 0; y < FBufferHeight; ++y)
    if (std::memcmp(FBitmap->ScanLine(y), FBuffer[0] + size_t(y) * FBufferLinesize[0], rowBytes))
      return false;
  return true;
}

bool FrameConverter::FromRGB(uint8_t* const data[4], const int linesize[4], AVPixelFormat format,
                             int height, int width) {
  if (!FBitmap || FBitmap->Width() != width || FBitmap->Height() != height) return false;
  const size_t rowBytes = size_t(width) * 3;
  if (format == AV_PIX_FMT_BGR24) {
    for (int y = 0; y < height; ++y)
      std::memcpy(data[0] + size_t(y) * linesize[0], FBitmap->ScanLine(y), rowBytes);
    return true;
  }
  FFromRGB = sws_getCachedContext(FFromRGB, width, height, AV_PIX_FMT_BGR24, width, height, format,
                                  kBicubic, nullptr, nullptr, nullptr);
  if (!FFromRGB || !EnsureBuffer(width, height)) return false;
  for (int y = 0; y < height; ++y)
    std::memcpy(FBuffer[0] + size_t(y) * FBufferLinesize[0], FBitmap->ScanLine(y), rowBytes);
  sws_scale(FFromRGB, FBuffer, FBufferLinesize, 0, height, data, linesize);
  return true;
}
