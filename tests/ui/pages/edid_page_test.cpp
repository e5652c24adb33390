#include "edid/edid_decoder.h"
#include "pages/edid_page.h"
#include "session/console_state.h"
#include "session/log_hook.h"
#include "support/edid_capture_fakes.h"
#include "support/recording_sender.h"
#include "widgets/choice_box.h"
#include "widgets/message_box.h"
#include "window/console_window.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

using mc::ChoiceBox;
using mc::EdidPage;
using mc::test::RecordingSender;

namespace {

const QString kSelectTargetPort = QStringLiteral("Please select the target port first");
const QString kFileReadFailed = QStringLiteral("File read failed");
const QString kNotBinFile = QStringLiteral("It is not bin file");
const QString kTurnOnPort = QStringLiteral("Please turn on the COM port first!");
const QString kUploadNote = QStringLiteral(
    "Note: EDID data is only saved to one of the 3 user define. If want to use this EDID data to this input, need "
    "to set the EDID of this input to the selected user define.");

QByteArray sample(const char* name) {
    QFile file(QStringLiteral(MC_TEST_DATA_DIR "/edid-samples/%1.bin").arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly)) {
        qFatal("missing EDID sample %s", name);
    }
    return file.readAll();
}

mc::EdidImage imageOf(const QByteArray& bytes) {
    mc::EdidImage image;
    image.fill(0xFF);
    for (qsizetype i = 0; i < bytes.size() && i < 256; ++i) {
        image[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bytes[i]);
    }
    return image;
}

// The summary as the page's edit shows it: one line break per line.
const QString kSamsungSummary = QStringLiteral("Manufacture's Name:SAM\n"
                                               "Maximum Pixel Clock:600MHz\n"
                                               "3D video:not support\n"
                                               "Preferred Timing:3840x2160@60Hz\n"
                                               "Detailed Timing1:1920x1080@60Hz\n"
                                               "Audio Format:LPCM.\n"
                                               "Audio Channel(s):2\n");
const QString kAocSummary = QStringLiteral("Manufacture's Name:AOC\n"
                                           "Maximum Pixel Clock:600MHz\n"
                                           "3D video:not support\n"
                                           "Preferred Timing:3840x2160@60Hz\n"
                                           "Detailed Timing:3840x2160@30Hz\n"
                                           "Audio Format:LPCM.\n"
                                           "Audio Channel(s):2\n");
// A base block alone: no extension, so no audio and no 3D line.
const QString kHannstarSummary = QStringLiteral("Manufacture's Name:HSD\n"
                                                "Maximum Pixel Clock:180MHz\n"
                                                "Preferred Timing:1920x1080@60Hz\n");

// How a test puts a choice into a drop-down.
enum class Choose { ByReply, ByTyping, ByList };

} // namespace

class EdidPageTest : public QObject {
    Q_OBJECT

private:
    RecordingSender sender_;
    mc::ConsoleState state_;
    mc::test::RecordingReadBack readBack_;
    QStringList messages_;
    std::unique_ptr<QTemporaryDir> dir_;

    static ChoiceBox* inputEdid(EdidPage& page, int input) {
        return page.findChild<ChoiceBox*>(QStringLiteral("inputEdid%1").arg(input));
    }
    static QPushButton* applyButton(EdidPage& page, int input) {
        return page.findChild<QPushButton*>(QStringLiteral("applyIn%1").arg(input));
    }
    static ChoiceBox* readPort(EdidPage& page) {
        return page.findChild<ChoiceBox*>(QStringLiteral("readPortSelector"));
    }
    static ChoiceBox* userSlot(EdidPage& page) {
        return page.findChild<ChoiceBox*>(QStringLiteral("userSlotSelector"));
    }
    static QPushButton* button(EdidPage& page, const char* name) {
        return page.findChild<QPushButton*>(QString::fromLatin1(name));
    }
    static QPlainTextEdit* summaryEdit(EdidPage& page) {
        return page.findChild<QPlainTextEdit*>(QStringLiteral("edidSummary"));
    }

    static void choose(ChoiceBox* box, int item, Choose how) {
        switch (how) {
        case Choose::ByReply:
            box->selectItem(item);
            break;
        case Choose::ByTyping:
            box->lineEdit()->clear();
            QTest::keyClicks(box->lineEdit(), box->itemText(item));
            break;
        case Choose::ByList:
            box->setCurrentIndex(item);
            break;
        }
    }

    QString writeFile(const QString& name, const QByteArray& bytes) {
        QString path = dir_->filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            qFatal("cannot write %s", qPrintable(path));
        }
        return path;
    }

    void chooseFile(EdidPage& page, const QString& path) {
        page.setFileChooser([path](QWidget*) { return path; });
    }

