// What the GUI tests check in files: the fixture disc's paths, a tone, a playing time. No Qt,
// so the whole-program test uses them too.
#pragma once

#include <string>

// ShellQuote, ToneFrequency and DecodedDuration come with the shared test support.
#include "tests/support/test_support.h"

// The fixture disc A as an image and as a folder.
std::string DiscAImage();
std::string DiscAFolder();
// Fixture disc F: one 8 s title with a busy picture (its conversions need the bit rate they
// are given).
std::string DiscFImage();

// One decoded picture as 8-bit RGB, rows top to bottom; empty when it cannot be read.
struct TRgbPicture {
  int Width = 0, Height = 0;
  std::string Pixels;  // Width * Height * 3 bytes
  bool Empty() const { return Pixels.empty(); }
  const unsigned char* At(int x, int y) const {
    return reinterpret_cast<const unsigned char*>(Pixels.data()) + (size_t(y) * Width + x) * 3;
  }
};
// The first picture of a media file's video at or after `seconds` (decoded up to it, so exact
// in files that cannot seek well, such as SWF).
TRgbPicture DecodeRgbPicture(const std::string& file, double seconds);
