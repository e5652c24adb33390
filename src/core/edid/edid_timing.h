#pragma once

#include "edid/edid_image.h"

namespace mc::edid {

inline constexpr std::size_t kDescriptorBytes = 18;
inline constexpr std::size_t kPreferredTimingStart = 54;

// What a timing line shows of an 18-byte detailed timing descriptor.
struct DetailedTiming {
    int width = 0;
    // Twice the field's active lines for an interlaced timing.
    int height = 0;
    // The field rate for an interlaced timing.
    int refreshHz = 0;
    bool interlaced = false;

    friend bool operator==(const DetailedTiming&, const DetailedTiming&) = default;
};

// The descriptor at `start`; all of its 18 bytes must lie in the image.
DetailedTiming readDetailedTiming(EdidImageView image, std::size_t start);

// A descriptor slot counts as a timing only when both pixel clock bytes are
// non-zero: this skips display descriptors, and also a timing whose pixel
// clock happens to have a zero low byte.
bool isTimingSlotUsed(EdidImageView image, std::size_t start);

// Pixel clock in 10 kHz units over the totals, rounded half up. 0 when a
// total is 0 (a display descriptor in a timing position): the division has
// no result, and 0 Hz reads as "no rate" to the operator.
int refreshRate(unsigned pixelClock, unsigned horizontalTotal, unsigned verticalTotal);

} // namespace mc::edid
