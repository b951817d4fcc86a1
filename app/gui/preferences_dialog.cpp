#include "app/gui/preferences_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/core/global_object.h"
#include "app/gui/app_style.h"
#include "app/gui/desktop_actions.h"
#include "app/gui/folder_chooser.h"
#include "app/gui/user_dialogs.h"

namespace {

constexpr int kStoredQualityDefault = 30;

struct TPriorityLook {
  const char* Name;
  const char* Caption;
};
// By the stored value: "Idle", "Normal", "Lower", "Lowest".
constexpr TPriorityLook kPriorities[] = {
    {"rbIdle", "&Idle"}, {"rbNormal", "&Normal"}, {"rbLower", "Lo&wer"}, {"rbLowest", "Lowes&t"}};

}  // namespace

TfrmPreference::TfrmPreference(const TGlobalObject& global, TUserDialogs& dialogs,
                               TDesktopActions& desktop, QWidget* parent)
    : QDialog(parent), FGlobal(global), FDialogs(dialogs), FDesktop(desktop) {
  setObjectName(QStringLiteral("frmPreference"));
  setWindowTitle(QStringLiteral("Preference"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::CustomizeWindowHint);
  setWindowModality(Qt::ApplicationModal);

  auto* snapshot = new QGroupBox(QStringLiteral("Snapshot"), this);
  FFolder = new QLineEdit(snapshot);
  FFolder->setObjectName(QStringLiteral("edtSnapFolder"));
  // Changed with "&Brows" only, so it never holds a folder that was not checked.
  FFolder->setReadOnly(true);
  auto* folderCaption = new QLabel(QStringLiteral("Snapshot fo&lder:"), snapshot);
  folderCaption->setBuddy(FFolder);
  FOpen = new QPushButton(QStringLiteral("O&pen"), snapshot);
  FOpen->setObjectName(QStringLiteral("btnOpen"));
  FBrows = new QPushButton(QStringLiteral("&Brows"), snapshot);
  FBrows->setObjectName(QStringLiteral("btnBrows"));

  const auto check = [snapshot](const char* name, const char* caption) {
    auto* box = new QCheckBox(QLatin1String(caption), snapshot);
    box->setObjectName(QLatin1String(name));
    return box;
  };
  FSmall = check("chkSmallSize", "&Small Size");
  FFull = check("chkFullSize", "&Full Size");
  FBmp = check("chkBmp", "B&MP");
  FJpg = check("chkJpg", "&JPG");

  FQuality = new QSpinBox(snapshot);
  FQuality->setObjectName(QStringLiteral("spnQuality"));
  FQuality->setRange(1, 100);
  FQualityBar = new QSlider(Qt::Horizontal, snapshot);
  FQualityBar->setObjectName(QStringLiteral("trcQuality"));
  FQualityBar->setRange(1, 100);
  FQualityBar->setPageStep(10);
  FQualityCaption = new QLabel(QStringLiteral("Jpg Compression &Quality:"), snapshot);
  FQualityCaption->setBuddy(FQuality);
  FQualityNote =
      new QLabel(QStringLiteral("(The higher the value, the better the image quality.)"), snapshot);
  FQualityNote->setObjectName(QStringLiteral("fieldCaption"));

  auto* grid = new QGridLayout(snapshot);
  grid->setContentsMargins(12, 14, 12, 12);
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(9);
  auto* folderRow = new QHBoxLayout;
  folderRow->setSpacing(6);
  folderRow->addWidget(FFolder, 1);
  folderRow->addWidget(FOpen);
  folderRow->addWidget(FBrows);
  grid->addWidget(folderCaption, 0, 0, 1, 3);
  grid->addLayout(folderRow, 1, 0, 1, 3);
  grid->addWidget(new QLabel(QStringLiteral("Snapshot size:"), snapshot), 2, 0);
  grid->addWidget(FSmall, 2, 1);
  grid->addWidget(FFull, 2, 2);
  grid->addWidget(new QLabel(QStringLiteral("Snapshot format:"), snapshot), 3, 0);
  grid->addWidget(FBmp, 3, 1);
  grid->addWidget(FJpg, 3, 2);
  auto* qualityRow = new QHBoxLayout;
  qualityRow->setSpacing(10);
  qualityRow->addWidget(FQuality);
  qualityRow->addWidget(FQualityBar, 1);
  grid->addWidget(FQualityCaption, 4, 0);
  grid->addLayout(qualityRow, 4, 1, 1, 2);
  grid->addWidget(FQualityNote, 5, 1, 1, 2);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(2, 1);

  auto* priority = new QGroupBox(QStringLiteral("Work priority"), this);
  FPriority = new QButtonGroup(this);
  auto* priorities = new QHBoxLayout(priority);
  priorities->setContentsMargins(12, 12, 12, 10);
  for (int i = 0; i < 4; ++i) {
    auto* button = new QRadioButton(QLatin1String(kPriorities[i].Caption), priority);
    button->setObjectName(QLatin1String(kPriorities[i].Name));
    FPriority->addButton(button, i);
    priorities->addWidget(button, 1);
  }

  const TDialogButtons buttons = MakeDialogButtons(this);
  FDefault = buttons.Default;
  FOk = buttons.Ok;
  FCancel = buttons.Cancel;
  FOpen->setAutoDefault(false);
  FBrows->setAutoDefault(false);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(14, 14, 14, 12);
  layout->setSpacing(12);
  layout->addWidget(snapshot);
  layout->addWidget(priority);
  layout->addStretch(1);
  layout->addLayout(buttons.Row);
  setFixedSize(QSize(kWidth, kHeight).expandedTo(layout->totalMinimumSize()));

  connect(FSmall, &QCheckBox::clicked, this, [this](bool on) { PairClicked(FSmall, FFull, on); });
  connect(FFull, &QCheckBox::clicked, this, [this](bool on) { PairClicked(FFull, FSmall, on); });
  connect(FBmp, &QCheckBox::clicked, this, [this](bool on) { PairClicked(FBmp, FJpg, on); });
  connect(FJpg, &QCheckBox::clicked, this, [this](bool on) {
    PairClicked(FJpg, FBmp, on);
    EnableQuality();
  });
  connect(FQuality, &QSpinBox::valueChanged, FQualityBar, &QSlider::setValue);
  connect(FQualityBar, &QSlider::valueChanged, FQuality, &QSpinBox::setValue);
  connect(FOpen, &QPushButton::clicked, this, &TfrmPreference::OpenFolder);
  connect(FBrows, &QPushButton::clicked, this, &TfrmPreference::Browse);
  connect(FDefault, &QPushButton::clicked, this, &TfrmPreference::Default);
  connect(FOk, &QPushButton::clicked, this, &TfrmPreference::Ok);
  connect(FCancel, &QPushButton::clicked, this, &QDialog::reject);
}

QAbstractButton* TfrmPreference::PriorityButton(int priority) const {
  return FPriority->button(priority);
}

int TfrmPreference::Priority() const {
  return FPriority->checkedId();
}

namespace {

// The end of a long path is the part that tells folders apart.
void ShowFolder(QLineEdit* box, const QString& folder) {
  box->setText(folder);
  box->setToolTip(folder);
  box->setCursorPosition(int(folder.size()));
}

}  // namespace

void TfrmPreference::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  const TSettingsStore settings = FGlobal.Settings();
  // The folder the snapshots would go to; a fallback is shown, and written only by "&Ok".
  const std::string folder = settings.SnapOutPutDir();
  ShowFolder(FFolder,
             QString::fromStdString(CanWriteToFolder(folder) ? folder : DefaultVideoFolder()));
  // The stored choices; a pair stored with both off (which writes nothing) shows both on.
  const auto pair = [](QCheckBox* a, bool onA, QCheckBox* b, bool onB) {
    a->setChecked(onA || !onB);
    b->setChecked(onB || !onA);
  };
  pair(FFull, settings.SnapFullSize(), FSmall, settings.SnapSmallSize());
  pair(FBmp, settings.SnapBmp(), FJpg, settings.SnapJpg());
  EnableQuality();
  const int quality = settings.JpgCmp();
  FQuality->setValue(quality >= 1 && quality <= 100 ? quality : kStoredQualityDefault);
  const int priority = settings.Priority();
  FPriority->button(priority >= psIdle && priority <= psLowest ? priority : psNormal)
      ->setChecked(true);
}

