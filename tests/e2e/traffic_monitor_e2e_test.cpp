// The traffic monitor beside a real console window: what went over the line,
// against the emulator or a pseudo-terminal peer that plays a switcher.
#include "e2e/e2e_support.h"
#include "pages/routing_page.h"
#include "session/traffic_file.h"
#include "session/traffic_format.h"
#include "support/console_driver.h"
#include "window/console_window.h"
#include "window/traffic_monitor.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QtTest>
#include <thread>

using mc::ConsoleWindow;
using mc::TrafficModel;
using mc::TrafficMonitor;
using mc::test::PtyPeer;
using namespace std::chrono_literals;
using namespace mc::test;

namespace {

constexpr int kTimeoutMs = 5000;

struct ShownRow {
    mc::TrafficDirection direction;
    QString link;
    QString text;
    QString mark;
    mc::TrafficMarkKind markKind;
};

// The rows the monitor shows after a refresh, in order.
std::vector<ShownRow> shownRows(TrafficMonitor& monitor) {
    monitor.refresh();
    const QAbstractItemModel& rows = monitor.shownRows();
    std::vector<ShownRow> out;
    for (int r = 0; r < rows.rowCount(); ++r) {
        auto cell = [&](int column, int role = Qt::DisplayRole) { return rows.index(r, column).data(role); };
        out.push_back({static_cast<mc::TrafficDirection>(cell(0, TrafficModel::kDirectionRole).toInt()),
                       cell(TrafficModel::LinkColumn).toString(), cell(TrafficModel::TextColumn).toString(),
                       cell(TrafficModel::MarkColumn).toString(),
                       static_cast<mc::TrafficMarkKind>(cell(0, TrafficModel::kMarkKindRole).toInt())});
    }
    return out;
}

// Index of the first row that passes `match`, or -1.
template <class Match> int find(const std::vector<ShownRow>& rows, Match match) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (match(rows[i])) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

QString describe(const std::vector<ShownRow>& rows) {
    QStringList lines;
    for (const ShownRow& row : rows) {
        lines << QStringLiteral("%1 %2 %3 [%4]")
                     .arg(mc::trafficDirectionName(row.direction), row.link, row.text, row.mark);
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

class TrafficMonitorE2eTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ConsoleTestEnvironment> env_;
    QStringList messages_;

    // Opens the monitor the way an operator does: Ctrl+M on the console.
    static TrafficMonitor* openMonitor(ConsoleWindow& w) {
        QTest::keyClick(&w, Qt::Key_M, Qt::ControlModifier);
        TrafficMonitor* monitor = w.trafficMonitor();
        return monitor != nullptr && monitor->isVisible() ? monitor : nullptr;
    }

    static std::unique_ptr<ConsoleWindow> consoleWithMonitor(TrafficMonitor*& monitor) {
        auto w = showConsole();
        if (w) {
            monitor = openMonitor(*w);
            click(portButton(*w));
        }
        return w && monitor != nullptr && w->state().portOpen ? std::move(w) : nullptr;
    }

private slots:
    void init() {
        env_ = std::make_unique<ConsoleTestEnvironment>(messages_);
        QVERIFY(env_->isValid());
    }

    void cleanup() { env_.reset(); }

    void monitorIsInTheContextMenuBeforeAboutAndNotModal() {
        auto w = showConsole();
        QVERIFY(w);
        const QList<QAction*> actions = w->actions();
        // "Connect over Network...", "Refresh Status", the monitor, the separator and About.
        QCOMPARE(actions.size(), 5);
        QCOMPARE(actions[0]->objectName(), QStringLiteral("networkAction"));
        QCOMPARE(actions[1]->objectName(), QStringLiteral("refreshStatusAction"));
        QCOMPARE(actions[2]->objectName(), QStringLiteral("trafficMonitorAction"));
        QCOMPARE(actions[2]->text(), QStringLiteral("&Traffic Monitor..."));
        QVERIFY(actions[3]->isSeparator());
        QCOMPARE(actions[4]->objectName(), QStringLiteral("aboutAction"));

        actions[2]->trigger();
        TrafficMonitor* monitor = w->trafficMonitor();
        QVERIFY(monitor && monitor->isVisible());
        QCOMPARE(monitor->windowModality(), Qt::NonModal);
        QVERIFY(monitor->isWindow());
        // Every control says what it is.
        for (QWidget* child : monitor->findChildren<QWidget*>()) {
            if (child->focusPolicy() != Qt::NoFocus && !child->isHidden() &&
                (qobject_cast<QAbstractButton*>(child) || qobject_cast<QLineEdit*>(child) ||
                 qobject_cast<QAbstractItemView*>(child) || qobject_cast<QPlainTextEdit*>(child))) {
                QVERIFY2(!child->accessibleName().isEmpty(), qPrintable(child->objectName()));
            }
        }
    }

    void routingClickAndItsReplyAreTwoRowsInOrder() {
        MC_START_SWITCHER(sim, env_->ports(), 1);
        TrafficMonitor* monitor = nullptr;
        auto w = consoleWithMonitor(monitor);
        QVERIFY(w);

        click(w->routingPage(0)->radio(1, 2)); // output 2 <- input 3
        QTRY_COMPARE_WITH_TIMEOUT(w->routingPage(0)->outputSelection(1), 2, kTimeoutMs);
        std::vector<ShownRow> rows;
        QTRY_VERIFY_WITH_TIMEOUT(
            (rows = shownRows(*monitor),
             find(rows, [](const ShownRow& r) { return r.markKind == mc::TrafficMarkKind::ActedOn; }) >= 0),
            kTimeoutMs);

        QVERIFY2(rows.size() >= 3, qPrintable(describe(rows)));
        QCOMPARE(rows[0].direction, mc::TrafficDirection::Event);
        QCOMPARE(rows[0].mark, QStringLiteral("opened"));
        QCOMPARE(rows[0].link, QStringLiteral("COM1"));
        const int sent = find(rows, [](const ShownRow& r) { return r.direction == mc::TrafficDirection::Sent; });
        const int reply = find(rows, [](const ShownRow& r) { return r.markKind == mc::TrafficMarkKind::ActedOn; });
        QVERIFY2(sent > 0 && reply > sent, qPrintable(describe(rows)));
        QCOMPARE(rows[sent].text, QStringLiteral("\\r\\nSET OUT2  VS IN3 \\r\\n"));
        QCOMPARE(rows[sent].link, QStringLiteral("COM1"));
        QCOMPARE(rows[reply].direction, mc::TrafficDirection::Received);
        QVERIFY2(rows[reply].text.contains(QStringLiteral("OUT2 VS IN3\\r\\n")), qPrintable(rows[reply].text));
        QCOMPARE(rows[reply].mark, QStringLiteral("output 2 -> input 3"));
        // Nothing else was sent, and what came in between is blank lines.
        for (int i = sent + 1; i < reply; ++i) {
            QCOMPARE(rows[i].direction, mc::TrafficDirection::Received);
            QCOMPARE(rows[i].mark, QStringLiteral("ignored"));
        }
    }

    void errorReplyIsMarkedAndStandsOut() {
        auto peer = PtyPeer::create();
        QVERIFY(peer && peer->linkAs(env_->ports().path(), 1));
        // The monitor opened after the port still names the link.
        auto w = showConsoleWithPortOpen();
        QVERIFY(w);
        TrafficMonitor* monitor = openMonitor(*w);
        QVERIFY(monitor);

        QVERIFY(peer->write("STORED\r\nERROR\r\n"));
        std::vector<ShownRow> rows;
        int error = -1;
        QTRY_VERIFY_WITH_TIMEOUT(
            (rows = shownRows(*monitor),
             error = find(rows, [](const ShownRow& r) { return r.markKind == mc::TrafficMarkKind::Error; })) >= 0,
            kTimeoutMs);
        QCOMPARE(rows[error].text, QStringLiteral("ERROR\\r\\n"));
        QCOMPARE(rows[error].link, QStringLiteral("COM1"));
        QCOMPARE(rows[error].mark, QStringLiteral("ERROR"));
        QCOMPARE(rows[error - 1].text, QStringLiteral("STORED\\r\\n"));
        QCOMPARE(rows[error - 1].mark, QStringLiteral("ignored"));
        // Colour as well as the mark text, and only on the refusal.
        const QAbstractItemModel& shown = monitor->shownRows();
        QVERIFY(shown.index(error, TrafficModel::TextColumn).data(Qt::BackgroundRole).isValid());
        QVERIFY(!shown.index(error - 1, TrafficModel::TextColumn).data(Qt::BackgroundRole).isValid());
        // Selecting the row shows its bytes as a hex dump.
        monitor->table()->selectRow(error);
        auto* dump = monitor->findChild<QPlainTextEdit*>(QStringLiteral("hexDump"));
        QVERIFY(dump);
        QCOMPARE(dump->toPlainText(), QString::fromStdString(mc::hexDump("ERROR\r\n")));
        QVERIFY(dump->toPlainText().startsWith(QStringLiteral("0000  45 52 52 4f 52 0d 0a")));
    }

    void garbageWithoutLineFeedShowsAsPendingRow() {
        MC_START_SWITCHER(sim, env_->ports(), 1, "garbage");
        TrafficMonitor* monitor = nullptr;
        auto w = consoleWithMonitor(monitor);
        QVERIFY(w);

        click(w->routingPage(0)->radio(0, 4));
        std::vector<ShownRow> rows;
        QTRY_VERIFY_WITH_TIMEOUT(
            (rows = shownRows(*monitor),
             !rows.empty() && rows.back().direction == mc::TrafficDirection::Pending && rows.back().text.size() >= 16),
            kTimeoutMs);
        QCOMPARE(rows.back().link, QStringLiteral("COM1"));
        // The noise is shown escaped: nothing but printable ASCII in the cell.
        for (const QChar c : rows.back().text) {
            QVERIFY(c.unicode() >= 0x20 && c.unicode() < 0x7f);
        }
        // Exactly one pending row, and it is the last.
        QCOMPARE(std::count_if(rows.begin(), rows.end(),
                               [](const ShownRow& r) { return r.direction == mc::TrafficDirection::Pending; }),
                 1);
    }

    void hangUpShowsThePortErrorWithItsReason() {
        constexpr long kRoutingCommandBytes = 21;
        MC_START_SWITCHER(sim, env_->ports(), 1, "hangup", kRoutingCommandBytes);
        TrafficMonitor* monitor = nullptr;
        auto w = consoleWithMonitor(monitor);
        QVERIFY(w);

        click(w->routingPage(0)->radio(1, 2));
        QTRY_COMPARE_WITH_TIMEOUT(portButton(*w)->text(), QStringLiteral("Open port"), kTimeoutMs);
        const std::vector<ShownRow> rows = shownRows(*monitor);
        const int error = find(rows, [](const ShownRow& r) { return r.mark == QStringLiteral("port error"); });
        QVERIFY2(error >= 0, qPrintable(describe(rows)));
        QCOMPARE(rows[error].direction, mc::TrafficDirection::Event);
        QCOMPARE(rows[error].link, QStringLiteral("COM1"));
        // The channel's reason, as the OS gave it.
        QCOMPARE(rows[error].text, QString::fromStdString(w->channel().lastFailure()));
        QVERIFY(!rows[error].text.isEmpty());
        const int closed = find(rows, [](const ShownRow& r) { return r.mark == QStringLiteral("closed"); });
        QVERIFY2(closed > error, qPrintable(describe(rows)));
    }

    void historyStaysAtItsBoundAfterTwentyThousandLines() {
        auto peer = PtyPeer::create();
        QVERIFY(peer && peer->linkAs(env_->ports().path(), 1));
        TrafficMonitor* monitor = nullptr;
        auto w = consoleWithMonitor(monitor);
        QVERIFY(w);
        mc::TrafficLog& log = w->trafficLog();

        constexpr int kLines = 20000;
        std::string stream;
        for (int i = 0; i < kLines; ++i) {
            stream += "LINE " + std::to_string(i) + "\r\n";
        }
        std::thread writer([&] { peer->write(stream); });
        const std::uint64_t before = log.nextSerial();
        QTRY_VERIFY_WITH_TIMEOUT(log.nextSerial() >= before + kLines, 60000);
        writer.join();
        monitor->refresh();

        QCOMPARE(log.size(), mc::kTrafficRowLimit);
        QCOMPARE(log.ringAllocation(), mc::kTrafficRowLimit);
        QCOMPARE(monitor->model().rowCount(), static_cast<int>(mc::kTrafficRowLimit));
        QCOMPARE(monitor->shownRows().rowCount(), static_cast<int>(mc::kTrafficRowLimit));
        const std::vector<ShownRow> rows = shownRows(*monitor);
        QCOMPARE(rows.back().text, QStringLiteral("LINE 19999\\r\\n"));
        QCOMPARE(rows.front().text, QStringLiteral("LINE 10000\\r\\n"));

        // Clear empties the view; new rows come in again.
        click(monitor->findChild<QPushButton*>(QStringLiteral("clearButton")));
        QCOMPARE(monitor->model().rowCount(), 0);
        QVERIFY(peer->write("OUT1 VS IN2\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(shownRows(*monitor).size()), 1, kTimeoutMs);
    }

    void pauseHoldsTheRowsShownEvenAfterTheyLeaveTheHistory() {
        auto peer = PtyPeer::create();
        QVERIFY(peer && peer->linkAs(env_->ports().path(), 1));
        TrafficMonitor* monitor = nullptr;
        auto w = consoleWithMonitor(monitor);
        QVERIFY(w);
        QVERIFY(peer->write("FIRST\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(shownRows(*monitor).size()), 2, kTimeoutMs);

        auto* pause = monitor->findChild<QPushButton*>(QStringLiteral("pauseButton"));
        click(pause);
        QVERIFY(pause->isChecked());
        std::string stream;
        for (int i = 0; i < 12000; ++i) {
            stream += "LINE " + std::to_string(i) + "\r\n";
        }
        std::thread writer([&] { peer->write(stream); });
        const std::uint64_t before = w->trafficLog().nextSerial();
        QTRY_VERIFY_WITH_TIMEOUT(w->trafficLog().nextSerial() >= before + 12000, 60000);
        writer.join();
        // Both rows have left the log; the paused view still shows them.
        QCOMPARE(w->trafficLog().rowBySerial(0), nullptr);
        std::vector<ShownRow> rows = shownRows(*monitor);
        QCOMPARE(rows.size(), std::size_t{2});
        QCOMPARE(rows[1].text, QStringLiteral("FIRST\\r\\n"));

        click(pause);
        rows = shownRows(*monitor);
        QCOMPARE(rows.size(), mc::kTrafficRowLimit);
        QCOMPARE(rows.back().text, QStringLiteral("LINE 11999\\r\\n"));
    }

    void filterKeepsOrderAndSaveAsWritesExactlyTheRowsShown() {
        auto peer = PtyPeer::create();
        QVERIFY(peer && peer->linkAs(env_->ports().path(), 1));
        TrafficMonitor* monitor = nullptr;
        auto w = consoleWithMonitor(monitor);
        QVERIFY(w);

        QVERIFY(peer->write("OUT5 VS IN1\r\nSTORED\r\nOUT1 VS IN9\r\nERROR\r\nOUT3 VS IN2\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(shownRows(*monitor).size() >= 6, kTimeoutMs); // "opened" and five lines

        auto* filter = monitor->findChild<QLineEdit*>(QStringLiteral("filterEdit"));
        QVERIFY(filter);
        QTest::keyClicks(filter, QStringLiteral(" vs "));
        const std::vector<ShownRow> rows = shownRows(*monitor);
        QCOMPARE(rows.size(), std::size_t{3});
        QCOMPARE(rows[0].mark, QStringLiteral("output 5 -> input 1"));
        QCOMPARE(rows[1].mark, QStringLiteral("output 1 -> input 9"));
        QCOMPARE(rows[2].mark, QStringLiteral("output 3 -> input 2"));

        const QString path = env_->filePath(QStringLiteral("traffic.txt"));
        QString error;
        QVERIFY(monitor->saveShownRows(path, error));
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(saved.readAll());
        QCOMPARE(text, monitor->shownLines().join(QLatin1Char('\n')) + QLatin1Char('\n'));
        QCOMPARE(text.count(QLatin1Char('\n')), 3);
        QVERIFY(text.contains(QStringLiteral("received  COM1  OUT1 VS IN9\\r\\n  [output 1 -> input 9]")));

        // Ctrl+C in the table copies the selected rows, as lines, in order.
        monitor->table()->setFocus();
        monitor->table()->selectAll();
        QTest::keyClick(monitor->table(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), text);

        filter->clear();
        QCOMPARE(shownRows(*monitor).size(), std::size_t{6});

        // A file that cannot be written says why; nothing is claimed saved.
        QVERIFY(!monitor->saveShownRows(env_->filePath(QStringLiteral("missing/dir/traffic.txt")), error));
        QVERIFY(!error.isEmpty());
    }

    // --log: the rows reach the file from the first open, with no monitor
    // ever opened, in the monitor's text form.
    void logFileGetsEveryRowWithoutAMonitor() {
        MC_START_SWITCHER(sim, env_->ports(), 1);
        const std::string path = env_->filePath(QStringLiteral("console.log")).toStdString();
        std::string error;
        auto file = mc::TrafficFile::open(path, error);
        QVERIFY2(file, error.c_str());
        std::vector<std::string> expected;
        {
            auto w = showConsole();
            QVERIFY(w);
            w->trafficLog().setRowListener([&](const mc::TrafficRow& row) {
                expected.push_back(mc::formatTrafficRow(row, mc::TrafficTimeForm::Timestamp) + "\n");
                file->write(row);
            });
            w->setTrafficRecording(true);
            click(portButton(*w));
            click(w->routingPage(0)->radio(2, 6)); // output 3 <- input 7
            QTRY_COMPARE_WITH_TIMEOUT(w->routingPage(0)->outputSelection(2), 6, kTimeoutMs);
            click(portButton(*w)); // close
            QVERIFY(w->trafficMonitor() == nullptr);
        }
        file.reset();
        QFile saved(QString::fromStdString(path));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(saved.readAll());
        QString joined;
        for (const std::string& line : expected) {
            joined += QString::fromStdString(line);
        }
        QCOMPARE(text, joined);
        QVERIFY2(text.contains(QStringLiteral("  event     COM1  opened\n")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("  sent      COM1  \\r\\nSET OUT3  VS IN7 \\r\\n\n")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("[output 3 -> input 7]\n")), qPrintable(text));
        QVERIFY2(text.endsWith(QStringLiteral("  event     COM1  closed\n")), qPrintable(text));
    }

    void unwritableLogFileStopsTheConsoleBeforeItsWindow() {
        const QString program = qEnvironmentVariable("MC_BUILD_DIR") + QStringLiteral("/src/matrix-console");
        if (!QFile::exists(program)) {
            QSKIP("matrix-console is not built");
        }
        const QString path = env_->filePath(QStringLiteral("no/such/dir/traffic.log"));
        QProcess console;
        console.start(program, {QStringLiteral("--log"), path});
        QVERIFY(console.waitForFinished(10000));
        QCOMPARE(console.exitCode(), 2);
        const QString err = QString::fromLocal8Bit(console.readAllStandardError());
        QVERIFY2(err.contains(path) && err.contains(QStringLiteral("No such file or directory")), qPrintable(err));
    }
};

QTEST_MAIN(TrafficMonitorE2eTest)
#include "traffic_monitor_e2e_test.moc"
