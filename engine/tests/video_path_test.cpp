// The video path: the custom hook, previews, deinterlacing, frame-hook libraries, crop and
// the filter graph, checked on the decoded output.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <chrono>
#include <cmath>
#include <map>

#include "engine/tests/engine_run_support.h"
#include "engine/tests/engine_test_support.h"
#include "media/bitmap.h"
#include "tests/support/test_support.h"

namespace {

struct TRgb {
  int R, G, B;
};

TRgb PixelAt(const std::vector<uint8_t>& rgb, int width, int x, int y) {
  const size_t i = (size_t(y) * size_t(width) + size_t(x)) * 3;
  if (i + 2 >= rgb.size()) return {-1, -1, -1};
  return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

bool IsRed(TRgb c) {
  return c.R > 180 && c.G < 80 && c.B < 80;
}

// Mean absolute difference of two pictures of the same size.
double Difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 1e9;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
  return sum / double(a.size());
}

// Paints the square x, y in [64, 192) red in a BGR bitmap.
void DrawRedSquare(TBitmap& bitmap) {
  for (int y = 64; y < 192 && y < bitmap.Height(); ++y)
    for (int x = 64; x < 192 && x < bitmap.Width(); ++x) {
      uint8_t* p = bitmap.ScanLine(y) + x * 3;
      p[0] = 0;
      p[1] = 0;
      p[2] = 255;
    }
}

class VideoPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadEngineLibraries();
    FFolder = TestFolder();
  }

  // Title 3 at its own size, encoded finely so that drawn pixels survive.
  std::string Convert(TCustomTranscoder& transcoder, const TOptionList& options,
                      const std::string& name = "out.avi", int title = 3) {
    EXPECT_TRUE(transcoder.OpenInputFile(DiscAVob(title))) << transcoder.LastError();
    ApplyOptions(transcoder, {{"vcodec", "mpeg4"}, {"qscale", "2"}, {"an", ""}});
    ApplyOptions(transcoder, options);
    const std::string output = FFolder + "/" + name;
    EXPECT_EQ(transcoder.OpenOutputFile(output, false), 1) << transcoder.LastError();
    EXPECT_TRUE(RunToEnd(transcoder));
    EXPECT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();
    return output;
  }

  std::string FFolder;
};

enum THookBehaviour { hbDraw, hbDisableAtTen, hbRaise, hbNoUpdate };

class CustomHookTest : public VideoPathTest,
                       public ::testing::WithParamInterface<THookBehaviour> {};

TEST_P(CustomHookTest, HandlerDecidesWhatReachesTheOutput) {
  const THookBehaviour behaviour = GetParam();
  TCustomTranscoder transcoder;
  std::vector<THookInfo> calls;
  transcoder.OnCustomHook = [&](THookInfo& info) {
    calls.push_back(info);
    ASSERT_NE(info.Bitmap, nullptr);
    EXPECT_EQ(info.Bitmap->Width(), 720);
    EXPECT_EQ(info.Bitmap->Height(), 576);
    EXPECT_TRUE(info.Update);
    EXPECT_FALSE(info.DisableHook);
    DrawRedSquare(*info.Bitmap);
    if (behaviour == hbDisableAtTen && info.FrameNumber == 10) info.DisableHook = true;
    if (behaviour == hbRaise) throw std::runtime_error("boom");
    if (behaviour == hbNoUpdate) info.Update = false;
  };
  TLogCapture log;
  const std::string output = Convert(transcoder, {});

  ASSERT_EQ(calls.size(), behaviour == hbDisableAtTen ? 10u : 75u);
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].FrameNumber, int(i) + 1);
    if (i > 0) {
      EXPECT_NEAR(double(calls[i].PTS - calls[i - 1].PTS), 40000, 1);
    }
  }
  EXPECT_EQ(log.Count("Error occurs OnCustomHook: boom"), behaviour == hbRaise ? 75 : 0);
  const bool drawnEarly = IsRed(PixelAt(DecodePicture(output, 0.2, 720, 576), 720, 128, 128));
  const bool drawnLate = IsRed(PixelAt(DecodePicture(output, 2.0, 720, 576), 720, 128, 128));
  EXPECT_EQ(drawnEarly, behaviour == hbDraw || behaviour == hbDisableAtTen);
  EXPECT_EQ(drawnLate, behaviour == hbDraw);
}

