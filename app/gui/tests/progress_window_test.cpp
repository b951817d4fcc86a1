// The progress window and the conversion run from the main window, converting titles of
// fixture disc A with the real engine: progress, preview insets, pause, cancel, a failure
// halfway, the after-run actions and closing during a run.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>

#include <sys/resource.h>
#include <csignal>

#include "app/core/global_object.h"
#include "app/gui/main_window.h"
#include "app/gui/progress_window.h"
#include "app/gui/tests/gui_test_support.h"
#include "app/gui/title_list_model.h"
#include "app/gui/title_list_view.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

// ---- Where the picture goes ---------------------------------------------------------------

struct TPlacementCase {
  const char* Name;
  QSize Frame, Box;
  QRect Expected;
};

void PrintTo(const TPlacementCase& c, std::ostream* os) {
  *os << c.Name;
}

class PreviewPlacementTest : public ::testing::TestWithParam<TPlacementCase> {};

TEST_P(PreviewPlacementTest, KeepsTheShapeAndCentres) {
  EXPECT_EQ(TfrmProgress::PreviewPlacement(GetParam().Frame, GetParam().Box), GetParam().Expected);
}

const TPlacementCase kPlacements[] = {
    // 720x576 is taller than the box: full height, (372 - 720 / (576 / 210)) / 2 = 54.75.
    {"PalPictureInsetLeftAndRight", {720, 576}, {372, 210}, {55, 0, 262, 210}},
    // 1920x800 is wider: full width, (210 - 800 / (1920 / 372)) / 2 = 27.5 rounds to 28.
    {"WidePictureInsetTopAndBottom", {1920, 800}, {372, 210}, {0, 28, 372, 154}},
    {"SameShapeFillsTheBox", {744, 420}, {372, 210}, {0, 0, 372, 210}},
    {"SmallPictureIsEnlarged", {186, 105}, {372, 210}, {0, 0, 372, 210}},
    // (372 - 720 / (480 / 210)) / 2 = 28.5: halves round away from zero.
    {"NtscWidescreenStoredSize", {720, 480}, {372, 210}, {29, 0, 314, 210}},
};
INSTANTIATE_TEST_SUITE_P(Frames, PreviewPlacementTest, ::testing::ValuesIn(kPlacements),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- Runs ---------------------------------------------------------------------------------

class ConversionTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    Desktop.OpenCommand = {QStringLiteral("true"), QStringLiteral("open")};
    Desktop.ShutdownCommand = {QStringLiteral("true"), QStringLiteral("poweroff")};
  }
  void Open(const std::string& disc) {
    Window().OpenDisc(QString::fromStdString(disc));
    ASSERT_EQ(Window().Model().rowCount(), 3) << Dialogs.Summary();
  }
  void CheckOnly(std::initializer_list<int> rows) {
    for (int row = 0; row < Window().Model().rowCount(); ++row)
      Window().Model().SetChecked(row, std::find(rows.begin(), rows.end(), row) != rows.end());
  }
  TfrmProgress& Progress() { return *Window().ProgressWindow(); }
  // Calls `step` with every report the window shows before the job's last one. It runs while
  // the job that sent the report waits, so the job is certainly still running then. Reports
  // come every 100 ms here (the program's 500 ms could all fall after the end of a title that
  // converts in less).
  void OnProgress(std::function<void(const TJobProgress&)> step) {
    Window().Run().Converter().SetProgressInterval(100);
    Connections.push_back(
        QObject::connect(&Progress(), &TfrmProgress::ProgressShown, [step](const TJobProgress& p) {
          if (p.ExpectedDuration > 0 && p.OutputTime + 1000000 < p.ExpectedDuration) step(p);
        }));
  }
  void Start() {
    Window().StartConversion();
    for (const auto& connection : Connections) QObject::disconnect(connection);
    Connections.clear();
  }
  std::string OutputDir() const { return HomeDir + "/videoconverter"; }
  // The converted files in the output folder.
  std::vector<std::string> Outputs() const {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(OutputDir(), error))
      if (entry.path().extension() == ".swf") files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    return files;
  }
  bool Ran(const QString& command) const { return Desktop.History().contains(command); }
  QString Cell(int row) const {
    return Main->Model().index(row, TTitleListModel::colProgress).data().toString();
  }

  std::vector<QMetaObject::Connection> Connections;
};

