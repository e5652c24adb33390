// General report: identity, display name and range limits from the base
// block, then what the CEA extension says about the sink.
#include "edid/edid_data_blocks.h"
#include "edid/edid_decoder.h"
#include "edid/edid_report_parts.h"
#include "edid/edid_text.h"

#include <array>

namespace mc::edid {
namespace {

constexpr std::size_t kManufacturerByte = 8;
constexpr std::size_t kProductCodeByte = 10;
// Display descriptors are searched at every position of this range, not only
// at descriptor starts.
constexpr std::size_t kFirstDescriptorSearch = 54;
constexpr std::size_t kLastDescriptorSearch = 108;
constexpr std::uint8_t kProductNameTag = 0xFC;
constexpr std::uint8_t kRangeLimitsTag = 0xFD;
constexpr std::size_t kProductNameChars = 13;
constexpr std::size_t kProductNameBytesCopied = 14;
constexpr std::uint8_t kNameEnd = 0x0A;

bool isDisplayDescriptor(EdidImageView image, std::size_t p, std::uint8_t tag) {
    return image[p] == 0 && image[p + 1] == 0 && image[p + 2] == 0 && image[p + 3] == tag;
}

void appendManufacturer(EdidImageView image, std::string& out) {
    const unsigned high = image[kManufacturerByte];
    const unsigned low = image[kManufacturerByte + 1];
    // Three 5-bit codes; 1 is A. Codes 0 and 27 to 31 give @ and [ to _.
    const auto first = static_cast<char>(0x40U + ((high >> 2U) & 0x3FU));
    const auto second = static_cast<char>(0x40U + (((high & 3U) << 3U) | (low >> 5U)));
    const auto third = static_cast<char>(0x40U + (low & 0x1FU));
    out += kManufacturerLabel;
    appendFormat(out, ":%c%c%c\r\n", first, second, third);
}

void appendDisplayProductName(EdidImageView image, std::string& out) {
    // One field for all matches: a later, shorter name leaves the tail of an
    // earlier one, as the device firmware does.
    std::array<char, kProductNameChars> field{};
    field.fill(' ');
    bool found = false;
    for (std::size_t p = kFirstDescriptorSearch; p <= kLastDescriptorSearch; ++p) {
        if (!isDisplayDescriptor(image, p, kProductNameTag)) {
            continue;
        }
        found = true;
        for (std::size_t i = 0; i < kProductNameBytesCopied; ++i) {
            const std::uint8_t c = image[p + 5 + i];
            if (c == kNameEnd) {
                break;
            }
            if (i < field.size()) {
                field[i] = static_cast<char>(c);
            }
        }
    }
    if (found) {
        // The field is printed as a C string: a NUL byte in the name ends it,
        // so the report never carries a NUL.
        const std::string_view whole(field.data(), field.size());
        const std::string name(whole.substr(0, whole.find('\0')));
        appendFormat(out, "Display Product Name:%s\r\n", name.c_str());
    }
}

void appendRangeLimits(EdidImageView image, std::string& out) {
    // Every matching position writes its lines; the rate offset flags of
    // byte p+4 are not applied.
    for (std::size_t p = kFirstDescriptorSearch; p <= kLastDescriptorSearch; ++p) {
        if (!isDisplayDescriptor(image, p, kRangeLimitsTag)) {
            continue;
        }
        appendFormat(out, "Vertical Rate:%dHz--%dHz\r\n", image[p + 5], image[p + 6]);
        appendFormat(out, "Horizontal Rate:%dKHz--%dKHz\r\n", image[p + 7], image[p + 8]);
        out += kMaximumPixelClockLabel;
        appendFormat(out, ":%dMHz\r\n", 10 * image[p + 9]);
    }
}

void appendDeviceSupport(EdidImageView image, std::string& out) {
    const unsigned support = image[kDeviceSupportByte];
    if ((support & 0x70U) == 0) {
        return;
    }
    out += "Extension Device Support:\r\n";
    if ((support & 0x40U) != 0) {
        out += "Base Audio\r\n";
    }
    if ((support & 0x20U) != 0) {
        out += "YCbCr4:4:4\r\n";
    }
    if ((support & 0x10U) != 0) {
        out += "YCbCr4:2:2\r\n";
    }
    out += kLineEnd;
}

void appendNativeTimings(EdidImageView image, std::string& out) {
    int count = 0;
    if (const auto block = findDataBlock(image, DataBlockTag::video)) {
        for (std::size_t k = 1; k <= block->length(); ++k) {
            if ((block->byte(k) & 0x80U) != 0) {
                ++count;
            }
        }
    }
    appendFormat(out, "Native Timings:%d\r\n", count);
}

} // namespace

void appendGeneralReport(EdidImageView image, std::string& out) {
    out += kLineEnd;
    appendManufacturer(image, out);
    appendFormat(out, "Product Code:%d\r\n", image[kProductCodeByte] + 256 * image[kProductCodeByte + 1]);
    appendFormat(out, "Video Signal Interface:%s\r\n", (image[kDigitalInputByte] & 0x80U) != 0 ? "Digtal" : "Analog");
    out += "Color Bit Depth:Reserved\r\n";
    appendDisplayProductName(image, out);
    appendRangeLimits(image, out);
    if (hasCeaExtension(image)) {
        appendDeviceSupport(image, out);
        appendNativeTimings(image, out);
        appendDeepColor(image, out);
        append3dVideo(image, out);
        appendYcbcr420(image, out);
    }
    out += kLineEnd;
}

} // namespace mc::edid
