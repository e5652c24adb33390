#include "pages/audio_page.h"
#include "support/recording_sender.h"

#include <QGroupBox>
#include <QRadioButton>
#include <QtTest>

using mc::AudioPage;
using mc::AudioState;
using mc::test::RecordingSender;

namespace {

QByteArray fromHex(const char* spaced) {
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', ""));
}

// What the radios of each output show: 0 On, 1 Mute, -1 neither.
QList<int> shownStates(const AudioPage& page) {
    QList<int> states;
    for (int output = 1; output <= AudioPage::kOutputs; ++output) {
        const bool on = page.onRadio(output)->isChecked();
        const bool mute = page.muteRadio(output)->isChecked();
        states.append(on ? 0 : (mute ? 1 : -1));
    }
    return states;
}

// 0 On, 1 Mute, -1 neither: the lists below read as the radios show them.
int code(std::optional<AudioState> state) {
    if (!state) {
        return -1;
    }
    return *state == AudioState::On ? 0 : 1;
}

QList<int> storedStates(const AudioPage& page) {
    QList<int> states;
    for (int output = 1; output <= AudioPage::kOutputs; ++output) {
        states.append(code(page.audioState(output)));
    }
    return states;
}

const QList<int> kInitialStates = {0, 0, 0, 0, 0, 0, 0, 0, -1, -1, -1, -1, -1, -1, -1, -1};

} // namespace

class AudioPageTest : public QObject {
    Q_OBJECT

private slots:
    void buildsSixteenOutputBoxesWithTheirTexts() {
        RecordingSender sender;
        AudioPage page(sender);
        auto* section = page.findChild<QGroupBox*>(QStringLiteral("audioSection"));
        QVERIFY(section);
        QCOMPARE(section->title(), QStringLiteral("Deembedded audio On/Mute"));
        for (int output = 1; output <= AudioPage::kOutputs; ++output) {
            auto* box = page.findChild<QGroupBox*>(QStringLiteral("audioOut%1").arg(output));
            QVERIFY(box);
            QCOMPARE(box->title(), QStringLiteral("Out%1").arg(output));
            QCOMPARE(box->parentWidget(), section);
            QCOMPARE(page.onRadio(output)->text(), QStringLiteral("On"));
            QCOMPARE(page.muteRadio(output)->text(), QStringLiteral("Mute"));
            QCOMPARE(page.onRadio(output)->parentWidget(), box);
            QCOMPARE(page.muteRadio(output)->parentWidget(), box);
        }
        // Four boxes a line, outputs 1 to 4 on the first line.
        const auto boxAt = [&](int output) {
            return page.findChild<QGroupBox*>(QStringLiteral("audioOut%1").arg(output))->geometry();
        };
        QCOMPARE(boxAt(2).y(), boxAt(1).y());
        QCOMPARE(boxAt(4).y(), boxAt(1).y());
        QVERIFY(boxAt(5).y() > boxAt(1).y());
        QCOMPARE(boxAt(5).x(), boxAt(1).x());
        QVERIFY(boxAt(13).y() > boxAt(9).y());
        QCOMPARE(page.onRadio(0), nullptr);
        QCOMPARE(page.muteRadio(17), nullptr);
    }

    void startsWithOnForOutputsOneToEightAndNothingAfter() {
        RecordingSender sender;
        AudioPage page(sender);
        QCOMPARE(shownStates(page), kInitialStates);
        QCOMPARE(storedStates(page), kInitialStates);
        QCOMPARE(sender.calls, 0);
    }

    void clickSendsTheAudioCommandOfItsOutput_data() {
        QTest::addColumn<int>("output");
        QTest::addColumn<bool>("mute");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("mute out1") << 1 << true
                                   << fromHex("0D 0A 53 45 54 20 4F 55 54 31 20 20 45 58 41 20 44 49 53 0D 0A");
        QTest::newRow("on out12") << 12 << false
                                  << fromHex("0D 0A 53 45 54 20 4F 55 54 31 32 20 45 58 41 20 20 45 4E 0D 0A");
        QTest::newRow("on out1 already on") << 1 << false << QByteArray("\r\nSET OUT1  EXA  EN\r\n");
        QTest::newRow("mute out16") << 16 << true << QByteArray("\r\nSET OUT16 EXA DIS\r\n");
    }

    void clickSendsTheAudioCommandOfItsOutput() {
        QFETCH(int, output);
        QFETCH(bool, mute);
        QFETCH(QByteArray, expected);
        RecordingSender sender;
        AudioPage page(sender);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QRadioButton* radio = mute ? page.muteRadio(output) : page.onRadio(output);
        QTest::mouseClick(radio, Qt::LeftButton);
        QCOMPARE(sender.sent.size(), std::size_t(1));
        QCOMPARE(QByteArray::fromStdString(sender.sent.front()), expected);
        QVERIFY(radio->isChecked());
        QCOMPARE(code(page.audioState(output)), mute ? 1 : 0);
    }

    void clickOnTheCheckedRadioSendsAgain() {
        RecordingSender sender;
        AudioPage page(sender);
        page.onRadio(3)->click();
        page.onRadio(3)->click();
        QCOMPARE(sender.sent.size(), std::size_t(2));
        QCOMPARE(QByteArray::fromStdString(sender.sent[1]), QByteArray("\r\nSET OUT3  EXA  EN\r\n"));
    }

    // A click stores its own pair only: replies stored and not yet redrawn
    // for other outputs are not overwritten with what their radios still show.
    void clickStoresOnlyItsOwnPair() {
        RecordingSender sender;
        AudioPage page(sender);
        page.setAudioState(3, AudioState::Mute);
        page.setAudioState(10, AudioState::On);
        page.muteRadio(9)->click();
        QList<int> expected = kInitialStates;
        expected[2] = 1;
        expected[8] = 1;
        expected[9] = 0;
        QCOMPARE(storedStates(page), expected);
        QCOMPARE(QByteArray::fromStdString(sender.sent.back()), QByteArray("\r\nSET OUT9  EXA DIS\r\n"));
    }

    void refreshShowsTheStoredStates() {
        RecordingSender sender;
        AudioPage page(sender);
        page.setAudioState(16, AudioState::Mute);
        page.setAudioState(5, AudioState::Mute);
        QCOMPARE(shownStates(page), kInitialStates);
        page.refresh();
        QList<int> expected = kInitialStates;
        expected[15] = 1;
        expected[4] = 1;
        QCOMPARE(shownStates(page), expected);
        QCOMPARE(storedStates(page), expected);
        QCOMPARE(sender.calls, 0);
    }

    void outOfRangeOutputsStoreNothing() {
        RecordingSender sender;
        AudioPage page(sender);
        page.setAudioState(0, AudioState::Mute);
        page.setAudioState(17, AudioState::Mute);
        QCOMPARE(code(page.audioState(0)), -1);
        QCOMPARE(code(page.audioState(17)), -1);
        page.refresh();
        QCOMPARE(shownStates(page), kInitialStates);
    }

    void clickWithThePortClosedSendsNothingButKeepsTheChoice() {
        RecordingSender sender;
        sender.portOpen = false;
        AudioPage page(sender);
        page.muteRadio(2)->click();
        QCOMPARE(sender.calls, 1);
        QVERIFY(sender.sent.empty());
        QVERIFY(page.muteRadio(2)->isChecked());
        QCOMPARE(code(page.audioState(2)), 1);
    }
};

QTEST_MAIN(AudioPageTest)
#include "audio_page_test.moc"