TEST_F(ConversionTest, RunShowsItsProgressAndEndsWithTheAfterRunActions) {
  Open(DiscAImage());
  CheckOnly({0});
  Progress().ShutDownBox()->setChecked(true);
  bool labelsSeen = false, cellSeen = false, insetsSeen = false, previewerSeen = false;
  OnProgress([&](const TJobProgress& p) {
    TfrmProgress& progress = Progress();
    EXPECT_TRUE(progress.isVisible());
    EXPECT_FALSE(Window().findChild<QToolButton*>(QStringLiteral("btnAdd"))->isEnabled());
    if (progress.ValueText(QStringLiteral("Progress")) == QStringLiteral("[1/1]") &&
        progress.ValueText(QStringLiteral("File")) == QStringLiteral("DVD Title 1") &&
        progress.ValueText(QStringLiteral("Length")) == QStringLiteral("12 Second") &&
        progress.ValueText(QStringLiteral("Current Time")).endsWith(QStringLiteral(" Second")) &&
        progress.ValueText(QStringLiteral("File Size")).endsWith(QStringLiteral(" kb")))
      labelsSeen = true;
    if (p.Percent >= 0 && Cell(0) == QString::number(p.Percent) + QLatin1Char('%')) cellSeen = true;
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->objectName() == QStringLiteral("previewerWindow") && top->isVisible())
        previewerSeen = true;
    if (!insetsSeen && !Window().Run().PreviewFrame().Empty()) {
      progress.FrameArrived();
      QTest::qWait(150);  // the window's timer draws the picture
      const QImage picture = progress.PreviewPicture();
      // A 4:3 picture: 46 pixels of ground on each side.
      if (picture.pixelColor(20, 105) == QColor(166, 202, 240) &&
          picture.pixelColor(186, 105) != QColor(166, 202, 240)) {
        insetsSeen = true;
        progress.SnapshotButton()->click();
      }
    }
  });
  Start();
  EXPECT_TRUE(labelsSeen);
  EXPECT_TRUE(cellSeen);
  EXPECT_TRUE(insetsSeen);
  // The job hands its pictures to the window (preview bitmaps), so it shows no floating
  // window of its own.
  EXPECT_FALSE(previewerSeen);
  EXPECT_FALSE(Progress().isVisible());
  EXPECT_TRUE(Dialogs.Shown.empty()) << Dialogs.Summary();
  EXPECT_EQ(Cell(0), QStringLiteral("100%"));
  EXPECT_EQ(Progress().Bar()->value(), 100);
  EXPECT_TRUE(Ran(QStringLiteral("true open ") + QString::fromStdString(OutputDir())))
      << Desktop.History().join('\n').toStdString();
  EXPECT_TRUE(Ran(QStringLiteral("true poweroff")));
  ASSERT_EQ(Outputs(), std::vector<std::string>{"DVD Title 1_(new).swf"});
  EXPECT_NEAR(DecodedDuration(OutputDir() + "/DVD Title 1_(new).swf"), 12.0, 0.5);
  EXPECT_TRUE(Window().findChild<QToolButton*>(QStringLiteral("btnAdd"))->isEnabled());
  // No floating window outlives its job.
  EXPECT_TRUE(WaitFor(
      [] {
        for (QWidget* top : QApplication::topLevelWidgets())
          if (top->objectName() == QStringLiteral("previewerWindow")) return false;
        return true;
      },
      10000));
  // The snapshot of the running job: the whole picture and the preview area as shown.
  ASSERT_EQ(Progress().LastSnapshotFiles.size(), 4u);
  const std::string snaps = Window().Global().Settings().SnapOutPutDir();
  EXPECT_EQ(QImage(QString::fromStdString(snaps + "/Snapshot_small.bmp")).size(), QSize(372, 210));
  // The whole picture as the job converts it (the format's 320x240).
  EXPECT_EQ(QImage(QString::fromStdString(snaps + "/Snapshot_full.jpg")).size(), QSize(320, 240));
  EXPECT_EQ(Desktop.History().filter(QStringLiteral("open")).size(), 1)
      << "the progress window's snapshot does not open the folder";
  // "Shut down" keeps its state for the next showing.
  EXPECT_TRUE(Progress().ShutDownBox()->isChecked());
}

