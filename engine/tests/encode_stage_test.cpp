// Encoding and muxing on their own thread: the stage's queue (order, bound, failures), and
// whole conversions that give the same bytes with and without the stage.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "engine/encode_stage.h"
#include "engine/ffmpeg_exception.h"
#include "engine/tests/engine_run_support.h"
#include "engine/tests/engine_test_support.h"
#include "media/bitmap.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

// ---- The queue ----

TStageJob NumberedJob(int number) {
  TStageJob job;
  job.Kind = TStageJob::TKind::Aspect;
  job.Aspect = AVRational{number, 1};
  return job;
}

TStageJob PictureJob(int number) {
  TStageJob job;
  job.Stream = number;
  job.Frame = MakeFrame();
  job.Frame->format = AV_PIX_FMT_GRAY8;
  job.Frame->width = 64;
  job.Frame->height = 48;
  EXPECT_GE(av_frame_get_buffer(job.Frame.get(), 0), 0);
  return job;
}

TEST(EncodeStageTest, RunsJobsInTheOrderTheyCame) {
  std::vector<int> done;  // the stage's thread; read after Drain
  TEncodeStage stage([&](TStageJob& job) { done.push_back(job.Aspect.num); });
  for (int i = 0; i < 500; ++i) stage.Push(NumberedJob(i));
  stage.Drain();
  ASSERT_EQ(done.size(), 500u);
  for (int i = 0; i < 500; ++i) EXPECT_EQ(done[size_t(i)], i);
}

// While the first picture is held in the handler, the pusher gets only as far as the bound
// lets it: the picture under way and `Pictures` waiting. The same for the job bound.
TEST(EncodeStageTest, QueueIsBoundedInPicturesAndJobs) {
  const size_t pictureBytes = size_t(PictureJob(0).Frame->buf[0]->size);
  struct TBoundCase {
    TEncodeStage::TLimits Limits;
    bool Pictures;  // picture jobs, otherwise jobs without data
    int Bound;      // how many may wait
  };
  for (const TBoundCase& c : {TBoundCase{{3, size_t(64) << 20, 64}, true, 3},
                              TBoundCase{{64, size_t(64) << 20, 5}, false, 5},
                              TBoundCase{{64, 4 * pictureBytes, 64}, true, 4}}) {
    const int bound = c.Bound;
    std::mutex mutex;
    std::condition_variable changed;
    int pushed = 0;
    int seenWhenReleased = -1;
    TEncodeStage stage(
        [&](TStageJob& job) {
          if (job.Stream != 0) return;
          std::unique_lock lock(mutex);
          changed.wait(lock, [&] { return pushed >= bound + 1; });
          // The pusher may have pushed more only if the queue were not bounded.
          seenWhenReleased = pushed;
        },
        c.Limits);
    std::thread pusher([&] {
      for (int i = 0; i < 20; ++i) {
        TStageJob job = c.Pictures ? PictureJob(i) : NumberedJob(i);
        job.Stream = i;
        stage.Push(std::move(job));
        std::lock_guard lock(mutex);
        ++pushed;
        changed.notify_all();
      }
    });
    pusher.join();
    stage.Drain();
    EXPECT_GE(seenWhenReleased, bound + 1);
    EXPECT_LE(seenWhenReleased, bound + 1);
  }
}

// A failure of the handler reaches the loop at its next call, with its own text; what was
// queued after it is not run.
TEST(EncodeStageTest, FailureReachesThePusherAndDiscardsTheRest) {
  std::atomic<int> ran{0};
  TEncodeStage stage([&](TStageJob& job) {
    ++ran;
    if (job.Aspect.num == 3) throw FFmpegException("Video encoding failed");
  });
  std::string text;
  try {
    for (int i = 0; i < 200; ++i) stage.Push(NumberedJob(i));
    stage.Drain();
  } catch (const FFmpegException& e) {
    text = e.what();
  }
  EXPECT_EQ(text, "Video encoding failed");
  EXPECT_EQ(ran, 4);
  EXPECT_THROW(stage.Drain(), FFmpegException);
  EXPECT_THROW(stage.Push(NumberedJob(7)), FFmpegException);
  EXPECT_EQ(ran, 4);
}

