#include "app/gui/editors/trim_editor.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>

#include "app/gui/app_style.h"
#include "app/gui/editors/editor_math.h"
#include "app/gui/title_list_model.h"
#include "app/gui/track_bar.h"
#include "app/gui/video_widget.h"
#include "player/player.h"

namespace {

// Colours of the bars, as red-green-blue.
const QColor kBarBack(0x20, 0x4B, 0x8B);
const QColor kRangeFill(0xFF, 0x99, 0x00);
const QColor kPlayed(0x76, 0x98, 0xCA);
const QColor kRest(0x24, 0x4B, 0x7B);

QString Seconds(int64_t seconds) {
  return QString::fromStdString(FormatSeconds(seconds));
}

QToolButton* TransportButton(QWidget* parent, const char* name, const char* hint,
                             const char* icon) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QLatin1String(name));
  button->setToolTip(QLatin1String(hint));
  button->setIcon(AppIcon(QLatin1String(icon)));
  button->setIconSize(QSize(24, 24));
  button->setAutoRaise(true);
  return button;
}

// A mark's glyph: a small pointed flag, the start one pointing right, the end one left.
void DrawMark(QPainter& p, int x, int y, bool start) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::white, 1));
  p.setBrush(start ? QColor(0x3C, 0xC8, 0x3C) : QColor(0xE0, 0x40, 0x40));
  QPolygon shape;
  if (start)
    shape << QPoint(x + 2, y) << QPoint(x + 14, y + 7) << QPoint(x + 2, y + 14);
  else
    shape << QPoint(x + 14, y) << QPoint(x + 2, y + 7) << QPoint(x + 14, y + 14);
  p.drawPolygon(shape);
  p.restore();
}

}  // namespace

TfrmTrim::TfrmTrim(QWidget* parent) : QDialog(parent), FPlayer(std::make_unique<TMediaPlayer>()) {
  setObjectName(QStringLiteral("frmTrim"));
  setWindowTitle(QStringLiteral("Trim"));
  setModal(true);
  BuildControls();
  FPlayer->OnFileOpen = [this](TCustomPlayer*, int64_t duration, int, int, int&, int&) {
    TitleOpened(duration);
  };
  FPlayer->OnPosition = [this](TCustomPlayer*, int64_t pts) { PlayerPosition(pts); };
  FPlayer->OnState = [this](TCustomPlayer*, TPlayState state) { PlayerState(int(state)); };
  qApp->installEventFilter(this);
}

TfrmTrim::~TfrmTrim() {
  qApp->removeEventFilter(this);
  // The player's threads read the handlers: stop them before the handlers go.
  FPlayer->Stop(true);
  FPlayer->OnFileOpen = nullptr;
  FPlayer->OnPosition = nullptr;
  FPlayer->OnState = nullptr;
}