TEST_F(ConversionTest, ShortTitleFinishesWithoutReportsInBetween) {
  Open(DiscAImage());
  CheckOnly({1, 2});
  Progress().OpenFolderBox()->setChecked(false);  // the showing checks it again
  Start();
  EXPECT_EQ(Cell(1), QStringLiteral("100%"));
  EXPECT_EQ(Cell(2), QStringLiteral("100%"));
  EXPECT_EQ(Cell(0), QString());
  EXPECT_EQ(Outputs(),
            (std::vector<std::string>{"DVD Title 2_(new).swf", "DVD Title 3_(new).swf"}));
  EXPECT_TRUE(Ran(QStringLiteral("true open ") + QString::fromStdString(OutputDir())));
  EXPECT_FALSE(Ran(QStringLiteral("true poweroff")));
  // A second run names its files afresh.
  Start();
  EXPECT_EQ(Outputs().size(), 4u);
  EXPECT_TRUE(fs::exists(OutputDir() + "/DVD Title 2_(new_1).swf"));
}

TEST_F(ConversionTest, PauseHoldsTheRunAndResumeLetsItGoOn) {
  Open(DiscAImage());
  CheckOnly({0});
  bool paused = false, resumed = false;
  int reportsWhilePaused = 0;
  OnProgress([&](const TJobProgress&) {
    TfrmProgress& progress = Progress();
    if (!paused) {
      paused = true;
      progress.PauseButton()->click();
      EXPECT_FALSE(progress.PauseButton()->isEnabled());
      EXPECT_TRUE(progress.ResumeButton()->isEnabled());
      QTimer::singleShot(1500, &progress, [&] {
        resumed = true;
        progress.ResumeButton()->click();
        EXPECT_TRUE(progress.PauseButton()->isEnabled());
        EXPECT_FALSE(progress.ResumeButton()->isEnabled());
      });
    } else if (!resumed) {
      ++reportsWhilePaused;
    }
  });
  Start();
  EXPECT_TRUE(resumed) << Main->LogText().toStdString();
  EXPECT_EQ(reportsWhilePaused, 0) << "a held job sends nothing";
  EXPECT_EQ(Cell(0), QStringLiteral("100%"));
  EXPECT_NEAR(DecodedDuration(OutputDir() + "/DVD Title 1_(new).swf"), 12.0, 0.5);
}

TEST_F(ConversionTest, CancelStopsTheRunAndKeepsAPlayableFile) {
  Open(DiscAImage());
  CheckOnly({0, 1});
  bool cancelled = false;
  OnProgress([&](const TJobProgress&) {
    if (cancelled) return;
    cancelled = true;
    Progress().CancelButton()->click();
    EXPECT_FALSE(Progress().isVisible());
  });
  Start();
  ASSERT_TRUE(cancelled);
  EXPECT_FALSE(Progress().Running());
  EXPECT_NE(Cell(0), QStringLiteral("100%"));
  EXPECT_FALSE(Ran(QStringLiteral("true open ") + QString::fromStdString(OutputDir())))
      << "a stopped run has no after-run actions";
  EXPECT_TRUE(Dialogs.Shown.empty()) << Dialogs.Summary();
  ASSERT_EQ(Outputs(), std::vector<std::string>{"DVD Title 1_(new).swf"}) << "title 2 never began";
  const double seconds = DecodedDuration(OutputDir() + "/DVD Title 1_(new).swf");
  EXPECT_GT(seconds, 0.0);
  EXPECT_LT(seconds, 12.0);
}

