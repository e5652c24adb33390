#include "pages/edid_page.h"

#include "edid/edid_choices.h"
#include "edid/edid_decoder.h"
#include "edid/edid_file.h"
#include "edid/edid_summary.h"
#include "link/commands.h"
#include "session/console_state.h"
#include "session/edid_capture.h"
#include "widgets/choice_box.h"
#include "widgets/dialog_units.h"
#include "widgets/message_box.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

namespace mc {

namespace {

constexpr char kEdidLabel[] = "EDID:";
constexpr char kApplyPrefix[] = "Apply to In";
constexpr char kReadPortLabel[] = "EDID info(read from port):";
constexpr char kReadText[] = "Read EDID data and save to file";
constexpr char kLoadText[] = "Load EDID file and write to input port";
constexpr char kSummaryLabel[] = "Basic EDID infomation:";

constexpr char kSelectTargetPortMessage[] = "Please select the target port first";
constexpr char kFileReadFailedMessage[] = "File read failed";
constexpr char kNotBinFileMessage[] = "It is not bin file";
constexpr char kTurnOnPortMessage[] = "Please turn on the COM port first!";
constexpr char kUploadNoteMessage[] =
    "Note: EDID data is only saved to one of the 3 user define. If want to use this EDID data to this input, "
    "need to set the EDID of this input to the selected user define.";

constexpr char kFileFilter[] = "bin file(*.bin);;all file(*.*)";
// Compared letter for letter: "BIN" is no EDID file to the switcher's console.
constexpr char kBinExtension[] = "bin";

// Layout in dialog units, relative to the page: one row per input on the
// left, the read-back, the upload and the summary on the right.
constexpr int kRowTop = 8;
constexpr int kRowStep = 17;
constexpr int kRowHeight = 14;
constexpr int kLabelHeight = 8;
constexpr int kEdidLabelX = 8;
constexpr int kEdidLabelWidth = 22;
constexpr int kChoiceX = 32;
constexpr int kChoiceWidth = 120;
constexpr int kApplyX = 158;
constexpr int kApplyWidth = 60;

constexpr int kRightX = 236;
constexpr int kRightWidth = 220;
constexpr int kSelectorWidth = 100;
constexpr int kActionWidth = 170;
constexpr int kActionHeight = 15;
constexpr int kReadLabelY = 10;
constexpr int kReadPortY = 21;
constexpr int kReadButtonY = 41;
constexpr int kUserSlotY = 76;
constexpr int kLoadButtonY = 95;
constexpr int kSummaryLabelY = 131;
constexpr int kSummaryY = 142;
constexpr int kSummaryHeight = 135;

QStringList inputEdidItems() {
    QStringList items;
    for (const std::string_view item : kInputEdidItems) {
        items << QString::fromLatin1(item.data(), static_cast<qsizetype>(item.size()));
    }
    return items;
}

QStringList itemsOf(int count, std::string (*text)(int)) {
    QStringList items;
    for (int item = 0; item < count; ++item) {
        items << QString::fromStdString(text(item));
    }
    return items;
}

// The reports are byte strings with CR LF line ends; the edit wants one line
// break per line.
QString summaryForDisplay(const std::string& summary) {
    QString text = QString::fromLatin1(summary.data(), static_cast<qsizetype>(summary.size()));
    text.remove(QLatin1Char('\r'));
    return text;
}

QString defaultFileChooser(QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, QString(), QDir::currentPath(), QString::fromLatin1(kFileFilter));
}

} // namespace

EdidPage::EdidPage(CommandSender& sender, EdidReadBackStarter& readBack, const ConsoleState& state, QWidget* parent)
    : QWidget(parent), sender_(sender), readBack_(readBack), state_(state), chooseFile_(defaultFileChooser) {
    setObjectName(QStringLiteral("edidPage"));
    // The page lays itself out before the tab widget adopts it.
    setFont(dialogFont());
    // Controls are created in reading order, which is their tab order.
    buildInputRows();
    buildReadAndLoad();
    refresh();
}

