#include "app/gui/main_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>
#include <filesystem>

#include "app/gui/about_box.h"
#include "app/gui/app_style.h"
#include "app/gui/desktop_actions.h"
#include "app/gui/drive_menu.h"
#include "app/gui/error_handler.h"
#include "app/gui/folder_chooser.h"
#include "app/gui/format_picker_box.h"
#include "app/gui/preferences_dialog.h"
#include "app/gui/preview_panel.h"
#include "app/gui/previewer.h"
#include "app/gui/progress_window.h"
#include "app/gui/settings_dialog.h"
#include "app/gui/snapshot.h"
#include "app/gui/title_list_model.h"
#include "app/gui/title_list_view.h"
#include "app/gui/track_bar.h"
#include "app/gui/user_dialogs.h"
#include "app/gui/web_addresses.h"
#include "dvd/disc_opener.h"
#include "dvd/dvd_drives.h"
#include "dvd/dvd_plugin_loader.h"

namespace {

namespace fs = std::filesystem;

const QString kZeroTime = QStringLiteral("00:00:00");
const QString kTimeSeparator = QStringLiteral(" / ");

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

// H:MM:SS of rounded seconds, hours not padded.
QString ClockText(int64_t micros) {
  return Text(FormatTitleSeconds(std::round(double(std::max<int64_t>(micros, 0)) / 1e6)));
}

// `role` picks the button's look in the style sheet.
QToolButton* ToolButton(QWidget* parent, const char* name, const QString& text, const char* icon,
                        const char* role = "toolbar") {
  auto* button = new QToolButton(parent);
  button->setObjectName(QLatin1String(name));
  button->setProperty("role", QLatin1String(role));
  button->setText(text);
  if (icon) button->setIcon(AppIcon(QLatin1String(icon)));
  button->setToolButtonStyle(text.isEmpty() ? Qt::ToolButtonIconOnly
                                            : Qt::ToolButtonTextBesideIcon);
  button->setAutoRaise(false);
  return button;
}

QToolButton* PreviewButton(QWidget* parent, const char* name, const char* hint, const char* icon) {
  QToolButton* button = ToolButton(parent, name, QString(), icon, "preview");
  button->setToolTip(QLatin1String(hint));
  button->setIconSize(QSize(18, 18));
  return button;
}

QLabel* Caption(const QString& text, QWidget* buddy, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(buddy);
  label->setObjectName(QStringLiteral("fieldCaption"));
  return label;
}

// The modern look of the two bars: a rounded groove filled up to the thumb, a round thumb.
void StyleBar(TTrackBar2* bar) {
  bar->SetTrackStyle(trUserDrawn);
  bar->SetThumbStyle(tsUserDrawn);
  bar->SetTickStyle(tiUserDrawn);  // no ticks: nothing draws them
  bar->SetThumbSize(14);
  bar->SetTrackSize(4);
  bar->OnDrawTrack = [](TTrackBar2* sender, QPainter& p) {
    const QRect track = sender->TrackRect();
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(205, 213, 228));
    p.drawRoundedRect(QRectF(track), 2, 2);
    const int range = std::max(1, sender->Max() - sender->Min());
    QRectF done = track;
    done.setWidth(double(track.width()) * (sender->PositionL() - sender->Min()) / range);
    p.setBrush(sender->isEnabled() ? app_colors::kAccentLight : QColor(190, 198, 212));
    p.drawRoundedRect(done, 2, 2);
    p.restore();
  };
  bar->OnDrawThumb = [](TTrackBar2* sender, QPainter& p, int x, int y) {
    const int size = sender->ThumbSize();
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(sender->isEnabled() ? app_colors::kAccent : QColor(160, 168, 184), 1.5));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(x + 1.5, y + 1.5, size - 3, size - 3));
    p.restore();
  };
  // The filled part of the groove follows the thumb, so a move repaints the whole bar.
  bar->OnChange = [](TTrackBar2* sender) { sender->update(); };
  bar->setFixedHeight(20);
  bar->setFocusPolicy(Qt::NoFocus);
}

}  // namespace

// ---- The conversion run's host ---------------------------------------------------------------

class TfrmMain::THost : public TConversionHost {
 public:
  explicit THost(TfrmMain& window) : FWindow(window) {}

  void ShowWarning(const std::string& text, const std::string& caption) override {
    FWindow.FDialogs.ShowMessage(ParentWindow(), Text(text), Text(caption), miWarn);
  }
  bool AskYesNo(const std::string& text, const std::string& caption) override {
    return FWindow.FDialogs.ShowMessage(ParentWindow(), Text(text), Text(caption), miAsk,
                                        mbYesNo) == maYes;
  }
  void RunProgressModal(TConversionRun& run) override {
    // Each job shows the picture it converts in a floating window of its own.
    for (int job = 0; job < run.Converter().TaskCount(); ++job)
      if (TTranscoderPtr transcoder = run.Converter().Task(job))
        transcoder->PreviewWindowFactory = MakePreviewerFactory(FWindow.FProgress);
    FWindow.FProgress->RunModal(run);
  }
  void CloseProgress() override { FWindow.FProgress->CloseByFinalEvent(); }
  void ShowProgress(const TJobProgress& p) override {
    // The row's cell first: whoever watches the progress window sees the list already agree.
    FWindow.FModel->SetProgressText(p.Row, p.CellText);
    FWindow.FProgress->ShowProgress(p);
  }
  void ShowPreviewFrame(const TBitmap&) override { FWindow.FProgress->FrameArrived(); }
  void JobFinished(int, int row) override {
    FWindow.FModel->SetProgressText(row, "100%");
    FWindow.FProgress->ShowJobFinished();
  }
  void JobEnded(const TTerminateInfo& info, int row) override {
    FWindow.Log(QStringLiteral("Job %1 %2%3")
                    .arg(info.JobIndex + 1)
                    .arg(info.Failed     ? QStringLiteral("failed")
                         : info.Finished ? QStringLiteral("finished")
                                         : QStringLiteral("stopped"))
                    .arg(info.ErrorMessage.empty()
                             ? QString()
                             : QStringLiteral(": ") + Text(info.ErrorMessage)));
    if (!info.Failed) return;
    const auto& files = FWindow.FRun->OutputFiles();
    std::string caption = row >= 0 && row < int(FWindow.FModel->Rows().size())
                              ? FWindow.FModel->Row(row).Caption
                              : "Job " + std::to_string(info.JobIndex + 1);
    FWindow.FFailures.emplace_back(caption, info.ErrorMessage);
    FWindow.FModel->SetProgressText(row, "Failed");
    // A job that failed before writing anything leaves no empty file behind.
    if (info.JobIndex >= 0 && info.JobIndex < int(files.size())) {
      std::error_code error;
      const std::string& file = files[size_t(info.JobIndex)];
      if (fs::is_regular_file(file, error) && fs::file_size(file, error) == 0)
        fs::remove(file, error);
    }
  }
  void RunEnded() override { FWindow.SetRunButtonsEnabled(true); }
  bool OpenFolderAfterRun() override { return FWindow.FProgress->OpenFolderAfterRun(); }
  bool ShutDownAfterRun() override { return FWindow.FProgress->ShutDownAfterRun(); }
  void OpenOutputFolder(const std::string& dir) override {
    FWindow.FDesktop.OpenFolder(Text(dir));
    FWindow.Log(QStringLiteral("Opened the output folder ") + Text(dir));
  }
  void ShutDownComputer() override {
    FWindow.Log(QStringLiteral("Shutting the computer down"));
    FWindow.FDesktop.ShutDown();
  }
  bool ShowsPreviewWindow() override { return true; }

