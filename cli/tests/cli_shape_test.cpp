// Converted pictures keep their shape: fixture disc D's titles (PAL and NTSC, 4:3 and 16:9)
// show a white disc that is round as the title is shown; after conversion, measured with
// the output's own pixel shape applied, it must still be round (within 2 %) in every zoom
// mode but "full", which stretches it to the chosen size, and letterbox bars must be as wide
// as the job assembly says.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/tests/cli_test_support.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

// One decoded picture as shown.
struct TPicture {
  int Width = 0, Height = 0;
  double PixelShape = 1;  // the output's sample aspect ratio; 1 when it records none
  int BarTop = 0, BarBottom = 0, BarLeft = 0, BarRight = 0;  // black edges
  int DiscWidth = 0, DiscHeight = 0;                         // the white disc's box
  double DiscShape() const { return DiscHeight ? DiscWidth * PixelShape / DiscHeight : 0; }
  double Shape() const { return Height ? Width * PixelShape / Height : 0; }
};

TPicture Measure(const std::string& file, double time) {
  TPicture p;
  const auto probe = Probe(file);
  const auto* video = StreamOf(probe, "video");
  if (!video) return p;
  p.Width = video->value("width", 0);
  p.Height = video->value("height", 0);
  int num = 0, den = 0;
  if (std::sscanf(video->value("sample_aspect_ratio", "").c_str(), "%d:%d", &num, &den) == 2 &&
      num > 0 && den > 0)
    p.PixelShape = double(num) / den;
  const std::string gray =
      // Decoded up to `time` (SWF cannot seek).
      RunCommand("ffmpeg -nostdin -v error -i " + ShellQuote(file) + " -ss " +
                 std::to_string(time) + " -frames:v 1 -f rawvideo -pix_fmt gray -");
  if (p.Width <= 0 || gray.size() != size_t(p.Width) * p.Height) {
    ADD_FAILURE() << file << ": no " << p.Width << "x" << p.Height << " picture at " << time;
    return p;
  }
  const auto at = [&](int x, int y) {
    return int(static_cast<unsigned char>(gray[size_t(y) * p.Width + x]));
  };
  // Ground 128, disc 255, bars 0 in full-range grey.
  constexpr int kDark = 64, kBright = 192;
  const auto darkRow = [&](int y) {
    for (int x = 0; x < p.Width; ++x)
      if (at(x, y) >= kDark) return false;
    return true;
  };
  const auto darkColumn = [&](int x) {
    for (int y = 0; y < p.Height; ++y)
      if (at(x, y) >= kDark) return false;
    return true;
  };
  while (p.BarTop < p.Height && darkRow(p.BarTop)) ++p.BarTop;
  while (p.BarBottom < p.Height && darkRow(p.Height - 1 - p.BarBottom)) ++p.BarBottom;
  while (p.BarLeft < p.Width && darkColumn(p.BarLeft)) ++p.BarLeft;
  while (p.BarRight < p.Width && darkColumn(p.Width - 1 - p.BarRight)) ++p.BarRight;
  int left = p.Width, right = -1, top = p.Height, bottom = -1;
  for (int y = 0; y < p.Height; ++y)
    for (int x = 0; x < p.Width; ++x)
      if (at(x, y) >= kBright) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  if (right >= 0) {
    p.DiscWidth = right - left + 1;
    p.DiscHeight = bottom - top + 1;
  }
  return p;
}

struct TTitle {
  int Number;
  const char* Name;
  double Aspect;  // as shown
  int StoredHeight;
};
const TTitle kTitles[] = {{1, "Pal4x3", 4.0 / 3, 576},
                          {2, "Pal16x9", 16.0 / 9, 576},
                          {3, "Ntsc4x3", 4.0 / 3, 480},
                          {4, "Ntsc16x9", 16.0 / 9, 480}};

struct TShapeCase {
  int Format;  // 1 SWF (square pixels only), 103 MP4 (records the pixel shape)
  TTitle Title;
  std::string Size;  // "320x240", ..., "as source"
  std::string Zoom;
};

void PrintTo(const TShapeCase& c, std::ostream* os) {
  *os << c.Format << " " << c.Title.Name << " " << c.Size << " " << c.Zoom;
}

std::string CaseName(const TShapeCase& c) {
  std::string size = c.Size == "as source" ? "AsSource" : "S" + c.Size;
  return (c.Format == 1 ? "Swf" : "Mp4") + std::string("_") + c.Title.Name + "_" + size + "_" +
         c.Zoom;
}

std::vector<TShapeCase> ShapeCases() {
  std::vector<TShapeCase> cases;
  for (int format : {1, 103})
    for (const TTitle& title : kTitles) {
      for (const char* size : {"320x240", "640x480", "720x576", "640x360", "as source"})
        cases.push_back({format, title, size, "lbox"});
      for (const char* size : {"320x240", "640x480", "720x576", "as source"}) {
        cases.push_back({format, title, size, "pan"});
        cases.push_back({format, title, size, "full"});
      }
      cases.push_back({format, title, "320x240", "center"});
    }
  return cases;
}