void TfrmTrim::BuildControls() {
  setFixedSize(900, 580);
  FPicture = new TVideoWidget(this);
  FPicture->setObjectName(QStringLiteral("previewPanel"));
  FPicture->setGeometry(28, 16, 845, 387);

  FPreview = new TTrackBar2(this);
  FPreview->setObjectName(QStringLiteral("trcPreview"));
  FPreview->setGeometry(28, 410, 845, 20);
  FPreview->SetThumbSize(15);
  FPreview->SetTrackSize(12);
  FPreview->SetTrackStyle(trUserDrawn);
  FPreview->SetThumbStyle(tsUserDrawn);
  FPreview->SetTickStyle(tiUserDrawn);
  FPreview->SetMax(0);
  FPreview->setEnabled(false);
  FPreview->OnDrawTrack = [](TTrackBar2* bar, QPainter& p) {
    p.fillRect(QRect(0, 0, bar->width(), 20), kBarBack);
  };
  // The thumb's drawing fills the whole bar (played and rest), not only the thumb's place,
  // so a move repaints all of it; the bar's own partial repaint left stale pieces behind.
  FPreview->OnChange = [](TTrackBar2* bar) { bar->update(); };
  FPreview->OnDrawThumb = [](TTrackBar2* bar, QPainter& p, int x, int) {
    p.fillRect(QRect(5, 6, x + 5, 8), kPlayed);
    p.fillRect(QRect(x + 13, 6, bar->width() - 6 - (x + 13), 8), kRest);
    p.setBrush(Qt::white);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRect(x + 1, 3, 13, 13));
  };

  FPlay = TransportButton(this, "btnPlay", "Play", "play");
  FPause = TransportButton(this, "btnPause", "Pause", "pause");
  FStop = TransportButton(this, "btnStop", "Stop", "stop");
  FPlay->setGeometry(28, 436, 32, 30);
  FPause->setGeometry(64, 436, 32, 30);
  FStop->setGeometry(100, 436, 32, 30);
  connect(FPlay, &QToolButton::clicked, this, [this] { Play(); });
  connect(FPause, &QToolButton::clicked, this, [this] { PauseClicked(); });
  connect(FStop, &QToolButton::clicked, this, [this] { StopClicked(); });

  FTime = new QLabel(QStringLiteral("00:00:00 / "), this);
  FTime->setObjectName(QStringLiteral("lblTime"));
  FTime->setGeometry(700, 440, 80, 22);
  FTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  FDuration = new QLabel(QStringLiteral("00:00:00"), this);
  FDuration->setObjectName(QStringLiteral("lblPTS"));
  FDuration->setGeometry(782, 440, 90, 22);

  FRange = new TTrackBar2(this);
  FRange->setObjectName(QStringLiteral("trcPosition"));
  FRange->SetSecondThumb(true);
  FRange->SetTrackStyle(trUserDrawn);
  FRange->SetThumbStyle(tsUserDrawn);
  FRange->SetTickStyle(tiUserDrawn);
  FRange->setGeometry(kBarLeft, kBarTop, kBarWidth, kBarHeight);
  FRange->OnDrawTrack = [this](TTrackBar2* bar, QPainter& p) {
    // The control's own thumbs are not drawn: only the two marks show.
    const int y = 6;
    p.fillRect(QRect(0, y - 6, bar->width(), 16), kBarBack);
    p.fillRect(QRect(FStartMark + 10, y + 2, FEndMark + 2 - (FStartMark + 10), 4), kRangeFill);
    if (FEndMark <= FMarkRange) DrawMark(p, FEndMark, y - 4, false);
    if (FStartMark >= 0) DrawMark(p, FStartMark, y - 4, true);
  };
  FRange->OnMouseDown = [this](TTrackBar2*, QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) RangePressed(int(event->position().x()));
  };
  FRange->OnMouseMove = [this](TTrackBar2*, QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) RangeMoved(int(event->position().x()));
  };

  auto* startLabel = new QLabel(QStringLiteral("Trim Start: "), this);
  startLabel->setGeometry(32, 505, 80, 24);
  FStartBox = new QLineEdit(this);
  FStartBox->setObjectName(QStringLiteral("edtStart"));
  FStartBox->setGeometry(112, 505, 90, 24);
  FStartBox->setEnabled(false);
  auto* endLabel = new QLabel(QStringLiteral("Trim End: "), this);
  endLabel->setGeometry(230, 505, 80, 24);
  FEndBox = new QLineEdit(this);
  FEndBox->setObjectName(QStringLiteral("edtTrimLength"));
  FEndBox->setGeometry(310, 505, 90, 24);
  FEndBox->setEnabled(false);

  FDefault = new QPushButton(QStringLiteral("&Default"), this);
  FDefault->setObjectName(QStringLiteral("btnDefault"));
  FDefault->setGeometry(560, 540, 96, 28);
  FOk = new QPushButton(QStringLiteral("Ok"), this);
  FOk->setObjectName(QStringLiteral("btnOk"));
  FOk->setGeometry(666, 540, 96, 28);
  FOk->setDefault(true);
  FCancel = new QPushButton(QStringLiteral("Cancel"), this);
  FCancel->setObjectName(QStringLiteral("btnCancel"));
  FCancel->setGeometry(772, 540, 96, 28);
  connect(FDefault, &QPushButton::clicked, this, [this] { Default(); });
  connect(FOk, &QPushButton::clicked, this, [this] { Accept(); });
  connect(FCancel, &QPushButton::clicked, this, [this] { reject(); });
  connect(this, &QDialog::finished, this, [this] { Finish(); });
}

int TfrmTrim::Edit(const TEditorTitle& title) {
  Prepare(title);
  return exec();
}

