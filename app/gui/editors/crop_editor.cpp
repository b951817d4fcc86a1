#include "app/gui/editors/crop_editor.h"

#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <cstring>

#include "app/core/color_adjust.h"
#include "app/gui/app_style.h"
#include "app/gui/editors/picture_box.h"
#include "app/gui/rect_tracker.h"
#include "app/gui/title_list_model.h"
#include "app/gui/track_bar.h"
#include "app/gui/video_widget.h"
#include "player/player.h"

namespace {

const QColor kPictureBack(0xA6, 0xCA, 0xF0);

struct TBarSpec {
  const char* Name;
  const char* SpinName;
  const char* Label;
  int Min, Max;
};
constexpr TBarSpec kBars[4] = {
    {"trcBrightness", "spedtBrightness", "Brightness:", 0, 512},
    {"trcContrast", "spedtContrast", "Contrast:", -100, 100},
    {"trcSaturation", "spedtSaturation", "Saturation:", 0, 512},
    {"trcExposure", "spedtExposure", "Exposure:", -255, 512},
};

// The part of `source` that the crop keeps.
TBitmap Cropped(const TBitmap& source, const TSourceCrop& crop) {
  const int width = source.Width() - crop.Left - crop.Right;
  const int height = source.Height() - crop.Top - crop.Bottom;
  if (width <= 0 || height <= 0) return TBitmap();
  TBitmap out(width, height);
  for (int y = 0; y < height; ++y)
    std::memcpy(out.ScanLine(y), source.ScanLine(y + crop.Top) + crop.Left * 3, size_t(width) * 3);
  return out;
}

}  // namespace

TfrmCrop::TfrmCrop(QWidget* parent) : QDialog(parent), FPlayer(std::make_unique<TMediaPlayer>()) {
  setObjectName(QStringLiteral("frmCrop"));
  setWindowTitle(QStringLiteral("Crop"));
  setModal(true);
  BuildControls();
  FPlayer->OnFileOpen = [this](TCustomPlayer*, int64_t duration, int width, int height, int&,
                               int&) {
    FSourceWidth = width;
    FSourceHeight = height;
    FDuration->setText(QString::fromStdString(FormatSeconds(RoundEven(duration / 1e6))));
    FPlayer->SetAudioVolume(TAudioVolume(FVolume->PositionL() & 0xFF));
    FPlayer->SetMute(FTitle.SettingsPath.empty() ? false : FTitle.Settings().Mute());
  };
  FPlayer->OnPosition = [this](TCustomPlayer*, int64_t pts) {
    FTime->setText(QString::fromStdString(FormatSeconds(RoundEven(pts / 1e6))) +
                   QStringLiteral(" / "));
  };
  // Decoding thread: copy only, and only while playing.
  FPlayer->OnHook = [this](TCustomPlayer*, TBitmap* bitmap, int64_t pts) {
    if (!FCapture) return;
    std::lock_guard lock(FFrameLock);
    FCaptured = *bitmap;
    FCapturedPTS = pts;
  };
  FTimer = new QTimer(this);
  FTimer->setInterval(100);
  connect(FTimer, &QTimer::timeout, this, [this] { Refresh(); });
}

TfrmCrop::~TfrmCrop() {
  Finish();
}

