// A line that hangs up under the console: the port closes cleanly, what came
// before the hang-up is still taken, and the next open works.
#include "e2e/e2e_support.h"
#include "link/link_channel.h"
#include "pages/edid_page.h"
#include "pages/routing_page.h"
#include "support/console_driver.h"
#include "widgets/choice_box.h"
#include "widgets/message_box.h"
#include "window/console_window.h"

#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

using mc::ConsoleWindow;
using mc::test::PtyPeer;
using namespace std::chrono_literals;
using namespace mc::test;

namespace {

constexpr int kTimeoutMs = 5000;

// Watches the console's side of a pseudo-terminal through a descriptor of its
// own, opened before the console takes the line exclusively.
class SlaveWatch {
public:
    explicit SlaveWatch(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK)) {}
    ~SlaveWatch() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    SlaveWatch(const SlaveWatch&) = delete;
    SlaveWatch& operator=(const SlaveWatch&) = delete;

    [[nodiscard]] bool isValid() const { return fd_ >= 0; }

    // Blocks the calling thread, without handling any event, until the bytes
    // written to the master have been read on the console's side: its queue
    // was seen filled and is empty again, or stayed empty for a while.
    [[nodiscard]] bool waitUntilRead() const {
        QElapsedTimer clock;
        clock.start();
        qint64 emptySince = 0;
        bool seenFilled = false;
        while (clock.elapsed() < kTimeoutMs) {
            int unread = 0;
            if (::ioctl(fd_, FIONREAD, &unread) != 0) {
                return false;
            }
            if (unread > 0) {
                seenFilled = true;
                emptySince = clock.elapsed();
            } else if ((seenFilled && clock.elapsed() - emptySince >= 20) || clock.elapsed() - emptySince >= 200) {
                return true;
            }
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }

private:
    int fd_;
};

} // namespace

class HangupE2eTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ConsoleTestEnvironment> env_;
    QStringList messages_;

    static void verifyClosedAfterError(ConsoleWindow& w) {
        QTRY_COMPARE_WITH_TIMEOUT(portButton(w)->text(), QStringLiteral("Open port"), kTimeoutMs);
        QCOMPARE(portIconState(w), QStringLiteral("Port closed"));
        QVERIFY(!w.state().portOpen);
        QVERIFY(!w.channel().isOpen());
    }

