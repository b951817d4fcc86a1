// The transcoding loop: stopping, timestamp discontinuities, frame-rate handling, recording
// time, join mode and the progress reports.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "engine/tests/engine_run_support.h"
#include "engine/tests/engine_test_support.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

class LoopTest : public ::testing::Test {
 protected:
  void SetUp() override { LoadEngineLibraries(); }
};

// The video frames' times in an output, from ffprobe.
std::vector<double> VideoTimes(const std::string& path) {
  std::vector<double> times;
  std::istringstream rows(
      RunCommand("ffprobe -v error -select_streams v:0 -show_entries "
                 "frame=best_effort_timestamp_time -of csv=p=0 '" +
                 path + "' 2>/dev/null"));
  std::string row;
  while (std::getline(rows, row))
    if (!row.empty() && row != "N/A") times.push_back(std::atof(row.c_str()));
  return times;
}

// A stop from another thread ends the loop at the next packet; the end of the run still
// flushes and writes the trailer, so the file plays.
TEST_F(LoopTest, StopMidRunWritesAPlayableFile) {
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(1)));
  ApplyOptions(transcoder, {{"s", "320x240"}, {"ar", "44100"}});
  const std::string output = TestFolder() + "/stopped.flv";
  ASSERT_EQ(transcoder.OpenOutputFile(output, false), 1);
  std::mutex mutex;
  std::condition_variable changed;
  bool underway = false;
  transcoder.ProgressIntervalUs = 0;
  transcoder.OnProgress = [&](TProgressInfo& info) {
    if (info.FrameNumber < 25) return;
    std::lock_guard lock(mutex);
    underway = true;
    changed.notify_all();
  };
  ASSERT_TRUE(transcoder.Start());
  std::thread worker([&] { transcoder.Run(); });
  {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return underway; });
  }
  transcoder.SetPaused(true);
  transcoder.RequestStop();  // also releases the pause
  worker.join();

  EXPECT_TRUE(transcoder.Terminated());
  EXPECT_FALSE(transcoder.Finished());
  EXPECT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();
  EXPECT_TRUE(transcoder.ErrorMessage().empty());
  EXPECT_TRUE(DecodesCleanly(output));
  const auto streams = ProbeStreams(output);
  const TProbedStream* video = FindStream(streams, "video");
  ASSERT_NE(video, nullptr);
  EXPECT_GE(video->DecodedFrames, 25);
  EXPECT_LT(video->Duration, 11.0);
}

// Two segments of an MPEG-TS, the second 15 s later than the first ends: the input's offset
// moves by -15 s, so the output has no gap; copied timestamps leave the offset alone.
class DiscontinuityTest : public LoopTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DiscontinuityTest, JumpShiftsTheInputOffset) {
  const bool copyTs = GetParam();
  const std::string folder = TestFolder();
  const std::string common =
      "-f lavfi -i testsrc=d=1:r=25:s=64x48 -c:v mpeg2video -g 5 -muxdelay 0 -muxpreload 0 ";
  MakeMedia(common + "-f mpegts '" + folder + "/a.ts'");
  // The first segment's last picture is expected at 1.0 s; this one comes 15 s later.
  MakeMedia(common + "-output_ts_offset 16.04 -f mpegts '" + folder + "/b.ts'");
  const std::string input = folder + "/jump.ts";
  {
    std::ofstream out(input, std::ios::binary);
    out << ReadFile(folder + "/a.ts") << ReadFile(folder + "/b.ts");
  }
  TCustomTranscoder transcoder;
  if (copyTs) transcoder.ParseOption("copyts", "");
  ASSERT_TRUE(transcoder.OpenInputFile(input));
  const int64_t before = transcoder.Input(0).TimestampOffset;
  transcoder.ParseOption("v", "3");
  const std::string output = folder + "/out.mkv";
  ASSERT_EQ(transcoder.OpenOutputFile(output, false), 1);
  TLogCapture log;
  transcoder.Transcode();  // the inputs stay open for the look at the offset
  const int64_t after = transcoder.Input(0).TimestampOffset;
  transcoder.Cleanup();
  if (copyTs) {
    EXPECT_EQ(after, before);
  } else {
    EXPECT_NEAR(double(after - before), -15e6, 1.0);
    EXPECT_TRUE(log.Contains(llVerbose, "timestamp discontinuity 15000000, new offset= "));
    const auto times = VideoTimes(output);
    ASSERT_EQ(times.size(), 50u);
    EXPECT_NEAR(times.back() - times.front(), 49 * 0.04, 0.002);
  }
}

