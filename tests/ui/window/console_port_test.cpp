#include "link/link_channel.h"
#include "pages/routing_page.h"
#include "support/pty_peer.h"
#include "support/tcp_peer.h"
#include "widgets/message_box.h"
#include "window/console_window.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

using mc::ConsoleWindow;
using mc::test::PtyPeer;
using namespace std::chrono_literals;

namespace {

constexpr int kTimeoutMs = 5000;
const QString kProbe = QStringLiteral("\r\nGET STA\r\n");

// A far end that answers the probe with a line of its own.
class Responder {
public:
    explicit Responder(PtyPeer& peer)
        : thread_([&peer, this] {
              // Answers once the whole probe (two line feeds) is in.
              std::string line;
              while (!stop_ && std::count(line.begin(), line.end(), '\n') < 2) {
                  line += peer.read(1, 50ms);
              }
              if (!stop_) {
                  heard_ = line;
                  peer.write("\r\nOUT1 VS IN1\r\n");
              }
          }) {}
    ~Responder() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;

    // The line it answered; call once it has answered.
    std::string heard() {
        if (thread_.joinable()) {
            thread_.join();
        }
        return heard_;
    }

private:
    std::atomic<bool> stop_{false};
    std::string heard_;
    std::thread thread_;
};

} // namespace

class ConsolePortTest : public QObject {
    Q_OBJECT

private:
    mc::test::PortDirectory* ports_ = nullptr;
    QStringList messages_;

    std::unique_ptr<PtyPeer> peerAt(int comPort) {
        auto peer = PtyPeer::create();
        if (peer) {
            peer->linkAs(ports_->path(), comPort);
        }
        return peer;
    }

    static QPushButton* portButton(ConsoleWindow& w) { return w.findChild<QPushButton*>(QStringLiteral("portButton")); }
    static QComboBox* comSelector(ConsoleWindow& w) { return w.findChild<QComboBox*>(QStringLiteral("comSelector")); }
    static QString iconState(ConsoleWindow& w) {
        return w.findChild<QLabel*>(QStringLiteral("portIcon"))->accessibleDescription();
    }
    static QString status(ConsoleWindow& w) { return w.findChild<QLabel*>(QStringLiteral("statusLine"))->text(); }

private slots:
    void init() {
        ports_ = new mc::test::PortDirectory;
        ports_->exportToEnvironment();
        messages_.clear();
        mc::setMessagePresenter([this](QWidget*, const QString& text) { messages_ << text; });
    }

    void cleanup() {
        mc::setMessagePresenter({});
        delete ports_;
        ports_ = nullptr;
    }

    void portButtonOnAnAbsentPortShowsTheMessage() {
        ConsoleWindow w;
        portButton(w)->click();
        QCOMPARE(messages_, QStringList{QStringLiteral("Can not find this port or used by other application")});
        QCOMPARE(portButton(w)->text(), QStringLiteral("Turn on Port"));
        QCOMPARE(iconState(w), QStringLiteral("Port closed"));
    }

    void portButtonOpensAndClosesWithIconAndText() {
        auto peer = peerAt(1);
        ConsoleWindow w;
        portButton(w)->click();
        QVERIFY(messages_.isEmpty());
        QCOMPARE(portButton(w)->text(), QStringLiteral("Close Port"));
        QCOMPARE(iconState(w), QStringLiteral("Port open"));
        QVERIFY(w.state().portOpen);

        // Senders go through the window, which tests the flag.
        const auto command = *mc::TextCommand::fromBytes("\r\nGET OUT1 VS\r\n");
        QVERIFY(w.session().send(command));
        QCOMPARE(QString::fromStdString(peer->read(command.size(), 5s)), QStringLiteral("\r\nGET OUT1 VS\r\n"));

        portButton(w)->click();
        QCOMPARE(portButton(w)->text(), QStringLiteral("Turn on Port"));
        QCOMPARE(iconState(w), QStringLiteral("Port closed"));
        QVERIFY(!w.session().send(command));
    }

