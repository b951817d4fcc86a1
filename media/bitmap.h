// A 24-bit picture shared by the engine, the player and the application: rows of
// width*3 bytes padded to 4, top-down, blue-green-red. Qt code wraps it without copying as
// QImage(Bits(), Width(), Height(), Stride(), QImage::Format_BGR888).
//
// Threads: the owner writes the pixels; another thread reading or drawing on them holds
// Canvas() for the duration.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class TBitmap {
 public:
  TBitmap() = default;
  TBitmap(int width, int height) { SetSize(width, height); }
  TBitmap(const TBitmap& other)
      : FWidth(other.FWidth), FHeight(other.FHeight), FBits(other.FBits) {}
  TBitmap& operator=(const TBitmap& other);

  // Keeps the pixels when the size is unchanged; otherwise they become black.
  void SetSize(int width, int height);
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int Stride() const { return StrideFor(FWidth); }
  bool Empty() const { return FWidth <= 0 || FHeight <= 0; }
  static int StrideFor(int width) { return (width * 3 + 3) & ~3; }

  // The writable accessors count their calls (WriteCount), so the owner of a picture it
  // filled can tell that nobody has asked to change it since. Code that draws therefore
  // takes its pointers afresh for each picture rather than keeping them.
  uint8_t* Bits() {
    ++FWrites;
    return FBits.data();
  }
  const uint8_t* Bits() const { return FBits.data(); }
  uint8_t* ScanLine(int y) {
    ++FWrites;
    return FBits.data() + size_t(y) * Stride();
  }
  const uint8_t* ScanLine(int y) const { return FBits.data() + size_t(y) * Stride(); }
  uint64_t WriteCount() const { return FWrites; }

  // Bytes readable past the last row: vector code (scalers) that reads a few bytes beyond a
  // row's last pixel may read the pixels in place.
  static constexpr size_t kTailPadding = 64;

  std::mutex& Canvas() const { return FCanvas; }

  // Uncompressed 24-bit BMP. Load also takes 32-bit and 8-bit palette BMPs; both return
  // false (and leave the bitmap unchanged on load) when the file cannot be used.
  bool SaveToFile(const std::string& path) const;
  bool LoadFromFile(const std::string& path);

 private:
  int FWidth = 0;
  int FHeight = 0;
  std::vector<uint8_t> FBits;  // rows, then kTailPadding zero bytes
  uint64_t FWrites = 0;
  mutable std::mutex FCanvas;
};
