#include "widgets/radio_group.h"

#include <QAbstractButton>
#include <QButtonGroup>

namespace mc {

void checkRadioOrNone(QButtonGroup& group, int id) {
    if (QAbstractButton* stored = group.button(id)) {
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
