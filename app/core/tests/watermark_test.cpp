// Watermarks and the conversion hook on real frames: text rendered with Qt (offscreen) and
// BMP pictures from real files, their place, opacity and time window, clipping at the frame's
// edges, files that change or vanish during a run, and the failure log.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/core/effects.h"
#include "app/core/tests/pixels.h"
#include "app/core/watermark_draw.h"
#include "app/core/wm_rec.h"
#include "engine/transcoder_events.h"
#include "media/bitmap.h"

#include <QColor>
#include <QImage>
#include "media/logger.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

// Where a frame differs from the original: the bounding box and the count.
struct Changes {
  int count = 0;
  int minX = INT_MAX, minY = INT_MAX, maxX = -1, maxY = -1;
  int maxChannel = 0;
};

Changes Diff(const TBitmap& now, const TBitmap& before) {
  Changes c;
  for (int y = 0; y < now.Height(); ++y)
    for (int x = 0; x < now.Width(); ++x) {
      const Pixel p = At(now, x, y);
      if (p == At(before, x, y)) continue;
      ++c.count;
      c.minX = std::min(c.minX, x);
      c.minY = std::min(c.minY, y);
      c.maxX = std::max(c.maxX, x);
      c.maxY = std::max(c.maxY, y);
      for (uint8_t v : p) c.maxChannel = std::max<int>(c.maxChannel, v);
    }
  return c;
}

std::shared_ptr<TWmRec> TextMark(const std::string& text, int left, int top, int width, int height,
                                 int alpha) {
  auto m = std::make_shared<TWmRec>();
  m->Kind = 0;
  m->Text = text;
  m->Font.Name = "DejaVu Sans";
  m->Font.Size = 20;
  m->Font.Style = fsBold;
  m->Font.Color = MakeColor(255, 255, 255);
  m->TextLeft = left;
  m->TextTop = top;
  m->TextWidth = width;
  m->TextHeight = height;
  m->TextAlpha = alpha;
  m->StartTime = 0;
  m->EndTime = 100;
  return m;
}

std::shared_ptr<TWmRec> PictureMark(const std::string& file, int left, int top, int alpha) {
  auto m = std::make_shared<TWmRec>();
  m->Kind = 1;
  m->ImageFile = file;
  m->ImageLeft = left;
  m->ImageTop = top;
  m->ImageAlpha = alpha;
  m->StartTime = 0;
  m->EndTime = 100;
  return m;
}

void WriteBmp(const std::string& path, int w, int h, Pixel colour) {
  ASSERT_TRUE(Filled(w, h, colour).SaveToFile(path)) << path;
}

struct LogLine {
  TLogLevel level;
  std::string text;
};

// Collects what reaches the process's logger while it lives.
class LogCapture {
 public:
  LogCapture() {
    GlobalLogger().OnLog = [this](const void*, uint32_t, TLogLevel level, const std::string& msg) {
      lines.push_back({level, msg});
    };
  }
  ~LogCapture() { GlobalLogger().OnLog = nullptr; }
  std::vector<LogLine> lines;
};

// Runs the hook on a copy of frame; returns the copy and the hook record.
std::pair<TBitmap, THookInfo> RunHook(const TBitmap& frame, int64_t pts,
                                      const TlvFilesRecord& record, TConversionHookCache& cache) {
  std::pair<TBitmap, THookInfo> result{frame, THookInfo{}};
  result.second.JobIndex = 0;
  result.second.Bitmap = &result.first;
  result.second.PTS = pts;
  ConversionHook(result.second, record, cache);
  result.second.Bitmap = nullptr;
  return result;
}

class Watermarks : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(EnsureGuiApplication()); }
};

// ---- The hook without watermarks ----

TEST_F(Watermarks, UntouchedTitlePassesTheFrameUnchanged) {
  TlvFilesRecord record;
  TConversionHookCache cache;
  const TBitmap frame = Noise(64, 48, 1);
  auto [out, info] = RunHook(frame, 1'000'000, record, cache);
  EXPECT_TRUE(SamePixels(out, frame));
  EXPECT_TRUE(info.Update);
  EXPECT_FALSE(info.DisableHook);
}

