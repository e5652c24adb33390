// The console over the network link: against the emulator's TCP side for the
// session, and against loopback peers for the failures a switcher cannot be
// told to make (a reset, a refused or never-completing connect). With
// MC_E2E_VIA_HUB set, the session tests run through matrix-hub, which then
// owns the emulator's serial line and shares it on its text port.
#include "e2e/e2e_support.h"
#include "link/commands.h"
#include "link/tcp_backend.h"
#include "pages/audio_page.h"
#include "pages/edid_page.h"
#include "pages/routing_page.h"
#include "support/hub_process.h"
#include "support/tcp_peer.h"
#include "widgets/choice_box.h"
#include "widgets/ip_address_edit.h"
#include "window/console_window.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QtTest>

using mc::ConsoleWindow;
using namespace std::chrono_literals;
using namespace mc::test;

namespace {

// What the peer receives while the window thread runs its events: the window
// sends the status request once it is told the link is up.
std::string receiveWhileTheWindowRuns(mc::test::TcpPeer& peer, std::size_t count) {
    std::string got;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < count && clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        got += peer.receive(count - got.size(), std::chrono::milliseconds(10));
    }
    return got;
}

constexpr int kTimeoutMs = 5000;
constexpr char kProbe[] = "\r\nGET STA\r\n";
// Lines of the emulator's status reply: 16 routes, 16 EDID choices, 6
// network lines and 16 audio states.
constexpr std::size_t kStatusLines = 16 + 16 + 6 + 16;

QString connectedTo(std::uint16_t port) {
    return QStringLiteral("Connected to 127.0.0.1:%1").arg(port);
}

} // namespace

class NetworkE2eTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ConsoleTestEnvironment> env_;
    std::unique_ptr<SwitcherProcess> sim_;
    std::unique_ptr<HubProcess> hub_;
    std::unique_ptr<ConsoleWindow> window_;
    QStringList messages_;

    void startSim(const std::string& mode = "normal", std::optional<long> hangupAfter = std::nullopt) {
        SwitcherProcess::Options options;
        options.portDirectory = env_->ports().path();
        options.comPort = 1;
        options.mode = mode;
        options.hangupAfter = hangupAfter;
        options.listen = "127.0.0.1:0";
        sim_ = std::make_unique<SwitcherProcess>(std::move(options));
        QVERIFY2(sim_->ready(), sim_->startupOutput().c_str());
        if (qEnvironmentVariableIsSet("MC_E2E_VIA_HUB")) {
            HubProcess::Options hub;
            hub.link = env_->ports().portPath(1);
            hub.directory = env_->ports().path();
            hub.pollSeconds = 0; // its first status request only, so the lines below are known
            hub_ = std::make_unique<HubProcess>(std::move(hub));
            QVERIFY2(hub_->ready(), hub_->startupOutput().c_str());
            QVERIFY(hub_->waitForLog("state is fresh", 5s));
        }
    }

    // Where the console connects: the hub's text port or the emulator's.
    [[nodiscard]] std::uint16_t tcpPort() const { return hub_ ? hub_->textPort() : sim_->tcpPort(); }
    // What the emulator received before the console's commands: the hub asks
    // for the status first when it is in between.
    [[nodiscard]] std::vector<std::string> probes() const { return std::vector<std::string>(hub_ ? 2 : 1, kProbe); }

    // Connects and waits until the status has filled every page.
    void connectAndWaitForStatus() {
        window_->connectOverNetwork({"127.0.0.1", tcpPort()});
        QVERIFY(window_->state().portOpen);
        QTRY_COMPARE_WITH_TIMEOUT(sim_->sentLines().size(), kStatusLines * probes().size(), kTimeoutMs);
        // The status ends with output 16's audio, which redraws the audio page.
        QTRY_VERIFY_WITH_TIMEOUT(window_->audioPage()->onRadio(16)->isChecked(), kTimeoutMs);
    }

    template <typename T> T* control(const char* name) const {
        return window_->findChild<T*>(QString::fromLatin1(name));
    }

    // Waits for the message a failed connect shows; how long it took.
    std::chrono::milliseconds waitForConnectMessage(const QString& start) {
        QElapsedTimer took;
        took.start();
        [&] { QTRY_VERIFY_WITH_TIMEOUT(!messages_.isEmpty(), 8000); }();
        const auto elapsed = std::chrono::milliseconds(took.elapsed());
        [&] {
            QCOMPARE(messages_.size(), 1);
            QVERIFY2(messages_.front().startsWith(start), qPrintable(messages_.front()));
            QCOMPARE(portButton(*window_)->text(), QStringLiteral("Open port"));
            QCOMPARE(portIconState(*window_), QStringLiteral("Port closed"));
            QCOMPARE(portButton(*window_)->toolTip(), QString());
        }();
        return elapsed;
    }