std::string BehaviourName(const ::testing::TestParamInfo<THookBehaviour>& info) {
  static const char* const kNames[] = {"Draw", "DisableAtTen", "Raise", "NoUpdate"};
  return kNames[info.param];
}

INSTANTIATE_TEST_SUITE_P(Behaviours, CustomHookTest,
                         ::testing::Values(hbDraw, hbDisableAtTen, hbRaise, hbNoUpdate),
                         BehaviourName);

// Bytes of two RGB pictures that differ by more than a colour conversion's rounding.
int DifferingBytes(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return -1;
  int count = 0;
  for (size_t i = 0; i < a.size(); ++i) count += std::abs(int(a[i]) - int(b[i])) > 48;
  return count;
}

// The hook's bitmap as packed RGB (it holds BGR).
std::vector<uint8_t> PackedRgb(const TBitmap& bitmap) {
  std::vector<uint8_t> rgb;
  for (int y = 0; y < bitmap.Height(); ++y) {
    const uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x)
      rgb.insert(rgb.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
  }
  return rgb;
}

// The next picture is converted for the hook while the current one is encoded: each call
// still shows the picture of its own frame number and time (every frame of this title
// prints its number), and a stop asked for in the hook still encodes every picture the hook
// was shown, the one converted ahead included.
TEST_F(VideoPathTest, HookSeesEachPictureWithItsOwnNumberAndTime) {
  for (const bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "stopped in the hook" : "to the end");
    TCustomTranscoder transcoder;
    std::map<int, std::vector<uint8_t>> seen;  // frame number -> picture
    std::vector<int64_t> times;
    transcoder.OnCustomHook = [&](THookInfo& info) {
      times.push_back(info.PTS);
      if (info.FrameNumber <= 2 || info.FrameNumber == 40 || info.FrameNumber >= 74)
        seen[info.FrameNumber] = PackedRgb(*info.Bitmap);
      info.Update = false;
      if (stop && info.FrameNumber == 40) transcoder.RequestStop();
    };
    const std::string output = Convert(transcoder, {}, stop ? "stopped.avi" : "whole.avi");
    ASSERT_GE(times.size(), 40u);
    EXPECT_EQ(times.size() == 75u, !stop);
    for (size_t i = 1; i < times.size(); ++i)
      EXPECT_NEAR(double(times[i] - times[0]), 40000.0 * double(i), 1);

    const std::string input = DiscAVob(3);
    for (const auto& [number, picture] : seen) {
      const double second = (number - 1) * 0.04;
      const auto own = DecodePicture(input, second - 0.01, 720, 576);
      EXPECT_LT(DifferingBytes(picture, own), 64) << "frame " << number;
      const auto other = DecodePicture(input, number > 1 ? second - 0.05 : second + 0.03, 720, 576);
      EXPECT_GT(DifferingBytes(picture, other), 500) << "frame " << number << " vs its neighbour";
    }
    const auto streams = ProbeStreams(output);
    const TProbedStream* video = FindStream(streams, "video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->DecodedFrames, (long long)times.size());
  }
}

// Alternate lines black and white: the hook sees them blended when deinterlacing.
TEST_F(VideoPathTest, DeinterlacedPictureReachesTheHook) {
  const std::string input = FFolder + "/striped.mkv";
  MakeMedia(
      "-f lavfi -i color=c=black:s=64x64:r=25:d=0.2 -vf "
      "\"format=yuv420p,geq=lum='if(mod(Y\\,2)\\,235\\,16)':cb=128:cr=128\" -c:v ffv1 '" +
      input + "'");
  for (bool deinterlace : {false, true}) {
    TCustomTranscoder transcoder;
    ASSERT_TRUE(transcoder.OpenInputFile(input));
    if (deinterlace) transcoder.ParseOption("deinterlace", "1");
    double lineDifference = -1;
    transcoder.OnCustomHook = [&](THookInfo& info) {
      const TBitmap& bitmap = *info.Bitmap;
      double sum = 0;
      for (int y = 8; y < 56; ++y)
        sum += std::abs(int(bitmap.ScanLine(y)[100]) - int(bitmap.ScanLine(y + 1)[100]));
      lineDifference = sum / 48;
      info.Update = false;
    };
    ASSERT_EQ(transcoder.OpenOutputFile(FFolder + "/striped.avi", false), 1);
    ASSERT_TRUE(RunToEnd(transcoder));
    ASSERT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();
    if (deinterlace) {
      EXPECT_LT(lineDifference, 60) << "fields blended";
    } else {
      EXPECT_GT(lineDifference, 200) << "lines as decoded";
    }
  }
}

