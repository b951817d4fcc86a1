#include "app/gui/tests/gui_test_support.h"

#include <QApplication>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/gui/main_window.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

TMessageAnswer TRecordingDialogs::ShowMessage(QWidget*, const QString& text, const QString& caption,
                                              TMessageIcon icon, TMessageButtons buttons,
                                              const QString& detail) {
  Shown.push_back({text, caption, detail, icon, buttons});
  if (OnShow) OnShow(Shown.back());
  if (buttons != mbYesNo) return maOk;
  bool yes = AnswerYes;
  if (!Answers.empty()) {
    yes = Answers.front();
    Answers.pop_front();
  }
  return yes ? maYes : maNo;
}

QString TRecordingDialogs::ChooseFolder(QWidget*, const QString&, const QString&) {
  if (Folders.empty()) return QString();
  QString folder = Folders.front();
  Folders.pop_front();
  return folder;
}

QString TRecordingDialogs::ChooseFile(QWidget*, const QString&, const QString&, const QString&) {
  if (Files.empty()) return QString();
  QString file = Files.front();
  Files.pop_front();
  return file;
}

std::string TRecordingDialogs::Summary() const {
  std::string text;
  for (const TShownMessage& m : Shown)
    text += (m.Caption + ": " + m.Text + (m.Detail.isEmpty() ? "" : " (" + m.Detail + ")") + "\n")
                .toStdString();
  return text;
}

namespace {

// The scaled runs of the suite (ctest's gui_scaling_*) run beside the plain one under the same
// test names, so each scale gets a folder of its own: one run must not remove the folder
// another is working in.
std::string OwnTestFolder() {
  const QByteArray scale = qgetenv("QT_SCALE_FACTOR");
  if (scale.isEmpty()) return TestFolder();
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const fs::path dir = fs::path(DVDSWF_TEST_TMP) / (std::string(info->test_suite_name()) + "." +
                                                    info->name() + "@" + scale.toStdString());
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string();
}

}  // namespace

void GuiTest::SetUp() {
  Folder = OwnTestFolder();
  ConfigDir = Folder + "/config";
  HomeDir = Folder + "/home";
  fs::create_directories(HomeDir);
  setenv("DVDSWF_CONFIG_DIR", ConfigDir.c_str(), 1);
  setenv("HOME", HomeDir.c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  // Nothing outside the test runs: opening and shutting down only leave their trace.
  Desktop.OpenCommand = {QStringLiteral("true")};
  Desktop.ShutdownCommand = {QStringLiteral("true")};
}

void GuiTest::TearDown() {
  if (Main) {
    Dialogs.AnswerYes = true;
    Dialogs.Answers.clear();
    Main->close();
    Main.reset();
  }
  QApplication::processEvents();
}

TfrmMain& GuiTest::Window() {
  if (!Main) {
    Main = std::make_unique<TfrmMain>(Dialogs, Desktop);
    Main->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(Main.get()));
  }
  return *Main;
}

void GuiTest::CloseWindow() {
  Dialogs.Answers.push_back(true);
  Main->close();
}

std::string GuiTest::SettingsText() const {
  return fs::exists(SettingsPath()) ? ReadFile(SettingsPath()) : std::string();
}

void GuiTest::OpenDiscA() {
  Window().OpenDisc(QString::fromStdString(DiscAImage()));
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  return QTest::qWaitFor(condition, timeoutMs);
}
