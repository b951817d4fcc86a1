#include "app/gui/editors/watermark_editor.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/core/watermark_draw.h"
#include "app/gui/editors/editor_math.h"
#include "app/gui/editors/picture_box.h"
#include "app/gui/title_list_model.h"
#include "app/gui/track_bar.h"
#include "app/gui/user_dialogs.h"
#include "app/gui/video_widget.h"
#include "player/player.h"

namespace {

// The colour list: black, maroon, green, olive, navy, purple, teal, grey, silver, red, lime,
// yellow, blue, fuchsia, aqua, white.
struct TNamedColor {
  const char* Name;
  TColor Value;  // 0x00BBGGRR
};
constexpr TNamedColor kColors[16] = {
    {"Black", 0x000000},  {"Maroon", 0x000080},  {"Green", 0x008000}, {"Olive", 0x008080},
    {"Navy", 0x800000},   {"Purple", 0x800080},  {"Teal", 0x808000},  {"Grey", 0x808080},
    {"Silver", 0xC0C0C0}, {"Red", 0x0000FF},     {"Lime", 0x00FF00},  {"Yellow", 0x00FFFF},
    {"Blue", 0xFF0000},   {"Fuchsia", 0xFF00FF}, {"Aqua", 0xFFFF00},  {"White", 0xFFFFFF},
};
constexpr int kDefaultFontColor = 12;  // blue
constexpr int kDefaultBackColor = 2;   // green
constexpr int kDefaultSizeItem = 19;   // "26"
constexpr int kDefaultAlpha = 125;
constexpr int kChecker = 13;

QColor ToQColor(TColor c) {
  return QColor(ColorRed(c), ColorGreen(c), ColorBlue(c));
}

int ColorIndex(TColor c) {
  for (int i = 0; i < 16; ++i)
    if (kColors[i].Value == (c & 0xFFFFFF)) return i;
  return -1;
}

QString Seconds(int64_t s) {
  return QString::fromStdString(FormatSeconds(s));
}

// A watermark layer: reports its moves to the dialog.
class TLayerItem : public QGraphicsPixmapItem {
 public:
  TLayerItem(const QPixmap& pixmap, std::function<void(TLayerItem*)> moved)
      : QGraphicsPixmapItem(pixmap), FMoved(std::move(moved)) {
    setFlags(ItemIsMovable | ItemIsSelectable | ItemSendsGeometryChanges);
  }

 protected:
  QVariant itemChange(GraphicsItemChange change, const QVariant& value) override {
    if (change == ItemPositionHasChanged && FMoved) FMoved(this);
    return QGraphicsPixmapItem::itemChange(change, value);
  }

 private:
  std::function<void(TLayerItem*)> FMoved;
};

// The stage: a checkerboard behind the picture, grey where the column and row parities are
// equal, and the picture with its layers scaled to fit, centred.
class TStageView : public QGraphicsView {
 public:
  using QGraphicsView::QGraphicsView;