TEST_F(VideoPathTest, PreviewBitmapsAreAtMostOnePerHundredMilliseconds) {
  TCustomTranscoder transcoder;
  transcoder.SetPreviewFlags(3);  // with a bitmap handler only bitmaps are produced
  int windows = 0;
  transcoder.PreviewWindowFactory = [&windows]() -> std::unique_ptr<TPreviewWindow> {
    ++windows;
    return nullptr;
  };
  std::vector<std::chrono::steady_clock::time_point> times;
  std::vector<int> frames;
  transcoder.OnPreviewBitmap = [&](const TPreviewInfo& info) {
    times.push_back(std::chrono::steady_clock::now());
    frames.push_back(info.FrameNumber);
    EXPECT_EQ(info.Bitmap->Width(), 360);
    EXPECT_EQ(info.Bitmap->Height(), 288);
  };
  const auto begin = std::chrono::steady_clock::now();
  Convert(transcoder, {{"s", "360x288"}}, "preview.avi", 1);
  const auto elapsed = std::chrono::steady_clock::now() - begin;
  ASSERT_FALSE(times.empty());
  EXPECT_LE(double(times.size()), std::chrono::duration<double>(elapsed).count() * 10 + 1);
  // The engine spaces previews by its own clock reading, taken before the picture is
  // converted; the handler sees them after that work, whose length varies by tens of
  // milliseconds on a loaded machine under the sanitizers. The count above holds the rate;
  // here it is enough that no two previews come as close as pictures do (a few ms apart
  // when converting as fast as it can).
  for (size_t i = 1; i < times.size(); ++i) {
    EXPECT_GE(times[i] - times[i - 1], std::chrono::milliseconds(50));
    EXPECT_GT(frames[i], frames[i - 1]);
  }
  EXPECT_EQ(windows, 0);
}

class CountingWindow : public TPreviewWindow {
 public:
  CountingWindow(int& shown, bool& destroyed, int acceptFirst)
      : FShown(shown), FDestroyed(destroyed), FAcceptFirst(acceptFirst) {}
  ~CountingWindow() override { FDestroyed = true; }
  bool ShowPreview(const TBitmap& bitmap, int, int64_t) override {
    EXPECT_FALSE(bitmap.Empty());
    return ++FShown <= FAcceptFirst;
  }

 private:
  int& FShown;
  bool& FDestroyed;
  int FAcceptFirst;
};

// Window previews go to the window the factory makes until the user closes it; without a
// window they are refused and turned off.
TEST_F(VideoPathTest, PreviewWindowUntilClosedOrMissing) {
  {
    TCustomTranscoder transcoder;
    transcoder.SetPreviewFlags(1);
    Convert(transcoder, {{"s", "176x144"}}, "nowindow.avi");
    EXPECT_EQ(transcoder.PreviewFlags(), 0);
  }
  TCustomTranscoder transcoder;
  transcoder.SetPreviewFlags(1);
  int shown = 0;
  bool destroyed = false;
  transcoder.PreviewWindowFactory = [&]() {
    return std::make_unique<CountingWindow>(shown, destroyed, 1);
  };
  Convert(transcoder, {{"s", "360x288"}}, "window.avi", 1);
  EXPECT_EQ(shown, 2) << "shown once, then closed by the user";
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(transcoder.PreviewFlags(), 0);
}

// ---- Frame-hook libraries ----

