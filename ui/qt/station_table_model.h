// The station window's table as a Qt model: it shows the rows, texts and
// tones of a StationTable and follows the changes each refresh reports.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QStyledItemDelegate>
#include <vector>

#include "ui/station_table.h"

namespace torvane {

class StationTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column {
    kPort = kColPort,
    kSlot = kColSlot,
    kSerialNumber = kColSerialNumber,
    kSerial = kColSerial,
    kKind = kColKind,
    kInfo = kColInfo,
    kState = kColState,
    kProgress = kColProgress,
    kDuration = kColDuration,
    kColumnCount = kColCount
  };
  // The progress column's percentage (-1 before a transfer) for the delegate.
  static constexpr int kPercentRole = Qt::UserRole + 1;

  // The table must outlive the model.
  explicit StationTableModel(const StationTable& table, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Tells the views what one refresh did to the table, in its order.
  void Follow(const std::vector<StationTableChange>& changes);
  // Shows the table as it is now (after changes no refresh reported).
  void Reset();

  const std::vector<StationRow>& Rows() const { return table_.Rows(); }

 private:
  const StationTable& table_;
  int shown_ = 0;  // rows the views know of
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
