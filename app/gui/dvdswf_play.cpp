// dvdswf-play FILE|DISC [--title N] [--start T]: plays a file or a DVD title in a window, as
// the main window's preview will. Keys: space pauses and resumes, Left/Right seek 10 s back
// and forward, period steps one picture, m mutes, q (or Escape) quits. The benchmarks drive
// it with --quit-at-end, --length and --stats.
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "app/gui/main_thread_bridge.h"
#include "app/gui/video_widget.h"
#include "dvd/dvd_plugin_loader.h"
#include "media/loader.h"
#include "player/player.h"

namespace {

constexpr int64_t kSeekStep = 10000000;

// Seconds ("12", "7.5") or [H:]MM:SS with an optional fraction; -1 when it is neither.
int64_t ParseTime(const QString& text) {
  const QStringList parts = text.split(':');
  if (parts.size() > 3) return -1;
  double seconds = 0;
  for (const QString& part : parts) {
    bool ok = false;
    const double value = part.toDouble(&ok);
    if (!ok || value < 0) return -1;
    seconds = seconds * 60 + value;
  }
  return int64_t(std::llround(seconds * 1e6));
}

// A DVD: a folder holding VIDEO_TS (or VIDEO_TS itself), an ISO image or a device.
bool IsDisc(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::is_directory(path, ec))
    return fs::exists(fs::path(path) / "VIDEO_TS", ec) ||
           fs::exists(fs::path(path) / "VIDEO_TS.IFO", ec);
  if (fs::is_block_file(path, ec)) return true;
  const QString suffix = QFileInfo(QString::fromStdString(path)).suffix().toLower();
  return suffix == "iso";
}

class TPlayWindow : public TVideoWidget {
 public:
  TPlayWindow(TMediaPlayer& player) : FPlayer(player) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    switch (event->key()) {
      case Qt::Key_Space:
        if (FPlayer.Paused())
          FPlayer.Resume();
        else
          FPlayer.Pause();
        break;
      case Qt::Key_Left:
        FPlayer.Seek(0, false, std::max<int64_t>(0, FPlayer.Position() - kSeekStep));
        break;
      case Qt::Key_Right:
        FPlayer.Seek(0, false, std::max<int64_t>(0, FPlayer.Position()) + kSeekStep);
        break;
      case Qt::Key_Period:
        FPlayer.StepFrame();
        break;
      case Qt::Key_M:
        FPlayer.SetMute(!FPlayer.Mute());
        break;
      case Qt::Key_Q:
      case Qt::Key_Escape:
        close();
        break;
      default:
        TVideoWidget::keyPressEvent(event);
    }
  }

 private:
  TMediaPlayer& FPlayer;
};

