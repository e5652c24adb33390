#include "pages/routing_page.h"
#include "support/recording_sender.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>
#include <QtTest>

using mc::RoutingPage;
using mc::test::RecordingSender;

namespace {

QByteArray fromHex(const char* spaced) {
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', ""));
}

QByteArray lastSent(const RecordingSender& sender) {
    return sender.sent.empty() ? QByteArray() : QByteArray::fromStdString(sender.sent.back());
}

// Which radios of the page are checked, as (row, input) pairs.
QList<QPair<int, int>> checkedRadios(const RoutingPage& page) {
    QList<QPair<int, int>> checked;
    for (int row = 0; row < RoutingPage::kRows; ++row) {
        for (int input = 0; input < RoutingPage::kInputs; ++input) {
            if (page.radio(row, input)->isChecked()) {
                checked.append({row, input});
            }
        }
    }
    return checked;
}

} // namespace

class RoutingPageTest : public QObject {
    Q_OBJECT

private slots:
    void buildsEightRowsOfSixteenRadiosWithTheirTexts_data() {
        QTest::addColumn<int>("bank");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("first") << 0 << QStringList{"Output1 ", "Output2", "Output3", "Output4",
                                                   "Output5",  "Output6", "Output7", "Output8"};
        QTest::newRow("second") << 1 << QStringList{"Output9 ", "Output10", "Output11", "Output12",
                                                    "Output13", "Output14", "Output15", "Output16"};
    }

    void buildsEightRowsOfSixteenRadiosWithTheirTexts() {
        QFETCH(int, bank);
        QFETCH(QStringList, titles);
        RecordingSender sender;
        RoutingPage page(RoutingPage::Bank(bank), sender);
        for (int row = 0; row < RoutingPage::kRows; ++row) {
            const int output = row + 1 + 8 * bank;
            QCOMPARE(page.outputOfRow(row), output);
            auto* box = page.findChild<QGroupBox*>(QStringLiteral("outputGroup%1").arg(output));
            QVERIFY(box);
            QCOMPARE(box->title(), titles[row]);
            for (int input = 0; input < RoutingPage::kInputs; ++input) {
                QRadioButton* radio = page.radio(row, input);
                QVERIFY(radio);
                QCOMPARE(radio->text(), QStringLiteral("In%1").arg(input + 1));
                QCOMPARE(radio->objectName(), QStringLiteral("out%1In%2").arg(output).arg(input + 1));
                // The row's box is the radio's context for assistive technology.
                QCOMPARE(radio->parentWidget(), box);
                QVERIFY(!(radio->focusPolicy() & Qt::TabFocus));
            }
        }
    }

    // Every radio is the widget a click at its centre reaches: nothing covers
    // it and no neighbour overlaps it.
    void everyRadioIsReachableAtItsCentre() {
        RecordingSender sender;
        for (auto bank : {RoutingPage::FirstBank, RoutingPage::SecondBank}) {
            RoutingPage page(bank, sender);
            page.resize(page.childrenRect().bottomRight().x() + 10, page.childrenRect().bottomRight().y() + 10);
            for (int row = 0; row < RoutingPage::kRows; ++row) {
                for (int input = 0; input < RoutingPage::kInputs; ++input) {
                    QRadioButton* radio = page.radio(row, input);
                    const QPoint centre = radio->mapTo(&page, radio->rect().center());
                    QCOMPARE(page.childAt(centre), static_cast<QWidget*>(radio));
                    if (input > 0) {
                        QVERIFY(page.radio(row, input - 1)->geometry().right() < radio->geometry().left());
                    }
                }
            }
        }
    }

    void clickSendsTheRoutingCommandOfItsRowAndColumn_data() {
        QTest::addColumn<int>("bank");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("input");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("out1 in1") << 0 << 0 << 0
                                  << fromHex("0D 0A 53 45 54 20 4F 55 54 31 20 20 56 53 20 49 4E 31 20 0D 0A");
        QTest::newRow("out10 in16") << 1 << 1 << 15
                                    << fromHex("0D 0A 53 45 54 20 4F 55 54 31 30 20 56 53 20 49 4E 31 36 0D 0A");
        QTest::newRow("out9 in10") << 1 << 0 << 9
                                   << fromHex("0D 0A 53 45 54 20 4F 55 54 39 20 20 56 53 20 49 4E 31 30 0D 0A");
        QTest::newRow("out8 in1") << 0 << 7 << 0 << QByteArray("\r\nSET OUT8  VS IN1 \r\n");
        QTest::newRow("out16 in9") << 1 << 7 << 8 << QByteArray("\r\nSET OUT16 VS IN9 \r\n");
    }

    void clickSendsTheRoutingCommandOfItsRowAndColumn() {
        QFETCH(int, bank);
        QFETCH(int, row);
        QFETCH(int, input);
        QFETCH(QByteArray, expected);
        RecordingSender sender;
        RoutingPage page(RoutingPage::Bank(bank), sender);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QTest::mouseClick(page.radio(row, input), Qt::LeftButton);
        QCOMPARE(sender.sent.size(), std::size_t(1));
        QCOMPARE(lastSent(sender), expected);
        QCOMPARE(sender.sent.front().size(), std::size_t(21));
        QVERIFY(page.radio(row, input)->isChecked());
    }