void TfrmCrop::BuildControls() {
  setFixedSize(900, 600);
  // The player draws into a panel nobody sees; the pictures come through the hook.
  FHiddenPanel = new TVideoWidget(this);
  FHiddenPanel->setGeometry(0, 0, 16, 16);
  FHiddenPanel->hide();

  FSource = new TPictureBox(kPictureBack, this);
  FSource->setObjectName(QStringLiteral("imgSource"));
  FSource->setGeometry(20, 20, kPictureWidth, kPictureHeight);
  FOutput = new TPictureBox(kPictureBack, this);
  FOutput->setObjectName(QStringLiteral("imgOutput"));
  FOutput->setGeometry(460, 20, kPictureWidth, kPictureHeight);

  FTracker = new TRectTracker(this);
  FTracker->setObjectName(QStringLiteral("RectTracker"));
  FTracker->setGeometry(FSource->geometry());
  FTracker->OnMouseDown = [this](TCustomRectTracker*, QMouseEvent*) { TrackerPressed(); };
  FTracker->OnMouseMove = [this](TCustomRectTracker*, QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) TrackerMoved();
  };
  FTracker->OnMouseUp = [this](TCustomRectTracker*, QMouseEvent*) { TrackerReleased(); };

  FPlay = new QToolButton(this);
  FPause = new QToolButton(this);
  FStop = new QToolButton(this);
  const char* names[3][3] = {
      {"btnPlay", "Play", "play"}, {"btnPause", "Pause", "pause"}, {"btnStop", "Stop", "stop"}};
  QToolButton* buttons[3] = {FPlay, FPause, FStop};
  for (int i = 0; i < 3; ++i) {
    buttons[i]->setObjectName(QLatin1String(names[i][0]));
    buttons[i]->setToolTip(QLatin1String(names[i][1]));
    buttons[i]->setIcon(AppIcon(QLatin1String(names[i][2])));
    buttons[i]->setIconSize(QSize(24, 24));
    buttons[i]->setGeometry(20 + 36 * i, 334, 32, 30);
  }
  connect(FPlay, &QToolButton::clicked, this, [this] {
    FPlayer->Resume();
    FCapture = true;
    FPlay->setEnabled(false);
    FPause->setEnabled(true);
  });
  connect(FPause, &QToolButton::clicked, this, [this] {
    FCapture = false;
    FPlayer->Pause();
    FPlay->setEnabled(true);
    FPause->setEnabled(false);
  });
  connect(FStop, &QToolButton::clicked, this, [this] {
    FCapture = false;
    if (FPlayer->Paused()) FPlayer->Resume();
    FPlayer->Stop(true);
    FPlay->setEnabled(false);
    FPause->setEnabled(false);
    FStop->setEnabled(false);
  });
  FTime = new QLabel(QStringLiteral("00:00:00 / "), this);
  FTime->setObjectName(QStringLiteral("lblTime"));
  FTime->setGeometry(140, 338, 80, 22);
  FTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  FDuration = new QLabel(QStringLiteral("00:00:00"), this);
  FDuration->setObjectName(QStringLiteral("lblPTS"));
  FDuration->setGeometry(222, 338, 80, 22);
  FVolume = new TTrackBar2(this);
  FVolume->setObjectName(QStringLiteral("trcVolume"));
  FVolume->setGeometry(320, 338, 120, 22);
  FVolume->SetMax(128);
  FVolume->SetThumbSize(11);
  FVolume->OnChange = [this](TTrackBar2* bar) {
    FPlayer->SetAudioVolume(TAudioVolume(bar->PositionL() & 0xFF));
    if (!FTitle.SettingsPath.empty()) FTitle.Settings().SetVolume(bar->PositionL());
  };

  FTabs = new QTabWidget(this);
  FTabs->setObjectName(QStringLiteral("tabs"));
  FTabs->setGeometry(20, 376, 860, 160);
  auto* crop = new QWidget;
  auto spin = [crop](const char* name, const char* label, int x, int y) {
    auto* caption = new QLabel(QLatin1String(label), crop);
    caption->setGeometry(x, y, 50, 26);
    auto* box = new QSpinBox(crop);
    box->setObjectName(QLatin1String(name));
    box->setRange(-100000, 100000);  // no limits of their own: the rectangle limits them
    if (auto* edit = box->findChild<QLineEdit*>()) edit->setReadOnly(true);  // arrows only
    box->setGeometry(x + 52, y, 80, 26);
    return box;
  };
  FUp = spin("spedUp", "Up:", 150, 10);
  FLeft = spin("spedLeft", "Left:", 10, 45);
  FRight = spin("spedRight", "Right:", 290, 45);
  FDown = spin("spedDown", "Down:", 150, 80);
  for (QSpinBox* box : {FUp, FLeft, FRight, FDown})
    connect(box, &QSpinBox::valueChanged, this,
            [this, box](int value) { SpinChanged(box, value); });
  auto* cropReset = new QPushButton(QStringLiteral("Reset"), crop);
  cropReset->setObjectName(QStringLiteral("btnCropReset"));
  cropReset->setGeometry(480, 45, 90, 28);
  connect(cropReset, &QPushButton::clicked, this, [this] { ResetCrop(); });
  FTabs->addTab(crop, QStringLiteral("Crop"));

  auto* effect = new QWidget;
  for (int i = 0; i < 4; ++i) {
    const int x = i % 2 == 0 ? 10 : 420, y = i < 2 ? 12 : 60;
    auto* caption = new QLabel(QLatin1String(kBars[i].Label), effect);
    caption->setGeometry(x, y, 80, 26);
    auto* bar = new QSlider(Qt::Horizontal, effect);
    bar->setObjectName(QLatin1String(kBars[i].Name));
    bar->setRange(kBars[i].Min, kBars[i].Max);
    bar->setGeometry(x + 84, y, 220, 26);
    auto* box = new QSpinBox(effect);
    box->setObjectName(QLatin1String(kBars[i].SpinName));
    box->setRange(kBars[i].Min, kBars[i].Max);
    box->setGeometry(x + 310, y, 70, 26);
    connect(bar, &QSlider::valueChanged, box, &QSpinBox::setValue);
    connect(box, &QSpinBox::valueChanged, bar, &QSlider::setValue);
    FBars[i] = bar;
    FBarSpins[i] = box;
  }
  auto* effectReset = new QPushButton(QStringLiteral("Reset"), effect);
  effectReset->setObjectName(QStringLiteral("btnEffectReset"));
  effectReset->setGeometry(760, 100, 80, 28);
  connect(effectReset, &QPushButton::clicked, this, [this] { ResetEffects(); });
  FTabs->addTab(effect, QStringLiteral("Effect"));
  ResetEffects();

  FDefault = new QPushButton(QStringLiteral("&Default"), this);
  FDefault->setGeometry(560, 556, 96, 28);
  connect(FDefault, &QPushButton::clicked, this, [this] { ResetCrop(); });
  FOk = new QPushButton(QStringLiteral("Ok"), this);
  FOk->setObjectName(QStringLiteral("btnOk"));
  FOk->setGeometry(666, 556, 96, 28);
  FOk->setDefault(true);
  connect(FOk, &QPushButton::clicked, this, [this] { Accept(); });
  FCancel = new QPushButton(QStringLiteral("Cancel"), this);
  FCancel->setObjectName(QStringLiteral("btnCancel"));
  FCancel->setGeometry(772, 556, 96, 28);
  connect(FCancel, &QPushButton::clicked, this, [this] { reject(); });
  connect(this, &QDialog::finished, this, [this] { Finish(); });
}

