#include "app/gui/format_picker_box.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QToolButton>

#include "app/gui/app_style.h"

// ---- Rows ---------------------------------------------------------------------------------

class TFormatListModel : public QAbstractListModel {
 public:
  explicit TFormatListModel(const TFormatPicker& picker, QObject* parent)
      : QAbstractListModel(parent), FPicker(picker) {}
  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : int(FPicker.Rows().size());
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= rowCount()) return QVariant();
    if (role == Qt::DisplayRole)
      return QString::fromStdString(FPicker.Rows()[size_t(index.row())].Text);
    return QVariant();
  }
  const TItemInfo& Info(int row) const { return FPicker.Rows().at(size_t(row)).Info; }
  void Reset() {
    beginResetModel();
    endResetModel();
  }

 private:
  const TFormatPicker& FPicker;
};

namespace {

const char* GroupIconName(int group) {
  switch (group) {
    case 0:
      return "group_flash";
    case 1:
      return "group_video";
    default:
      return "group_audio";
  }
}

class TFormatRowDelegate : public QStyledItemDelegate {
 public:
  TFormatRowDelegate(const TFormatListModel& model, QObject* parent)
      : QStyledItemDelegate(parent), FModel(model) {}

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
    return QSize(option.rect.width(), TFormatPickerBox::kRowHeight);
  }

  void paint(QPainter* p, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    using namespace app_colors;
    const QRect row = option.rect;
    const TItemInfo& info = FModel.Info(index.row());
    p->save();
    if (option.state & QStyle::State_Selected) {
      p->fillRect(row, kSelectedFill);
      p->setPen(kSelectedFrame);
      p->drawRect(row.adjusted(0, 0, -1, -1));
    } else {
      p->fillRect(row, kBoxBackground);
    }
    QFont font = option.font;
    const QString text = index.data(Qt::DisplayRole).toString();
    QRect textRect = row;
    if (info.IsGroup) {
      font.setBold(true);
      const int icon = 16, top = row.top() + (row.height() - icon) / 2;
      AppIcon(QLatin1String(info.Collapsed ? "expand" : "collapse"))
          .paint(p, QRect(row.left() + 2, top, icon, icon));
      AppIcon(QLatin1String(GroupIconName(info.Code)))
          .paint(p, QRect(row.left() + 20, top, icon, icon));
      textRect.setLeft(row.left() + 45);
      p->setPen(Qt::black);
    } else {
      textRect.setLeft(row.left() + 25);
      p->setPen(kFormatText);
    }
    p->setFont(font);
    textRect.setRight(row.right() - 4);
    p->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                QFontMetrics(font).elidedText(text, Qt::ElideRight, textRect.width()));
    p->restore();
  }

 private:
  const TFormatListModel& FModel;
};

}  // namespace

// ---- The list -------------------------------------------------------------------------------

