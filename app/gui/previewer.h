// TPreviewer: the floating window in which a conversion job shows the picture it converts,
// with the picture's time as the window's caption. The engine's transcoder asks for one
// through its PreviewWindowFactory at its first preview and calls ShowPreview on its
// conversion thread.
//
// Pictures in flight are limited: ShowPreview copies the picture and hands it to the main
// thread without waiting; while one picture waits to be shown, a newer one replaces it and
// the replaced one is counted as dropped. A slow window therefore never holds up the
// conversion, and it always shows the newest picture.
//
// The window stays on top and takes the picture's size; it sits beside the progress window
// rather than over it (smaller, when the picture does not fit there), and can be moved by
// dragging the picture. Once the user closes it,
// ShowPreview answers false and the job stops previewing.
//
// Threads: ShowPreview on the conversion thread; the window is made, drawn and destroyed on the
// main thread. The object itself may be destroyed on any thread.
#pragma once

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "engine/transcoder_events.h"

class TPreviewer : public TPreviewWindow {
 public:
  // `anchor`: a window the preview should not cover (the progress window); may be null.
  explicit TPreviewer(QPointer<QWidget> anchor = nullptr);
  ~TPreviewer() override;
  bool ShowPreview(const TBitmap& bitmap, int index, int64_t time) override;

  // For tests and the window's log: pictures shown, pictures replaced before they were
  // shown, pictures waiting now (0 or 1).
  int Shown() const;
  int Dropped() const;
  int InFlight() const;
  bool PreviewClosed() const;
  // The window (main thread), null before the first picture has been shown.
  QWidget* Window() const;

  struct TShared;

 private:
  std::shared_ptr<TShared> FShared;
};

// A factory for the transcoder: each job gets a previewer of its own.
TPreviewWindowFactory MakePreviewerFactory(QWidget* anchor);
