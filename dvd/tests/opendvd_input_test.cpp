// "opendvd:" + disc as an ordinary input: after SetDVDParam it delivers the chosen title's
// chapter range with only the chosen audio and subtitle streams.
#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <filesystem>

#include "dvd/dvd_plugin_loader.h"
#include "dvd/tests/dvd_test_support.h"
#include "media/ffmpeg_ptr.h"
#include "media/io_scheme.h"
#include "tests/support/test_support.h"
#if DVDSWF_WITH_ENGINE
#include "engine/transcoder.h"
#endif

namespace {

struct TSelectionCase {
  const char* Name;
  const char* Disc;
  bool Iso;
  TDVDParam Param;
  int FirstChapter, LastChapter;  // the chapters the selection resolves to (1-based)
  std::vector<int> AudioIds;      // AVStream::id of what the input must carry
  std::vector<int> SubtitleIds;
  double ToneHz;
  int FirstPicture;  // the picture of the title set's VOB the input must begin with
};

const TSelectionCase kSelections[] = {
    {"Chapters2To3French",
     "disc_a",
     true,
     {0, 2, 3, 0x81, 0x21, 2, 0},
     2,
     3,
     {0x81},
     {0x21},
     660,
     100},
    {"WholeTitleEnglish",
     "disc_a",
     false,
     {0, 0, 99, 0x80, 0x20, 2, 0},
     1,
     3,
     {0x80},
     {0x20},
     440,
     0},
    {"PreviewFallbackTakesFirstTracks",
     "disc_a",
     false,
     {0, 0, 99, 128, 32, 2, 0},
     1,
     3,
     {0x80},
     {0x20},
     440,
     0},
    {"LastChapterOnly", "disc_a", true, {0, 3, 99, 0x80, 0, 2, 0}, 3, 3, {0x80}, {}, 440, 200},
    {"ThirdTitleHasNoSubtitles",
     "disc_a",
     true,
     {2, 1, 1, 128, 32, 2, 0},
     1,
     1,
     {0x80},
     {},
     770,
     0},
    {"MpegAudioSecondChapter",
     "disc_b",
     true,
     {0, 2, 2, 0xC0, 0, 2, 0},
     2,
     2,
     {0x1C0},
     {},
     550,
     150},
    {"LpcmTrack", "disc_b", false, {0, 1, 99, 0xA1, 0, 2, 0}, 1, 2, {0xA1}, {}, 880, 0},
    {"FallbackOnDiscWithoutAc3",
     "disc_b",
     true,
     {0, 0, 99, 128, 32, 2, 0},
     1,
     2,
     {0x1C0},
     {},
     550,
     0},
};

// How a selection becomes something to measure. Today the demuxer and decoders read
// "opendvd:" directly; converting with the transcoder and decoding its output is a second
// route with the same expectations.
struct TRoute {
  const char* Name;
  TDecodedInput (*Run)(const std::string& url, int firstPicture, int lastPicture);
};
#if DVDSWF_WITH_ENGINE
// Converts the selection with the transcoder into a lossless file and measures that. The
// tracks the input carried come from the transcoder's own opened input.
TDecodedInput TranscodeThenDecode(const std::string& url, int firstPicture, int lastPicture) {
  TDecodedInput carried;
  TCustomTranscoder transcoder;
  if (!transcoder.OpenInputFile(url)) {
    ADD_FAILURE() << transcoder.LastError();
    carried.OpenError = AVERROR(EIO);
    return carried;
  }
  const AVFormatContext* in = transcoder.InputContext(0);
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    const AVStream* st = in->streams[i];
    if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) carried.AudioIds.push_back(st->id);
    if (st->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) carried.SubtitleIds.push_back(st->id);
  }
  const std::string output = TestFolder() + "/converted.mkv";
  transcoder.ParseOption("vcodec", "ffv1");
  transcoder.ParseOption("acodec", "pcm_s16le");
  transcoder.ParseOption("sn", "");
  if (transcoder.OpenOutputFile(output, false) != 1) {
    ADD_FAILURE() << transcoder.LastError();
    carried.OpenError = AVERROR(EIO);
    return carried;
  }
  EXPECT_TRUE(transcoder.Start());
  transcoder.Run();
  EXPECT_TRUE(transcoder.Finished()) << transcoder.ErrorMessage();
  EXPECT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();
  TDecodedInput got = DecodeInput(output, firstPicture, lastPicture);
  got.AudioIds = carried.AudioIds;
  got.SubtitleIds = carried.SubtitleIds;
  return got;
}

const TRoute kRoutes[] = {{"Decoded", DecodeInput}, {"Transcoded", TranscodeThenDecode}};
#else
const TRoute kRoutes[] = {{"Decoded", DecodeInput}};
#endif

class OpenDVDSelection : public ::testing::TestWithParam<std::tuple<TSelectionCase, TRoute>> {
 protected:
  void SetUp() override { LoadPlugInForTests(); }
};

