// TfrmCrop: the modal dialog in which the user sets a title's crop rectangle and its four
// picture adjustments. The left picture shows the source with the crop rectangle over it,
// the right one the result, cropped and adjusted with app/core's routines (the ones the
// conversion uses), refreshed ten times a second. Ok stores everything in the row's record.
//
// Threads: the dialog lives on the main thread. The player's hook runs on its decoding
// thread and only copies the picture into FCaptured under FFrameLock; the refresh timer
// (main thread) takes its copy under the same lock.
#pragma once

#include <QDialog>
#include <atomic>
#include <memory>
#include <mutex>

#include "app/gui/editors/editor_math.h"
#include "app/gui/editors/editor_title.h"
#include "media/bitmap.h"

class QLabel;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTimer;
class QToolButton;
class QPushButton;
class TMediaPlayer;
class TPictureBox;
class TRectTracker;
class TTrackBar2;
class TVideoWidget;

class TfrmCrop : public QDialog {
 public:
  static constexpr int kPictureWidth = 420, kPictureHeight = 303;

  explicit TfrmCrop(QWidget* parent = nullptr);
  ~TfrmCrop() override;

  // Opens the row's title and shows the dialog modally; returns the dialog's result.
  int Edit(const TEditorTitle& title);
  // Opens the title and fills the controls without entering the dialog's own loop (the
  // caller shows it). False when the title could not be opened.
  bool Prepare(const TEditorTitle& title);

  // ---- State ----
  QRect PictureArea() const { return FArea; }  // in the dialog's coordinates
  int SourceWidth() const { return FSourceWidth; }
  int SourceHeight() const { return FSourceHeight; }
  TCropSpins Spins() const;
  TSourceCrop SourceCrop() const { return FSourceCrop; }
  // The picture last shown on the right (cropped and adjusted) and its time (microseconds,
  // -1 before the first).
  TBitmap OutputFrame() const;
  int64_t OutputPTS() const { return FOutputPTS; }
  // Pauses or resumes taking the player's pictures (the preview keeps its last one).
  void SetCapturing(bool on) { FCapture = on; }
  // Redraws both pictures from the last captured one (the timer's work).
  void Refresh();
  // Sets the four adjustments (the bars clamp them to their ranges).
  void SetAdjustments(int brightness, int contrast, int saturation, int exposure);

  // ---- Controls (objectName in brackets) ----
  TRectTracker* Tracker() const { return FTracker; }   // "RectTracker"
  QSpinBox* UpSpin() const { return FUp; }             // "spedUp"
  QSpinBox* LeftSpin() const { return FLeft; }         // "spedLeft"
  QSpinBox* DownSpin() const { return FDown; }         // "spedDown"
  QSpinBox* RightSpin() const { return FRight; }       // "spedRight"
  QSlider* BrightnessBar() const { return FBars[0]; }  // "trcBrightness"
  QSlider* ContrastBar() const { return FBars[1]; }    // "trcContrast"
  QSlider* SaturationBar() const { return FBars[2]; }  // "trcSaturation"
  QSlider* ExposureBar() const { return FBars[3]; }    // "trcExposure"
  TPictureBox* SourcePicture() const { return FSource; }
  TPictureBox* OutputPicture() const { return FOutput; }
  QPushButton* OkButton() const { return FOk; }
  QTabWidget* Tabs() const { return FTabs; }

  void Accept();
  void ResetCrop();
  void ResetEffects();
  // The spin handlers (the arrows): the up/down pair and the left/right pair.
  void SpinChanged(QSpinBox* spin, int value);

 private:
  void BuildControls();
  void TrackerPressed();
  void TrackerMoved();
  void TrackerReleased();
  void PlaceTracker();
  void SetSpinsQuietly(const TCropSpins& spins);
  void UpdateSourceCrop();
  void Finish();

  TEditorTitle FTitle;
  std::unique_ptr<TMediaPlayer> FPlayer;
  TVideoWidget* FHiddenPanel = nullptr;
  TPictureBox *FSource = nullptr, *FOutput = nullptr;
  TRectTracker* FTracker = nullptr;
  QTabWidget* FTabs = nullptr;
  QSpinBox *FUp = nullptr, *FLeft = nullptr, *FDown = nullptr, *FRight = nullptr;
  QSlider* FBars[4] = {};
  QSpinBox* FBarSpins[4] = {};
  TTrackBar2* FVolume = nullptr;
  QLabel *FTime = nullptr, *FDuration = nullptr;
  QToolButton *FPlay = nullptr, *FPause = nullptr, *FStop = nullptr;
  QPushButton *FOk = nullptr, *FCancel = nullptr, *FDefault = nullptr;
  QTimer* FTimer = nullptr;

  QRect FArea;
  int FSourceWidth = 0, FSourceHeight = 0;
  TSourceCrop FSourceCrop;
  TCropSpins FLastSpins;
  QRect FAnchor;
  bool FMoving = false;
  bool FUpdatingFromRect = false;
  bool FHasVideo = false;

  mutable std::mutex FFrameLock;  // FCaptured, FCapturedPTS
  TBitmap FCaptured;
  int64_t FCapturedPTS = -1;
  std::atomic<bool> FCapture{false};

  TBitmap FOutputFrame;  // main thread
  int64_t FOutputPTS = -1;
};
