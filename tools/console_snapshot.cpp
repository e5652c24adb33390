// Renders the console window into PNG files without a display: one picture of
// the window, and with --pages one per tab page. With --search the window
// first runs "Search Machine" against the switcher on the port directory in
// MATRIX_CONSOLE_PORTS (the emulator, for the documentation) and reads the
// EDID of output 1 back, so the pages show a switcher's state and a summary.
// With --monitor the traffic monitor is open from the start, and
// traffic-monitor.png shows it beside the console.
// With --network-dialog it also renders the "Connect over Network..." dialog
// filled in with an example host.
// Used by scripts/screenshots; writes its address book and the read EDID file
// into the working directory.
#include "pages/audio_page.h"
#include "pages/edid_page.h"
#include "pages/routing_page.h"
#include "widgets/message_box.h"
#include "window/console_window.h"
#include "window/network_dialog.h"
#include "window/traffic_monitor.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTabWidget>
#include <QTableView>
#include <cstdio>
#include <functional>

namespace {

constexpr const char* kPageFiles[] = {"page-routing-1.png", "page-routing-2.png", "page-edid.png",
                                      "page-ip-settings.png", "page-audio.png"};

// Bounds every wait on the switcher: a probe is answered within half a second.
constexpr int kSearchLimitMs = 10000;
constexpr int kReplyLimitMs = 5000;
// The EDID read back for the summary: "Out port 1".
constexpr int kReadPortItem = 0;

bool save(QWidget& window, const QString& path) {
    if (!window.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// The console and the monitor side by side, tops aligned, on one picture.
bool saveBeside(QWidget& console, QWidget& monitor, const QString& path) {
    constexpr int kGap = 12;
    const QPixmap left = console.grab();
    const QPixmap right = monitor.grab();
    QPixmap both(left.width() + kGap + right.width(), std::max(left.height(), right.height()));
    both.fill(QColor(0xe0, 0xe0, 0xe0));
    QPainter painter(&both);
    painter.drawPixmap(0, 0, left);
    painter.drawPixmap(left.width() + kGap, 0, right);
    painter.end();
    if (!both.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

bool waitFor(const std::function<bool()>& done, int limitMs) {
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > limitMs) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// A full status dump reports every route and, last of all, the audio of
// output 16, which starts unknown.
bool statusShown(const mc::ConsoleWindow& window) {
    for (int bank = 0; bank < 2; ++bank) {
        for (int row = 0; row < mc::RoutingPage::kRows; ++row) {
            if (!window.routingPage(bank)->outputSelection(row)) {
                return false;
            }
        }
    }
    return window.audioPage()->audioState(mc::kLastPort).has_value();
}

// Searches, waits for the status dump, reads output 1's EDID into the summary.
bool showSwitcherState(mc::ConsoleWindow& window) {
    window.findChild<QPushButton*>(QStringLiteral("searchButton"))->click();
    if (!waitFor([&] { return window.state().portOpen && !window.state().searchInProgress; }, kSearchLimitMs)) {
        std::fprintf(stderr, "no switcher answered the search\n");
        return false;
    }
    if (!waitFor([&] { return statusShown(window); }, kReplyLimitMs)) {
        std::fprintf(stderr, "the switcher's status did not arrive\n");
        return false;
    }
    mc::EdidPage* edid = window.edidPage();
    edid->findChild<QComboBox*>(QStringLiteral("readPortSelector"))->setCurrentIndex(kReadPortItem);
    edid->findChild<QPushButton*>(QStringLiteral("readButton"))->click();
    if (!waitFor([&] { return !window.session().edidReadBack() && !edid->summary().empty(); }, kReplyLimitMs)) {
        std::fprintf(stderr, "the EDID read-back did not arrive\n");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 2 || args.at(1).startsWith(QLatin1String("--"))) {
        std::fprintf(stderr,
                     "usage: matrix-console-snapshot OUT_DIR [--pages] [--search] [--monitor] [--network-dialog]\n");
        return 2;
    }
    const QDir out(args.at(1));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(out.path()));
        return 1;
    }
    // Nobody is there to click OK: messages go to standard error.
    mc::setMessagePresenter(
        [](QWidget*, const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });

    mc::ConsoleWindow window;
    window.show();
    QApplication::processEvents();
    const bool monitor = args.contains(QStringLiteral("--monitor"));
    if (monitor) {
        window.showTrafficMonitor();
        window.trafficMonitor()->resize(900, window.height());
    }
    if (args.contains(QStringLiteral("--search")) && !showSwitcherState(window)) {
        return 1;
    }
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("pageTabs"));
    tabs->setCurrentIndex(0);
    QApplication::processEvents();
    bool ok = save(window, out.filePath(QStringLiteral("console.png")));
    if (args.contains(QStringLiteral("--pages"))) {
        for (int i = 0; i < tabs->count() && i < int(std::size(kPageFiles)); ++i) {
            tabs->setCurrentIndex(i);
            QApplication::processEvents();
            ok = save(window, out.filePath(QString::fromLatin1(kPageFiles[i]))) && ok;
        }
    }
    if (monitor) {
        tabs->setCurrentIndex(0);
        mc::TrafficMonitor& shown = *window.trafficMonitor();
        shown.refresh();
        // The EDID data line, the last row, with its hex dump below.
        shown.table()->selectRow(shown.shownRows().rowCount() - 1);
        shown.table()->scrollToBottom();
        QApplication::processEvents();
        ok = saveBeside(window, *window.trafficMonitor(), out.filePath(QStringLiteral("traffic-monitor.png"))) && ok;
    }
    if (args.contains(QStringLiteral("--network-dialog"))) {
        const auto* port = window.findChild<QLineEdit*>(QStringLiteral("tcpPortEdit"));
        mc::NetworkDialog dialog(port != nullptr ? port->text().toStdString() : std::string(), &window);
        dialog.findChild<QLineEdit*>(QStringLiteral("networkHostEdit"))->setText(QStringLiteral("192.168.1.100"));
        dialog.show();
        QApplication::processEvents();
        ok = save(dialog, out.filePath(QStringLiteral("network-dialog.png"))) && ok;
    }
    return ok ? 0 : 1;
}
