// Responsiveness of the desktop program while it converts, run by hand:
//   bin/gui_responsiveness_bench [work folder] [seconds of the disc]
// A 10 ms timer runs on the main thread of the real main window while the window converts a
// disc (H.264 at the title's own size, every core busy) under its progress window; the
// timer's lateness (time between ticks minus 10 ms) is the event loop's answer time.
// Target: 95th percentile < 50 ms.
// The same timer is measured, as the peer, while dvdswf-cli converts the same title with the
// same settings in another process: the machine equally loaded, but no conversion events on
// this process's main thread.
// The disc is authored into the work folder (default /tmp/dvdswf-gui-bench) with
// bench/make_long_disc.sh on the first run. Runs offscreen unless QT_QPA_PLATFORM says
// otherwise.
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/core/global_object.h"
#include "app/gui/desktop_actions.h"
#include "app/gui/main_thread_bridge.h"
#include "app/gui/main_window.h"
#include "app/gui/progress_window.h"
#include "app/gui/title_list_model.h"
#include "app/gui/user_dialogs.h"

namespace fs = std::filesystem;

namespace {

// No one sits at the bench: every box is answered at once.
class TAnsweringDialogs : public TUserDialogs {
 public:
  TMessageAnswer ShowMessage(QWidget*, const QString& text, const QString& caption, TMessageIcon,
                             TMessageButtons buttons, const QString& detail) override {
    std::fprintf(stderr, "  (%s: %s %s)\n", qPrintable(caption), qPrintable(text),
                 qPrintable(detail));
    return buttons == mbYesNo ? maYes : maOk;
  }
  QString ChooseFolder(QWidget*, const QString&, const QString&) override { return QString(); }
  QString ChooseFile(QWidget*, const QString&, const QString&, const QString&) override {
    return QString();
  }
};

// Lateness samples of a 10 ms timer, in milliseconds, taken while `active` holds.
class TLatenessProbe {
 public:
  explicit TLatenessProbe(std::function<bool()> active) : FActive(std::move(active)) {
    FTimer.setTimerType(Qt::PreciseTimer);
    FTimer.setInterval(10);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      const qint64 now = FClock.nsecsElapsed();
      if (FLast >= 0 && FActive()) Samples.push_back(double(now - FLast) / 1e6 - 10.0);
      FLast = now;
    });
    FClock.start();
    FTimer.start();
  }
  std::vector<double> Samples;

 private:
  std::function<bool()> FActive;
  QTimer FTimer;
  QElapsedTimer FClock;
  qint64 FLast = -1;
};

double Percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return -1;
  std::sort(samples.begin(), samples.end());
  const size_t index = std::min(samples.size() - 1, size_t(p / 100.0 * double(samples.size())));
  return samples[index];
}

void Report(const char* name, const std::vector<double>& samples) {
  std::printf("%-34s %6zu ticks  p50 %6.2f ms  p95 %6.2f ms  p99 %6.2f ms  max %6.2f ms\n", name,
              samples.size(), Percentile(samples, 50), Percentile(samples, 95),
              Percentile(samples, 99),
              samples.empty() ? -1.0 : *std::max_element(samples.begin(), samples.end()));
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path work = argc > 1 ? argv[1] : "/tmp/dvdswf-gui-bench";
  const std::string seconds = argc > 2 ? argv[2] : "60";
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  fs::create_directories(work / "home");
  fs::remove_all(work / "config");
  setenv("HOME", (work / "home").c_str(), 1);
  setenv("DVDSWF_CONFIG_DIR", (work / "config").c_str(), 1);
  setenv("DVDSWF_OPEN_COMMAND", "true", 1);
  const std::string disc = (work / "long_disc").string();
  const std::string make = std::string(DVDSWF_SOURCE_DIR) + "/bench/make_long_disc.sh '" +
                           work.string() + "' " + seconds;
  std::printf("Authoring the disc (%s s) when needed...\n", seconds.c_str());
  if (std::system(make.c_str()) != 0) return 1;

  QApplication app(argc, argv);
  TMainThreadBridge bridge;
  TAnsweringDialogs dialogs;
  TDesktopActions desktop;
  {
    // H.264 at the title's own size: the heaviest of the usual choices.
    const auto global = CreateGlobalObject();
    TSettingsStore settings = global->Settings();
    settings.SetFormatCode(103);
    settings.Ini().WriteString("formatInfo103", "paraVideoSize", "720x576");
  }
  TfrmMain window(dialogs, desktop);
  window.show();
  window.OpenDisc(QString::fromStdString(disc));
  if (window.Model().rowCount() != 1) {
    std::fprintf(stderr, "the disc did not open\n");
    return 1;
  }

  // The peer: the same conversion in another process, this process's loop idle but the
  // machine as busy.
  std::vector<double> peer;
  {
    TLatenessProbe probe([] { return true; });
    QProcess cli;
    cli.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    cli.start(QStringLiteral(DVDSWF_BINARY_DIR "/bin/dvdswf-cli"),
              {QStringLiteral("convert"), QString::fromStdString(disc), QStringLiteral("--title"),
               QStringLiteral("1"), QStringLiteral("--out"),
               QString::fromStdString((work / "cli-out").string())});
    QElapsedTimer took;
    took.start();
    while (cli.state() != QProcess::NotRunning)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    std::printf("dvdswf-cli converted in %.1f s\n", double(took.elapsed()) / 1000);
    peer = probe.Samples;
  }

  // The window's own run.
  TfrmProgress& progress = *window.ProgressWindow();
  TLatenessProbe probe([&progress] { return progress.Running(); });
  const int wakeUpsBefore = bridge.WakeUps();
  QElapsedTimer took;
  took.start();
  window.StartConversion();
  std::printf("the window converted in %.1f s (%d wake-ups of the main thread)\n",
              double(took.elapsed()) / 1000, bridge.WakeUps() - wakeUpsBefore);

  std::printf("\nLateness of a 10 ms timer on the main thread:\n");
  Report("window converting (dvdswf)", probe.Samples);
  Report("idle loop, dvdswf-cli converting", peer);
  const double p95 = Percentile(probe.Samples, 95);
  std::printf("\n95th percentile %.2f ms: %s (target < 50 ms)\n", p95, p95 < 50 ? "met" : "MISSED");
  return 0;
}
