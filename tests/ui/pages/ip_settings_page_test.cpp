#include "pages/ip_settings_page.h"
#include "support/recording_sender.h"
#include "widgets/ip_address_edit.h"

#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtTest>

using mc::IpAddressEdit;
using mc::IpSettingsPage;
using mc::test::RecordingSender;

namespace {

template <typename T> T* child(const QWidget& page, const char* name) {
    return page.findChild<T*>(QString::fromLatin1(name));
}

QCheckBox* dhcpBox(const IpSettingsPage& page) {
    return child<QCheckBox>(page, "dhcpBox");
}
IpAddressEdit* hostAddress(const IpSettingsPage& page) {
    return child<IpAddressEdit>(page, "hostAddress");
}
IpAddressEdit* netMask(const IpSettingsPage& page) {
    return child<IpAddressEdit>(page, "netMask");
}
IpAddressEdit* routerAddress(const IpSettingsPage& page) {
    return child<IpAddressEdit>(page, "routerAddress");
}
QLineEdit* macEdit(const IpSettingsPage& page) {
    return child<QLineEdit>(page, "macEdit");
}
QLineEdit* tcpPortEdit(const IpSettingsPage& page) {
    return child<QLineEdit>(page, "tcpPortEdit");
}
QPushButton* saveButton(const IpSettingsPage& page) {
    return child<QPushButton>(page, "saveButton");
}

QString shownAddress(const IpAddressEdit* edit) {
    QStringList octets;
    for (int i = 0; i < IpAddressEdit::kOctets; ++i) {
        octets << edit->octetField(i)->text();
    }
    return octets.join(QLatin1Char('.'));
}

// Types an address the way an operator does: digits and dots into the first
// field, letting the fields advance on their own.
void typeAddress(IpAddressEdit* edit, const QString& text) {
    edit->octetField(0)->setFocus();
    for (const QChar c : text) {
        QTest::keyClick(edit->focusWidget(), c.toLatin1());
    }
}

QByteArray onlySent(const RecordingSender& sender) {
    if (sender.sent.size() != 1) {
        return QByteArray("sent ") + QByteArray::number(qsizetype(sender.sent.size())) + " commands";
    }
    return QByteArray::fromStdString(sender.sent.front());
}

// The page in a dialog with a default button, as in the console: Enter that
// reached the dialog would click that button and close the dialog.
struct PageInDialog {
    explicit PageInDialog(RecordingSender& sender) {
        auto* layout = new QVBoxLayout(&dialog);
        page = new IpSettingsPage(sender);
        layout->addWidget(page);
        auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
        ok->setDefault(true);
        QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
        layout->addWidget(ok);
        QObject::connect(&dialog, &QDialog::finished, [this] { finished = true; });
    }

    QDialog dialog;
    IpSettingsPage* page = nullptr;
    bool finished = false;
};

} // namespace

class IpSettingsPageTest : public QObject {
    Q_OBJECT

private slots:
    void startsWithItsTextsAndStates() {
        RecordingSender sender;
        IpSettingsPage page(sender);
        QCOMPARE(dhcpBox(page)->text(), QStringLiteral("DHCP "));
        QVERIFY(!dhcpBox(page)->isChecked());
        QCOMPARE(child<QGroupBox>(page, "ipAddressGroup")->title(), QStringLiteral("ip address setting"));
        QCOMPARE(saveButton(page)->text(), QStringLiteral("Save Setting"));
        QVERIFY(!macEdit(page)->isEnabled());
        QVERIFY(tcpPortEdit(page)->isEnabled());
        QCOMPARE(tcpPortEdit(page)->maxLength(), 4);
        for (auto* edit : {hostAddress(page), netMask(page), routerAddress(page)}) {
            QVERIFY(edit->isEnabled());
            QCOMPARE(shownAddress(edit), QStringLiteral("..."));
        }
        QVERIFY(!page.dhcp());
        QVERIFY(page.tcpPortText().empty());
        QVERIFY(page.macText().empty());
        QVERIFY(!page.macUnlocked());
    }

    void everyFieldHasAnAccessibleName() {
        RecordingSender sender;
        IpSettingsPage page(sender);
        const struct {
            const char* label;
            const char* text;
            QWidget* buddy;
        } labels[] = {{"hostAddressLabel", "Host IP Address:", hostAddress(page)},
                      {"netMaskLabel", "Net Mask:", netMask(page)},
                      {"routerAddressLabel", "Router IP Address:", routerAddress(page)},
                      {"macLabel", "MAC Address(hex):", macEdit(page)},
                      {"tcpPortLabel", "TCP Port:", tcpPortEdit(page)}};
        for (const auto& row : labels) {
            auto* label = child<QLabel>(page, row.label);
            QVERIFY2(label, row.label);
            QCOMPARE(label->text(), QString::fromLatin1(row.text));
            QCOMPARE(label->buddy(), row.buddy);
        }
        for (int i = 0; i < IpAddressEdit::kOctets; ++i) {
            QCOMPARE(hostAddress(page)->octetField(i)->accessibleName(),
                     QStringLiteral("Host IP Address: octet %1").arg(i + 1));
            QCOMPARE(routerAddress(page)->octetField(i)->accessibleName(),
                     QStringLiteral("Router IP Address: octet %1").arg(i + 1));
        }
    }

