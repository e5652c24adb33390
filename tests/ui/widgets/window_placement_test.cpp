// A window placed beside another stays within the available part of the
// screen: beside it when there is room, on the other side, or over it.
#include "widgets/window_placement.h"
#include "window/console_window.h"
#include "window/traffic_monitor.h"

#include <QScreen>
#include <QtTest>

using mc::kBesideGap;
using mc::placeBeside;

class WindowPlacementTest : public QObject {
    Q_OBJECT

private slots:
    void staysWithinTheAvailableGeometry_data() {
        QTest::addColumn<QRect>("anchor");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QPoint>("expected");
        const QRect screen(0, 0, 1920, 1040); // a 1080-line screen with a 40-pixel panel below
        QTest::newRow("room on the right")
            << QRect(100, 100, 600, 400) << QSize(700, 500) << screen << QPoint(100 + 600 + kBesideGap, 100);
        QTest::newRow("console near the right edge: left of it")
            << QRect(1000, 200, 600, 400) << QSize(700, 500) << screen << QPoint(1000 - kBesideGap - 700, 200);
        QTest::newRow("no room on either side: over it, against the right edge")
            << QRect(600, 200, 800, 400) << QSize(700, 500) << screen << QPoint(1920 - 700, 200);
        QTest::newRow("low console: moved up to stay above the panel")
            << QRect(100, 800, 600, 400) << QSize(700, 500) << screen << QPoint(708, 1040 - 500);
        QTest::newRow("console partly above the screen: moved down")
            << QRect(100, -50, 600, 400) << QSize(700, 500) << screen << QPoint(708, 0);
        QTest::newRow("bigger than the screen: its corner stays on it")
            << QRect(100, 100, 600, 400) << QSize(2500, 1500) << screen << QPoint(0, 0);
        const QRect second(1920, 0, 1280, 1024); // the right-hand screen of two
        QTest::newRow("second screen, room on the right")
            << QRect(2000, 100, 400, 300) << QSize(700, 500) << second << QPoint(2408, 100);
        QTest::newRow("second screen, near its right edge")
            << QRect(2800, 100, 400, 300) << QSize(700, 500) << second << QPoint(2800 - kBesideGap - 700, 100);
    }

    void staysWithinTheAvailableGeometry() {
        QFETCH(QRect, anchor);
        QFETCH(QSize, size);
        QFETCH(QRect, available);
        QFETCH(QPoint, expected);
        const QPoint placed = placeBeside(anchor, size, available);
        QCOMPARE(placed, expected);
        if (size.width() <= available.width() && size.height() <= available.height()) {
            QVERIFY(available.contains(QRect(placed, size)));
        }
    }

    // The console near its screen's right edge: the monitor opens on the
    // screen, not past its edge.
    void theTrafficMonitorOpensOnTheConsolesScreen() {
        mc::ConsoleWindow console;
        console.show();
        QVERIFY(QTest::qWaitForWindowExposed(&console));
        const QRect available = console.screen()->availableGeometry();
        console.move(available.x() + available.width() - console.frameGeometry().width() - 10, available.y() + 20);
        console.showTrafficMonitor();
        mc::TrafficMonitor* monitor = console.trafficMonitor();
        QVERIFY(monitor);
        QVERIFY(QTest::qWaitForWindowExposed(monitor));
        const QRect shown = monitor->frameGeometry();
        const QString where = QStringLiteral("monitor at %1,%2 %3x%4 on a screen of %5x%6")
                                  .arg(shown.x())
                                  .arg(shown.y())
                                  .arg(shown.width())
                                  .arg(shown.height())
                                  .arg(available.width())
                                  .arg(available.height());
        QVERIFY2(shown.top() >= available.top() && shown.bottom() <= available.bottom(), qPrintable(where));
        if (shown.width() > available.width()) {
            QCOMPARE(shown.x(), available.x()); // its left part shows, title bar included
        } else {
            QVERIFY2(available.contains(shown), qPrintable(where));
        }
    }
};

QTEST_MAIN(WindowPlacementTest)
#include "window_placement_test.moc"
