// TfrmProgress: the modal window that is open while a conversion runs. It shows the running
// job's picture, its time, length, size, place in the run and file, a bar, Pause, Resume and
// Cancel, a snapshot button, and the two after-run choices (open the output folder, shut the
// computer down). It is made once and reused: the shut-down choice keeps its state from one
// run to the next.
//
// Threads: main thread. The run's events reach it through the main window's conversion host.
#pragma once

#include <QDialog>
#include <QEventLoop>
#include <QImage>
#include <QTimer>

#include "app/core/conversion_run.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;
class TGlobalObject;
class TUserDialogs;

class TfrmProgress : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kWidth = 420;
  static constexpr int kHeight = 460;
  static constexpr int kPreviewWidth = 372;
  static constexpr int kPreviewHeight = 210;

  TfrmProgress(const TGlobalObject& global, TUserDialogs& dialogs, QWidget* parent);

  // Shows the window modally (centred on its parent), starts the run's jobs and returns
  // when the run's final event has closed it (also after an early close, which stops the run:
  // the final event follows). Main-thread calls and window events are served meanwhile.
  void RunModal(TConversionRun& run);
  // The run's final event.
  void CloseByFinalEvent();
  // Cancel and the title-bar close: the run stops (waiting for its workers), the timer stops
  // and the window hides; RunModal returns once the final event has come.
  void Cancel();
  bool Running() const { return FRun != nullptr; }

  void ShowProgress(const TJobProgress& progress);
  // The run holds a newer picture (its PreviewFrame); the next tick draws it.
  void FrameArrived() { FFrameArrived = true; }
  // A job ran to its end: the bar shows 100.
  void ShowJobFinished();
  bool OpenFolderAfterRun() const;
  bool ShutDownAfterRun() const;

  // The preview area as shown now, 372 x 210 with its margins.
  QImage PreviewPicture() const;
  // Where a frame of `frame` pixels is drawn in a box of `box` pixels: as large as fits with
  // its proportions kept, centred (insets rounded to the nearest whole pixel).
  static QRect PreviewPlacement(QSize frame, QSize box);

  // Controls, for the main window's tests and the program's own use.
  QPushButton* PauseButton() const { return FPause; }
  QPushButton* ResumeButton() const { return FResume; }
  QPushButton* CancelButton() const { return FCancel; }
  QToolButton* SnapshotButton() const { return FSnapshot; }
  QCheckBox* OpenFolderBox() const { return FOpenFolder; }
  QCheckBox* ShutDownBox() const { return FShutDown; }
  QProgressBar* Bar() const { return FBar; }
  // "Current Time", "Length", "File Size", "Progress", "File".
  QString ValueText(const QString& caption) const;

  // The last snapshot the button wrote (for tests).
  std::vector<std::string> LastSnapshotFiles;

 signals:
  // A progress report was shown; emitted while the job that sent it waits for the window.
  void ProgressShown(const TJobProgress& progress);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  class TPreview;
  void Tick();
  void TakeSnapshot();

  const TGlobalObject& FGlobal;
  TUserDialogs& FDialogs;
  TConversionRun* FRun = nullptr;
  QEventLoop* FLoop = nullptr;
  bool FFinalEvent = false;
  bool FFrameArrived = false;
  QTimer FTimer;
  TPreview* FPreview = nullptr;
  QLabel *FCurrentTime, *FLength, *FFileSize, *FProgress, *FFile;
  QProgressBar* FBar;
  QCheckBox *FShutDown, *FOpenFolder;
  QPushButton *FPause, *FResume, *FCancel;
  QToolButton* FSnapshot;
};
