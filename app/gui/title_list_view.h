// The title list's view and the delegates that draw it and the track combos: alternating
// white and light blue rows, the selected row filled and framed (stronger while the list has
// the focus), a drawn check box in the first column, single-line texts cut with an ellipsis.
// While the list is empty it shows a picture inviting the user to add a disc.
//
// Threads: main thread (widgets).
#pragma once

#include <QStyledItemDelegate>
#include <QTableView>

class TTitleListModel;

class TTitleRowDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  // The check box of a cell of the first column.
  static QRect CheckBoxRect(const QRect& cell);
};

// Items of the audio and subtitle combos: the selected item filled and framed, in black;
// the others on white.
class TTrackItemDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class TTitleListView : public QTableView {
  Q_OBJECT
 public:
  static constexpr int kRowHeight = 22;
  explicit TTitleListView(QWidget* parent = nullptr);
  void setModel(QAbstractItemModel* model) override;
  TTitleListModel* TitleModel() const;

  // The selected row, -1 when none.
  int SelectedRow() const;
  // Selects and focuses a row (-1 clears the selection).
  void SelectRow(int row);

 signals:
  // The row the selection moved to (-1: none), by mouse or keyboard.
  void RowSelected(int row);
  // A double click on a selected row, or Return on it.
  void RowDoubleClicked(int row);
  // The right mouse button, at a global position.
  void EditMenuRequested(QPoint globalPos);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  // Home and End go to the first and the last row (the list selects rows, not cells).
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  // The row whose check box lies under a viewport point, -1 when none.
  int CheckBoxRowAt(QPoint point) const;
  void ToggleChecked(int row);
  void LayOutColumns();
};
