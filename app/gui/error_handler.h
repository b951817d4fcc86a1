// The application-wide error handler: every exception that reaches the Qt event loop is shown
// to the user in a message box captioned with the application title. A conversion failure
// (FFmpegException) is a warning; anything else an error. The program goes on.
//
// Threads: main thread (the event loop's).
#pragma once

#include <QApplication>
#include <QString>
#include <exception>
#include <string>

class QWidget;
class TUserDialogs;

// The text shown for an exception's message: "." is appended when the message is not empty and
// its last character sorts after "." ("Disk full" -> "Disk full.", "Done." and "Stop!" stay).
QString ErrorMessageText(const std::string& message);

class TErrorHandler {
 public:
  explicit TErrorHandler(TUserDialogs& dialogs) : FDialogs(dialogs) {}
  // Shows the exception; `parent` is the window the box belongs to (may be null).
  void Handle(std::exception_ptr error, QWidget* parent = nullptr);
  int Handled() const { return FHandled; }

 private:
  TUserDialogs& FDialogs;
  int FHandled = 0;
};

// The program's QApplication: catches what event handlers throw and hands it to the installed
// error handler (without one, the exception goes on and ends the program).
class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;

  void SetErrorHandler(TErrorHandler* handler) { FHandler = handler; }
  // The application title: message-box captions use it. "Korvel DVD Ripper" until the main
  // window sets its own.
  static QString Title();
  static void SetTitle(const QString& title);

 private:
  TErrorHandler* FHandler = nullptr;
};
