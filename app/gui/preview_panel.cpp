#include "app/gui/preview_panel.h"

#include <QPainter>
#include <algorithm>

#include "app/gui/app_style.h"
#include "app/gui/video_widget.h"
#include "dvd/dvd_plugin_loader.h"
#include "player/player.h"

TPreviewPanel::TPreviewPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("previewPanel"));
  setFixedSize(kWidth, kHeight);
  setAttribute(Qt::WA_OpaquePaintEvent);
  FVideo = new TVideoWidget(this);
  FVideo->setObjectName(QStringLiteral("previewVideo"));
  FVideo->setMinimumSize(0, 0);
  FVideo->setGeometry(rect());
  // The window's keys (Space on the list, the arrows) stay with the window's controls.
  FVideo->setFocusPolicy(Qt::NoFocus);
  FVideo->hide();

  FPlayer = std::make_unique<TMediaPlayer>();
  FPlayer->SetAudioVolume(FVolume);
  // Runs inside Open, on the main thread: the picture takes the panel's size.
  FPlayer->OnFileOpen = [this](TCustomPlayer*, int64_t duration, int frameWidth, int frameHeight,
                               int& screenWidth, int& screenHeight) {
    screenWidth = FVideo->width();
    screenHeight = FVideo->height();
    FDuration = std::max<int64_t>(0, duration);
    emit FileOpened(duration, frameWidth, frameHeight,
                    QString::fromStdString(FPlayer->Probe().DescribeFile()));
  };
  // Both arrive on the main thread (the player's default), never after the player is gone.
  FPlayer->OnPosition = [this](TCustomPlayer*, int64_t position) {
    if (FOpen) emit PositionChanged(position);
  };
  FPlayer->OnState = [this](TCustomPlayer*, TPlayState state) {
    if (FOpen && state == psEnd) emit Ended();
  };
}

TPreviewPanel::~TPreviewPanel() {
  // Ends the player's threads while the widget they draw into still exists.
  FPlayer.reset();
}

bool TPreviewPanel::LoadLibraries(std::string& error) {
  error.clear();
  if (FPlayer->LibrariesReady() || FPlayer->LoadLibrariesFrom(DefaultDVDPlugInFolder()))
    return true;
  error = FPlayer->LastError();
  return false;
}

bool TPreviewPanel::Open(const std::string& url, bool paused) {
  FLastError.clear();
  FDuration = 0;
  FVideo->Clear();
  FVideo->show();
  FPlayer->SetAudioVolume(FVolume);
  FPlayer->SetMute(FMute);
  // Set before Open: the player's first reports may be delivered while Open still waits.
  FOpen = true;
  if (!FPlayer->Open(url, FVideo->Output(), paused)) {
    FOpen = false;
    FLastError = FPlayer->LastError();
    if (FLastError.empty()) FLastError = "The title cannot be played.";
    FVideo->hide();
    update();
    return false;
  }
  return true;
}

bool TPreviewPanel::IsOpen() const {
  return FOpen;
}

bool TPreviewPanel::IsPaused() const {
  return FPlayer->Paused();
}

void TPreviewPanel::Pause() {
  if (FOpen) FPlayer->Pause();
}

void TPreviewPanel::Resume() {
  if (FOpen) FPlayer->Resume();
}

void TPreviewPanel::Stop(bool wait) {
  FOpen = false;
  FPlayer->Stop(wait);
  FDuration = 0;
  FVideo->Clear();
  FVideo->hide();
  update();
}

void TPreviewPanel::Seek(int64_t position, bool wait) {
  if (FOpen) FPlayer->Seek(0, wait, std::max<int64_t>(0, position));
}

int64_t TPreviewPanel::Position() const {
  return FOpen ? std::max<int64_t>(0, FPlayer->Position()) : 0;
}

int64_t TPreviewPanel::Duration() const {
  return FDuration;
}

void TPreviewPanel::SetMute(bool mute) {
  FMute = mute;
  FPlayer->SetMute(mute);
}

void TPreviewPanel::SetVolume(int volume) {
  FVolume = std::clamp(volume, 0, int(kMaxAudioVolume));
  FPlayer->SetAudioVolume(FVolume);
}

bool TPreviewPanel::CurrentFrame(TBitmap& frame) const {
  if (!FOpen) return false;
  const TBitmap* shown = FPlayer->CurrentFrame();
  if (!shown || shown->Empty()) return false;
  frame = *shown;
  return true;
}

void TPreviewPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (FLastError.empty()) return;
  painter.setPen(app_colors::kAccentLight);
  painter.drawText(rect().adjusted(16, 16, -16, -16), Qt::AlignCenter | Qt::TextWordWrap,
                   QString::fromStdString(FLastError));
}
