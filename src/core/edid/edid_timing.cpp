#include "edid/edid_timing.h"

#include <cassert>

namespace mc::edid {

DetailedTiming readDetailedTiming(EdidImageView image, std::size_t start) {
    assert(inImage(start, kDescriptorBytes));
    const auto byte = [&](std::size_t k) -> unsigned { return image[start + k]; };
    const unsigned pixelClock = byte(0) + 256U * byte(1);
    const unsigned hActive = byte(2) + 256U * (byte(4) >> 4U);
    const unsigned hBlank = byte(3) + 256U * (byte(4) & 0x0FU);
    const unsigned vActive = byte(5) + 256U * (byte(7) >> 4U);
    const unsigned vBlank = byte(6) + 256U * (byte(7) & 0x0FU);

    DetailedTiming timing;
    timing.interlaced = (byte(17) & 0x80U) != 0;
    timing.width = static_cast<int>(hActive);
    timing.height = static_cast<int>(timing.interlaced ? 2 * vActive : vActive);
    timing.refreshHz = refreshRate(pixelClock, hActive + hBlank, vActive + vBlank);
    return timing;
}

bool isTimingSlotUsed(EdidImageView image, std::size_t start) {
    assert(inImage(start, 2));
    return image[start] != 0 && image[start + 1] != 0;
}

int refreshRate(unsigned pixelClock, unsigned horizontalTotal, unsigned verticalTotal) {
    if (horizontalTotal == 0 || verticalTotal == 0) {
        return 0;
    }
    // Floating point, the two divisions in this order, then +0.5 and truncation:
    // the rounding of the console's own figures depends on it. At most
    // 65535 * 10000 Hz, well inside an int.
    const double rate = pixelClock * 10000.0 / horizontalTotal / verticalTotal + 0.5;
    return static_cast<int>(rate);
}

} // namespace mc::edid
