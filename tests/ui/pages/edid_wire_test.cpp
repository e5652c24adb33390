// The EDID management page in the real console window, read at the far end of
// the line: apply, read-back and upload commands arrive exactly, and nothing
// leaves while the port is closed.
#include "pages/edid_page.h"
#include "pages/routing_page.h"
#include "support/console_driver.h"
#include "support/pty_peer.h"
#include "widgets/choice_box.h"
#include "widgets/message_box.h"
#include "window/console_window.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using mc::ChoiceBox;
using mc::ConsoleWindow;
using mc::test::PtyPeer;
using namespace std::chrono_literals;
using namespace mc::test;

namespace {

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

// The upload line for these bytes, padded with FF to 256, built here by hand.
std::string uploadLine(int input, int slot, QByteArray bytes) {
    bytes = bytes.left(256);
    bytes.append(QByteArray(256 - bytes.size(), '\xff'));
    return "SET IN" + std::to_string(input) + " EDID U" + std::to_string(slot) + " DATA " +
           bytes.toHex(' ').toUpper().toStdString() + "\r\n";
}

} // namespace

class EdidWireTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ConsoleTestEnvironment> env_;
    std::unique_ptr<PtyPeer> com1_;
    std::unique_ptr<ConsoleWindow> window_;
    std::unique_ptr<QTemporaryDir> files_;
    QStringList messages_;

    [[nodiscard]] mc::EdidPage& page() const { return *window_->edidPage(); }
    [[nodiscard]] ChoiceBox* choice(const QString& name) const { return page().findChild<ChoiceBox*>(name); }
    [[nodiscard]] QPushButton* button(const QString& name) const { return page().findChild<QPushButton*>(name); }

    // Picks an item from a drop-down's list.
    static void pick(ChoiceBox* box, int item) {
        box->setCurrentIndex(item);
        QCOMPARE(box->selectedItem(), item);
    }

    [[nodiscard]] QString writeFile(const QString& name, const QByteArray& bytes) const {
        QString path = files_->filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            qFatal("cannot write %s", qPrintable(path));
        }
        return path;
    }

    void upload(int slotItem, const QString& path) const {
        page().setFileChooser([path](QWidget*) { return path; });
        pick(choice(QStringLiteral("userSlotSelector")), slotItem);
        click(button(QStringLiteral("loadButton")));
    }

