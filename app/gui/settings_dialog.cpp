#include "app/gui/settings_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

#include "app/core/format_catalogue.h"
#include "app/core/global_object.h"
#include "app/gui/app_style.h"
#include "app/gui/error_handler.h"
#include "app/gui/format_picker_box.h"
#include "app/gui/title_list_view.h"
#include "app/gui/user_dialogs.h"

namespace {

// Beyond these the encoders refuse the value (frame sides) or the option records cannot hold
// it in bits per second (bit rates).
constexpr int kMaxFrameSide = 8192;
constexpr double kMaxRate = 1000000;

const QString kAsSourceText = QString::fromLatin1(kAsSource);

struct TListLook {
  const char* Name;     // objectName of the combo
  const char* Caption;  // with its mnemonic
  // The text shown for a negative stored row when the user's section has no value.
  const char* ShownDefault;
};

// By TParamList.
constexpr TListLook kLook[plCount] = {
    {"cmbVideoSize", "Frame &Size:", "320x240"},
    {"cmbVideoBitRate", "&BitRate (Kbps):", "800"},
    {"cmbFrameRate", "&FrameRate (Fps):", "25"},
    {"cmbVideoEncoder", "&Encoder:", nullptr},
    {"cmbAudioBitRate", "Bi&tRate (Kbps):", "96"},
    {"cmbSampleRate", "Sample&Rate (Hz):", "44100"},
    {"cmbAudioEncoder", "E&ncoder:", nullptr},
    {"cmbChannel", "C&hannel:", nullptr},
    {"cmbVolume", "&Volume:", nullptr},
};

constexpr TParamList kVideoLists[] = {plVideoSize, plVideoEncoder, plVideoBitRate, plFrameRate};
constexpr TParamList kAudioLists[] = {plSampleRate, plAudioEncoder, plChannel, plAudioBitRate,
                                      plVolume};
// The order "&Ok" checks the editable lists in (as they stand in the dialog).
constexpr TParamList kCheckOrder[] = {plVideoSize, plVideoBitRate, plSampleRate, plAudioBitRate};
// The order "&Ok" writes the rows in.
constexpr TParamList kRowOrder[] = {plVideoSize, plVideoBitRate, plVideoEncoder,
                                    plFrameRate, plSampleRate,   plAudioBitRate,
                                    plChannel,   plVolume,       plAudioEncoder};

TFieldCheck Refused(const char* message) {
  TFieldCheck check;
  check.Message = QString::fromLatin1(message);
  return check;
}

TFieldCheck Accepted(const QString& text) {
  TFieldCheck check;
  check.Accepted = true;
  check.Corrected = text;
  return check;
}

bool ParseInteger(const QString& text, int& value) {
  return TryParseInteger(text.toStdString(), value);
}

}  // namespace

// ---- Checks ----------------------------------------------------------------------------------

TFieldCheck CheckFrameSize(const QString& raw) {
  const QString text = raw.trimmed();
  if (text.contains(kAsSourceText, Qt::CaseInsensitive)) return Accepted(kAsSourceText);
  const qsizetype x = text.lastIndexOf(QLatin1Char('x'));
  int w = 0, h = 0;
  if (x < 0 || !ParseInteger(text.left(x), w) || !ParseInteger(text.mid(x + 1), h) || w < 0 ||
      h < 0 || w > kMaxFrameSide || h > kMaxFrameSide)
    return Refused("Frame Size is not a valid value!");
  if (w % 2 == 0 && h % 2 == 0 && w != 0 && h != 0)
    return Accepted(QStringLiteral("%1x%2").arg(w).arg(h));
  // Even toward zero; a side of 0 becomes 2.
  w &= ~1;
  h &= ~1;
  if (w == 0) w = 2;
  if (h == 0) h = 2;
  TFieldCheck check;
  check.Message =
      QStringLiteral("Frame Size must be a multiple of 2.\nThe correct value:%1x%2").arg(w).arg(h);
  check.Caption = QStringLiteral("Input Error!");
  check.Corrected = QStringLiteral("%1x%2").arg(w).arg(h);
  return check;
}

