#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace mc {

// Gap between a window and the one it is placed beside, in pixels.
inline constexpr int kBesideGap = 8;

// Where the top-left corner of a window of frame `size` goes beside the
// window whose frame is `anchor`, within `available` (the available geometry
// of the anchor's screen: the screen without its panels). Right of the
// anchor when it fits there, else left of it, else as far right as the
// screen allows (covering part of the anchor); its top level with the
// anchor's, moved up or down to stay on the screen. A window bigger than the
// screen keeps its top-left corner on it.
[[nodiscard]] QPoint placeBeside(const QRect& anchor, const QSize& size, const QRect& available);

} // namespace mc