int* HookCounter(const char* name) {
  void* module = dlopen(TEST_HOOK_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
  return module ? static_cast<int*>(dlsym(module, name)) : nullptr;
}

TEST_F(VideoPathTest, FrameHookLibraryChangesThePictures) {
  TCustomTranscoder transcoder;
  transcoder.ParseOption("vhook", std::string(TEST_HOOK_LIBRARY) + " 255");
  EXPECT_TRUE(transcoder.FramesHooked());
  int* calls = HookCounter("ProcessCalls");
  int* released = HookCounter("Released");
  ASSERT_NE(calls, nullptr);
  const int before = *calls, releasedBefore = *released;
  const std::string output = Convert(transcoder, {});
  EXPECT_EQ(*calls - before, 75);
  EXPECT_EQ(*released - releasedBefore, 1) << "released with the job";
  const TRgb corner = PixelAt(DecodePicture(output, 1.0, 720, 576), 720, 6, 6);
  EXPECT_GT(corner.G, 230);
  const TRgb inside = PixelAt(DecodePicture(output, 1.0, 720, 576), 720, 60, 60);
  EXPECT_LT(inside.G, 150) << "the rest of the picture is as decoded";
}

TEST_F(VideoPathTest, SameLibraryTwiceIsLoadedOnceAndConfiguredTwice) {
  TCustomTranscoder transcoder;
  transcoder.ParseOption("vhook", std::string(TEST_HOOK_LIBRARY) + "|16");
  transcoder.ParseOption("vhook", std::string(TEST_HOOK_LIBRARY));
  EXPECT_EQ(transcoder.HookLibraryCount(), 2);
  int* calls = HookCounter("ProcessCalls");
  ASSERT_NE(calls, nullptr);
  const int before = *calls;
  Convert(transcoder, {});
  EXPECT_EQ(*calls - before, 2 * 75);
}

struct THookFailure {
  const char* Library;
  const char* Arguments;
  const char* Logged;
};

class HookFailureTest : public VideoPathTest, public ::testing::WithParamInterface<THookFailure> {};

TEST_P(HookFailureTest, FailsWithItsText) {
  const auto& row = GetParam();
  const std::string text = std::string(row.Library) + row.Arguments;
  TCustomTranscoder transcoder;
  TLogCapture log;
  try {
    transcoder.ParseOption("vhook", text);
    ADD_FAILURE();
  } catch (const FFmpegException& e) {
    EXPECT_EQ(std::string(e.what()), "Failed to add video hook function: " + text);
  }
  EXPECT_TRUE(log.Contains(std::string(row.Logged) + row.Library)) << row.Logged;
  EXPECT_FALSE(transcoder.FramesHooked());
}

INSTANTIATE_TEST_SUITE_P(Rows, HookFailureTest,
                         ::testing::Values(THookFailure{TEST_HOOK_NOPROCESS_LIBRARY, "",
                                                        "Failed to find Process entrypoint in "},
                                           THookFailure{TEST_HOOK_LIBRARY, " fail",
                                                        "Failed to Configure "}));

// ---- Crop, scale and filters ----

// Crop bands cut the same picture with and without a filter graph, as ffmpeg's crop does.
TEST_F(VideoPathTest, CropWithAndWithoutFiltersMatchesTheReference) {
  const std::string reference = FFolder + "/reference.avi";
  MakeMedia("-i '" + DiscAVob(3) + "' -an -vf crop=688:480:16:64 -c:v mpeg4 -q:v 2 '" + reference +
            "'");
  const auto expected = DecodePicture(reference, 1.0, 688, 480);
  for (bool filters : {false, true}) {
    TCustomTranscoder transcoder;
    TOptionList options = {
        {"croptop", "64"}, {"cropbottom", "32"}, {"cropleft", "16"}, {"cropright", "16"}};
    if (filters) options.push_back({"vf", "null"});
    const std::string output = Convert(transcoder, options, filters ? "f.avi" : "p.avi");
    const auto streams = ProbeStreams(output);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].Width, 688);
    EXPECT_EQ(streams[0].Height, 480);
    EXPECT_LT(Difference(DecodePicture(output, 1.0, 688, 480), expected), 3.0) << filters;
  }
}

TEST_F(VideoPathTest, FilterTextShapesThePicture) {
  TCustomTranscoder transcoder;
  const std::string output =
      Convert(transcoder, {{"s", "360x288"}, {"vf", "drawbox=x=0:y=0:w=64:h=64:color=red:t=fill"}});
  const auto streams = ProbeStreams(output);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].Width, 360);
  EXPECT_EQ(streams[0].Height, 288);
  const auto picture = DecodePicture(output, 1.0, 360, 288);
  EXPECT_TRUE(IsRed(PixelAt(picture, 360, 30, 30)));
  EXPECT_FALSE(IsRed(PixelAt(picture, 360, 200, 200)));
}

}  // namespace
