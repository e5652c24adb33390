#pragma once

#include <QIcon>

namespace mc {

// The three icons of the console, drawn as SVG resources.
QIcon applicationIcon();
QIcon openPortIcon();
QIcon closedPortIcon();

} // namespace mc
