// The console working a normal emulator over a pseudo-terminal: routing, the
// EDID read-back into files and the upload into a user slot, round trip.
#include "e2e/e2e_support.h"
#include "edid/edid_decoder.h"
#include "edid/edid_summary.h"
#include "pages/audio_page.h"
#include "pages/edid_page.h"
#include "pages/routing_page.h"
#include "support/console_driver.h"
#include "widgets/choice_box.h"
#include "widgets/message_box.h"
#include "window/console_window.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QtTest>

using mc::ChoiceBox;
using mc::ConsoleWindow;
using namespace std::chrono_literals;
using namespace mc::test;

namespace {

constexpr int kTimeoutMs = 5000;

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(cannot read " + path.toUtf8() + ")");
}

// What the EDID page should sum up for these bytes.
QString summaryOf(const QByteArray& bytes) {
    mc::EdidImage image{};
    std::copy_n(reinterpret_cast<const std::uint8_t*>(bytes.constData()), image.size(), image.begin());
    QString text = QString::fromStdString(mc::fillEdidSummary(mc::decodeEdid(image)));
    return text.remove(QLatin1Char('\r'));
}

} // namespace

class SessionE2eTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ConsoleTestEnvironment> env_;
    std::unique_ptr<SwitcherProcess> sim_;
    std::unique_ptr<ConsoleWindow> window_;
    QStringList messages_;

    [[nodiscard]] mc::EdidPage& edidPage() const { return *window_->edidPage(); }
    [[nodiscard]] ChoiceBox* choice(const QString& name) const { return edidPage().findChild<ChoiceBox*>(name); }
    [[nodiscard]] QPushButton* button(const QString& name) const { return edidPage().findChild<QPushButton*>(name); }

    // Reads the EDID of a read-port selector item back and waits for its file.
    void readBack(int portItem, const QString& expectedFile) {
        messages_.clear();
        choice(QStringLiteral("readPortSelector"))->setCurrentIndex(portItem);
        click(button(QStringLiteral("readButton")));
        QTRY_COMPARE_WITH_TIMEOUT(messages_, QStringList{QStringLiteral("Save to file: ") + expectedFile}, kTimeoutMs);
        QVERIFY(!window_->session().edidReadBack());
    }

