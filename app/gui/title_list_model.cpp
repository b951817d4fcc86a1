#include "app/gui/title_list_model.h"

#include <algorithm>

namespace {

const char* const kHeaders[TTitleListModel::kColumnCount] = {
    "Source", "Duration", "Trim Length", "Frame Size", "Video Format", "Progress"};

}  // namespace

int TTitleListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(FRows.size());
}

int TTitleListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() || FRows.empty() ? 0 : kColumnCount;
}

QVariant TTitleListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= int(FRows.size())) return QVariant();
  const TDVDTitleRow& row = FRows[size_t(index.row())];
  if (role == Qt::CheckStateRole && index.column() == colSource)
    return row.Checked ? Qt::Checked : Qt::Unchecked;
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return QVariant();
  const std::string* text = nullptr;
  switch (index.column()) {
    case colSource:
      text = &row.Caption;
      break;
    case colDuration:
      text = &row.DurationText;
      break;
    case colTrimLength:
      text = &row.TrimLengthText;
      break;
    case colFrameSize:
      text = &row.FrameSizeText;
      break;
    case colVideoFormat:
      text = &row.VideoFormatText;
      break;
    case colProgress:
      text = &row.ProgressText;
      break;
    default:
      return QVariant();
  }
  return QString::fromStdString(*text);
}

bool TTitleListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::CheckStateRole || index.column() != colSource) return false;
  SetChecked(index.row(), value.value<Qt::CheckState>() == Qt::Checked);
  return true;
}

QVariant TTitleListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return QVariant();
  if (role == Qt::DisplayRole) return QString::fromLatin1(kHeaders[section]);
  return QVariant();
}

Qt::ItemFlags TTitleListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == colSource) flags |= Qt::ItemIsUserCheckable;
  return flags;
}

void TTitleListModel::SetRows(std::vector<TDVDTitleRow> rows) {
  beginResetModel();
  FRows = std::move(rows);
  endResetModel();
}

void TTitleListModel::Clear() {
  SetRows({});
}

void TTitleListModel::SetChecked(int row, bool checked) {
  if (row < 0 || row >= int(FRows.size()) || FRows[size_t(row)].Checked == checked) return;
  FRows[size_t(row)].Checked = checked;
  const QModelIndex cell = index(row, colSource);
  emit dataChanged(cell, cell, {Qt::CheckStateRole});
}

int TTitleListModel::CheckedCount() const {
  return int(std::count_if(FRows.begin(), FRows.end(),
                           [](const TDVDTitleRow& row) { return row.Checked; }));
}

void TTitleListModel::SetProgressText(int row, const std::string& text) {
  if (row < 0 || row >= int(FRows.size()) || FRows[size_t(row)].ProgressText == text) return;
  FRows[size_t(row)].ProgressText = text;
  const QModelIndex cell = index(row, colProgress);
  emit dataChanged(cell, cell, {Qt::DisplayRole});
}

void TTitleListModel::RecordChanged(int row) {
  if (row < 0 || row >= int(FRows.size())) return;
  emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
}
