#include "app/gui/error_handler.h"

#include <QWidget>

#include "app/gui/user_dialogs.h"
#include "engine/ffmpeg_exception.h"

namespace {

QString gTitle = QStringLiteral("Korvel DVD Ripper");

}  // namespace

QString ErrorMessageText(const std::string& message) {
  QString text = QString::fromStdString(message);
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') text += '.';
  return text;
}

void TErrorHandler::Handle(std::exception_ptr error, QWidget* parent) {
  ++FHandled;
  TMessageIcon icon = miError;
  std::string message;
  try {
    std::rethrow_exception(error);
  } catch (const FFmpegException& e) {
    icon = miWarn;
    message = e.what();
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "Unknown error";
  }
  FDialogs.ShowMessage(parent, ErrorMessageText(message), TApplication::Title(), icon);
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  if (!FHandler) return QApplication::notify(receiver, event);
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    QWidget* parent = activeModalWidget() ? activeModalWidget() : activeWindow();
    FHandler->Handle(std::current_exception(), parent);
    return false;
  }
}

QString TApplication::Title() {
  return gTitle;
}

void TApplication::SetTitle(const QString& title) {
  if (!title.isEmpty()) gTitle = title;
}