// The disk fills up under the running job: the output cannot grow past a limit set halfway.
class FileSizeLimit {
 public:
  FileSizeLimit() {
    getrlimit(RLIMIT_FSIZE, &FSaved);
    FSavedHandler = signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &FSaved);
    signal(SIGXFSZ, FSavedHandler);
  }
  void Limit(rlim_t bytes) {
    rlimit limit = FSaved;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }

 private:
  rlimit FSaved{};
  sighandler_t FSavedHandler;
};

TEST_F(ConversionTest, FailureHalfwayIsReportedAndLeavesNoEmptyFile) {
  Open(DiscAImage());
  CheckOnly({0});
  const std::string first = OutputDir() + "/DVD Title 1_(new).swf";
  FileSizeLimit limit;
  bool full = false;
  OnProgress([&](const TJobProgress& p) {
    if (full || p.JobIndex != 0) return;
    full = true;
    std::error_code error;
    limit.Limit(fs::file_size(first, error) + 16 * 1024);
  });
  Start();
  limit.Limit(RLIM_INFINITY);
  ASSERT_TRUE(full);
  ASSERT_FALSE(Dialogs.Shown.empty()) << "the failure is reported\n"
                                      << Main->LogText().toStdString();
  const TShownMessage& message = Dialogs.Shown.back();
  EXPECT_EQ(message.Text, QStringLiteral("The conversion failed."));
  EXPECT_EQ(message.Caption, QStringLiteral("Warning"));
  EXPECT_TRUE(message.Detail.startsWith(QStringLiteral("DVD Title 1: "))) << Dialogs.Summary();
  EXPECT_EQ(Cell(0), QStringLiteral("Failed"));
  // The run's last job failed: no after-run action.
  EXPECT_FALSE(Ran(QStringLiteral("true open ") + QString::fromStdString(OutputDir())));
  for (const std::string& file : Outputs())
    EXPECT_GT(fs::file_size(OutputDir() + "/" + file), 0u) << file << " is empty";
}

TEST_F(ConversionTest, OutputFolderThatCannotBeWrittenFallsBack) {
  Open(DiscAImage());
  CheckOnly({2});
  {
    TSettingsStore settings = Window().Global().Settings();
    settings.SetOutPutDir("/proc/sys/dvdswf");
  }
  Start();
  ASSERT_EQ(Dialogs.Shown.size(), 1u) << Dialogs.Summary();
  EXPECT_EQ(Dialogs.Shown[0].Text.toStdString(),
            "Cannot create output directory:/proc/sys/dvdswf.It will create default directory " +
                DefaultVideoFolder() + "!");
  EXPECT_EQ(Window().Global().Settings().OutPutDir(), DefaultVideoFolder());
  EXPECT_EQ(Outputs(), std::vector<std::string>{"DVD Title 3_(new).swf"});
}

TEST_F(ConversionTest, NothingCheckedAsksForACheck) {
  Open(DiscAImage());
  CheckOnly({});
  Start();
  ASSERT_EQ(Dialogs.Shown.size(), 1u);
  EXPECT_EQ(Dialogs.Shown[0].Text,
            QStringLiteral("Please select a file by clicking the check box!"));
  EXPECT_FALSE(Progress().isVisible());
  EXPECT_TRUE(Outputs().empty());
}

TEST_F(ConversionTest, ClosingDuringARunStopsItFirst) {
  Open(DiscAImage());
  CheckOnly({0});
  bool asked = false;
  OnProgress([&](const TJobProgress&) {
    if (asked) return;
    asked = true;
    Dialogs.Answers.push_back(true);
    EXPECT_FALSE(Window().close()) << "the window waits for the run to end";
  });
  Start();
  ASSERT_TRUE(asked);
  EXPECT_TRUE(WaitFor([this] { return !Window().isVisible(); }, 10000));
  EXPECT_EQ(Dialogs.Shown.size(), 1u) << "one question, no further one" << Dialogs.Summary();
  EXPECT_NE(Cell(0), QStringLiteral("100%"));
  EXPECT_GT(DecodedDuration(OutputDir() + "/DVD Title 1_(new).swf"), 0.0);
}

}  // namespace