void EdidPage::buildInputRows() {
    const DialogUnits du(font());
    const QStringList items = inputEdidItems();
    for (int input = 1; input <= kInputs; ++input) {
        const int y = kRowTop + (input - 1) * kRowStep;

        auto* label = new QLabel(QString::fromLatin1(kEdidLabel), this);
        label->setObjectName(QStringLiteral("inputEdidLabel%1").arg(input));
        label->setGeometry(du.rect(kEdidLabelX, y + (kRowHeight - kLabelHeight) / 2, kEdidLabelWidth, kLabelHeight));

        auto* choice = new ChoiceBox(items, this);
        choice->setObjectName(QStringLiteral("inputEdid%1").arg(input));
        // Sixteen labels read "EDID:"; the name says which input.
        choice->setNames(tr("Input %1 EDID").arg(input));
        const QRect rect = du.rect(kChoiceX, y, kChoiceWidth, kRowHeight);
        choice->setGeometry(rect.x(), rect.y(), rect.width(), choice->sizeHint().height());
        label->setBuddy(choice);
        inputEdid_[static_cast<std::size_t>(input - 1)] = choice;

        auto* apply = new QPushButton(QString::fromLatin1(kApplyPrefix) + QString::number(input), this);
        apply->setObjectName(QStringLiteral("applyIn%1").arg(input));
        // Inside the console dialog a push button would take Enter as a click.
        apply->setAutoDefault(false);
        apply->setGeometry(du.rect(kApplyX, y, kApplyWidth, kRowHeight));
        connect(apply, &QPushButton::clicked, this, [this, input] { applyEdid(input); });
    }
}

void EdidPage::buildReadAndLoad() {
    const DialogUnits du(font());
    const auto selector = [&](const QStringList& items, int y, const char* name) {
        auto* box = new ChoiceBox(items, this);
        box->setObjectName(QString::fromLatin1(name));
        const QRect rect = du.rect(kRightX, y, kSelectorWidth, kRowHeight);
        box->setGeometry(rect.x(), rect.y(), rect.width(), box->sizeHint().height());
        return box;
    };
    const auto action = [&](const char* text, int y, const char* name) {
        auto* button = new QPushButton(QString::fromLatin1(text), this);
        button->setObjectName(QString::fromLatin1(name));
        button->setAutoDefault(false);
        button->setGeometry(du.rect(kRightX, y, kActionWidth, kActionHeight));
        return button;
    };

    auto* readLabel = new QLabel(QString::fromLatin1(kReadPortLabel), this);
    readLabel->setObjectName(QStringLiteral("readPortLabel"));
    readLabel->setGeometry(du.rect(kRightX, kReadLabelY, kRightWidth, kLabelHeight));
    readPort_ = selector(itemsOf(kReadPortItemCount, readPortItemText), kReadPortY, "readPortSelector");
    readLabel->setBuddy(readPort_);
    readPort_->setNames(QString::fromLatin1(kReadPortLabel));
    connect(action(kReadText, kReadButtonY, "readButton"), &QPushButton::clicked, this, &EdidPage::readEdid);

    userSlot_ = selector(itemsOf(kUserSlotItemCount, userSlotItemText), kUserSlotY, "userSlotSelector");
    // No label of its own: the load button below says what the slot is for.
    userSlot_->setNames(tr("User EDID slot to write"));
    connect(action(kLoadText, kLoadButtonY, "loadButton"), &QPushButton::clicked, this, &EdidPage::loadEdid);

    auto* summaryLabel = new QLabel(QString::fromLatin1(kSummaryLabel), this);
    summaryLabel->setObjectName(QStringLiteral("summaryLabel"));
    summaryLabel->setGeometry(du.rect(kRightX, kSummaryLabelY, kRightWidth, kLabelHeight));
    summaryEdit_ = new QPlainTextEdit(this);
    summaryEdit_->setObjectName(QStringLiteral("edidSummary"));
    summaryEdit_->setGeometry(du.rect(kRightX, kSummaryY, kRightWidth, kSummaryHeight));
    summaryEdit_->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Display only.
    summaryEdit_->setEnabled(false);
    summaryLabel->setBuddy(summaryEdit_);
}

std::optional<int> EdidPage::inputEdidChoice(int input) const {
    if (!isValidPort(input)) {
        return std::nullopt;
    }
    return inputEdid_[static_cast<std::size_t>(input - 1)]->selectedItem();
}

