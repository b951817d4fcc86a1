// Serves the engine's main-thread calls (media/main_thread.h) from a running Qt event loop:
// a call queued by a worker thread posts a wake-up to the loop, and a main thread that
// waits for a worker (the player's Stop, Open or Seek) keeps processing Qt events.
// Call once on the GUI thread after the QApplication exists.
#pragma once

void InstallQtMainThreadPump();
