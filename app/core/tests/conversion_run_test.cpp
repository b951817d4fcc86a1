// The start sequence and the run through the real conversion component, on fixture disc A.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/core/conversion_run.h"
#include "app/core/tests/config_env.h"
#include "dvd/disc_opener.h"
#include "dvd/dvd_plugin_loader.h"
#include "media/main_thread.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

// The progress window as a recorder: serves main-thread calls until the final event.
class TRecordingHost : public TConversionHost {
 public:
  void ShowWarning(const std::string& text, const std::string& caption) override {
    Log.push_back("warning " + caption + ": " + text);
  }
  bool AskYesNo(const std::string& text, const std::string&) override {
    Log.push_back("question " + text);
    return true;
  }
  void RunProgressModal(TConversionRun& run) override {
    Log.push_back("modal");
    Closed = false;
    run.StartTasks();
    if (StopAtStart) run.Stop();
    while (!Closed) WaitForMainThreadCalls(std::chrono::milliseconds(50));
  }
  void CloseProgress() override {
    Log.push_back("close");
    Closed = true;
  }
  void ShowProgress(const TJobProgress& p) override {
    EXPECT_TRUE(IsMainThread());
    Progress.push_back(p);
  }
  void ShowPreviewFrame(const TBitmap& frame) override {
    EXPECT_TRUE(IsMainThread());
    ++Previews;
    EXPECT_GT(frame.Width(), 0);
  }
  void JobEnded(const TTerminateInfo& info, int row) override {
    EXPECT_TRUE(IsMainThread());
    Ends.push_back(info);
    Log.push_back("end " + std::to_string(info.JobIndex) + " row " + std::to_string(row));
  }
  void JobFinished(int jobIndex, int row) override {
    Log.push_back("finished " + std::to_string(jobIndex) + " row " + std::to_string(row));
  }
  void RunEnded() override { Log.push_back("run ended"); }
  bool OpenFolderAfterRun() override { return OpenFolder; }
  bool ShutDownAfterRun() override { return ShutDown; }
  void OpenOutputFolder(const std::string& dir) override { Log.push_back("open " + dir); }
  void ShutDownComputer() override { Log.push_back("shut down"); }

  bool Closed = false, OpenFolder = true, ShutDown = true, StopAtStart = false;
  int Previews = 0;
  std::vector<std::string> Log;
  std::vector<TJobProgress> Progress;
  std::vector<TTerminateInfo> Ends;
};

class NullReport : public TDiscOpenerReport {
 public:
  void ShowMessage(const TDiscMessage&) override {}
};

class ConversionRunTest : public ConfigEnvTest {
 protected:
  void SetUp() override {
    ConfigEnvTest::SetUp();
    Disc = FixturesDir() + "/disc_a";
    ASSERT_TRUE(fs::is_directory(Disc)) << "fixture disc A is missing";
    ASSERT_TRUE(LoadDVDPlugInOnDemand()) << DVDPlugInError();
    NullReport report;
    Rows = OpenDisc(Disc, report).Rows;
    ASSERT_EQ(Rows.size(), 3u);
    Global = CreateGlobalObject();
    Out = Folder + "/out";
    Global->Settings().SetOutPutDir(Out);
    // A short piece of each title keeps the runs quick.
    for (auto& row : Rows) row.Record.TrimLength = 2'000'000;
  }

  std::string Disc, Out;
  std::vector<TDVDTitleRow> Rows;
  std::unique_ptr<TGlobalObject> Global;
};