// A stage that goes with work still queued (the run failed elsewhere) ends without it.
TEST(EncodeStageTest, DestroyedWithQueuedWorkEnds) {
  std::mutex mutex;
  std::condition_variable changed;
  bool release = false;
  int ran = 0;
  {
    TEncodeStage stage([&](TStageJob&) {
      std::unique_lock lock(mutex);
      ++ran;
      changed.notify_all();
      changed.wait(lock, [&] { return release; });
    });
    for (int i = 0; i < 5; ++i) stage.Push(PictureJob(i));
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return ran >= 1; });
    release = true;
    changed.notify_all();
  }
  EXPECT_GE(ran, 1);
  EXPECT_LE(ran, 5);
}

// ---- Whole conversions ----

struct TSameBytesCase {
  std::string Label;
  TOptionList Options;
  std::string Extension;
  bool Hook = false;  // a custom hook that draws
  bool Join = false;  // the second input joined after the first
  int Title = 1;      // of disc A
  int Second = 0;     // a second input, title 3 of disc A (0: none)
};

class EncodeStageConversionTest : public ::testing::TestWithParam<TSameBytesCase> {
 protected:
  void SetUp() override { LoadEngineLibraries(); }

  struct TResult {
    bool Failed = false;
    std::string Error;
    std::string Bytes;
    std::vector<TOutputStreamReport> Report;
    int Dup = 0, Drop = 0, Frames = 0;
  };

  static TResult Convert(const TSameBytesCase& c, bool stage, const std::string& output) {
    TCustomTranscoder transcoder;
    transcoder.SetEncodeStage(stage);
    EXPECT_TRUE(transcoder.OpenInputFile(DiscAVob(c.Title)));
    if (c.Second) {
      EXPECT_TRUE(transcoder.OpenInputFile(DiscAVob(c.Second)));
    }
    ApplyOptions(transcoder, c.Options);
    EXPECT_GE(transcoder.OpenOutputFile(output, c.Join), 1) << transcoder.LastError();
    if (c.Hook)
      transcoder.OnCustomHook = [](THookInfo& info) {
        TBitmap& bitmap = *info.Bitmap;
        const int shade = info.FrameNumber * 7 % 256;
        for (int y = 16; y < 96 && y < bitmap.Height(); ++y)
          for (int x = 16; x < 96 && x < bitmap.Width(); ++x) {
            uint8_t* p = bitmap.ScanLine(y) + x * 3;
            p[0] = uint8_t(shade);
            p[1] = 0;
            p[2] = 255;
          }
      };
    // Reports after every packet: the loop waits for the stage often, at moments that
    // depend on timing, which must change nothing in the output.
    transcoder.ProgressIntervalUs = 0;
    transcoder.OnProgress = [](TProgressInfo&) {};
    TResult result;
    EXPECT_TRUE(RunToEnd(transcoder));
    result.Failed = transcoder.Failed();
    result.Error = transcoder.ErrorMessage();
    result.Report = transcoder.RunReport();
    result.Dup = transcoder.DupFrames();
    result.Drop = transcoder.DropFrames();
    result.Frames = transcoder.FrameNumber();
    if (fs::exists(output)) result.Bytes = ReadFile(output);
    return result;
  }
};

