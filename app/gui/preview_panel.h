// The main window's preview panel: the black area (370 x 240) a title plays in, and every
// call the window makes of the preview player. The window keeps the preview's state (Stopped,
// Paused, the buttons, the position bar); this class owns the player and the video widget it
// draws into, carries the window's calls to the player and turns the player's reports into
// signals.
//
// While nothing is open the panel is black (with the reason when the last Open failed); while
// a title is open the video widget covers it.
//
// Threads: main thread. The player's reports (FileOpened, PositionChanged, Ended) arrive on
// the main thread through media's main-thread queue, so the program must have its
// TMainThreadBridge installed. The player is destroyed (and its threads ended) before the
// widget it draws into.
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>

#include "media/bitmap.h"

class TMediaPlayer;
class TVideoWidget;

class TPreviewPanel : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kWidth = 370;
  static constexpr int kHeight = 240;

  explicit TPreviewPanel(QWidget* parent = nullptr);
  ~TPreviewPanel() override;

  // Loads the player's libraries when they are not loaded; false with the loader's text in
  // `error`.
  bool LoadLibraries(std::string& error);
  // Opens an input ("opendvd:" + drive, the selection already handed to the plug-in) in the
  // panel and plays it, or holds it at its first picture when `paused`. False with
  // LastError() when it cannot be opened.
  bool Open(const std::string& url, bool paused);
  bool IsOpen() const;
  // The player reports Paused.
  bool IsPaused() const;
  void Pause();
  void Resume();
  // Closes the input; with `wait`, returns when the player's threads have ended.
  void Stop(bool wait);
  // Microseconds from the start.
  void Seek(int64_t position, bool wait);
  int64_t Position() const;
  int64_t Duration() const;
  void SetMute(bool mute);
  bool Mute() const { return FMute; }
  // 0..128 (clamped).
  void SetVolume(int volume);
  int Volume() const { return FVolume; }
  // A copy of the picture shown now, at its own size; false (and `frame` untouched) when the
  // panel shows none.
  bool CurrentFrame(TBitmap& frame) const;
  const std::string& LastError() const { return FLastError; }

  // What the panel plays through (tests and the editors' future reuse read them).
  TVideoWidget* VideoWidget() const { return FVideo; }
  TMediaPlayer& Player() const { return *FPlayer; }

 signals:
  // An input was opened: its length (microseconds), picture size and the probe's text.
  void FileOpened(qint64 duration, int width, int height, const QString& description);
  void PositionChanged(qint64 position);
  // Played to its end.
  void Ended();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TVideoWidget* FVideo = nullptr;  // child; outlives FPlayer
  std::unique_ptr<TMediaPlayer> FPlayer;
  std::string FLastError;
  bool FOpen = false;
  int64_t FDuration = 0;
  bool FMute = false;
  int FVolume = 64;
};