TEST_P(OpenDVDSelection, DeliversTheChosenChaptersAndTracks) {
  const auto& [c, route] = GetParam();
  const std::string disc = DiscPath(c.Disc, c.Iso);
  const auto lsdvd = RunLsdvd(disc);
  ASSERT_GT(int(lsdvd.size()), c.Param.Title);
  const auto& chapters = lsdvd[c.Param.Title].ChapterLengths;
  ASSERT_GE(int(chapters.size()), c.LastChapter);
  double expectedSeconds = 0;
  for (int i = c.FirstChapter; i <= c.LastChapter; ++i) expectedSeconds += chapters[i - 1];

  ASSERT_GT(EnumDVDTitles(disc), c.Param.Title) << DVDLastErrorText();
  SetDVDParam(c.Param);
  const TDecodedInput got = route.Run(std::string(kDVDInputScheme) + ":" + disc, 0, 0);
  ASSERT_EQ(got.OpenError, 0) << DVDLastErrorText();
  EXPECT_EQ(got.AudioIds, c.AudioIds);
  EXPECT_EQ(got.SubtitleIds, c.SubtitleIds);
  EXPECT_NEAR(got.VideoSeconds, expectedSeconds, 0.2);
  EXPECT_NEAR(got.ToneHz, c.ToneHz, c.ToneHz * 0.03);
  ASSERT_EQ(got.Luma.size(), 1u);

  // The first picture is the chapter's first: it matches that picture of the title set's
  // VOB better than its neighbours.
  char vob[32];
  snprintf(vob, sizeof vob, "/VIDEO_TS/VTS_%02d_1.VOB", c.Param.Title + 1);
  const int from = std::max(0, c.FirstPicture - 2);
  const TDecodedInput reference =
      DecodeInput(DiscPath(c.Disc, false) + vob, from, c.FirstPicture + 2);
  ASSERT_EQ(reference.OpenError, 0);
  ASSERT_GT(int(reference.Luma.size()), c.FirstPicture - from);
  int best = -1;
  double bestDifference = 1e9;
  for (size_t i = 0; i < reference.Luma.size(); ++i) {
    const double difference = LumaDifference(got.Luma[0], reference.Luma[i]);
    if (difference < bestDifference) {
      bestDifference = difference;
      best = from + int(i);
    }
  }
  EXPECT_EQ(best, c.FirstPicture);
  EXPECT_LT(bestDifference, 1.0);
}

INSTANTIATE_TEST_SUITE_P(FixtureDiscs, OpenDVDSelection,
                         ::testing::Combine(::testing::ValuesIn(kSelections),
                                            ::testing::ValuesIn(kRoutes)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).Name) + "_" +
                                  std::get<1>(info.param).Name;
                         });

// The stream itself: its size, reads that straddle sectors, and its last byte.
TEST(OpenDVDStream, ReadsTheSameBytesInAnyChunkingUpToTheLastByte) {
  LoadPlugInForTests();
  const std::string disc = DiscPath("disc_a", false);
  ASSERT_EQ(EnumDVDTitles(disc), 3);
  SetDVDParam({1, 1, 2, 128, 0, 2, 0});  // title 2: one VOB, every sector in its cells
  AVFormatContext* raw = nullptr;
  ASSERT_EQ(OpenMediaInput(&raw, std::string("opendvd:") + disc, nullptr, nullptr), 0);
  MediaInputPtr input(raw);
  AVIOContext* pb = input->pb;
  const int64_t size = avio_size(pb);
  const std::string vob = ReadFile(disc + "/VIDEO_TS/VTS_02_1.VOB");
  ASSERT_EQ(size, int64_t(vob.size()));
  ASSERT_EQ(size % 2048, 0);

  auto readAll = [&](int chunk) {
    std::string bytes;
    EXPECT_EQ(avio_seek(pb, 0, SEEK_SET), 0);
    std::vector<unsigned char> buffer(static_cast<size_t>(chunk));
    int got;
    while ((got = avio_read(pb, buffer.data(), chunk)) > 0)
      bytes.append(reinterpret_cast<char*>(buffer.data()), size_t(got));
    return bytes;
  };
  const std::string aligned = readAll(65536);
  ASSERT_EQ(int64_t(aligned.size()), size);
  EXPECT_EQ(readAll(1000), aligned);
  EXPECT_EQ(readAll(2049), aligned);

  // Title 2 has one audio track and no subtitles: nothing to drop, the bytes are the VOB's.
  EXPECT_EQ(aligned, vob);

  // The last byte, then the end.
  ASSERT_EQ(avio_seek(pb, size - 1, SEEK_SET), size - 1);
  unsigned char last[4];
  EXPECT_EQ(avio_read(pb, last, 4), 1);
  EXPECT_EQ(last[0], static_cast<unsigned char>(vob.back()));
  EXPECT_TRUE(avio_feof(pb) || avio_read(pb, last, 1) <= 0);
}

TEST(OpenDVDStream, BadSelectionsFailToOpenWithAReason) {
  LoadPlugInForTests();
  const std::string disc = DiscPath("disc_a", true);
  ASSERT_EQ(EnumDVDTitles(disc), 3);
  struct {
    std::string Url;
    TDVDParam Param;
    const char* Words;
  } cases[] = {
      {"opendvd:" + disc, {7, 1, 1, 128, 0, 2, 0}, "has no title 8"},
      {"opendvd:" + disc, {-1, 1, 1, 128, 0, 2, 0}, "has no title 0"},
      {"opendvd:" + disc + ".missing", {0, 1, 1, 128, 0, 2, 0}, "does not exist"},
  };
  for (const auto& c : cases) {
    SetDVDParam(c.Param);
    AVFormatContext* raw = nullptr;
    EXPECT_LT(OpenMediaInput(&raw, c.Url, nullptr, nullptr), 0) << c.Words;
    EXPECT_EQ(raw, nullptr);
    EXPECT_NE(DVDLastErrorText().find(c.Words), std::string::npos) << DVDLastErrorText();
  }
}

}  // namespace
