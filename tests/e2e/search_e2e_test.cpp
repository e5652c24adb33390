// "Search Machine" against emulator processes, and the status the switcher
// answers the search's probe with, shown on every page.
#include "e2e/e2e_support.h"
#include "pages/audio_page.h"
#include "pages/edid_page.h"
#include "pages/ip_settings_page.h"
#include "pages/routing_page.h"
#include "support/console_driver.h"
#include "widgets/choice_box.h"
#include "widgets/ip_address_edit.h"
#include "widgets/message_box.h"
#include "window/console_window.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRadioButton>
#include <QtTest>
#include <algorithm>

using mc::ConsoleWindow;
using mc::IpAddressEdit;
using namespace std::chrono_literals;
using namespace mc::test;

namespace {

constexpr int kTimeoutMs = 5000;
const std::string kProbe = "\r\nGET STA\r\n";

bool hasInfo(const SwitcherProcess& sim, const std::string& text) {
    const auto log = sim.log();
    return std::any_of(log.begin(), log.end(),
                       [&](const SwitcherLogRecord& r) { return r.kind == "info" && r.detail == text; });
}

QString shownAddress(const IpAddressEdit* edit) {
    QStringList octets;
    for (int i = 0; i < IpAddressEdit::kOctets; ++i) {
        octets << edit->octetField(i)->text();
    }
    return octets.join(QLatin1Char('.'));
}

} // namespace

class SearchE2eTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ConsoleTestEnvironment> env_;
    QStringList messages_;

    template <typename T> static T* ipControl(const ConsoleWindow& w, const char* name) {
        return w.ipSettingsPage()->findChild<T*>(QString::fromLatin1(name));
    }

    // Types into a field as the operator does, replacing what it held.
    static void retype(QLineEdit* edit, const QString& text) {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }

    static void typeAddress(const ConsoleWindow& w, const char* name, const QString& text) {
        auto* edit = ipControl<IpAddressEdit>(w, name);
        edit->octetField(0)->setFocus();
        for (const QChar c : text) {
            QTest::keyClick(edit->focusWidget(), c.toLatin1());
        }
    }

    static void setDhcpBox(const ConsoleWindow& w, bool on) {
        auto* box = ipControl<QCheckBox>(w, "dhcpBox");
        if (box->isChecked() != on) {
            click(box);
        }
    }

    static void applyEdid(const ConsoleWindow& w, int input, int item) {
        auto* box = w.edidPage()->findChild<mc::ChoiceBox*>(QStringLiteral("inputEdid%1").arg(input));
        box->setCurrentIndex(item);
        click(w.edidPage()->findChild<QPushButton*>(QStringLiteral("applyIn%1").arg(input)));
    }

    // One console session that leaves the switcher unlike its defaults in
    // every respect the status reports.
    void changeTheSwitcher(const SwitcherProcess& sim) {
        ConsoleWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        click(portButton(w));
        QVERIFY(w.state().portOpen);
        std::size_t lines = 0;
        // Each command is taken before the next click: a reply still unread
        // when the console writes again is purged.
        const auto taken = [&](std::size_t more) { return sim.waitForReceivedLines(lines += more, 5s); };

        click(w.routingPage(0)->radio(2, 6)); // output 3 <- input 7
        QVERIFY(taken(1));
        showTab(w, SecondRoutingTab);
        click(w.routingPage(1)->radio(1, 15)); // output 10 <- input 16
        QVERIFY(taken(1));

        showTab(w, AudioTab);
        click(w.audioPage()->muteRadio(5));
        QVERIFY(taken(1));
        click(w.audioPage()->muteRadio(16));
        QVERIFY(taken(1));

        showTab(w, EdidTab);
        applyEdid(w, 5, 34); // "From Out2"
        QVERIFY(taken(1));
        applyEdid(w, 12, 31); // "User EDID2"
        QVERIFY(taken(1));

        showTab(w, IpSettingsTab);
        setDhcpBox(w, false);
        typeAddress(w, "hostAddress", QStringLiteral("10.20.30.40"));
        typeAddress(w, "netMask", QStringLiteral("255.255.0.0"));
        typeAddress(w, "routerAddress", QStringLiteral("10.20.0.1"));
        auto* tcpPort = ipControl<QLineEdit>(w, "tcpPortEdit");
        retype(tcpPort, QStringLiteral("8080"));
        click(ipControl<QPushButton>(w, "saveButton"));
        QVERIFY(taken(5)); // DHCP, HIP, NMK, RIP, TIP
        // Unlock the MAC, then turn DHCP on: the addresses stay as set.
        retype(tcpPort, QStringLiteral("qzvk"));
        click(ipControl<QPushButton>(w, "saveButton"));
        setDhcpBox(w, true);
        retype(tcpPort, QStringLiteral("8080"));
        retype(ipControl<QLineEdit>(w, "macEdit"), QStringLiteral("02:00:5E:10:20:30"));
        click(ipControl<QPushButton>(w, "saveButton"));
        QVERIFY(taken(3)); // DHCP, TIP, MAC
        QCOMPARE(sim.receivedLines().size(), lines);
    }

