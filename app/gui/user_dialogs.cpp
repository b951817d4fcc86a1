#include "app/gui/user_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

TMessageAnswer TQtUserDialogs::ShowMessage(QWidget* parent, const QString& text,
                                           const QString& caption, TMessageIcon icon,
                                           TMessageButtons buttons, const QString& detail) {
  QMessageBox box(parent);
  box.setWindowTitle(caption);
  box.setText(text);
  if (!detail.isEmpty()) box.setInformativeText(detail);
  switch (icon) {
    case miInfo:
      box.setIcon(QMessageBox::Information);
      break;
    case miWarn:
      box.setIcon(QMessageBox::Warning);
      break;
    case miError:
      box.setIcon(QMessageBox::Critical);
      break;
    case miAsk:
      box.setIcon(QMessageBox::Question);
      break;
    case miNone:
      break;
  }
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

QString TQtUserDialogs::ChooseFile(QWidget* parent, const QString& caption, const QString& start,
                                   const QString& filter) {
  return QFileDialog::getOpenFileName(parent, caption, start, filter, nullptr,
                                      QFileDialog::DontUseNativeDialog);
}