 protected:
  void drawBackground(QPainter* painter, const QRectF&) override {
    painter->save();
    painter->resetTransform();
    const QRect area = viewport()->rect();
    for (int y = 0; y * kChecker < area.height(); ++y)
      for (int x = 0; x * kChecker < area.width(); ++x)
        painter->fillRect(x * kChecker, y * kChecker, kChecker, kChecker,
                          (x % 2) == (y % 2) ? QColor(0xB0, 0xB0, 0xB0) : QColor(Qt::white));
    painter->restore();
  }
  void resizeEvent(QResizeEvent* event) override {
    QGraphicsView::resizeEvent(event);
    if (scene()) fitInView(scene()->sceneRect(), Qt::KeepAspectRatio);
  }
};

QImage ReadPicture(const QString& path, QString& why) {
  const QFileInfo info(path);
  if (!info.exists()) {
    why = QStringLiteral("the file does not exist");
    return {};
  }
  if (!info.isFile()) {
    why = QStringLiteral("it is not a file");
    return {};
  }
  if (info.size() == 0) {
    why = QStringLiteral("the file is empty");
    return {};
  }
  QImageReader reader(path);
  reader.setAutoTransform(false);
  const QByteArray format = reader.format().toLower();
  if (format != "bmp" && format != "png" && format != "jpeg" && format != "jpg") {
    why = QStringLiteral("it is not a BMP, PNG or JPEG picture");
    return {};
  }
  QImage image = reader.read();
  if (image.isNull()) {
    why = reader.errorString();
    return {};
  }
  return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

}  // namespace

TfrmWaterMark::TfrmWaterMark(QWidget* parent)
    : QDialog(parent), FPlayer(std::make_unique<TMediaPlayer>()) {
  setObjectName(QStringLiteral("frmWaterMark"));
  setWindowTitle(QStringLiteral("Water Mark"));
  setModal(true);
  BuildControls();
  FPlayer->OnFileOpen = [this](TCustomPlayer*, int64_t duration, int width, int height, int&,
                               int&) { TitleOpened(duration, width, height); };
  FPlayer->OnState = [this](TCustomPlayer*, TPlayState state) {
    if (state == psEnd) {
      FPlayer->Seek(4, false, 0);
      FPlayer->Pause();
    }
  };
  // Decoding thread: copy the picture, post one repaint at a time.
  FPlayer->OnHook = [this](TCustomPlayer*, TBitmap* bitmap, int64_t pts) {
    {
      std::lock_guard lock(FFrameLock);
      FFrame = *bitmap;
      FFramePTS = pts;
    }
    if (!FRepaintPosted.exchange(true))
      QMetaObject::invokeMethod(
          this, [this] { ShowFrame(); }, Qt::QueuedConnection);
  };
}

TfrmWaterMark::~TfrmWaterMark() {
  // The scene outlives this part of the dialog and reports the removal of its items.
  if (FScene) FScene->disconnect(this);
  Finish();
}

void TfrmWaterMark::BuildControls() {
  setFixedSize(980, 560);
  FHiddenPanel = new TVideoWidget(this);
  FHiddenPanel->setGeometry(0, 0, 16, 16);
  FHiddenPanel->hide();

  auto* heading = new QLabel(QStringLiteral("Watermark"), this);
  heading->setGeometry(16, 6, 300, 24);
  QFont headingFont = heading->font();
  headingFont.setBold(true);
  headingFont.setPointSize(headingFont.pointSize() + 2);
  heading->setFont(headingFont);

  FScene = new QGraphicsScene(this);
  FScene->setSceneRect(0, 0, 720, 576);
  FView = new TStageView(FScene, this);
  FView->setObjectName(QStringLiteral("view"));
  FView->setGeometry(16, 36, 592, 427);
  FView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  FView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  FView->setRenderHint(QPainter::SmoothPixmapTransform);
  FFrameItem = FScene->addPixmap(QPixmap());
  FFrameItem->setZValue(-1);
  connect(FScene, &QGraphicsScene::selectionChanged, this, [this] {
    if (FSyncing) return;
    const auto selected = FScene->selectedItems();
    if (selected.isEmpty()) return;
    for (size_t i = 0; i < FItems.size(); ++i)
      if (FItems[i].Layer == selected.first()) {
        SelectRow(int(i));
        return;
      }
  });

  auto* bar = new TTrackBar2(this);
  bar->setObjectName(QStringLiteral("trcPreview"));
  bar->setGeometry(16, 470, 592, 20);
  bar->SetThumbSize(15);
  bar->SetMax(0);
  bar->setEnabled(false);

  const int px = 624;  // the side panel
  auto button = [this](const char* text, const char* name, int x, int y, int w) {
    auto* b = new QPushButton(QLatin1String(text), this);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(x, y, w, 26);
    return b;
  };
  FAddText = button("Add Text", "btnAddText", px, 36, 74);
  FAddImage = button("Add Image", "btnAddImage", px, 36, 94);
  FDelete = button("Delete", "btnDelete", px, 36, 62);
  FUp = button("Up", "btnUp", px, 36, 44);
  FDown = button("Down", "btnDown", px, 36, 58);
  {
    // Each as wide as its caption needs with the narrow padding the style sheet gives these
    // five (fixed widths clipped the captions), what is left of the panel's width shared out.
    QPushButton* const row[5] = {FAddText, FAddImage, FDelete, FUp, FDown};
    constexpr int kPadding = 2 * 6 + 2 + 2, kGap = 4, kPanel = 304;
    int widths[5], needed = 4 * kGap;
    for (int i = 0; i < 5; ++i) {
      widths[i] = row[i]->fontMetrics().horizontalAdvance(row[i]->text()) + kPadding;
      needed += widths[i];
    }
    const int spare = std::max(0, kPanel - needed);
    int x = px;
    for (int i = 0; i < 5; ++i) {
      const int w = widths[i] + spare / 5 + (i < spare % 5 ? 1 : 0);
      row[i]->setGeometry(x, 36, w, 26);
      x += w + kGap;
    }
  }
  connect(FAddText, &QPushButton::clicked, this, [this] { AddText(); });
  connect(FAddImage, &QPushButton::clicked, this, [this] { AddImage(); });
  connect(FDelete, &QPushButton::clicked, this, [this] { DeleteRow(); });
  connect(FUp, &QPushButton::clicked, this, [this] { MoveUp(); });
  connect(FDown, &QPushButton::clicked, this, [this] { MoveDown(); });

  FList = new QListWidget(this);
  FList->setObjectName(QStringLiteral("lstWaterMarks"));
  FList->setGeometry(px, 66, 304, 96);
  FList->setTextElideMode(Qt::ElideRight);
  FList->viewport()->installEventFilter(this);
  connect(FList, &QListWidget::currentRowChanged, this, [this](int row) {
    if (!FSyncing && row >= 0) SelectRow(row);
  });
  FInPlace = new QLineEdit(FList->viewport());
  FInPlace->setObjectName(QStringLiteral("edtInPlace"));
  FInPlace->hide();
  connect(FInPlace, &QLineEdit::textEdited, this, [this](const QString& text) { SetText(text); });
  connect(FInPlace, &QLineEdit::editingFinished, FInPlace, &QWidget::hide);

  auto positionRow = [this, px](const char* label, const char* name, int y, QSlider*& slider,
                                QLineEdit*& box, int max) {
    auto* caption = new QLabel(QLatin1String(label), this);
    caption->setGeometry(px, y, 130, 22);
    slider = new QSlider(Qt::Horizontal, this);
    slider->setObjectName(QLatin1String(name));
    slider->setRange(0, max);
    slider->setGeometry(px + 130, y, 120, 22);
    box = new QLineEdit(this);
    box->setReadOnly(true);
    box->setGeometry(px + 256, y, 48, 22);
  };
  positionRow("Horizontal Position:", "trcTextHoriz", 170, FHoriz, FHorizBox, 720);
  positionRow("Vertical Position:", "trcTextVert", 196, FVert, FVertBox, 576);
  positionRow("Transparency:", "trcTextTran", 222, FTran, FTranBox, 255);
  connect(FHoriz, &QSlider::valueChanged, this, [this](int value) {
    FHorizBox->setText(QString::number(value));
    const int row = SelectedRow();
    if (FSyncing || row < 0) return;
    QGraphicsPixmapItem* layer = FItems[size_t(row)].Layer;
    const int left = int(std::lround(layer->x()));
    // A layer dragged partly out of the picture keeps its position.
    if (left >= FHoriz->minimum() && left <= FHoriz->maximum()) layer->setX(value);
  });
  connect(FVert, &QSlider::valueChanged, this, [this](int value) {
    FVertBox->setText(QString::number(value));
    const int row = SelectedRow();
    if (FSyncing || row < 0) return;
    QGraphicsPixmapItem* layer = FItems[size_t(row)].Layer;
    const int top = int(std::lround(layer->y()));
    if (top >= FVert->minimum() && top <= FVert->maximum()) layer->setY(value);
  });
  connect(FTran, &QSlider::valueChanged, this, [this](int value) {
    FTranBox->setText(QString::number(value));
    const int row = SelectedRow();
    if (FSyncing || row < 0) return;
    FItems[size_t(row)].Layer->setOpacity(value / 255.0);
    (FItems[size_t(row)].Rec.Kind == 0 ? FItems[size_t(row)].Rec.TextAlpha
                                       : FItems[size_t(row)].Rec.ImageAlpha) = value;
  });

  auto* rangeLabel = new QLabel(
      QStringLiteral("Set the period of time when a watermark will be \nshow in the video"), this);
  rangeLabel->setGeometry(px, 248, 304, 34);
  FRange = new TTrackBar2(this);
  FRange->setObjectName(QStringLiteral("trcRange"));
  FRange->SetSecondThumb(true);
  FRange->SetThumbSize(11);
  FRange->setGeometry(px, 284, 304, 24);
  FRange->SetMax(0);
  FRange->OnChange = [this](TTrackBar2* bar) {
    // The thumbs never cross: the start stays at least a second before the end.
    if (bar->PositionL() >= bar->PositionU() && bar->Max() > 0) {
      if (bar->TrackingU() || bar->PositionL() >= bar->Max())
        bar->SetPositionL(std::max(0, bar->PositionU() - 1));
      else
        bar->SetPositionU(std::min(bar->Max(), bar->PositionL() + 1));
      return;
    }
    FStartBox->setText(Seconds(bar->PositionL()));
    FEndBox->setText(Seconds(bar->PositionU()));
    const int row = SelectedRow();
    if (FSyncing || row < 0) return;
    FItems[size_t(row)].Rec.StartTime = bar->PositionL();
    FItems[size_t(row)].Rec.EndTime = bar->PositionU();
  };
  auto* startLabel = new QLabel(QStringLiteral("Start time:"), this);
  startLabel->setGeometry(px, 312, 70, 22);
  FStartBox = new QLineEdit(this);
  FStartBox->setReadOnly(true);
  FStartBox->setGeometry(px + 70, 312, 70, 22);
  auto* endLabel = new QLabel(QStringLiteral("End Time:"), this);
  endLabel->setGeometry(px + 160, 312, 70, 22);
  FEndBox = new QLineEdit(this);
  FEndBox->setReadOnly(true);
  FEndBox->setGeometry(px + 230, 312, 70, 22);

  auto* group = new QLabel(QStringLiteral("Font background color"), this);
  group->setGeometry(px, 342, 200, 20);
  FBackColored = new QRadioButton(QStringLiteral("Background color"), this);
  FBackColored->setGeometry(px, 364, 140, 22);
  FBackClear = new QRadioButton(QStringLiteral("Transparent"), this);
  FBackClear->setGeometry(px, 388, 140, 22);
  auto colorBox = [this](int x, int y) {
    auto* box = new QComboBox(this);
    for (const TNamedColor& c : kColors) {
      QPixmap swatch(12, 12);
      swatch.fill(ToQColor(c.Value));
      box->addItem(QIcon(swatch), QLatin1String(c.Name));
    }
    box->setGeometry(x, y, 110, 24);
    return box;
  };
  FBackColor = colorBox(px + 150, 364);
  auto* fontColorLabel = new QLabel(QStringLiteral("Font Color:"), this);
  fontColorLabel->setGeometry(px, 416, 70, 24);
  FFontColor = colorBox(px + 70, 416);
  auto* fontLabel = new QLabel(QStringLiteral("Font:"), this);
  fontLabel->setGeometry(px, 444, 40, 24);
  FFontName = new QComboBox(this);
  FFontName->setObjectName(QStringLiteral("cmbFont"));
  FFontName->addItems(QFontDatabase::families());
  FFontName->setGeometry(px + 40, 444, 150, 24);
  auto* sizeLabel = new QLabel(QStringLiteral("Font Size:"), this);
  sizeLabel->setGeometry(px + 196, 444, 60, 24);
  FFontSize = new QComboBox(this);
  FFontSize->setObjectName(QStringLiteral("cmbFontSize"));
  for (int s = 7; s <= 70; ++s) FFontSize->addItem(QString::number(s));
  FFontSize->setGeometry(px + 254, 444, 50, 24);
  auto* styleLabel = new QLabel(QStringLiteral("Font Style:"), this);
  styleLabel->setGeometry(px, 472, 70, 22);
  const char* styles[4] = {"Bold", "Italic", "Underline", "Strikeout"};
  for (int i = 0; i < 4; ++i) {
    FStyles[i] = new QCheckBox(QLatin1String(styles[i]), this);
    FStyles[i]->setGeometry(px + 70 + (i % 2) * 110, 472 + (i / 2) * 22, 100, 22);
  }

  // Every text property re-renders the selected text row.
  auto textProperty = [this] {
    const int row = SelectedRow();
    if (FSyncing || row < 0 || FItems[size_t(row)].Rec.Kind != 0) return;
    TWmRec& rec = FItems[size_t(row)].Rec;
    rec.HasBackColor = FBackColored->isChecked();
    FBackColor->setEnabled(rec.HasBackColor);
    rec.BackColor = kColors[std::max(0, FBackColor->currentIndex())].Value;
    rec.Font = ChosenFont();
    Rerender(row);
  };
  connect(FBackColored, &QRadioButton::toggled, this, textProperty);
  connect(FBackColor, &QComboBox::currentIndexChanged, this, textProperty);
  connect(FFontColor, &QComboBox::currentIndexChanged, this, textProperty);
  connect(FFontName, &QComboBox::currentIndexChanged, this, textProperty);
  connect(FFontSize, &QComboBox::currentIndexChanged, this, textProperty);
  for (QCheckBox* box : FStyles) connect(box, &QCheckBox::toggled, this, textProperty);

  FOk = button("Ok", "btnOk", 784, 524, 88);
  FOk->setDefault(true);
  FCancel = button("Cancel", "btnCancel", 880, 524, 88);
  connect(FOk, &QPushButton::clicked, this, [this] { Accept(); });
  connect(FCancel, &QPushButton::clicked, this, [this] { reject(); });
  connect(this, &QDialog::finished, this, [this] { Finish(); });

  // The defaults of a new dialog.
  FSyncing = true;
  // The desktop's own font when the list has it (the list's first family is often a
  // symbol or mathematics font), else the first.
  FFontName->setCurrentIndex(std::max(0, FFontName->findText(QApplication::font().family())));
  FFontSize->setCurrentIndex(kDefaultSizeItem);
  FFontColor->setCurrentIndex(kDefaultFontColor);
  FBackColor->setCurrentIndex(kDefaultBackColor);
  FTran->setValue(kDefaultAlpha);
  FBackColored->setChecked(true);
  FSyncing = false;
  EnableProperties(false);
}

int TfrmWaterMark::Edit(const TEditorTitle& title) {
  Prepare(title);
  return exec();
}

bool TfrmWaterMark::Prepare(const TEditorTitle& title) {
  FTitle = title;
  FPlayer->SetHook(false);
  std::string error;
  const bool opened = OpenEditorTitle(*FPlayer, FTitle, FHiddenPanel->Output(), error);
  if (!opened && FItems.empty()) {
    // The list is built from the record all the same, on a picture of the record's size.
    TitleOpened(int64_t(FTitle.Record().Duration) * 1000000, 720, 576);
  }
  return opened;
}

void TfrmWaterMark::TitleOpened(int64_t duration, int width, int height) {
  FPlayer->SetHook(false);
  FDurationMicros = std::max<int64_t>(duration, 0);
  FFrameWidth = width > 0 ? width : 720;
  FFrameHeight = height > 0 ? height : 576;
  FScene->setSceneRect(0, 0, FFrameWidth, FFrameHeight);
  FView->fitInView(FScene->sceneRect(), Qt::KeepAspectRatio);
  const int seconds = int(FDurationMicros / 1000000);
  FRange->SetMax(seconds);
  FRange->SetPositionU(seconds);
  FRange->SetPositionL(0);
  FHoriz->setMaximum(FFrameWidth);
  FVert->setMaximum(FFrameHeight);
  if (!FTitle.SettingsPath.empty()) FPlayer->SetMute(FTitle.Settings().Mute());
  RebuildFromRecord();
  FPlayer->SetHook(true);
}

QGraphicsPixmapItem* TfrmWaterMark::MakeTextLayer(TWmRec& rec) {
  const QFontMetrics metrics(WatermarkQFont(rec.Font));
  const QString text = QString::fromStdString(rec.Text);
  rec.TextWidth = std::max(1, metrics.horizontalAdvance(text));
  rec.TextHeight = std::max(1, metrics.height());
  // The conversion's own rendering, of the whole box.
  TWmRec box = rec;
  box.TextLeft = box.TextTop = 0;
  const auto layer = RenderTextLayer(box, rec.TextWidth, rec.TextHeight);
  QImage image(rec.TextWidth, rec.TextHeight, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  for (int y = 0; y < layer.Height; ++y)
    std::memcpy(image.scanLine(y + layer.Top) + layer.Left * 4,
                layer.Pixels.data() + size_t(y) * size_t(layer.Width) * 4, size_t(layer.Width) * 4);
  auto* item = new TLayerItem(QPixmap::fromImage(image), [this](TLayerItem* moved) {
    for (size_t i = 0; i < FItems.size(); ++i)
      if (FItems[i].Layer == moved) LayerMoved(int(i));
  });
  item->setData(0, 0);  // kind tag
  item->setPos(rec.TextLeft, rec.TextTop);
  item->setOpacity(rec.TextAlpha / 255.0);
  FScene->addItem(item);
  return item;
}

void TfrmWaterMark::RebuildFromRecord() {
  FSyncing = true;
  for (TItem& item : FItems) delete item.Layer;
  FItems.clear();
  FList->clear();
  FSyncing = false;
  for (const auto& stored : FTitle.Record().WaterMarks) {
    if (!stored) continue;
    TItem item{*stored, nullptr};
    if (item.Rec.Kind == 0) {
      if (item.Rec.Text.empty()) continue;
      const int width = item.Rec.TextWidth, height = item.Rec.TextHeight;
      item.Layer = MakeTextLayer(item.Rec);
      // The stored box stays as it was measured.
      if (width > 0) item.Rec.TextWidth = width;
      if (height > 0) item.Rec.TextHeight = height;
    } else {
      QString why;
      const QImage image = ReadPicture(QString::fromStdString(item.Rec.ImageFile), why);
      QPixmap pixmap;
      if (!image.isNull()) {
        pixmap = QPixmap::fromImage(image);
      } else {
        // A picture that can no longer be read keeps its place as an empty frame, so Ok
        // does not lose it.
        QImage empty(std::max(1, item.Rec.ImageWidth), std::max(1, item.Rec.ImageHeight),
                     QImage::Format_ARGB32_Premultiplied);
        empty.fill(Qt::transparent);
        pixmap = QPixmap::fromImage(empty);
      }
      auto* layer = new TLayerItem(pixmap, [this](TLayerItem* moved) {
        for (size_t i = 0; i < FItems.size(); ++i)
          if (FItems[i].Layer == moved) LayerMoved(int(i));
      });
      layer->setData(0, 1);
      layer->setPos(item.Rec.ImageLeft, item.Rec.ImageTop);
      layer->setOpacity(item.Rec.ImageAlpha / 255.0);
      FScene->addItem(layer);
      item.Layer = layer;
    }
    FItems.push_back(item);
    FList->addItem(QString::fromStdString(item.Rec.Kind == 0 ? item.Rec.Text : item.Rec.ImageFile));
  }
  RestackLayers();
  EnableProperties(!FItems.empty());
  if (!FItems.empty()) SelectRow(int(FItems.size()) - 1);
}

void TfrmWaterMark::RestackLayers() {
  for (size_t i = 0; i < FItems.size(); ++i) FItems[i].Layer->setZValue(double(i));
}

TWmFont TfrmWaterMark::ChosenFont() const {
  TWmFont font;
  font.Name = FFontName->currentText().toStdString();
  font.Size = FFontSize->currentText().toInt();
  font.Style = uint8_t(
      (FStyles[0]->isChecked() ? fsBold : 0) | (FStyles[1]->isChecked() ? fsItalic : 0) |
      (FStyles[2]->isChecked() ? fsUnderline : 0) | (FStyles[3]->isChecked() ? fsStrikeOut : 0));
  font.Color = kColors[std::max(0, FFontColor->currentIndex())].Value;
  return font;
}

void TfrmWaterMark::AddText() {
  FInPlace->hide();
  TItem item;
  item.Rec.Kind = 0;
  item.Rec.Text = "Add Text";
  item.Rec.Font = ChosenFont();
  item.Rec.TextAlpha = FTran->value();
  item.Rec.BackColor = kColors[std::max(0, FBackColor->currentIndex())].Value;
  // A new text takes the background choice shown.
  item.Rec.HasBackColor = FBackColored->isChecked();
  item.Rec.StartTime = 0;
  item.Rec.EndTime = int32_t(FDurationMicros / 1000000);
  item.Layer = MakeTextLayer(item.Rec);
  // Centred on the picture.
  item.Rec.TextLeft = (FFrameWidth - item.Rec.TextWidth) / 2;
  item.Rec.TextTop = (FFrameHeight - item.Rec.TextHeight) / 2;
  item.Layer->setPos(item.Rec.TextLeft, item.Rec.TextTop);
  FItems.push_back(item);
  FSyncing = true;
  FList->addItem(QString::fromStdString(item.Rec.Text));
  FSyncing = false;
  RestackLayers();
  EnableProperties(true);
  SelectRow(int(FItems.size()) - 1);
  EditRowText(int(FItems.size()) - 1);
}

bool TfrmWaterMark::AddImage(const QString& chosen) {
  FInPlace->hide();
  QString path = chosen;
  if (path.isEmpty() && FTitle.Dialogs)
    path = FTitle.Dialogs->ChooseFile(this, QStringLiteral("Add Image"), QString(),
                                      QStringLiteral("Pictures (*.bmp *.png *.jpg *.jpeg)"));
  if (path.isEmpty()) return false;
  QString why;
  const QImage image = ReadPicture(path, why);
  if (image.isNull()) {
    Refuse(QStringLiteral("The picture \"%1\" cannot be used: %2.").arg(path, why));
    return false;
  }
  TItem item;
  item.Rec.Kind = 1;
  item.Rec.ImageFile = QFileInfo(path).absoluteFilePath().toStdString();
  item.Rec.ImageWidth = image.width();
  item.Rec.ImageHeight = image.height();
  item.Rec.ImageLeft = (FFrameWidth - image.width()) / 2;
  item.Rec.ImageTop = (FFrameHeight - image.height()) / 2;
  item.Rec.ImageAlpha = FTran->value();
  item.Rec.StartTime = 0;
  item.Rec.EndTime = int32_t(FDurationMicros / 1000000);
  auto* layer = new TLayerItem(QPixmap::fromImage(image), [this](TLayerItem* moved) {
    for (size_t i = 0; i < FItems.size(); ++i)
      if (FItems[i].Layer == moved) LayerMoved(int(i));
  });
  layer->setData(0, 1);
  layer->setPos(item.Rec.ImageLeft, item.Rec.ImageTop);
  layer->setOpacity(item.Rec.ImageAlpha / 255.0);
  FScene->addItem(layer);
  item.Layer = layer;
  FItems.push_back(item);
  FSyncing = true;
  FList->addItem(QString::fromStdString(item.Rec.ImageFile));
  FSyncing = false;
  RestackLayers();
  EnableProperties(true);
  SelectRow(int(FItems.size()) - 1);
  return true;
}

void TfrmWaterMark::DeleteRow() {
  FInPlace->hide();
  const int row = SelectedRow();
  if (row < 0) return;
  FSyncing = true;
  delete FItems[size_t(row)].Layer;
  FItems.erase(FItems.begin() + row);
  delete FList->takeItem(row);
  FSyncing = false;
  RestackLayers();
  if (!FItems.empty())
    SelectRow(row > 0 ? row - 1 : 0);
  else
    EnableProperties(false);
}

void TfrmWaterMark::MoveUp() {
  const int row = SelectedRow();
  if (row <= 0) return;
  std::swap(FItems[size_t(row)], FItems[size_t(row - 1)]);
  FSyncing = true;
  FList->insertItem(row - 1, FList->takeItem(row));
  FSyncing = false;
  RestackLayers();
  SelectRow(row - 1);
}

void TfrmWaterMark::MoveDown() {
  const int row = SelectedRow();
  if (row < 0 || row + 1 >= RowCount()) return;
  std::swap(FItems[size_t(row)], FItems[size_t(row + 1)]);
  FSyncing = true;
  FList->insertItem(row + 1, FList->takeItem(row));
  FSyncing = false;
  RestackLayers();
  SelectRow(row + 1);
}

int TfrmWaterMark::SelectedRow() const {
  const int row = FList->currentRow();
  return row >= 0 && row < RowCount() ? row : -1;
}

void TfrmWaterMark::SelectRow(int row) {
  if (row < 0 || row >= RowCount()) return;
  FSyncing = true;
  FList->setCurrentRow(row);
  FScene->clearSelection();
  FItems[size_t(row)].Layer->setSelected(true);
  FSyncing = false;
  Synchronise();
}

void TfrmWaterMark::Synchronise() {
  const int row = SelectedRow();
  if (row < 0) return;
  const TItem& item = FItems[size_t(row)];
  FSyncing = true;
  FHoriz->setValue(int(std::lround(item.Layer->x())));
  FVert->setValue(int(std::lround(item.Layer->y())));
  FHorizBox->setText(QString::number(FHoriz->value()));
  FVertBox->setText(QString::number(FVert->value()));
  FTran->setValue(int(std::lround(item.Layer->opacity() * 255)));
  FTranBox->setText(QString::number(FTran->value()));
  FRange->SetPositionU(item.Rec.EndTime);
  FRange->SetPositionL(item.Rec.StartTime);
  FStartBox->setText(Seconds(item.Rec.StartTime));
  FEndBox->setText(Seconds(item.Rec.EndTime));
  const bool text = item.Rec.Kind == 0;
  if (text) {
    FBackColor->setCurrentIndex(std::max(0, ColorIndex(item.Rec.BackColor)));
    FFontColor->setCurrentIndex(std::max(0, ColorIndex(item.Rec.Font.Color)));
    const int font = FFontName->findText(QString::fromStdString(item.Rec.Font.Name));
    if (font >= 0) FFontName->setCurrentIndex(font);
    const int size = FFontSize->findText(QString::number(item.Rec.Font.Size));
    if (size >= 0) FFontSize->setCurrentIndex(size);
    const uint8_t bits[4] = {fsBold, fsItalic, fsUnderline, fsStrikeOut};
    for (int i = 0; i < 4; ++i) FStyles[i]->setChecked(item.Rec.Font.Style & bits[i]);
    (item.Rec.HasBackColor ? FBackColored : FBackClear)->setChecked(true);
  }
  for (QWidget* w :
       std::initializer_list<QWidget*>{FBackColored, FBackClear, FFontColor, FFontName, FFontSize})
    w->setEnabled(text);
  for (QCheckBox* box : FStyles) box->setEnabled(text);
  FBackColor->setEnabled(text && item.Rec.HasBackColor);
  FSyncing = false;
}

void TfrmWaterMark::EnableProperties(bool on) {
  for (QWidget* w : std::initializer_list<QWidget*>{FHoriz, FVert, FTran, FRange, FBackColored,
                                                    FBackClear, FBackColor, FFontColor, FFontName,
                                                    FFontSize, FDelete, FUp, FDown})
    w->setEnabled(on);
  for (QCheckBox* box : FStyles) box->setEnabled(on);
}

void TfrmWaterMark::LayerMoved(int row) {
  if (row != SelectedRow()) return;
  FSyncing = true;
  FHoriz->setValue(int(std::lround(FItems[size_t(row)].Layer->x())));
  FVert->setValue(int(std::lround(FItems[size_t(row)].Layer->y())));
  FSyncing = false;
}

void TfrmWaterMark::Rerender(int row) {
  TItem& item = FItems[size_t(row)];
  if (item.Rec.Kind != 0 || item.Rec.Text.empty()) return;
  const QPointF at = item.Layer->pos();
  const double opacity = item.Layer->opacity();
  FSyncing = true;
  delete item.Layer;
  item.Rec.TextLeft = int(std::lround(at.x()));
  item.Rec.TextTop = int(std::lround(at.y()));
  item.Rec.TextAlpha = int(std::lround(opacity * 255));
  item.Layer = MakeTextLayer(item.Rec);
  FSyncing = false;
  RestackLayers();
  SelectRow(row);
}

bool TfrmWaterMark::SetText(const QString& text) {
  const int row = SelectedRow();
  if (row < 0 || FItems[size_t(row)].Rec.Kind != 0) return false;
  // The row shows what was typed; Ok refuses what cannot be stored.
  FList->item(row)->setText(text);
  FItems[size_t(row)].Rec.Text = text.toStdString();
  if (text.isEmpty() || text.size() > kMaxTextLength) return false;
  Rerender(row);
  return true;
}

bool TfrmWaterMark::SetFontName(const QString& family) {
  const int index = FFontName->findText(family, Qt::MatchFixedString);
  if (family.trimmed().isEmpty() || index < 0) {
    Refuse(QStringLiteral("The font \"%1\" is not installed.").arg(family));
    return false;
  }
  FFontName->setCurrentIndex(index);
  return true;
}

bool TfrmWaterMark::SetTimeRange(int start, int end) {
  const int row = SelectedRow();
  if (row < 0) return false;
  const int last = int(FDurationMicros / 1000000);
  if (start < 0 || end < 0 || start >= end || end > last) {
    Refuse(QStringLiteral("The time range %1 to %2 is not valid: the start must come before the "
                          "end, both within the title (0:00:00 to %3).")
               .arg(start)
               .arg(end)
               .arg(Seconds(last)));
    return false;
  }
  FRange->SetPositionU(end);
  FRange->SetPositionL(start);
  FItems[size_t(row)].Rec.StartTime = start;
  FItems[size_t(row)].Rec.EndTime = end;
  return true;
}

void TfrmWaterMark::Refuse(const QString& text) {
  ShowEditorRefusal(FTitle, this, text);
}

void TfrmWaterMark::Accept() {
  if (!FTitle.Model || FTitle.Row < 0) {
    reject();
    return;
  }
  // Everything is checked before anything is written.
  const QStringList families = QFontDatabase::families();
  for (int i = 0; i < RowCount(); ++i) {
    const TWmRec& rec = FItems[size_t(i)].Rec;
    const QString where = QStringLiteral("Watermark %1: ").arg(i + 1);
    if (rec.Kind == 0) {
      const QString text = QString::fromStdString(rec.Text);
      if (text.trimmed().isEmpty()) {
        Refuse(where + QStringLiteral("the text is empty. Type a text or delete the watermark."));
        return;
      }
      if (text.size() > kMaxTextLength) {
        Refuse(where + QStringLiteral("the text is %1 characters long; a watermark takes at most "
                                      "%2.")
                           .arg(text.size())
                           .arg(kMaxTextLength));
        return;
      }
      if (!families.contains(QString::fromStdString(rec.Font.Name), Qt::CaseInsensitive)) {
        Refuse(where + QStringLiteral("the font \"%1\" is not installed.")
                           .arg(QString::fromStdString(rec.Font.Name)));
        return;
      }
    } else {
      QString why;
      if (ReadPicture(QString::fromStdString(rec.ImageFile), why).isNull()) {
        Refuse(where + QStringLiteral("the picture \"%1\" cannot be used: %2.")
                           .arg(QString::fromStdString(rec.ImageFile), why));
        return;
      }
    }
    if (rec.StartTime < 0 || rec.EndTime < rec.StartTime) {
      Refuse(where + QStringLiteral("the time range %1 to %2 is not valid.")
                         .arg(rec.StartTime)
                         .arg(rec.EndTime));
      return;
    }
  }
  auto& marks = FTitle.Record().WaterMarks;
  marks.resize(FItems.size());
  for (size_t i = 0; i < FItems.size(); ++i) {
    if (!marks[i]) marks[i] = std::make_shared<TWmRec>();
    TWmRec& out = *marks[i];
    const TItem& item = FItems[i];
    // The layer's own place and the picture's size (its bounding rectangle carries a margin
    // for the selection frame).
    const QRectF bounds(item.Layer->pos(), QSizeF(item.Layer->pixmap().size()));
    const int alpha = int(std::lround(item.Layer->opacity() * 255));
    if (item.Rec.Kind == 0) {
      out.Text = item.Rec.Text;
      out.TextLeft = int(std::lround(bounds.left()));
      out.TextTop = int(std::lround(bounds.top()));
      out.TextWidth = int(std::lround(bounds.width()));
      out.TextHeight = int(std::lround(bounds.height()));
      out.TextAlpha = alpha;
      out.Kind = 0;
      out.Font = item.Rec.Font;
      out.BackColor = item.Rec.BackColor;
      out.HasBackColor = item.Rec.HasBackColor;
    } else {
      out.ImageFile = item.Rec.ImageFile;
      out.ImageLeft = int(std::lround(bounds.left()));
      out.ImageTop = int(std::lround(bounds.top()));
      out.ImageWidth = int(std::lround(bounds.width()));
      out.ImageHeight = int(std::lround(bounds.height()));
      out.ImageAlpha = alpha;
      out.Kind = 1;
    }
    out.StartTime = item.Rec.StartTime;
    out.EndTime = item.Rec.EndTime;
  }
  FPlayer->SetHook(false);
  FPlayer->Stop(true);
  accept();
}

void TfrmWaterMark::ShowFrame() {
  FRepaintPosted = false;
  QImage picture;
  int64_t pts;
  {
    std::lock_guard lock(FFrameLock);
    if (FFrame.Empty()) return;
    picture = BitmapImage(FFrame).copy();
    pts = FFramePTS;
  }
  // The title's crop, as an outline.
  if (FTitle.Model && FTitle.Row >= 0) {
    const TlvFilesRecord& r = FTitle.Record();
    if (r.CropLeft || r.CropTop || r.CropRight || r.CropBottom) {
      QPainter painter(&picture);
      painter.setPen(QPen(QColor(0, 0x80, 0), 2));
      painter.drawRect(
          QRect(QPoint(r.CropLeft, r.CropTop),
                QPoint(picture.width() - r.CropRight, picture.height() - r.CropBottom)));
    }
  }
  FFrameItem->setPixmap(QPixmap::fromImage(picture));
  const int64_t t = pts / 1000000;
  for (TItem& item : FItems) {
    const bool visible = item.Rec.StartTime <= t && t <= item.Rec.EndTime;
    if (item.Layer->isVisible() != visible) item.Layer->setVisible(visible);
  }
}

bool TfrmWaterMark::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FList->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    const int row = FList->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint()).row();
    if (row >= 0 && FItems[size_t(row)].Rec.Kind == 0) {
      EditRowText(row);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TfrmWaterMark::EditRowText(int row) {
  if (row < 0 || row >= RowCount()) return;
  const QRect rowRect = FList->visualItemRect(FList->item(row));
  FInPlace->setGeometry(21, rowRect.top() + 2, FList->viewport()->width() - 25, 20);
  QFont font = FInPlace->font();
  font.setPointSize(11);
  FInPlace->setFont(font);
  FInPlace->setText(QString::fromStdString(FItems[size_t(row)].Rec.Text));
  FInPlace->show();
  FInPlace->setFocus();
  FInPlace->selectAll();
}

void TfrmWaterMark::Finish() {
  if (FPlayer) {
    FPlayer->SetHook(false);
    FPlayer->Stop(true);
  }
  std::lock_guard lock(FFrameLock);
  FFrame = TBitmap();
}