TEST_F(Watermarks, BrightnessHalvesAGreyFrame) {
  TlvFilesRecord record;
  record.Brightness = 128;
  TConversionHookCache cache;
  for (int64_t pts : {0, 40'000, 80'000}) {  // the cached tables serve every frame
    auto [out, info] = RunHook(Filled(32, 16, {200, 200, 200}), pts, record, cache);
    EXPECT_EQ(At(out, 31, 15), (Pixel{100, 100, 100}));
    EXPECT_TRUE(info.Update);
  }
  record.Brightness = 512;  // a changed value takes effect on the next frame
  auto [out, info] = RunHook(Filled(32, 16, {200, 200, 200}), 0, record, cache);
  EXPECT_EQ(At(out, 0, 0), (Pixel{255, 255, 255}));
}

TEST_F(Watermarks, MissingOrEmptyFramesAreHarmless) {
  TlvFilesRecord record;
  record.Brightness = 128;
  record.WaterMarks = {TextMark("A", 0, 0, 40, 40, 255)};
  TConversionHookCache cache;
  THookInfo none;
  ConversionHook(none, record, cache);
  EXPECT_TRUE(none.Update);
  auto [out, info] = RunHook(TBitmap(0, 0), 0, record, cache);
  EXPECT_TRUE(out.Empty());
  EXPECT_TRUE(info.Update);
}

// ---- Text watermarks ----

TEST_F(Watermarks, TextAppearsInsideItsBox) {
  TlvFilesRecord record;
  record.WaterMarks = {TextMark("HH", 20, 10, 100, 50, 255)};
  TConversionHookCache cache;
  const TBitmap frame = Filled(200, 80, {0, 0, 0});
  auto [out, info] = RunHook(frame, 0, record, cache);
  const Changes c = Diff(out, frame);
  ASSERT_GT(c.count, 50);
  EXPECT_GE(c.minX, 20);
  EXPECT_LE(c.minX, 26);  // the text starts at the box's left edge
  EXPECT_GE(c.minY, 10);
  EXPECT_LE(c.minY, 25);
  EXPECT_LT(c.maxX, 120);
  EXPECT_LT(c.maxY, 60);
  // White at full opacity over black: 254, never 255.
  EXPECT_EQ(c.maxChannel, 254);
  EXPECT_TRUE(info.Update);
}

struct AlphaCase {
  int alpha;
  int maxChannel;
};

class TextAlpha : public Watermarks, public ::testing::WithParamInterface<AlphaCase> {};

TEST_P(TextAlpha, WhiteOverBlack) {
  TlvFilesRecord record;
  record.WaterMarks = {TextMark("HH", 20, 10, 100, 50, GetParam().alpha)};
  TConversionHookCache cache;
  const TBitmap frame = Filled(200, 80, {0, 0, 0});
  auto [out, info] = RunHook(frame, 0, record, cache);
  EXPECT_EQ(Diff(out, frame).maxChannel, GetParam().maxChannel);
}

INSTANTIATE_TEST_SUITE_P(Table, TextAlpha,
                         ::testing::Values(AlphaCase{0, 0}, AlphaCase{128, 127},
                                           AlphaCase{255, 254}, AlphaCase{-7, 0},
                                           AlphaCase{999, 254}));

TEST_F(Watermarks, TransparentTextChangesOnlyGlyphs) {
  TlvFilesRecord record;
  record.WaterMarks = {TextMark("I", 10, 10, 60, 40, 255)};
  TConversionHookCache cache;
  const TBitmap frame = Noise(100, 60, 3);
  auto [out, info] = RunHook(frame, 0, record, cache);
  const Changes c = Diff(out, frame);
  ASSERT_GT(c.count, 0);
  // One bold "I" covers a narrow column of the 60 x 40 box, not the box.
  EXPECT_LT(c.count, 60 * 40 / 4);
  EXPECT_LE(c.maxX - c.minX, 12);
}

