#include "pages/routing_page.h"

#include "link/commands.h"
#include "widgets/dialog_units.h"
#include "widgets/radio_group.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>

namespace mc {

namespace {

// The page's layout in dialog units, relative to the page.
constexpr int kGroupX = 7;
constexpr int kGroupWidth = 456;
constexpr int kGroupHeight = 31;
constexpr std::array<int, RoutingPage::kRows> kGroupY = {9, 45, 80, 116, 151, 185, 224, 261};

constexpr int kRadioHeight = 10;
constexpr std::array<int, RoutingPage::kRows> kRadioRowY = {22, 59, 94, 130, 165, 199, 238, 274};
constexpr std::array<int, RoutingPage::kInputs> kRadioX = {18,  44,  70,  94,  118, 144, 169, 194,
                                                           218, 244, 275, 307, 337, 367, 398, 429};
constexpr std::array<int, RoutingPage::kInputs> kRadioWidth = {23, 23, 23, 23, 23, 23, 23, 23,
                                                               23, 29, 30, 29, 29, 30, 30, 32};

// The layout's irregular spots: the "In1" radios of rows 6 to 8 stand a
// little off their column, and "In9" to "In16" of row 8 one unit lower.
constexpr int firstRadioX(int row) {
    switch (row) {
    case 5:
    case 6:
        return 17;
    case 7:
        return 19;
    default:
        return kRadioX[0];
    }
}

constexpr int radioY(int row, int input) {
    return (row == RoutingPage::kRows - 1 && input >= 8) ? kRadioRowY[row] + 1 : kRadioRowY[row];
}

constexpr char kOutputPrefix[] = "Output";
constexpr char kInputPrefix[] = "In";

} // namespace

RoutingPage::RoutingPage(Bank bank, CommandSender& sender, QWidget* parent)
    : QWidget(parent), bank_(bank), sender_(sender) {
    setObjectName(bank == FirstBank ? QStringLiteral("routingPage1") : QStringLiteral("routingPage2"));
    // The page lays itself out before the tab widget adopts it, so it takes
    // the console's dialog font itself.
    setFont(dialogFont());
    for (int row = 0; row < kRows; ++row) {
        buildRow(row);
    }
    refresh();
}

int RoutingPage::outputOfRow(int row) const {
    return row + 1 + (bank_ == SecondBank ? kRows : 0);
}

void RoutingPage::buildRow(int row) {
    const DialogUnits du(font());
    const int output = outputOfRow(row);

    // The first row's caption carries a trailing blank: the page's texts are
    // kept letter for letter (see console_window.cpp), and screen readers
    // and tests find the group by it.
    QString title = QString::fromLatin1(kOutputPrefix) + QString::number(output);
    if (row == 0) {
        title += QLatin1Char(' ');
    }
    auto* box = new QGroupBox(title, this);
    box->setObjectName(QStringLiteral("outputGroup%1").arg(output));
    const QRect boxRect = du.rect(kGroupX, kGroupY[row], kGroupWidth, kGroupHeight);
    box->setGeometry(boxRect);

    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    rowGroups_[row] = group;
    for (int input = 0; input < kInputs; ++input) {
        auto* radio = new QRadioButton(QString::fromLatin1(kInputPrefix) + QString::number(input + 1), box);
        radio->setObjectName(QStringLiteral("out%1In%2").arg(output).arg(input + 1));
        const int x = input == 0 ? firstRadioX(row) : kRadioX[input];
        // Radios sit in their row's box, so assistive technology reads the
        // output as their context; the layout's coordinates are the page's.
        radio->setGeometry(
            du.rect(x, radioY(row, input), kRadioWidth[input], kRadioHeight).translated(-boxRect.topLeft()));
        // No tab stop: 16 stops a row would take the keyboard through 128
        // radios per page; a row is entered with the mouse and its arrow keys.
        radio->setFocusPolicy(Qt::ClickFocus);
        group->addButton(radio, input);
        // clicked, not toggled: a click on the checked radio routes again.
        connect(radio, &QAbstractButton::clicked, this, [this, row, input] { route(row, input); });
    }
}

void RoutingPage::route(int row, int input) {
    if (const auto command = routingCommand(outputOfRow(row), input + 1)) {
        sender_.send(*command);
    }
}

std::optional<int> RoutingPage::outputSelection(int row) const {
    if (row < 0 || row >= kRows) {
        return std::nullopt;
    }
    return selections_[static_cast<std::size_t>(row)];
}

void RoutingPage::setRowSelection(int row, std::optional<int> input) {
    if (row < 0 || row >= kRows) {
        return;
    }
    const bool usable = input && *input >= 0 && *input < kInputs;
    selections_[static_cast<std::size_t>(row)] = usable ? input : std::nullopt;
}

void RoutingPage::setOutputSelection(int output, std::optional<int> input) {
    const int row = output - outputOfRow(0);
    if (row >= 0 && row < kRows) {
        setRowSelection(row, input);
    }
}

void RoutingPage::refresh() {
    for (int row = 0; row < kRows; ++row) {
        checkRadioOrNone(*rowGroups_[static_cast<std::size_t>(row)], selections_[static_cast<std::size_t>(row)]);
    }
}

QRadioButton* RoutingPage::radio(int row, int input) const {
    if (row < 0 || row >= kRows || input < 0 || input >= kInputs) {
        return nullptr;
    }
    return qobject_cast<QRadioButton*>(rowGroups_[static_cast<std::size_t>(row)]->button(input));
}

} // namespace mc