TEST_P(EncodeStageConversionTest, OutputIsTheSameByteForByte) {
  const TSameBytesCase& c = GetParam();
  const std::string folder = TestFolder();
  const TResult serial = Convert(c, false, folder + "/serial." + c.Extension);
  const TResult staged = Convert(c, true, folder + "/staged." + c.Extension);
  ASSERT_FALSE(serial.Failed) << serial.Error;
  ASSERT_FALSE(staged.Failed) << staged.Error;
  ASSERT_GT(serial.Bytes.size(), 1000u);
  EXPECT_EQ(serial.Bytes.size(), staged.Bytes.size());
  EXPECT_TRUE(serial.Bytes == staged.Bytes) << "the outputs differ";
  EXPECT_EQ(serial.Dup, staged.Dup);
  EXPECT_EQ(serial.Drop, staged.Drop);
  EXPECT_EQ(serial.Frames, staged.Frames);
  ASSERT_EQ(serial.Report.size(), staged.Report.size());
  for (size_t i = 0; i < serial.Report.size(); ++i) {
    EXPECT_EQ(serial.Report[i].Frames, staged.Report[i].Frames) << i;
    EXPECT_EQ(serial.Report[i].Packets, staged.Report[i].Packets) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, EncodeStageConversionTest,
    ::testing::Values(
        TSameBytesCase{"flv1_mp3", {{"s", "320x240"}, {"ar", "44100"}}, "flv"},
        TSameBytesCase{
            "mpeg2_mp2", {{"vcodec", "mpeg2video"}, {"acodec", "mp2"}, {"s", "352x288"}}, "mpg"},
        TSameBytesCase{"wav", {{"acodec", "pcm_s16le"}}, "wav"},
        TSameBytesCase{"x264_aac",
                       {{"vcodec", "libx264"},
                        {"x264-params", "threads=1"},
                        {"s", "320x240"},
                        {"acodec", "aac"}},
                       "mp4"},
        TSameBytesCase{"filters_deinterlace",
                       {{"vf", "hflip"}, {"deinterlace", "1"}, {"s", "320x240"}, {"ar", "44100"}},
                       "flv"},
        TSameBytesCase{"stream_copy", {{"vcodec", "copy"}, {"acodec", "copy"}}, "vob"},
        TSameBytesCase{"hook", {{"s", "320x240"}, {"ar", "44100"}}, "flv", true},
        TSameBytesCase{"join", {{"vcodec", "mpeg4"}, {"acodec", "mp2"}}, "avi", false, true, 2, 3},
        // Two inputs side by side: the next packet comes from the input whose output lags.
        TSameBytesCase{"two_inputs",
                       {{"map", "0:1"}, {"map", "1:2"}, {"s", "320x240"}, {"ar", "44100"}},
                       "flv",
                       false,
                       false,
                       2,
                       1}),
    [](const auto& info) { return info.param.Label; });

class EncodeStageFailureTest : public ::testing::Test {
 protected:
  void SetUp() override { LoadEngineLibraries(); }
};

// An encoder that fails in the middle of the run (the AAC encoder refuses samples that are
// not numbers, from 2 s on), and a muxer whose writes fail (a full disk): the run ends with
// the text it ends with without the stage.
TEST_F(EncodeStageFailureTest, FailureOnTheStageEndsTheRunWithTheSameText) {
  const std::string folder = TestFolder();
  MakeMedia(
      "-f lavfi -i \"aevalsrc='if(gt(t,2),0/0,0.1*sin(440*2*PI*t))':s=48000:d=4\" "
      "-c:a pcm_f32le '" +
      folder + "/nan.wav'");
  struct TFailureCase {
    std::string Input;
    TOptionList Options;
    std::string Output;
    std::string Expected;  // contained in the text
  };
  const TFailureCase cases[] = {
      {folder + "/nan.wav", {{"acodec", "aac"}}, folder + "/nan.m4a", "Audio encoding failed"},
      {DiscAVob(3), {{"f", "flv"}}, "/dev/full", "No space left on device"},
  };
  for (const TFailureCase& c : cases) {
    std::string texts[2];
    for (const bool stage : {false, true}) {
      TCustomTranscoder transcoder;
      transcoder.SetEncodeStage(stage);
      ASSERT_TRUE(transcoder.OpenInputFile(c.Input));
      ApplyOptions(transcoder, c.Options);
      ASSERT_EQ(transcoder.OpenOutputFile(c.Output, false), 1) << transcoder.LastError();
      ASSERT_TRUE(RunToEnd(transcoder));
      EXPECT_TRUE(transcoder.Failed()) << c.Output;
      EXPECT_FALSE(transcoder.Finished());
      EXPECT_TRUE(transcoder.Terminated());
      texts[stage] = transcoder.ErrorMessage();
    }
    EXPECT_NE(texts[0].find(c.Expected), std::string::npos) << texts[0];
    EXPECT_EQ(texts[0], texts[1]);
  }
}

}  // namespace