class TFormatListView : public QListView {
 public:
  TFormatListView(TFormatPickerBox& box, QWidget* parent) : QListView(parent), FBox(box) {
    setMouseTracking(true);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::Box);
    setObjectName(QStringLiteral("formatList"));
  }

 protected:
  void mouseMoveEvent(QMouseEvent* event) override {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid()) FBox.SelectRow(index.row());
  }
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid()) return;
    const int row = index.row();
    FBox.SelectRow(row);
    const TItemInfo info = FBox.FModel->Info(row);
    if (info.IsGroup) {
      if (event->position().x() - visualRect(index).left() < TFormatPickerBox::kToggleZone)
        FBox.ToggleGroup(row);
    } else if (info.IsFormat) {
      FBox.ChooseRow(row);
    }
  }
  void mouseReleaseEvent(QMouseEvent*) override {}
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid()) return;
    const TItemInfo info = FBox.FModel->Info(index.row());
    // The first press of the double click already handled a press near the glyph.
    if (info.IsGroup &&
        event->position().x() - visualRect(index).left() >= TFormatPickerBox::kToggleZone)
      FBox.ToggleGroup(index.row());
    else if (info.IsFormat)
      FBox.ChooseRow(index.row());
  }
  void keyPressEvent(QKeyEvent* event) override {
    const int row = currentIndex().isValid() ? currentIndex().row() : -1;
    const int count = model()->rowCount();
    const auto info = [this](int r) { return FBox.FModel->Info(r); };
    switch (event->key()) {
      case Qt::Key_Up:
        if (count > 0) FBox.SelectRow(std::max(0, row - 1));
        return;
      case Qt::Key_Down:
        if (count > 0) FBox.SelectRow(std::min(count - 1, row + 1));
        return;
      case Qt::Key_Home:
        if (count > 0) FBox.SelectRow(0);
        return;
      case Qt::Key_End:
        if (count > 0) FBox.SelectRow(count - 1);
        return;
      case Qt::Key_Return:
      case Qt::Key_Enter:
      case Qt::Key_Space:
        if (row < 0) return;
        if (info(row).IsGroup)
          FBox.ToggleGroup(row);
        else
          FBox.ChooseRow(row);
        return;
      case Qt::Key_Right:
        if (row >= 0 && info(row).IsGroup && info(row).Collapsed) FBox.ToggleGroup(row);
        return;
      case Qt::Key_Left:
        if (row < 0) return;
        if (info(row).IsGroup) {
          if (!info(row).Collapsed) FBox.ToggleGroup(row);
        } else {
          int header = row;
          while (header > 0 && !info(header).IsGroup) --header;
          FBox.SelectRow(header);
        }
        return;
      case Qt::Key_Escape:
      case Qt::Key_Tab:
      case Qt::Key_Backtab:
        FBox.HideList();
        FBox.FText->setFocus(Qt::OtherFocusReason);
        return;
      default:
        QListView::keyPressEvent(event);
    }
  }

 private:
  TFormatPickerBox& FBox;
};

// ---- The control ----------------------------------------------------------------------------

TFormatPickerBox::TFormatPickerBox(TOpenDirection direction, QWidget* parent)
    : QWidget(parent), FDirection(direction) {
  FText = new QLineEdit(this);
  FText->setReadOnly(true);
  FText->setObjectName(QStringLiteral("formatBox"));
  FText->setContextMenuPolicy(Qt::NoContextMenu);
  FText->installEventFilter(this);
  FText->setCursor(Qt::PointingHandCursor);
  FButton = new QToolButton(this);
  FButton->setObjectName(QStringLiteral("formatDropButton"));
  FButton->setIcon(AppIcon(QStringLiteral("collapse")));
  FButton->setToolTip(tr("Choose the output format"));
  FButton->setFocusPolicy(Qt::NoFocus);
  connect(FButton, &QToolButton::clicked, this, [this] { Toggle(false, false); });
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(FText, 1);
  layout->addWidget(FButton);
  setFocusProxy(FText);

  FModel = new TFormatListModel(FPicker, this);
  FList = new TFormatListView(*this, this);
  FList->setModel(FModel);
  FList->setItemDelegate(new TFormatRowDelegate(*FModel, FList));
  FList->hide();
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
    if (s != Qt::ApplicationActive) HideList();
  });
}

TFormatPickerBox::~TFormatPickerBox() {
  // The list lives in the top-level window while it is shown; it goes with this control.
  qApp->removeEventFilter(this);
  delete FList;
}

QListView* TFormatPickerBox::List() const {
  return FList;
}

QString TFormatPickerBox::Text() const {
  return FText->text();
}

bool TFormatPickerBox::ListShown() const {
  return FList->isVisible();
}

void TFormatPickerBox::BuildFormatList(const TSettingsStore& settings) {
  FPicker.BuildFormatList(settings);
  FModel->Reset();
  FText->setText(QString::fromStdString(FPicker.ShownName()));
  FText->setCursorPosition(0);
  SelectRow(FPicker.Selected());
}

void TFormatPickerBox::SaveGroupStates(TSettingsStore& settings) const {
  FPicker.SaveGroupStates(settings);
}

int TFormatPickerBox::ListHeightFor(int rows) const {
  const int natural = rows * kRowHeight;
  if (FDirection == odUpward) return natural > 422 ? 422 : natural + kRowHeight;
  return std::min(natural + kRowHeight, 247);
}

