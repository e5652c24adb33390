#pragma once

#include "session/traffic_log.h"

#include <QAbstractTableModel>
#include <cstdint>
#include <vector>

namespace mc {

// The traffic log as a table: the finished rows the last sync saw, then the
// pending row, if any. It learns of new rows only at sync(), so a busy line
// costs the view one batch per tick, not one update per byte.
class TrafficModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { TimeColumn, DirectionColumn, LinkColumn, TextColumn, MarkColumn, ColumnCount };
    // The whole row as one text line (copy, save, filter).
    static constexpr int kLineRole = Qt::UserRole;
    // The row's bytes, as a QByteArray.
    static constexpr int kBytesRole = Qt::UserRole + 1;
    // The row's TrafficMarkKind, as an int.
    static constexpr int kMarkKindRole = Qt::UserRole + 2;
    // The row's TrafficDirection, as an int.
    static constexpr int kDirectionRole = Qt::UserRole + 3;

    explicit TrafficModel(TrafficLog& log, QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Takes in what the log gained and lost since the last sync.
    void sync();
    // Empties the log and the table.
    void clear();
    // While frozen the table shows a copy of its rows as they were, so rows
    // that leave the log meanwhile stay readable; sync() does nothing.
    // Unfreezing catches up with the log.
    void setFrozen(bool frozen);
    [[nodiscard]] bool frozen() const { return frozen_; }

private:
    [[nodiscard]] int finishedCount() const { return static_cast<int>(shownNext_ - shownFirst_); }
    // nullptr when the row has left the log since the last sync.
    [[nodiscard]] const TrafficRow* rowAt(int row) const;

    TrafficLog& log_;
    std::uint64_t shownFirst_;
    std::uint64_t shownNext_;
    bool pendingShown_ = false;
    std::uint64_t pendingVersion_ = 0;
    bool frozen_ = false;
    std::vector<TrafficRow> frozenRows_; // the finished rows, then the pending one
};

} // namespace mc
