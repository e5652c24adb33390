// The console as a screen reader meets it: the real accessibility tree of the
// shown window, page by page.
#include "support/pty_peer.h"
#include "widgets/message_box.h"
#include "window/console_window.h"

#include <QAccessible>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTabWidget>
#include <QtTest>

using mc::ConsoleWindow;

namespace {

constexpr int kTimeoutMs = 5000;
constexpr int kDepthLimit = 32;

bool isInteractive(QAccessible::Role role) {
    switch (role) {
    case QAccessible::PushButton:
    case QAccessible::RadioButton:
    case QAccessible::CheckBox:
    case QAccessible::ComboBox:
    case QAccessible::EditableText:
    case QAccessible::PageTab:
    case QAccessible::SpinBox:
        return true;
    default:
        return false;
    }
}

// An enabled, visible control the operator can work, as assistive technology
// names it: its own name and the names of the elements it sits in.
struct Control {
    QString name;
    QString path;
};

void collect(QAccessibleInterface* element, const QString& path, QList<Control>& controls, int depth) {
    if (element == nullptr || depth > kDepthLimit) {
        return;
    }
    for (int i = 0; i < element->childCount(); ++i) {
        QAccessibleInterface* child = element->child(i);
        if (child == nullptr || !child->isValid() || child->state().invisible) {
            continue;
        }
        const QString name = child->text(QAccessible::Name);
        const QString childPath = path + QStringLiteral(" / ") + name;
        if (isInteractive(child->role()) && !child->state().disabled) {
            controls.append({name, childPath});
        }
        collect(child, childPath, controls, depth + 1);
    }
}

QList<Control> shownControls(ConsoleWindow& w) {
    QList<Control> controls;
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(&w);
    collect(root, root == nullptr ? QString() : root->text(QAccessible::Name), controls, 0);
    return controls;
}

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

private:
    QStringList messages_;

private slots:
    void init() {
        messages_.clear();
        mc::setMessagePresenter([this](QWidget*, const QString& text) { messages_ << text; });
    }

    void cleanup() { mc::setMessagePresenter({}); }

    // Every control of every page has a name, and no two on one page can be
    // mistaken for each other: their names with those of what holds them differ.
    void everyControlOnEveryPageHasItsOwnName() {
        ConsoleWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* tabs = w.findChild<QTabWidget*>(QStringLiteral("pageTabs"));
        QVERIFY(tabs);
        for (int page = 0; page < tabs->count(); ++page) {
            tabs->setCurrentIndex(page);
            QVERIFY(tabs->widget(page)->isVisible());
            const QList<Control> controls = shownControls(w);
            // The five tabs and the three port controls at least.
            QVERIFY2(controls.size() > 8, qPrintable(tabs->tabText(page)));
            QSet<QString> paths;
            for (const Control& control : controls) {
                QVERIFY2(!control.name.trimmed().isEmpty(), qPrintable(control.path));
                QVERIFY2(!paths.contains(control.path), qPrintable(QStringLiteral("twice: ") + control.path));
                paths.insert(control.path);
            }
        }
    }

    // The audio page's 32 radios: each names its output.
    void audioRadiosNameTheirOutput() {
        ConsoleWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* tabs = w.findChild<QTabWidget*>(QStringLiteral("pageTabs"));
        tabs->setCurrentIndex(4);
        QSet<QString> radios;
        for (const Control& control : shownControls(w)) {
            if (control.name.endsWith(QLatin1String(" On")) || control.name.endsWith(QLatin1String(" Mute"))) {
                radios.insert(control.name);
            }
        }
        QCOMPARE(radios.size(), 32);
        QVERIFY(radios.contains(QStringLiteral("Out3 On")));
        QVERIFY(radios.contains(QStringLiteral("Out16 Mute")));
    }

    // The status line reads as its text; "Status" says what the line is.
    void statusLineReadsItsText() {
        mc::test::PortDirectory ports;
        ports.exportToEnvironment();
        auto silent = mc::test::PtyPeer::create();
        QVERIFY(silent && silent->linkAs(ports.path(), 1));
        ConsoleWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* line = w.findChild<QLabel*>(QStringLiteral("statusLine"));
        QAccessibleInterface* status = QAccessible::queryAccessibleInterface(line);
        QVERIFY(status);
        QCOMPARE(status->text(QAccessible::Description), QStringLiteral("Status"));

        w.findChild<QPushButton*>(QStringLiteral("searchButton"))->click();
        QCOMPARE(line->text(), QStringLiteral("Please wait....."));
        QCOMPARE(status->text(QAccessible::Name), QStringLiteral("Please wait....."));

        // The silent port gives up; the line is cleared and reads so.
        QTRY_COMPARE_WITH_TIMEOUT(messages_.size(), 1, kTimeoutMs);
        QCOMPARE(status->text(QAccessible::Name), line->text());
        QCOMPARE(status->text(QAccessible::Description), QStringLiteral("Status"));
    }
};

QTEST_MAIN(AccessibilityTest)
#include "accessibility_test.moc"
