#pragma once

#include "session/traffic.h"

#include <QAbstractTableModel>
#include <QWidget>
#include <cstdint>
#include <vector>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class QTimer;

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

// "Traffic Monitor": every command, reply line and link event of the console,
// with time and what the reply parser made of it. Not modal; it stays open
// beside the console, and updates in batches on a timer.
class TrafficMonitor : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 100;

    explicit TrafficMonitor(TrafficLog& log, QWidget* parent = nullptr);

    [[nodiscard]] TrafficModel& model() { return *model_; }
    // What the table shows: the rows, or those the filter keeps.
    [[nodiscard]] const QAbstractItemModel& shownRows() const;
    [[nodiscard]] QTableView* table() const { return table_; }

    // The rows shown, each formatted as one line, in their order.
    [[nodiscard]] QStringList shownLines() const;
    // Writes the rows shown, UTF-8, one a line, replacing the file; false and
    // why in error when it cannot.
    bool saveShownRows(const QString& path, QString& error) const;

public slots:
    void refresh();
    void copySelectedRows();
    void saveAs();

signals:
    void visibilityChanged(bool visible);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void setFilterText(const QString& text);
    void showHexDump();

    TrafficModel* model_ = nullptr;
    QSortFilterProxyModel* filter_ = nullptr;
    QTableView* table_ = nullptr;
    QPushButton* pause_ = nullptr;
    QLineEdit* filterEdit_ = nullptr;
    QPlainTextEdit* hexDump_ = nullptr;
    QTimer* refresh_ = nullptr;
};

} // namespace mc
