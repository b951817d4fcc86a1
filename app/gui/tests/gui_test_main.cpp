// The GUI suites run inside one QApplication (offscreen by default), with the program's error
// handler installed and media's main-thread queue joined to the Qt loop, as in the program.
#include <gtest/gtest.h>

#include "app/gui/app_style.h"
#include "app/gui/error_handler.h"
#include "app/gui/main_thread_bridge.h"

// Under LeakSanitizer: the blocks system libraries keep until the process ends (as in
// lsan.supp, which the whole-program test hands to the program). Qt Core: once in some
// thousand runs under load, one 152-byte block that Qt Core allocated for itself (the size of
// a queued call's event) is found unreferenced at exit, with no frame of this program's on
// its stack; the editors' suites never reproduced it in 135 runs on their own.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libdbus-1.so\nleak:libQt6Core.so\n";
}

// Under ThreadSanitizer: Qt converts and scales pictures on a pool of its own threads, and
// FFmpeg's codec threads and the conversion's encoding stage hand pictures over with
// libavutil's reference counts, all with atomics inside libraries that are not instrumented;
// reports about memory inside them say nothing about this program's own synchronisation (as in
// tsan.supp, which the whole-program test hands to the program).
extern "C" const char* __tsan_default_suppressions() {
  return "race:libQt6Gui.so\nrace:libQt6Core.so\nrace:libavcodec.so\nrace:av_buffer_unref\n";
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TApplication app(argc, argv);
  app.setStyleSheet(AppStyleSheet());
  TMainThreadBridge bridge;
  return RUN_ALL_TESTS();
}
