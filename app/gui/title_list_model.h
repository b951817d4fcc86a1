// The title list of the main window as a model: one row per DVD title, each holding its
// TDVDTitleRow (caption, column texts, check box and the TlvFilesRecord the editors, the
// preview and the conversion read). Views and delegates read the rows through the model and
// never keep a copy of a record.
//
// Threads: main thread. A conversion run reads the rows (through Rows()) on its worker
// threads while it runs; nothing changes them then, since the progress window is modal.
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "dvd/disc_opener.h"

class TTitleListModel : public QAbstractTableModel {
 public:
  enum TColumn {
    colSource,
    colDuration,
    colTrimLength,
    colFrameSize,
    colVideoFormat,
    colProgress,
    kColumnCount
  };
  // Column widths in pixels, in column order.
  static constexpr int kColumnWidths[kColumnCount] = {120, 70, 70, 70, 85, 55};

  using QAbstractTableModel::QAbstractTableModel;

  // No columns while there are no rows: the list shows as a plain list then.
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // Replaces every row (the columns appear with the first row).
  void SetRows(std::vector<TDVDTitleRow> rows);
  // Releases every row and the columns.
  void Clear();

  // The rows themselves, for the conversion run, which takes them by reference.
  std::vector<TDVDTitleRow>& Rows() { return FRows; }
  const std::vector<TDVDTitleRow>& Rows() const { return FRows; }
  TDVDTitleRow& Row(int row) { return FRows.at(size_t(row)); }
  TlvFilesRecord& Record(int row) { return FRows.at(size_t(row)).Record; }
  bool Empty() const { return FRows.empty(); }

  bool Checked(int row) const { return FRows.at(size_t(row)).Checked; }
  void SetChecked(int row, bool checked);
  int CheckedCount() const;
  // The "Progress" cell.
  void SetProgressText(int row, const std::string& text);
  // Tell views that a row's record changed (chapters, trim, ...).
  void RecordChanged(int row);

 private:
  std::vector<TDVDTitleRow> FRows;
};