// The blend over the whole text box, every pixel, as it was before the blend learnt to skip
// the transparent columns: the reference the faster blend must match byte for byte.
void BlendWholeBox(TBitmap& frame, const TWatermarkCache::TTextLayer& layer, int alpha) {
  const uint32_t a = uint32_t(std::clamp(alpha, 0, 255));
  if (a == 0 || layer.Width <= 0 || layer.Height <= 0) return;
  const int width = std::min(layer.Width, frame.Width() - layer.Left);
  const int height = std::min(layer.Height, frame.Height() - layer.Top);
  for (int y = 0; y < height; ++y) {
    uint8_t* d = frame.ScanLine(layer.Top + y) + size_t(layer.Left) * 3;
    const uint8_t* l = layer.Pixels.data() + size_t(y) * size_t(layer.Width) * 4;
    for (int x = 0; x < width; ++x, d += 3, l += 4)
      for (int c = 0; c < 3; ++c) {
        uint32_t keep = d[c] * (255u - l[3]) + 128;
        keep = (keep + (keep >> 8)) >> 8;
        d[c] = uint8_t((d[c] * (256 - a) + (l[c] + keep) * a) >> 8);
      }
  }
}

TEST_F(Watermarks, InkedColumnsBlendLikeTheWholeBox) {
  struct Case {
    const char* text;
    int left, top, width, height, alpha;
    bool back;
  } cases[] = {
      {"Il W", 10, 8, 120, 40, 200, false},
      {"dvdswf bench", -15, -6, 160, 40, 255, false},  // cut at the top-left corner
      {"x", 150, 70, 60, 30, 128, false},              // cut at the bottom-right corner
      {"boxed", 5, 5, 90, 30, 180, true},              // a background colour inks every pixel
      {"", 5, 5, 40, 20, 255, false},                  // nothing inked at all
  };
  for (const Case& c : cases) {
    auto mark = TextMark(c.text, c.left, c.top, c.width, c.height, c.alpha);
    mark->HasBackColor = c.back;
    mark->BackColor = MakeColor(10, 200, 30);
    const auto layer = RenderTextLayer(*mark, 180, 90);
    TBitmap fast = Noise(180, 90, 11), reference = fast;
    BlendTextLayer(fast, layer, c.alpha);
    BlendWholeBox(reference, layer, c.alpha);
    EXPECT_TRUE(SamePixels(fast, reference)) << c.text;
    // A layer made by hand knows no inked columns and is blended whole.
    TWatermarkCache::TTextLayer plain = layer;
    plain.Inked.clear();
    TBitmap whole = Noise(180, 90, 11);
    BlendTextLayer(whole, plain, c.alpha);
    EXPECT_TRUE(SamePixels(whole, reference)) << c.text;
  }
}

TEST_F(Watermarks, BackgroundColourFillsTheBox) {
  TlvFilesRecord record;
  auto mark = TextMark("x", 10, 5, 30, 20, 255);
  mark->HasBackColor = true;
  mark->BackColor = MakeColor(255, 0, 0);
  record.WaterMarks = {mark};
  TConversionHookCache cache;
  const TBitmap frame = Filled(60, 40, {0, 0, 0});
  auto [out, info] = RunHook(frame, 0, record, cache);
  const Changes c = Diff(out, frame);
  EXPECT_EQ(c.count, 30 * 20);
  EXPECT_EQ(c.minX, 10);
  EXPECT_EQ(c.minY, 5);
  EXPECT_EQ(c.maxX, 39);
  EXPECT_EQ(c.maxY, 24);
  EXPECT_EQ(At(out, 38, 23), (Pixel{0, 0, 254}));  // a corner of the box, clear of the glyph
}

