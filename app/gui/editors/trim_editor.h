// TfrmTrim: the modal dialog in which the user chooses the part of a title to convert. The
// title plays in an embedded player; two marks on the range bar give the start and end
// second; Ok stores them in the row's record (TrimStart, TrimLength, microseconds) and the
// length in seconds in the row's "Trim Length" cell.
//
// Threads: main thread. The player's file-open, position and state events arrive there.
#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>

#include "app/gui/editors/editor_title.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class TMediaPlayer;
class TTrackBar2;
class TVideoWidget;

class TfrmTrim : public QDialog {
 public:
  static constexpr int kBarLeft = 32, kBarTop = 473, kBarWidth = 838, kBarHeight = 20;
  static constexpr int kGlyph = 16;  // width of a mark's glyph
  static constexpr int kHalfGlyph = 8;

  explicit TfrmTrim(QWidget* parent = nullptr);
  ~TfrmTrim() override;

  // Opens the row's title and shows the dialog modally. Returns the dialog's result.
  int Edit(const TEditorTitle& title);
  // Opens the title and fills the controls without entering the dialog's own loop (the
  // caller shows it). False when the title could not be opened.
  bool Prepare(const TEditorTitle& title);

  // ---- State, as the controls show it ----
  int64_t StartSecond() const { return FStartSecond; }
  int64_t EndSecond() const { return FEndSecond; }
  int64_t DurationSeconds() const { return FDurationSeconds; }
  int32_t StartMark() const { return FStartMark; }
  int32_t EndMark() const { return FEndMark; }
  int32_t MarkRange() const { return FMarkRange; }
  bool Opened() const { return FOpened; }

  // What the marks do, for a caller that knows the seconds (a record, a test): sets both
  // seconds and places the marks on them.
  void SetRange(int64_t startSecond, int64_t endSecond);
  // The player's file-open report: the title's length in microseconds.
  void TitleOpened(int64_t durationMicros);

  // ---- Controls (objectName in brackets) ----
  TTrackBar2* PositionBar() const { return FRange; }       // "trcPosition", the range bar
  TTrackBar2* PreviewBar() const { return FPreview; }      // "trcPreview"
  QLineEdit* StartBox() const { return FStartBox; }        // "edtStart"
  QLineEdit* EndBox() const { return FEndBox; }            // "edtTrimLength"
  QLabel* TimeLabel() const { return FTime; }              // "lblTime"
  QLabel* DurationLabel() const { return FDuration; }      // "lblPTS"
  QPushButton* OkButton() const { return FOk; }            // "btnOk"
  QPushButton* DefaultButton() const { return FDefault; }  // "btnDefault"
  QPushButton* CancelButton() const { return FCancel; }    // "btnCancel"
  TVideoWidget* Picture() const { return FPicture; }       // "previewPanel"

  // Ok: checks and stores; the dialog stays open when the values are refused.
  void Accept();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void RangePressed(int x);
  void RangeMoved(int x);
  void ShowSeconds();
  void SetButtons(bool play, bool pause, bool stop);
  void Play();
  void PauseClicked();
  void StopClicked();
  void Default();
  void PlayerPosition(int64_t pts);
  void PlayerState(int state);
  void Finish();

  TEditorTitle FTitle;
  std::unique_ptr<TMediaPlayer> FPlayer;
  TVideoWidget* FPicture = nullptr;
  TTrackBar2* FPreview = nullptr;
  TTrackBar2* FRange = nullptr;
  QToolButton *FPlay = nullptr, *FPause = nullptr, *FStop = nullptr;
  QLineEdit *FStartBox = nullptr, *FEndBox = nullptr;
  QLabel *FTime = nullptr, *FDuration = nullptr;
  QPushButton *FDefault = nullptr, *FOk = nullptr, *FCancel = nullptr;

  int64_t FDurationMicros = 0;
  int64_t FDurationSeconds = 0;
  int64_t FStartSecond = 0, FEndSecond = 0;
  int32_t FStartMark = 0, FEndMark = 0, FMarkRange = kBarWidth - kGlyph;
  bool FPaused = false, FStopped = true;
  bool FSeekPreview = false, FSeekRange = false;
  bool FOpened = false;
};
