// dvdswf: the desktop program. Shows the splash window, makes the main window and runs the
// event loop; a disc named on the command line is opened as the drive menu opens one.
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>

#include "app/gui/app_style.h"
#include "app/gui/desktop_actions.h"
#include "app/gui/error_handler.h"
#include "app/gui/main_thread_bridge.h"
#include "app/gui/main_window.h"
#include "app/gui/splash_window.h"
#include "app/gui/user_dialogs.h"
#ifdef DVDSWF_WITH_EDITORS
#include "app/gui/editors/editors.h"
#endif

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("dvdswf"));
  QApplication::setApplicationVersion(QStringLiteral(DVDSWF_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("dvdswf"));
  QApplication::setWindowIcon(ProgramIcon());

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Korvel DVD to SWF Converter: lists the titles of a DVD and converts the checked ones.\n"
      "SOURCE, when given, is opened at start: a DVD device (/dev/sr0), an ISO image or a folder "
      "holding VIDEO_TS.\n"
      "Settings live in $DVDSWF_CONFIG_DIR, else $XDG_CONFIG_HOME/dvdswf, else ~/.config/dvdswf."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("SOURCE"), QStringLiteral("The disc to open."),
                               QStringLiteral("[SOURCE]"));
  parser.process(app);
  if (parser.positionalArguments().size() > 1) {
    std::fprintf(stderr, "dvdswf: one SOURCE at most (see --help)\n");
    return 2;
  }

  app.setStyleSheet(AppStyleSheet());
  TQtUserDialogs dialogs;
  TDesktopActions desktop;
  TErrorHandler errors(dialogs);
  app.SetErrorHandler(&errors);
  TMainThreadBridge bridge;

  auto* splash = new TSplashWindow;  // deletes itself when it closes
  splash->show();
  TfrmMain window(dialogs, desktop);
#ifdef DVDSWF_WITH_EDITORS
  InstallEditors(window, dialogs);
#endif
  splash->SetMainWindow(&window);
  window.show();
  if (!parser.positionalArguments().isEmpty()) {
    const QString source = parser.positionalArguments().first();
    QTimer::singleShot(0, &window, [&window, source] { window.OpenDisc(source); });
  }
  const int status = app.exec();
  app.SetErrorHandler(nullptr);
  return status;
}
