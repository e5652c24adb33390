#pragma once

#include <optional>

class QButtonGroup;

namespace mc {

// Checks the radio with `id` in an exclusive group, or none of them when there
// is no id or the group has no such radio.
void checkRadioOrNone(QButtonGroup& group, std::optional<int> id);

} // namespace mc