    void clickOnTheCheckedRadioSendsAgain() {
        RecordingSender sender;
        RoutingPage page(RoutingPage::FirstBank, sender);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QTest::mouseClick(page.radio(2, 4), Qt::LeftButton);
        QTest::mouseClick(page.radio(2, 4), Qt::LeftButton);
        QCOMPARE(sender.sent.size(), std::size_t(2));
        QCOMPARE(QByteArray::fromStdString(sender.sent[0]), QByteArray("\r\nSET OUT3  VS IN5 \r\n"));
        QCOMPARE(sender.sent[1], sender.sent[0]);
    }

    void clickWithThePortClosedSendsNothingButKeepsTheCheck() {
        RecordingSender sender;
        sender.portOpen = false;
        RoutingPage page(RoutingPage::SecondBank, sender);
        page.radio(4, 6)->click();
        QCOMPARE(sender.calls, 1);
        QVERIFY(sender.sent.empty());
        QVERIFY(page.radio(4, 6)->isChecked());
        // Opening the port later sends nothing for the earlier click.
        sender.portOpen = true;
        QCoreApplication::processEvents();
        QVERIFY(sender.sent.empty());
    }

    void rowsAreExclusiveOnTheirOwn() {
        RecordingSender sender;
        RoutingPage page(RoutingPage::FirstBank, sender);
        page.radio(0, 3)->click();
        page.radio(1, 5)->click();
        page.radio(0, 7)->click();
        QCOMPARE(checkedRadios(page), (QList<QPair<int, int>>{{0, 7}, {1, 5}}));
    }

    void startsWithNothingCheckedAndNothingStored() {
        RecordingSender sender;
        for (auto bank : {RoutingPage::FirstBank, RoutingPage::SecondBank}) {
            RoutingPage page(bank, sender);
            QVERIFY(checkedRadios(page).isEmpty());
            for (int row = 0; row < RoutingPage::kRows; ++row) {
                QCOMPARE(page.outputSelection(row), std::optional<int>());
            }
        }
        QCOMPARE(sender.calls, 0);
    }

    void clickLeavesTheStoredSelectionAndRefreshRestoresIt() {
        RecordingSender sender;
        RoutingPage page(RoutingPage::FirstBank, sender);
        page.setRowSelection(1, 2);
        page.refresh();
        page.radio(0, 9)->click();  // a row that no reply has named yet
        page.radio(1, 12)->click(); // a row the switcher reported as In3
        QCOMPARE(page.outputSelection(0), std::optional<int>());
        QCOMPARE(page.outputSelection(1), std::optional<int>(2));
        QCOMPARE(checkedRadios(page), (QList<QPair<int, int>>{{0, 9}, {1, 12}}));

        page.refresh();
        QCOMPARE(checkedRadios(page), (QList<QPair<int, int>>{{1, 2}}));
        QCOMPARE(sender.sent.size(), std::size_t(2));
    }

    void setRowSelectionStoresOnlyUntilRefresh() {
        RecordingSender sender;
        RoutingPage page(RoutingPage::SecondBank, sender);
        page.setRowSelection(7, 15);
        QVERIFY(checkedRadios(page).isEmpty());
        page.refresh();
        QCOMPARE(checkedRadios(page), (QList<QPair<int, int>>{{7, 15}}));

        // Every row at once, then one row cleared again.
        for (int row = 0; row < RoutingPage::kRows; ++row) {
            page.setRowSelection(row, 1);
        }
        page.setRowSelection(3, std::nullopt);
        page.refresh();
        QList<QPair<int, int>> expected;
        for (int row = 0; row < RoutingPage::kRows; ++row) {
            if (row != 3) {
                expected.append({row, 1});
            }
        }
        QCOMPARE(checkedRadios(page), expected);
        QCOMPARE(sender.calls, 0);
    }

    void outOfRangeValuesStoreNoSelection_data() {
        QTest::addColumn<int>("input");
        QTest::newRow("16") << 16;
        QTest::newRow("-2") << -2;
        QTest::newRow("digit garbage") << ('X' - '1');
    }

    void outOfRangeValuesStoreNoSelection() {
        QFETCH(int, input);
        RecordingSender sender;
        RoutingPage page(RoutingPage::FirstBank, sender);
        page.setRowSelection(0, 4);
        page.refresh();
        page.setRowSelection(0, input);
        QCOMPARE(page.outputSelection(0), std::optional<int>());
        page.refresh();
        QVERIFY(checkedRadios(page).isEmpty());
        // Rows outside the page are ignored, not written past the end.
        page.setRowSelection(8, 3);
        page.setRowSelection(-1, 3);
        QCOMPARE(page.outputSelection(8), std::optional<int>());
        QCOMPARE(page.radio(8, 0), nullptr);
    }

    // As the replies reach it: by output, each page taking only its own eight.
    void routingViewTakesOnlyThisPagesOutputs() {
        RecordingSender sender;
        RoutingPage second(RoutingPage::SecondBank, sender);
        mc::RoutingView& view = second;
        view.setOutputSelection(12, 4);
        view.setOutputSelection(3, 5);  // the first page's
        view.setOutputSelection(17, 6); // nobody's
        view.setOutputSelection(9, std::nullopt);
        view.redrawRouting();
        QCOMPARE(checkedRadios(second), (QList<QPair<int, int>>{{3, 4}}));
        QCOMPARE(second.outputSelection(0), std::optional<int>());
    }
};

QTEST_MAIN(RoutingPageTest)
#include "routing_page_test.moc"