int TfrmCrop::Edit(const TEditorTitle& title) {
  Prepare(title);
  return exec();
}

bool TfrmCrop::Prepare(const TEditorTitle& title) {
  FTitle = title;
  FTime->setText(QStringLiteral("00:00:00 / "));
  FDuration->setText(QStringLiteral("00:00:00"));
  FSource->Clear();
  FOutput->Clear();
  const TSettingsStore settings = FTitle.Settings();
  FVolume->SetPositionL(FTitle.SettingsPath.empty() ? 64 : settings.PreviewVolume());
  std::string error;
  FCapture = true;
  FSourceWidth = FSourceHeight = 0;
  FPlayer->SetHook(true);
  if (!OpenEditorTitle(*FPlayer, FTitle, FHiddenPanel->Output(), error)) {
    FCapture = false;
    FPlay->setEnabled(false);
    FPause->setEnabled(false);
    return false;
  }
  FPlay->setEnabled(false);
  FPause->setEnabled(true);
  const TlvFilesRecord& record = FTitle.Record();
  int64_t pts = -1;
  const TBitmap* current = FPlayer->CurrentFrame(pts);
  if (FSourceWidth <= 0 && current) {
    FSourceWidth = current->Width();
    FSourceHeight = current->Height();
  }
  FHasVideo = FSourceWidth > 0 && FSourceHeight > 0;
  if (!FHasVideo) {
    FTracker->hide();
    SetSpinsQuietly({});
    for (QSpinBox* box : {FUp, FLeft, FRight, FDown}) box->setEnabled(false);
    for (QSlider* bar : FBars) bar->setEnabled(false);
  } else {
    TBitmap shape(FSourceWidth, FSourceHeight);
    const QRect fitted = FSource->DrawFitted(current && !current->Empty() ? *current : shape);
    FArea = fitted.translated(FSource->pos());
    SetSpinsQuietly(
        {record.CropUpValue, record.CropLeftValue, record.CropDownValue, record.CropRightValue});
    FLastSpins = Spins();
    PlaceTracker();
    SetAdjustments(record.Brightness, record.Contrast, record.Saturation, record.Exposure);
  }
  UpdateSourceCrop();
  FTimer->start();
  return true;
}

TCropSpins TfrmCrop::Spins() const {
  return {FUp->value(), FLeft->value(), FDown->value(), FRight->value()};
}

void TfrmCrop::SetSpinsQuietly(const TCropSpins& spins) {
  FUpdatingFromRect = true;
  FUp->setValue(spins.Up);
  FLeft->setValue(spins.Left);
  FDown->setValue(spins.Down);
  FRight->setValue(spins.Right);
  FUpdatingFromRect = false;
}

void TfrmCrop::PlaceTracker() {
  FTracker->setGeometry(RectForSpins(Spins(), FArea));
  FAnchor = FTracker->geometry();
}

void TfrmCrop::UpdateSourceCrop() {
  FSourceCrop = SourceCropFor(Spins(), FSourceWidth, FSourceHeight, FArea.width(), FArea.height());
}

void TfrmCrop::TrackerPressed() {
  FAnchor = FTracker->geometry();
  FMoving = FTracker->DragMode() == TCustomRectTracker::dmMove;
}