TEST_F(Watermarks, TextBoxIsCutAtTheFrameEdges) {
  struct Case {
    int left, top;
    bool draws;
  } cases[] = {{180, 60, true},           {200, 0, false},   {0, 80, false},
               {INT_MAX, INT_MAX, false}, {-1000, 0, false}, {INT_MIN, INT_MIN, false}};
  for (const Case& k : cases) {
    TlvFilesRecord record;
    auto mark = TextMark("HH", k.left, k.top, 100, 50, 255);
    mark->HasBackColor = true;
    record.WaterMarks = {mark};
    TConversionHookCache cache;
    const TBitmap frame = Filled(200, 80, {0, 0, 0});
    auto [out, info] = RunHook(frame, 0, record, cache);
    const Changes c = Diff(out, frame);
    EXPECT_EQ(c.count > 0, k.draws) << k.left << "," << k.top;
    if (k.draws) {
      EXPECT_EQ(c.count, 20 * 20);
      EXPECT_EQ(c.minX, 180);
      EXPECT_EQ(c.minY, 60);
    }
    EXPECT_TRUE(info.Update);
  }
}

TEST_F(Watermarks, BoxLeftOfTheFrameIsCutNotMoved) {
  const TBitmap frame = Filled(200, 80, {0, 0, 0});
  TConversionHookCache cache;
  TlvFilesRecord inside, outside;
  inside.WaterMarks = {TextMark("HHH", 0, 5, 120, 50, 255)};
  outside.WaterMarks = {TextMark("HHH", -10, 5, 120, 50, 255)};
  auto [a, ia] = RunHook(frame, 0, inside, cache);
  auto [b, ib] = RunHook(frame, 0, outside, cache);
  ASSERT_GT(Diff(b, frame).count, 0);
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x + 10 < 200; ++x) ASSERT_EQ(At(b, x, y), At(a, x + 10, y)) << x << "," << y;
}

TEST_F(Watermarks, HugeOrEmptyBoxes) {
  const TBitmap frame = Filled(100, 50, {0, 0, 0});
  TConversionHookCache cache;
  TlvFilesRecord huge;
  huge.WaterMarks = {TextMark("HH", 0, 0, INT_MAX, INT_MAX, 255)};
  auto [a, ia] = RunHook(frame, 0, huge, cache);
  EXPECT_GT(Diff(a, frame).count, 0);
  EXPECT_TRUE(ia.Update);
  for (auto [w, h] : {std::pair{0, 40}, {40, 0}, {-5, 40}, {INT_MIN, INT_MIN}}) {
    TlvFilesRecord empty;
    empty.WaterMarks = {TextMark("HH", 0, 0, w, h, 255)};
    auto [b, ib] = RunHook(frame, 0, empty, cache);
    EXPECT_EQ(Diff(b, frame).count, 0) << w << "x" << h;
    EXPECT_TRUE(ib.Update);
  }
}

// A text shown in the title's seconds 5 to 5 of a title trimmed at `trimStart`: whether it
// shows at each hook time of `cases`.
void ExpectSecondFiveShows(int64_t trimStart,
                           std::initializer_list<std::pair<int64_t, bool>> cases) {
  TlvFilesRecord record;
  if (trimStart > 0) {
    record.TrimStart = trimStart;
    record.TrimLength = 6'000'000;
  }
  auto mark = TextMark("HH", 10, 10, 100, 50, 255);
  mark->StartTime = 5;
  mark->EndTime = 5;
  record.WaterMarks = {mark};
  TConversionHookCache cache;
  const TBitmap frame = Filled(200, 80, {0, 0, 0});
  for (auto [pts, shows] : cases) {
    auto [out, info] = RunHook(frame, pts, record, cache);
    EXPECT_EQ(Diff(out, frame).count > 0, shows) << pts;
  }
}

TEST_F(Watermarks, TextShowsOnlyInItsTimeWindow) {
  ExpectSecondFiveShows(
      0,
      {{0, false}, {4'999'999, false}, {5'000'000, true}, {5'999'999, true}, {6'000'000, false}});
}

// A trimmed title is read from its trim's start, and the hook's times count from there; the
// window stays on the title's seconds 5 to 5 (here 3 s into the output).
TEST_F(Watermarks, TimeWindowIsInTheTitlesSecondsWhenTrimmed) {
  ExpectSecondFiveShows(2'000'000, {{0, false},
                                    {2'999'999, false},
                                    {3'000'000, true},
                                    {3'999'999, true},
                                    {4'000'000, false},
                                    {5'500'000, false}});
}