TEST_F(ConversionRunTest, TwoTitlesRunOneAfterAnotherAndAreNamedPerRun) {
  Rows[1].Checked = false;
  TRecordingHost host;
  {
    TConversionRun run(*Global, host);
    ASSERT_EQ(run.StartConversion(Disc, Rows), srRan);
    EXPECT_EQ(run.JobRows(), (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(run.OutputFiles(), (std::vector<std::string>{Out + "/DVD Title 1_(new).swf",
                                                           Out + "/DVD Title 3_(new).swf"}));
    EXPECT_EQ(run.Converter().TaskCount(), 0);  // cleared by the final event
  }
  EXPECT_EQ(host.Log, (std::vector<std::string>{"modal", "end 0 row 0", "finished 0 row 0",
                                                "end 1 row 2", "finished 1 row 2", "open " + Out,
                                                "shut down", "run ended", "close"}));
  for (const auto& end : host.Ends) EXPECT_FALSE(end.Failed) << end.ErrorMessage;
  ASSERT_FALSE(host.Progress.empty());
  for (const auto& p : host.Progress) {
    EXPECT_GE(p.Percent, 0);
    EXPECT_LE(p.Percent, 100);
    EXPECT_EQ(p.TaskCount, 2);
  }
  EXPECT_EQ(host.Progress.front().FileText, "DVD Title 1");
  EXPECT_EQ(host.Progress.back().FileText, "DVD Title 3");
  EXPECT_TRUE(fs::exists(Out + "/DVD Title 1_(new).swf"));
  EXPECT_TRUE(fs::exists(Out + "/DVD Title 3_(new).swf"));
  // The zoom mode comes from the format's settings.
  EXPECT_EQ(Rows[0].Record.ZoomMode, "lbox");

  TRecordingHost again;
  again.OpenFolder = again.ShutDown = false;
  TConversionRun run(*Global, again);
  ASSERT_EQ(run.StartConversion(Disc, Rows), srRan);
  EXPECT_EQ(run.OutputFiles(), (std::vector<std::string>{Out + "/DVD Title 1_(new_1).swf",
                                                         Out + "/DVD Title 3_(new_1).swf"}));
}

TEST_F(ConversionRunTest, NothingCheckedWarns) {
  for (auto& row : Rows) row.Checked = false;
  TRecordingHost host;
  TConversionRun run(*Global, host);
  EXPECT_EQ(run.StartConversion(Disc, Rows), srNoRows);
  EXPECT_EQ(host.Log, (std::vector<std::string>{
                          "warning Warning: Please select a file by clicking the check box!"}));
}

TEST_F(ConversionRunTest, InputThatDoesNotOpenAbandonsTheStart) {
  TRecordingHost host;
  TConversionRun run(*Global, host);
  EXPECT_EQ(run.StartConversion(Folder + "/no-disc-here", Rows), srAbandoned);
  EXPECT_FALSE(run.LastError().empty());
  EXPECT_TRUE(host.Log.empty());  // no progress, no message
  EXPECT_EQ(run.Converter().TaskCount(), 0);
  // The name claimed for the job that could not be made is given back.
  EXPECT_TRUE(fs::is_empty(Global->Settings().OutPutDir()));
}

TEST_F(ConversionRunTest, StoppedRunEndsWithoutAfterRunActions) {
  Rows[0].Record.TrimLength = 0;
  TRecordingHost host;
  host.StopAtStart = true;
  TConversionRun run(*Global, host);
  ASSERT_EQ(run.StartConversion(Disc, Rows), srRan);
  ASSERT_EQ(host.Ends.size(), 3u);
  for (const auto& end : host.Ends) {
    EXPECT_FALSE(end.Finished);
    EXPECT_FALSE(end.Failed) << end.ErrorMessage;
  }
  for (const auto& line : host.Log) {
    EXPECT_EQ(line.find("finished"), std::string::npos) << line;
    EXPECT_EQ(line.find("open"), std::string::npos) << line;
  }
  EXPECT_EQ(host.Log.back(), "close");
  // What a stopped job wrote stays when it plays; the empty files of jobs that never
  // started are gone.
  ASSERT_EQ(run.OutputStates().size(), 3u);
  for (size_t job = 0; job < 3; ++job) {
    const TOutputState state = run.OutputStates()[job];
    EXPECT_TRUE(state == osStopped || state == osRemoved) << job;
    EXPECT_EQ(fs::exists(run.OutputFiles()[job]), state == osStopped) << job;
    if (state == osStopped) {
      EXPECT_TRUE(TConversionRun::IsPlayableFile(run.OutputFiles()[job]));
    }
  }
  EXPECT_EQ(run.OutputStates()[2], osRemoved);
}

TEST(IsPlayableFile, TellsFilesThatPlayFromTheRest) {
  const std::string folder = TestFolder();
  const std::string good = SharedMediaFile(
      "playable.mp4", "-f lavfi -i testsrc=s=64x48:d=1 -c:v mpeg4 -pix_fmt yuv420p {out}");
  EXPECT_TRUE(TConversionRun::IsPlayableFile(good));
  // The same file without its end (where MP4 keeps its index), a header alone, nothing.
  const std::string content = ReadFile(good);
  std::ofstream(folder + "/cut.mp4", std::ios::binary) << content.substr(0, content.size() / 2);
  std::ofstream(folder + "/header.swf", std::ios::binary) << std::string("FWS\x06\x16\0\0\0", 8);
  std::ofstream(folder + "/empty.mp4");
  for (const char* name : {"/cut.mp4", "/header.swf", "/empty.mp4", "/missing.mp4"})
    EXPECT_FALSE(TConversionRun::IsPlayableFile(folder + name)) << name;
  EXPECT_FALSE(TConversionRun::IsPlayableFile("/dev/null"));
  EXPECT_FALSE(TConversionRun::IsPlayableFile(folder));
}

TEST(IsPlayableFile, SoundAloneIsNoPicture) {
  const std::string sound =
      SharedMediaFile("sound_only.mp4", "-f lavfi -i sine=d=1 -c:a aac {out}");
  EXPECT_TRUE(TConversionRun::IsPlayableFile(sound));
  EXPECT_FALSE(TConversionRun::IsPlayableFile(sound, true));
  const std::string picture = SharedMediaFile(
      "playable.mp4", "-f lavfi -i testsrc=s=64x48:d=1 -c:v mpeg4 -pix_fmt yuv420p {out}");
  EXPECT_TRUE(TConversionRun::IsPlayableFile(picture, true));
}

// Disc A's title 1 is 12 s of groups of pictures; a start inside the last one is reached from
// its key picture, which lies before the start: nothing decodes after it.
TEST_F(ConversionRunTest, StartInsideTheLastGroupOfPicturesLeavesNone) {
  struct TCase {
    int64_t Start;
    int ChapterTo;  // 0: the whole title
    bool Picture;
  };
  for (const TCase c :
       {TCase{0, 0, true}, TCase{5'000'000, 0, true}, TCase{11'000'000, 0, true},
        TCase{11'900'000, 0, false}, TCase{3'500'000, 1, true}, TCase{3'900'000, 1, false}}) {
    TlvFilesRecord record = Rows[0].Record;
    record.TrimStart = c.Start;
    if (c.ChapterTo) {
      record.ChapterFrom = 1;
      record.ChapterTo = c.ChapterTo;
    }
    const double part = c.ChapterTo ? 4.0 : 12.0;
    EXPECT_EQ(TConversionRun::StartLeavesAPicture(Disc, record, part), c.Picture)
        << c.Start << " " << c.ChapterTo;
  }
}

TEST_F(ConversionRunTest, PerRunFormatAndParameters) {
  Rows[1].Checked = Rows[2].Checked = false;
  TRecordingHost host;
  TConversionRun run(*Global, host);
  run.FormatCodeOverride = 200;  // MP3
  run.ParamOverrides["PARAAUDIOBITRATE"] = "64";
  run.OutputDirOverride = Folder + "/elsewhere";
  EXPECT_EQ(run.EffectiveParams(200).AudioBitRate, "64");
  ASSERT_EQ(run.StartConversion(Disc, Rows), srRan);
  ASSERT_EQ(run.OutputFiles().size(), 1u);
  EXPECT_EQ(run.OutputFiles()[0], Folder + "/elsewhere/DVD Title 1_(new).mp3");
  const std::string probe =
      RunCommand("ffprobe -v error -show_entries stream=codec_name,bit_rate -of csv=p=0 '" +
                 run.OutputFiles()[0] + "'");
  EXPECT_NE(probe.find("mp3,64000"), std::string::npos) << probe;
  // Nothing of the run was written to the settings.
  EXPECT_EQ(Global->Settings().FormatCode(), 1);
  EXPECT_EQ(Global->Settings().OutPutDir(), Out);
}

}  // namespace