INSTANTIATE_TEST_SUITE_P(CopyTs, DiscontinuityTest, ::testing::Bool());

// Constant frame rate: a picture 3.4 frames late fills the gap with copies.
TEST_F(LoopTest, ConstantFrameRateDuplicatesIntoAGap) {
  const std::string folder = TestFolder();
  const std::string input = folder + "/gap.mkv";
  MakeMedia(
      "-f lavfi -i testsrc=d=0.8:r=25:s=64x48 -vf "
      "\"settb=1/1000,setpts=(N+if(gte(N\\,10)\\,3.4\\,0))/25/TB\" -vsync 0 -enc_time_base "
      "1:1000 -c:v mpeg4 -bf 0 '" +
      input + "'");
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(input));
  ApplyOptions(transcoder, {{"v", "3"}, {"vsync", "1"}});
  const std::string output = folder + "/cfr.avi";
  ASSERT_EQ(transcoder.OpenOutputFile(output, false), 1);
  TLogCapture log;
  ASSERT_TRUE(RunToEnd(transcoder));
  ASSERT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();
  EXPECT_EQ(log.Count("*** 2 dup!"), 1);
  EXPECT_EQ(transcoder.DupFrames(), 2);
  EXPECT_EQ(transcoder.DropFrames(), 0);
  const auto streams = ProbeStreams(output);
  ASSERT_NE(FindStream(streams, "video"), nullptr);
  EXPECT_EQ(FindStream(streams, "video")->DecodedFrames, 22);
}

// Pictures that lead the output clock by more than 1.1 frames are dropped: 50 fps to 25.
TEST_F(LoopTest, ConstantFrameRateDropsPicturesThatLead) {
  const std::string folder = TestFolder();
  const std::string input = folder + "/fast.mkv";
  MakeMedia("-f lavfi -i testsrc=d=1:r=50:s=64x48 -c:v mpeg4 -bf 0 '" + input + "'");
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(input));
  ApplyOptions(transcoder, {{"v", "3"}, {"vsync", "1"}, {"r", "25"}});
  const std::string output = folder + "/cfr.avi";
  ASSERT_EQ(transcoder.OpenOutputFile(output, false), 1);
  TLogCapture log;
  ASSERT_TRUE(RunToEnd(transcoder));
  ASSERT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();
  EXPECT_GT(transcoder.DropFrames(), 0);
  EXPECT_EQ(log.Count("*** drop!"), transcoder.DropFrames());
  const auto streams = ProbeStreams(output);
  ASSERT_NE(FindStream(streams, "video"), nullptr);
  EXPECT_NEAR(double(FindStream(streams, "video")->DecodedFrames), 25, 2);
}

// Which picture of the source stands at each frame of an output: the sources below give
// picture N a flat grey of luma N * step (FFV1 keeps it exactly), read back by decoding.
std::vector<int> SourcePictures(const std::string& path, int step) {
  // The luma plane as stored (64 x 48 4:2:0 pictures), no range conversion.
  const std::string raw = RunCommand("ffmpeg -nostdin -v error -i '" + path +
                                     "' -map 0:v:0 -pix_fmt yuv420p -f rawvideo - 2>/dev/null");
  constexpr size_t kLuma = 64 * 48, kPicture = kLuma * 3 / 2;
  std::vector<int> pictures;
  for (size_t at = 0; at + kPicture <= raw.size(); at += kPicture) {
    double sum = 0;
    for (size_t i = 0; i < kLuma; ++i) sum += static_cast<unsigned char>(raw[at + i]);
    pictures.push_back(int(std::lround(sum / kLuma / step)));
  }
  return pictures;
}

// A 25 fps source of `count` pictures, picture N grey N * step, at the times (in frames)
// that `times` gives for N (an ffmpeg expression).
std::string GreySource(const std::string& folder, int count, int step, const std::string& times) {
  const std::string path = folder + "/source.mkv";
  MakeMedia("-f lavfi -i color=black:s=64x48:r=25:d=" + std::to_string(count / 25.0) +
            " -vf \"geq=lum='N*" + std::to_string(step) + "':cb=128:cr=128,settb=1/1000,setpts=(" +
            times + ")/25/TB\" -vsync 0 -enc_time_base 1:1000 -c:v ffv1 '" + path + "'");
  return path;
}