    void comSelectionOpensWhenClosedAndHoldsWhenOpen() {
        auto com3 = peerAt(3);
        auto com4 = peerAt(4);
        ConsoleWindow w;
        QComboBox* com = comSelector(w);
        com->setCurrentIndex(2);
        emit com->activated(2);
        QCOMPARE(portButton(w)->text(), QStringLiteral("Close Port"));
        QCOMPARE(w.channel().linkNumber(), 3);

        com->setCurrentIndex(3);
        emit com->activated(3);
        QCOMPARE(portButton(w)->text(), QStringLiteral("Turn on Port"));
        QCOMPARE(iconState(w), QStringLiteral("Port closed"));
        QCOMPARE(w.channel().state(), mc::LinkChannel::State::OpenIdle);

        portButton(w)->click();
        QCOMPARE(portButton(w)->text(), QStringLiteral("Close Port"));
        QCOMPARE(w.channel().linkNumber(), 4);
        QVERIFY(messages_.isEmpty());
    }

    // A selection holds the window thread for its 200 ms pause: what the far
    // end sends as soon as the line is open waits in the hand-over meanwhile.
    void comSelectionPausesTheWindow200MsBeforeHandlingWhatArrives() {
        auto com2 = peerAt(2);
        std::atomic<bool> written{false};
        std::thread farEnd([&] {
            // The master side reports a hang-up until the console opens the line.
            const auto until = std::chrono::steady_clock::now() + 5s;
            pollfd line{com2->masterFd(), 0, 0};
            while (std::chrono::steady_clock::now() < until && ::poll(&line, 1, 0) >= 0 &&
                   (line.revents & POLLHUP) != 0) {
                std::this_thread::sleep_for(1ms);
            }
            // After the open's purge of unread input.
            std::this_thread::sleep_for(20ms);
            written = com2->write("OUT3 VS");
        });
        ConsoleWindow w;
        QComboBox* com = comSelector(w);
        QElapsedTimer clock;
        clock.start();
        com->setCurrentIndex(1);
        emit com->activated(1);
        const qint64 selectionMs = clock.elapsed();
        farEnd.join();
        QVERIFY(written);
        QVERIFY2(selectionMs >= 200, QByteArray::number(selectionMs).constData());
        QVERIFY(w.session().replies()->pendingLine().empty()); // handed over, not handled yet
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(w.session().replies()->pendingLine()),
                                  QStringLiteral("OUT3 VS"), kTimeoutMs);
    }

    void searchFindsTheThirdPortThatOpensAfterTheTwoWaits() {
        auto com1 = peerAt(1);
        auto com2 = peerAt(2);
        auto com4 = peerAt(4); // COM3 does not exist
        Responder live(*com4);
        ConsoleWindow w;
        w.show();
        QElapsedTimer clock;
        clock.start();
        w.findChild<QPushButton*>(QStringLiteral("searchButton"))->click();
        QCOMPARE(status(w), QStringLiteral("Please wait....."));
        QTRY_VERIFY_WITH_TIMEOUT(w.state().portOpen, kTimeoutMs);
        const qint64 elapsed = clock.elapsed();

        QVERIFY2(elapsed >= 800 && elapsed < 3000, qPrintable(QString::number(elapsed)));
        QCOMPARE(comSelector(w)->currentText(), QStringLiteral("COM4"));
        QCOMPARE(portButton(w)->text(), QStringLiteral("Close Port"));
        QCOMPARE(iconState(w), QStringLiteral("Port open"));
        QCOMPARE(status(w).trimmed(), QString());
        QVERIFY(!w.state().searchInProgress);
        QVERIFY(messages_.isEmpty());
        for (PtyPeer* silent : {com1.get(), com2.get()}) {
            QCOMPARE(QString::fromStdString(silent->read(11, 1s)), kProbe);
        }
        QCOMPARE(QString::fromStdString(live.heard()), kProbe);
    }

    void searchWithoutAnAnswerRestoresThePortNumberAndSaysSo() {
        auto com5 = peerAt(5);
        ConsoleWindow w;
        w.state().comPort = 8;
        w.findChild<QPushButton*>(QStringLiteral("searchButton"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(!messages_.isEmpty(), kTimeoutMs);
        QCOMPARE(messages_, QStringList{QStringLiteral("Can not find available device for this console!")});
        QCOMPARE(w.state().comPort, 8);
        QCOMPARE(status(w), QStringLiteral(" "));
        QCOMPARE(QString::fromStdString(com5->read(11, 1s)), kProbe);
    }

    void searchWithNothingToOpenSaysSoAtOnce() {
        ConsoleWindow w;
        w.state().comPort = 8;
        w.findChild<QPushButton*>(QStringLiteral("searchButton"))->click();
        QCOMPARE(messages_, QStringList{QStringLiteral("Can not find available device for this console!")});
        QCOMPARE(w.state().comPort, 1);
    }

    // Picking the selected port again from the open list is no change of
    // selection: the open link stays as it is.
    void rePickingTheSelectedPortChangesNothing() {
        auto com1 = peerAt(1);
        ConsoleWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        portButton(w)->click();
        QVERIFY(w.state().portOpen);

        QComboBox* com = comSelector(w);
        com->showPopup();
        QAbstractItemView* list = com->view();
        QTRY_VERIFY_WITH_TIMEOUT(list->isVisible(), kTimeoutMs);
        const QRect item = list->visualRect(com->model()->index(0, 0));
        QSignalSpy picks(com, &QComboBox::activated);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
        QTRY_COMPARE_WITH_TIMEOUT(picks.count(), 1, kTimeoutMs);

        QCOMPARE(com->currentIndex(), 0);
        QCOMPARE(portButton(w)->text(), QStringLiteral("Close Port"));
        QCOMPARE(iconState(w), QStringLiteral("Port open"));
        QVERIFY(w.state().portOpen);
        QCOMPARE(w.channel().state(), mc::LinkChannel::State::Running);
        const auto command = *mc::TextCommand::fromBytes("\r\nGET OUT1 VS\r\n");
        QVERIFY(w.session().send(command));
        QCOMPARE(QString::fromStdString(com1->read(command.size(), 5s)), QStringLiteral("\r\nGET OUT1 VS\r\n"));
        QVERIFY(messages_.isEmpty());
    }

    void hangUpClosesThePortAndTheButtonReadsOpenPort() {
        auto peer = peerAt(2);
        ConsoleWindow w;
        comSelector(w)->setCurrentIndex(1);
        emit comSelector(w)->activated(1);
        QVERIFY(w.state().portOpen);
        peer->hangUp();
        QTRY_COMPARE_WITH_TIMEOUT(portButton(w)->text(), QStringLiteral("Open port"), kTimeoutMs);
        QCOMPARE(iconState(w), QStringLiteral("Port closed"));
        QVERIFY(!w.state().portOpen);
        QVERIFY(!w.channel().isOpen());
    }

    void destroyingTheWindowWhileTheWorkerWaitsForRoomReturns() {
        auto peer = peerAt(1);
        auto w = std::make_unique<ConsoleWindow>();
        portButton(*w)->click();
        QVERIFY(w->state().portOpen);

        // Flood the line without letting the window thread take anything,
        // until the hand-over is full and the line backs up.
        const int master = peer->masterFd();
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        const std::string chunk(4096, 'x');
        QElapsedTimer clock;
        clock.start();
        std::size_t written = 0;
        while (clock.elapsed() < 3000) {
            const ssize_t n = ::write(master, chunk.data(), chunk.size());
            if (n > 0) {
                written += static_cast<std::size_t>(n);
                continue;
            }
            pollfd p{master, POLLOUT, 0};
            if (::poll(&p, 1, 300) == 0) {
                break; // backed up: the worker is waiting for room
            }
        }
        QVERIFY(written > std::size_t{64} * 1024);

        std::atomic<bool> finished{false};
        std::thread watchdog([&finished] {
            for (int i = 0; i < 100 && !finished; ++i) {
                std::this_thread::sleep_for(100ms);
            }
            if (!finished) {
                std::fputs("window destruction deadlocked\n", stderr);
                std::abort();
            }
        });
        w.reset();
        finished = true;
        watchdog.join();
    }

    // The selector says which link is in use, and the port button opens what
    // it says: the peer while the network link is chosen, lost or not.
    void theSelectorShowsTheNetworkPeerAndTheButtonOpensWhatItShows() {
        auto com2 = peerAt(2);
        mc::test::TcpPeer peer;
        QVERIFY(peer.listening());
        const QString peerText = QStringLiteral("127.0.0.1:%1").arg(peer.port());
        ConsoleWindow w;
        comSelector(w)->setCurrentIndex(2); // COM3, absent
        messages_.clear();
        w.connectOverNetwork({"127.0.0.1", peer.port()});
        QCOMPARE(comSelector(w)->count(), 100);
        QCOMPARE(comSelector(w)->currentIndex(), 99);
        QCOMPARE(comSelector(w)->toolTip(), peerText);
        QCOMPARE(comSelector(w)->accessibleDescription(), peerText);
        QCOMPARE(comSelector(w)->itemData(99, Qt::AccessibleTextRole).toString(), peerText);
        // What the selector shows: the whole peer, or the host's start and an
        // ellipsis where the field is too narrow, and the whole port.
        const QString shown = comSelector(w)->currentText();
        const QString port = QStringLiteral(":%1").arg(peer.port());
        QVERIFY2(shown == peerText || (shown.startsWith(QStringLiteral("1")) && shown.endsWith(QChar(0x2026) + port)),
                 qPrintable(shown));
        QCOMPARE(comSelector(w)->itemText(98), QStringLiteral("COM99"));
        QVERIFY(peer.accept(5s));
        // The status request follows the connect, which the window thread
        // takes from the port worker: it runs its events meanwhile.
        std::string request;
        QTRY_VERIFY_WITH_TIMEOUT((request += peer.receive(11 - request.size(), 10ms), request.size() == 11),
                                 kTimeoutMs);
        QCOMPARE(request, std::string("\r\nGET STA\r\n"));

        peer.closeClient();
        QTRY_COMPARE_WITH_TIMEOUT(portButton(w)->text(), QStringLiteral("Open port"), kTimeoutMs);
        QCOMPARE(comSelector(w)->currentText(), shown);
        portButton(w)->click();
        QVERIFY(peer.accept(5s));
        QCOMPARE(w.channel().linkNumber(), mc::kNetworkLinkNumber);

        // Picking a COM port leaves the network: the peer's item goes.
        comSelector(w)->setCurrentIndex(1);
        QCOMPARE(comSelector(w)->count(), 99);
        QCOMPARE(comSelector(w)->currentText(), QStringLiteral("COM2"));
        QCOMPARE(comSelector(w)->toolTip(), QString());
        QCOMPARE(w.channel().linkNumber(), 2);
        QVERIFY(w.state().portOpen);
        QVERIFY(messages_.isEmpty());
    }

    // F5 asks the switcher for its status again; without an open port there
    // is nothing to ask.
    void refreshStatusSendsTheStatusRequestWhileThePortIsOpen() {
        auto peer = peerAt(1);
        ConsoleWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto* refresh = w.findChild<QAction*>(QStringLiteral("refreshStatusAction"));
        QVERIFY(refresh);
        QCOMPARE(refresh->text(), QStringLiteral("&Refresh Status"));
        QVERIFY(w.actions().contains(refresh));
        QVERIFY(!refresh->isEnabled());

        portButton(w)->click();
        QVERIFY(refresh->isEnabled());
        // A click shows at once and stays while no reply says otherwise
        // (another program may have routed output 1 since).
        QRadioButton* in3 = w.routingPage(0)->radio(0, 2);
        in3->click();
        QCOMPARE(QString::fromStdString(peer->read(21, 5s)), QStringLiteral("\r\nSET OUT1  VS IN3 \r\n"));
        QTest::qWait(50);
        QVERIFY(in3->isChecked());

        QTest::keyClick(&w, Qt::Key_F5);
        QCOMPARE(QString::fromStdString(peer->read(11, 5s)), kProbe);
        peer->write("\r\nOUT1 VS IN5\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(w.routingPage(0)->radio(0, 4)->isChecked(), kTimeoutMs);
        QVERIFY(!in3->isChecked());

        portButton(w)->click();
        QVERIFY(!refresh->isEnabled());
        QTest::keyClick(&w, Qt::Key_F5);
        QCOMPARE(QString::fromStdString(peer->read(1, 300ms)), QString());
    }
};

QTEST_MAIN(ConsolePortTest)
#include "console_port_test.moc"
