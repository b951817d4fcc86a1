#include "app/gui/preview_panel.h"

#include <QPainter>

#include "app/gui/app_style.h"

namespace {

constexpr char kNoPlayer[] = "The preview player is not part of this build.";

}  // namespace

TPreviewPanel::TPreviewPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("previewPanel"));
  setFixedSize(kWidth, kHeight);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

TPreviewPanel::~TPreviewPanel() = default;

bool TPreviewPanel::LoadLibraries(std::string& error) {
  error.clear();
  return true;
}

bool TPreviewPanel::Open(const std::string&, bool) {
  FLastError = kNoPlayer;
  update();
  return false;
}

bool TPreviewPanel::IsOpen() const {
  return false;
}

bool TPreviewPanel::IsPaused() const {
  return false;
}

void TPreviewPanel::Pause() {}

void TPreviewPanel::Resume() {}

void TPreviewPanel::Stop(bool) {
  update();
}

void TPreviewPanel::Seek(int64_t, bool) {}

int64_t TPreviewPanel::Position() const {
  return 0;
}

int64_t TPreviewPanel::Duration() const {
  return 0;
}

void TPreviewPanel::SetMute(bool mute) {
  FMute = mute;
}

void TPreviewPanel::SetVolume(int volume) {
  FVolume = volume;
}

bool TPreviewPanel::CurrentFrame(TBitmap&) const {
  return false;
}

void TPreviewPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (FLastError.empty()) return;
  painter.setPen(app_colors::kAccentLight);
  painter.drawText(rect().adjusted(16, 16, -16, -16), Qt::AlignCenter | Qt::TextWordWrap,
                   QString::fromStdString(FLastError));
}
