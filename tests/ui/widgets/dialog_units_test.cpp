#include "widgets/dialog_units.h"

#include <QtTest>

class DialogUnitsTest : public QObject {
    Q_OBJECT

private slots:
    void convertsWithTheFontsBaseUnits() {
        const mc::DialogUnits du(mc::dialogFont());
        QVERIFY(du.baseX() > 0);
        QVERIFY(du.baseY() > 0);
        // Four horizontal units are one average character; eight vertical units one line.
        QCOMPARE(du.x(4), du.baseX());
        QCOMPARE(du.y(8), du.baseY());
        QCOMPARE(du.rect(4, 8, 8, 16), QRect(du.baseX(), du.baseY(), 2 * du.baseX(), 2 * du.baseY()));
        QCOMPARE(du.x(0), 0);
    }

    void largerFontGivesLargerWindow() {
        QFont small = mc::dialogFont();
        QFont large = small;
        large.setPointSize(small.pointSize() * 2);
        QVERIFY(mc::DialogUnits(large).size(599, 334).width() > mc::DialogUnits(small).size(599, 334).width());
    }
};

QTEST_MAIN(DialogUnitsTest)
#include "dialog_units_test.moc"
