#include "app/gui/title_list_view.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "app/gui/app_style.h"
#include "app/gui/title_list_model.h"

namespace {

constexpr int kCheckBoxSize = 13;
constexpr int kTextMargin = 4;

void DrawSingleLine(QPainter* p, const QRect& rect, const QString& text, const QFont& font,
                    const QColor& colour) {
  p->setFont(font);
  p->setPen(colour);
  const QString shown = QFontMetrics(font).elidedText(text, Qt::ElideRight, rect.width());
  p->drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

}  // namespace

// ---- Rows ---------------------------------------------------------------------------------

QRect TTitleRowDelegate::CheckBoxRect(const QRect& cell) {
  return QRect(cell.left() + kTextMargin, cell.top() + (cell.height() - kCheckBoxSize) / 2,
               kCheckBoxSize, kCheckBoxSize);
}

QSize TTitleRowDelegate::sizeHint(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  size.setHeight(std::max(size.height(), TTitleListView::kRowHeight));
  return size;
}

void TTitleRowDelegate::paint(QPainter* p, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
  using namespace app_colors;
  const QRect cell = option.rect;
  const bool selected = option.state & QStyle::State_Selected;
  const bool focused = option.widget && option.widget->hasFocus();
  p->save();
  QColor frame;
  if (selected) {
    p->fillRect(cell, focused ? kSelectedFill : kInactiveFill);
    frame = focused ? kSelectedFrame : kInactiveFrame;
  } else {
    p->fillRect(cell, index.row() % 2 ? kOddRow : kEvenRow);
  }
  if (frame.isValid()) {
    // One frame around the whole row: top and bottom on every cell, the sides on the first
    // and the last.
    p->setPen(frame);
    p->drawLine(cell.topLeft(), cell.topRight());
    p->drawLine(cell.bottomLeft(), cell.bottomRight());
    if (index.column() == 0) p->drawLine(cell.topLeft(), cell.bottomLeft());
    if (index.column() == index.model()->columnCount() - 1)
      p->drawLine(cell.topRight(), cell.bottomRight());
  }
  QRect textRect = cell.adjusted(kTextMargin, 0, -kTextMargin, 0);
  if (index.column() == 0) {
    const QRect box = CheckBoxRect(cell);
    p->setRenderHint(QPainter::Antialiasing, false);
    p->setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p->setBrush(Qt::white);
    p->drawRect(box.adjusted(1, 1, -1, -1));
    if (index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked) {
      p->setRenderHint(QPainter::Antialiasing, true);
      QPainterPath tick;
      tick.moveTo(box.left() + 3, box.top() + 6.5);
      tick.lineTo(box.left() + 5.5, box.top() + 9.5);
      tick.lineTo(box.left() + 10, box.top() + 3.5);
      p->setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p->setBrush(Qt::NoBrush);
      p->drawPath(tick);
    }
    textRect.setLeft(box.right() + 1 + 6);
  }
  DrawSingleLine(p, textRect, index.data(Qt::DisplayRole).toString(), option.font, Qt::black);
  p->restore();
}

// ---- Track combos ---------------------------------------------------------------------------

QSize TTrackItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  size.setHeight(std::max(size.height(), 20));
  return size;
}

void TTrackItemDelegate::paint(QPainter* p, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
  using namespace app_colors;
  p->save();
  const QRect cell = option.rect;
  if (option.state & QStyle::State_Selected) {
    p->fillRect(cell, kSelectedFill);
    p->setPen(kSelectedFrame);
    p->drawRect(cell.adjusted(0, 0, -1, -1));
  } else {
    p->fillRect(cell, Qt::white);
  }
  DrawSingleLine(p, cell.adjusted(6, 0, -6, 0), index.data(Qt::DisplayRole).toString(), option.font,
                 Qt::black);
  p->restore();
}

// ---- The view -------------------------------------------------------------------------------

TTitleListView::TTitleListView(QWidget* parent) : QTableView(parent) {
  setItemDelegate(new TTitleRowDelegate(this));
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(false);
  setWordWrap(false);
  setTextElideMode(Qt::ElideRight);
  // Columns are fitted to the list's width (LayOutColumns); texts too long are cut with "…".
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(kRowHeight);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  horizontalHeader()->setStretchLastSection(true);
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this,
          [this](QPoint pos) { emit EditMenuRequested(viewport()->mapToGlobal(pos)); });
}

void TTitleListView::setModel(QAbstractItemModel* model) {
  QTableView::setModel(model);
  connect(model, &QAbstractItemModel::modelReset, this, &TTitleListView::LayOutColumns);
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { emit RowSelected(SelectedRow()); });
  LayOutColumns();
}

TTitleListModel* TTitleListView::TitleModel() const {
  return static_cast<TTitleListModel*>(model());
}

