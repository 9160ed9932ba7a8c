// The station window's table: one row per attached unit (sorted by port),
// fed with the batches of StationFeed. Columns: port, serial, kind,
// bootloader info, state (text, icon and a row colour for passed and
// failed), progress, duration.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QStyledItemDelegate>
#include <vector>

#include "ui/station_feed.h"

namespace torvane {

class StationTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kPort, kSerial, kKind, kInfo, kState, kProgress, kDuration, kColumnCount };
  // The progress column's percentage (-1 before a transfer) for the delegate.
  static constexpr int kPercentRole = Qt::UserRole + 1;

  explicit StationTableModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Applies a batch of changed and removed rows; durations of running
  // flashes are refreshed to `now`.
  void Apply(const StationBatch& batch, StationClock::time_point now);
  void Clear();

  const std::vector<StationRow>& Rows() const { return rows_; }

 private:
  std::vector<StationRow> rows_;  // sorted by port
  StationClock::time_point now_{};
  QIcon passed_icon_;
  QIcon failed_icon_;
};

// Draws the progress column as a bar with its text.
class StationProgressDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace torvane