 private:
  QWidget* ParentWindow() const {
    return FWindow.FProgress && FWindow.FProgress->isVisible()
               ? static_cast<QWidget*>(FWindow.FProgress)
               : &FWindow;
  }
  TfrmMain& FWindow;
};

// ---- Creation --------------------------------------------------------------------------------

TfrmMain::TfrmMain(TUserDialogs& dialogs, TDesktopActions& desktop, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint),
      FDialogs(dialogs),
      FDesktop(desktop),
      FGlobal(CreateGlobalObject()) {
  setObjectName(QStringLiteral("frmMain"));
  FGlobal->SetHelpUrl(HelpReadmeUrl(Text(FGlobal->WebSiteUrl())).toStdString());
  TApplication::SetTitle(Text(FGlobal->AppTitle()));
  setWindowTitle(Text(FGlobal->AppTitle()));
  setWindowIcon(ProgramIcon());

  FModel = new TTitleListModel(this);
  FHost = std::make_unique<THost>(*this);
  FRun = std::make_unique<TConversionRun>(*FGlobal, *FHost);
  BuildControls();
  OpenSettingsDialog = [this] { SettingsDialog()->exec(); };
  OpenPreferences = [this] { PreferencesDialog()->exec(); };

  std::string error;
  if (!FPanel->LoadLibraries(error)) Log(Text(error));
}

TfrmMain::~TfrmMain() {
  // The run's jobs stop (waiting) before the rows and the window they report to go away.
  FRun.reset();
}

void TfrmMain::Log(const QString& line) {
  FLog << line;
}

