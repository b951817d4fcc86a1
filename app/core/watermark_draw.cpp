#include "app/core/watermark_draw.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QString>

#include "app/core/color_adjust.h"
#include "app/core/ini_file.h"
#include "media/main_thread.h"

namespace {

// How many rendered text boxes and decoded pictures stay cached. A title has a handful of
// watermarks; the least recently used entry goes first.
constexpr size_t kCachedTexts = 32;
constexpr size_t kCachedPictures = 16;

void RequireGuiApplication() {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
    throw std::runtime_error(
        "text watermarks need a QGuiApplication (EnsureGuiApplication on the main thread)");
}

QColor ToQColor(TColor c, int alpha = 255) {
  return QColor(ColorRed(c), ColorGreen(c), ColorBlue(c), alpha);
}

// x / 255 rounded to nearest, exact for 0 <= x <= 65535.
inline uint32_t Div255(uint32_t x) {
  x += 128;
  return (x + (x >> 8)) >> 8;
}

// The fields that decide what a text box looks like.
bool SameTextShape(const TWmRec& a, const TWmRec& b) {
  return a.Text == b.Text && a.Font == b.Font && a.TextLeft == b.TextLeft &&
         a.TextTop == b.TextTop && a.TextWidth == b.TextWidth && a.TextHeight == b.TextHeight &&
         a.BackColor == b.BackColor && a.HasBackColor == b.HasBackColor;
}

std::string SystemError(const std::string& path, int error) {
  return path + ": " + std::strerror(error);
}

uint32_t Little32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// What the BMP header of an open regular file of `size` bytes says against reading it:
// empty when the picture can be read and held.
std::string BmpHeaderProblem(const std::string& path, int64_t size) {
  if (size == 0) return "the file is empty";
  uint8_t header[54] = {};
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  ssize_t got = 0;
  while (got < ssize_t(sizeof header)) {
    const ssize_t n = read(fd, header + got, sizeof header - size_t(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += n;
  }
  close(fd);
  if (got < 2 || header[0] != 'B' || header[1] != 'M') return "not a BMP picture";
  if (got < ssize_t(sizeof header)) return "the BMP picture is cut short";
  const uint32_t offset = Little32(header + 10);
  const uint32_t infoSize = Little32(header + 14);
  const int64_t width = int32_t(Little32(header + 18));
  const int64_t height = std::abs(int64_t(int32_t(Little32(header + 22))));
  const int bpp = header[28] | header[29] << 8;
  const uint32_t compression = Little32(header + 30);
  if (infoSize < 40 || width <= 0 || height <= 0) return "not a BMP picture this program can read";
  if ((bpp != 8 && bpp != 24 && bpp != 32) ||
      (compression != 0 && !(compression == 3 && bpp == 32)))
    return "a BMP picture of " + std::to_string(bpp) + " bits per pixel (compression " +
           std::to_string(compression) + "); this program reads 8, 24 and 32 bits uncompressed";
  // Held as 24-bit rows padded to 4 bytes.
  const uint64_t bytes = uint64_t((width * 3 + 3) / 4 * 4) * uint64_t(height);
  if (bytes > kMaxWatermarkPictureBytes)
    return "the picture is " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels; pictures needing more than 256 MB are refused";
  const uint64_t stride = (uint64_t(width) * uint64_t(bpp) + 31) / 32 * 4;
  if (uint64_t(size) < uint64_t(offset) + stride * uint64_t(height))
    return "the BMP picture is cut short";
  return "";
}

template <typename Entry>
void EvictOldest(std::vector<Entry>& entries, size_t limit) {
  while (entries.size() > limit) {
    auto oldest =
        std::min_element(entries.begin(), entries.end(),
                         [](const Entry& a, const Entry& b) { return a.LastUse < b.LastUse; });
    entries.erase(oldest);
  }
}

}  // namespace

bool EnsureGuiApplication() {
  if (QCoreApplication::instance())
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
  // Qt binds its application object to the thread that creates it.
  if (!IsMainThread()) return false;
  // Windowless on purpose: the programs that need this never show a window, and a display
  // named in the environment may be unreachable (a terminal over ssh).
  static int argc = 3;
  static char arg0[] = "dvdswf", arg1[] = "-platform", arg2[] = "offscreen";
  static char* argv[] = {arg0, arg1, arg2, nullptr};
  static std::unique_ptr<QGuiApplication> app = std::make_unique<QGuiApplication>(argc, argv);
  return app != nullptr;
}

QFont WatermarkQFont(const TWmFont& font) {
  QFont result(QString::fromStdString(font.Name));
  // Points at 96 pixels per inch, as the editor measured TextWidth and TextHeight. A size
  // that is not positive falls back to the editor's smallest.
  const int points = font.Size > 0 ? std::min(font.Size, 1000) : 7;
  result.setPixelSize(std::max(1, int(std::lround(points * 96.0 / 72.0))));
  result.setBold(font.Style & fsBold);
  result.setItalic(font.Style & fsItalic);
  result.setUnderline(font.Style & fsUnderline);
  result.setStrikeOut(font.Style & fsStrikeOut);
  return result;
}

TWatermarkCache::TTextLayer RenderTextLayer(const TWmRec& mark, int frameWidth, int frameHeight) {
  RequireGuiApplication();
  TWatermarkCache::TTextLayer layer;
  if (mark.TextWidth <= 0 || mark.TextHeight <= 0) return layer;
  // Only the part of the box inside the frame is rendered: a box far larger than the frame
  // (or far outside it) costs nothing.
  const int64_t x0 = std::max<int64_t>(mark.TextLeft, 0);
  const int64_t y0 = std::max<int64_t>(mark.TextTop, 0);
  const int64_t x1 = std::min<int64_t>(int64_t(mark.TextLeft) + mark.TextWidth, frameWidth);
  const int64_t y1 = std::min<int64_t>(int64_t(mark.TextTop) + mark.TextHeight, frameHeight);
  if (x1 <= x0 || y1 <= y0) return layer;
  layer.Left = int(x0);
  layer.Top = int(y0);
  layer.Width = int(x1 - x0);
  layer.Height = int(y1 - y0);

  QImage image(layer.Width, layer.Height, QImage::Format_ARGB32_Premultiplied);
  image.fill(mark.HasBackColor ? ToQColor(mark.BackColor) : QColor(Qt::transparent));
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(WatermarkQFont(mark.Font));
    painter.setPen(ToQColor(mark.Font.Color));
    // The text's origin is the box's corner, wherever the frame cuts the box.
    painter.translate(double(mark.TextLeft - x0), double(mark.TextTop - y0));
    painter.drawText(QRectF(0, 0, mark.TextWidth, mark.TextHeight),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip,
                     QString::fromStdString(mark.Text));
  }
  layer.Pixels.resize(size_t(layer.Width) * 4 * size_t(layer.Height));
  layer.Inked.assign(size_t(layer.Height), {0, 0});
  for (int y = 0; y < layer.Height; ++y) {
    const auto* src = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
    uint8_t* dst = layer.Pixels.data() + size_t(y) * size_t(layer.Width) * 4;
    int first = layer.Width, last = 0;
    for (int x = 0; x < layer.Width; ++x) {
      const uint32_t argb = src[x];
      dst[4 * x + 0] = uint8_t(argb);
      dst[4 * x + 1] = uint8_t(argb >> 8);
      dst[4 * x + 2] = uint8_t(argb >> 16);
      dst[4 * x + 3] = uint8_t(argb >> 24);
      if (argb != 0) {
        first = std::min(first, x);
        last = x + 1;
      }
    }
    if (first < last) layer.Inked[size_t(y)] = {first, last};
  }
  return layer;
}

void BlendTextLayer(TBitmap& frame, const TWatermarkCache::TTextLayer& layer, int alpha) {
  const uint32_t a = uint32_t(std::clamp(alpha, 0, 255));
  if (a == 0 || layer.Width <= 0 || layer.Height <= 0) return;
  // The layer was rendered for this frame size; a frame that shrank since is clipped.
  const int width = std::min(layer.Width, frame.Width() - layer.Left);
  const int height = std::min(layer.Height, frame.Height() - layer.Top);
  if (width <= 0 || height <= 0) return;
  const uint32_t da = 256 - a;
  const bool inked = layer.Inked.size() == size_t(layer.Height);
  for (int y = 0; y < height; ++y) {
    // A text box without a background colour is mostly transparent, and a transparent
    // pixel blends to the frame's own value: only the inked columns are touched.
    const int first = inked ? layer.Inked[size_t(y)].first : 0;
    const int last = inked ? std::min(layer.Inked[size_t(y)].second, width) : width;
    uint8_t* d = frame.ScanLine(layer.Top + y) + size_t(layer.Left + first) * 3;
    const uint8_t* l = layer.Pixels.data() + (size_t(y) * size_t(layer.Width) + size_t(first)) * 4;
    for (int x = first; x < last; ++x, d += 3, l += 4) {
      const uint32_t keep = 255 - l[3];
      for (int c = 0; c < 3; ++c) {
        const uint32_t over = l[c] + Div255(d[c] * keep);
        d[c] = uint8_t((d[c] * da + over * a) >> 8);
      }
    }
  }
}

void DrawTextWatermark(TBitmap& frame, const TWmRec& mark) {
  BlendTextLayer(frame, RenderTextLayer(mark, frame.Width(), frame.Height()), mark.TextAlpha);
}

std::string WatermarkPictureProblem(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
  if (!S_ISREG(st.st_mode)) return "it is " + FileKindText(st.st_mode) + ", not a picture file";
  if (std::string problem = BmpHeaderProblem(path, st.st_size); !problem.empty()) {
    if (problem != "not a BMP picture") return problem;
    TBitmap pixels;
    std::vector<uint8_t> coverage;
    return LoadQtPicture(path, pixels, coverage) ? "" : problem;
  }
  TBitmap picture;
  if (!picture.LoadFromFile(path)) return "the BMP picture is damaged";
  return "";
}

bool LoadQtPicture(const std::string& path, TBitmap& pixels, std::vector<uint8_t>& coverage) {
  QImageReader reader(QString::fromStdString(path));
  reader.setAutoTransform(false);
  const QByteArray format = reader.format().toLower();
  if (format != "png" && format != "jpeg" && format != "jpg") return false;
  const QSize size = reader.size();
  if (size.isValid() && uint64_t(TBitmap::StrideFor(size.width())) * uint64_t(size.height()) >
                            kMaxWatermarkPictureBytes)
    return false;
  QImage image = reader.read();
  if (image.isNull()) return false;
  const bool alpha = image.hasAlphaChannel();
  image = image.convertToFormat(QImage::Format_ARGB32);
  pixels.SetSize(image.width(), image.height());
  coverage.clear();
  if (alpha) coverage.resize(size_t(image.width()) * size_t(image.height()));
  for (int y = 0; y < image.height(); ++y) {
    const auto* src = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    uint8_t* dst = pixels.ScanLine(y);
    for (int x = 0; x < image.width(); ++x) {
      dst[3 * x + 0] = uint8_t(qBlue(src[x]));
      dst[3 * x + 1] = uint8_t(qGreen(src[x]));
      dst[3 * x + 2] = uint8_t(qRed(src[x]));
      if (alpha) coverage[size_t(y) * size_t(image.width()) + size_t(x)] = uint8_t(qAlpha(src[x]));
    }
  }
  return true;
}

void BlendPicture(TBitmap& frame, const TBitmap& picture, const std::vector<uint8_t>* coverage,
                  int X, int Y, int Alpha) {
  if (!coverage || coverage->empty()) {
    BlendBitmap(frame, picture, X, Y, Alpha);
    return;
  }
  const int a = std::clamp(Alpha, 0, 255);
  if (a == 0 || frame.Empty() || picture.Empty()) return;
  const int64_t x0 = std::max<int64_t>(X, 0), y0 = std::max<int64_t>(Y, 0);
  const int64_t x1 = std::min<int64_t>(int64_t(X) + picture.Width(), frame.Width());
  const int64_t y1 = std::min<int64_t>(int64_t(Y) + picture.Height(), frame.Height());
  if (x1 <= x0 || y1 <= y0) return;
  for (int64_t y = y0; y < y1; ++y) {
    uint8_t* d = frame.ScanLine(int(y)) + x0 * 3;
    const uint8_t* s = picture.ScanLine(int(y - Y)) + (x0 - X) * 3;
    const uint8_t* c = coverage->data() + size_t(y - Y) * size_t(picture.Width()) + size_t(x0 - X);
    for (int64_t x = x0; x < x1; ++x, d += 3, s += 3, ++c) {
      // Full coverage gives exactly BlendBitmap's result.
      const uint32_t pa = *c == 255 ? uint32_t(a) : Div255(uint32_t(a) * *c);
      const uint32_t da = 256 - pa;
      for (int k = 0; k < 3; ++k) d[k] = uint8_t((d[k] * da + s[k] * pa) >> 8);
    }
  }
}

void DrawPictureWatermark(TBitmap& frame, const TWmRec& mark) {
  TBitmap picture;
  std::vector<uint8_t> coverage;
  if (LoadQtPicture(mark.ImageFile, picture, coverage)) {
    BlendPicture(frame, picture, &coverage, mark.ImageLeft, mark.ImageTop, mark.ImageAlpha);
    return;
  }
  if (!picture.LoadFromFile(mark.ImageFile)) {
    struct stat st {};
    if (::stat(mark.ImageFile.c_str(), &st) != 0)
      throw std::runtime_error(SystemError(mark.ImageFile, errno));
    throw std::runtime_error(mark.ImageFile + ": Bitmap image is not valid");
  }
  BlendBitmap(frame, picture, mark.ImageLeft, mark.ImageTop, mark.ImageAlpha);
}

std::shared_ptr<const TBitmap> TWatermarkCache::Picture(
    const std::string& path, std::shared_ptr<const std::vector<uint8_t>>* coverage) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    const int error = errno;
    throw std::runtime_error(SystemError(path, error));
  }
  if (S_ISDIR(st.st_mode)) throw std::runtime_error(SystemError(path, EISDIR));
  if (!S_ISREG(st.st_mode))
    throw std::runtime_error(path + ": it is " + FileKindText(st.st_mode) + ", not a picture file");
  TFileStamp stamp;
  stamp.Device = uint64_t(st.st_dev);
  stamp.Inode = uint64_t(st.st_ino);
  stamp.Size = int64_t(st.st_size);
  stamp.ModifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.ChangedNs = int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;

  std::lock_guard lock(FLock);
  ++FClock;
  auto it = std::find_if(FPictures.begin(), FPictures.end(),
                         [&](const TPictureEntry& e) { return e.Path == path; });
  if (it == FPictures.end() || it->Stamp != stamp) {
    // The stamp is taken before reading: a file changed while it is read has a newer stamp
    // by the next frame and is read again then.
    TPictureEntry entry;
    entry.Path = path;
    entry.Stamp = stamp;
    auto picture = std::make_shared<TBitmap>();
    auto pictureCoverage = std::make_shared<std::vector<uint8_t>>();
    const std::string problem = BmpHeaderProblem(path, stamp.Size);
    if (problem.find("256 MB") != std::string::npos) {
      entry.Error = path + ": " + problem;  // not even read
    } else if (problem == "not a BMP picture" && LoadQtPicture(path, *picture, *pictureCoverage)) {
      entry.Bitmap = std::move(picture);
      if (!pictureCoverage->empty()) entry.Coverage = std::move(pictureCoverage);
    } else if (picture->LoadFromFile(path))
      entry.Bitmap = std::move(picture);
    else
      entry.Error = path + ": Bitmap image is not valid";
    if (it == FPictures.end()) {
      FPictures.push_back(std::move(entry));
      it = FPictures.end() - 1;
    } else {
      *it = std::move(entry);
    }
  }
  it->LastUse = FClock;
  if (!it->Bitmap) throw std::runtime_error(it->Error);
  std::shared_ptr<const TBitmap> result = it->Bitmap;
  if (coverage) *coverage = it->Coverage;
  EvictOldest(FPictures, kCachedPictures);
  return result;
}