TEST_F(Watermarks, CachedTextMatchesAFreshRenderingAndFollowsEdits) {
  TlvFilesRecord record;
  auto mark = TextMark("Ab", 7, 9, 90, 40, 200);
  record.WaterMarks = {mark};
  TConversionHookCache cache;
  const TBitmap frame = Noise(120, 60, 9);
  for (const char* text : {"Ab", "Ab", "Zq", "Ab"}) {
    mark->Text = text;
    auto [hooked, info] = RunHook(frame, 0, record, cache);
    TBitmap fresh = frame;
    DrawTextWatermark(fresh, *mark);
    EXPECT_TRUE(SamePixels(hooked, fresh)) << text;
  }
  TBitmap zq = frame, ab = frame;
  mark->Text = "Zq";
  DrawTextWatermark(zq, *mark);
  mark->Text = "Ab";
  DrawTextWatermark(ab, *mark);
  EXPECT_FALSE(SamePixels(zq, ab));
}

TEST_F(Watermarks, FontStylesAndSizesChangeTheGlyphs) {
  const TBitmap frame = Filled(200, 80, {0, 0, 0});
  auto count = [&](const TWmFont& font) {
    auto mark = TextMark("Wm", 0, 0, 200, 80, 255);
    mark->Font = font;
    TBitmap b = frame;
    DrawTextWatermark(b, *mark);
    return Diff(b, frame).count;
  };
  TWmFont plain;
  plain.Size = 20;
  plain.Color = MakeColor(255, 255, 255);
  TWmFont bold = plain, big = plain, small = plain, odd = plain;
  bold.Style = fsBold;
  big.Size = 40;
  small.Size = 0;  // falls back to a small size rather than failing
  odd.Name = "no such font family";
  EXPECT_GT(count(bold), count(plain));
  EXPECT_GT(count(big), count(plain));
  EXPECT_GT(count(small), 0);
  EXPECT_LT(count(small), count(plain));
  EXPECT_GT(count(odd), 0);
}

TEST_F(Watermarks, HookDrawsTextOnAWorkerThread) {
  // The engine calls the hook on its conversion thread; the first rendering happens there.
  EXPECT_TRUE(EnsureGuiApplication());  // a second call keeps the existing application
  TlvFilesRecord record;
  record.Contrast = 30;
  record.WaterMarks = {TextMark("Worker", 3, 4, 150, 40, 230)};
  const TBitmap frame = Noise(160, 50, 21);
  TConversionHookCache workerCache, mainCache;
  std::pair<TBitmap, THookInfo> onWorker;
  std::thread worker([&] { onWorker = RunHook(frame, 0, record, workerCache); });
  worker.join();
  auto [onMain, info] = RunHook(frame, 0, record, mainCache);
  EXPECT_TRUE(onWorker.second.Update);
  EXPECT_GT(Diff(onWorker.first, frame).count, 0);
  EXPECT_TRUE(SamePixels(onWorker.first, onMain));
}

// ---- Picture watermarks ----

TEST_F(Watermarks, PictureAtItsPlaceWithItsOpacity) {
  const std::string file = TestFolder() + "/logo.bmp";
  WriteBmp(file, 8, 6, {10, 20, 250});
  const TBitmap frame = Filled(32, 24, {0, 0, 0});
  for (auto [alpha, inside] : {std::pair<int, Pixel>{255, {9, 19, 249}}, {128, {5, 10, 125}}}) {
    TlvFilesRecord record;
    record.WaterMarks = {PictureMark(file, 5, 7, alpha)};
    TConversionHookCache cache;
    auto [out, info] = RunHook(frame, 0, record, cache);
    const Changes c = Diff(out, frame);
    EXPECT_EQ(c.count, 8 * 6);
    EXPECT_EQ(c.minX, 5);
    EXPECT_EQ(c.minY, 7);
    EXPECT_EQ(c.maxX, 12);
    EXPECT_EQ(c.maxY, 12);
    EXPECT_EQ(At(out, 5, 7), inside);
    EXPECT_EQ(At(out, 12, 12), inside);
    EXPECT_TRUE(info.Update);
  }
}