void TfrmMain::BuildControls() {
  // Header: the title and the menu buttons.
  auto* header = new QFrame(this);
  header->setObjectName(QStringLiteral("header"));
  auto* logo = new QLabel(header);
  logo->setPixmap(ProgramIcon().pixmap(30, 30));
  FTitleLabel = new QLabel(header);
  FTitleLabel->setObjectName(QStringLiteral("titleLabel"));
  FTitleLabel->setTextFormat(Qt::PlainText);

  FFileMenu = new QMenu(QStringLiteral("File"), this);
  FFileMenu->setObjectName(QStringLiteral("fileMenu"));
  FEditMenu = new QMenu(QStringLiteral("Edit"), this);
  FEditMenu->setObjectName(QStringLiteral("editMenu"));
  // The window system knows the menu by its title (the whole-program test waits for it).
  FEditMenu->setWindowTitle(FEditMenu->title());
  FHelpMenu = new QMenu(QStringLiteral("Help"), this);
  FHelpMenu->setObjectName(QStringLiteral("helpMenu"));
  FDriveMenu = new TDriveMenu(this);

  const auto menuButton = [header](const char* name, const QString& text, const char* icon,
                                   QMenu* menu) {
    QToolButton* button = ToolButton(header, name, text, icon, "menu");
    button->setIconSize(QSize(16, 16));
    button->setFocusPolicy(Qt::NoFocus);
    if (menu) {
      button->setMenu(menu);
      button->setPopupMode(QToolButton::InstantPopup);
    }
    return button;
  };
  FFileMenuButton = menuButton("btnFileMenu", QStringLiteral("File"), "file", FFileMenu);
  FEditMenuButton = menuButton("btnEditMenu", QStringLiteral("Edit"), "edit", FEditMenu);
  QToolButton* preference =
      menuButton("btnPreference", QStringLiteral("&Preference"), "preference", nullptr);
  FHelpMenuButton = menuButton("btnHelpMenu", QStringLiteral("Help"), "help", FHelpMenu);
  QToolButton* website = menuButton("btnWebsite", QStringLiteral("Website"), "website", nullptr);

  auto* headerLayout = new QHBoxLayout(header);
  headerLayout->setContentsMargins(14, 8, 14, 8);
  headerLayout->setSpacing(6);
  headerLayout->addWidget(logo);
  headerLayout->addWidget(FTitleLabel);
  headerLayout->addStretch(1);
  for (QToolButton* button :
       {FFileMenuButton, FEditMenuButton, preference, FHelpMenuButton, website})
    headerLayout->addWidget(button);
  // Tool bar, with the share buttons at its right end.
  auto* toolbar = new QHBoxLayout;
  toolbar->setSpacing(6);
  auto* shareCaption = new QLabel(QStringLiteral("Share:"), this);
  shareCaption->setObjectName(QStringLiteral("fieldCaption"));
  auto* shares = new QHBoxLayout;
  shares->setSpacing(2);
  shares->addWidget(shareCaption);
  shares->addSpacing(4);
  for (const TShareService& service : ShareServices()) {
    QToolButton* share = ToolButton(this, service.Icon, QString(), service.Icon, "share");
    share->setToolTip(QLatin1String(service.Hint));
    share->setIconSize(QSize(18, 18));
    share->setFocusPolicy(Qt::NoFocus);
    const TShareService* s = &service;
    connect(share, &QToolButton::clicked, this, [this, s] {
      FDesktop.OpenUrl(ShareUrl(*s, Text(FGlobal->WebSiteUrl()), Text(FGlobal->AppTitle())));
    });
    shares->addWidget(share);
  }

  FAdd = ToolButton(this, "btnAdd", QStringLiteral("&Add DVD"), "add_dvd");
  FAdd->setMenu(FDriveMenu);
  FAdd->setPopupMode(QToolButton::InstantPopup);
  FClear = ToolButton(this, "btnClear", QStringLiteral("&Clear"), "clear");
  FSettings = ToolButton(this, "btnSettings", QStringLiteral("Se&ttings"), "settings");
  FEdit = ToolButton(this, "btnEdit", QStringLiteral("&Edit"), "edit");
  FEdit->setMenu(FEditMenu);
  FEdit->setPopupMode(QToolButton::InstantPopup);
  FStartTop = ToolButton(this, "btnStartTop", QStringLiteral("Start"), "start");
  FExit = ToolButton(this, "btnExit", QStringLiteral("E&xit"), "exit");
  for (QToolButton* button : {FAdd, FClear, FSettings, FEdit, FStartTop, FExit}) {
    button->setIconSize(QSize(20, 20));
    toolbar->addWidget(button);
  }
  toolbar->addStretch(1);
  toolbar->addLayout(shares);

  // The title list and the per-title choices.
  FList = new TTitleListView(this);
  FList->setObjectName(QStringLiteral("lvFiles"));
  FList->setModel(FModel);
  FAudio = new QComboBox(this);
  FAudio->setObjectName(QStringLiteral("cmbAudio"));
  FSubtitle = new QComboBox(this);
  FSubtitle->setObjectName(QStringLiteral("cmbSubtitle"));
  for (QComboBox* combo : {FAudio, FSubtitle}) {
    combo->setItemDelegate(new TTrackItemDelegate(combo));
    combo->setMinimumWidth(130);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(10);
  }
  FChapterFrom = new QLineEdit(this);
  FChapterFrom->setObjectName(QStringLiteral("edtChapterFrom"));
  FChapterTo = new QLineEdit(this);
  FChapterTo->setObjectName(QStringLiteral("edtChapterTo"));
  const char* arrowNames[4] = {"btnFromUp", "btnFromDown", "btnToUp", "btnToDown"};
  for (int i = 0; i < 4; ++i) {
    QToolButton* arrow =
        ToolButton(this, arrowNames[i], QString(), i % 2 == 0 ? "up" : "down", "arrow");
    arrow->setIconSize(QSize(12, 12));
    arrow->setAutoRepeat(true);
    arrow->setAutoRepeatDelay(300);
    arrow->setAutoRepeatInterval(100);
    arrow->setToolTip(i < 2 ? QStringLiteral("First chapter") : QStringLiteral("Last chapter"));
    arrow->setFocusPolicy(Qt::NoFocus);
    FChapterArrows[i] = arrow;
    connect(arrow, &QToolButton::clicked, this, [this, i] { ChapterArrow(TChapterArrow(i)); });
  }
  const auto chapterBox = [this](QLineEdit* box, QToolButton* up, QToolButton* down) {
    box->setReadOnly(true);
    box->setAlignment(Qt::AlignCenter);
    box->setFixedWidth(44);
    auto* arrows = new QVBoxLayout;
    arrows->setSpacing(0);
    arrows->setContentsMargins(0, 0, 0, 0);
    up->setFixedSize(20, 13);
    down->setFixedSize(20, 13);
    arrows->addWidget(up);
    arrows->addWidget(down);
    auto* row = new QHBoxLayout;
    row->setSpacing(2);
    row->addWidget(box);
    row->addLayout(arrows);
    return row;
  };
  auto* choices = new QGridLayout;
  choices->setHorizontalSpacing(8);
  choices->setVerticalSpacing(6);
  choices->addWidget(Caption(QStringLiteral("A&udio:"), FAudio, this), 0, 0);
  choices->addWidget(FAudio, 0, 1);
  choices->addWidget(Caption(QStringLiteral("Su&btitle:"), FSubtitle, this), 0, 2);
  choices->addWidget(FSubtitle, 0, 3);
  auto* chapters = new QHBoxLayout;
  chapters->setSpacing(8);
  chapters->addLayout(
      chapterBox(FChapterFrom, FChapterArrows[caFromUp], FChapterArrows[caFromDown]));
  chapters->addWidget(new QLabel(QStringLiteral("to"), this));
  chapters->addLayout(chapterBox(FChapterTo, FChapterArrows[caToUp], FChapterArrows[caToDown]));
  chapters->addStretch(1);
  choices->addWidget(Caption(QStringLiteral("Chapters:"), nullptr, this), 1, 0);
  choices->addLayout(chapters, 1, 1, 1, 3);
  choices->setColumnStretch(1, 1);
  choices->setColumnStretch(3, 1);
  auto* left = new QVBoxLayout;
  left->setSpacing(8);
  left->addWidget(FList, 1);
  left->addLayout(choices);

  // The preview.
  FPanel = new TPreviewPanel(this);
  FPositionBar = new TTrackBar2(this);
  FPositionBar->setObjectName(QStringLiteral("trcPreview"));
  StyleBar(FPositionBar);
  FVolumeBar = new TTrackBar2(this);
  FVolumeBar->setObjectName(QStringLiteral("trcVolume"));
  StyleBar(FVolumeBar);
  FVolumeBar->setFixedWidth(96);
  FVolumeBar->OnChange = [this](TTrackBar2* bar) {
    bar->update();
    VolumeChanged(bar->PositionL());
  };
  FCurrentTime = new QLabel(kZeroTime + kTimeSeparator, this);
  FCurrentTime->setObjectName(QStringLiteral("lblCurrentTime"));
  FTotalTime = new QLabel(kZeroTime, this);
  FTotalTime->setObjectName(QStringLiteral("lblTotalTime"));
  FPlay = PreviewButton(this, "btnPlay", "Play", "play");
  FPause = PreviewButton(this, "btnPause", "Pause", "pause");
  FStop = PreviewButton(this, "btnStop", "Stop", "stop");
  FPrevious = PreviewButton(this, "btnPrevious", "Previous", "previous");
  FNext = PreviewButton(this, "btnNext", "Next", "next");
  FSnapshot = PreviewButton(this, "btnSnapshot", "Snapshot", "snapshot");
  FMute = PreviewButton(this, "btnMute", "Mute", "volume");
  auto* times = new QHBoxLayout;
  times->setSpacing(0);
  times->addWidget(FCurrentTime);
  times->addWidget(FTotalTime);
  times->addStretch(1);
  auto* controls = new QHBoxLayout;
  controls->setSpacing(4);
  for (QToolButton* button : {FPlay, FPause, FStop, FPrevious, FNext, FSnapshot})
    controls->addWidget(button);
  controls->addStretch(1);
  controls->addWidget(FMute);
  controls->addWidget(FVolumeBar);
  // The preview column is as wide as the panel; the bar's own size hint does not widen it.
  FPositionBar->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  auto* right = new QVBoxLayout;
  right->setSpacing(4);
  right->addWidget(FPanel);
  right->addWidget(FPositionBar);
  right->addLayout(times);
  right->addLayout(controls);
  right->addStretch(1);

  auto* middle = new QHBoxLayout;
  middle->setSpacing(14);
  middle->addLayout(left, 1);
  middle->addLayout(right);

  // Output: format and folder, and the big Start button.
  auto* bottom = new QFrame(this);
  bottom->setObjectName(QStringLiteral("outputPanel"));
  FFormat = new TFormatPickerBox(TFormatPickerBox::odUpward, bottom);
  FFormat->setObjectName(QStringLiteral("formatPicker"));
  FFormat->MovePointerOnOpen = true;
  FFormat->ChosenNameSource = [this] { return Text(FGlobal->Settings().FormatName()); };
  auto* formatSettings = new QPushButton(QStringLiteral("Settin&gs"), bottom);
  formatSettings->setObjectName(QStringLiteral("btnFormatSettings"));
  formatSettings->setIcon(AppIcon(QStringLiteral("settings")));
  FOutputFolder = new QLineEdit(bottom);
  FOutputFolder->setObjectName(QStringLiteral("edtOutputFolder"));
  FOutputFolder->setReadOnly(true);
  auto* browse = new QPushButton(QStringLiteral("B&rowse"), bottom);
  browse->setObjectName(QStringLiteral("btnBrowse"));
  browse->setIcon(AppIcon(QStringLiteral("folder")));
  auto* open = new QPushButton(QStringLiteral("&Open"), bottom);
  open->setObjectName(QStringLiteral("btnOpen"));
  open->setIcon(AppIcon(QStringLiteral("folder_open")));
  FStart = new QPushButton(QStringLiteral("&Start"), bottom);
  FStart->setObjectName(QStringLiteral("btnStart"));
  FStart->setIcon(AppIcon(QStringLiteral("start_white")));
  FStart->setIconSize(QSize(24, 24));
  FStart->setMinimumSize(132, 60);
  auto* output = new QGridLayout(bottom);
  output->setContentsMargins(14, 10, 14, 10);
  output->setHorizontalSpacing(8);
  output->setVerticalSpacing(8);
  output->addWidget(Caption(QStringLiteral("Output &format:"), FFormat->TextBox(), bottom), 0, 0);
  output->addWidget(FFormat, 0, 1);
  output->addWidget(formatSettings, 0, 2, 1, 2);
  output->addWidget(Caption(QStringLiteral("Output fol&der:"), FOutputFolder, bottom), 1, 0);
  output->addWidget(FOutputFolder, 1, 1);
  output->addWidget(browse, 1, 2);
  output->addWidget(open, 1, 3);
  output->addWidget(FStart, 0, 4, 2, 1);
  output->setColumnStretch(1, 1);
  output->setColumnMinimumWidth(4, 150);

  auto* body = new QVBoxLayout;
  body->setContentsMargins(14, 10, 14, 12);
  body->setSpacing(10);
  body->addLayout(toolbar);
  body->addLayout(middle, 1);
  body->addWidget(bottom);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(header);
  layout->addLayout(body, 1);

  // Menus.
  FFileMenu->addAction(AppIcon(QStringLiteral("add_dvd")), QStringLiteral("&Add"), this, [this] {
    // After the File menu has closed, as the Add button does.
    QTimer::singleShot(0, FAdd, &QToolButton::showMenu);
  });
  FFileMenu->addAction(AppIcon(QStringLiteral("clear")), QStringLiteral("&Clear"), this,
                       &TfrmMain::Clear);
  FFileMenu->addAction(AppIcon(QStringLiteral("settings")), QStringLiteral("Se&ttings"), this,
                       [this] {
                         Stop();
                         if (OpenSettingsDialog)
                           OpenSettingsDialog();
                         else
                           ShowNotAvailable(QStringLiteral("The output settings dialog"));
                       });
  FFileMenu->addAction(AppIcon(QStringLiteral("start")), QStringLiteral("&Start"), this,
                       &TfrmMain::StartConversion);
  FFileMenu->addSeparator();
  FFileMenu->addAction(AppIcon(QStringLiteral("exit")), QStringLiteral("&Exit"), this,
                       &QWidget::close);
  QAction* crop =
      FEditMenu->addAction(QStringLiteral("&Crop"), this, [this] { RunEditor(ekCrop); });
  QAction* trim =
      FEditMenu->addAction(QStringLiteral("&Trim"), this, [this] { RunEditor(ekTrim); });
  QAction* effects = FEditMenu->addAction(QStringLiteral("&Video Effect && Water Mark"), this,
                                          [this] { RunEditor(ekEffects); });
  connect(FEditMenu, &QMenu::aboutToShow, this, [this, crop, trim, effects] {
    const bool enabled = !FModel->Empty() && FList->SelectedRow() >= 0;
    for (QAction* action : {crop, trim, effects}) action->setEnabled(enabled);
  });
  FHelpMenu->addAction(AppIcon(QStringLiteral("help")), QStringLiteral("&Help"), this,
                       [this] { FDesktop.OpenUrl(Text(FGlobal->HelpUrl())); });
  FHelpMenu->addAction(QStringLiteral("&Support and Contact"), this,
                       [this] { FDesktop.OpenUrl(SupportUrl(Text(FGlobal->WebSiteUrl()))); });
  FHelpMenu->addAction(QStringLiteral("&About"), this, &TfrmMain::ShowAbout);

  // What the controls do.
  connect(FDriveMenu, &TDriveMenu::DriveChosen, this, &TfrmMain::OpenDisc);
  connect(FDriveMenu, &TDriveMenu::OpenImageChosen, this, &TfrmMain::ChooseDiscImage);
  connect(FDriveMenu, &TDriveMenu::OpenFolderChosen, this, &TfrmMain::ChooseDiscFolder);
  connect(FClear, &QToolButton::clicked, this, &TfrmMain::Clear);
  connect(FSettings, &QToolButton::clicked, this, [this] {
    Stop();
    if (OpenSettingsDialog)
      OpenSettingsDialog();
    else
      ShowNotAvailable(QStringLiteral("The output settings dialog"));
  });
  connect(formatSettings, &QPushButton::clicked, this, [this] {
    TSettingsStore settings = FGlobal->Settings();
    FFormat->SaveGroupStates(settings);
    Stop();
    if (OpenSettingsDialog)
      OpenSettingsDialog();
    else
      ShowNotAvailable(QStringLiteral("The output settings dialog"));
  });
  connect(preference, &QToolButton::clicked, this, [this] {
    if (OpenPreferences)
      OpenPreferences();
    else
      ShowNotAvailable(QStringLiteral("The preferences dialog"));
  });
  connect(website, &QToolButton::clicked, this,
          [this] { FDesktop.OpenUrl(Text(FGlobal->WebSiteUrl())); });
  connect(FStartTop, &QToolButton::clicked, this, &TfrmMain::StartConversion);
  connect(FStart, &QPushButton::clicked, this, &TfrmMain::StartConversion);
  connect(FExit, &QToolButton::clicked, this, &QWidget::close);
  connect(FList, &TTitleListView::RowSelected, this, &TfrmMain::RowSelected);
  connect(FList, &TTitleListView::RowDoubleClicked, this, [this] { Play(); });
  connect(FList, &TTitleListView::EditMenuRequested, this,
          [this](QPoint pos) { FEditMenu->popup(pos); });
  connect(FAudio, &QComboBox::activated, this, &TfrmMain::ChooseAudio);
  connect(FSubtitle, &QComboBox::activated, this, &TfrmMain::ChooseSubtitle);
  connect(FPlay, &QToolButton::clicked, this, &TfrmMain::Play);
  connect(FPause, &QToolButton::clicked, this, &TfrmMain::Pause);
  connect(FStop, &QToolButton::clicked, this, &TfrmMain::Stop);
  connect(FNext, &QToolButton::clicked, this, &TfrmMain::Next);
  connect(FPrevious, &QToolButton::clicked, this, &TfrmMain::Previous);
  connect(FSnapshot, &QToolButton::clicked, this, &TfrmMain::Snapshot);
  connect(FMute, &QToolButton::clicked, this, &TfrmMain::ToggleMute);
  connect(browse, &QPushButton::clicked, this, &TfrmMain::BrowseOutputFolder);
  connect(open, &QPushButton::clicked, this, &TfrmMain::OpenOutputFolder);
  connect(FFormat, &TFormatPickerBox::FormatChosen, this, &TfrmMain::FormatChosen);
  connect(FPanel, &TPreviewPanel::FileOpened, this, &TfrmMain::PreviewOpened);
  connect(FPanel, &TPreviewPanel::PositionChanged, this, &TfrmMain::PreviewPosition);
  connect(FPanel, &TPreviewPanel::Ended, this, &TfrmMain::PreviewEnded);

  // The position bar: the mouse position maps onto the bar while the button is held, and a
  // release seeks.
  FPositionBar->OnMouseDown = [this](TTrackBar2*, QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) FSeeking = true;
  };
  FPositionBar->OnMouseMove = [this](TTrackBar2* bar, QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return;
    const int span = std::max(1, bar->width() - 15);
    bar->SetPositionL(int(double(event->position().x()) / span * bar->Max()));
  };
  FPositionBar->installEventFilter(this);
  FVolumeBar->OnMouseMove = [](TTrackBar2* bar, QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return;
    const int span = std::max(1, bar->width() - 20);
    bar->SetPositionL(int(double(event->position().x()) / span * bar->Max()));
  };

  FProgress = new TfrmProgress(*FGlobal, FDialogs, this);

  // Fixed size: as designed, or larger when the desktop's fonts need more room.
  setFixedSize(QSize(kWidth, kHeight).expandedTo(layout->totalMinimumSize()));
}

