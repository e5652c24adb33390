#include "window/traffic_monitor.h"

#include "session/traffic_format.h"
#include "widgets/message_box.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace mc {

TrafficMonitor::TrafficMonitor(TrafficLog& log, QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("trafficMonitor"));
    setWindowTitle(tr("Traffic Monitor"));
    setAccessibleName(tr("Traffic Monitor"));
    resize(820, 420);

    model_ = new TrafficModel(log, this);
    // Attached to the model only while a filter is set (see setFilterText).
    filter_ = new QSortFilterProxyModel(this);
    // Filters on the whole line and never sorts: rows keep their order.
    filter_->setFilterRole(TrafficModel::kLineRole);
    filter_->setFilterKeyColumn(0);
    filter_->setFilterCaseSensitivity(Qt::CaseInsensitive);

    pause_ = new QPushButton(tr("&Pause"), this);
    pause_->setObjectName(QStringLiteral("pauseButton"));
    pause_->setAccessibleName(tr("Pause"));
    pause_->setCheckable(true);
    auto* clear = new QPushButton(tr("C&lear"), this);
    clear->setObjectName(QStringLiteral("clearButton"));
    clear->setAccessibleName(tr("Clear"));
    auto* filterLabel = new QLabel(tr("&Filter:"), this);
    filterEdit_ = new QLineEdit(this);
    filterEdit_->setObjectName(QStringLiteral("filterEdit"));
    filterEdit_->setAccessibleName(tr("Filter"));
    filterEdit_->setClearButtonEnabled(true);
    filterLabel->setBuddy(filterEdit_);
    auto* copy = new QPushButton(tr("&Copy"), this);
    copy->setObjectName(QStringLiteral("copyButton"));
    copy->setAccessibleName(tr("Copy selected rows"));
    auto* save = new QPushButton(tr("&Save As..."), this);
    save->setObjectName(QStringLiteral("saveAsButton"));
    save->setAccessibleName(tr("Save As"));

    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("trafficTable"));
    table_->setAccessibleName(tr("Traffic rows"));
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setWordWrap(false);
    table_->setSortingEnabled(false);
    table_->verticalHeader()->hide();
    // Fixed row heights: the view never measures 10,000 rows.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // Widths for the widest value each column takes, in the table's own font.
    const QFontMetrics metrics(table_->font());
    const int padding = 2 * metrics.horizontalAdvance(QLatin1Char('0'));
    table_->setColumnWidth(TrafficModel::TimeColumn,
                           metrics.horizontalAdvance(QStringLiteral("00:00:00.000")) + padding);
    table_->setColumnWidth(TrafficModel::DirectionColumn,
                           metrics.horizontalAdvance(QStringLiteral("received")) + padding);
    table_->setColumnWidth(TrafficModel::LinkColumn, metrics.horizontalAdvance(QStringLiteral("COM99")) + padding);
    table_->setColumnWidth(TrafficModel::TextColumn, metrics.horizontalAdvance(QLatin1Char('0')) * 34);
    table_->verticalHeader()->setDefaultSectionSize(metrics.height() + 4);

    hexDump_ = new QPlainTextEdit(this);
    hexDump_->setObjectName(QStringLiteral("hexDump"));
    hexDump_->setAccessibleName(tr("Hex dump of the selected row"));
    hexDump_->setReadOnly(true);
    hexDump_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    hexDump_->setLineWrapMode(QPlainTextEdit::NoWrap);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName(QStringLiteral("trafficSplitter"));
    splitter->addWidget(table_);
    splitter->addWidget(hexDump_);
    splitter->setStretchFactor(0, 4);
    splitter->setStretchFactor(1, 1);

    auto* controls = new QHBoxLayout;
    controls->addWidget(pause_);
    controls->addWidget(clear);
    controls->addWidget(filterLabel);
    controls->addWidget(filterEdit_, 1);
    controls->addWidget(copy);
    controls->addWidget(save);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(splitter, 1);

    auto* copyAction = new QAction(tr("Copy"), this);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(copyAction);
    connect(copyAction, &QAction::triggered, this, &TrafficMonitor::copySelectedRows);

    refresh_ = new QTimer(this);
    refresh_->setObjectName(QStringLiteral("trafficRefreshTimer"));
    refresh_->setInterval(kRefreshMs);
    connect(refresh_, &QTimer::timeout, this, &TrafficMonitor::refresh);
    connect(pause_, &QPushButton::toggled, this, [this](bool paused) {
        model_->setFrozen(paused);
        refresh();
    });
    connect(clear, &QPushButton::clicked, this, [this] {
        model_->clear();
        hexDump_->clear();
    });
    connect(filterEdit_, &QLineEdit::textChanged, this, &TrafficMonitor::setFilterText);
    connect(copy, &QPushButton::clicked, this, &TrafficMonitor::copySelectedRows);
    connect(save, &QPushButton::clicked, this, &TrafficMonitor::saveAs);
    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &TrafficMonitor::showHexDump);
}