std::vector<int> Range(int from, int to) {
  std::vector<int> values;
  for (int i = from; i <= to; ++i) values.push_back(i);
  return values;
}

std::vector<int> Joined(std::initializer_list<std::vector<int>> parts) {
  std::vector<int> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Constant frame rate ("vsync" 1) into AVI, frame for frame as the rule gives it. Pictures
// 0..9 at frames 0..9, then:
// - a gap of 3.6 frames: picture 10 fills it with round(3.6) = 4 copies (3 duplicated), so
//   picture 11 (at 14.6) lands on frame 14; truncating would give 3 copies and every later
//   picture one frame early;
// - a burst at half a frame's spacing (9.5, 10, 10.5, 11, 11.5, 12) then one a frame from
//   13: a picture more than 1.1 frames behind the output's clock is dropped (10.5 and 11.5
//   against frames 12 and 13), one at 1.0 behind is kept; with 2.1 only 11.5 (2.5 behind)
//   would go.
struct TFrameRateCase {
  const char* Name;
  int Count;
  const char* Times;
  std::vector<int> Pictures;  // the source picture at each output frame
  int Dups, Drops;
  const char* Logged;
};

class FrameRateTest : public LoopTest, public ::testing::WithParamInterface<TFrameRateCase> {};

TEST_P(FrameRateTest, ConstantRateFollowsTheRuleFrameForFrame) {
  const TFrameRateCase& c = GetParam();
  const std::string folder = TestFolder();
  const std::string input = GreySource(folder, c.Count, 10, c.Times);
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(input));
  ApplyOptions(transcoder, {{"v", "3"}, {"vsync", "1"}, {"r", "25"}, {"vcodec", "ffv1"}});
  const std::string output = folder + "/cfr.avi";
  ASSERT_EQ(transcoder.OpenOutputFile(output, false), 1);
  TLogCapture log;
  ASSERT_TRUE(RunToEnd(transcoder));
  ASSERT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();
  EXPECT_EQ(SourcePictures(output, 10), c.Pictures);
  EXPECT_EQ(transcoder.DupFrames(), c.Dups);
  EXPECT_EQ(transcoder.DropFrames(), c.Drops);
  EXPECT_EQ(log.Count(c.Logged), c.Dups ? 1 : c.Drops);
  const auto times = VideoTimes(output);
  ASSERT_EQ(times.size(), c.Pictures.size());
  for (size_t i = 0; i < times.size(); ++i) EXPECT_NEAR(times[i], 0.04 * double(i), 1e-3) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Rule, FrameRateTest,
    ::testing::Values(TFrameRateCase{"GapOf3_6", 20, "N+if(gte(N\\,10)\\,3.6\\,0)",
                                     Joined({Range(0, 9), {10, 10, 10, 10}, Range(11, 19)}), 3, 0,
                                     "*** 3 dup!"},
                      TFrameRateCase{"BurstAheadOfTheClock", 25,
                                     "if(lt(N\\,10)\\,N\\,if(lt(N\\,16)\\,9.5+(N-10)*0.5\\,N-3))",
                                     Joined({Range(0, 11), {13, 15}, Range(16, 24)}), 0, 2,
                                     "*** drop!"}),
    [](const auto& info) { return std::string(info.param.Name); });

// "ss" 1 and "t" 1 on 25 fps pictures: the pictures from 1.0 s up to, not including, 2.0 s,
// exactly 25; the picture at 2.0 s is at the limit and is not taken.
TEST_F(LoopTest, RecordingTimeEndsExactlyAtItsLimit) {
  const std::string folder = TestFolder();
  const std::string input = GreySource(folder, 75, 3, "N");
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(input));
  ApplyOptions(transcoder, {{"ss", "1"}, {"t", "1"}, {"vsync", "1"}, {"vcodec", "ffv1"}});
  const std::string output = folder + "/second.avi";
  ASSERT_EQ(transcoder.OpenOutputFile(output, false), 1);
  ASSERT_TRUE(RunToEnd(transcoder));
  ASSERT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();
  EXPECT_EQ(SourcePictures(output, 3), Range(25, 49));
}

