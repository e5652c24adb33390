// The pages inside the real console window, with a pseudo-terminal standing
// by as COM1: what their controls send must go through the console's sender,
// which drops everything while the port is closed.
#include "pages/audio_page.h"
#include "pages/ip_settings_page.h"
#include "pages/routing_page.h"
#include "support/pty_peer.h"
#include "widgets/ip_address_edit.h"
#include "window/console_window.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QtTest>

using mc::ConsoleWindow;
using mc::IpSettingsPage;
using namespace std::chrono_literals;

class ConsolePagesTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<mc::test::PortDirectory> ports_;
    std::unique_ptr<mc::test::PtyPeer> peer_;

    static QTabWidget* tabs(ConsoleWindow& w) { return w.findChild<QTabWidget*>(QStringLiteral("pageTabs")); }

    static QPushButton* saveButton(ConsoleWindow& w) {
        return w.ipSettingsPage()->findChild<QPushButton*>(QStringLiteral("saveButton"));
    }

private slots:
    void initTestCase() {
        ports_ = std::make_unique<mc::test::PortDirectory>();
        ports_->exportToEnvironment();
        peer_ = mc::test::PtyPeer::create();
        QVERIFY(peer_);
        QVERIFY(peer_->linkAs(ports_->path(), 1));
    }

    void withThePortClosedNoClickReachesTheLine() {
        ConsoleWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!w.state().portOpen);

        QTest::mouseClick(w.routingPage(0)->radio(0, 0), Qt::LeftButton);
        tabs(w)->setCurrentIndex(1);
        QTest::mouseClick(w.routingPage(1)->radio(1, 15), Qt::LeftButton);
        tabs(w)->setCurrentIndex(4);
        QTest::mouseClick(w.audioPage()->muteRadio(1), Qt::LeftButton);
        tabs(w)->setCurrentIndex(3);
        QTest::mouseClick(saveButton(w), Qt::LeftButton);

        QCOMPARE(QString::fromStdString(peer_->readAll(100ms, 400ms)), QString());
        // The clicked controls keep what the operator chose.
        QVERIFY(w.routingPage(0)->radio(0, 0)->isChecked());
        QVERIFY(w.routingPage(1)->radio(1, 15)->isChecked());
        QVERIFY(w.audioPage()->muteRadio(1)->isChecked());
        QCOMPARE(w.routingPage(0)->outputSelection(0), std::optional<int>());
    }

    void enterOnTheIpPageLeavesTheConsoleOpen() {
        ConsoleWindow w;
        bool finished = false;
        connect(&w, &QDialog::finished, this, [&finished] { finished = true; });
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        tabs(w)->setCurrentIndex(3);
        IpSettingsPage* page = w.ipSettingsPage();
        auto* tcpPort = page->findChild<QLineEdit*>(QStringLiteral("tcpPortEdit"));
        // Were Enter to save, the hidden word would unlock the MAC edit.
        QTest::keyClicks(tcpPort, QStringLiteral("qzvk"));
        QList<QWidget*> fields = {tcpPort, saveButton(w)};
        for (const char* name : {"hostAddress", "netMask", "routerAddress"}) {
            fields << page->findChild<mc::IpAddressEdit*>(QString::fromLatin1(name))->octetField(0);
        }
        for (QWidget* field : fields) {
            field->setFocus();
            QTest::keyClick(field, Qt::Key_Return);
            QTest::keyClick(field, Qt::Key_Enter);
        }
        QVERIFY(!finished);
        QVERIFY(w.isVisible());
        QVERIFY(!w.ipSettingsPage()->macUnlocked());
    }

    void cleanupTestCase() {
        peer_.reset();
        ports_.reset();
    }
};

QTEST_MAIN(ConsolePagesTest)
#include "console_pages_test.moc"
