// The console stays usable while a far end floods it with valid reply lines:
// the window thread gets back to its timers and clicks between deliveries.
#include "pages/routing_page.h"
#include "sim/session.h"
#include "support/console_driver.h"
#include "support/flood_probe.h"
#include "support/tcp_peer.h"

#include <QPushButton>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

std::string statusDumps(int count) {
    mc::sim::Session switcher(mc::sim::SessionOptions{});
    std::string dump;
    for (const auto& exchange : switcher.receive("\r\nGET STA\r\n").exchanges) {
        dump += exchange.reply;
    }
    std::string out;
    for (int i = 0; i < count; ++i) {
        out += dump;
    }
    return out;
}

} // namespace

class ConsoleFloodTest : public QObject {
    Q_OBJECT

private slots:
    // Over a network link the bytes come in far faster than the pages take
    // them, and the port worker keeps the hand-over's queue full.
    void aTimerAndAClickKeepFiringDuringASustainedFlood() {
        QStringList messages;
        mc::test::ConsoleTestEnvironment env(messages);
        QVERIFY(env.isValid());
        mc::test::TcpPeer peer;
        mc::ConsoleWindow window;
        window.show();
        window.connection().connectNetwork({"127.0.0.1", peer.port()});
        QVERIFY(peer.accept(5s));

        QPushButton button;
        const mc::test::FloodLateness seen = mc::test::measureDuringFlood(
            [&peer](const std::string& bytes) { return peer.send(bytes); }, statusDumps(8), 3s, button);
        QVERIFY2(seen.bytesWritten > 1'000'000, qPrintable(QString::number(seen.bytesWritten)));
        QVERIFY2(seen.worstTimerLateness < 100ms, qPrintable(QString::number(seen.worstTimerLateness.count())));
        QVERIFY2(seen.worstClickWait < 100ms, qPrintable(QString::number(seen.worstClickWait.count())));
        QVERIFY(seen.timerTicks >= 100);
        QVERIFY(seen.clicks >= 40);
        QCOMPARE(seen.clicks, seen.clicksPosted);
        // Every reply was still taken, in order: the last dump routes output
        // n to input n.
        QTRY_COMPARE(window.routingPage(1)->outputSelection(7), 15);
        QVERIFY(window.state().portOpen);
        QVERIFY(messages.isEmpty());
    }
};

QTEST_MAIN(ConsoleFloodTest)
#include "console_flood_test.moc"