private slots:
    void init() {
        env_ = std::make_unique<ConsoleTestEnvironment>(messages_);
        QVERIFY(env_->isValid());
    }

    void cleanup() { env_.reset(); }

    void searchFindsTheSwitcherBehindTwoPortsThatDoNotAnswer_data() {
        QTest::addColumn<QString>("firstMode");
        QTest::addColumn<QString>("secondMode");
        QTest::newRow("two silent") << QStringLiteral("silent") << QStringLiteral("silent");
        // Noise without a line feed is no answer.
        QTest::newRow("noise, then silent") << QStringLiteral("garbage") << QStringLiteral("silent");
    }

    void searchFindsTheSwitcherBehindTwoPortsThatDoNotAnswer() {
        QFETCH(QString, firstMode);
        QFETCH(QString, secondMode);
        MC_START_SWITCHER(com1, env_->ports(), 1, firstMode.toStdString());
        MC_START_SWITCHER(com2, env_->ports(), 2, secondMode.toStdString());
        // COM3 and COM4 do not open and cost no waiting.
        MC_START_SWITCHER(com5, env_->ports(), 5);

        ConsoleWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QElapsedTimer clock;
        clock.start();
        click(searchButton(w));
        QCOMPARE(statusText(w), QStringLiteral("Please wait....."));
        QTRY_VERIFY_WITH_TIMEOUT(w.state().portOpen, kTimeoutMs);
        const qint64 elapsed = clock.elapsed();

        // 500 ms on COM1, 400 ms on COM2, then COM5 answers at once.
        QVERIFY2(elapsed >= 800 && elapsed < 3000, qPrintable(QString::number(elapsed)));
        QCOMPARE(comSelector(w)->currentText(), QStringLiteral("COM5"));
        QCOMPARE(portButton(w)->text(), QStringLiteral("Close Port"));
        QCOMPARE(portIconState(w), QStringLiteral("Port open"));
        QCOMPARE(statusText(w), QStringLiteral(" "));
        QVERIFY(!w.state().searchInProgress);
        QCOMPARE(w.channel().linkNumber(), 5);
        QVERIFY(messages_.isEmpty());

        QVERIFY(com5->waitForReceivedLines(1, 5s));
        for (const SwitcherProcess* sim : {com1.get(), com2.get(), com5.get()}) {
            QCOMPARE(sim->receivedLines(), std::vector<std::string>{kProbe});
        }
        QVERIFY(com2->sentLines().empty());
        // The console let go of the two ports it gave up on.
        QTRY_VERIFY_WITH_TIMEOUT(hasInfo(*com1, "console closed the line"), kTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(hasInfo(*com2, "console closed the line"), kTimeoutMs);
        QVERIFY(!hasInfo(*com5, "console closed the line"));
    }

    void statusAnsweringTheSearchFillsEveryPage() {
        MC_START_SWITCHER(sim, env_->ports(), 1);
        changeTheSwitcher(*sim);
        if (QTest::currentTestFailed()) {
            return;
        }

        ConsoleWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        click(searchButton(w));
        QTRY_VERIFY_WITH_TIMEOUT(w.state().portOpen, kTimeoutMs);
        // The status ends with output 16's audio, which redraws the audio page.
        QTRY_VERIFY_WITH_TIMEOUT(w.audioPage()->muteRadio(16)->isChecked(), kTimeoutMs);
        QCOMPARE(sim->receivedLines().back(), kProbe);

        for (int output = 1; output <= 16; ++output) {
            const int input = output == 3 ? 7 : output == 10 ? 16 : output;
            const mc::RoutingPage* page = w.routingPage(output <= 8 ? 0 : 1);
            const int row = (output - 1) % 8;
            QCOMPARE(page->outputSelection(row), input - 1);
            for (int column = 0; column < 16; ++column) {
                QCOMPARE(page->radio(row, column)->isChecked(), column == input - 1);
            }
            const bool mute = output == 5 || output == 16;
            QCOMPARE(w.audioPage()->muteRadio(output)->isChecked(), mute);
            QCOMPARE(w.audioPage()->onRadio(output)->isChecked(), !mute);
        }

        for (int input = 1; input <= 16; ++input) {
            const int choice = input == 5 ? 34 : input == 12 ? 31 : input - 1;
            QCOMPARE(w.edidPage()->inputEdidChoice(input), choice);
        }
        const auto* in5 = w.edidPage()->findChild<mc::ChoiceBox*>(QStringLiteral("inputEdid5"));
        QCOMPARE(in5->currentText(), QStringLiteral("From Out2"));

        QCOMPARE(shownAddress(ipControl<IpAddressEdit>(w, "hostAddress")), QStringLiteral("10.20.30.40"));
        QCOMPARE(shownAddress(ipControl<IpAddressEdit>(w, "netMask")), QStringLiteral("255.255.0.0"));
        QCOMPARE(shownAddress(ipControl<IpAddressEdit>(w, "routerAddress")), QStringLiteral("10.20.0.1"));
        QCOMPARE(ipControl<QLineEdit>(w, "tcpPortEdit")->text(), QStringLiteral("8080"));
        QCOMPARE(ipControl<QLineEdit>(w, "macEdit")->text(), QStringLiteral("02:00:5E:10:20:30"));
        QVERIFY(ipControl<QCheckBox>(w, "dhcpBox")->isChecked());
        for (const char* name : {"hostAddress", "netMask", "routerAddress"}) {
            QVERIFY2(!ipControl<IpAddressEdit>(w, name)->isEnabled(), name);
        }
        QVERIFY(messages_.isEmpty());
    }
};

QTEST_MAIN(SearchE2eTest)
#include "search_e2e_test.moc"
