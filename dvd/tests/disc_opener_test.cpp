// Opening a disc for the title list: rows, records and the three messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "dvd/disc_opener.h"
#include "dvd/dvd_plugin_loader.h"
#include "dvd/tests/dvd_test_support.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

class TRecordedReport : public TDiscOpenerReport {
 public:
  void ShowMessage(const TDiscMessage& message) override { Messages.push_back(message); }
  std::vector<TDiscMessage> Messages;
};

class DiscOpener : public ::testing::Test {
 protected:
  void SetUp() override { LoadPlugInForTests(); }
  TRecordedReport Report;
};

TEST_F(DiscOpener, ListsEveryTitleOfDiscAWithItsRecord) {
  const TDiscOpenResult result = OpenDisc(DiscPath("disc_a", true), Report);
  EXPECT_TRUE(Report.Messages.empty());
  ASSERT_TRUE(result.PlugInLoaded);
  ASSERT_EQ(result.Rows.size(), 3u);

  const TDVDTitleRow& first = result.Rows[0];
  EXPECT_EQ(first.Caption, "DVD Title 1");
  EXPECT_EQ(first.DurationText, "   0:00:12");
  EXPECT_EQ(first.TrimLengthText, "   0:00:12");
  EXPECT_EQ(first.FrameSizeText, "   720 x 576 (4:3)");
  EXPECT_EQ(first.VideoFormatText, "   MPEG-2");
  EXPECT_EQ(first.ProgressText, "");
  EXPECT_TRUE(first.Checked);

  const TlvFilesRecord& r = first.Record;
  EXPECT_EQ(r.SourceName, "");
  EXPECT_EQ(r.Duration, 12);
  EXPECT_EQ(r.TrimStart, 0);
  EXPECT_EQ(r.TrimLength, 0);
  EXPECT_EQ(r.ZoomMode, "");
  EXPECT_EQ(r.AudioIndex, 0);
  EXPECT_EQ(r.AudioStreamId, 0x80);
  EXPECT_EQ(r.SubtitleIndex, 0);
  EXPECT_EQ(r.SubtitleStreamId, 0x20);
  EXPECT_EQ(r.ChapterFrom, 1);
  EXPECT_EQ(r.ChapterTo, 3);
  EXPECT_EQ(r.Brightness, 255);
  EXPECT_EQ(r.Contrast, 0);
  EXPECT_EQ(r.Saturation, 255);
  EXPECT_EQ(r.Exposure, 0);
  EXPECT_EQ(r.TitleNumber, 0);
  EXPECT_EQ(r.TitleInfo.ChapterCount, 3);
  EXPECT_EQ(r.TitleInfo.AudioCount, 2);

  // Titles 2 and 3 have no subtitles: the choice stays unset.
  EXPECT_EQ(result.Rows[1].Record.SubtitleIndex, -1);
  EXPECT_EQ(result.Rows[1].Record.SubtitleStreamId, -1);
  EXPECT_EQ(result.Rows[1].Record.ChapterTo, 2);

  // The combos show the last title listed: title 3, one German track, no subtitles.
  EXPECT_TRUE(result.AudioEnabled);
  EXPECT_EQ(result.AudioItems, std::vector<std::string>{"128  German"});
  EXPECT_EQ(result.SubtitleItems, std::vector<std::string>{"Default"});
}

TEST_F(DiscOpener, InvalidSecondTitleListsTheOthersAfterOneWarning) {
  const std::string disc = TestFolder() + "/disc";
  fs::copy(DiscPath("disc_a", false), disc, fs::copy_options::recursive);
  for (const char* name : {"VTS_02_0.IFO", "VTS_02_0.BUP"})
    std::ofstream(disc + "/VIDEO_TS/" + name, std::ios::trunc) << std::string(12288, 'x');
  const TDiscOpenResult result = OpenDisc(disc, Report);
  ASSERT_EQ(Report.Messages.size(), 1u);
  EXPECT_EQ(Report.Messages[0].Kind, dmInvalidTitle);
  EXPECT_EQ(Report.Messages[0].Text, "Title #2 is invalid");
  EXPECT_EQ(Report.Messages[0].Caption, "Warning");
  EXPECT_NE(Report.Messages[0].Detail.find("VTS_02_0.IFO"), std::string::npos);
  ASSERT_EQ(result.Rows.size(), 2u);
  EXPECT_EQ(result.Rows[0].Caption, "DVD Title 1");
  EXPECT_EQ(result.Rows[1].Caption, "DVD Title 3");
  // The row after the gap keeps its title's number, so selections reach the right title.
  EXPECT_EQ(result.Rows[1].Record.TitleNumber, 2);
  EXPECT_EQ(DVDParamForConversion(result.Rows[1].Record).Title, 2);
}

TEST_F(DiscOpener, FrameSizeShowsEachTitlesDisplayAspect) {
  const TDiscOpenResult result = OpenDisc(DiscPath("disc_d", true), Report);
  ASSERT_EQ(result.Rows.size(), 4u);
  EXPECT_EQ(result.Rows[0].FrameSizeText, "   720 x 576 (4:3)");
  EXPECT_EQ(result.Rows[1].FrameSizeText, "   720 x 576 (16:9)");
  EXPECT_EQ(result.Rows[2].FrameSizeText, "   720 x 480 (4:3)");
  EXPECT_EQ(result.Rows[3].FrameSizeText, "   720 x 480 (16:9)");
  EXPECT_EQ(result.Rows[3].Record.TitleInfo.DisplayAspectX, 16);
  EXPECT_EQ(result.Rows[3].Record.TitleInfo.DisplayAspectY, 9);
}

