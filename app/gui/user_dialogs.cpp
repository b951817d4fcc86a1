#include "app/gui/user_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

#include "app/gui/app_style.h"
#include "app/gui/folder_chooser.h"

TMessageAnswer TQtUserDialogs::ShowMessage(QWidget* parent, const QString& text,
                                           const QString& caption, TMessageIcon icon,
                                           TMessageButtons buttons, const QString& detail) {
  QMessageBox box(parent);
  box.setWindowTitle(caption);
  box.setText(text);
  if (!detail.isEmpty()) box.setInformativeText(detail);
  // The kind of box for the desktop (accessibility, sounds), and the program's own picture.
  const char* picture = nullptr;
  switch (icon) {
    case miInfo:
      box.setIcon(QMessageBox::Information);
      picture = "message_information";
      break;
    case miWarn:
      box.setIcon(QMessageBox::Warning);
      picture = "message_warning";
      break;
    case miError:
      box.setIcon(QMessageBox::Critical);
      picture = "message_error";
      break;
    case miAsk:
      box.setIcon(QMessageBox::Question);
      picture = "message_question";
      break;
    case miNone:
      break;
  }
  if (picture) box.setIconPixmap(AppIcon(QLatin1String(picture)).pixmap(40, 40));
  if (buttons == mbYesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
  }
  const int result = box.exec();
  if (buttons == mbYesNo) return result == QMessageBox::Yes ? maYes : maNo;
  return maOk;
}

QString TQtUserDialogs::ChooseFolder(QWidget* parent, const QString& caption,
                                     const QString& start) {
  return QFileDialog::getExistingDirectory(
      parent, caption, start, QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
}

QString TQtUserDialogs::ChooseOutputFolder(QWidget* parent, const QString& start) {
  TfrmBrowse chooser(*this, parent);
  return chooser.Choose(start);
}

QString TQtUserDialogs::ChooseFile(QWidget* parent, const QString& caption, const QString& start,
                                   const QString& filter) {
  return QFileDialog::getOpenFileName(parent, caption, start, filter, nullptr,
                                      QFileDialog::DontUseNativeDialog);
}
