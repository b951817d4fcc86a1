#include "app/gui/progress_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

#include "app/gui/app_style.h"
#include "app/gui/snapshot.h"
#include "app/gui/user_dialogs.h"

// The picture area: the running job's newest picture, drawn as PreviewPlacement says on the
// light blue ground.
class TfrmProgress::TPreview : public QWidget {
 public:
  explicit TPreview(QWidget* parent) : QWidget(parent) {
    setFixedSize(kPreviewWidth, kPreviewHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setObjectName(QStringLiteral("progressPreview"));
  }
  void SetFrame(QImage frame) {
    FFrame = std::move(frame);
    update();
  }
  void Clear() { SetFrame(QImage()); }
  void Draw(QPainter& p, QSize box) const {
    p.fillRect(QRect(QPoint(0, 0), box), app_colors::kPreviewBackground);
    if (FFrame.isNull()) return;
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(PreviewPlacement(FFrame.size(), box), FFrame);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    Draw(p, size());
  }

 private:
  QImage FFrame;
};

QRect TfrmProgress::PreviewPlacement(QSize frame, QSize box) {
  if (frame.isEmpty() || box.isEmpty()) return QRect(QPoint(0, 0), box);
  const double a = double(frame.width()) / box.width();
  const double b = double(frame.height()) / box.height();
  if (a >= b) {
    const int inset = int(std::lround((box.height() - frame.height() / a) / 2));
    return QRect(0, inset, box.width(), box.height() - 2 * inset);
  }
  const int inset = int(std::lround((box.width() - frame.width() / b) / 2));
  return QRect(inset, 0, box.width() - 2 * inset, box.height());
}

TfrmProgress::TfrmProgress(const TGlobalObject& global, TUserDialogs& dialogs, QWidget* parent)
    : QDialog(parent), FGlobal(global), FDialogs(dialogs) {
  setObjectName(QStringLiteral("frmProgress"));
  setWindowTitle(QStringLiteral("Progress"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::CustomizeWindowHint);
  setWindowModality(Qt::ApplicationModal);

  FPreview = new TPreview(this);
  auto* values = new QFormLayout;
  values->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
  values->setHorizontalSpacing(10);
  values->setVerticalSpacing(4);
  const auto value = [this, values](const char* caption) {
    auto* label = new QLabel(this);
    label->setObjectName(QString::fromLatin1(caption));
    label->setTextFormat(Qt::PlainText);
    label->setMinimumWidth(200);
    values->addRow(QString::fromLatin1(caption) + QLatin1Char(':'), label);
    return label;
  };
  FCurrentTime = value("Current Time");
  FLength = value("Length");
  FFileSize = value("File Size");
  FProgress = value("Progress");
  FFile = value("File");

  FBar = new QProgressBar(this);
  FBar->setRange(0, 100);
  FBar->setTextVisible(true);
  FBar->setFormat(QStringLiteral("%p%"));

  FShutDown = new QCheckBox(QStringLiteral("Shut down computer after conversion"), this);
  FOpenFolder = new QCheckBox(QStringLiteral("Open the output folder after conversion"), this);

  FPause = new QPushButton(QStringLiteral("&Pause"), this);
  FResume = new QPushButton(QStringLiteral("&Resume"), this);
  FCancel = new QPushButton(QStringLiteral("&Cancel"), this);
  FPause->setAutoDefault(false);
  FResume->setAutoDefault(false);
  FCancel->setAutoDefault(false);
  FSnapshot = new QToolButton(this);
  FSnapshot->setIcon(AppIcon(QStringLiteral("snapshot")));
  FSnapshot->setIconSize(QSize(20, 20));
  FSnapshot->setToolTip(QStringLiteral("Save snapshot picture"));
  FSnapshot->setObjectName(QStringLiteral("progressSnapshot"));

  auto* pictureRow = new QHBoxLayout;
  pictureRow->addStretch();
  pictureRow->addWidget(FPreview);
  pictureRow->addStretch();
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(FSnapshot);
  buttons->addStretch();
  buttons->addWidget(FPause);
  buttons->addWidget(FResume);
  buttons->addWidget(FCancel);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 18, 20, 16);
  layout->setSpacing(10);
  layout->addLayout(pictureRow);
  layout->addLayout(values);
  layout->addWidget(FBar);
  layout->addWidget(FShutDown);
  layout->addWidget(FOpenFolder);
  layout->addStretch();
  layout->addLayout(buttons);
  // Never smaller than the layout needs with the desktop's fonts.
  setFixedSize(QSize(kWidth, kHeight).expandedTo(layout->totalMinimumSize()));

  FTimer.setInterval(100);
  connect(&FTimer, &QTimer::timeout, this, &TfrmProgress::Tick);
  connect(FPause, &QPushButton::clicked, this, [this] {
    if (FRun) FRun->Converter().PauseTask();
    FPause->setEnabled(false);
    FResume->setEnabled(true);
  });
  connect(FResume, &QPushButton::clicked, this, [this] {
    if (FRun) FRun->Converter().ResumeTask();
    FPause->setEnabled(true);
    FResume->setEnabled(false);
  });
  connect(FCancel, &QPushButton::clicked, this, &TfrmProgress::Cancel);
  connect(FSnapshot, &QToolButton::clicked, this, &TfrmProgress::TakeSnapshot);
}

QString TfrmProgress::ValueText(const QString& caption) const {
  const auto* label = findChild<QLabel*>(caption);
  return label ? label->text() : QString();
}

void TfrmProgress::RunModal(TConversionRun& run) {
  FRun = &run;
  FFinalEvent = false;
  for (QLabel* label : {FCurrentTime, FLength, FFileSize, FProgress, FFile}) label->clear();
  FOpenFolder->setChecked(true);
  FPause->setEnabled(true);
  FResume->setEnabled(false);
  FCancel->setEnabled(true);
  FPreview->Clear();
  FFrameArrived = false;
  FBar->setRange(0, 100);
  FBar->setValue(0);
  FTimer.start();
  if (QWidget* owner = parentWidget()) {
    QRect frame = geometry();
    frame.moveCenter(owner->window()->geometry().center());
    move(frame.topLeft());
  }
  show();
  raise();
  activateWindow();

  QEventLoop loop;
  FLoop = &loop;
  run.StartTasks();
  if (!FFinalEvent) loop.exec();
  FLoop = nullptr;
  FRun = nullptr;
}

void TfrmProgress::Cancel() {
  FTimer.stop();
  if (FRun && !FFinalEvent) {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    FRun->Converter().StopTask(true);
    QGuiApplication::restoreOverrideCursor();
  }
  hide();
}

void TfrmProgress::CloseByFinalEvent() {
  FFinalEvent = true;
  Cancel();
  if (FLoop) FLoop->quit();
}

void TfrmProgress::closeEvent(QCloseEvent* event) {
  // The title-bar close: as Cancel.
  event->ignore();
  Cancel();
}

void TfrmProgress::reject() {
  Cancel();
}

void TfrmProgress::ShowProgress(const TJobProgress& p) {
  FCurrentTime->setText(QString::fromStdString(p.CurrentTimeText));
  FLength->setText(QString::fromStdString(p.LengthText));
  FFileSize->setText(QString::fromStdString(p.FileSizeText));
  FProgress->setText(QString::fromStdString(p.ProgressText));
  FFile->setText(QString::fromStdString(p.FileText));
  if (p.Percent < 0) {
    FBar->setRange(0, 0);  // length unknown: the bar shows activity, not a share
  } else {
    FBar->setRange(0, 100);
    FBar->setValue(p.Percent);
  }
  emit ProgressShown(p);
}

void TfrmProgress::ShowJobFinished() {
  FBar->setRange(0, 100);
  FBar->setValue(100);
}

bool TfrmProgress::OpenFolderAfterRun() const {
  return FOpenFolder->isChecked();
}

bool TfrmProgress::ShutDownAfterRun() const {
  return FShutDown->isChecked();
}

void TfrmProgress::Tick() {
  if (!FRun || !FFrameArrived) return;
  FFrameArrived = false;
  const TBitmap& frame = FRun->PreviewFrame();
  if (frame.Width() > 0 && frame.Height() > 0) FPreview->SetFrame(ImageOf(frame));
}

QImage TfrmProgress::PreviewPicture() const {
  QImage picture(kPreviewWidth, kPreviewHeight, QImage::Format_RGB888);
  QPainter p(&picture);
  FPreview->Draw(p, picture.size());
  return picture;
}

void TfrmProgress::TakeSnapshot() {
  if (!FRun) return;
  const TBitmap& frame = FRun->PreviewFrame();
  if (frame.Empty()) return;
  LastSnapshotFiles =
      SaveSnapshot(FGlobal, ImageOf(frame), PreviewPicture(), FDialogs, this).Written;
}
