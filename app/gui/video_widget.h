// TVideoWidget shows what a player plays: give Output() to TCustomPlayer::Open. The player
// hands each finished picture over (converted and scaled on the player's play thread) and
// asks for a repaint with a queued call; it never waits for the GUI thread. The widget paints
// the newest picture it has, scaled into the picture's rectangle when the widget's size
// changed since, and counts the pictures that were replaced before they could be painted.
// It repaints its last picture on expose, and reports its size changes to the player.
//
// Threads: the widget lives on the GUI thread, and so do the calls of Output(); the output
// it returns is called by the player's threads as TVideoOutput says. Stop the player (or destroy
// it) before the widget.
#pragma once

#include <QWidget>
#include <memory>

#include "player/video_output.h"

class TVideoWidget : public QWidget {
  Q_OBJECT

 public:
  explicit TVideoWidget(QWidget* parent = nullptr);
  ~TVideoWidget() override;

  TVideoOutput* Output();
  // Pictures painted, and pictures replaced by a newer one before they were painted.
  int PaintedPictures() const;
  int DroppedPictures() const;
  // The newest picture handed over (what the widget shows), as the player drew it.
  QImage LastPicture() const;
  // Forgets every picture handed over so far and shows black (GUI thread; after the player
  // stopped, so that the next file does not start with the last one's picture).
  void Clear();

  QSize sizeHint() const override { return {720, 576}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  class TOutput;
  std::unique_ptr<TOutput> FOutput;
};