// PNG and JPEG pictures come through Qt's readers; a PNG's transparency is kept per pixel:
// transparent pixels leave the frame alone, opaque ones blend like a BMP's.
TEST_F(Watermarks, PngAndJpegPicturesWithTransparency) {
  const std::string folder = TestFolder();  // emptied on every call
  QImage png(8, 6, QImage::Format_ARGB32);
  png.fill(QColor(250, 20, 10, 255));
  for (int y = 0; y < 6; ++y) png.setPixelColor(0, y, QColor(250, 20, 10, 0));
  for (int y = 0; y < 6; ++y) png.setPixelColor(1, y, QColor(250, 20, 10, 128));
  const std::string pngFile = folder + "/logo.png";
  ASSERT_TRUE(png.save(QString::fromStdString(pngFile), "PNG"));
  QImage jpeg(8, 6, QImage::Format_RGB32);
  jpeg.fill(QColor(255, 255, 255));
  const std::string jpegFile = folder + "/logo.jpg";
  ASSERT_TRUE(jpeg.save(QString::fromStdString(jpegFile), "JPEG", 100));
  EXPECT_EQ(WatermarkPictureProblem(pngFile), "");
  EXPECT_EQ(WatermarkPictureProblem(jpegFile), "");

  const TBitmap frame = Filled(32, 24, {0, 0, 0});
  TlvFilesRecord record;
  record.WaterMarks = {PictureMark(pngFile, 5, 7, 255)};
  TConversionHookCache cache;
  auto [out, info] = RunHook(frame, 0, record, cache);
  EXPECT_TRUE(info.Update);
  EXPECT_EQ(At(out, 5, 7), (Pixel{0, 0, 0}));       // transparent column
  EXPECT_EQ(At(out, 12, 12), (Pixel{9, 19, 249}));  // opaque: as the BMP case
  const Pixel half = At(out, 6, 7);
  EXPECT_GT(half[2], 100);
  EXPECT_LT(half[2], 150);
  // The uncached routine draws the same.
  TBitmap direct = frame;
  DrawPictureWatermark(direct, *record.WaterMarks[0]);
  EXPECT_TRUE(SamePixels(direct, out));

  record.WaterMarks = {PictureMark(jpegFile, 0, 0, 255)};
  auto [outJpeg, infoJpeg] = RunHook(frame, 0, record, cache);
  EXPECT_TRUE(infoJpeg.Update);
  EXPECT_GT(At(outJpeg, 3, 3)[0], 240);
}

TEST_F(Watermarks, PictureOnlyInItsTimeWindowAndCutAtEdges) {
  const std::string file = TestFolder() + "/logo.bmp";
  WriteBmp(file, 8, 6, {10, 20, 250});
  const TBitmap frame = Filled(32, 24, {0, 0, 0});
  TlvFilesRecord record;
  auto mark = PictureMark(file, -3, 20, 255);
  mark->StartTime = 2;
  mark->EndTime = 3;
  record.WaterMarks = {mark};
  TConversionHookCache cache;
  EXPECT_EQ(Diff(RunHook(frame, 1'999'999, record, cache).first, frame).count, 0);
  EXPECT_EQ(Diff(RunHook(frame, 4'000'000, record, cache).first, frame).count, 0);
  const Changes c = Diff(RunHook(frame, 3'500'000, record, cache).first, frame);
  EXPECT_EQ(c.count, 5 * 4);
  EXPECT_EQ(c.minX, 0);
  EXPECT_EQ(c.minY, 20);
}

TEST_F(Watermarks, LaterWatermarksLieOverEarlierOnes) {
  const std::string dir = TestFolder();
  WriteBmp(dir + "/blue.bmp", 4, 4, {255, 0, 0});
  WriteBmp(dir + "/red.bmp", 4, 4, {0, 0, 255});
  const TBitmap frame = Filled(8, 8, {0, 0, 0});
  TConversionHookCache cache;
  TlvFilesRecord record;
  record.WaterMarks = {PictureMark(dir + "/blue.bmp", 2, 2, 255),
                       PictureMark(dir + "/red.bmp", 2, 2, 255)};
  EXPECT_EQ(At(RunHook(frame, 0, record, cache).first, 3, 3), (Pixel{0, 0, 254}));
  std::swap(record.WaterMarks[0], record.WaterMarks[1]);
  EXPECT_EQ(At(RunHook(frame, 0, record, cache).first, 3, 3), (Pixel{254, 0, 0}));
}

