#pragma once

class QButtonGroup;

namespace mc {

// Checks the radio with `id` in an exclusive group, or none of them when the
// group has no such radio (a stored selection of -1).
void checkRadioOrNone(QButtonGroup& group, int id);

} // namespace mc