TFieldCheck CheckWholeNumber(TParamList list, const QString& raw) {
  const QString text = raw.trimmed();
  if (text == kAsSourceText) return Accepted(text);
  int value = 0;
  if (ParseInteger(text, value) && value > 0 && value <= kMaxRate)
    return Accepted(QString::number(value));
  return Refused(list == plSampleRate ? "Audio SampleRate is not a valid value!"
                                      : "Video BitRate is not a valid value!");
}

TFieldCheck CheckAudioBitRate(const QString& raw) {
  const QString text = raw.trimmed();
  if (text == kAsSourceText) return Accepted(text);
  bool number = false;
  const double value = text.toDouble(&number);
  // Plain decimal notation only: no exponent, no "inf" or "nan".
  const bool plain = !text.isEmpty() && text.count(QLatin1Char('.')) <= 1 &&
                     std::all_of(text.begin(), text.end(), [](QChar c) {
                       return c.isDigit() || c == QLatin1Char('.') || c == QLatin1Char('+');
                     });
  if (number && plain && value > 0 && value <= kMaxRate) return Accepted(text);
  return Refused("Audio BitRate is not a valid value!");
}

// ---- The dialog ------------------------------------------------------------------------------

bool TfrmSettings::Editable(TParamList list) {
  return list == plVideoSize || list == plVideoBitRate || list == plSampleRate ||
         list == plAudioBitRate;
}

