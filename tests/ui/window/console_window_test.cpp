#include "pages/audio_page.h"
#include "pages/edid_page.h"
#include "pages/ip_settings_page.h"
#include "pages/routing_page.h"
#include "support/pty_peer.h"
#include "widgets/message_box.h"
#include "window/console_window.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

using mc::ConsoleWindow;

class ConsoleWindowTest : public QObject {
    Q_OBJECT

private:
    static QTabWidget* tabs(ConsoleWindow& w) { return w.findChild<QTabWidget*>(QStringLiteral("pageTabs")); }

    static int visiblePageCount(ConsoleWindow& w) {
        QTabWidget* t = tabs(w);
        int visible = 0;
        for (int i = 0; i < t->count(); ++i) {
            visible += t->widget(i)->isVisible() ? 1 : 0;
        }
        return visible;
    }

private slots:
    void startsOnFirstRoutingPageWithPortClosed() {
        ConsoleWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        QCOMPARE(w.windowTitle(), QStringLiteral("RUVI 2.0(18Z)Evavoz16:16 V1.0"));
        QTabWidget* t = tabs(w);
        QVERIFY(t);
        QCOMPARE(t->currentIndex(), 0);
        QCOMPARE(visiblePageCount(w), 1);
        QVERIFY(w.routingPage(0)->isVisible());

        auto* com = w.findChild<QComboBox*>(QStringLiteral("comSelector"));
        QCOMPARE(com->count(), 99);
        QCOMPARE(com->currentText(), QStringLiteral("COM1"));
        QCOMPARE(com->itemText(98), QStringLiteral("COM99"));

        QCOMPARE(w.findChild<QPushButton*>(QStringLiteral("portButton"))->text(), QStringLiteral("Turn on Port"));
        QCOMPARE(w.findChild<QPushButton*>(QStringLiteral("searchButton"))->text(), QStringLiteral("Search Machine"));
        QVERIFY(w.findChild<QLabel*>(QStringLiteral("statusLine"))->text().trimmed().isEmpty());
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("portIcon"))->accessibleDescription(),
                 QStringLiteral("Port closed"));
        QVERIFY(!w.state().portOpen);
    }

    // The tab control comes first in the control order: it has the focus at
    // start, Enter there opens no port, and Tab moves on to the port controls.
    void startsWithTheFocusOnTheTabControl() {
        mc::test::PortDirectory ports;
        ports.exportToEnvironment();
        QStringList messages;
        mc::setMessagePresenter([&messages](QWidget*, const QString& text) { messages << text; });
        {
            ConsoleWindow w;
            w.show();
            QVERIFY(QTest::qWaitForWindowActive(&w));
            QTabWidget* t = tabs(w);
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(t->tabBar()));

            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
            QVERIFY(messages.isEmpty());
            QVERIFY(!w.state().portOpen);
            QVERIFY(w.isVisible());

            // The order of the window's own controls: tabs first, then the
            // port button, the selector and the search button.
            QList<QWidget*> order;
            for (QWidget* next = t->tabBar()->nextInFocusChain(); next != t->tabBar();
                 next = next->nextInFocusChain()) {
                if (next->parentWidget() == &w && (next->focusPolicy() & Qt::TabFocus) != 0) {
                    order << next;
                }
            }
            QCOMPARE(order.value(0), static_cast<QWidget*>(w.findChild<QPushButton*>(QStringLiteral("portButton"))));
            QCOMPARE(order.value(1), static_cast<QWidget*>(w.findChild<QComboBox*>(QStringLiteral("comSelector"))));
            QCOMPARE(order.value(2), static_cast<QWidget*>(w.findChild<QPushButton*>(QStringLiteral("searchButton"))));
        }
        mc::setMessagePresenter({});
    }

    void tabsHaveTheirTextsInOrder() {
        ConsoleWindow w;
        const QStringList expected = {QStringLiteral("Matrix Out1 ~ Out8"), QStringLiteral("Matrix Out9 ~ Out16"),
                                      QStringLiteral("EDID Management"), QStringLiteral("IP Setting"),
                                      QStringLiteral("  Audio  ")};
        QTabWidget* t = tabs(w);
        QCOMPARE(t->count(), expected.size());
        for (int i = 0; i < t->count(); ++i) {
            QCOMPARE(t->tabText(i), expected[i]);
        }
        QCOMPARE(t->widget(0), w.routingPage(0));
        QCOMPARE(t->widget(1), w.routingPage(1));
        QCOMPARE(t->widget(2), static_cast<QWidget*>(w.edidPage()));
        QCOMPARE(t->widget(3), static_cast<QWidget*>(w.ipSettingsPage()));
        QCOMPARE(t->widget(4), static_cast<QWidget*>(w.audioPage()));
    }

    void everyTabShowsExactlyItsPage() {
        ConsoleWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTabWidget* t = tabs(w);
        for (int round = 0; round < 2; ++round) {
            for (int i : {0, 1, 2, 3, 4, 2, 0, 4}) {
                t->setCurrentIndex(i);
                QCOMPARE(visiblePageCount(w), 1);
                QVERIFY(t->widget(i)->isVisible());
            }
        }
    }

    void isFixedSizeWithoutMaximizeBox() {
        ConsoleWindow w;
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    }

    void aboutBoxOpensWithItsTexts() {
        ConsoleWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QAction* about = w.findChild<QAction*>(QStringLiteral("aboutAction"));
        QVERIFY(about);
        QCOMPARE(about->text(), QStringLiteral("&About 4K 8X8 matrix..."));
        QVERIFY(w.actions().contains(about));

        QString caption;
        QStringList labels;
        QTimer::singleShot(0, this, [&] {
            QWidget* box = QApplication::activeModalWidget();
            QVERIFY(box);
            caption = box->windowTitle();
            for (auto* label : box->findChildren<QLabel*>()) {
                labels << label->text();
            }
            auto* ok = box->findChild<QPushButton*>(QStringLiteral("aboutOk"));
            QVERIFY(ok);
            QCOMPARE(ok->text(), QStringLiteral("OK"));
            ok->click();
        });
        about->trigger();
        QCOMPARE(caption, QStringLiteral("About 8X8 Matrix controller"));
        QVERIFY(labels.contains(QStringLiteral("Duzare ZERIZIV Version 1.0")));
    }

    void f1OpensAboutBox() {
        ConsoleWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        bool opened = false;
        QTimer::singleShot(0, this, [&] {
            QWidget* box = QApplication::activeModalWidget();
            opened = box && box->objectName() == QStringLiteral("aboutBox");
            if (box) {
                box->close();
            }
        });
        QTest::keyClick(&w, Qt::Key_F1);
        QVERIFY(opened);
    }

    void escapeEndsTheModalLoop() {
        ConsoleWindow w;
        QTimer::singleShot(0, this, [&] { QTest::keyClick(&w, Qt::Key_Escape); });
        const int result = w.exec();
        QCOMPARE(result, int(QDialog::Rejected));
        QVERIFY(!w.isVisible());
    }
};

QTEST_MAIN(ConsoleWindowTest)
#include "console_window_test.moc"
