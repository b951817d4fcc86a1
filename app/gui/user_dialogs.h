// Message boxes and file and folder choices, behind one small interface: the program shows
// Qt dialogs, the tests answer the questions themselves and read what was shown.
//
// Threads: main thread.
#pragma once

#include <QString>

class QWidget;

enum TMessageIcon { miNone, miInfo, miWarn, miError, miAsk };
enum TMessageButtons { mbOk, mbYesNo };
enum TMessageAnswer { maOk, maYes, maNo };

class TUserDialogs {
 public:
  virtual ~TUserDialogs() = default;
  // A modal box. `detail`, when not empty, is shown below the text in smaller type.
  virtual TMessageAnswer ShowMessage(QWidget* parent, const QString& text, const QString& caption,
                                     TMessageIcon icon, TMessageButtons buttons = mbOk,
                                     const QString& detail = QString()) = 0;
  // The chosen folder; empty when the user cancelled.
  virtual QString ChooseFolder(QWidget* parent, const QString& caption, const QString& start) = 0;
  // A folder to write output or snapshots to, chosen in the program's folder chooser
  // ("Browse", which refuses folders on an optical disc); empty when the user cancelled.
  // Unless a subclass shows the chooser, the choice is ChooseFolder's.
  virtual QString ChooseOutputFolder(QWidget* parent, const QString& start) {
    return ChooseFolder(parent, QStringLiteral("Browse"), start);
  }
  // The chosen existing file; empty when the user cancelled. `filter` as QFileDialog takes it.
  virtual QString ChooseFile(QWidget* parent, const QString& caption, const QString& start,
                             const QString& filter) = 0;
};

// The Qt dialogs. Qt's own file dialog is used everywhere, so the program looks and behaves
// the same on every desktop (and under a bare X server).
class TQtUserDialogs : public TUserDialogs {
 public:
  TMessageAnswer ShowMessage(QWidget* parent, const QString& text, const QString& caption,
                             TMessageIcon icon, TMessageButtons buttons,
                             const QString& detail) override;
  QString ChooseFolder(QWidget* parent, const QString& caption, const QString& start) override;
  QString ChooseOutputFolder(QWidget* parent, const QString& start) override;
  QString ChooseFile(QWidget* parent, const QString& caption, const QString& start,
                     const QString& filter) override;
};
