// TfrmMain: the desktop program's one window. It holds the title list, the per-title choices
// (audio track, subtitle, chapter range), the preview panel and its controls, the output-format
// picker and the output folder, the menus and buttons; it gathers the user's input and shows
// state, while app/core decides (opening a disc, the conversion run) and the preview panel
// talks to the player.
//
// Threads: main thread. The conversion run's events reach the window on the main thread
// (media's main-thread queue, served by the Qt event loop through TMainThreadBridge).
#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core/conversion_run.h"
#include "app/core/global_object.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QToolButton;
class TDesktopActions;
class TDriveMenu;
class TFormatPickerBox;
class TfrmPreference;
class TfrmProgress;
class TfrmSettings;
class TPreviewPanel;
class TTitleListModel;
class TTitleListView;
class TTrackBar2;
class TUserDialogs;

class TfrmMain : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kWidth = 914;
  static constexpr int kHeight = 566;

  enum TChapterArrow { caFromUp, caFromDown, caToUp, caToDown };
  enum TEditorKind { ekCrop, ekTrim, ekEffects };

  TfrmMain(TUserDialogs& dialogs, TDesktopActions& desktop, QWidget* parent = nullptr);
  ~TfrmMain() override;

  // ---- What the controls do ----
  // A disc from the drive menu, an image or a folder: the list is cleared, then filled with
  // the disc's titles.
  void OpenDisc(const QString& path);
  void ChooseDiscImage();
  void ChooseDiscFolder();
  void Clear();
  void StartConversion();
  void Play();
  void Pause();
  void Stop();
  void Next();
  void Previous();
  void Snapshot();
  void ToggleMute();
  void ChapterArrow(TChapterArrow arrow);
  void ChooseAudio(int item);
  void ChooseSubtitle(int item);
  void BrowseOutputFolder();
  void OpenOutputFolder();
  // After an editor with volume controls of its own: the volume bar, the mute button and the
  // player take the stored volume and mute again.
  void ReloadVolumeSettings();

  // Editors and dialogs of other parts of the program. Each is called after the preview has
  // been stopped; until one is set, a message says the dialog is not available yet. The
  // window sets OpenSettingsDialog and OpenPreferences to show its own dialogs (modally).
  std::function<void(TEditorKind kind, int row)> OpenEditor;
  std::function<void()> OpenSettingsDialog;
  std::function<void()> OpenPreferences;
  // The two dialogs, made when first needed and kept (hidden) afterwards. When the settings
  // dialog has written its choices, the window's format picker is built again.
  TfrmSettings* SettingsDialog();
  TfrmPreference* PreferencesDialog();

  // ---- State ----
  const TGlobalObject& Global() const { return *FGlobal; }
  const std::string& DrivePath() const { return FDrivePath; }
  bool PreviewStopped() const { return FStopped; }
  bool PreviewPaused() const { return FPaused; }
  bool Seeking() const { return FSeeking; }
  int64_t MediaDuration() const { return FMediaDuration; }
  // The hidden log: loader errors, the player's descriptions, commands started.
  QString LogText() const { return FLog.join(QLatin1Char('\n')); }
  TConversionRun& Run() { return *FRun; }
  TTitleListModel& Model() { return *FModel; }

  // ---- Controls (objectName in brackets) ----
  TTitleListView* List() const { return FList; }                // "lvFiles"
  QComboBox* AudioCombo() const { return FAudio; }              // "cmbAudio"
  QComboBox* SubtitleCombo() const { return FSubtitle; }        // "cmbSubtitle"
  QLineEdit* ChapterFromBox() const { return FChapterFrom; }    // "edtChapterFrom"
  QLineEdit* ChapterToBox() const { return FChapterTo; }        // "edtChapterTo"
  TFormatPickerBox* FormatPicker() const { return FFormat; }    // "formatPicker"
  QLineEdit* OutputFolderBox() const { return FOutputFolder; }  // "edtOutputFolder"
  TTrackBar2* PositionBar() const { return FPositionBar; }      // "trcPreview"
  TTrackBar2* VolumeBar() const { return FVolumeBar; }          // "trcVolume"
  TPreviewPanel* PreviewPanel() const { return FPanel; }        // "previewPanel"
  TDriveMenu* DriveMenu() const { return FDriveMenu; }          // "driveMenu"
  QMenu* EditMenu() const { return FEditMenu; }                 // "editMenu"
  QToolButton* AddButton() const { return FAdd; }               // "btnAdd"
  TfrmProgress* ProgressWindow() const { return FProgress; }
  QLabel* CurrentTimeLabel() const { return FCurrentTime; }
  QLabel* TotalTimeLabel() const { return FTotalTime; }
  QLabel* TitleLabel() const { return FTitleLabel; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class THost;
  void BuildControls();
  void FirstShow();
  void Log(const QString& line);
  void RowSelected(int row);
  void UpdateRowButtons(int row);
  void SetPreviewButtons(bool play, bool pause, bool stop, bool snapshot);
  void ResetTimeLabels();
  void PreviewOpened(qint64 duration, int width, int height, const QString& description);
  void PreviewPosition(qint64 position);
  void PreviewEnded();
  void VolumeChanged(int position);
  void ShowMuted(bool muted);
  void FormatChosen(int code, const QString& name);
  void RunEditor(TEditorKind kind);
  void ShowNotAvailable(const QString& what);
  void ShowAbout();
  void SetRunButtonsEnabled(bool enabled);
  void ShowRunFailures();

  TUserDialogs& FDialogs;
  TDesktopActions& FDesktop;
  std::unique_ptr<TGlobalObject> FGlobal;
  std::unique_ptr<THost> FHost;
  std::unique_ptr<TConversionRun> FRun;
  TTitleListModel* FModel = nullptr;

  // Window state.
  std::string FDrivePath;
  int64_t FMediaDuration = 0;
  bool FSeeking = false;
  int FPreviewRow = -1;  // the row whose title the panel has open
  bool FStopped = true;
  bool FPaused = false;
  bool FMuted = false;
  bool FShownOnce = false;
  bool FClosing = false;        // the close was confirmed
  bool FCloseAfterRun = false;  // a close was confirmed while a run was in progress
  QStringList FLog;
  // Jobs of the current run that failed: caption and reason.
  std::vector<std::pair<std::string, std::string>> FFailures;

  // Controls.
  QLabel* FTitleLabel = nullptr;
  QToolButton *FAdd = nullptr, *FClear = nullptr, *FSettings = nullptr, *FEdit = nullptr,
              *FStartTop = nullptr, *FExit = nullptr;
  QToolButton *FFileMenuButton = nullptr, *FEditMenuButton = nullptr, *FHelpMenuButton = nullptr;
  TTitleListView* FList = nullptr;
  QComboBox *FAudio = nullptr, *FSubtitle = nullptr;
  QLineEdit *FChapterFrom = nullptr, *FChapterTo = nullptr;
  QToolButton* FChapterArrows[4] = {};
  TPreviewPanel* FPanel = nullptr;
  TTrackBar2 *FPositionBar = nullptr, *FVolumeBar = nullptr;
  QLabel *FCurrentTime = nullptr, *FTotalTime = nullptr;
  QToolButton *FPlay = nullptr, *FPause = nullptr, *FStop = nullptr, *FPrevious = nullptr,
              *FNext = nullptr, *FSnapshot = nullptr, *FMute = nullptr;
  TFormatPickerBox* FFormat = nullptr;
  QLineEdit* FOutputFolder = nullptr;
  QPushButton* FStart = nullptr;
  TDriveMenu* FDriveMenu = nullptr;
  QMenu *FFileMenu = nullptr, *FEditMenu = nullptr, *FHelpMenu = nullptr;
  TfrmProgress* FProgress = nullptr;
  TfrmSettings* FSettingsDialog = nullptr;
  TfrmPreference* FPreferences = nullptr;
};