// ---- Showing ---------------------------------------------------------------------------------

void TfrmMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (FShownOnce) return;
  FShownOnce = true;
  FirstShow();
}

void TfrmMain::FirstShow() {
  // 1. The preview is stopped.
  SetPreviewButtons(true, false, false, false);
  FPositionBar->setEnabled(false);
  FStopped = true;
  FPaused = false;
  ResetTimeLabels();
  UpdateRowButtons(-1);

  // 3. Folders the program can write to.
  CheckFolderSetting(*FGlobal, kKeyOutPutDir);
  CheckFolderSetting(*FGlobal, kKeySnapOutPutDir);
  FOutputFolder->setText(Text(FGlobal->Settings().OutPutDir()));
  FOutputFolder->setCursorPosition(0);

  // 4. Volume and mute as stored.
  ReloadVolumeSettings();

  // 6. Title and version.
  FGlobal->SetVersionText(GetFileVersionText());
  FTitleLabel->setText(Text(FGlobal->AppTitle() + FGlobal->VersionText()).trimmed());

  // 7. The format picker.
  FFormat->BuildFormatList(FGlobal->Settings());

  // 8. Nothing chosen yet; the drives of this machine.
  FAudio->setEnabled(false);
  FSubtitle->setEnabled(false);
  for (QToolButton* arrow : FChapterArrows) arrow->setEnabled(false);
  FDrivePath.clear();
  FDriveMenu->Build(EnumOpticalDrives());

  if (const QScreen* screen = this->screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

void TfrmMain::ReloadVolumeSettings() {
  const TSettingsStore settings = FGlobal->Settings();
  FVolumeBar->SetMin(0);
  FVolumeBar->SetMax(128);
  // A position that differs runs the bar's change handling: the player and the settings
  // take it.
  FVolumeBar->SetPositionL(settings.PreviewVolume());
  FPanel->SetVolume(FVolumeBar->PositionL());
  ShowMuted(settings.Mute());
}

void TfrmMain::ShowMuted(bool muted) {
  FMuted = muted;
  FMute->setIcon(AppIcon(muted ? QStringLiteral("muted") : QStringLiteral("volume")));
  FMute->setToolTip(muted ? QStringLiteral("Unmute") : QStringLiteral("Mute"));
  FPanel->SetMute(muted);
}

// ---- Discs and the list ----------------------------------------------------------------------

namespace {

class TWindowDiscReport : public TDiscOpenerReport {
 public:
  TWindowDiscReport(TUserDialogs& dialogs, QWidget* parent) : FDialogs(dialogs), FParent(parent) {}
  void ShowMessage(const TDiscMessage& message) override {
    FDialogs.ShowMessage(FParent, Text(message.Text), Text(message.Caption),
                         message.Icon == miInformation ? miInfo : miWarn, mbOk,
                         Text(message.Detail));
  }

 private:
  TUserDialogs& FDialogs;
  QWidget* FParent;
};

}  // namespace

void TfrmMain::ChooseDiscImage() {
  const QString start =
      FDrivePath.empty() ? QDir::homePath() : Text(fs::path(FDrivePath).parent_path().string());
  const QString path =
      FDialogs.ChooseFile(this, QStringLiteral("Open DVD image"), start,
                          QStringLiteral("DVD images (*.iso *.ISO *.img *.IMG);;All files (*)"));
  if (!path.isEmpty()) OpenDisc(path);
}

void TfrmMain::ChooseDiscFolder() {
  const QString start = FDrivePath.empty() ? QDir::homePath() : Text(FDrivePath);
  const QString path = FDialogs.ChooseFolder(this, QStringLiteral("Open DVD folder"), start);
  if (!path.isEmpty()) OpenDisc(path);
}

void TfrmMain::OpenDisc(const QString& path) {
  Clear();
  if (!LoadDVDPlugInOnDemand()) {
    Log(Text(DVDPlugInError()));
    return;
  }
  FDrivePath = path.toStdString();
  TWindowDiscReport report(FDialogs, this);
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  TDiscOpenResult result;
  try {
    result = ::OpenDisc(FDrivePath, report);
  } catch (...) {
    QGuiApplication::restoreOverrideCursor();
    throw;
  }
  QGuiApplication::restoreOverrideCursor();
  if (result.Rows.empty()) return;
  FModel->SetRows(std::move(result.Rows));
  // The first row is selected, and the combos and chapter boxes show its title.
  FList->SelectRow(0);
  FList->setFocus(Qt::OtherFocusReason);
  RowSelected(0);
}

void TfrmMain::Clear() {
  if (!FModel->Empty()) {
    FRun->Converter().ClearTasks();
    FModel->Clear();
    FAudio->clear();
    FAudio->setEnabled(false);
    FSubtitle->clear();
    FSubtitle->setEnabled(false);
    FChapterFrom->clear();
    FChapterTo->clear();
    for (QToolButton* arrow : FChapterArrows) arrow->setEnabled(false);
    UpdateRowButtons(-1);
  }
  Stop();
}

void TfrmMain::UpdateRowButtons(int row) {
  FPrevious->setEnabled(row > 0);
  FNext->setEnabled(row >= 0 ? row + 1 < int(FModel->Rows().size()) : !FModel->Empty());
}

void TfrmMain::RowSelected(int row) {
  // The panel only ever shows the selected row's title: another row ends the preview.
  if (row != FPreviewRow && FPanel->IsOpen()) Stop();
  const bool selected = row >= 0 && row < int(FModel->Rows().size());
  for (QToolButton* arrow : FChapterArrows) arrow->setEnabled(selected);
  UpdateRowButtons(selected ? row : -1);
  if (!selected) {
    FAudio->setEnabled(false);
    FSubtitle->setEnabled(false);
    return;
  }
  const TlvFilesRecord& record = FModel->Record(row);
  const TDVDTitleInfo& info = record.TitleInfo;
  FAudio->clear();
  if (info.AudioCount > 0) {
    FAudio->setEnabled(true);
    for (const std::string& item : AudioComboItems(info)) FAudio->addItem(Text(item));
    FAudio->setCurrentIndex(std::clamp(record.AudioIndex, 0, FAudio->count() - 1));
  } else {
    FAudio->setEnabled(false);
  }
  FSubtitle->setEnabled(true);
  FSubtitle->clear();
  for (const std::string& item : SubtitleComboItems(info)) FSubtitle->addItem(Text(item));
  FSubtitle->setCurrentIndex(std::clamp(record.SubtitleIndex, 0, FSubtitle->count() - 1));
  FChapterFrom->setText(QString::number(record.ChapterFrom));
  FChapterTo->setText(QString::number(record.ChapterTo));
}

void TfrmMain::ChooseAudio(int item) {
  const int row = FList->SelectedRow();
  if (row < 0 || item < 0) return;
  TlvFilesRecord& record = FModel->Record(row);
  if (record.TitleInfo.AudioCount <= 0 ||
      item >= std::min(record.TitleInfo.AudioCount, kDVDMaxAudio))
    return;
  record.AudioStreamId = record.TitleInfo.Audio[item].StreamId;
  record.AudioIndex = item;
}

void TfrmMain::ChooseSubtitle(int item) {
  const int row = FList->SelectedRow();
  if (row < 0 || item < 0) return;
  TlvFilesRecord& record = FModel->Record(row);
  const int count = std::min(record.TitleInfo.SubtitleCount, kDVDMaxSubtitles);
  if (count <= 0) return;
  if (item < count) {
    record.SubtitleStreamId = record.TitleInfo.Subtitle[item].StreamId;
    record.SubtitleIndex = item;
  } else if (item == count) {  // "Default"
    record.SubtitleStreamId = 0;
    record.SubtitleIndex = item;
  }
}

void TfrmMain::ChapterArrow(TChapterArrow arrow) {
  const int row = FList->SelectedRow();
  if (row < 0) return;
  TlvFilesRecord& record = FModel->Record(row);
  const int count = record.TitleInfo.ChapterCount;
  const bool fromArrow = arrow == caFromUp || arrow == caFromDown;
  QLineEdit* own = fromArrow ? FChapterFrom : FChapterTo;
  QLineEdit* other = fromArrow ? FChapterTo : FChapterFrom;
  int value = own->text().toInt();
  if (value <= 0) return;
  const bool up = arrow == caFromUp || arrow == caToUp;
  if (up && value < count)
    ++value;
  else if (!up && value > 1 && value <= count)
    --value;
  own->setText(QString::number(value));
  (fromArrow ? record.ChapterFrom : record.ChapterTo) = value;
  // The range never runs backwards: the other end follows.
  const int otherValue = other->text().toInt();
  if (fromArrow ? otherValue < value : value < otherValue) {
    other->setText(QString::number(value));
    (fromArrow ? record.ChapterTo : record.ChapterFrom) = value;
  }
}

// ---- Preview ---------------------------------------------------------------------------------

void TfrmMain::SetPreviewButtons(bool play, bool pause, bool stop, bool snapshot) {
  FPlay->setEnabled(play);
  FPause->setEnabled(pause);
  FStop->setEnabled(stop);
  FSnapshot->setEnabled(snapshot);
}

void TfrmMain::ResetTimeLabels() {
  FCurrentTime->setText(kZeroTime + kTimeSeparator);
  FTotalTime->setText(kZeroTime);
}

void TfrmMain::Play() {
  if (FPaused) {
    FPaused = false;
    FStopped = false;
    SetPreviewButtons(false, true, true, true);
    if (FPanel->IsPaused()) FPanel->Resume();
    return;
  }
  std::string error;
  if (!FPanel->LoadLibraries(error)) {
    Log(Text(error));
    return;
  }
  if (!LoadDVDPlugInOnDemand()) {
    Log(Text(DVDPlugInError()));
    return;
  }
  if (FModel->Empty()) {
    FAdd->showMenu();
    return;
  }
  int row = FList->SelectedRow();
  TDVDParam param;
  if (row < 0) {
    FPreviewRow = 0;
    FList->SelectRow(0);
    FList->setFocus(Qt::OtherFocusReason);
    param = DVDParamForPreview(nullptr);
  } else {
    FPreviewRow = row;
    param = DVDParamForPreview(&FModel->Record(row));
  }
  SetPreviewButtons(false, false, false, false);
  SetDVDParam(param);
  if (!FPanel->Open(std::string(kDVDInputScheme) + ":" + FDrivePath, false)) {
    // Nothing plays: the preview stays stopped and says why.
    Log(QStringLiteral("Preview: ") + Text(FPanel->LastError()));
    SetPreviewButtons(true, false, false, false);
    return;
  }
  FStopped = false;
  FPaused = false;
  FPositionBar->setEnabled(true);
  SetPreviewButtons(false, true, true, true);
}

void TfrmMain::Pause() {
  if (FPaused) return;
  if (!FPanel->IsPaused()) FPanel->Pause();
  FPaused = true;
  FStopped = false;
  SetPreviewButtons(true, false, true, true);
}

void TfrmMain::Stop() {
  // A title that played to its end stays open (paused at its start) while the preview counts
  // as stopped: it is closed here too.
  if (FStopped && !FPanel->IsOpen()) return;
  if (FPanel->IsPaused()) FPanel->Resume();
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  FPanel->Stop(true);
  QGuiApplication::restoreOverrideCursor();
  FPositionBar->SetPositionL(0);
  FPositionBar->setEnabled(false);
  FStopped = true;
  FPaused = false;
  SetPreviewButtons(true, false, false, false);
  ResetTimeLabels();
  FPanel->update();
}

void TfrmMain::Next() {
  const int row = std::max(FList->SelectedRow(), 0);
  if (row + 1 < int(FModel->Rows().size())) {
    Stop();  // a paused title would only resume
    FList->SelectRow(row + 1);
    Play();
  }
  UpdateRowButtons(FList->SelectedRow());
}

void TfrmMain::Previous() {
  const int row = FList->SelectedRow();
  if (row > 0) {
    Stop();
    FList->SelectRow(row - 1);
    Play();
  }
  UpdateRowButtons(FList->SelectedRow());
}

void TfrmMain::PreviewOpened(qint64 duration, int width, int height, const QString& description) {
  Log(description);
  Log(QString::asprintf("duration: %f, frame size: %dx%d", double(duration) / 1e6, width, height));
  FMediaDuration = duration;
  FTotalTime->setText(ClockText(duration));
  FPositionBar->SetMax(FPositionBar->width());
  FSeeking = true;  // setting the bar must not seek
  FPositionBar->SetPositionL(0);
  FSeeking = false;
}

void TfrmMain::PreviewPosition(qint64 position) {
  FCurrentTime->setText(ClockText(position) + kTimeSeparator);
  if (FSeeking || FMediaDuration <= 0) return;
  FPositionBar->SetPositionL(
      int(std::lround(double(FPositionBar->Max()) * double(position) / double(FMediaDuration))));
}

void TfrmMain::PreviewEnded() {
  FPositionBar->SetPositionL(0);
  FPanel->Seek(0, false);
  FPanel->Pause();
  FPaused = false;
  FStopped = true;
  SetPreviewButtons(true, false, false, false);
  FPositionBar->setEnabled(false);
  ResetTimeLabels();
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  // The position bar raises no release event of its own.
  if (watched == FPositionBar && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && FSeeking) {
    const int max = std::max(1, FPositionBar->Max());
    FPanel->Seek(int64_t(double(FPositionBar->PositionL()) / max * double(FMediaDuration)), false);
    // The player's position reports catch up before they move the bar again.
    QTimer::singleShot(300, this, [this] { FSeeking = false; });
  }
  return QWidget::eventFilter(watched, event);
}

void TfrmMain::VolumeChanged(int position) {
  FPanel->SetVolume(position);
  TSettingsStore settings = FGlobal->Settings();
  settings.SetVolume(position);
}

void TfrmMain::ToggleMute() {
  ShowMuted(!FMuted);
  TSettingsStore settings = FGlobal->Settings();
  settings.SetMute(FMuted);
}

void TfrmMain::Snapshot() {
  TBitmap frame;
  if (!FPanel->CurrentFrame(frame) || frame.Width() <= 0) return;
  const QImage full = ImageOf(frame);
  const QImage small = full.scaled(TPreviewPanel::kWidth, TPreviewPanel::kHeight,
                                   Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  const TSnapshotResult result = SaveSnapshot(*FGlobal, full, small, FDialogs, this);
  FDesktop.OpenFolder(Text(result.Folder));
}

// ---- Output ----------------------------------------------------------------------------------

void TfrmMain::FormatChosen(int code, const QString& name) {
  TSettingsStore settings = FGlobal->Settings();
  settings.SetFormatName(name.toStdString());
  settings.SetFormatCode(code);
}

void TfrmMain::BrowseOutputFolder() {
  const std::optional<QString> path = BrowseWritableFolder(FDialogs, this, FOutputFolder->text());
  if (!path) return;
  TSettingsStore settings = FGlobal->Settings();
  settings.SetOutPutDir(path->toStdString());
  FOutputFolder->setText(*path);
  FOutputFolder->setCursorPosition(0);
}

void TfrmMain::OpenOutputFolder() {
  if (FOutputFolder->text().size() > 2) FDesktop.OpenFolder(Text(FGlobal->Settings().OutPutDir()));
}

// ---- The run ---------------------------------------------------------------------------------

void TfrmMain::SetRunButtonsEnabled(bool enabled) {
  for (QWidget* button : {static_cast<QWidget*>(FAdd), static_cast<QWidget*>(FClear),
                          static_cast<QWidget*>(FStart), static_cast<QWidget*>(FStartTop)})
    button->setEnabled(enabled);
}

void TfrmMain::StartConversion() {
  if (FProgress->Running()) return;
  Stop();
  FFailures.clear();
  if (FModel->CheckedCount() > 0)
    for (int row = 0; row < int(FModel->Rows().size()); ++row)
      if (FModel->Checked(row)) FModel->SetProgressText(row, "");
  SetRunButtonsEnabled(false);
  TStartResult result;
  try {
    result = FRun->StartConversion(FDrivePath, FModel->Rows());
  } catch (...) {
    SetRunButtonsEnabled(true);
    throw;
  }
  SetRunButtonsEnabled(true);
  if (result == srAbandoned)
    FDialogs.ShowMessage(this, QStringLiteral("The conversion could not start."),
                         QStringLiteral("Warning"), miWarn, mbOk, Text(FRun->LastError()));
  else if (result == srNoLibraries)
    Log(Text(FRun->Converter().LastError()));
  else if (result == srNoPlugIn)
    Log(Text(DVDPlugInError()));
  ShowRunFailures();
  if (FCloseAfterRun) {
    FClosing = true;
    QTimer::singleShot(0, this, &QWidget::close);
  }
}

void TfrmMain::ShowRunFailures() {
  if (FFailures.empty()) return;
  QString detail;
  for (const auto& [caption, reason] : FFailures)
    detail += Text(caption) + QStringLiteral(": ") + ErrorMessageText(reason) + QLatin1Char('\n');
  FFailures.clear();
  FDialogs.ShowMessage(this, QStringLiteral("The conversion failed."), QStringLiteral("Warning"),
                       miWarn, mbOk, detail.trimmed());
}

// ---- Editors and dialogs ---------------------------------------------------------------------

void TfrmMain::RunEditor(TEditorKind kind) {
  const int row = FList->SelectedRow();
  if (FModel->Empty() || row < 0) return;
  Stop();
  if (OpenEditor) {
    OpenEditor(kind, row);
    FModel->RecordChanged(row);
  } else {
    ShowNotAvailable(kind == ekCrop   ? QStringLiteral("The crop editor")
                     : kind == ekTrim ? QStringLiteral("The trim editor")
                                      : QStringLiteral("The effects and watermark editor"));
  }
  // The crop editor has volume controls of its own.
  if (kind == ekCrop) ReloadVolumeSettings();
}

TfrmSettings* TfrmMain::SettingsDialog() {
  if (!FSettingsDialog) {
    FSettingsDialog = new TfrmSettings(*FGlobal, FDialogs, this);
    connect(FSettingsDialog, &TfrmSettings::Saved, this,
            [this] { FFormat->BuildFormatList(FGlobal->Settings()); });
  }
  return FSettingsDialog;
}

TfrmPreference* TfrmMain::PreferencesDialog() {
  if (!FPreferences) FPreferences = new TfrmPreference(*FGlobal, FDialogs, FDesktop, this);
  return FPreferences;
}

void TfrmMain::ShowNotAvailable(const QString& what) {
  FDialogs.ShowMessage(this, what + QStringLiteral(" is not part of this version yet."),
                       QStringLiteral("Message"), miInfo);
}

void TfrmMain::ShowAbout() {
  TfrmAbout about(Text(FGlobal->AppTitle()), Text(FGlobal->VersionText()),
                  Text(FGlobal->WebSiteUrl()), FDesktop, this);
  about.exec();
}

// ---- Closing ---------------------------------------------------------------------------------

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (!FClosing) {
    if (FDialogs.ShowMessage(this, QStringLiteral("Do you really want to exit?"),
                             QStringLiteral("Warning"), miAsk, mbYesNo) != maYes) {
      event->ignore();
      return;
    }
    if (FProgress->Running()) {
      // The run stops first; the window closes when its final event has come.
      FCloseAfterRun = true;
      FProgress->Cancel();
      event->ignore();
      return;
    }
  }
  FClosing = true;
  TSettingsStore settings = FGlobal->Settings();
  FFormat->SaveGroupStates(settings);
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  FRun->Converter().StopTask(true);
  FPanel->Stop(true);
  QGuiApplication::restoreOverrideCursor();
  FFormat->HideList();
  event->accept();
}
