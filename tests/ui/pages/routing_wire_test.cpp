// Routing clicks in the real console window, read at the far end of the line:
// the bytes must arrive exactly, once per click, and only while the port is
// open.
#include "window/console_window.h"
#include "widgets/message_box.h"
#include "pages/routing_page.h"
#include "support/console_driver.h"
#include "support/pty_peer.h"

#include <QRadioButton>
#include <QtTest>

using mc::ConsoleWindow;
using mc::test::PtyPeer;
using namespace std::chrono_literals;
using namespace mc::test;

class RoutingWireTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ConsoleTestEnvironment> env_;
    std::unique_ptr<PtyPeer> com1_;
    std::unique_ptr<ConsoleWindow> window_;
    QStringList messages_;

    [[nodiscard]] QRadioButton* radio(int bank, int row, int input) const {
        showTab(*window_, bank == 0 ? FirstRoutingTab : SecondRoutingTab);
        return window_->routingPage(bank)->radio(row, input);
    }

private slots:
    void init() {
        env_ = std::make_unique<ConsoleTestEnvironment>(messages_);
        QVERIFY(env_->isValid());
        com1_ = PtyPeer::create();
        QVERIFY(com1_ && com1_->linkAs(env_->ports().path(), 1));
        window_ = showConsoleWithPortOpen();
        QVERIFY(window_);
    }

    void cleanup() {
        window_.reset();
        com1_.reset();
        env_.reset();
        QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join(QLatin1Char('|'))));
    }

    void clickSendsItsRoutingCommand_data() {
        QTest::addColumn<int>("bank");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("input");
        QTest::addColumn<QByteArray>("bytes");
        const auto hex = [](const char* spaced) { return QByteArray::fromStdString(fromHex(spaced)); };
        QTest::newRow("output 1 input 1")
            << 0 << 0 << 0 << hex("0D 0A 53 45 54 20 4F 55 54 31 20 20 56 53 20 49 4E 31 20 0D 0A");
        QTest::newRow("output 10 input 16")
            << 1 << 1 << 15 << hex("0D 0A 53 45 54 20 4F 55 54 31 30 20 56 53 20 49 4E 31 36 0D 0A");
        QTest::newRow("output 9 input 10")
            << 1 << 0 << 9 << hex("0D 0A 53 45 54 20 4F 55 54 39 20 20 56 53 20 49 4E 31 30 0D 0A");
        QTest::newRow("output 8 input 9")
            << 0 << 7 << 8 << hex("0D 0A 53 45 54 20 4F 55 54 38 20 20 56 53 20 49 4E 39 20 0D 0A");
    }

    void clickSendsItsRoutingCommand() {
        QFETCH(int, bank);
        QFETCH(int, row);
        QFETCH(int, input);
        QFETCH(QByteArray, bytes);
        click(radio(bank, row, input));
        QCOMPARE(visible(receive(*com1_, 21)), visible(bytes.toStdString()));
        QVERIFY(radio(bank, row, input)->isChecked());
    }

    void clickOnTheCheckedRadioSendsAgain() {
        const std::string expected = "\r\nSET OUT3  VS IN5 \r\n";
        for (int round = 0; round < 3; ++round) {
            click(radio(0, 2, 4));
            QCOMPARE(visible(receive(*com1_, expected.size())), visible(expected));
        }
    }

    // Nothing a click gives while the port is not open may reach a line, not
    // then and not when the port opens later: neither after the port button
    // closed it nor while a COM selection holds another port unread.
    void clickWithoutAnOpenPortIsNeverSent_data() {
        QTest::addColumn<bool>("held");
        QTest::newRow("closed by the port button") << false;
        QTest::newRow("COM2 held after selecting it") << true;
    }

    void clickWithoutAnOpenPortIsNeverSent() {
        QFETCH(bool, held);
        auto com2 = PtyPeer::create();
        QVERIFY(com2 && com2->linkAs(env_->ports().path(), 2));
        if (held) {
            comSelector(*window_)->setCurrentIndex(1);
            emit comSelector(*window_)->activated(1);
            QCOMPARE(portButton(*window_)->text(), QStringLiteral("Turn on Port"));
        } else {
            click(portButton(*window_));
        }
        QVERIFY(!window_->state().portOpen);

        click(radio(0, 4, 6));
        click(radio(1, 7, 15));
        QVERIFY(radio(0, 4, 6)->isChecked());
        QVERIFY(radio(1, 7, 15)->isChecked());

        click(portButton(*window_));
        QCOMPARE(portButton(*window_)->text(), QStringLiteral("Close Port"));
        PtyPeer& line = held ? *com2 : *com1_;
        PtyPeer& other = held ? *com1_ : *com2;
        QCOMPARE(visible(line.readAll(100ms, 500ms)), QByteArray());

        // The line works: the next click arrives on its own.
        click(radio(0, 0, 1));
        const std::string expected = "\r\nSET OUT1  VS IN2 \r\n";
        QCOMPARE(visible(receive(line, expected.size())), visible(expected));
        QCOMPARE(visible(other.readAll(50ms, 200ms)), QByteArray());
    }
};

QTEST_MAIN(RoutingWireTest)
#include "routing_wire_test.moc"
