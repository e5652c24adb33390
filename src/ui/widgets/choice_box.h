#pragma once

#include <QComboBox>
#include <QStringList>
#include <optional>

namespace mc {

// A drop-down with an edit field. Its selection is the item whose text the edit field holds, letter for letter:
// text typed there that names no item is no selection, whatever item was
// picked before. Typed text is never completed, so what the operator typed is
// what counts.
class ChoiceBox : public QComboBox {
    Q_OBJECT
public:
    explicit ChoiceBox(const QStringList& items, QWidget* parent = nullptr);

    // The selected item, or std::nullopt.
    [[nodiscard]] std::optional<int> selectedItem() const;
    // Selects the item; std::nullopt or an item the box does not have clears
    // the selection and the edit field.
    void selectItem(std::optional<int> item);

    // Names the box and its edit field for assistive technology, which meets
    // them as two elements.
    void setNames(const QString& name);
};

} // namespace mc
