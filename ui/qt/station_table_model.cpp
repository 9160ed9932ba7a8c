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

#include "monitor/printable_text.h"
#include "ui/station_texts.h"

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

bool RowLess(const StationRow& row, const std::string& port) { return row.port < port; }

}  // namespace

StationTableModel::StationTableModel(QObject* parent)
    : QAbstractTableModel(parent),
      passed_icon_(Badge(QColor(0x2e, 0x7d, 0x32), true)),
      failed_icon_(Badge(QColor(0xc6, 0x28, 0x28), false)) {}

int StationTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int StationTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant StationTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
  static const char* const kHeaders[kColumnCount] = {"端口", "序列号", "类型", "BOOT信息", "状态", "进度", "用时"};
  return section >= 0 && section < kColumnCount ? QString::fromUtf8(kHeaders[section]) : QVariant();
}

QVariant StationTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  const StationRow& row = rows_[static_cast<size_t>(index.row())];
  const bool passed = row.state == UnitState::kPassed;
  const bool failed = row.state == UnitState::kFailed;
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      switch (index.column()) {
        case kPort: return Text(row.port);
        case kSerial: return Text(EscapeControlCharacters(row.serial));
        case kKind: return Text(StationKindText(row.kind));
        case kInfo: return Text(EscapeControlCharacters(row.info));
        case kState: return Text(StationStateText(row));
        case kProgress: return Text(StationProgressText(row));
        case kDuration: return Text(StationDurationText(row, now_));
        default: return {};
      }
    case Qt::DecorationRole:
      if (index.column() != kState) return {};
      if (passed) return passed_icon_;
      if (failed) return failed_icon_;
      return {};
    case Qt::BackgroundRole:
      if (passed) return QBrush(QColor(0xc8, 0xe6, 0xc9));
      if (failed) return QBrush(QColor(0xff, 0xcd, 0xd2));
      return {};
    case kPercentRole:
      return index.column() == kProgress ? QVariant(row.percent) : QVariant();
    default:
      return {};
  }
}

void StationTableModel::Apply(const StationBatch& batch, StationClock::time_point now) {
  now_ = now;
  for (const std::string& port : batch.removed) {
    auto it = std::lower_bound(rows_.begin(), rows_.end(), port, RowLess);
    if (it == rows_.end() || it->port != port) continue;
    const int at = static_cast<int>(it - rows_.begin());
    beginRemoveRows(QModelIndex(), at, at);
    rows_.erase(it);
    endRemoveRows();
  }
  for (const StationRow& changed : batch.changed) {
    auto it = std::lower_bound(rows_.begin(), rows_.end(), changed.port, RowLess);
    const int at = static_cast<int>(it - rows_.begin());
    if (it != rows_.end() && it->port == changed.port) {
      *it = changed;
      emit dataChanged(index(at, 0), index(at, kColumnCount - 1));
    } else {
      beginInsertRows(QModelIndex(), at, at);
      rows_.insert(it, changed);
      endInsertRows();
    }
  }
  // The clock of a running flash moves without events.
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].state != UnitState::kFlashing) continue;
    const QModelIndex cell = index(static_cast<int>(i), kDuration);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
  }
}

void StationTableModel::Clear() {
  beginResetModel();
  rows_.clear();
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
