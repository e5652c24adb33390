// The IP settings and audio pages in the real console window, read at the far
// end of the line: "Save Setting" goes out as one block, exactly; an audio
// click as one 21-byte command.
#include "window/console_window.h"
#include "widgets/message_box.h"
#include "pages/audio_page.h"
#include "widgets/ip_address_edit.h"
#include "pages/ip_settings_page.h"
#include "support/console_driver.h"
#include "support/pty_peer.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QtTest>

using mc::ConsoleWindow;
using mc::IpAddressEdit;
using mc::test::PtyPeer;
using namespace std::chrono_literals;
using namespace mc::test;

class SettingsWireTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ConsoleTestEnvironment> env_;
    std::unique_ptr<PtyPeer> com1_;
    std::unique_ptr<ConsoleWindow> window_;
    QStringList messages_;

    template <typename T> T* ipControl(const char* name) const {
        return window_->ipSettingsPage()->findChild<T*>(QString::fromLatin1(name));
    }

    // Replaces a text field's contents by typing, as the operator does.
    static void retype(QLineEdit* edit, const QString& text) {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }

    // Digits and dots into the first octet field; the fields advance on their own.
    void typeAddress(const char* name, const QString& text) const {
        auto* edit = ipControl<IpAddressEdit>(name);
        for (int i = 0; i < IpAddressEdit::kOctets; ++i) {
            edit->octetField(i)->clear();
        }
        edit->octetField(0)->setFocus();
        for (const QChar c : text) {
            QTest::keyClick(edit->focusWidget(), c.toLatin1());
        }
    }

    void setDhcpBox(bool on) const {
        auto* box = ipControl<QCheckBox>("dhcpBox");
        if (box->isChecked() != on) {
            click(box);
        }
        QCOMPARE(box->isChecked(), on);
    }

    void save() const { click(ipControl<QPushButton>("saveButton")); }

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

    void saveWithDhcpOnSendsDhcpAndTcpPort() {
        showTab(*window_, IpSettingsTab);
        setDhcpBox(true);
        retype(ipControl<QLineEdit>("tcpPortEdit"), QStringLiteral("5000"));
        save();
        const std::string expected = "\r\nSET DHCP 1\r\nSET TIP 5000\r\n";
        QCOMPARE(visible(receive(*com1_, expected.size())), visible(expected));
    }

    void saveWithDhcpOffSendsTheAddressesInOneBlock() {
        showTab(*window_, IpSettingsTab);
        // On and off again: the address fields are back in use.
        setDhcpBox(true);
        setDhcpBox(false);
        typeAddress("hostAddress", QStringLiteral("192.168.1.100"));
        typeAddress("netMask", QStringLiteral("255.255.255.0"));
        typeAddress("routerAddress", QStringLiteral("192.168.1.1"));
        retype(ipControl<QLineEdit>("tcpPortEdit"), QStringLiteral("8000"));
        save();
        const std::string expected = "\r\nSET DHCP 0\r\n"
                                     "SET HIP 192.168.001.100\r\n"
                                     "SET NMK 255.255.255.000\r\n"
                                     "SET RIP192.168.001.001\r\n"
                                     "SET TIP 8000\r\n";
        QCOMPARE(visible(receive(*com1_, expected.size())), visible(expected));
    }

    void audioClickSendsItsCommand_data() {
        QTest::addColumn<int>("output");
        QTest::addColumn<bool>("mute");
        QTest::addColumn<QByteArray>("bytes");
        const auto hex = [](const char* spaced) { return QByteArray::fromStdString(fromHex(spaced)); };
        QTest::newRow("Mute on output 1")
            << 1 << true << hex("0D 0A 53 45 54 20 4F 55 54 31 20 20 45 58 41 20 44 49 53 0D 0A");
        QTest::newRow("On on output 12") << 12 << false
                                         << hex("0D 0A 53 45 54 20 4F 55 54 31 32 20 45 58 41 20 20 45 4E 0D 0A");
        // Already checked at start: the click still sends.
        QTest::newRow("On on output 1") << 1 << false
                                        << hex("0D 0A 53 45 54 20 4F 55 54 31 20 20 45 58 41 20 20 45 4E 0D 0A");
    }

    void audioClickSendsItsCommand() {
        QFETCH(int, output);
        QFETCH(bool, mute);
        QFETCH(QByteArray, bytes);
        showTab(*window_, AudioTab);
        mc::AudioPage* page = window_->audioPage();
        QRadioButton* radio = mute ? page->muteRadio(output) : page->onRadio(output);
        for (int round = 0; round < 2; ++round) {
            click(radio);
            QCOMPARE(visible(receive(*com1_, 21)), visible(bytes.toStdString()));
            QVERIFY(radio->isChecked());
        }
    }

    // Last: the hidden word unlocks the MAC address for the rest of the run.
    void hiddenWordSendsNothingThenEverySaveEndsWithTheMac() {
        showTab(*window_, IpSettingsTab);
        auto* tcpPort = ipControl<QLineEdit>("tcpPortEdit");
        auto* mac = ipControl<QLineEdit>("macEdit");
        QVERIFY(!mac->isEnabled());
        retype(tcpPort, QStringLiteral("qzvk"));
        save();
        QCOMPARE(visible(com1_->readAll(100ms, 500ms)), QByteArray());
        QVERIFY(mac->isEnabled());

        setDhcpBox(true);
        retype(tcpPort, QStringLiteral("23"));
        retype(mac, QStringLiteral("00:11:22:AA:BB:CC"));
        save();
        const std::string expected = "\r\nSET DHCP 1\r\nSET TIP 23\r\nSET MAC 00:11:22:AA:BB:CC\r\n";
        QCOMPARE(visible(receive(*com1_, expected.size())), visible(expected));
    }
};

QTEST_MAIN(SettingsWireTest)
#include "settings_wire_test.moc"