void TfrmCrop::TrackerMoved() {
  const QRect kept = KeepCropRectInside(FTracker->geometry(), FAnchor, FArea, FMoving);
  if (kept != FTracker->geometry()) FTracker->setGeometry(kept);
  SetSpinsQuietly(SpinsForRect(FTracker->geometry(), FArea));
  FLastSpins = Spins();
  UpdateSourceCrop();
}

void TfrmCrop::TrackerReleased() {
  FAnchor = FTracker->geometry();
}

void TfrmCrop::SpinChanged(QSpinBox* spin, int value) {
  if (FUpdatingFromRect) return;
  const bool vertical = spin == FUp || spin == FDown;
  int& last = spin == FUp     ? FLastSpins.Up
              : spin == FDown ? FLastSpins.Down
              : spin == FLeft ? FLastSpins.Left
                              : FLastSpins.Right;
  const int across = vertical ? FTracker->height() : FTracker->width();
  // The rectangle does not shrink below about 10 pixels through the arrows.
  if (across <= TCustomRectTracker::kMinimumSize && value >= last) {
    FUpdatingFromRect = true;
    spin->setValue(last);
    FUpdatingFromRect = false;
    return;
  }
  if (value < 0) {
    FUpdatingFromRect = true;
    spin->setValue(0);
    FUpdatingFromRect = false;
  }
  FLastSpins = Spins();
  PlaceTracker();
  UpdateSourceCrop();
}

void TfrmCrop::ResetCrop() {
  SetSpinsQuietly({});
  FLastSpins = {};
  if (FHasVideo) PlaceTracker();
  UpdateSourceCrop();
}

void TfrmCrop::ResetEffects() {
  SetAdjustments(kUntouchedBrightness, kUntouchedContrast, kUntouchedSaturation,
                 kUntouchedExposure);
}

void TfrmCrop::SetAdjustments(int brightness, int contrast, int saturation, int exposure) {
  const int values[4] = {brightness, contrast, saturation, exposure};
  for (int i = 0; i < 4; ++i) FBars[i]->setValue(values[i]);
}

void TfrmCrop::Refresh() {
  TBitmap frame;
  int64_t pts;
  {
    std::lock_guard lock(FFrameLock);
    if (FCaptured.Empty()) return;
    frame = FCaptured;
    pts = FCapturedPTS;
  }
  FSource->DrawFitted(frame);
  const int b = FBars[0]->value(), k = FBars[1]->value(), a = FBars[2]->value(),
            e = FBars[3]->value();
  if (b != kUntouchedBrightness || k != kUntouchedContrast || a != kUntouchedSaturation ||
      e != kUntouchedExposure) {
    ApplyColorAdjust(frame, b, k, a);
    ApplyExposure(frame, float(e));
  }
  FOutputFrame = Cropped(frame, FSourceCrop);
  FOutputPTS = pts;
  FOutput->Clear();
  FOutput->DrawFitted(FOutputFrame);
}

TBitmap TfrmCrop::OutputFrame() const {
  return FOutputFrame;
}

void TfrmCrop::Accept() {
  if (!FTitle.Model || FTitle.Row < 0) {
    reject();
    return;
  }
  const TSourceCrop crop = FHasVideo ? FSourceCrop : TSourceCrop{};
  if (FHasVideo && (FSourceWidth - crop.Left - crop.Right < kMinimumCroppedSize ||
                    FSourceHeight - crop.Top - crop.Bottom < kMinimumCroppedSize)) {
    ShowEditorRefusal(FTitle, this,
                      QStringLiteral("The crop would leave less than %1 x %1 pixels of the "
                                     "picture. Make the crop rectangle larger.")
                          .arg(kMinimumCroppedSize));
    return;
  }
  TlvFilesRecord& record = FTitle.Record();
  const TCropSpins spins = FHasVideo ? Spins() : TCropSpins{};
  record.CropUpValue = spins.Up;
  record.CropLeftValue = spins.Left;
  record.CropDownValue = spins.Down;
  record.CropRightValue = spins.Right;
  record.CropTop = crop.Top;
  record.CropBottom = crop.Bottom;
  record.CropLeft = crop.Left;
  record.CropRight = crop.Right;
  record.Brightness = FBars[0]->value();
  record.Contrast = FBars[1]->value();
  record.Saturation = FBars[2]->value();
  record.Exposure = FBars[3]->value();
  accept();
}

void TfrmCrop::Finish() {
  FTimer->stop();
  FCapture = false;
  if (FPlayer) {
    FPlayer->Stop(true);
    FPlayer->OnHook = nullptr;
  }
  std::lock_guard lock(FFrameLock);
  FCaptured = TBitmap();
}
