// TfrmPreference: the preferences. The snapshot folder (chosen with "&Brows", opened with
// "O&pen"), which snapshot sizes and formats are written, the JPEG quality (a spin box and a
// slider that follow each other), and the work priority of conversions. Each showing takes
// the stored values; "&Ok" writes them all, "&Cancel" writes nothing, "&Default" sets the
// defaults in the dialog only. Of each pair of check boxes (sizes, formats) one stays checked.
//
// Threads: main thread.
#pragma once

#include <QDialog>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class TDesktopActions;
class TGlobalObject;
class TUserDialogs;

class TfrmPreference : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kWidth = 480;
  static constexpr int kHeight = 390;
  // What "&Default" sets.
  static constexpr int kDefaultQuality = 20;

  TfrmPreference(const TGlobalObject& global, TUserDialogs& dialogs, TDesktopActions& desktop,
                 QWidget* parent);

  void Browse();      // "&Brows"
  void OpenFolder();  // "O&pen"
  void Default();     // "&Default"
  void Ok();          // "&Ok"

  // The checked priority: 0 "Idle", 1 "Normal", 2 "Lower", 3 "Lowest".
  int Priority() const;

  // Controls (objectName in brackets).
  QLineEdit* FolderBox() const { return FFolder; }      // "edtSnapFolder"
  QCheckBox* SmallSizeBox() const { return FSmall; }    // "chkSmallSize"
  QCheckBox* FullSizeBox() const { return FFull; }      // "chkFullSize"
  QCheckBox* BmpBox() const { return FBmp; }            // "chkBmp"
  QCheckBox* JpgBox() const { return FJpg; }            // "chkJpg"
  QSpinBox* QualitySpin() const { return FQuality; }    // "spnQuality"
  QSlider* QualityBar() const { return FQualityBar; }   // "trcQuality"
  QAbstractButton* PriorityButton(int priority) const;  // "rbIdle", "rbNormal", ...
  QPushButton* OpenButton() const { return FOpen; }
  QPushButton* BrowsButton() const { return FBrows; }
  QPushButton* DefaultButton() const { return FDefault; }
  QPushButton* OkButton() const { return FOk; }
  QPushButton* CancelButton() const { return FCancel; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void PairClicked(QCheckBox* box, QCheckBox* partner, bool checked);
  void EnableQuality();

  const TGlobalObject& FGlobal;
  TUserDialogs& FDialogs;
  TDesktopActions& FDesktop;
  QLineEdit* FFolder = nullptr;
  QCheckBox *FSmall = nullptr, *FFull = nullptr, *FBmp = nullptr, *FJpg = nullptr;
  QLabel* FQualityCaption = nullptr;
  QLabel* FQualityNote = nullptr;
  QSpinBox* FQuality = nullptr;
  QSlider* FQualityBar = nullptr;
  QButtonGroup* FPriority = nullptr;
  QPushButton *FOpen = nullptr, *FBrows = nullptr, *FDefault = nullptr, *FOk = nullptr,
              *FCancel = nullptr;
};