TEST_F(Watermarks, MissingPictureIsLoggedAndTheFrameComesBackUnchanged) {
  const std::string missing = TestFolder() + "/gone.bmp";
  TlvFilesRecord record;
  record.Brightness = 128;
  record.WaterMarks = {TextMark("HH", 0, 0, 50, 20, 255), PictureMark(missing, 1, 1, 255)};
  record.WaterMarks[1]->EndTime = 9;
  TConversionHookCache cache;
  const TBitmap frame = Noise(64, 32, 11);
  LogCapture log;
  for (int i = 0; i < 2; ++i) {  // every frame fails alike; the conversion goes on
    auto [out, info] = RunHook(frame, 1'000'000, record, cache);
    EXPECT_FALSE(info.Update);
    EXPECT_FALSE(info.DisableHook);
    EXPECT_TRUE(SamePixels(out, frame));
  }
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[0].level, llError);
  EXPECT_EQ(log.lines[0].text,
            "Error occurs OnCustomHook: " + missing + ": No such file or directory");
  // Past the picture's window the frame is adjusted again.
  auto [out, info] = RunHook(frame, 10'000'000, record, cache);
  EXPECT_TRUE(info.Update);
  EXPECT_FALSE(SamePixels(out, frame));
  EXPECT_EQ(log.lines.size(), 2u);
}

TEST_F(Watermarks, FileThatIsNotABitmapIsLogged) {
  const std::string file = TestFolder() + "/notes.bmp";
  std::ofstream(file) << "hello, not a picture";
  TlvFilesRecord record;
  record.WaterMarks = {PictureMark(file, 0, 0, 255)};
  TConversionHookCache cache;
  LogCapture log;
  auto [out, info] = RunHook(Filled(8, 8, {1, 2, 3}), 0, record, cache);
  EXPECT_FALSE(info.Update);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].text,
            "Error occurs OnCustomHook: " + file + ": Bitmap image is not valid");
  // The uncached routine reports the same.
  TBitmap b = Filled(8, 8, {1, 2, 3});
  try {
    DrawPictureWatermark(b, *record.WaterMarks[0]);
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), file + ": Bitmap image is not valid");
  }
}

// Every picture is checked before a run: each row makes a file and says what is wrong.
struct TPictureProblemRow {
  const char* Name;
  void (*Make)(const std::string& path);
  const char* Problem;  // empty: a good picture
};

std::string BmpHeader(int32_t width, int32_t height, uint16_t bpp, uint32_t compression = 0) {
  std::string h(54, '\0');
  const auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) h[at + size_t(i)] = char(v >> (8 * i));
  };
  h[0] = 'B';
  h[1] = 'M';
  put32(10, 54);
  put32(14, 40);
  put32(18, uint32_t(width));
  put32(22, uint32_t(height));
  h[26] = 1;
  h[28] = char(bpp);
  put32(30, compression);
  return h;
}

