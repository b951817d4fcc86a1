// Helpers of the GUI suites: dialogs that record what was shown and answer from a script, a
// fresh settings and home folder per test, and waiting on a condition while Qt runs.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/gui/desktop_actions.h"
#include "app/gui/tests/media_checks.h"
#include "app/gui/user_dialogs.h"

class TfrmMain;

struct TShownMessage {
  QString Text, Caption, Detail;
  TMessageIcon Icon;
  TMessageButtons Buttons;
};

// The program's dialogs as a test sees them: every box is recorded and answered at once.
class TRecordingDialogs : public TUserDialogs {
 public:
  TMessageAnswer ShowMessage(QWidget* parent, const QString& text, const QString& caption,
                             TMessageIcon icon, TMessageButtons buttons,
                             const QString& detail) override;
  QString ChooseFolder(QWidget* parent, const QString& caption, const QString& start) override;
  QString ChooseFile(QWidget* parent, const QString& caption, const QString& start,
                     const QString& filter) override;

  std::vector<TShownMessage> Shown;
  // Answers to Yes/No questions, in order; when none is left, AnswerYes decides.
  std::deque<bool> Answers;
  bool AnswerYes = true;
  // Folders and files the user "chooses", in order; empty when none is left.
  std::deque<QString> Folders, Files;
  // Called with each message as it is shown (a test may act while the box is "open").
  std::function<void(const TShownMessage&)> OnShow;

  // "caption: text" of every box, for failure output.
  std::string Summary() const;
};

// A fresh settings folder and home per test; the main window is made on demand.
class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The window, shown (first showing done). Opening commands are recorded, never run.
  TfrmMain& Window();
  void CloseWindow();  // answers Yes and closes it
  std::string SettingsPath() const { return ConfigDir + "/korveldvdtoswfconverter.ini"; }
  std::string SettingsText() const;
  // Opens fixture disc A (image) in the window.
  void OpenDiscA();

  std::string Folder, ConfigDir, HomeDir;
  TRecordingDialogs Dialogs;
  TDesktopActions Desktop;
  std::unique_ptr<TfrmMain> Main;
};

// Runs the Qt loop until `condition` holds or `timeoutMs` pass; returns the condition.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 60000);