// The letterbox bars of the job assembly's arithmetic (pads in even pairs): top and bottom
// when the title is wider as shown than the chosen size, else left and right.
int ExpectedBars(const TTitle& title, const std::string& size) {
  if (size == "as source") return 0;
  const bool wide = title.Aspect > 1.5;
  if (size == "320x240") return wide ? 30 : 0;
  if (size == "640x480") return wide ? 60 : 0;
  if (size == "720x576") return wide ? 86 : 18;
  if (size == "640x360") return wide ? 0 : 80;
  return -1;
}

class ShapeTest : public CliTest, public ::testing::WithParamInterface<TShapeCase> {};

TEST_P(ShapeTest, DiscStaysRound) {
  if (!fs::is_directory(DiscD)) GTEST_SKIP() << "fixture disc D is missing";
  const TShapeCase& c = GetParam();
  const std::string file = Convert("--title " + std::to_string(c.Title.Number) + " --format " +
                                       std::to_string(c.Format) + " --zoom " + c.Zoom +
                                       " --length 1 --set " + ShellQuote("paraVideoSize=" + c.Size),
                                   DiscD);
  if (file.empty()) return;
  const TPicture p = Measure(file, 0.5);
  ASSERT_GT(p.DiscHeight, 0) << file;
  SCOPED_TRACE(file + ": " + std::to_string(p.Width) + "x" + std::to_string(p.Height) + " pixel " +
               std::to_string(p.PixelShape) + ", disc " + std::to_string(p.DiscWidth) + "x" +
               std::to_string(p.DiscHeight) + ", bars " + std::to_string(p.BarTop) + "/" +
               std::to_string(p.BarBottom) + "/" + std::to_string(p.BarLeft) + "/" +
               std::to_string(p.BarRight));

  const bool square = c.Format == 1;
  const bool asSource = c.Size == "as source";
  int W = 0, H = 0;
  if (!asSource) std::sscanf(c.Size.c_str(), "%dx%d", &W, &H);

  // The frame: the chosen size, or the title's frame (square pixels at the stored height
  // where the container records no pixel shape).
  const double pictureShape = c.Zoom == "pan" && asSource ? 4.0 / 3 : c.Title.Aspect;
  if (c.Zoom == "center" || asSource) {
    EXPECT_EQ(p.Height, c.Title.StoredHeight);
    if (square)
      EXPECT_NEAR(p.Width, c.Title.StoredHeight * pictureShape, 1.0);
    else
      EXPECT_EQ(p.Width, 720);
    EXPECT_NEAR(p.Shape(), pictureShape, 0.02 * pictureShape);
  } else {
    EXPECT_EQ(p.Width, W);
    EXPECT_EQ(p.Height, H);
    // A chosen size is shown as chosen.
    EXPECT_NEAR(p.PixelShape, 1.0, 0.01);
  }

  if (c.Zoom == "full") {
    // Stretched from the title's shape to the output's.
    EXPECT_NEAR(p.DiscShape(), p.Shape() / c.Title.Aspect, 0.02 * p.Shape() / c.Title.Aspect);
  } else {
    EXPECT_NEAR(p.DiscShape(), 1.0, 0.02);
  }

  if (c.Zoom == "lbox") {
    const int bars = ExpectedBars(c.Title, c.Size);
    const bool sideBars = !asSource && c.Title.Aspect < double(W) / H;
    EXPECT_NEAR(sideBars ? p.BarLeft : p.BarTop, bars, 1);
    EXPECT_NEAR(sideBars ? p.BarRight : p.BarBottom, bars, 1);
    EXPECT_EQ(sideBars ? p.BarTop + p.BarBottom : p.BarLeft + p.BarRight, 0);
  } else {
    EXPECT_EQ(p.BarTop + p.BarBottom + p.BarLeft + p.BarRight, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(DiscD, ShapeTest, ::testing::ValuesIn(ShapeCases()),
                         [](const auto& info) { return CaseName(info.param); });

// Every format with video keeps the shape at its stored size and zoom: its container either
// records the pixel shape or gets square pixels.
struct TFormatCase {
  int Format;
  int Title;
};

class FormatShapeTest : public CliTest, public ::testing::WithParamInterface<TFormatCase> {};

TEST_P(FormatShapeTest, DiscStaysRound) {
  if (!fs::is_directory(DiscD)) GTEST_SKIP() << "fixture disc D is missing";
  const std::string file = Convert("--title " + std::to_string(GetParam().Title) +
                                       " --length 1 --format " + std::to_string(GetParam().Format),
                                   DiscD);
  if (file.empty()) return;
  const TPicture p = Measure(file, 0.5);
  EXPECT_NEAR(p.DiscShape(), 1.0, 0.02)
      << file << ": " << p.Width << "x" << p.Height << " pixel " << p.PixelShape << ", disc "
      << p.DiscWidth << "x" << p.DiscHeight;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, FormatShapeTest,
    ::testing::Values(TFormatCase{0, 4}, TFormatCase{1, 4}, TFormatCase{100, 4},
                      TFormatCase{101, 4}, TFormatCase{101, 1}, TFormatCase{102, 4},
                      TFormatCase{103, 2}, TFormatCase{104, 4}, TFormatCase{105, 4},
                      TFormatCase{106, 3}, TFormatCase{107, 4}, TFormatCase{108, 4},
                      TFormatCase{108, 3}, TFormatCase{109, 2}, TFormatCase{109, 1}),
    [](const auto& info) {
      return std::to_string(info.param.Format) + "_Title" + std::to_string(info.param.Title);
    });

}  // namespace
