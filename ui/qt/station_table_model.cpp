#include "ui/qt/station_table_model.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyle>
#include <QStyleOptionProgressBar>
#include <algorithm>

namespace torvane {

namespace {

// A round badge with a tick (passed) or a cross (failed): the two differ in
// shape, not only in colour.
QIcon Badge(const QColor& colour, bool tick) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(colour);
  painter.drawEllipse(1, 1, 30, 30);
  painter.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(Qt::NoBrush);
  if (tick) {
    QPainterPath path;
    path.moveTo(8, 17);
    path.lineTo(14, 23);
    path.lineTo(24, 10);
    painter.drawPath(path);
  } else {
    painter.drawLine(10, 10, 22, 22);
    painter.drawLine(22, 10, 10, 22);
  }
  return QIcon(pixmap);
}

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

QColor Rgb(uint32_t rgb) { return QColor((rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff); }

}  // namespace

StationTableModel::StationTableModel(const StationTable& table, QObject* parent)
    : QAbstractTableModel(parent),
      table_(table),
      shown_(static_cast<int>(table.Rows().size())),
      passed_icon_(Badge(Rgb(kPassedBadge), true)),
      failed_icon_(Badge(Rgb(kFailedBadge), false)) {}

int StationTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shown_; }

int StationTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant StationTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
  return section >= 0 && section < kColumnCount ? QString::fromUtf8(kStationColumns[static_cast<size_t>(section)].header)
                                                : QVariant();
}

QVariant StationTableModel::data(const QModelIndex& index, int role) const {
  const std::vector<StationRow>& rows = table_.Rows();
  if (!index.isValid() || index.row() >= static_cast<int>(rows.size())) return {};
  const StationRow& row = rows[static_cast<size_t>(index.row())];
  const RowTone tone = ToneOf(row);
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return Text(StationCellText(row, index.column(), table_.Now()));
    case Qt::DecorationRole:
      if (index.column() != kState) return {};
      if (tone == RowTone::kPassed) return passed_icon_;
      if (tone == RowTone::kFailed) return failed_icon_;
      return {};
    case Qt::BackgroundRole:
      if (tone == RowTone::kPassed) return QBrush(Rgb(kPassedBackground));
      if (tone == RowTone::kFailed) return QBrush(Rgb(kFailedBackground));
      return {};
    case Qt::ForegroundRole:
      // A held row's unit is gone (its failure waits for the operator); a skipped one is not flashed.
      if (IsDimmed(row)) return QBrush(Rgb(kDimText));
      return {};
    case kPercentRole:
      return index.column() == kProgress ? QVariant(row.percent) : QVariant();
    default:
      return {};
  }
}

void StationTableModel::Follow(const std::vector<StationTableChange>& changes) {
  for (const StationTableChange& change : changes) {
    switch (change.kind) {
      case StationTableChange::kRemoved:
        beginRemoveRows(QModelIndex(), change.index, change.index);
        --shown_;
        endRemoveRows();
        break;
      case StationTableChange::kInserted:
        beginInsertRows(QModelIndex(), change.index, change.index);
        ++shown_;
        endInsertRows();
        break;
      case StationTableChange::kUpdated:
        emit dataChanged(index(change.index, 0), index(change.index, kColumnCount - 1));
        break;
    }
  }
  if (shown_ != static_cast<int>(table_.Rows().size())) Reset();
}

void StationTableModel::Reset() {
  beginResetModel();
  shown_ = static_cast<int>(table_.Rows().size());
  endResetModel();
}

void StationProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
  const int percent = index.data(StationTableModel::kPercentRole).toInt();
  if (percent < 0) return QStyledItemDelegate::paint(painter, option, index);
  QStyleOptionProgressBar bar;
  bar.rect = option.rect.adjusted(2, 2, -2, -2);
  bar.state = option.state | QStyle::State_Horizontal;
  bar.minimum = 0;
  bar.maximum = 100;
  bar.progress = std::clamp(percent, 0, 100);
  bar.text = index.data(Qt::DisplayRole).toString();
  bar.textVisible = true;
  bar.textAlignment = Qt::AlignCenter;
  const QWidget* widget = option.widget;
  QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
  style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
}

}  // namespace torvane