TEST(DiscOpenerTexts, DisplayAspectOfABlockWithoutOneIsFourThirds) {
  TDVDTitleInfo info{};
  EXPECT_EQ(DisplayAspectText(info), "4:3");
  info.DisplayAspectX = 16;
  EXPECT_EQ(DisplayAspectText(info), "4:3");  // half a ratio is none
  info.DisplayAspectY = 9;
  EXPECT_EQ(DisplayAspectText(info), "16:9");
  info.DisplayAspectX = -16;
  EXPECT_EQ(DisplayAspectText(info), "4:3");
}

struct TNoDiscCase {
  const char* Name;
  std::string (*Make)(const std::string& folder);
  TDiscMessageKind Kind;
  const char* Text;
  const char* Caption;
};

const TNoDiscCase kNoDiscCases[] = {
    {"MissingPath", [](const std::string& f) { return f + "/gone"; }, dmNoDisc,
     "Can't find a DVD Disk!", "Warning"},
    {"EmptyPath", [](const std::string&) { return std::string(); }, dmNoDisc,
     "Can't find a DVD Disk!", "Warning"},
    {"FolderWithoutVideoTs", [](const std::string& f) { return f; }, dmNoTitles,
     "No DVD title(s) found. Maybe not a valid DVD.", "Message"},
};

class DiscOpenerNoDisc : public ::testing::TestWithParam<TNoDiscCase> {
 protected:
  void SetUp() override { LoadPlugInForTests(); }
};

TEST_P(DiscOpenerNoDisc, ShowsOneMessageAndListsNothing) {
  TRecordedReport report;
  const TDiscOpenResult result = OpenDisc(GetParam().Make(TestFolder()), report);
  EXPECT_TRUE(result.Rows.empty());
  ASSERT_EQ(report.Messages.size(), 1u);
  EXPECT_EQ(report.Messages[0].Kind, GetParam().Kind);
  EXPECT_EQ(report.Messages[0].Text, GetParam().Text);
  EXPECT_EQ(report.Messages[0].Caption, GetParam().Caption);
}

INSTANTIATE_TEST_SUITE_P(BadDrivePaths, DiscOpenerNoDisc, ::testing::ValuesIn(kNoDiscCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(DiscOpenerTexts, FormatsWholeSecondsAsHoursMinutesSeconds) {
  const std::pair<double, const char*> cases[] = {{5025.9, "1:23:45"},      {0, "0:00:00"},
                                                  {59.999, "0:00:59"},      {3600, "1:00:00"},
                                                  {36000 + 61, "10:01:01"}, {-3, "0:00:00"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(FormatTitleSeconds(seconds), text);
}

TEST(DiscOpenerTexts, ComboItemsAndDefaultSubtitle) {
  TDVDTitleInfo info{};
  info.SubtitleCount = 3;
  for (int i = 0; i < 3; ++i) {
    info.Subtitle[i].StreamId = 0x20 + i;
    snprintf(info.Subtitle[i].Language, sizeof info.Subtitle[i].Language, "L%d", i);
  }
  EXPECT_EQ(SubtitleComboItems(info),
            (std::vector<std::string>{"32  L0", "33  L1", "34  L2", "Default"}));
  EXPECT_TRUE(AudioComboItems(info).empty());
  // A language that fills all 64 bytes has no terminator; it must not run on.
  info.AudioCount = 1;
  info.Audio[0].StreamId = 0x80;
  memset(info.Audio[0].Language, 'x', sizeof info.Audio[0].Language);
  EXPECT_EQ(AudioComboItems(info)[0], "128  " + std::string(64, 'x'));
}

TEST(DiscOpenerSelections, EachUseHandsThePlugInItsSelection) {
  TDVDTitleInfo info{};
  info.ChapterCount = 5;
  TlvFilesRecord none = NewTitleRecord(4, info);  // a title without audio and subtitles
  none.ChapterFrom = 2;
  none.ChapterTo = 4;
  const TDVDParam conversion = DVDParamForConversion(none);
  EXPECT_EQ(conversion.Title, 4);
  EXPECT_EQ(conversion.ChapterFrom, 2);
  EXPECT_EQ(conversion.ChapterTo, 4);
  EXPECT_EQ(conversion.AudioId, 0);  // negative ids go as 0
  EXPECT_EQ(conversion.SubtitleId, 0);
  EXPECT_EQ(conversion.Mode, 2);
  EXPECT_EQ(conversion.Reserved, 0);

  const TDVDParam preview = DVDParamForPreview(&none);
  EXPECT_EQ(preview.ChapterFrom, 0);
  EXPECT_EQ(preview.ChapterTo, 5);
  const TDVDParam nothingSelected = DVDParamForPreview(nullptr);
  EXPECT_EQ(nothingSelected.Title, 0);
  EXPECT_EQ(nothingSelected.ChapterTo, 99);
  EXPECT_EQ(nothingSelected.AudioId, 128);
  EXPECT_EQ(nothingSelected.SubtitleId, 32);
  const TDVDParam editor = DVDParamForEditor(none);
  EXPECT_EQ(editor.Title, 4);
  EXPECT_EQ(editor.ChapterFrom, 0);
  EXPECT_EQ(editor.ChapterTo, 99);
}

}  // namespace