    void dhcpBoxDisablesAndEnablesTheAddressControls() {
        RecordingSender sender;
        IpSettingsPage page(sender);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QTest::mouseClick(dhcpBox(page), Qt::LeftButton);
        QVERIFY(page.dhcp());
        for (auto* edit : {hostAddress(page), netMask(page), routerAddress(page)}) {
            QVERIFY(!edit->isEnabled());
        }
        QVERIFY(tcpPortEdit(page)->isEnabled());
        QTest::mouseClick(dhcpBox(page), Qt::LeftButton);
        QVERIFY(!page.dhcp());
        for (auto* edit : {hostAddress(page), netMask(page), routerAddress(page)}) {
            QVERIFY(edit->isEnabled());
        }
        QCOMPARE(sender.calls, 0);
    }

    void saveWithDhcpOnSendsNoAddresses() {
        RecordingSender sender;
        IpSettingsPage page(sender);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        page.showHostAddress(0x0A000001);
        QTest::mouseClick(dhcpBox(page), Qt::LeftButton);
        QTest::keyClicks(tcpPortEdit(page), QStringLiteral("5000"));
        QTest::mouseClick(saveButton(page), Qt::LeftButton);
        QCOMPARE(onlySent(sender), QByteArray("\r\nSET DHCP 1\r\nSET TIP 5000\r\n"));
        QCOMPARE(page.tcpPortText(), std::string("5000"));
    }

    void saveWithDhcpOffSendsTheTypedAddresses() {
        RecordingSender sender;
        IpSettingsPage page(sender);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        typeAddress(hostAddress(page), QStringLiteral("192.168.1.100"));
        typeAddress(netMask(page), QStringLiteral("255.255.255.0"));
        typeAddress(routerAddress(page), QStringLiteral("192.168.1.1"));
        QCOMPARE(shownAddress(hostAddress(page)), QStringLiteral("192.168.1.100"));
        QTest::keyClicks(tcpPortEdit(page), QStringLiteral("8000"));
        saveButton(page)->click();
        QCOMPARE(onlySent(sender), QByteArray("\r\nSET DHCP 0\r\n"
                                              "SET HIP 192.168.001.100\r\n"
                                              "SET NMK 255.255.255.000\r\n"
                                              "SET RIP192.168.001.001\r\n"
                                              "SET TIP 8000\r\n"));
    }

    void blankOctetsReadAsZeroAndOctetsStayWithinRange() {
        RecordingSender sender;
        IpSettingsPage page(sender);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QLineEdit* first = hostAddress(page)->octetField(0);
        QTest::keyClicks(first, QStringLiteral("3x0"));
        QCOMPARE(first->text(), QStringLiteral("30"));
        QTest::keyClick(first, Qt::Key_0); // 300 is refused
        QCOMPARE(first->text(), QStringLiteral("30"));
        QLineEdit* last = hostAddress(page)->octetField(3);
        QTest::keyClicks(last, QStringLiteral("255"));
        saveButton(page)->click();
        QVERIFY(onlySent(sender).contains("SET HIP 030.000.000.255\r\nSET NMK 000.000.000.000\r\n"
                                          "SET RIP000.000.000.000\r\nSET TIP \r\n"));
    }

    void saveWithThePortClosedSendsNothing() {
        RecordingSender sender;
        sender.portOpen = false;
        IpSettingsPage page(sender);
        saveButton(page)->click();
        QCOMPARE(sender.calls, 1);
        QVERIFY(sender.sent.empty());
    }

