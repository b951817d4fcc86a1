#include "media/bitmap.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

uint32_t Get32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}
uint16_t Get16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void Put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

}  // namespace

TBitmap& TBitmap::operator=(const TBitmap& other) {
  if (this != &other) {
    FWidth = other.FWidth;
    FHeight = other.FHeight;
    FBits = other.FBits;
    ++FWrites;
  }
  return *this;
}

void TBitmap::SetSize(int width, int height) {
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  if (width == FWidth && height == FHeight) return;
  FWidth = width;
  FHeight = height;
  FBits.assign(size_t(StrideFor(width)) * size_t(height) + kTailPadding, 0);
  ++FWrites;
}

bool TBitmap::SaveToFile(const std::string& path) const {
  const uint32_t imageSize = uint32_t(Stride()) * uint32_t(FHeight);
  uint8_t header[54] = {};
  header[0] = 'B';
  header[1] = 'M';
  Put32(header + 2, 54 + imageSize);
  Put32(header + 10, 54);
  Put32(header + 14, 40);
  Put32(header + 18, uint32_t(FWidth));
  Put32(header + 22, uint32_t(FHeight));  // positive: rows stored bottom-up
  Put16(header + 26, 1);
  Put16(header + 28, 24);
  Put32(header + 34, imageSize);
  Put32(header + 38, 2835);  // 72 dpi
  Put32(header + 42, 2835);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(header), sizeof header);
  for (int y = FHeight - 1; y >= 0; --y)
    out.write(reinterpret_cast<const char*>(ScanLine(y)), Stride());
  return bool(out.flush());
}

bool TBitmap::LoadFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (data.size() < 54 || data[0] != 'B' || data[1] != 'M') return false;
  const uint32_t offset = Get32(&data[10]);
  const uint32_t infoSize = Get32(&data[14]);
  if (infoSize < 40 || 14 + uint64_t(infoSize) > data.size()) return false;
  const int32_t width = int32_t(Get32(&data[18]));
  const int32_t rawHeight = int32_t(Get32(&data[22]));
  const int bpp = Get16(&data[28]);
  const uint32_t compression = Get32(&data[30]);
  if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN || width > 32768) return false;
  if (compression != 0 && !(compression == 3 && bpp == 32)) return false;
  if (bpp != 24 && bpp != 32 && bpp != 8) return false;
  const bool bottomUp = rawHeight > 0;
  const int height = bottomUp ? rawHeight : -rawHeight;
  if (height > 32768) return false;
  const uint64_t srcStride = ((uint64_t(width) * bpp + 31) / 32) * 4;
  if (offset > data.size() || srcStride * height > data.size() - offset) return false;
  const uint8_t* palette = data.data() + 14 + infoSize;
  uint32_t colours = Get32(&data[46]);
  if (bpp == 8) {
    if (colours == 0 || colours > 256) colours = 256;
    if (14 + infoSize + uint64_t(colours) * 4 > offset) return false;
  }

  TBitmap loaded(width, height);
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = data.data() + offset + srcStride * size_t(bottomUp ? height - 1 - y : y);
    uint8_t* dst = loaded.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      const uint8_t* px;
      if (bpp == 8) {
        const uint8_t index = src[x];
        if (index >= colours) return false;
        px = palette + index * 4;
      } else {
        px = src + x * (bpp / 8);
      }
      dst[x * 3] = px[0];
      dst[x * 3 + 1] = px[1];
      dst[x * 3 + 2] = px[2];
    }
  }
  FWidth = loaded.FWidth;
  FHeight = loaded.FHeight;
  FBits = std::move(loaded.FBits);
  ++FWrites;
  return true;
}