private slots:
    void init() {
        env_ = std::make_unique<ConsoleTestEnvironment>(messages_);
        QVERIFY(env_->isValid());
        sim_ = startSwitcher(env_->ports(), 1);
        QVERIFY2(sim_->ready(), sim_->startupOutput().c_str());
        window_ = showConsoleWithPortOpen();
        QVERIFY(window_);
    }

    void cleanup() {
        window_.reset();
        sim_.reset();
        env_.reset();
    }

    void routingClickChangesTheSwitcherAndItsReplyChecksTheRadio() {
        mc::RoutingPage* page = window_->routingPage(0);
        click(page->radio(0, 3)); // output 1 <- input 4
        // Only a reply stores a selection.
        QTRY_COMPARE_WITH_TIMEOUT(page->outputSelection(0), 3, kTimeoutMs);
        QCOMPARE(sim_->receivedLines(), std::vector<std::string>{"\r\nSET OUT1  VS IN4 \r\n"});
        QCOMPARE(sim_->sentLines(), std::vector<std::string>{"OUT1 VS IN4\r\n"});
        QVERIFY(page->radio(0, 3)->isChecked());

        showTab(*window_, SecondRoutingTab);
        mc::RoutingPage* second = window_->routingPage(1);
        click(second->radio(7, 15)); // output 16 <- input 16: its default, so the reply repeats it
        QTRY_COMPARE_WITH_TIMEOUT(second->outputSelection(7), 15, kTimeoutMs);
        click(second->radio(7, 0)); // output 16 <- input 1
        QTRY_COMPARE_WITH_TIMEOUT(second->outputSelection(7), 0, kTimeoutMs);

        // A later status query shows the switcher kept the routes.
        click(searchButton(*window_));
        QTRY_VERIFY_WITH_TIMEOUT(window_->state().portOpen, kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(sim_->sentLines().size(), std::size_t{3 + 16 + 16 + 6 + 16}, kTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(page->radio(1, 1)->isChecked(), kTimeoutMs); // output 2 as it started
        QCOMPARE(page->outputSelection(0), 3);
        QCOMPARE(second->outputSelection(7), 0);
        QVERIFY(page->radio(0, 3)->isChecked());
        QVERIFY(second->radio(7, 0)->isChecked());
    }

    // Clicks faster than the line: every command still reaches the switcher,
    // whole and in order, and the switcher ends up with the last of each.
    void clicksInQuickSuccessionAllReachTheSwitcherInOrder() {
        std::vector<std::string> expected;
        for (int output = 1; output <= 16; ++output) {
            const int input = 17 - output;
            showTab(*window_, output <= 8 ? FirstRoutingTab : SecondRoutingTab);
            click(window_->routingPage(output <= 8 ? 0 : 1)->radio((output - 1) % 8, input - 1));
            const auto field = [](int port) { return port < 10 ? std::to_string(port) + " " : std::to_string(port); };
            expected.push_back("\r\nSET OUT" + field(output) + " VS IN" + field(input) + "\r\n");
        }
        QVERIFY(sim_->waitForReceivedLines(expected.size(), 5s));
        QCOMPARE(sim_->receivedLines(), expected);

        // Replies the console had not read when it wrote the next command are
        // purged; the status query shows what the switcher holds.
        click(searchButton(*window_));
        QTRY_VERIFY_WITH_TIMEOUT(window_->audioPage()->onRadio(16)->isChecked(), kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(window_->routingPage(0)->outputSelection(0), 15, kTimeoutMs);
        for (int output = 1; output <= 16; ++output) {
            const mc::RoutingPage* page = window_->routingPage(output <= 8 ? 0 : 1);
            QCOMPARE(page->outputSelection((output - 1) % 8), 16 - output);
            QVERIFY(page->radio((output - 1) % 8, 16 - output)->isChecked());
        }
    }

    void readingOutPort2SavesTheDisplaysEdidInNumberedFiles() {
        showTab(*window_, EdidTab);
        // The emulator's output 2 shows this display.
        const QByteArray display = fileBytes(QStringLiteral(MC_SIM_DATA_DIR "/042-panasonic-meia296.bin"));
        QCOMPARE(display.size(), 256);

        readBack(1, QStringLiteral("Matrix_EDID_out2_00.bin"));
        QCOMPARE(sim_->receivedLines().back(), std::string("\r\nGET OUT2  EDID  DATA\r\n"));
        QCOMPARE(fileBytes(env_->filePath(QStringLiteral("Matrix_EDID_out2_00.bin"))), display);
        const QString summary = summaryOf(display);
        QVERIFY2(summary.startsWith(QStringLiteral("Manufacture's Name:MEI\n")), qPrintable(summary));
        QCOMPARE(edidPage().findChild<QPlainTextEdit*>(QStringLiteral("edidSummary"))->toPlainText(), summary);

        readBack(1, QStringLiteral("Matrix_EDID_out2_01.bin"));
        QCOMPARE(fileBytes(env_->filePath(QStringLiteral("Matrix_EDID_out2_01.bin"))), display);
        QCOMPARE(fileBytes(env_->filePath(QStringLiteral("Matrix_EDID_out2_00.bin"))), display);
    }

    void uploadIntoAUserSlotReadsBackTheSameBytes_data() {
        QTest::addColumn<QString>("sample");
        QTest::addColumn<int>("input");
        QTest::addColumn<int>("slot");
        QTest::newRow("full image, In4 User 2") << QStringLiteral("021-asus-aus2723") << 4 << 2;
        // The missing extension travels as FF both ways.
        QTest::newRow("base block only, In13 User 3") << QStringLiteral("181-apple-app9cb6") << 13 << 3;
    }

    void uploadIntoAUserSlotReadsBackTheSameBytes() {
        QFETCH(QString, sample);
        QFETCH(int, input);
        QFETCH(int, slot);
        showTab(*window_, EdidTab);
        const QString path = QStringLiteral(MC_TEST_DATA_DIR "/edid-samples/%1.bin").arg(sample);
        QByteArray expected = fileBytes(path);
        expected.append(QByteArray(256 - expected.size(), '\xff'));

        edidPage().setFileChooser([path](QWidget*) { return QString(path); });
        choice(QStringLiteral("userSlotSelector"))->setCurrentIndex((input - 1) * 3 + slot - 1);
        click(button(QStringLiteral("loadButton")));
        QCOMPARE(messages_.size(), 1);
        QVERIFY(messages_.front().startsWith(QStringLiteral("Note: EDID data is only saved")));
        const std::string stored = "IN" + std::to_string(input) + " U" + std::to_string(slot) + " STORED\r\n";
        QTRY_VERIFY_WITH_TIMEOUT(!sim_->sentLines().empty() && sim_->sentLines().back() == stored, kTimeoutMs);

        // The input presents that user slot once it is applied.
        const int userItem = 29 + slot;
        choice(QStringLiteral("inputEdid%1").arg(input))->setCurrentIndex(userItem);
        click(button(QStringLiteral("applyIn%1").arg(input)));
        const std::string applied = "IN" + std::to_string(input) + " EDID " + std::to_string(userItem) + "\r\n";
        QTRY_VERIFY_WITH_TIMEOUT(sim_->sentLines().back() == applied, kTimeoutMs);

        const QString file = QStringLiteral("Matrix_EDID_inp%1_00.bin").arg(input);
        readBack(15 + input, file);
        QCOMPARE(fileBytes(env_->filePath(file)), expected);
        QCOMPARE(QString::fromStdString(edidPage().summary()).remove(QLatin1Char('\r')), summaryOf(expected));
    }
};

QTEST_MAIN(SessionE2eTest)
#include "session_e2e_test.moc"
