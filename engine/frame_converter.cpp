#include "engine/frame_converter.h"

#include <cstdint>

extern "C" {
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
  sws_freeContext(FToRGB);
  FToRGB = nullptr;
  sws_freeContext(FFromRGB);
  FFromRGB = nullptr;
}

bool FrameConverter::Direct(AVPixelFormat format, int width, int height, const int linesize[4]) {
  return format == AV_PIX_FMT_BGR24 && width % 2 == 0 && height % 2 == 0 &&
         linesize[0] == TBitmap::StrideFor(width);
}

bool FrameConverter::ToRGB(const uint8_t* const data[4], const int linesize[4],
                           AVPixelFormat format, int height, int width) {
  if (!FBitmap) FBitmap = std::make_unique<TBitmap>();
  if (FBitmap->Width() != width || FBitmap->Height() != height) FBitmap->SetSize(width, height);
  if (Direct(format, width, height, linesize)) {
    for (int y = 0; y < height; ++y)
      std::memcpy(FBitmap->ScanLine(y), data[0] + size_t(y) * linesize[0], size_t(linesize[0]));
    return true;
  }
  FToRGB = sws_getCachedContext(FToRGB, width, height, format, width, height, AV_PIX_FMT_BGR24,
                                kBicubic, nullptr, nullptr, nullptr);
  if (!FToRGB) return false;
  uint8_t* dst[4] = {FBitmap->Bits(), nullptr, nullptr, nullptr};
  const int dstStride[4] = {FBitmap->Stride(), 0, 0, 0};
  sws_scale(FToRGB, data, linesize, 0, height, dst, dstStride);
  return true;
}

bool FrameConverter::FromRGB(uint8_t* const data[4], const int linesize[4], AVPixelFormat format,
                             int height, int width) {
  if (!FBitmap || FBitmap->Width() != width || FBitmap->Height() != height) return false;
  if (Direct(format, width, height, linesize)) {
    for (int y = 0; y < height; ++y)
      std::memcpy(data[0] + size_t(y) * linesize[0], FBitmap->ScanLine(y), size_t(linesize[0]));
    return true;
  }
  if (format == AV_PIX_FMT_BGR24) {  // rows of another length: copy each row's pixels
    for (int y = 0; y < height; ++y)
      std::memcpy(data[0] + size_t(y) * linesize[0], FBitmap->ScanLine(y), size_t(width) * 3);
    return true;
  }
  FFromRGB = sws_getCachedContext(FFromRGB, width, height, AV_PIX_FMT_BGR24, width, height, format,
                                  kBicubic, nullptr, nullptr, nullptr);
  if (!FFromRGB) return false;
  const uint8_t* src[4] = {FBitmap->Bits(), nullptr, nullptr, nullptr};
  const int srcStride[4] = {FBitmap->Stride(), 0, 0, 0};
  sws_scale(FFromRGB, src, srcStride, 0, height, data, linesize);
  return true;
}