std::shared_ptr<const TWatermarkCache::TTextLayer> TWatermarkCache::TextLayer(const TWmRec& mark,
                                                                              int frameWidth,
                                                                              int frameHeight) {
  std::lock_guard lock(FLock);
  ++FClock;
  auto it = std::find_if(FTexts.begin(), FTexts.end(), [&](const TTextEntry& e) {
    return e.FrameWidth == frameWidth && e.FrameHeight == frameHeight &&
           SameTextShape(e.Mark, mark);
  });
  if (it == FTexts.end()) {
    TTextEntry entry;
    entry.Mark = mark;
    entry.FrameWidth = frameWidth;
    entry.FrameHeight = frameHeight;
    entry.Layer =
        std::make_shared<const TTextLayer>(RenderTextLayer(mark, frameWidth, frameHeight));
    FTexts.push_back(std::move(entry));
    it = FTexts.end() - 1;
  }
  it->LastUse = FClock;
  std::shared_ptr<const TTextLayer> layer = it->Layer;
  EvictOldest(FTexts, kCachedTexts);
  return layer;
}

void TWatermarkCache::DrawText(TBitmap& frame, const TWmRec& mark) {
  BlendTextLayer(frame, *TextLayer(mark, frame.Width(), frame.Height()), mark.TextAlpha);
}

void TWatermarkCache::DrawPicture(TBitmap& frame, const TWmRec& mark) {
  std::shared_ptr<const std::vector<uint8_t>> coverage;
  const auto picture = Picture(mark.ImageFile, &coverage);
  BlendPicture(frame, *picture, coverage.get(), mark.ImageLeft, mark.ImageTop, mark.ImageAlpha);
}
