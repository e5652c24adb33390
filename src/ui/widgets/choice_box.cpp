#include "widgets/choice_box.h"

#include <QLineEdit>

namespace mc {

namespace {

constexpr int kNoIndex = -1;

} // namespace

ChoiceBox::ChoiceBox(const QStringList& items, QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    // Typed text never becomes an item of its own.
    setInsertPolicy(QComboBox::NoInsert);
    // Nor is it completed into one: "Use" stays "Use" and selects nothing,
    // instead of turning into the first item that starts with it.
    setCompleter(nullptr);
    // Enter takes typed text that names an item whatever its case ("user
    // edid2" picks "User EDID2"); without a completer the box itself matches
    // case-sensitively only.
    connect(lineEdit(), &QLineEdit::returnPressed, this, [this] {
        const int item = findText(currentText(), Qt::MatchFixedString);
        if (item >= 0) {
            setCurrentIndex(item);
        }
    });
    addItems(items);
    selectItem(std::nullopt);
}

void ChoiceBox::setNames(const QString& name) {
    setAccessibleName(name);
    lineEdit()->setAccessibleName(name);
}

std::optional<int> ChoiceBox::selectedItem() const {
    // Exact and case-sensitive: trailing blanks and "Hz"/"HZ" are part of
    // the items' names.
    const int item = findText(currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (item < 0) {
        return std::nullopt;
    }
    return item;
}

void ChoiceBox::selectItem(std::optional<int> item) {
    // Also rewrites the edit field, to the item's text or to nothing.
    setCurrentIndex(item && *item >= 0 && *item < count() ? *item : kNoIndex);
}

} // namespace mc
