#pragma once

#include <QComboBox>
#include <QStringList>

namespace mc {

// A drop-down with an edit field, as the switcher's console has them. Its
// selection is the item whose text the edit field holds, letter for letter:
// text typed there that names no item is no selection, whatever item was
// picked before.
class ChoiceBox : public QComboBox {
    Q_OBJECT
public:
    static constexpr int kNoItem = -1;

    explicit ChoiceBox(const QStringList& items, QWidget* parent = nullptr);

    // The selected item, or kNoItem.
    [[nodiscard]] int selectedItem() const;
    // Selects the item; an item the box does not have clears the selection
    // and the edit field.
    void selectItem(int item);
};

} // namespace mc