void TFormatPickerBox::SelectRow(int row) {
  FPicker.SetSelected(row);
  const int selected = FPicker.Selected();
  if (selected < 0) {
    FList->selectionModel()->clearSelection();
    FList->setCurrentIndex(QModelIndex());
    return;
  }
  const QModelIndex index = FModel->index(selected);
  FList->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  FList->scrollTo(index);
}

void TFormatPickerBox::PlaceList(bool resize) {
  QWidget* top = window();
  if (FList->parentWidget() != top) {
    FList->setParent(top);
    FList->hide();
  }
  const QPoint origin = FText->mapTo(top, QPoint(0, 0));
  const int width = FText->width() + FButton->width();
  int height = FList->height();
  if (resize || height <= 0) height = ListHeightFor(FModel->rowCount());
  if (FDirection == odUpward) {
    int y = origin.y() - height;
    if (y < 0) {  // never past the window's top edge
      height += y;
      y = 0;
    }
    FList->setGeometry(origin.x(), y, width, height);
  } else {
    const int y = origin.y() + FText->height() - 1;
    FList->setGeometry(origin.x(), y, width, std::min(height, top->height() - y));
  }
}

void TFormatPickerBox::ShowList(bool resize, bool movePointer) {
  if (ChosenNameSource) {
    FText->setText(ChosenNameSource());
    FText->setCursorPosition(0);
  }
  SelectRow(FPicker.FindRow(FText->text().toStdString()));
  PlaceList(resize || FList->height() <= 0);
  FList->show();
  FList->raise();
  FList->setFocus(Qt::PopupFocusReason);
  if (FPicker.Selected() >= 0) FList->scrollTo(FModel->index(FPicker.Selected()));
  qApp->installEventFilter(this);
  if (movePointer && FPicker.Selected() >= 0) {
    const QRect rect = FList->visualRect(FModel->index(FPicker.Selected()));
    QCursor::setPos(FList->viewport()->mapToGlobal(rect.center()));
  }
}

void TFormatPickerBox::HideList() {
  qApp->removeEventFilter(this);
  FList->hide();
}

void TFormatPickerBox::Toggle(bool fromTextBox, bool doubleClick) {
  if (ListShown()) {
    HideList();
    return;
  }
  ShowList(!doubleClick, fromTextBox && !doubleClick && MovePointerOnOpen);
}

void TFormatPickerBox::ToggleGroup(int row) {
  if (!FPicker.ToggleGroup(row)) return;
  FModel->Reset();
  SelectRow(row);
  // The list keeps its bottom (upward) or top (downward) edge and fits the new rows.
  if (ListShown()) PlaceList(true);
}

void TFormatPickerBox::ChooseRow(int row) {
  const std::optional<int> code = FPicker.ChooseRow(row);
  if (!code) return;
  FText->setText(QString::fromStdString(FPicker.ShownName()));
  FText->setCursorPosition(0);
  HideList();
  FText->setFocus(Qt::OtherFocusReason);
  emit FormatChosen(*code, FText->text());
}

bool TFormatPickerBox::IsOwnWidget(QObject* object) const {
  for (QObject* o = object; o; o = o->parent())
    if (o == FList || o == FText || o == FButton) return true;
  return false;
}

bool TFormatPickerBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FText) {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) Toggle(true, false);
        return true;
      case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) Toggle(true, true);
        return true;
      case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool open = key->key() == Qt::Key_Space || key->key() == Qt::Key_Return ||
                          key->key() == Qt::Key_Enter || key->key() == Qt::Key_F4 ||
                          (key->key() == Qt::Key_Down && (key->modifiers() & Qt::AltModifier));
        if (open) {
          if (!ListShown()) ShowList(true, false);
          return true;
        }
        if (key->key() == Qt::Key_Escape && ListShown()) {
          HideList();
          return true;
        }
        break;
      }
      default:
        break;
    }
    return false;
  }
  // Watching the whole program while the list is open.
  if (event->type() == QEvent::MouseButtonPress && ListShown() && watched->isWidgetType() &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && !IsOwnWidget(watched))
    HideList();
  return false;
}