// Reports are made at most once per interval: a run of two seconds paced at real time
// ("re") with a 200 ms interval makes one report per interval it lasts, then one last
// report with input -1.
TEST_F(LoopTest, ProgressIsReportedOncePerInterval) {
  const std::string folder = TestFolder();
  const std::string input = folder + "/two.mkv";
  MakeMedia("-f lavfi -i testsrc=d=2:r=25:s=64x48 -f lavfi -i sine=d=2 -c:v ffv1 '" + input + "'");
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(input));
  ApplyOptions(transcoder, {{"re", ""}, {"vcodec", "ffv1"}});
  ASSERT_EQ(transcoder.OpenOutputFile(folder + "/paced.mkv", false), 1);
  constexpr int64_t kInterval = 200000;
  transcoder.ProgressIntervalUs = kInterval;
  std::vector<std::pair<std::chrono::steady_clock::time_point, int>> reports;
  transcoder.OnProgress = [&](TProgressInfo& info) {
    reports.emplace_back(std::chrono::steady_clock::now(), info.InputIndex);
  };
  const auto begun = std::chrono::steady_clock::now();
  ASSERT_TRUE(RunToEnd(transcoder));
  const auto ended = std::chrono::steady_clock::now();
  ASSERT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();
  ASSERT_GE(reports.size(), 2u);
  EXPECT_EQ(reports.back().second, -1);
  const double elapsed = std::chrono::duration<double>(ended - begun).count();
  const size_t during = reports.size() - 1;
  EXPECT_GE(elapsed, 1.9) << "paced at real time";
  // At most one report per interval the run lasted. At least half as many over the two
  // seconds of pacing: a loaded machine may stall the run for a while, and the paced reading
  // then catches up with fewer reports.
  EXPECT_LE(double(during), elapsed / (kInterval / 1e6) + 1) << during << " reports";
  EXPECT_GE(double(during), 1.9 / (kInterval / 1e6) / 2 - 1) << during << " reports";
  for (size_t i = 0; i + 1 < during; ++i) {
    EXPECT_EQ(reports[i].second, 0);
    EXPECT_GE(std::chrono::duration<double>(reports[i + 1].first - reports[i].first).count(),
              kInterval / 1e6 / 4)
        << "reports " << i << " and " << i + 1;
  }
}

// "t" 60 with "ss" 5: the output holds 60 s, from 5 s to 65 s of the input.
TEST_F(LoopTest, RecordingTimeAfterStartTime) {
  const std::string folder = TestFolder();
  const std::string input = folder + "/long.mpg";
  MakeMedia(
      "-f lavfi -i testsrc=d=67:r=25:s=32x32 -f lavfi -i sine=f=440:d=67 -c:v mpeg2video "
      "-c:a mp2 '" +
      input + "'");
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(input));
  ApplyOptions(transcoder, {{"ss", "5"}, {"t", "60"}, {"ar", "22050"}});
  EXPECT_EQ(transcoder.ExpectedDuration(), 60000000);
  const std::string output = folder + "/minute.flv";
  ASSERT_EQ(transcoder.OpenOutputFile(output, false), 1);
  ASSERT_TRUE(RunToEnd(transcoder));
  ASSERT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();
  const auto streams = ProbeStreams(output);
  ASSERT_EQ(streams.size(), 2u);
  const TProbedStream* video = FindStream(streams, "video");
  const TProbedStream* audio = FindStream(streams, "audio");
  ASSERT_TRUE(video && audio);
  EXPECT_NEAR(video->Duration, 60.0, 0.1);
  // The sound lasts as long as the pictures; FLV cannot say that the MP3 encoder's start
  // padding (1,105 samples, 50 ms at 22,050 Hz) is no sound, so its decoder plays it, and
  // the encoder's flush ends with up to three frames of 576 samples (78 ms) beyond the sound.
  EXPECT_GE(audio->Duration, 60.0 + 0.05 - 0.001);
  EXPECT_LE(audio->Duration, 60.0 + 0.05 + 0.079);
  const auto times = VideoTimes(output);
  ASSERT_FALSE(times.empty());
  EXPECT_NEAR(times.front(), 0.0, 0.05) << "starts at the start time";
}

