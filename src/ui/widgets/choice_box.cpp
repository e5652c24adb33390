#include "widgets/choice_box.h"

namespace mc {

ChoiceBox::ChoiceBox(const QStringList& items, QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    // Typed text never becomes an item of its own.
    setInsertPolicy(QComboBox::NoInsert);
    addItems(items);
    selectItem(kNoItem);
}

int ChoiceBox::selectedItem() const {
    // Exact and case-sensitive: trailing blanks and "Hz"/"HZ" are part of
    // the items' names.
    return findText(currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void ChoiceBox::selectItem(int item) {
    // Also rewrites the edit field, to the item's text or to nothing.
    setCurrentIndex(item >= 0 && item < count() ? item : kNoItem);
}

} // namespace mc
