// The "Connect over Network..." dialog and its place in the console window.
#include "window/console_window.h"
#include "window/network_dialog.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

using mc::NetworkDialog;

class NetworkDialogTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir config_;

    static QLineEdit* host(NetworkDialog& d) { return d.findChild<QLineEdit*>(QStringLiteral("networkHostEdit")); }
    static QSpinBox* port(NetworkDialog& d) { return d.findChild<QSpinBox*>(QStringLiteral("networkPortEdit")); }
    static QLabel* problem(NetworkDialog& d) { return d.findChild<QLabel*>(QStringLiteral("networkProblem")); }

private slots:
    void initTestCase() {
        // The remembered host and port go to the per-user configuration
        // place: here a directory of the test's own.
        QVERIFY(config_.isValid());
        qputenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit());
    }

    void init() { QFile::remove(config_.filePath(QStringLiteral("matrix-console/matrix-console.ini"))); }

    void everyControlHasAnAccessibleName() {
        NetworkDialog dialog("");
        for (QWidget* w : dialog.findChildren<QWidget*>()) {
            if (w->objectName().startsWith(QStringLiteral("qt_"))) {
                continue; // a part of a Qt control, named with it
            }
            if (qobject_cast<QLineEdit*>(w) || qobject_cast<QSpinBox*>(w) || qobject_cast<QPushButton*>(w)) {
                QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
            }
        }
    }

    void theIpSettingPortComesFirstThenTheRememberedOne() {
        {
            NetworkDialog first("");
            QCOMPARE(host(first)->text(), QString());
            QCOMPARE(port(first)->value(), 5000);
            host(first)->setText(QStringLiteral(" switcher.lan "));
            port(first)->setValue(4001);
            first.accept();
            QCOMPARE(first.result(), int(QDialog::Accepted));
            QCOMPARE(*first.address(), (mc::TcpLinkAddress{"switcher.lan", 4001}));
        }
        QVERIFY(QFile::exists(config_.filePath(QStringLiteral("matrix-console/matrix-console.ini"))));
        NetworkDialog remembered("");
        QCOMPARE(host(remembered)->text(), QStringLiteral("switcher.lan"));
        QCOMPARE(port(remembered)->value(), 4001);
        NetworkDialog fromPage("8080");
        QCOMPARE(port(fromPage)->value(), 8080);
        NetworkDialog pageNotAPort("80a");
        QCOMPARE(port(pageNotAPort)->value(), 4001);
    }

    void anIpv6LiteralIsTakenWithoutBrackets() {
        NetworkDialog dialog("");
        host(dialog)->setText(QStringLiteral("::1"));
        port(dialog)->setValue(23);
        dialog.accept();
        QCOMPARE(*dialog.address(), (mc::TcpLinkAddress{"::1", 23}));
    }

    void aBadHostIsRefusedWithItsReasonAndNothingRemembered() {
        for (const char* bad : {"", "two words", "a:b:c]"}) {
            NetworkDialog dialog("");
            dialog.show();
            host(dialog)->setText(QString::fromLatin1(bad));
            dialog.accept();
            QVERIFY2(!dialog.address(), bad);
            QVERIFY2(problem(dialog)->isVisible(), bad);
            QVERIFY2(!problem(dialog)->text().isEmpty(), bad);
        }
        QVERIFY(!NetworkDialog::lastUsed());
    }

    void theWindowOffersItBeforeAboutWithCtrlN() {
        mc::ConsoleWindow window;
        const QList<QAction*> actions = window.actions();
        const auto network = std::find_if(actions.begin(), actions.end(), [](QAction* a) {
            return a->objectName() == QStringLiteral("networkAction");
        });
        QVERIFY(network != actions.end());
        QCOMPARE((*network)->text(), QStringLiteral("Connect over &Network..."));
        QCOMPARE((*network)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
        const auto about = std::find_if(actions.begin(), actions.end(),
                                        [](QAction* a) { return a->objectName() == QStringLiteral("aboutAction"); });
        QVERIFY(network < about && std::next(network) != about); // the separator between
        QCOMPARE(window.contextMenuPolicy(), Qt::ActionsContextMenu);
    }
};

QTEST_MAIN(NetworkDialogTest)
#include "network_dialog_test.moc"