const TPictureProblemRow kPictureProblems[] = {
    {"Good",
     [](const std::string& p) {
       WriteBmp(p, 8, 6, {1, 2, 3});
     },
     ""},
    {"Missing", [](const std::string&) {}, "No such file or directory"},
    {"Empty", [](const std::string& p) { std::ofstream{p}; }, "the file is empty"},
    {"Text", [](const std::string& p) { std::ofstream(p) << "hello, not a picture"; },
     "not a BMP picture"},
    {"HeaderCut", [](const std::string& p) { std::ofstream(p) << "BM\x10\0\0"; },
     "the BMP picture is cut short"},
    {"PixelsCut",
     [](const std::string& p) {
       WriteBmp(p, 64, 64, {1, 2, 3});
       fs::resize_file(p, 54 + 64 * 3 * 10);
     },
     "the BMP picture is cut short"},
    {"Huge",
     [](const std::string& p) {
       std::ofstream(p, std::ios::binary) << BmpHeader(20000, 20000, 24);
     },
     "the picture is 20000 x 20000 pixels; pictures needing more than 256 MB are refused"},
    {"SixteenBits",
     [](const std::string& p) { std::ofstream(p, std::ios::binary) << BmpHeader(4, 4, 16); },
     "a BMP picture of 16 bits per pixel (compression 0); this program reads 8, 24 and 32 "
     "bits uncompressed"},
    {"Folder", [](const std::string& p) { fs::create_directory(p); }, "Is a directory"},
    {"CharacterDevice", [](const std::string& p) { fs::create_symlink("/dev/null", p); },
     "it is a character device, not a picture file"},
};

class PictureProblemTest : public ::testing::TestWithParam<TPictureProblemRow> {};

TEST_P(PictureProblemTest, SaysWhatIsWrong) {
  const std::string path = TestFolder() + "/mark.bmp";
  GetParam().Make(path);
  EXPECT_EQ(WatermarkPictureProblem(path), GetParam().Problem);
}

INSTANTIATE_TEST_SUITE_P(Files, PictureProblemTest, ::testing::ValuesIn(kPictureProblems),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(Watermarks, ChangedReplacedAndDeletedPictureShowsOnTheNextFrame) {
  const std::string dir = TestFolder();
  const std::string file = dir + "/logo.bmp";
  WriteBmp(file, 8, 6, {0, 0, 255});
  TlvFilesRecord record;
  record.WaterMarks = {PictureMark(file, 0, 0, 255)};
  TConversionHookCache cache;
  const TBitmap frame = Filled(16, 16, {0, 0, 0});
  auto run = [&] { return RunHook(frame, 0, record, cache); };

  EXPECT_EQ(At(run().first, 7, 5), (Pixel{0, 0, 254}));
  EXPECT_EQ(At(run().first, 7, 5), (Pixel{0, 0, 254}));  // from the cache

  WriteBmp(file, 4, 4, {255, 0, 0});  // rewritten in place, another size
  TBitmap out = run().first;
  EXPECT_EQ(At(out, 3, 3), (Pixel{254, 0, 0}));
  EXPECT_EQ(At(out, 7, 5), (Pixel{0, 0, 0}));

  WriteBmp(dir + "/next.bmp", 4, 4, {0, 255, 0});  // replaced by rename, same size
  ASSERT_EQ(std::rename((dir + "/next.bmp").c_str(), file.c_str()), 0);
  EXPECT_EQ(At(run().first, 3, 3), (Pixel{0, 254, 0}));

  ASSERT_EQ(::unlink(file.c_str()), 0);
  LogCapture log;
  auto [gone, info] = run();
  EXPECT_FALSE(info.Update);
  EXPECT_EQ(log.lines.size(), 1u);

  WriteBmp(file, 2, 2, {255, 255, 255});  // back again
  auto [back, info2] = run();
  EXPECT_TRUE(info2.Update);
  EXPECT_EQ(At(back, 1, 1), (Pixel{254, 254, 254}));
}

TEST_F(Watermarks, CacheServesManyPictures) {
  const std::string dir = TestFolder();
  TConversionHookCache cache;
  const TBitmap frame = Filled(4, 4, {0, 0, 0});
  // More files than the cache holds, twice over: evicted pictures are read again.
  for (int round = 0; round < 2; ++round)
    for (int i = 0; i < 40; ++i) {
      const std::string file = dir + "/p" + std::to_string(i) + ".bmp";
      if (round == 0) WriteBmp(file, 1, 1, {uint8_t(i), 0, 0});
      TlvFilesRecord record;
      record.WaterMarks = {PictureMark(file, 0, 0, 255)};
      EXPECT_EQ(At(RunHook(frame, 0, record, cache).first, 0, 0)[0], (i * 255) >> 8);
    }
}

}  // namespace
