// DVD subtitles of a 16:9 title come in layouts (wide, letterbox, pan-scan), each in a
// sub-picture stream of its own; the title's program chain says which stream shows which
// subtitle in which layout. Fixture disc C maps English to 0x20/0x21/0x22 and French to
// 0x23/0x24/0x25, and each stream shows one event of its own, so the event that arrives in a
// conversion tells which stream was read.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <sstream>

#include "dvd/dvd_plugin_loader.h"
#include "engine/tests/disc_jobs.h"

namespace {

class SubtitleLayoutTest : public DiscJobsTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override { OpenFixtureDisc("c"); }
};

// The title lists each subtitle once, by the stream of its wide layout (what a 16:9 title
// shows), in the program chain's order.
TEST_F(SubtitleLayoutTest, TitleListsTheWideStreamOfEachSubtitle) {
  ASSERT_EQ(Rows.size(), 1u);
  const TDVDTitleInfo& info = Rows[0].Record.TitleInfo;
  const auto subtitles = ManifestRecords(Manifest, "subtitle", 1);
  ASSERT_EQ(info.SubtitleCount, int(subtitles.size()));
  for (size_t i = 0; i < subtitles.size(); ++i) {
    EXPECT_EQ(info.Subtitle[i].StreamId, subtitles[i].Int("id")) << "subtitle " << i;
    EXPECT_EQ(subtitles[i].Get("wide"), subtitles[i].Get("id_hex"));
  }
}

// Converting with a subtitle chosen reads exactly its wide stream: the input carries that
// stream alone, and the one event that reaches the output is that stream's.
TEST_P(SubtitleLayoutTest, ChosenSubtitleArrivesFromItsWideStream) {
  const int index = GetParam();
  const int id = ManifestRecords(Manifest, "subtitle", 1).at(size_t(index)).Int("id");
  std::optional<ManifestRecord> event;
  for (const auto& spu : ManifestRecords(Manifest, "spu", 1))
    if (spu.Int("id") == id) event = spu;
  ASSERT_TRUE(event);

  TlvFilesRecord record = OnlyRow(1).Record;
  record.SubtitleStreamId = Rows[0].Record.TitleInfo.Subtitle[index].StreamId;
  SetDVDParam(DVDParamForConversion(record));
  TTranscoder job;
  const std::string url = std::string(kDVDInputScheme) + ":" + DiscPath;
  ASSERT_TRUE(job.OpenInputFile(url)) << job.LastError();
  std::vector<int> carried;
  const AVFormatContext* ic = job.InputContext(0);
  for (unsigned i = 0; i < ic->nb_streams; ++i)
    if (ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE)
      carried.push_back(ic->streams[i]->id);
  EXPECT_EQ(carried, std::vector<int>{id});

  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"vcodec", "mpeg4"}, {"s", "160x90"}, {"an", ""}, {"scodec", "copy"}})
    job.ParseOption(name, value);
  const std::string output = Folder + "/subtitled.mkv";
  ASSERT_EQ(job.OpenOutputFile(output, false), 1) << job.LastError();
  ASSERT_TRUE(job.Start());
  job.Run();
  ASSERT_FALSE(job.Failed()) << job.ErrorMessage();

  std::istringstream times(
      RunCommand("ffprobe -v error -select_streams s:0 -show_entries "
                 "packet=pts_time -of csv=p=0 '" +
                 output + "'"));
  std::vector<double> events;
  for (std::string line; std::getline(times, line);)
    if (!line.empty()) events.push_back(std::atof(line.c_str()));
  ASSERT_EQ(events.size(), 1u) << "one event, from one stream";
  EXPECT_NEAR(events[0], event->Number("start"), 0.05) << event->Get("text");
}

INSTANTIATE_TEST_SUITE_P(DiscC, SubtitleLayoutTest, ::testing::Values(0, 1), [](const auto& info) {
  return info.param == 0 ? std::string("English") : std::string("French");
});

}  // namespace