bool TfrmTrim::Prepare(const TEditorTitle& title) {
  FTitle = title;
  FRange->setGeometry(kBarLeft, kBarTop, kBarWidth, kBarHeight);
  FTime->setText(QStringLiteral("00:00:00 / "));
  FDuration->setText(QStringLiteral("00:00:00"));
  std::string error;
  FOpened = OpenEditorTitle(*FPlayer, FTitle, FPicture->Output(), error);
  if (FOpened) {
    FStopped = FPaused = false;
    const TlvFilesRecord& record = FTitle.Record();
    int64_t start = 0, end = 0;
    TrimSecondsOf(record.TrimStart, record.TrimLength, FDurationSeconds, start, end);
    SetRange(start, end);
    SetButtons(false, true, true);
  } else {
    // No picture; Ok applies its rule to the values the dialog holds.
    SetButtons(false, false, false);
  }
  return FOpened;
}

void TfrmTrim::TitleOpened(int64_t durationMicros) {
  FDurationMicros = durationMicros < 0 ? 0 : durationMicros;
  FDurationSeconds = RoundEven(double(FDurationMicros) / 1e6);
  FDuration->setText(Seconds(FDurationSeconds));
  FPreview->SetMax(int(FDurationSeconds));
  FRange->SetMax(int(FDurationSeconds));
  FRange->SetPositionU(FRange->Max());
  FRange->SetPositionL(0);
  FMarkRange = FRange->width() - kGlyph;
  if (FPlayer) FPlayer->SetMute(FTitle.SettingsPath.empty() ? false : FTitle.Settings().Mute());
  FSeekPreview = FSeekRange = false;
  FPreview->setEnabled(true);
  FPreview->SetPositionL(0);
  // Until the record says otherwise, the whole title.
  SetRange(0, FDurationSeconds);
}

void TfrmTrim::SetRange(int64_t startSecond, int64_t endSecond) {
  FStartSecond = startSecond;
  FEndSecond = endSecond;
  FStartMark = TrimMarkFor(startSecond, FDurationSeconds, FMarkRange);
  FEndMark = TrimMarkFor(endSecond, FDurationSeconds, FMarkRange);
  ShowSeconds();
  FRange->update();
}

void TfrmTrim::ShowSeconds() {
  FStartBox->setText(Seconds(FStartSecond));
  FEndBox->setText(Seconds(FEndSecond));
}

void TfrmTrim::RangePressed(int x) {
  const int mid = (FEndMark - FStartMark) / 2 + FStartMark;
  if (x <= mid && x > 0 && x <= FMarkRange) {
    if (x < kHalfGlyph) {
      FStartMark = 0;
      FStartSecond = 0;
    } else {
      FStartMark = x - kHalfGlyph;
      FStartSecond = int64_t(double(FStartMark) / FRange->width() * double(FDurationSeconds));
    }
    FPreview->SetPositionL(int(FStartSecond));
    FSeekPreview = true;
  }
  const int mid2 = (FEndMark - FStartMark) / 2 + FStartMark;
  if (x > mid2 && x <= FMarkRange) {
    FEndMark = x - kHalfGlyph;
    FEndSecond =
        FMarkRange > 0 ? int64_t(double(FEndMark) / FMarkRange * double(FDurationSeconds)) : 0;
    FPreview->SetPositionL(int(FEndSecond));
    FSeekPreview = true;
  }
  // The marks never cross: the end stays a second after the start.
  if (FEndSecond <= FStartSecond && FDurationSeconds > 0) {
    FEndSecond = std::min(FStartSecond + 1, FDurationSeconds);
    if (FEndSecond <= FStartSecond) FStartSecond = FEndSecond - 1;
    FStartMark = TrimMarkFor(FStartSecond, FDurationSeconds, FMarkRange);
    FEndMark = TrimMarkFor(FEndSecond, FDurationSeconds, FMarkRange);
  }
  ShowSeconds();
  FRange->update();
}

void TfrmTrim::RangeMoved(int x) {
  if (FEndSecond - FStartSecond < 2) return;
  if (FRange->width() > 0) FRange->SetPositionL(int(double(x) / FRange->width() * FRange->Max()));
  const int mid = (FEndMark - FStartMark) / 2 + FStartMark;
  const bool startSide = x <= mid && x > 0 && x <= FMarkRange + kHalfGlyph;
  const bool endSide = x > mid && x <= FMarkRange + kHalfGlyph;
  if (!startSide && !endSide) return;
  const bool seek = FSeekPreview;
  RangePressed(std::min(x, FMarkRange));
  FSeekPreview = seek;
}

void TfrmTrim::Default() {
  FStartSecond = 0;
  FEndSecond = FDurationSeconds;
  FStartBox->setText(QStringLiteral("00:00:00"));
  FEndBox->setText(Seconds(FDurationSeconds));
}