void EdidPage::selectInputEdid(int input, std::optional<int> item) {
    if (!isValidPort(input)) {
        return;
    }
    inputEdid_[static_cast<std::size_t>(input - 1)]->selectItem(item);
}

void EdidPage::refresh() {
    summaryEdit_->setPlainText(summaryForDisplay(summary_));
}

void EdidPage::fillSummary() {
    summary_ = fillEdidSummary(reports_);
    refresh();
}

void EdidPage::showEdid(const EdidImage& image) {
    reports_ = decodeEdid(image);
    fillSummary();
}

void EdidPage::setFileChooser(FileChooser chooser) {
    chooseFile_ = chooser ? std::move(chooser) : FileChooser(defaultFileChooser);
}

// An input whose choice is empty (no EDID status reply yet, or typed text that
// names no item) has no EDID to apply: nothing is sent and, as with the port
// closed, nothing is said; the empty drop-down beside the button shows why.
void EdidPage::applyEdid(int input) {
    const auto choice = inputEdidChoice(input);
    if (!choice) {
        return;
    }
    if (const auto command = applyEdidChoiceCommand(input, *choice)) {
        sender_.send(*command);
    }
}

void EdidPage::readEdid() {
    const auto item = readPort_->selectedItem();
    const auto port = item ? readPortOfItem(*item) : std::nullopt;
    if (!port) {
        showMessage(this, QString::fromLatin1(kSelectTargetPortMessage));
        return;
    }
    // The read-back mode is on before the command leaves, so no reply can
    // overtake it. It is set also when nothing is sent (a "From Out" choice,
    // an empty choice, the port closed): the next EDID data line ends it.
    readBack_.expectEdid(EdidReadBack{*port, edidReadFilePattern(*port)});
    if (port->kind == EdidPort::Output) {
        if (const auto command = readOutputEdidCommand(port->port)) {
            sender_.send(*command);
        }
        return;
    }
    // The input read names the input's own EDID source; a copied EDID (33 and
    // above) or an empty choice has none, and nothing is sent, as for a copy.
    const auto choice = inputEdidChoice(port->port);
    if (!choice) {
        return;
    }
    if (const auto command = readInputEdidCommand(port->port, *choice)) {
        sender_.send(*command);
    }
}

void EdidPage::loadEdid() {
    const auto item = userSlot_->selectedItem();
    const auto slot = item ? userSlotOfItem(*item) : std::nullopt;
    if (!slot) {
        showMessage(this, QString::fromLatin1(kSelectTargetPortMessage));
        return;
    }
    const QString path = chooseFile_(this);
    if (path.isEmpty()) {
        return;
    }
    // The first 256 bytes are what goes out; a shorter file leaves the rest
    // of the image at 0xFF.
    const std::string file = QFile::encodeName(path).toStdString();
    const auto bytes = readRegularFile(file, kEdidImageBytes);
    if (!bytes) {
        showMessage(this, QString::fromLatin1(kFileReadFailedMessage));
        return;
    }
    const EdidImage image = edidImageFromBytes(*bytes);
    if (QFileInfo(path).suffix() != QLatin1String(kBinExtension)) {
        showMessage(this, QString::fromLatin1(kNotBinFileMessage));
        return;
    }

    if (auto command = uploadEdidCommand(slot->input, slot->slot, image)) {
        // A file with errors still goes out (the operator chose it); the log
        // and the command's row in the traffic monitor say what is wrong.
        const std::string findings =
            logEdidFindings(*bytes, "file " + file + " for input " + std::to_string(slot->input) + " user slot " +
                                        std::to_string(slot->slot));
        if (!findings.empty()) {
            command->setNote(std::string(kEdidCheckNote) + findings);
        }
        sender_.send(*command);
    }
    // The note follows the port-open flag, not the send's result: a command
    // the channel refuses with the port open (a full send queue) is no closed
    // port.
    showMessage(this, QString::fromLatin1(state_.portOpen ? kUploadNoteMessage : kTurnOnPortMessage));
    // Shown whether or not it went out: the operator sees what the file holds.
    showEdid(image);
}

void EdidPage::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace mc
