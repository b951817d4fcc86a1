// One stored watermark of a title: a text or a picture drawn into the title's frames during
// conversion, inside a time window. The watermark editor writes these on Ok; the title
// record (TlvFilesRecord::WaterMarks) owns them; the conversion hook reads them.
//
// Threads: plain data. Written on the main thread by the editor; read by the conversion
// worker while a run is in progress, during which nothing edits them.
#pragma once

#include <cstdint>
#include <string>

// TFontStyles bits.
enum TFontStyle : uint8_t {
  fsBold = 1 << 0,
  fsItalic = 1 << 1,
  fsUnderline = 1 << 2,
  fsStrikeOut = 1 << 3,
};

// A colour as the settings and the records store it: 0x00BBGGRR (red in the low byte). Bits
// above the low 24 are ignored when drawing.
using TColor = uint32_t;

inline uint8_t ColorRed(TColor c) {
  return uint8_t(c);
}
inline uint8_t ColorGreen(TColor c) {
  return uint8_t(c >> 8);
}
inline uint8_t ColorBlue(TColor c) {
  return uint8_t(c >> 16);
}
inline TColor MakeColor(uint8_t red, uint8_t green, uint8_t blue) {
  return TColor(red) | TColor(green) << 8 | TColor(blue) << 16;
}

struct TWmFont {
  std::string Name = "DejaVu Sans";
  int32_t Size = 26;        // points; drawn at 96 pixels per inch, as the editor shows it
  uint8_t Style = 0;        // TFontStyle bits
  TColor Color = 0xFF0000;  // blue

  bool operator==(const TWmFont&) const = default;
};

// TWmRec::Kind: what a watermark draws (stored values).
constexpr int32_t kWatermarkText = 0;
constexpr int32_t kWatermarkPicture = 1;

class TWmRec {
 public:
  std::string Text;
  TWmFont Font;
  int32_t TextLeft = 0, TextTop = 0;
  int32_t TextWidth = 0, TextHeight = 0;  // the text's extent in Font when last drawn
  int32_t TextAlpha = 255;                // opacity 0..255
  TColor BackColor = 0x008000;            // green
  bool HasBackColor = false;              // false: the text box is transparent
  std::string ImageFile;                  // full path of a BMP file
  int32_t ImageLeft = 0, ImageTop = 0;
  int32_t ImageWidth = 0, ImageHeight = 0;  // the picture's own size; not used for drawing
  int32_t ImageAlpha = 255;                 // opacity 0..255
  int32_t Kind = 0;  // kWatermarkText, kWatermarkPicture; other values draw nothing
  int32_t StartTime = 0, EndTime = 0;  // first and last whole second shown, inclusive

  bool operator==(const TWmRec&) const = default;
};