void TfrmTrim::Accept() {
  if (!FTitle.Model || FTitle.Row < 0) {
    reject();
    return;
  }
  TlvFilesRecord& record = FTitle.Record();
  if (FDurationSeconds <= 0) {
    // Nothing was opened: the whole title.
    record.TrimStart = record.TrimLength = 0;
    accept();
    return;
  }
  const TTrimValues values = TrimValuesFor(FStartSecond, FEndSecond, FDurationSeconds);
  if (!values.Valid) {
    ShowEditorRefusal(FTitle, this,
                      QStringLiteral("The start of the trim (%1) lies after its end (%2).")
                          .arg(Seconds(FStartSecond), Seconds(FEndSecond)));
    return;
  }
  record.TrimStart = values.TrimStart;
  record.TrimLength = values.TrimLength;
  FTitle.Model->Row(FTitle.Row).TrimLengthText = std::to_string(values.LengthSeconds);
  accept();
}

void TfrmTrim::SetButtons(bool play, bool pause, bool stop) {
  FPlay->setEnabled(play);
  FPause->setEnabled(pause);
  FStop->setEnabled(stop);
}

void TfrmTrim::Play() {
  if (FPaused) {
    FPlayer->Resume();
    FPaused = FStopped = false;
    SetButtons(false, true, true);
    FPreview->setEnabled(true);
  } else if (FStopped) {
    std::string error;
    if (OpenEditorTitle(*FPlayer, FTitle, FPicture->Output(), error)) {
      FPaused = FStopped = false;
      SetButtons(false, true, true);
      FPreview->setEnabled(true);
    } else {
      SetButtons(true, false, false);
      FPreview->setEnabled(false);
    }
  }
}

void TfrmTrim::PauseClicked() {
  FPaused = true;
  FPlayer->Pause();
  SetButtons(true, false, FStop->isEnabled());
}

void TfrmTrim::StopClicked() {
  if (FPlayer->Paused()) FPlayer->Resume();
  FPlayer->Stop(true);
  FPreview->SetPositionL(0);
  FPreview->setEnabled(false);
  FStopped = true;
  FPaused = false;
  SetButtons(true, false, false);
  FTime->setText(QStringLiteral("00:00:00"));
  FDuration->setText(QStringLiteral("00:00:00"));
  FPicture->update();
}

void TfrmTrim::PlayerPosition(int64_t pts) {
  FTime->setText(Seconds(RoundEven(double(pts) / 1e6)) + QStringLiteral(" / "));
  if (!FSeekPreview && !FSeekRange && FDurationMicros > 0)
    FPreview->SetPositionL(int(RoundEven(double(FPreview->Max()) * double(pts) / FDurationMicros)));
}

void TfrmTrim::PlayerState(int state) {
  switch (TPlayState(state)) {
    case psPause:
      FPaused = true;
      SetButtons(true, false, FStop->isEnabled());
      break;
    case psStop:
      FStopped = true;
      SetButtons(true, false, false);
      FPreview->setEnabled(false);
      break;
    case psEnd:
      SetButtons(true, false, FStop->isEnabled());
      FStopped = true;
      FPlayer->Seek(0, false, 0);
      FPlayer->Pause();
      break;
    default:
      break;
  }
}

bool TfrmTrim::eventFilter(QObject* watched, QEvent* event) {
  // Seeking follows the press and release of the primary button over either bar.
  if (event->type() == QEvent::MouseButtonPress && (watched == FPreview || watched == FRange) &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    (watched == FPreview ? FSeekPreview : FSeekRange) = true;
    if (watched == FPreview) {
      const int x = int(static_cast<QMouseEvent*>(event)->position().x());
      const int travel = FPreview->width() - 13 / 2;
      if (travel > 0) FPreview->SetPositionL(int(double(x) / travel * FPreview->Max()));
    }
  } else if (event->type() == QEvent::MouseButtonRelease && (FSeekPreview || FSeekRange) &&
             static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    if (FPreview->Max() > 0 && FOpened && !FStopped)
      FPlayer->Seek(0, true,
                    int64_t(double(FPreview->PositionL()) / FPreview->Max() * FDurationMicros));
    FSeekPreview = FSeekRange = false;
  }
  return QDialog::eventFilter(watched, event);
}

void TfrmTrim::closeEvent(QCloseEvent* event) {
  QDialog::closeEvent(event);
}

void TfrmTrim::Finish() {
  FPlayer->Stop(false);
  FStopped = true;
}
