#include "app/gui/desktop_actions.h"

#include <QProcess>
#include <QProcessEnvironment>

namespace {

QStringList CommandFromEnvironment(const char* variable, const QStringList& fallback) {
  const QString text = QProcessEnvironment::systemEnvironment().value(QLatin1String(variable));
  const QStringList command = QProcess::splitCommand(text);
  return command.isEmpty() ? fallback : command;
}

}  // namespace

TDesktopActions::TDesktopActions()
    : OpenCommand(CommandFromEnvironment(kOpenCommandVariable, {QStringLiteral("xdg-open")})),
      ShutdownCommand(CommandFromEnvironment(
          kShutdownCommandVariable, {QStringLiteral("systemctl"), QStringLiteral("poweroff")})) {}

bool TDesktopActions::Start(QStringList command, const QString& argument) {
  if (command.isEmpty()) return false;
  if (!argument.isNull()) command << argument;
  FHistory << command.join(QLatin1Char(' '));
  const QString program = command.takeFirst();
  return QProcess::startDetached(program, command);
}

bool TDesktopActions::OpenFolder(const QString& dir) {
  return Start(OpenCommand, dir);
}

bool TDesktopActions::OpenUrl(const QString& url) {
  return Start(OpenCommand, url);
}

bool TDesktopActions::ShutDown() {
  return Start(ShutdownCommand, QString());
}