void TTitleListView::LayOutColumns() {
  const bool rows = model() && model()->rowCount() > 0;
  horizontalHeader()->setVisible(rows);
  if (!rows) return;
  // The designed widths, widened where this desktop's font needs more for a title or a value,
  // then narrowed toward what each column needs when they would not fit side by side.
  const QFontMetrics metrics(font());
  const QFontMetrics headerMetrics(horizontalHeader()->font());
  int need[TTitleListModel::kColumnCount], width[TTitleListModel::kColumnCount];
  int total = 0;
  for (int c = 0; c < TTitleListModel::kColumnCount; ++c) {
    const QString header = model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    need[c] = headerMetrics.horizontalAdvance(header) + 16;
    for (int row = 0; row < model()->rowCount(); ++row) {
      const QString text = model()->index(row, c).data().toString();
      const int extra = c == 0 ? 13 + 6 + 2 * 4 : 2 * 4;  // check box, margins
      need[c] = std::max(need[c], metrics.horizontalAdvance(text) + extra + 4);
    }
    width[c] = std::max(TTitleListModel::kColumnWidths[c], need[c]);
    total += width[c];
  }
  const int available = viewport()->width();
  for (int c = 0; c < TTitleListModel::kColumnCount && total > available; ++c) {
    const int spare = std::min(width[c] - need[c], total - available);
    width[c] -= spare;
    total -= spare;
  }
  for (int c = 0; c < TTitleListModel::kColumnCount; ++c) setColumnWidth(c, width[c]);
}

int TTitleListView::SelectedRow() const {
  if (!selectionModel()) return -1;
  const QModelIndexList rows = selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void TTitleListView::SelectRow(int row) {
  if (!model()) return;
  if (row < 0 || row >= model()->rowCount()) {
    clearSelection();
    return;
  }
  const QModelIndex index = model()->index(row, 0);
  selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  scrollTo(index);
}

int TTitleListView::CheckBoxRowAt(QPoint point) const {
  const QModelIndex index = indexAt(point);
  if (!index.isValid() || index.column() != 0) return -1;
  return TTitleRowDelegate::CheckBoxRect(visualRect(index)).adjusted(-2, -2, 2, 2).contains(point)
             ? index.row()
             : -1;
}

void TTitleListView::ToggleChecked(int row) {
  if (TTitleListModel* m = TitleModel()) m->SetChecked(row, !m->Checked(row));
}

void TTitleListView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    const int row = CheckBoxRowAt(event->position().toPoint());
    if (row >= 0) ToggleChecked(row);
  }
  QTableView::mousePressEvent(event);
}

void TTitleListView::mouseDoubleClickEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  // The second click of a double click on a check box toggles it again, as two clicks do.
  if (event->button() == Qt::LeftButton && CheckBoxRowAt(point) >= 0) {
    ToggleChecked(CheckBoxRowAt(point));
    return;
  }
  const QModelIndex index = indexAt(point);
  if (event->button() == Qt::LeftButton && index.isValid() && index.row() == SelectedRow()) {
    emit RowDoubleClicked(index.row());
    return;
  }
  QTableView::mouseDoubleClickEvent(event);
}

void TTitleListView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier &&
      currentIndex().isValid()) {
    ToggleChecked(currentIndex().row());
    return;
  }
  // Return plays the selected row, as a double click does: the keyboard's way to the preview.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      event->modifiers() == Qt::NoModifier && SelectedRow() >= 0) {
    emit RowDoubleClicked(SelectedRow());
    return;
  }
  QTableView::keyPressEvent(event);
}

QModelIndex TTitleListView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  if (model() && model()->rowCount() > 0 && (action == MoveHome || action == MoveEnd)) {
    const int column = std::max(currentIndex().column(), 0);
    return model()->index(action == MoveHome ? 0 : model()->rowCount() - 1, column);
  }
  return QTableView::moveCursor(action, modifiers);
}

void TTitleListView::focusInEvent(QFocusEvent* event) {
  QTableView::focusInEvent(event);
  viewport()->update();  // the selected row's colours follow the focus
}

void TTitleListView::focusOutEvent(QFocusEvent* event) {
  QTableView::focusOutEvent(event);
  viewport()->update();
}

void TTitleListView::paintEvent(QPaintEvent* event) {
  QTableView::paintEvent(event);
  if (model() && model()->rowCount() > 0) return;
  QPainter painter(viewport());
  const QSize natural = PictureSize(QStringLiteral("list_background.svg"));
  if (natural.isEmpty()) return;
  const QSize size =
      natural.scaled(viewport()->size() * 0.8, Qt::KeepAspectRatio).boundedTo(natural * 1.5);
  const QPixmap picture =
      RenderPicture(QStringLiteral("list_background.svg"), size, devicePixelRatioF());
  const QRect area = viewport()->rect();
  painter.drawPixmap(area.center().x() - size.width() / 2, area.center().y() - size.height() / 2,
                     picture);
}