private slots:
    void init() {
        env_ = std::make_unique<ConsoleTestEnvironment>(messages_);
        QVERIFY(env_->isValid());
        window_ = showConsole();
        QVERIFY(window_);
    }

    void cleanup() {
        window_.reset();
        hub_.reset();
        sim_.reset();
        env_.reset();
    }

    void connectFillsEveryPageAndClosePortEndsTheLink() {
        startSim();
        connectAndWaitForStatus();
        if (QTest::currentTestFailed()) {
            return;
        }
        QCOMPARE(sim_->receivedLines(), probes());
        QCOMPARE(portButton(*window_)->text(), QStringLiteral("Close Port"));
        QCOMPARE(portIconState(*window_), QStringLiteral("Port open"));
        QCOMPARE(portButton(*window_)->toolTip(), connectedTo(tcpPort()));
        QCOMPARE(portButton(*window_)->accessibleDescription(), connectedTo(tcpPort()));
        for (int output = 1; output <= 16; ++output) {
            const mc::RoutingPage* page = window_->routingPage(output <= 8 ? 0 : 1);
            QCOMPARE(page->outputSelection((output - 1) % 8), output - 1);
            QVERIFY(window_->audioPage()->onRadio(output)->isChecked());
        }
        QVERIFY(!control<QLineEdit>("tcpPortEdit")->text().isEmpty());
        QVERIFY(messages_.isEmpty());

        click(portButton(*window_));
        QVERIFY(!window_->state().portOpen);
        QCOMPARE(portButton(*window_)->text(), QStringLiteral("Turn on Port"));
        QCOMPARE(portButton(*window_)->toolTip(), QString());
    }

    void clicksReachTheSwitcherByteForByte() {
        startSim();
        connectAndWaitForStatus();
        if (QTest::currentTestFailed()) {
            return;
        }
        std::vector<std::string> expected = probes();

        click(window_->routingPage(0)->radio(0, 3)); // output 1 <- input 4
        expected.emplace_back("\r\nSET OUT1  VS IN4 \r\n");
        QTRY_COMPARE_WITH_TIMEOUT(window_->routingPage(0)->outputSelection(0), 3, kTimeoutMs);

        showTab(*window_, AudioTab);
        click(window_->audioPage()->muteRadio(7));
        expected.emplace_back(std::string(mc::audioCommand(7, mc::AudioState::Mute)->bytes()));
        QTRY_VERIFY_WITH_TIMEOUT(sim_->receivedLines().size() == expected.size(), kTimeoutMs);

        showTab(*window_, EdidTab);
        auto* apply = window_->edidPage()->findChild<QPushButton*>(QStringLiteral("applyIn3"));
        window_->edidPage()->findChild<mc::ChoiceBox*>(QStringLiteral("inputEdid3"))->setCurrentIndex(5);
        click(apply);
        QTRY_VERIFY_WITH_TIMEOUT(sim_->receivedLines().size() == expected.size() + 1, kTimeoutMs);
        expected.push_back(sim_->receivedLines().back()); // its bytes are the EDID page tests' matter

        showTab(*window_, IpSettingsTab);
        control<QLineEdit>("tcpPortEdit")->setText(QStringLiteral("4001"));
        mc::NetworkSettings settings;
        settings.dhcp = control<QCheckBox>("dhcpBox")->isChecked();
        settings.host = control<mc::IpAddressEdit>("hostAddress")->address();
        settings.netMask = control<mc::IpAddressEdit>("netMask")->address();
        settings.router = control<mc::IpAddressEdit>("routerAddress")->address();
        settings.tcpPort = "4001";
        const std::string block(mc::networkSettingsCommand(settings)->bytes());
        click(control<QPushButton>("saveButton"));
        QTRY_VERIFY_WITH_TIMEOUT(sim_->receivedLines().size() > expected.size(), kTimeoutMs);
        QTest::qWait(200); // the whole block
        std::string received;
        const auto lines = sim_->receivedLines();
        for (std::size_t i = expected.size(); i < lines.size(); ++i) {
            received += lines[i];
        }
        QCOMPARE(visible(received), visible(block));
        QCOMPARE(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<long>(expected.size())), expected);
        QVERIFY(messages_.isEmpty());
    }

    void edidReadBackOverTheNetworkSavesTheDisplaysBytes() {
        startSim();
        connectAndWaitForStatus();
        if (QTest::currentTestFailed()) {
            return;
        }
        showTab(*window_, EdidTab);
        window_->edidPage()->findChild<mc::ChoiceBox*>(QStringLiteral("readPortSelector"))->setCurrentIndex(1);
        click(window_->edidPage()->findChild<QPushButton*>(QStringLiteral("readButton")));
        QTRY_COMPARE_WITH_TIMEOUT(messages_, QStringList{QStringLiteral("Save to file: Matrix_EDID_out2_00.bin")},
                                  kTimeoutMs);
        QFile saved(env_->filePath(QStringLiteral("Matrix_EDID_out2_00.bin")));
        QFile display(QStringLiteral(MC_SIM_DATA_DIR "/042-panasonic-meia296.bin"));
        QVERIFY(saved.open(QIODevice::ReadOnly) && display.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), display.readAll());
    }

    // The emulator drops the connection once it has 40 bytes: inside the
    // first command after the status query.
    void farEndCloseMidLineIsAPortErrorAndThePortButtonReconnects() {
        startSim("hangup", 40);
        connectAndWaitForStatus();
        if (QTest::currentTestFailed()) {
            return;
        }
        click(window_->routingPage(0)->radio(0, 3));
        click(window_->routingPage(0)->radio(1, 3));
        QTRY_COMPARE_WITH_TIMEOUT(portButton(*window_)->text(), QStringLiteral("Open port"), kTimeoutMs);
        QVERIFY(!window_->state().portOpen);
        QCOMPARE(portIconState(*window_), QStringLiteral("Port closed"));
        QCOMPARE(portButton(*window_)->toolTip(), QString());
        QVERIFY2(messages_.isEmpty(), "a lost link closes as a serial hang-up does, without a message");

        // Usable afterwards: the button connects again and the status comes.
        sim_.reset();
        startSim();
        window_->connectOverNetwork({"127.0.0.1", sim_->tcpPort()});
        QTRY_COMPARE_WITH_TIMEOUT(sim_->sentLines().size(), kStatusLines, kTimeoutMs);
        QCOMPARE(portButton(*window_)->text(), QStringLiteral("Close Port"));
    }

    void aResetIsAPortErrorAndTheWindowStaysUsable() {
        TcpPeer peer;
        QVERIFY(peer.listening());
        window_->connectOverNetwork({"127.0.0.1", peer.port()});
        QVERIFY(peer.accept(5s));
        QCOMPARE(receiveWhileTheWindowRuns(peer, 11), std::string(kProbe));
        QVERIFY(peer.send("OUT1 VS IN"));
        peer.closeClient(true);
        QTRY_COMPARE_WITH_TIMEOUT(portButton(*window_)->text(), QStringLiteral("Open port"), kTimeoutMs);
        QVERIFY(messages_.isEmpty());

        click(portButton(*window_)); // the network link again
        QVERIFY(peer.accept(5s));
        QCOMPARE(receiveWhileTheWindowRuns(peer, 11), std::string(kProbe));
        QCOMPARE(portButton(*window_)->text(), QStringLiteral("Close Port"));
    }

    void refusedAndUnresolvableConnectsSayWhyWithinTheBound() {
        const std::uint16_t port = closedLoopbackPort();
        window_->connectOverNetwork({"127.0.0.1", port});
        QVERIFY(window_->state().portOpen); // until the worker's connect fails
        QVERIFY(waitForConnectMessage(QStringLiteral("Cannot connect to host 127.0.0.1, TCP port %1:\nconnect "
                                                     "127.0.0.1:%1: Connection refused")
                                          .arg(port)) < 3500ms);
        QVERIFY(!window_->state().portOpen);

        messages_.clear();
        window_->connectOverNetwork({"nosuch.invalid", 5000});
        QVERIFY(waitForConnectMessage(QStringLiteral("Cannot connect to host nosuch.invalid, TCP port 5000:\n"
                                                     "resolve nosuch.invalid: ")) < 3500ms);
    }

    // The program itself: --connect HOST:PORT connects at start; what is no
    // TCP address is refused before any window opens.
    void theProgramConnectsAtStartWithConnect() {
        TcpPeer peer;
        QVERIFY(peer.listening());
        const QString program = qEnvironmentVariable("MC_BUILD_DIR") + QStringLiteral("/src/matrix-console");
        QProcess console;
        console.setProgram(program);
        console.setArguments({QStringLiteral("--connect"), QStringLiteral("127.0.0.1:%1").arg(peer.port())});
        console.setWorkingDirectory(env_->filePath(QString()));
        console.start();
        QVERIFY2(console.waitForStarted(5000), qPrintable(program));
        const bool accepted = peer.accept(10s);
        const std::string query = accepted ? peer.receive(11, 5s) : std::string();
        console.terminate();
        console.waitForFinished(5000);
        QVERIFY(accepted);
        QCOMPARE(query, std::string(kProbe));

        for (const char* bad : {"COM3", "localhost", "h:0"}) {
            QProcess refused;
            refused.start(program, {QStringLiteral("--connect"), QString::fromLatin1(bad)});
            QVERIFY(refused.waitForFinished(10000));
            QCOMPARE(refused.exitCode(), 2);
            QVERIFY2(refused.readAllStandardError().startsWith("matrix-console: --connect"), bad);
        }
    }

    void aConnectThatNeverCompletesGivesUpWhileTheWindowKeepsRunning() {
        FullBacklogListener listener;
        if (!listener.ready()) {
            QSKIP("this system completes every loopback connect");
        }
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(20);
        window_->connectOverNetwork({"127.0.0.1", listener.port()});
        const auto took = waitForConnectMessage(
            QStringLiteral("Cannot connect to host 127.0.0.1, TCP port %1:\nconnect 127.0.0.1:%1: timed out after 3 s")
                .arg(listener.port()));
        QVERIFY2(took >= 2500ms && took < 4500ms, std::to_string(took.count()).c_str());
        // The window thread ran all along: the timer fired at most a few
        // periods apart during the attempt.
        QVERIFY2(ticks >= took.count() / 20 / 2, (std::to_string(ticks) + " ticks").c_str());
    }
};

QTEST_MAIN(NetworkE2eTest)
#include "network_e2e_test.moc"