TfrmSettings::TfrmSettings(const TGlobalObject& global, TUserDialogs& dialogs, QWidget* parent)
    : QDialog(parent), FGlobal(global), FDialogs(dialogs) {
  setObjectName(QStringLiteral("frmSettings"));
  setWindowTitle(QStringLiteral("Settings"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::CustomizeWindowHint);
  setWindowModality(Qt::ApplicationModal);

  FPicker = new TFormatPickerBox(TFormatPickerBox::odDownward, this);
  FPicker->setObjectName(QStringLiteral("formatPicker"));
  FPicker->TextBox()->setTextMargins(4, 2, 0, 0);
  FPicker->ChosenNameSource = [this] { return FName; };
  auto* pickerCaption = new QLabel(QStringLiteral("Output for&mat:"), this);
  pickerCaption->setBuddy(FPicker->TextBox());

  for (int i = 0; i < plCount; ++i) {
    const auto list = TParamList(i);
    auto* combo = new QComboBox(this);
    combo->setObjectName(QLatin1String(kLook[i].Name));
    combo->setEditable(Editable(list));
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setItemDelegate(new TTrackItemDelegate(combo));
    // Editable lists are as wide as nine characters; pick lists as their longest row.
    combo->setSizeAdjustPolicy(Editable(list) ? QComboBox::AdjustToMinimumContentsLengthWithIcon
                                              : QComboBox::AdjustToContents);
    // Room for "stereo 2 channels" in the channel list.
    combo->setMinimumContentsLength(list == plChannel ? 17 : 9);
    if (combo->lineEdit()) combo->lineEdit()->setCompleter(nullptr);
    if (Editable(list)) combo->installEventFilter(this);
    FLists[i] = combo;
    FCaptions[i] = new QLabel(QLatin1String(kLook[i].Caption), this);
    FCaptions[i]->setBuddy(combo);
  }
  FZoom = new QComboBox(this);
  FZoom->setObjectName(QStringLiteral("cmbZoom"));
  FZoom->setItemDelegate(new TTrackItemDelegate(FZoom));
  FZoom->addItems(
      {QStringLiteral("Full screen"), QStringLiteral("Letterbox"), QStringLiteral("Pan and Scan")});
  FZoom->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  FZoom->setMinimumContentsLength(9);
  FZoomCaption = new QLabel(QStringLiteral("&Zoom:"), this);
  FZoomCaption->setBuddy(FZoom);

  const auto group = [this](const QString& title, std::initializer_list<TParamList> lists,
                            bool zoom) {
    auto* box = new QGroupBox(title, this);
    auto* form = new QFormLayout(box);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setHorizontalSpacing(8);
    form->setVerticalSpacing(7);
    form->setContentsMargins(10, 12, 10, 10);
    for (TParamList list : lists) form->addRow(FCaptions[list], FLists[list]);
    if (zoom) form->addRow(FZoomCaption, FZoom);
    return box;
  };
  FVideo = group(QStringLiteral("Video Options"),
                 {plVideoSize, plVideoEncoder, plVideoBitRate, plFrameRate}, true);
  FAudio = group(QStringLiteral("Audio Options"),
                 {plSampleRate, plAudioEncoder, plChannel, plAudioBitRate, plVolume}, false);

  const TDialogButtons buttons = MakeDialogButtons(this);
  FDefault = buttons.Default;
  FOk = buttons.Ok;
  FCancel = buttons.Cancel;

  auto* top = new QHBoxLayout;
  top->setSpacing(8);
  top->addWidget(pickerCaption);
  top->addWidget(FPicker, 1);
  auto* groups = new QHBoxLayout;
  groups->setSpacing(10);
  groups->addWidget(FVideo, 1);
  groups->addWidget(FAudio, 1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(14, 14, 14, 12);
  layout->setSpacing(10);
  layout->addLayout(top);
  layout->addLayout(groups);
  layout->addStretch(1);
  layout->addLayout(buttons.Row);
  // As designed, or larger when the desktop's fonts need more.
  setFixedSize(QSize(kWidth, kHeight).expandedTo(layout->totalMinimumSize()));

  // Tab goes down the video group, then down the audio group.
  QWidget* order[] = {FPicker->TextBox(),
                      FLists[plVideoSize],
                      FLists[plVideoEncoder],
                      FLists[plVideoBitRate],
                      FLists[plFrameRate],
                      FZoom,
                      FLists[plSampleRate],
                      FLists[plAudioEncoder],
                      FLists[plChannel],
                      FLists[plAudioBitRate],
                      FLists[plVolume],
                      FDefault,
                      FOk,
                      FCancel};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  connect(FPicker, &TFormatPickerBox::FormatChosen, this, &TfrmSettings::ChooseFormat);
  connect(FDefault, &QPushButton::clicked, this, &TfrmSettings::Default);
  connect(FOk, &QPushButton::clicked, this, &TfrmSettings::Ok);
  connect(FCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmSettings::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;  // the window system showing it again, not an opening
  const TSettingsStore settings = FGlobal.Settings();
  // The stored code decides; its name is shown (a hand-edited or unknown code is the
  // default format).
  FCode = settings.FormatCode();
  if (FormatDisplayName(FCode).empty()) FCode = kDefaultFormatCode;
  FName = QString::fromStdString(FormatDisplayName(FCode));
  FPicker->BuildFormatList(settings);
  FPicker->TextBox()->setText(FName);
  FPicker->TextBox()->setCursorPosition(0);
  LoadFormat(true);
  FPicker->setFocus(Qt::OtherFocusReason);
}

void TfrmSettings::hideEvent(QHideEvent* event) {
  // A format list left open (a shortcut closed the dialog) must not show at the next opening.
  FPicker->HideList();
  QDialog::hideEvent(event);
}

void TfrmSettings::ChooseFormat(int code, const QString& name) {
  FCode = code;
  FName = name;
  FPicker->TextBox()->setText(name);
  FPicker->TextBox()->setCursorPosition(0);
  LoadFormat(false);
}

void TfrmSettings::LoadFormat(bool opening) {
  const TFormatCatalogue catalogue(FGlobal.FormatIniPath());
  for (int i = 0; i < plCount; ++i) {
    QComboBox* combo = FLists[i];
    combo->clear();
    for (const std::string& row : catalogue.List(FCode, ParamListInfo(TParamList(i)).CatalogueKey))
      combo->addItem(QString::fromStdString(row));
    // The drop-down shows all its rows at once.
    combo->setMaxVisibleItems(std::max(1, combo->count()));
  }
  SelectRows(opening);
  EnableGroups();
  // A catalogue with longer rows widens the dialog (it never shrinks while open).
  setFixedSize(size().expandedTo(layout()->totalMinimumSize()));
}

void TfrmSettings::SelectCatalogueDefault(TParamList list) {
  const TFormatCatalogue catalogue(FGlobal.FormatIniPath());
  QComboBox* combo = FLists[list];
  const int row = catalogue.DefaultRow(FCode, ParamListInfo(list).CatalogueKey);
  if (row >= 0 && row < combo->count())
    combo->setCurrentIndex(row);
  else
    combo->setCurrentIndex(combo->count() > 0 ? 0 : -1);
  if (combo->currentIndex() < 0 && combo->isEditable()) combo->clearEditText();
}

void TfrmSettings::SelectRows(bool opening) {
  const TSettingsStore settings = FGlobal.Settings();
  const TFormatCatalogue catalogue(FGlobal.FormatIniPath());
  const TIniFile& user = settings.Ini();
  const std::string section = FormatSectionName(FCode);
  const TFormatRows rows = ReadFormatRows(settings, catalogue, FCode);
  for (int i = 0; i < plCount; ++i) {
    const auto list = TParamList(i);
    QComboBox* combo = FLists[i];
    const int row = rows.Row[i];
    if (row >= 0 && row < combo->count()) {
      combo->setCurrentIndex(row);
      continue;
    }
    // A value typed by hand: shown when it is one the list can take.
    if (row < 0 && kLook[i].ShownDefault) {
      const QString text = QString::fromStdString(
          user.ReadString(section, ParamListInfo(list).ParaKey, kLook[i].ShownDefault));
      if (Editable(list)) {
        const TFieldCheck check = list == plVideoSize      ? CheckFrameSize(text)
                                  : list == plAudioBitRate ? CheckAudioBitRate(text)
                                                           : CheckWholeNumber(list, text);
        if (check.Accepted) {
          combo->setCurrentIndex(combo->findText(check.Corrected, Qt::MatchExactly));
          combo->setEditText(check.Corrected);
          continue;
        }
      } else if (const int found = combo->findText(text, Qt::MatchExactly); found >= 0) {
        combo->setCurrentIndex(found);
        continue;
      }
    }
    SelectCatalogueDefault(list);
  }
  // Zoom: "center" has no row; a missing (or unknown) value is "Letterbox" when the dialog
  // opens and "Full screen" when another format is chosen in it.
  const std::string zoom = user.ReadString(section, kParaZoom, "");
  const int zoomRow = ZoomRow(zoom);
  if (zoomRow < 0)
    FZoom->setCurrentIndex(opening ? 1 : 0);
  else
    FZoom->setCurrentIndex(zoomRow < kZoomRows ? zoomRow : -1);
}

void TfrmSettings::EnableGroups() {
  const bool video = FLists[plVideoEncoder]->count() > 0;
  for (TParamList list : kVideoLists) {
    FLists[list]->setEnabled(video);
    FCaptions[list]->setEnabled(video);
  }
  FZoom->setEnabled(video);
  FZoomCaption->setEnabled(video);
  const bool audio = FLists[plAudioEncoder]->count() > 0;
  for (TParamList list : kAudioLists) {
    FLists[list]->setEnabled(audio);
    FCaptions[list]->setEnabled(audio);
  }
  // A format without audio bit rates (PCM) takes none.
  if (FLists[plAudioBitRate]->count() == 0) {
    FLists[plAudioBitRate]->setEnabled(false);
    FCaptions[plAudioBitRate]->setEnabled(false);
  }
}

void TfrmSettings::Default() {
  for (int i = 0; i < plCount; ++i) SelectCatalogueDefault(TParamList(i));
  FZoom->setCurrentIndex(0);
}

int TfrmSettings::StoredRow(TParamList list) const {
  const QComboBox* combo = FLists[list];
  if (Editable(list)) return combo->findText(combo->currentText(), Qt::MatchExactly);
  return combo->currentIndex();
}

// ---- Typing and checks -----------------------------------------------------------------------

bool TfrmSettings::FilterKey(TParamList list, const QString& typed) {
  const QChar c = typed.front();
  if (c.isDigit()) return true;
  QLineEdit* edit = FLists[list]->lineEdit();
  if (list == plVideoSize) {
    // The box as it will be before the character goes in (a selection is replaced).
    QString rest = edit->text();
    if (edit->hasSelectedText()) rest.remove(edit->selectionStart(), edit->selectedText().size());
    if (rest.isEmpty() || (c == QLatin1Char('x') && !rest.contains(QLatin1Char('x')))) return true;
    QApplication::beep();
    return false;
  }
  FChecking = true;
  FDialogs.ShowMessage(this, QStringLiteral("Please enter numerical."), TApplication::Title(),
                       miWarn);
  FChecking = false;
  QApplication::beep();
  return false;
}

bool TfrmSettings::CheckList(TParamList list) {
  QComboBox* combo = FLists[list];
  const QString text = combo->currentText();
  const TFieldCheck check = list == plVideoSize      ? CheckFrameSize(text)
                            : list == plAudioBitRate ? CheckAudioBitRate(text)
                                                     : CheckWholeNumber(list, text);
  if (check.Accepted) {
    // The text in its plain form ("AS SOURCE" -> "as source", " 800" -> "800").
    if (check.Corrected != text) {
      combo->setCurrentIndex(combo->findText(check.Corrected, Qt::MatchExactly));
      combo->setEditText(check.Corrected);
    }
    return true;
  }
  FChecking = true;
  FDialogs.ShowMessage(this, check.Message,
                       check.Caption.isEmpty() ? TApplication::Title() : check.Caption, miWarn);
  FChecking = false;
  if (!check.Corrected.isEmpty()) {
    combo->setCurrentIndex(combo->findText(check.Corrected, Qt::MatchExactly));
    combo->setEditText(check.Corrected);
  } else if (combo->count() > 1) {
    combo->setCurrentIndex(1);
  } else if (combo->count() == 1) {
    combo->setCurrentIndex(0);
  } else {
    combo->clearEditText();
  }
  return false;
}

bool TfrmSettings::eventFilter(QObject* watched, QEvent* event) {
  int found = -1;
  for (int i = 0; i < plCount; ++i)
    if (watched == FLists[i]) found = i;
  if (found < 0) return QDialog::eventFilter(watched, event);
  const auto list = TParamList(found);
  if (event->type() == QEvent::KeyPress) {
    const QString typed = static_cast<QKeyEvent*>(event)->text();
    // Only characters are filtered; editing and moving keys (backspace, arrows, Ctrl+A) pass.
    if (typed.size() == 1 && typed.front().isPrint() && !FilterKey(list, typed)) return true;
  } else if (event->type() == QEvent::FocusOut) {
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    const QWidget* next = QApplication::focusWidget();
    // Another window or the list's own drop-down takes the focus: the box has not been left.
    // "&Ok" checks all lists itself, "&Cancel" keeps nothing.
    const bool left = reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
                      next != FOk && next != FCancel && !FChecking;
    // After the press or key that moved the focus has been handled, so that a message box
    // does not open in the middle of it.
    if (left)
      QTimer::singleShot(0, this, [this, list] {
        if (isVisible() && !FChecking && FLists[list]->isEnabled()) CheckList(list);
      });
  }
  return QDialog::eventFilter(watched, event);
}

// ---- Ok --------------------------------------------------------------------------------------

bool TfrmSettings::Ok() {
  for (TParamList list : kCheckOrder)
    if (FLists[list]->isEnabled() && !CheckList(list)) {
      FLists[list]->setFocus(Qt::OtherFocusReason);
      return false;
    }
  Write();
  emit Saved();
  accept();
  return true;
}

void TfrmSettings::Write() {
  TSettingsStore settings = FGlobal.Settings();
  TIniFile& ini = settings.Ini();
  const std::string section = FormatSectionName(FCode);
  const auto text = [this](TParamList list) { return FLists[list]->currentText().toStdString(); };
  const auto writeText = [&](TParamList list) {
    ini.WriteString(section, ParamListInfo(list).ParaKey, text(list));
  };
  // A translated value; a row the table does not know writes nothing (the earlier value
  // stays).
  const auto writeStored = [&](TParamList list) {
    if (const std::optional<std::string> stored = StoredListValue(list, text(list)))
      ini.WriteString(section, ParamListInfo(list).ParaKey, *stored);
  };
  for (TParamList list : kRowOrder)
    ini.WriteInteger(section, ParamListInfo(list).IndexKey, StoredRow(list));
  writeText(plVideoSize);
  writeText(plVideoBitRate);
  writeText(plFrameRate);
  if (const int zoom = FZoom->currentIndex(); zoom >= 0 && zoom < kZoomRows)
    ini.WriteString(section, kParaZoom, kZoomValues[zoom]);
  writeStored(plVideoEncoder);
  writeText(plSampleRate);
  writeText(plAudioBitRate);
  writeStored(plChannel);
  writeStored(plVolume);
  writeStored(plAudioEncoder);
  FPicker->SaveGroupStates(settings);
  settings.SetFormatName(FName.toStdString());
  settings.SetFormatCode(FCode);
}
