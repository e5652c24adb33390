#include "widgets/choice_box.h"

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
    addItems(items);
    selectItem(std::nullopt);
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