private slots:
    void init() {
        env_ = std::make_unique<ConsoleTestEnvironment>(messages_);
        QVERIFY(env_->isValid());
        files_ = std::make_unique<QTemporaryDir>();
        QVERIFY(files_->isValid());
        com1_ = PtyPeer::create();
        QVERIFY(com1_ && com1_->linkAs(env_->ports().path(), 1));
        window_ = showConsoleWithPortOpen();
        QVERIFY(window_);
        showTab(*window_, EdidTab);
    }

    void cleanup() {
        window_.reset();
        com1_.reset();
        files_.reset();
        env_.reset();
    }

    void applySendsTheFormOfTheChoice_data() {
        QTest::addColumn<int>("input");
        QTest::addColumn<int>("item");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("In1 built-in 5") << 1 << 5 << QByteArray("\r\nSET IN1  EDID 05\r\n");
        QTest::newRow("In9 User EDID3") << 9 << 32 << QByteArray("\r\nSET IN9  EDID 32\r\n");
        QTest::newRow("In12 User EDID2") << 12 << 31 << QByteArray("\r\nSET IN12 EDID 31\r\n");
        QTest::newRow("In1 From Out1") << 1 << 33 << QByteArray("\r\nSET IN1  EDIDCY OUT 1 \r\n");
        QTest::newRow("In10 From Out16") << 10 << 48 << QByteArray("\r\nSET IN10 EDIDCY OUT 16\r\n");
    }

    void applySendsTheFormOfTheChoice() {
        QFETCH(int, input);
        QFETCH(int, item);
        QFETCH(QByteArray, bytes);
        pick(choice(QStringLiteral("inputEdid%1").arg(input)), item);
        click(button(QStringLiteral("applyIn%1").arg(input)));
        QCOMPARE(visible(receive(*com1_, bytes.size())), visible(bytes.toStdString()));
    }

    void readSendsTheReadCommandAndArmsTheFile_data() {
        QTest::addColumn<int>("portItem");
        QTest::addColumn<int>("inputChoice"); // for input port reads
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("Out port 1") << 0 << -1 << QByteArray("\r\nGET OUT1  EDID  DATA\r\n")
                                    << QStringLiteral("Matrix_EDID_out1_%02d.bin");
        QTest::newRow("Out port 16") << 15 << -1 << QByteArray("\r\nGET OUT16 EDID  DATA\r\n")
                                     << QStringLiteral("Matrix_EDID_out16_%02d.bin");
        QTest::newRow("Input port 3 built-in 7")
            << 18 << 7 << QByteArray("\r\nGET IN3  EDID 07 DATA\r\n") << QStringLiteral("Matrix_EDID_inp3_%02d.bin");
        QTest::newRow("Input port 16 User EDID1")
            << 31 << 30 << QByteArray("\r\nGET IN16 EDID 30 DATA\r\n") << QStringLiteral("Matrix_EDID_inp16_%02d.bin");
        // A copied EDID has no source index to read: nothing is sent.
        QTest::newRow("Input port 5 From Out2")
            << 20 << 34 << QByteArray() << QStringLiteral("Matrix_EDID_inp5_%02d.bin");
    }

    void readSendsTheReadCommandAndArmsTheFile() {
        QFETCH(int, portItem);
        QFETCH(int, inputChoice);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, pattern);
        if (inputChoice >= 0) {
            pick(choice(QStringLiteral("inputEdid%1").arg(portItem - 15)), inputChoice);
        }
        pick(choice(QStringLiteral("readPortSelector")), portItem);
        click(button(QStringLiteral("readButton")));
        QCOMPARE(visible(receive(*com1_, std::max<qsizetype>(bytes.size(), 1), 1s)), visible(bytes.toStdString()));
        QVERIFY(window_->session().edidReadBack());
        QCOMPARE(QString::fromStdString(window_->session().edidReadBack()->fileNamePattern), pattern);
        QVERIFY(messages_.isEmpty());
    }

    void uploadSendsTheFilePaddedToAFullImage_data() {
        QTest::addColumn<int>("slotItem");
        QTest::addColumn<int>("input");
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("fileBytes");
        QTest::newRow("In1 User 1, 256 bytes") << 0 << 1 << 1 << 256;
        QTest::newRow("In16 User 3, 128 bytes") << 47 << 16 << 3 << 128;
        QTest::newRow("In10 User 2, 300 bytes") << 28 << 10 << 2 << 300;
    }

    void uploadSendsTheFilePaddedToAFullImage() {
        QFETCH(int, slotItem);
        QFETCH(int, input);
        QFETCH(int, slot);
        QFETCH(int, fileBytes);
        QByteArray bytes = sample("228-samsung-sam0d34");
        bytes = bytes.leftJustified(fileBytes, '\x5a', true);
        upload(slotItem, writeFile(QStringLiteral("upload.bin"), bytes));
        const std::string expected = uploadLine(input, slot, bytes);
        QCOMPARE(expected.size(), input < 10 ? std::size_t{790} : std::size_t{791});
        QCOMPARE(visible(receive(*com1_, expected.size())), visible(expected));
        QCOMPARE(messages_, QStringList{kUploadNote});
        QVERIFY(page().summary().starts_with("Manufacture's Name:SAM\r\n"));
    }

    // The read-back announces its file in a real modal box, and the EDID mode
    // ends only after it: the reply right behind the EDID line arrives while
    // the box is open and must still be taken as a reply, not dropped as a
    // line of the EDID mode.
    void replyBehindTheReadBackWaitsForTheSavedMessage() {
        mc::setMessagePresenter({});
        pick(choice(QStringLiteral("readPortSelector")), 1);
        click(button(QStringLiteral("readButton")));
        const std::string command = "\r\nGET OUT2  EDID  DATA\r\n";
        QCOMPARE(visible(receive(*com1_, command.size())), visible(command));

        QByteArray image = sample("228-samsung-sam0d34");
        QString caption;
        QString text;
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                return;
            }
            closer.stop();
            caption = box->windowTitle();
            text = box->text();
            // The routing reply arrives while the box is open.
            QTest::qWait(200);
            box->button(QMessageBox::Ok)->click();
        });
        closer.start(10);
        QVERIFY(com1_->write("\r\nOUT2 EDID DATA " + image.toHex(' ').toStdString() + "\r\nOUT7 VS IN9\r\n"));

        QTRY_COMPARE_WITH_TIMEOUT(window_->routingPage(0)->outputSelection(6), 8, 5000);
        QCOMPARE(caption, QStringLiteral("ZODU 4Z Uzaduz"));
        QCOMPARE(text, QStringLiteral("Save to file: Matrix_EDID_out2_00.bin"));
        QFile saved(env_->filePath(QStringLiteral("Matrix_EDID_out2_00.bin")));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), image);
        QVERIFY(!window_->session().edidReadBack());
        QVERIFY(page().summary().starts_with("Manufacture's Name:SAM\r\n"));
    }

    // With the port closed nothing of the page reaches the line, not then and
    // not once the port is open again; the upload says so and still shows the
    // file's summary.
    void withThePortClosedNothingIsSentNowOrLater() {
        click(portButton(*window_));
        QVERIFY(!window_->state().portOpen);

        pick(choice(QStringLiteral("inputEdid2")), 31);
        click(button(QStringLiteral("applyIn2")));
        pick(choice(QStringLiteral("readPortSelector")), 3);
        click(button(QStringLiteral("readButton")));
        upload(5, writeFile(QStringLiteral("closed.bin"), sample("228-samsung-sam0d34")));
        QCOMPARE(messages_, QStringList{QStringLiteral("Please turn on the COM port first!")});
        QVERIFY(page().summary().starts_with("Manufacture's Name:SAM\r\n"));

        click(portButton(*window_));
        QVERIFY(window_->state().portOpen);
        QCOMPARE(visible(com1_->readAll(100ms, 500ms)), QByteArray());
    }
};

QTEST_MAIN(EdidWireTest)
#include "edid_wire_test.moc"
