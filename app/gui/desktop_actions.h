// What the program asks of the desktop: open a folder in the file manager, open a web
// address in the browser, and power the machine off after a run. Each runs a command that
// can be replaced, so tests never open a window of another program and never shut anything
// down.
//
// - Opening: "xdg-open" with the folder or address as its one argument; replaced by the
//   environment variable DVDSWF_OPEN_COMMAND (a command line; the target is appended).
// - Shutting down: "systemctl poweroff"; replaced by DVDSWF_SHUTDOWN_COMMAND.
//
// Threads: main thread.
#pragma once

#include <QString>
#include <QStringList>

class TDesktopActions {
 public:
  // Commands from the environment, else the defaults above.
  TDesktopActions();

  // Starts the command and returns at once; false when it could not be started.
  bool OpenFolder(const QString& dir);
  bool OpenUrl(const QString& url);
  bool ShutDown();

  // The commands as program and arguments.
  QStringList OpenCommand;
  QStringList ShutdownCommand;

  // Every command started, one line each ("xdg-open /home/me/videoconverter"), for the
  // window's log and for tests.
  const QStringList& History() const { return FHistory; }

 private:
  bool Start(QStringList command, const QString& argument);
  QStringList FHistory;
};

// The environment variables' names.
inline constexpr char kOpenCommandVariable[] = "DVDSWF_OPEN_COMMAND";
inline constexpr char kShutdownCommandVariable[] = "DVDSWF_SHUTDOWN_COMMAND";