private slots:
    void init() {
        env_ = std::make_unique<ConsoleTestEnvironment>(messages_);
        QVERIFY(env_->isValid());
    }

    void cleanup() { env_.reset(); }

    void switcherHangingUpAfterACommandClosesThePortAndTheNextOpenWorks() {
        constexpr long kRoutingCommandBytes = 21;
        MC_START_SWITCHER(first, env_->ports(), 1, "hangup", kRoutingCommandBytes);
        ConsoleWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        click(portButton(w));
        QVERIFY(w.state().portOpen);

        mc::RoutingPage* page = w.routingPage(0);
        click(page->radio(1, 2)); // output 2 <- input 3
        verifyClosedAfterError(w);
        QCOMPARE(first->waitForExit(5s), std::optional<int>(0));
        QCOMPARE(first->sentLines(), std::vector<std::string>{"OUT2 VS IN3\r\n"});
        // The reply came before the hang-up and counts.
        QCOMPARE(page->outputSelection(1), 2);
        QVERIFY(messages_.isEmpty());

        // Nothing goes out on the dead line, and nothing breaks.
        click(page->radio(1, 5));
        QVERIFY(!w.state().portOpen);

        MC_START_SWITCHER(second, env_->ports(), 1);
        click(portButton(w));
        QCOMPARE(portButton(w)->text(), QStringLiteral("Close Port"));
        QCOMPARE(portIconState(w), QStringLiteral("Port open"));
        click(page->radio(1, 4)); // output 2 <- input 5
        QTRY_COMPARE_WITH_TIMEOUT(page->outputSelection(1), 4, kTimeoutMs);
        QCOMPARE(second->receivedLines(), std::vector<std::string>{"\r\nSET OUT2  VS IN5 \r\n"});
        QVERIFY(messages_.isEmpty());
    }

    // The far end sends a reply and half the next one, and hangs up before
    // the window has had a chance to handle any of it.
    void lineHangingUpMidReplyKeepsTheWholeLinesAndClosesCleanly() {
        auto peer = PtyPeer::create();
        QVERIFY(peer && peer->linkAs(env_->ports().path(), 1));
        SlaveWatch watch(peer->slavePath());
        QVERIFY(watch.isValid());
        ConsoleWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        click(portButton(w));
        QVERIFY(w.state().portOpen);

        // This thread is the window's: while it blocks here, the port worker
        // reads the bytes, meets the hang-up and raises the port error, all
        // before the window takes the first byte.
        QVERIFY(peer->write("OUT4 VS IN6\r\nOUT5 VS IN"));
        QVERIFY(watch.waitUntilRead());
        peer->hangUp();
        QElapsedTimer clock;
        clock.start();
        while (!w.channel().portError() && clock.elapsed() < kTimeoutMs) {
            std::this_thread::sleep_for(2ms);
        }
        QVERIFY(w.channel().portError());

        verifyClosedAfterError(w);
        QCOMPARE(w.routingPage(0)->outputSelection(3), 5);
        QCOMPARE(w.routingPage(0)->outputSelection(4), std::optional<int>());
        QVERIFY(messages_.isEmpty());

        // A new line on the same COM port opens and carries commands and
        // replies; the cut-off half line names no input.
        auto next = PtyPeer::create();
        QVERIFY(next && next->linkAs(env_->ports().path(), 1));
        click(portButton(w));
        QCOMPARE(portButton(w)->text(), QStringLiteral("Close Port"));
        click(w.routingPage(0)->radio(5, 1));
        const std::string command = "\r\nSET OUT6  VS IN2 \r\n";
        QCOMPARE(visible(receive(*next, command.size())), visible(command));
        QVERIFY(next->write("\r\nOUT6 VS IN2\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(w.routingPage(0)->outputSelection(5), 1, kTimeoutMs);
        QCOMPARE(w.routingPage(0)->outputSelection(4), std::optional<int>());
    }

    // The line hangs up in the middle of an EDID read-back. The next
    // connection's bytes must not complete the half line into a saved (and
    // corrupted) EDID: the close ended the read and dropped the half line.
    void hangUpDuringAnEdidReadSavesNothingFromTheNextConnection() {
        auto peer = PtyPeer::create();
        QVERIFY(peer && peer->linkAs(env_->ports().path(), 1));
        ConsoleWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        click(portButton(w));
        QVERIFY(w.state().portOpen);
        showTab(w, EdidTab);
        w.edidPage()->findChild<mc::ChoiceBox*>(QStringLiteral("readPortSelector"))->setCurrentIndex(0);
        click(w.edidPage()->findChild<QPushButton*>(QStringLiteral("readButton")));
        QVERIFY(w.session().edidReadBack());
        QVERIFY(!peer->readAll(20ms, 1000ms).empty());

        const std::string half = "OUT1 EDID DATA 00 ff ff ff";
        QVERIFY(peer->write(half));
        QTRY_COMPARE_WITH_TIMEOUT(w.session().replies()->pendingLine().size(), half.size(), kTimeoutMs);
        peer->hangUp();
        verifyClosedAfterError(w);

        auto next = PtyPeer::create();
        QVERIFY(next && next->linkAs(env_->ports().path(), 1));
        click(portButton(w));
        QCOMPARE(portButton(w)->text(), QStringLiteral("Close Port"));
        QVERIFY(next->write(" ff ff 00 4c 2d\r\nOUT6 VS IN2\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(w.routingPage(0)->outputSelection(5), 1, kTimeoutMs);
        QVERIFY(messages_.isEmpty());
        QVERIFY(QDir(env_->filePath(QString())).entryList({QStringLiteral("Matrix_EDID_*")}).isEmpty());
        QVERIFY(!w.session().edidReadBack());
    }
};

QTEST_MAIN(HangupE2eTest)
#include "hangup_e2e_test.moc"
