#include "widgets/window_placement.h"

#include <algorithm>

namespace mc {

QPoint placeBeside(const QRect& anchor, const QSize& size, const QRect& available) {
    // QRect::right() is the last pixel column; the edges here are one past it.
    const int availableEnd = available.x() + available.width();
    const int availableBottom = available.y() + available.height();
    const int right = anchor.x() + anchor.width() + kBesideGap;
    const int left = anchor.x() - kBesideGap - size.width();
    int x = 0;
    if (right + size.width() <= availableEnd) {
        x = right;
    } else if (left >= available.x()) {
        x = left;
    } else {
        x = std::max(available.x(), availableEnd - size.width());
    }
    const int y = std::clamp(anchor.y(), available.y(), std::max(available.y(), availableBottom - size.height()));
    return {std::max(x, available.x()), y};
}

} // namespace mc