void TrafficMonitor::refresh() {
    if (model_->frozen()) {
        return;
    }
    QScrollBar* bar = table_->verticalScrollBar();
    // Follows the newest row unless the operator has scrolled up to read.
    const bool atEnd = bar->value() == bar->maximum();
    model_->sync();
    if (atEnd) {
        table_->scrollToBottom();
    }
}

void TrafficMonitor::setFilterText(const QString& text) {
    // A proxy makes a pass over every row it keeps at each batch of new rows,
    // which costs the line more than all the rest of the monitor: without a
    // filter the table shows the rows directly and the proxy is detached.
    const bool filtering = !text.isEmpty();
    if (filtering && filter_->sourceModel() == nullptr) {
        filter_->setSourceModel(model_);
    }
    filter_->setFilterFixedString(text);
    QAbstractItemModel* shown = filtering ? static_cast<QAbstractItemModel*>(filter_) : model_;
    if (table_->model() != shown) {
        QItemSelectionModel* previous = table_->selectionModel();
        table_->setModel(shown);
        delete previous; // the view does not own a replaced selection model
        connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &TrafficMonitor::showHexDump);
        hexDump_->clear();
        table_->scrollToBottom();
    }
    if (!filtering) {
        filter_->setSourceModel(nullptr);
    }
}

void TrafficMonitor::showHexDump() {
    const QModelIndex current = table_->currentIndex();
    if (!current.isValid()) {
        hexDump_->clear();
        return;
    }
    const QByteArray bytes = current.siblingAtColumn(0).data(TrafficModel::kBytesRole).toByteArray();
    hexDump_->setPlainText(QString::fromLatin1(hexDump(std::string_view(bytes.constData(), bytes.size()))));
}

const QAbstractItemModel& TrafficMonitor::shownRows() const {
    return *table_->model();
}

QStringList TrafficMonitor::shownLines() const {
    QStringList lines;
    const QAbstractItemModel& rows = *table_->model();
    lines.reserve(rows.rowCount());
    for (int row = 0; row < rows.rowCount(); ++row) {
        lines << rows.index(row, 0).data(TrafficModel::kLineRole).toString();
    }
    return lines;
}

void TrafficMonitor::copySelectedRows() {
    QModelIndexList rows = table_->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        return;
    }
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList lines;
    for (const QModelIndex& index : rows) {
        lines << index.data(TrafficModel::kLineRole).toString();
    }
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

bool TrafficMonitor::saveShownRows(const QString& path, QString& error) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        error = file.errorString();
        return false;
    }
    for (const QString& line : shownLines()) {
        file.write((line + QLatin1Char('\n')).toUtf8());
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

void TrafficMonitor::saveAs() {
    // The dialog asks before it replaces an existing file.
    const QString path = QFileDialog::getSaveFileName(this, tr("Save Traffic As"), QStringLiteral("traffic.txt"),
                                                      tr("Text files (*.txt);;All files (*)"));
    if (path.isEmpty()) {
        return;
    }
    QString error;
    if (!saveShownRows(path, error)) {
        mc::showMessage(this, tr("Cannot save %1: %2").arg(path, error));
    }
}

void TrafficMonitor::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh_->start();
    refresh();
    emit visibilityChanged(true);
}

void TrafficMonitor::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    refresh_->stop();
    emit visibilityChanged(false);
}

} // namespace mc
