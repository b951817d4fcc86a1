// TfrmSettings: the output settings dialog. It has a format picker of its own and, for the
// format chosen there, the lists of the format catalogue (frame size, video encoder, video
// bit rate, frame rate, zoom; sample rate, audio encoder, channels, audio bit rate, volume)
// with the user's rows from the settings file selected. "&Ok" writes the user's choices for
// that format ("formatInfo" + code) and the chosen format; "&Cancel" writes nothing;
// "&Default" selects the catalogue's default rows.
//
// The four editable lists (frame size, both bit rates, sample rate) refuse what they cannot
// take: a typing filter, a check when the focus leaves them, and the same check on "&Ok",
// which writes nothing while a field is refused. Values read from a settings file that was
// edited into nonsense are not shown: the catalogue's default row takes their place.
//
// Threads: main thread.
#pragma once

#include <QDialog>
#include <QString>
#include <optional>

#include "app/core/format_params.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class TFormatPickerBox;
class TGlobalObject;
class TUserDialogs;

// The checks of the editable lists, without the dialog.
struct TFieldCheck {
  bool Accepted = false;
  QString Message;    // shown when not accepted
  QString Caption;    // the message box's caption; empty: the application title
  QString Corrected;  // not empty: the box takes this text instead of being reset
};
// "as source" (any case) is accepted; otherwise w + "x" + h (split at the last "x") with two
// positive integers up to 16384, both even. Odd or zero sizes are corrected (each made even
// toward zero, 0 becoming 2) with "Frame Size must be a multiple of 2."; anything else is
// "Frame Size is not a valid value!".
TFieldCheck CheckFrameSize(const QString& text);
// A positive integer or "as source". `list` is plVideoBitRate or plSampleRate.
TFieldCheck CheckWholeNumber(TParamList list, const QString& text);
// A positive integer or decimal number, or "as source".
TFieldCheck CheckAudioBitRate(const QString& text);

class TfrmSettings : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kWidth = 475;
  static constexpr int kHeight = 370;
  // Zoom rows; a stored "center" selects none.
  static constexpr int kZoomRows = 3;

  TfrmSettings(const TGlobalObject& global, TUserDialogs& dialogs, QWidget* parent);

  // The chosen format, in memory until "&Ok".
  int FormatCode() const { return FCode; }
  const QString& FormatName() const { return FName; }

  // "&Default": the catalogue's default rows and "Full screen"; nothing is written.
  void Default();
  // "&Ok": checks the editable lists (the first refused one shows its message and keeps the
  // focus; nothing is written), then writes and closes. True when it wrote.
  bool Ok();
  // Choosing a format in the dialog's picker.
  void ChooseFormat(int code, const QString& name);

  // Controls (objectName in brackets).
  TFormatPickerBox* FormatPicker() const { return FPicker; }  // "formatPicker"
  // "cmbVideoSize", "cmbVideoBitRate", "cmbFrameRate", "cmbVideoEncoder", "cmbAudioBitRate",
  // "cmbSampleRate", "cmbAudioEncoder", "cmbChannel", "cmbVolume".
  QComboBox* List(TParamList list) const { return FLists[list]; }
  QComboBox* ZoomList() const { return FZoom; }  // "cmbZoom"
  QPushButton* DefaultButton() const { return FDefault; }
  QPushButton* OkButton() const { return FOk; }
  QPushButton* CancelButton() const { return FCancel; }
  static bool Editable(TParamList list);
  // The row "&Ok" stores for a list: the selected row, for an editable list the row whose
  // text equals the box's text; -1 when none.
  int StoredRow(TParamList list) const;

 signals:
  // "&Ok" has written the choices: the main window rebuilds its picker.
  void Saved();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void LoadFormat(bool opening);
  void SelectRows(bool opening);
  void SelectCatalogueDefault(TParamList list);
  void EnableGroups();
  bool FilterKey(TParamList list, const QString& typed);
  // The focus-out check of an editable list; false when it refused the text.
  bool CheckList(TParamList list);
  void Write();

  const TGlobalObject& FGlobal;
  TUserDialogs& FDialogs;
  int FCode = 1;
  QString FName;
  bool FChecking = false;  // a check's message is open
  TFormatPickerBox* FPicker = nullptr;
  QComboBox* FLists[plCount] = {};
  QLabel* FCaptions[plCount] = {};
  QComboBox* FZoom = nullptr;
  QLabel* FZoomCaption = nullptr;
  QGroupBox *FVideo = nullptr, *FAudio = nullptr;
  QPushButton *FDefault = nullptr, *FOk = nullptr, *FCancel = nullptr;
};
