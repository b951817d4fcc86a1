// Drawing the title's watermarks (TWmRec) into 24-bit frames: text rendered with Qt's text
// output, pictures read from BMP files, both blended with the watermark's opacity.
//
// Text needs a QGuiApplication (fonts). The GUI has one; programs without windows (the
// command line, tests) call EnsureGuiApplication on the main thread before any text is drawn.
// Drawing itself may then run on any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <QFont>

#include "app/core/wm_rec.h"
#include "media/bitmap.h"

// Main thread only. Creates a windowless QGuiApplication (platform "offscreen") when the
// process has no Qt application object yet; an existing one is left alone. The object lives
// until the process exits. Returns false when a QCoreApplication that is not a
// QGuiApplication exists, or when none exists and the caller is not the main thread (text
// cannot be drawn then).
bool EnsureGuiApplication();

// The Qt font for a watermark font: its family, its point size at 96 pixels per inch (as
// the editor shows it, whatever the screen), its styles.
QFont WatermarkQFont(const TWmFont& font);

// Draws a text watermark into frame: Text with its top-left corner at (TextLeft, TextTop),
// inside the TextWidth x TextHeight box (the box bounds the text; it is neither scaled nor
// centred), over BackColor when HasBackColor, otherwise over the frame itself, blended with
// opacity TextAlpha. Parts outside the frame are not drawn. Renders anew on every call;
// TWatermarkCache keeps the rendering. Throws std::runtime_error without a
// QGuiApplication.
void DrawTextWatermark(TBitmap& frame, const TWmRec& mark);

// Watermark pictures are BMP files (read by TBitmap) or PNG and JPEG files (read by Qt's
// image readers; a PNG's transparency is kept as a coverage byte per pixel).
//
// The most memory a watermark picture may take once read (24 bits per pixel).
inline constexpr uint64_t kMaxWatermarkPictureBytes = 256ull << 20;

// Why the picture at `path` cannot be a watermark, in words ("No such file or directory",
// "the file is empty", "not a BMP picture", "the BMP picture is cut short", "it is a
// character device, not a picture file", a picture over kMaxWatermarkPictureBytes, ...);
// empty when it reads as a BMP picture. The whole file is read when its header is good.
std::string WatermarkPictureProblem(const std::string& path);

// Reads ImageFile and blends it at its own size at (ImageLeft, ImageTop) with opacity
// ImageAlpha. Throws std::runtime_error ("<file>: <reason>") when the file cannot be read
// or is not a BMP file.
void DrawPictureWatermark(TBitmap& frame, const TWmRec& mark);
// Reads a PNG or JPEG picture (not a BMP) into `pixels` and, when it has transparency,
// `coverage` (one byte per pixel, 255 opaque; left empty otherwise). False when the file
// is not a PNG or JPEG picture that can be read and held.
bool LoadQtPicture(const std::string& path, TBitmap& pixels, std::vector<uint8_t>& coverage);
// Like BlendBitmap, with each pixel's opacity scaled by its coverage (null: opaque, exactly
// BlendBitmap).
void BlendPicture(TBitmap& frame, const TBitmap& picture, const std::vector<uint8_t>* coverage,
                  int X, int Y, int Alpha);

// What stays the same from frame to frame: the rendered text boxes (per watermark content
// and frame size) and the decoded pictures (per file, checked against the file's identity,
// size and times on every use, so a replaced or deleted file shows on the next frame).
//
// Threads: every member may be called from any thread; calls are serialised inside.
class TWatermarkCache {
 public:
  // The picture of path as it is on disc now. Throws like DrawPictureWatermark. A picture
  // with transparency (PNG) also gives its coverage, one byte per pixel, through `coverage`
  // (null for an opaque picture).
  std::shared_ptr<const TBitmap> Picture(
      const std::string& path, std::shared_ptr<const std::vector<uint8_t>>* coverage = nullptr);

  // A rendered text box: premultiplied blue, green, red, alpha per pixel, covering the part
  // of the watermark's box that lies inside the frame.
  struct TTextLayer {
    int Left = 0, Top = 0, Width = 0, Height = 0;  // frame pixels
    std::vector<uint8_t> Pixels;                   // Width * 4 bytes per row
    // Per row, the columns [first, last) outside which every pixel is fully transparent
    // (all four bytes 0, which leave the frame exactly as it is); first == last when the
    // whole row is. Empty for a layer made by hand: then every pixel is blended.
    std::vector<std::pair<int, int>> Inked;
  };
  // The text box of mark for frames of the given size, rendered on first use. Throws
  // std::runtime_error without a QGuiApplication.
  std::shared_ptr<const TTextLayer> TextLayer(const TWmRec& mark, int frameWidth, int frameHeight);

  void DrawText(TBitmap& frame, const TWmRec& mark);
  void DrawPicture(TBitmap& frame, const TWmRec& mark);

 private:
  struct TFileStamp {
    uint64_t Device = 0, Inode = 0;
    int64_t Size = -1, ModifiedNs = 0, ChangedNs = 0;
    bool operator==(const TFileStamp&) const = default;
  };
  struct TPictureEntry {
    std::string Path;
    TFileStamp Stamp;
    std::shared_ptr<const TBitmap> Bitmap;  // null when the file is not a usable picture
    std::shared_ptr<const std::vector<uint8_t>> Coverage;  // null: opaque
    std::string Error;
    uint64_t LastUse = 0;
  };
  struct TTextEntry {
    TWmRec Mark;  // the fields that shape the rendering
    int FrameWidth = 0, FrameHeight = 0;
    std::shared_ptr<const TTextLayer> Layer;
    uint64_t LastUse = 0;
  };

  std::mutex FLock;
  uint64_t FClock = 0;
  std::vector<TPictureEntry> FPictures;
  std::vector<TTextEntry> FTexts;
};

// The text box of mark rendered for a frame of the given size (empty when the box misses
// the frame). Throws std::runtime_error without a QGuiApplication.
TWatermarkCache::TTextLayer RenderTextLayer(const TWmRec& mark, int frameWidth, int frameHeight);
// Composites a rendered text box onto the frame with opacity alpha (0..255): each channel
// first takes the layer over the frame, then blends like BlendBitmap, so pixels the layer
// leaves transparent keep their exact value.
void BlendTextLayer(TBitmap& frame, const TWatermarkCache::TTextLayer& layer, int alpha);
