// Video report: the base block's detailed timings, the extension's timings
// and the short video descriptors.
#include "edid/edid_decoder.h"
#include "edid/edid_report_parts.h"
#include "edid/edid_tables.h"
#include "edid/edid_text.h"
#include "edid/edid_timing.h"

#include <array>

namespace mc::edid {
namespace {

constexpr std::array<std::size_t, 3> kFurtherTimingStarts = {72, 90, 108};
// Extension timings are listed only when the first slot starts below 255.
constexpr std::size_t kLastTimingSlotStart = 254;
// The slot count the firmware computes: (144 - d) / 18.
constexpr std::size_t kTimingSlotSpan = 144;
constexpr unsigned kVicMask = 0x7F;
constexpr unsigned kNativeBit = 0x80;

void appendPreferredTiming(EdidImageView image, std::string& out) {
    // Always written: the pixel clock of the first descriptor is not tested.
    const DetailedTiming t = readDetailedTiming(image, kPreferredTimingStart);
    if (t.interlaced) {
        appendFormat(out, "Preferred Timing:%dx%di@%dHz \r\n", t.width, t.height, t.refreshHz);
    } else {
        appendFormat(out, "Preferred Timing:%dx%d@%dHz\r\n", t.width, t.height, t.refreshHz);
    }
}

void appendFurtherTimings(EdidImageView image, std::string& out) {
    for (const std::size_t start : kFurtherTimingStarts) {
        if (!isTimingSlotUsed(image, start)) {
            continue;
        }
        const DetailedTiming t = readDetailedTiming(image, start);
        if (t.interlaced) {
            appendFormat(out, "Detailed Timing:%dx%di@%dHz\r\n", t.width, t.height, t.refreshHz);
        } else {
            appendFormat(out, "Detailed Timing:%dx%d@%dHz\r\n", t.width, t.height, t.refreshHz);
        }
    }
}

void appendExtensionTimings(EdidImageView image, std::string& out) {
    const std::size_t offset = timingOffset(image);
    const std::size_t first = kExtensionStart + offset;
    if (first > kLastTimingSlotStart) {
        return;
    }
    const std::size_t slots = (kTimingSlotSpan - offset) / kDescriptorBytes;
    int number = 0;
    for (std::size_t slot = 0; slot < slots; ++slot) {
        const std::size_t start = first + slot * kDescriptorBytes;
        if (!isTimingSlotUsed(image, start)) {
            continue;
        }
        // The slot count lets the last slot run up to 16 bytes past the
        // image. Such a slot is skipped like an empty one and takes no
        // number: its timing does not exist in the image.
        if (!inImage(start, kDescriptorBytes)) {
            continue;
        }
        ++number;
        const DetailedTiming t = readDetailedTiming(image, start);
        if (t.interlaced) {
            appendFormat(out, "Extension Detailed Timing%d:%dx%di@%dHz\r\n", number, t.width, t.height, t.refreshHz);
        } else {
            appendFormat(out, "Extension Detailed Timing%d:%dx%d@%dHz\r\n", number, t.width, t.height, t.refreshHz);
        }
    }
}

void appendShortVideoDescriptors(EdidImageView image, std::string& out) {
    out += "\r\nShort Video Descripter\r\n";
    // The first data block is taken for the video data block without looking
    // at its tag; its at most 31 bytes end well inside the image.
    const std::size_t length = image[kFirstDataBlock] & 0x1FU;
    for (std::size_t pos = kFirstDataBlock + 1; pos <= kFirstDataBlock + length; ++pos) {
        const unsigned descriptor = image[pos];
        const std::string_view name = vicName(descriptor & kVicMask);
        if (name.empty()) {
            continue;
        }
        out += name;
        if ((descriptor & kNativeBit) != 0) {
            out += "  Native";
        }
        out += kLineEnd;
    }
}

} // namespace

void appendVideoReport(EdidImageView image, std::string& out) {
    appendPreferredTiming(image, out);
    appendFurtherTimings(image, out);
    if (!hasCeaExtension(image)) {
        return;
    }
    appendExtensionTimings(image, out);
    appendShortVideoDescriptors(image, out);
}

} // namespace mc::edid
