// The floating preview window's pictures in flight, and the main-thread queue served by the Qt
// event loop.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <thread>

#include "app/gui/previewer.h"
#include "app/gui/tests/media_checks.h"
#include "dvd/dvd_plugin_loader.h"
#include "engine/component/converter.h"
#include "media/bitmap.h"
#include "media/main_thread.h"
#include "media/probe_text.h"
#include "tests/support/test_support.h"

namespace {

TBitmap Picture(int width, int height, uint8_t shade) {
  TBitmap bitmap(width, height);
  for (int y = 0; y < height; ++y) std::fill_n(bitmap.ScanLine(y), width * 3, shade);
  return bitmap;
}

TEST(Previewer, OnePictureInFlightTheNewestWins) {
  TPreviewer previewer;
  // A conversion thread hands over pictures faster than the main thread shows them.
  std::thread worker([&previewer] {
    for (int i = 0; i < 50; ++i)
      EXPECT_TRUE(previewer.ShowPreview(Picture(64, 48, uint8_t(i)), i, int64_t(i) * 40000));
  });
  worker.join();
  EXPECT_EQ(previewer.InFlight(), 1);
  EXPECT_EQ(previewer.Dropped(), 49);
  EXPECT_EQ(previewer.Shown(), 0);
  ASSERT_TRUE(QTest::qWaitFor([&previewer] { return previewer.Shown() == 1; }, 10000));
  EXPECT_EQ(previewer.InFlight(), 0);
  QWidget* window = previewer.Window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle().toStdString(), FormatDuration(49 * 40000));
  EXPECT_EQ(window->size(), QSize(64, 48)) << "the window takes the picture's size";
  EXPECT_EQ(window->grab().toImage().pixelColor(10, 10), QColor(49, 49, 49));
}

TEST(Previewer, ClosedWindowRefusesFurtherPictures) {
  TPreviewer previewer;
  ASSERT_TRUE(previewer.ShowPreview(Picture(32, 32, 100), 0, 0));
  ASSERT_TRUE(QTest::qWaitFor([&previewer] { return previewer.Window() != nullptr; }, 10000));
  previewer.Window()->close();
  EXPECT_TRUE(previewer.PreviewClosed());
  EXPECT_FALSE(previewer.ShowPreview(Picture(32, 32, 100), 1, 40000));
}

TEST(Previewer, StaysClearOfTheProgressWindow) {
  QWidget anchor;
  anchor.resize(420, 460);
  anchor.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&anchor));
  QRect frame = anchor.frameGeometry();
  frame.moveCenter(anchor.screen()->availableGeometry().center());
  anchor.move(frame.topLeft());
  TPreviewer previewer(&anchor);
  ASSERT_TRUE(previewer.ShowPreview(Picture(320, 240, 10), 0, 0));
  ASSERT_TRUE(QTest::qWaitFor([&previewer] { return previewer.Window() != nullptr; }, 10000));
  EXPECT_FALSE(previewer.Window()->frameGeometry().intersects(anchor.frameGeometry()));
}

TEST(Previewer, WindowGoesWhenTheJobFreesItOnItsThread) {
  auto previewer = std::make_unique<TPreviewer>();
  ASSERT_TRUE(previewer->ShowPreview(Picture(16, 16, 1), 0, 0));
  ASSERT_TRUE(QTest::qWaitFor([&previewer] { return previewer->Window() != nullptr; }, 10000));
  QPointer<QWidget> window = previewer->Window();
  std::thread([&previewer] { previewer.reset(); }).join();
  EXPECT_TRUE(QTest::qWaitFor([&window] { return window.isNull(); }, 10000));
}

// A job of the conversion component that shows previews in a window and hands out no
// preview bitmaps: its pictures reach the floating window, which goes with the job.
TEST(Previewer, ShowsTheRunningJobsPictures) {
  ASSERT_TRUE(LoadDVDPlugInOnDemand()) << DVDPlugInError();
  SetDVDParam({2, 0, 99, 128, 0, 2, 0});  // title 3, 3 s
  auto converter = std::make_unique<TConverter>();
  ASSERT_TRUE(converter->LibrariesReady() || converter->LoadLibrariesFrom(DefaultDVDPlugInFolder()))
      << converter->LastError();
  converter->SetPreview(true);
  std::atomic<bool> ended{false};
  converter->OnTerminate = [&ended](TCustomConverter*, const TTerminateInfo& info) {
    if (info.JobIndex < 0) ended = true;
  };
  const int task = converter->AddTask(std::string(kDVDInputScheme) + ":" + DiscAImage());
  ASSERT_GE(task, 0) << converter->LastError();
  TOutputOptions output;
  InitOutputOptions(output);
  output.FrameSize = "320x240";
  ASSERT_TRUE(converter->SetOutputFile(task, TestFolder() + "/title3.mp4", &output))
      << converter->LastError();
  TPreviewer* previewer = nullptr;
  converter->Task(task)->PreviewWindowFactory = [&previewer]() -> std::unique_ptr<TPreviewWindow> {
    auto made = std::make_unique<TPreviewer>();
    previewer = made.get();
    return made;
  };
  converter->StartTask(1);
  ASSERT_TRUE(QTest::qWaitFor([&ended] { return ended.load(); }, 120000));
  ASSERT_NE(previewer, nullptr) << "the job asked for its window";
  ASSERT_TRUE(QTest::qWaitFor([&previewer] { return previewer->Window() != nullptr; }, 10000));
  QPointer<QWidget> window = previewer->Window();
  EXPECT_EQ(window->size(), QSize(320, 240));
  EXPECT_GT(previewer->Shown(), 0);
  EXPECT_TRUE(window->windowTitle().startsWith(QStringLiteral("00:00:0")))
      << window->windowTitle().toStdString();
  converter.reset();  // frees the job and its previewer
  EXPECT_TRUE(QTest::qWaitFor([&window] { return window.isNull(); }, 10000));
}

// The Qt loop serves calls that other threads queue for the main thread: no one calls
// ProcessMessages here.
TEST(MainThreadBridge, QtLoopServesQueuedCalls) {
  std::atomic<bool> ran{false}, onMain{false};
  std::thread worker([&] {
    CallInMainThread([&] {
      onMain = IsMainThread();
      ran = true;
    });
  });
  EXPECT_TRUE(QTest::qWaitFor([&ran] { return ran.load(); }, 10000));
  worker.join();
  EXPECT_TRUE(onMain);
}

// A wait of the main thread inside media (ProcessMessages) keeps windows painting but holds
// the user's input back until it ends.
TEST(MainThreadBridge, WaitsPumpQtWithoutUserInput) {
  QWidget widget;
  widget.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
  bool timerRan = false;
  QTimer::singleShot(0, &widget, [&timerRan] { timerRan = true; });
  ProcessMessages();
  EXPECT_TRUE(timerRan);
}

}  // namespace