    void parserSettersShowAtTheirTimes() {
        RecordingSender sender;
        IpSettingsPage page(sender);
        page.showHostAddress(0xC0A80064);
        page.showNetMask(0xFFFFFF00);
        page.showRouterAddress(0x2C000001);
        QCOMPARE(shownAddress(hostAddress(page)), QStringLiteral("192.168.0.100"));
        QCOMPARE(shownAddress(netMask(page)), QStringLiteral("255.255.255.0"));
        QCOMPARE(shownAddress(routerAddress(page)), QStringLiteral("44.0.0.1"));

        // Stored only: the edits change at the next refresh.
        page.setTcpPortText("5000");
        page.setMacText("00-1A-2B-3C-4D-5E");
        QCOMPARE(tcpPortEdit(page)->text(), QString());
        QCOMPARE(macEdit(page)->text(), QString());
        QCOMPARE(page.tcpPortText(), std::string("5000"));

        page.setDhcp(true);
        QVERIFY(!hostAddress(page)->isEnabled());
        QVERIFY(!netMask(page)->isEnabled());
        QVERIFY(!routerAddress(page)->isEnabled());
        QVERIFY(!dhcpBox(page)->isChecked());
        page.refresh();
        QVERIFY(dhcpBox(page)->isChecked());
        QCOMPARE(tcpPortEdit(page)->text(), QStringLiteral("5000"));
        QCOMPARE(macEdit(page)->text(), QStringLiteral("00-1A-2B-3C-4D-5E"));

        page.setDhcp(false);
        page.refresh();
        QVERIFY(!dhcpBox(page)->isChecked());
        QVERIFY(hostAddress(page)->isEnabled());
        QCOMPARE(sender.calls, 0);
    }

    void parserTextsStayOneLineAndWithinTheirFields() {
        RecordingSender sender;
        IpSettingsPage page(sender);
        // A short reply line: the MAC's fixed width runs into the line end.
        page.setMacText("00-1A-2B\r\n");
        page.setTcpPortText("80\n");
        QCOMPARE(page.macText(), std::string("00-1A-2B"));
        QCOMPARE(page.tcpPortText(), std::string("80"));
        page.setTcpPortText("123456");
        QCOMPARE(page.tcpPortText(), std::string("1234"));
        page.refresh();
        saveButton(page)->click();
        QCOMPARE(onlySent(sender).right(14), QByteArray("SET TIP 1234\r\n"));
    }

    void enterInAnyFieldNeitherSavesNorClosesTheDialog() {
        RecordingSender sender;
        PageInDialog host(sender);
        host.dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host.dialog));
        IpSettingsPage& page = *host.page;
        // Were Enter to save, the hidden word would unlock the MAC edit.
        QTest::keyClicks(tcpPortEdit(page), QStringLiteral("qzvk"));
        QList<QWidget*> fields = {dhcpBox(page), macEdit(page), tcpPortEdit(page), saveButton(page)};
        for (auto* edit : {hostAddress(page), netMask(page), routerAddress(page)}) {
            for (int i = 0; i < IpAddressEdit::kOctets; ++i) {
                fields << edit->octetField(i);
            }
        }
        for (QWidget* field : fields) {
            field->setFocus();
            for (auto key : {Qt::Key_Return, Qt::Key_Enter}) {
                QTest::keyClick(field, key);
            }
        }
        QVERIFY(!host.finished);
        QVERIFY(host.dialog.isVisible());
        QCOMPARE(sender.calls, 0);
        QVERIFY(!host.page->macUnlocked());
        QVERIFY(!macEdit(page)->isEnabled());
    }

    void hiddenWordUnlocksTheMacAndSendsNothing() {
        RecordingSender sender;
        IpSettingsPage page(sender);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QTest::keyClicks(tcpPortEdit(page), QStringLiteral("qzvk"));
        QTest::mouseClick(saveButton(page), Qt::LeftButton);
        QCOMPARE(sender.calls, 0);
        QVERIFY(macEdit(page)->isEnabled());
        QVERIFY(page.macUnlocked());
        // It stays unlocked through the redraws replies make; another
        // console's page starts locked.
        page.setDhcp(true);
        page.redrawIpSettings();
        QVERIFY(macEdit(page)->isEnabled());
        IpSettingsPage other(sender);
        QVERIFY(!macEdit(other)->isEnabled());
    }

    void afterTheUnlockEverySaveEndsWithTheMac() {
        RecordingSender sender;
        IpSettingsPage page(sender);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QTest::keyClicks(tcpPortEdit(page), QStringLiteral("qzvk"));
        saveButton(page)->click();
        tcpPortEdit(page)->clear();
        QVERIFY(macEdit(page)->isEnabled());
        QTest::mouseClick(dhcpBox(page), Qt::LeftButton);
        QTest::keyClicks(tcpPortEdit(page), QStringLiteral("23"));
        QTest::keyClicks(macEdit(page), QStringLiteral("00-1A-2B-3C-4D-5E"));
        saveButton(page)->click();
        QCOMPARE(onlySent(sender), QByteArray("\r\nSET DHCP 1\r\nSET TIP 23\r\nSET MAC 00-1A-2B-3C-4D-5E\r\n"));

        macEdit(page)->clear();
        saveButton(page)->click();
        QCOMPARE(QByteArray::fromStdString(sender.sent.back()),
                 QByteArray("\r\nSET DHCP 1\r\nSET TIP 23\r\nSET MAC \r\n"));
    }
};

QTEST_MAIN(IpSettingsPageTest)
#include "ip_settings_page_test.moc"