private slots:
    void init() {
        sender_ = RecordingSender{};
        state_ = mc::ConsoleState{};
        readBack_.expected.reset();
        // The console's port is open, as the sender's is.
        state_.portOpen = true;
        messages_.clear();
        mc::setMessagePresenter([this](QWidget*, const QString& text) { messages_ << text; });
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
    }

    void cleanup() {
        mc::setMessagePresenter(nullptr);
        dir_.reset();
    }

    void everyInputOffersTheSameFortyNineChoicesAndStartsWithNone_data() {
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("text");
        QTest::newRow("0 trailing blank") << 0 << QStringLiteral("1080P_2CH(PCM) ");
        QTest::newRow("1 blank after _") << 1 << QStringLiteral("1080P_ audio5.1");
        QTest::newRow("9 both") << 9 << QStringLiteral("4K60Hz(Y420)_3D_2CH(PCM) ");
        QTest::newRow("12 HZ") << 12 << QStringLiteral("4K60HZ(4:4:4)_3D_2CH(PCM)");
        QTest::newRow("13 Hz") << 13 << QStringLiteral("4K60Hz(4:4:4)_3D_ audio5.1");
        QTest::newRow("22 HZ and blank") << 22 << QStringLiteral("4K30HZ_3D_audio5.1_HDR ");
        QTest::newRow("26") << 26 << QStringLiteral("4K60HzY420_3D_7.1_HDR");
        QTest::newRow("29") << 29 << QStringLiteral("4K60HZ_3D_7.1_HDR");
        QTest::newRow("30 first user slot") << 30 << QStringLiteral("User EDID1");
        QTest::newRow("32 last user slot") << 32 << QStringLiteral("User EDID3");
        QTest::newRow("33 first copy") << 33 << QStringLiteral("From Out1");
        QTest::newRow("41 From Out9") << 41 << QStringLiteral("From Out9");
        QTest::newRow("48 last copy") << 48 << QStringLiteral("From Out16");
    }

    void everyInputOffersTheSameFortyNineChoicesAndStartsWithNone() {
        QFETCH(int, item);
        QFETCH(QString, text);
        EdidPage page(sender_, readBack_, state_);
        for (int input = 1; input <= EdidPage::kInputs; ++input) {
            ChoiceBox* box = inputEdid(page, input);
            QVERIFY(box);
            QCOMPARE(box->count(), 49);
            QCOMPARE(box->itemText(item), text);
            QCOMPARE(box->selectedItem(), std::optional<int>());
            QCOMPARE(box->currentText(), QString());
            QCOMPARE(page.inputEdidChoice(input), std::optional<int>());
        }
    }

    void controlsCarryTheirTextsAndNames() {
        EdidPage page(sender_, readBack_, state_);
        for (int input = 1; input <= EdidPage::kInputs; ++input) {
            auto* label = page.findChild<QLabel*>(QStringLiteral("inputEdidLabel%1").arg(input));
            QVERIFY(label);
            QCOMPARE(label->text(), QStringLiteral("EDID:"));
            QCOMPARE(label->buddy(), inputEdid(page, input));
            QCOMPARE(inputEdid(page, input)->accessibleName(), QStringLiteral("Input %1 EDID").arg(input));
            QCOMPARE(applyButton(page, input)->text(), QStringLiteral("Apply to In%1").arg(input));
            // The rows stand one under the other in input order.
            if (input > 1) {
                QVERIFY(inputEdid(page, input)->y() > inputEdid(page, input - 1)->y());
            }
        }

        ChoiceBox* ports = readPort(page);
        QCOMPARE(ports->count(), 32);
        const QList<QPair<int, QString>> portItems = {{0, QStringLiteral("Out port 1")},
                                                      {15, QStringLiteral("Out port 16")},
                                                      {16, QStringLiteral("Input port 1")},
                                                      {31, QStringLiteral("Input port 16")}};
        for (const auto& [item, text] : portItems) {
            QCOMPARE(ports->itemText(item), text);
        }
        QCOMPARE(ports->selectedItem(), std::optional<int>());
        auto* readLabel = page.findChild<QLabel*>(QStringLiteral("readPortLabel"));
        QCOMPARE(readLabel->text(), QStringLiteral("EDID info(read from port):"));
        QCOMPARE(readLabel->buddy(), ports);

        ChoiceBox* slotBox = userSlot(page);
        QCOMPARE(slotBox->count(), 48);
        const QList<QPair<int, QString>> slotItems = {{0, QStringLiteral("In1 User 1")},
                                                      {2, QStringLiteral("In1 User 3")},
                                                      {3, QStringLiteral("In2 User 1")},
                                                      {47, QStringLiteral("In16 User 3")}};
        for (const auto& [item, text] : slotItems) {
            QCOMPARE(slotBox->itemText(item), text);
        }
        QCOMPARE(slotBox->selectedItem(), std::optional<int>());
        QVERIFY(!slotBox->accessibleName().isEmpty());

        QCOMPARE(button(page, "readButton")->text(), QStringLiteral("Read EDID data and save to file"));
        QCOMPARE(button(page, "loadButton")->text(), QStringLiteral("Load EDID file and write to input port"));
        auto* summaryLabel = page.findChild<QLabel*>(QStringLiteral("summaryLabel"));
        QCOMPARE(summaryLabel->text(), QStringLiteral("Basic EDID infomation:"));
        QCOMPARE(summaryLabel->buddy(), summaryEdit(page));
        QVERIFY(!summaryEdit(page)->isEnabled());
        QCOMPARE(summaryEdit(page)->toPlainText(), QString());
    }

    void applySendsTheCommandOfTheChoice_data() {
        QTest::addColumn<int>("input");
        QTest::addColumn<int>("choice");
        QTest::addColumn<Choose>("how");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("In9 User EDID3, typed") << 9 << 32 << Choose::ByTyping << QByteArray("\r\nSET IN9  EDID 32\r\n");
        QTest::newRow("In1 From Out1, reply")
            << 1 << 33 << Choose::ByReply << QByteArray("\r\nSET IN1  EDIDCY OUT 1 \r\n");
        QTest::newRow("In1 From Out9, list")
            << 1 << 41 << Choose::ByList << QByteArray("\r\nSET IN1  EDIDCY OUT 9 \r\n");
        QTest::newRow("In1 index 5, list") << 1 << 5 << Choose::ByList << QByteArray("\r\nSET IN1  EDID 05\r\n");
        QTest::newRow("In12 User EDID2, reply")
            << 12 << 31 << Choose::ByReply << QByteArray("\r\nSET IN12 EDID 31\r\n");
        QTest::newRow("In10 From Out16, typed")
            << 10 << 48 << Choose::ByTyping << QByteArray("\r\nSET IN10 EDIDCY OUT 16\r\n");
        QTest::newRow("In16 first item, typed with its blank")
            << 16 << 0 << Choose::ByTyping << QByteArray("\r\nSET IN16 EDID 00\r\n");
    }

    void applySendsTheCommandOfTheChoice() {
        QFETCH(int, input);
        QFETCH(int, choice);
        QFETCH(Choose, how);
        QFETCH(QByteArray, expected);
        EdidPage page(sender_, readBack_, state_);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        // A neighbour's choice must not leak into this input's command.
        page.selectInputEdid(input == 1 ? 2 : input - 1, 7);
        choose(inputEdid(page, input), choice, how);
        QCOMPARE(page.inputEdidChoice(input), choice);
        QTest::mouseClick(applyButton(page, input), Qt::LeftButton);
        QCOMPARE(sender_.sent.size(), std::size_t(1));
        QCOMPARE(QByteArray::fromStdString(sender_.sent.front()), expected);
        QCOMPARE(messages_, QStringList());
    }

    void applyWithoutAChoiceSendsNothingAndSaysNothing_data() {
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("typed");
        QTest::newRow("no reply yet") << -2 << QString();
        QTest::newRow("reply item beyond the list") << 49 << QString();
        QTest::newRow("reply of -1 after a choice") << -1 << QString();
        QTest::newRow("typed text naming no item") << 5 << QStringLiteral("User EDID4");
        QTest::newRow("typed in the wrong case") << 5 << QStringLiteral("user edid3");
        QTest::newRow("typed without the trailing blank") << 5 << QStringLiteral("1080P_2CH(PCM)");
    }

    void applyWithoutAChoiceSendsNothingAndSaysNothing() {
        QFETCH(int, item);
        QFETCH(QString, typed);
        EdidPage page(sender_, readBack_, state_);
        if (item != -2) {
            page.selectInputEdid(4, 3);
            page.selectInputEdid(4, item);
        }
        if (!typed.isEmpty()) {
            inputEdid(page, 4)->lineEdit()->clear();
            QTest::keyClicks(inputEdid(page, 4)->lineEdit(), typed);
        }
        QCOMPARE(page.inputEdidChoice(4), std::optional<int>());
        applyButton(page, 4)->click();
        QCOMPARE(sender_.calls, 0);
        QCOMPARE(messages_, QStringList());
    }

    void enterTakesTypedTextThatNamesAnItemWhateverItsCase() {
        EdidPage page(sender_, readBack_, state_);
        ChoiceBox* box = inputEdid(page, 6);
        box->setFocus();
        QTest::keyClicks(box->lineEdit(), QStringLiteral("user edid2"));
        QCOMPARE(page.inputEdidChoice(6), std::optional<int>());
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        QCOMPARE(page.inputEdidChoice(6), 31);
        QCOMPARE(box->count(), 49);
    }

    void applyWithThePortClosedSendsNothingAndSaysNothing() {
        sender_.portOpen = false;
        state_.portOpen = false;
        EdidPage page(sender_, readBack_, state_);
        page.selectInputEdid(3, 20);
        applyButton(page, 3)->click();
        QCOMPARE(sender_.calls, 1);
        QVERIFY(sender_.sent.empty());
        QCOMPARE(messages_, QStringList());
        QCOMPARE(page.inputEdidChoice(3), 20);
    }

    void replySelectsAnInputsChoiceAtOnce_data() {
        QTest::addColumn<int>("input");
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QString>("shown");
        QTest::newRow("IN7 EDID 12") << 7 << 12 << 12 << QStringLiteral("4K60HZ(4:4:4)_3D_2CH(PCM)");
        QTest::newRow("IN16 EDID 48") << 16 << 48 << 48 << QStringLiteral("From Out16");
        QTest::newRow("IN1 EDID 0") << 1 << 0 << 0 << QStringLiteral("1080P_2CH(PCM) ");
        QTest::newRow("item 49 clears") << 3 << 49 << -1 << QString();
        QTest::newRow("item 99 clears") << 3 << 99 << -1 << QString();
        QTest::newRow("-1 clears") << 3 << -1 << -1 << QString();
    }

    void replySelectsAnInputsChoiceAtOnce() {
        QFETCH(int, input);
        QFETCH(int, item);
        QFETCH(int, expected);
        QFETCH(QString, shown);
        EdidPage page(sender_, readBack_, state_);
        page.selectInputEdid(input, 5);
        page.selectInputEdid(input, item);
        QCOMPARE(page.inputEdidChoice(input).value_or(-1), expected);
        QCOMPARE(inputEdid(page, input)->currentText(), shown);
        for (int other = 1; other <= EdidPage::kInputs; ++other) {
            if (other != input) {
                QCOMPARE(page.inputEdidChoice(other), std::optional<int>());
            }
        }
    }

    // Text typed but not yet taken with Enter names an item; a reply without
    // a usable item must still leave no selection behind.
    void replyWithoutAnItemClearsTextTypedMeanwhile() {
        EdidPage page(sender_, readBack_, state_);
        QTest::keyClicks(inputEdid(page, 8)->lineEdit(), QStringLiteral("User EDID1"));
        QCOMPARE(page.inputEdidChoice(8), 30);
        page.selectInputEdid(8, 99);
        QCOMPARE(page.inputEdidChoice(8), std::optional<int>());
        QCOMPARE(inputEdid(page, 8)->currentText(), QString());
    }

    void replyForAnInputOutsideOneToSixteenChangesNothing() {
        EdidPage page(sender_, readBack_, state_);
        page.selectInputEdid(1, 4);
        page.selectInputEdid(16, 4);
        page.selectInputEdid(0, 9);
        page.selectInputEdid(17, 9);
        page.selectInputEdid(-1, 9);
        QCOMPARE(page.inputEdidChoice(1), 4);
        QCOMPARE(page.inputEdidChoice(16), 4);
        QCOMPARE(page.inputEdidChoice(0), std::optional<int>());
        QCOMPARE(page.inputEdidChoice(17), std::optional<int>());
    }

    void readSendsTheReadCommandAndArmsTheReadBack_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("choice");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("Out port 1") << 0 << 5 << QByteArray("\r\nGET OUT1  EDID  DATA\r\n")
                                    << QStringLiteral("Matrix_EDID_out1_%02d.bin");
        QTest::newRow("Out port 16") << 15 << -1 << QByteArray("\r\nGET OUT16 EDID  DATA\r\n")
                                     << QStringLiteral("Matrix_EDID_out16_%02d.bin");
        QTest::newRow("Input port 3 with index 7")
            << 18 << 7 << QByteArray("\r\nGET IN3  EDID 07 DATA\r\n") << QStringLiteral("Matrix_EDID_inp3_%02d.bin");
        QTest::newRow("Input port 16 with User EDID3")
            << 31 << 32 << QByteArray("\r\nGET IN16 EDID 32 DATA\r\n") << QStringLiteral("Matrix_EDID_inp16_%02d.bin");
        QTest::newRow("Input port 5 from Out2")
            << 20 << 34 << QByteArray() << QStringLiteral("Matrix_EDID_inp5_%02d.bin");
        QTest::newRow("Input port 7 without a choice")
            << 22 << -1 << QByteArray() << QStringLiteral("Matrix_EDID_inp7_%02d.bin");
    }

    void readSendsTheReadCommandAndArmsTheReadBack() {
        QFETCH(int, port);
        QFETCH(int, choice);
        QFETCH(QByteArray, expected);
        QFETCH(QString, pattern);
        EdidPage page(sender_, readBack_, state_);
        // The choice of the input read from (for outputs, of input 1, which
        // must not matter).
        page.selectInputEdid(port >= 16 ? port - 15 : 1, choice);
        choose(readPort(page), port, Choose::ByTyping);
        QTest::mouseClick(button(page, "readButton"), Qt::LeftButton);
        if (expected.isEmpty()) {
            QCOMPARE(sender_.calls, 0);
        } else {
            QCOMPARE(sender_.sent.size(), std::size_t(1));
            QCOMPARE(QByteArray::fromStdString(sender_.sent.front()), expected);
        }
        QVERIFY(readBack_.expected);
        QCOMPARE(QString::fromStdString(readBack_.expected->fileNamePattern), pattern);
        QCOMPARE(messages_, QStringList());
    }

    void readWithoutAPortAsksForOneAndLeavesTheReadBackAlone_data() {
        QTest::addColumn<QString>("typed");
        QTest::newRow("nothing chosen") << QString();
        QTest::newRow("typed port that is no item") << QStringLiteral("Out port 17");
    }

    void readWithoutAPortAsksForOneAndLeavesTheReadBackAlone() {
        QFETCH(QString, typed);
        EdidPage page(sender_, readBack_, state_);
        page.selectInputEdid(1, 3);
        QTest::keyClicks(readPort(page)->lineEdit(), typed);
        button(page, "readButton")->click();
        QCOMPARE(messages_, QStringList{kSelectTargetPort});
        QCOMPARE(sender_.calls, 0);
        QVERIFY(!readBack_.expected);
    }

    void readWithThePortClosedSaysNothingButArmsTheReadBack() {
        sender_.portOpen = false;
        state_.portOpen = false;
        EdidPage page(sender_, readBack_, state_);
        choose(readPort(page), 1, Choose::ByList);
        button(page, "readButton")->click();
        QCOMPARE(sender_.calls, 1);
        QVERIFY(sender_.sent.empty());
        QCOMPARE(messages_, QStringList());
        QVERIFY(readBack_.expected);
        QCOMPARE(readBack_.expected->fileNamePattern, std::string("Matrix_EDID_out2_%02d.bin"));
        QVERIFY(readBack_.expected->port == (mc::EdidPort{mc::EdidPort::Output, 2}));
    }

    void loadUploadsTheFileIntoTheChosenSlot_data() {
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QString>("summary");
        QTest::newRow("In16 User 3") << 47 << QStringLiteral("samsung.bin") << sample("025-samsung-sam0c4c")
                                     << QByteArray("SET IN16 EDID U3 DATA ") << kSamsungSummary;
        QTest::newRow("In1 User 1, 128 bytes") << 0 << QStringLiteral("base.bin") << sample("156-hannstar-hsd631b")
                                               << QByteArray("SET IN1 EDID U1 DATA ") << kHannstarSummary;
        QTest::newRow("In2 User 1, longer than 256")
            << 3 << QStringLiteral("long.bin") << sample("001-aoc-aoc2703") + QByteArray(300, '\x00')
            << QByteArray("SET IN2 EDID U1 DATA ") << kAocSummary;
        QTest::newRow("In9 User 2, dotted name") << 25 << QStringLiteral("my.edid.bin") << sample("001-aoc-aoc2703")
                                                 << QByteArray("SET IN9 EDID U2 DATA ") << kAocSummary;
        QTest::newRow("In10 User 1, empty file")
            << 27 << QStringLiteral("empty.bin") << QByteArray() << QByteArray("SET IN10 EDID U1 DATA ")
            << QString(); // whatever an all-FF image decodes to
    }

    void loadUploadsTheFileIntoTheChosenSlot() {
        QFETCH(int, slot);
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, head);
        QFETCH(QString, summary);
        EdidPage page(sender_, readBack_, state_);
        chooseFile(page, writeFile(name, bytes));
        choose(userSlot(page), slot, Choose::ByTyping);
        QTest::mouseClick(button(page, "loadButton"), Qt::LeftButton);

        QCOMPARE(messages_, QStringList{kUploadNote});
        QCOMPARE(sender_.sent.size(), std::size_t(1));
        // The first 256 bytes, a short file made up with FF.
        QByteArray image = bytes.left(256);
        image.append(QByteArray(256 - image.size(), '\xFF'));
        const QByteArray expected = head + image.toHex(' ').toUpper() + "\r\n";
        QCOMPARE(QByteArray::fromStdString(sender_.sent.front()), expected);
        QCOMPARE(expected.size(), head.size() + qsizetype{256 * 3 - 1 + 2});

        if (!summary.isNull()) {
            QCOMPARE(summaryEdit(page)->toPlainText(), summary);
        }
        QCOMPARE(page.reports(), mc::decodeEdid(imageOf(bytes)));
        QVERIFY(!page.summary().empty());
    }

    // The file still goes out as always, with no further message box; the
    // command's note (the traffic monitor's mark) and the log say what is wrong.
    void loadOfAnEdidWithErrorsStillSendsItAndSaysWhatIsWrong() {
        QByteArray bytes = sample("025-samsung-sam0c4c");
        const auto right = static_cast<unsigned char>(bytes[255]);
        bytes[255] = static_cast<char>(right + 1);
        const auto hex = [](unsigned v) { return QString::number(v & 0xFFU, 16).rightJustified(2, u'0').toUpper(); };
        const std::string finding = QStringLiteral("checksum of block 1 is 0x%1, should be 0x%2")
                                        .arg(hex(right + 1U), hex(right))
                                        .toStdString();
        QStringList logged;
        mc::setLogSink([&](mc::LogLevel level, std::string_view source, std::string_view text) {
            logged << QString::fromStdString(std::string(mc::logLevelName(level)) + " " + std::string(source) + ": " +
                                             std::string(text));
        });
        EdidPage page(sender_, readBack_, state_);
        const QString path = writeFile(QStringLiteral("broken.bin"), bytes);
        chooseFile(page, path);
        choose(userSlot(page), 47, Choose::ByTyping);
        QTest::mouseClick(button(page, "loadButton"), Qt::LeftButton);
        mc::setLogSink({});

        QCOMPARE(messages_, QStringList{kUploadNote});
        QCOMPARE(sender_.sent.size(), std::size_t(1));
        QCOMPARE(sender_.notes.front(), "EDID check: " + finding);
        QCOMPARE(logged, QStringList{QString::fromStdString(
                             std::string(mc::logLevelName(mc::LogLevel::Error)) + " EDID check: EDID file " +
                             QFile::encodeName(path).toStdString() + " for input 16 user slot 3: " + finding)});

        // A sound file carries no note.
        chooseFile(page, writeFile(QStringLiteral("sound.bin"), sample("025-samsung-sam0c4c")));
        QTest::mouseClick(button(page, "loadButton"), Qt::LeftButton);
        QCOMPARE(sender_.notes.size(), std::size_t(2));
        QCOMPARE(sender_.notes.back(), std::string());
    }

    void loadRefusesWhatIsNoEdidFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("capital BIN") << QStringLiteral("EDID.BIN") << QStringLiteral("file") << kNotBinFile;
        QTest::newRow("mixed-case Bin") << QStringLiteral("edid.Bin") << QStringLiteral("file") << kNotBinFile;
        QTest::newRow("no extension") << QStringLiteral("edid") << QStringLiteral("file") << kNotBinFile;
        QTest::newRow("bin not last") << QStringLiteral("edid.bin.txt") << QStringLiteral("file") << kNotBinFile;
        QTest::newRow("missing") << QStringLiteral("absent.bin") << QStringLiteral("none") << kFileReadFailed;
        QTest::newRow("missing BIN is unreadable first")
            << QStringLiteral("absent.BIN") << QStringLiteral("none") << kFileReadFailed;
        QTest::newRow("directory") << QStringLiteral("folder.bin") << QStringLiteral("dir") << kFileReadFailed;
    }

    void loadRefusesWhatIsNoEdidFile() {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, message);
        EdidPage page(sender_, readBack_, state_);
        page.showEdid(imageOf(sample("004-dell-dela1cf")));
        const mc::EdidReports before = page.reports();
        const QString summaryBefore = summaryEdit(page)->toPlainText();
        QString path = dir_->filePath(name);
        if (kind == QLatin1String("file")) {
            path = writeFile(name, sample("025-samsung-sam0c4c"));
        } else if (kind == QLatin1String("dir")) {
            QVERIFY(QDir(dir_->path()).mkdir(name));
        }
        chooseFile(page, path);
        choose(userSlot(page), 4, Choose::ByList);
        button(page, "loadButton")->click();
        QCOMPARE(messages_, QStringList{message});
        QCOMPARE(sender_.calls, 0);
        QCOMPARE(page.reports(), before);
        QCOMPARE(summaryEdit(page)->toPlainText(), summaryBefore);
    }

    void loadWithoutASlotAsksForOneBeforeAnyDialog_data() {
        QTest::addColumn<QString>("typed");
        QTest::newRow("nothing chosen") << QString();
        QTest::newRow("typed slot that is no item") << QStringLiteral("In17 User 1");
    }

    void loadWithoutASlotAsksForOneBeforeAnyDialog() {
        QFETCH(QString, typed);
        EdidPage page(sender_, readBack_, state_);
        int dialogs = 0;
        page.setFileChooser([&dialogs](QWidget*) {
            ++dialogs;
            return QString();
        });
        QTest::keyClicks(userSlot(page)->lineEdit(), typed);
        button(page, "loadButton")->click();
        QCOMPARE(messages_, QStringList{kSelectTargetPort});
        QCOMPARE(dialogs, 0);
        QCOMPARE(sender_.calls, 0);
    }

    void cancelledDialogDoesNothing() {
        EdidPage page(sender_, readBack_, state_);
        QWidget* dialogParent = nullptr;
        page.setFileChooser([&dialogParent](QWidget* parent) {
            dialogParent = parent;
            return QString();
        });
        choose(userSlot(page), 0, Choose::ByList);
        button(page, "loadButton")->click();
        QCOMPARE(dialogParent, &page);
        QCOMPARE(messages_, QStringList());
        QCOMPARE(sender_.calls, 0);
        QCOMPARE(page.summary(), std::string());
    }

    // With the port open, a command the channel refuses (its send queue full)
    // is no reason to ask for the port to be turned on.
    void uploadNoteFollowsThePortOpenFlagNotTheSendResult() {
        sender_.portOpen = false; // refuses every command
        EdidPage page(sender_, readBack_, state_);
        chooseFile(page, writeFile(QStringLiteral("edid.bin"), sample("025-samsung-sam0c4c")));
        choose(userSlot(page), 0, Choose::ByList);
        button(page, "loadButton")->click();
        QCOMPARE(sender_.calls, 1);
        QCOMPARE(messages_, QStringList{kUploadNote});
    }

    // Typed text on a shown page (where completion would act) is never
    // completed into an item: "Use" stays "Use" and selects nothing.
    void typedTextIsNotCompletedOnAShownPage() {
        EdidPage page(sender_, readBack_, state_);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        struct Typed {
            ChoiceBox* box;
            QString text;
        };
        for (const Typed& t :
             {Typed{inputEdid(page, 4), QStringLiteral("Use")}, Typed{readPort(page), QStringLiteral("Inp")},
              Typed{userSlot(page), QStringLiteral("In1")}}) {
            t.box->setFocus();
            QTest::keyClicks(t.box->lineEdit(), t.text);
            QCOMPARE(t.box->currentText(), t.text);
            QCOMPARE(t.box->lineEdit()->text(), t.text);
            QCOMPARE(t.box->selectedItem(), std::optional<int>());
        }
        QCOMPARE(page.inputEdidChoice(4), std::optional<int>());
        applyButton(page, 4)->click();
        button(page, "readButton")->click();
        QCOMPARE(sender_.calls, 0);
        QCOMPARE(messages_, QStringList{kSelectTargetPort});
    }

    void loadWithThePortClosedStillShowsTheFileAfterTheMessage() {
        sender_.portOpen = false;
        state_.portOpen = false;
        EdidPage page(sender_, readBack_, state_);
        QStringList summariesAtMessage;
        mc::setMessagePresenter([&](QWidget*, const QString& text) {
            messages_ << text;
            summariesAtMessage << summaryEdit(page)->toPlainText();
        });
        chooseFile(page, writeFile(QStringLiteral("edid.bin"), sample("025-samsung-sam0c4c")));
        choose(userSlot(page), 47, Choose::ByReply);
        button(page, "loadButton")->click();
        QCOMPARE(messages_, QStringList{kTurnOnPort});
        QCOMPARE(summariesAtMessage, QStringList{QString()});
        QCOMPARE(sender_.calls, 1);
        QVERIFY(sender_.sent.empty());
        QCOMPARE(summaryEdit(page)->toPlainText(), kSamsungSummary);
    }

    // The reply path's way in: each EDID replaces the last one's reports.
    void showEdidReplacesTheReportsAndTheSummary() {
        EdidPage page(sender_, readBack_, state_);
        page.showEdid(imageOf(sample("001-aoc-aoc2703")));
        page.showEdid(imageOf(sample("025-samsung-sam0c4c")));
        QCOMPARE(summaryEdit(page)->toPlainText(), kSamsungSummary);
        page.showEdid(imageOf(sample("156-hannstar-hsd631b")));
        QCOMPARE(summaryEdit(page)->toPlainText(), kHannstarSummary);
        QCOMPARE(page.summary(), std::string("Manufacture's Name:HSD\r\n"
                                             "Maximum Pixel Clock:180MHz\r\n"
                                             "Preferred Timing:1920x1080@60Hz\r\n"));
        QCOMPARE(page.reports(), mc::decodeEdid(imageOf(sample("156-hannstar-hsd631b"))));
        QCOMPARE(sender_.calls, 0);
    }

    void fillSummaryShowsTheReportsThePageHolds() {
        EdidPage page(sender_, readBack_, state_);
        QCOMPARE(summaryEdit(page)->toPlainText(), QString());
        page.showEdid(imageOf(sample("025-samsung-sam0c4c")));
        summaryEdit(page)->clear();
        page.fillSummary();
        QCOMPARE(summaryEdit(page)->toPlainText(), kSamsungSummary);
    }

    void enterOnThePageNeitherAppliesNorLeaks() {
        // A dialog, as the console is: its push buttons take Enter by default.
        QDialog window;
        auto* page = new EdidPage(sender_, readBack_, state_, &window);
        bool leaked = false;
        struct Watcher : QObject {
            bool* leaked;
            explicit Watcher(bool* flag) : leaked(flag) {}
            bool eventFilter(QObject*, QEvent* event) override {
                if (event->type() == QEvent::KeyPress) {
                    *leaked = true;
                }
                return false;
            }
        } watcher(&leaked);
        window.installEventFilter(&watcher);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        page->selectInputEdid(2, 4);
        QList<QWidget*> targets = {applyButton(*page, 2), inputEdid(*page, 2)->lineEdit(), readPort(*page)->lineEdit(),
                                   button(*page, "loadButton")};
        for (QWidget* target : targets) {
            target->setFocus();
            QTest::keyClick(target, Qt::Key_Return);
            QTest::keyClick(target, Qt::Key_Enter);
        }
        QVERIFY(!leaked);
        QCOMPARE(sender_.calls, 0);
        QCOMPARE(messages_, QStringList());
    }

    // In the console the page works on the console's own state, which the
    // reply path reads.
    void insideTheConsoleThePageSharesTheConsolesState() {
        mc::ConsoleWindow w;
        bool finished = false;
        connect(&w, &QDialog::finished, this, [&finished] { finished = true; });
        auto* tabs = w.findChild<QTabWidget*>(QStringLiteral("pageTabs"));
        QCOMPARE(tabs->widget(2), w.edidPage());
        QCOMPARE(tabs->tabText(2), QStringLiteral("EDID Management"));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        tabs->setCurrentIndex(2);
        EdidPage& page = *w.edidPage();

        choose(readPort(page), 16, Choose::ByList);
        QTest::mouseClick(button(page, "readButton"), Qt::LeftButton);
        QVERIFY(w.session().edidReadBack());
        QCOMPARE(w.session().edidReadBack()->fileNamePattern, std::string("Matrix_EDID_inp1_%02d.bin"));

        page.showEdid(imageOf(sample("001-aoc-aoc2703")));
        QCOMPARE(page.reports(), mc::decodeEdid(imageOf(sample("001-aoc-aoc2703"))));
        QCOMPARE(summaryEdit(page)->toPlainText(), kAocSummary);

        // Enter in a drop-down's edit field or on a button leaves the console open.
        const QList<QWidget*> targets = {inputEdid(page, 1)->lineEdit(), applyButton(page, 1),
                                         userSlot(page)->lineEdit()};
        for (QWidget* target : targets) {
            target->setFocus();
            QTest::keyClick(target, Qt::Key_Return);
            QTest::keyClick(target, Qt::Key_Enter);
        }
        QVERIFY(!finished);
        QVERIFY(w.isVisible());
        QCOMPARE(messages_, QStringList());
    }
};

QTEST_MAIN(EdidPageTest)
#include "edid_page_test.moc"