void TfrmPreference::PairClicked(QCheckBox* box, QCheckBox* partner, bool checked) {
  // One of the pair stays on: unchecking the last one is undone.
  if (!checked && !partner->isChecked()) box->setChecked(true);
}

void TfrmPreference::EnableQuality() {
  const bool jpg = FJpg->isChecked();
  for (QWidget* w :
       std::initializer_list<QWidget*>{FQuality, FQualityBar, FQualityCaption, FQualityNote})
    w->setEnabled(jpg);
}

void TfrmPreference::Browse() {
  if (const std::optional<QString> folder = BrowseWritableFolder(FDialogs, this, FFolder->text())) {
    ShowFolder(FFolder, *folder);
  }
}

void TfrmPreference::OpenFolder() {
  if (FFolder->text().size() > 2) FDesktop.OpenFolder(FFolder->text());
}

void TfrmPreference::Default() {
  ShowFolder(FFolder, QString::fromStdString(DefaultVideoFolder()));
  FBmp->setChecked(true);
  FJpg->setChecked(false);
  FFull->setChecked(true);
  FSmall->setChecked(false);
  FPriority->button(psNormal)->setChecked(true);
  FQuality->setValue(kDefaultQuality);
  EnableQuality();
}

void TfrmPreference::Ok() {
  TSettingsStore settings = FGlobal.Settings();
  const QString folder = FFolder->text();
  settings.SetSnapOutPutDir(folder.isEmpty() ? DefaultVideoFolder() : folder.toStdString());
  settings.SetSnapBmp(FBmp->isChecked());
  settings.SetSnapJpg(FJpg->isChecked());
  settings.SetSnapFullSize(FFull->isChecked());
  settings.SetSnapSmallSize(FSmall->isChecked());
  settings.SetJpgCmp(FQuality->value());
  settings.SetPriority(Priority());
  accept();
}