// Join: two 10 s inputs become one 20 s output whose frame times run on without a gap.
TEST_F(LoopTest, JoinConvertsInputsOneAfterAnother) {
  const std::string folder = TestFolder();
  for (const char* name : {"one", "two"})
    MakeMedia(
        "-f lavfi -i testsrc=d=10:r=25:s=64x48 -f lavfi -i sine=d=10 -c:v mpeg2video -c:a "
        "mp2 '" +
        folder + "/" + name + ".mpg'");
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(folder + "/one.mpg"));
  ASSERT_TRUE(transcoder.OpenInputFile(folder + "/two.mpg"));
  ApplyOptions(transcoder, {{"vcodec", "mpeg4"}, {"acodec", "mp2"}});
  const std::string output = folder + "/joined.mkv";
  ASSERT_EQ(transcoder.OpenOutputFile(output, true), 2);
  TLogCapture log;
  std::vector<TProgressInfo> reports;
  transcoder.ProgressIntervalUs = 0;
  transcoder.OnProgress = [&](TProgressInfo& info) { reports.push_back(info); };
  ASSERT_TRUE(RunToEnd(transcoder));
  ASSERT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();

  const auto streams = ProbeStreams(output);
  ASSERT_EQ(streams.size(), 2u);
  for (const auto& stream : streams) EXPECT_NEAR(stream.Duration, 20.0, 0.1) << stream.CodecType;
  const auto times = VideoTimes(output);
  ASSERT_EQ(times.size(), 500u);
  for (size_t i = 1; i < times.size(); ++i)
    ASSERT_NEAR(times[i] - times[i - 1], 0.04, 0.0015) << "at frame " << i;
  EXPECT_TRUE(log.Contains("  Stream #0.0 -> #0.0 (video)"));
  EXPECT_TRUE(log.Contains("  Stream #1.0 -> #0.0 (video)"));
  // The second input's pictures continue the first one's numbering.
  int firstOfSecond = 0, lastOfSecond = 0;
  for (const auto& report : reports) {
    if (report.InputIndex != 1) continue;
    if (!firstOfSecond) firstOfSecond = report.FrameNumber;
    lastOfSecond = report.FrameNumber;
  }
  EXPECT_GE(firstOfSecond, 250);
  EXPECT_GE(lastOfSecond, 490);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().InputIndex, -1);
}

// Progress reports: none before the first encoded picture, growing values, the last with
// input -1, and the expected duration of the input.
TEST_F(LoopTest, ProgressReportsFollowTheConversion) {
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(3)));
  const int64_t expected = transcoder.ExpectedDuration();
  ApplyOptions(transcoder, {{"s", "160x128"}, {"ar", "22050"}});
  ASSERT_EQ(transcoder.OpenOutputFile(TestFolder() + "/progress.flv", false), 1);
  transcoder.ProgressIntervalUs = 0;
  std::vector<TProgressInfo> reports;
  transcoder.OnProgress = [&](TProgressInfo& info) { reports.push_back(info); };
  TLogCapture log;
  ASSERT_TRUE(RunToEnd(transcoder));
  ASSERT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();
  ASSERT_GE(reports.size(), 2u);
  for (size_t i = 0; i < reports.size(); ++i) {
    EXPECT_GE(reports[i].FrameNumber, 1);
    EXPECT_EQ(reports[i].ExpectedDuration, expected);
    if (i > 0) {
      EXPECT_GE(reports[i].FrameNumber, reports[i - 1].FrameNumber);
      EXPECT_GE(reports[i].OutputSize, reports[i - 1].OutputSize);
    }
    EXPECT_EQ(reports[i].InputIndex, i + 1 == reports.size() ? -1 : 0);
  }
  EXPECT_EQ(reports.back().FrameNumber, 75);
  EXPECT_NEAR(double(reports.back().OutputTime), 3.0e6, 0.1e6);
  EXPECT_FALSE(log.Contains("frame=   1 ")) << "with a handler nothing is logged while running";
  EXPECT_TRUE(log.Contains(llVerbose, "video:"));
}

TEST_F(LoopTest, FrameLimitEndsTheRun) {
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(3)));
  ApplyOptions(transcoder, {{"s", "160x128"}, {"vframes", "20"}, {"an", ""}});
  const std::string output = TestFolder() + "/twenty.avi";
  ASSERT_EQ(transcoder.OpenOutputFile(output, false), 1);
  ASSERT_TRUE(RunToEnd(transcoder));
  ASSERT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();
  EXPECT_TRUE(transcoder.Finished());
  const auto streams = ProbeStreams(output);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].DecodedFrames, 20);
}

}  // namespace