int Fail(const QString& text) {
  std::fprintf(stderr, "dvdswf-play: %s\n", qPrintable(text));
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("dvdswf-play");
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Plays a media file or a DVD title in a window.\n\n"
      "FILE|DISC is a media file, or a DVD: a folder holding VIDEO_TS, an ISO image or a\n"
      "drive such as /dev/sr0.\n\n"
      "Keys: space pause/resume, Left/Right seek 10 s back/forward, period (.) one picture\n"
      "forward, m mute, q or Escape quit.\n\n"
      "Exit status: 0 played; 2 a bad option, or the input cannot be opened (the reason is\n"
      "printed).");
  parser.addHelpOption();
  parser.addPositionalArgument("FILE|DISC", "What to play.");
  const QCommandLineOption title("title", "The DVD title to play (from 1; default 1).", "N", "1");
  const QCommandLineOption start("start", "Start at T (seconds or H:MM:SS).", "T");
  const QCommandLineOption audio("audio",
                                 "The DVD audio track's id (as dvdswf-cli titles lists it).", "ID");
  const QCommandLineOption subtitle("subtitle", "The DVD subtitle's id (0: none).", "ID");
  const QCommandLineOption length("length", "Quit after playing T (seconds or H:MM:SS).", "T");
  const QCommandLineOption quitAtEnd("quit-at-end", "Quit when the end is reached.");
  const QCommandLineOption mute("mute", "Start muted.");
  const QCommandLineOption size("size", "The window's size (default 720x576).", "WxH", "720x576");
  const QCommandLineOption stats(
      "stats", "Print the time to the first picture and the pictures painted and dropped.");
  parser.addOptions({title, start, audio, subtitle, length, quitAtEnd, mute, size, stats});
  parser.process(app);
  if (parser.positionalArguments().size() != 1) return Fail("give one FILE or DISC (see --help)");
  const std::string input = parser.positionalArguments().first().toStdString();

  bool ok = false;
  const int titleNumber = parser.value(title).toInt(&ok);
  if (!ok || titleNumber < 1) return Fail("--title wants a number from 1");
  int64_t startAt = kNoPTS, playFor = -1;
  if (parser.isSet(start) && (startAt = ParseTime(parser.value(start))) < 0)
    return Fail("--start: \"" + parser.value(start) + "\" is neither seconds nor H:MM:SS");
  if (parser.isSet(length) && (playFor = ParseTime(parser.value(length))) < 0)
    return Fail("--length: \"" + parser.value(length) + "\" is neither seconds nor H:MM:SS");
  const QStringList wh = parser.value(size).split('x');
  const int width = wh.size() == 2 ? wh[0].toInt() : 0, height = wh.size() == 2 ? wh[1].toInt() : 0;
  if (width < 64 || height < 48) return Fail("--size wants WxH, at least 64x48");

  TMainThreadBridge bridge;
  TMediaPlayer player;
  if (!player.LoadLibrariesFrom("")) return Fail(QString::fromStdString(player.LastError()));

  std::string url = input;
  if (IsDisc(input)) {
    if (!LoadDVDPlugInOnDemand()) return Fail(QString::fromStdString(DVDPlugInError()));
    const int titles = EnumDVDTitles(input);
    if (titles < 1)
      return Fail(QString::fromStdString(input + ": no DVD titles. " + DVDLastErrorText()));
    if (titleNumber > titles)
      return Fail(QString("the disc has %1 titles, not %2").arg(titles).arg(titleNumber));
    TDVDTitleInfo info;
    if (!GetDVDTitle(titleNumber - 1, info))
      return Fail(QString("title %1 is invalid").arg(titleNumber));
    TDVDParam param{titleNumber - 1, 0, info.ChapterCount, 128, 32, 2, 0};
    if (info.AudioCount > 0) param.AudioId = info.Audio[0].StreamId;
    param.SubtitleId = info.SubtitleCount > 0 ? info.Subtitle[0].StreamId : 0;
    if (parser.isSet(audio)) param.AudioId = parser.value(audio).toInt(nullptr, 0);
    if (parser.isSet(subtitle)) param.SubtitleId = parser.value(subtitle).toInt(nullptr, 0);
    SetDVDParam(param);
    url = std::string(kDVDInputScheme) + ":" + input;
  }

  TPlayWindow window(player);
  window.resize(width, height);
  window.setWindowTitle(QString::fromStdString("dvdswf-play - " + input));
  window.show();

  QElapsedTimer clock;
  clock.start();
  qint64 firstPicture = -1;
  bool ended = false;
  player.OnState = [&](TCustomPlayer*, TPlayState state) {
    if (state == psEnd && parser.isSet(quitAtEnd)) ended = true;
    if (state == psStop || ended) QTimer::singleShot(0, &window, &QWidget::close);
  };
  const int64_t stopAt = playFor < 0 ? -1 : (startAt != kNoPTS ? startAt : 0) + playFor;
  player.OnPosition = [&](TCustomPlayer*, int64_t pts) {
    if (stopAt >= 0 && pts >= stopAt) QTimer::singleShot(0, &window, &QWidget::close);
  };
  QTimer firstPaint;
  QObject::connect(&firstPaint, &QTimer::timeout, [&] {
    if (firstPicture < 0 && window.PaintedPictures() > 0) {
      firstPicture = clock.elapsed();
      firstPaint.stop();
    }
  });
  firstPaint.start(1);
  player.SetMute(parser.isSet(mute));
  player.SetPlayStart(startAt);
  clock.restart();
  if (!player.Open(url, window.Output(), false))
    return Fail(QString::fromStdString(player.LastError()));
  const qint64 opened = clock.elapsed();
  const int status = app.exec();
  player.Stop(true);
  if (parser.isSet(stats))
    std::fprintf(
        stderr,
        "Open %lld ms; first picture painted %lld ms after Open began; painted %d, dropped %d\n",
        (long long)opened, (long long)firstPicture, window.PaintedPictures(),
        window.DroppedPictures());
  return status;
}
