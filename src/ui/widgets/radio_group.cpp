#include "widgets/radio_group.h"

#include <QAbstractButton>
#include <QButtonGroup>

namespace mc {

void checkRadioOrNone(QButtonGroup& group, std::optional<int> id) {
    if (QAbstractButton* stored = id ? group.button(*id) : nullptr) {
        stored->setChecked(true);
        return;
    }
    // An exclusive group keeps one radio checked; lift that for a moment to
    // clear them all.
    const bool exclusive = group.exclusive();
    group.setExclusive(false);
    for (QAbstractButton* button : group.buttons()) {
        button->setChecked(false);
    }
    group.setExclusive(exclusive);
}

} // namespace mc
