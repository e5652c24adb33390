#pragma once

#include "window/traffic_model.h"

#include <QWidget>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class QTimer;

namespace mc {

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
