// Deep colour and 3D lines of the general report, from the first
// vendor-specific data block whatever its vendor identifier (the layout read
// is that of the HDMI block).
#include "edid/edid_data_blocks.h"
#include "edid/edid_decoder.h"
#include "edid/edid_report_parts.h"
#include "edid/edid_text.h"

namespace mc::edid {
namespace {

constexpr std::size_t kDeepColorByte = 6;
constexpr std::size_t kVideoFlagsByte = 8;
constexpr unsigned kLatencyPresent = 0x80;
constexpr unsigned kInterlacedLatencyPresent = 0x40;
constexpr unsigned kHdmiVideoPresent = 0x20;
constexpr std::size_t kFlagsWithoutLatency = 9;
constexpr std::size_t kLatencyBytes = 2;

// HDMI VICs 1 to 4; other values write nothing.
std::string_view extendedResolutionLine(unsigned hdmiVic) {
    switch (hdmiVic) {
    case 1:
        return "4Kx2K@30Hz\r\n";
    case 2:
        return "4Kx2K@25Hz\r\n";
    case 3:
        return "4Kx2K@24Hz\r\n";
    case 4:
        return "4Kx2K@24Hz(SMPTE)\r\n";
    default:
        return {};
    }
}

} // namespace

void appendDeepColor(EdidImageView image, std::string& out) {
    unsigned flags = 0;
    if (const auto block = findDataBlock(image, DataBlockTag::vendorSpecific); block && block->length() >= 6) {
        flags = block->byte(kDeepColorByte) & 0x78U;
    }
    if ((flags & 0x70U) != 0) {
        out += "Deep Color:\r\n";
        if ((flags & 0x40U) != 0) {
            out += "48Bit ";
        }
        if ((flags & 0x20U) != 0) {
            out += "36Bit ";
        }
        if ((flags & 0x10U) != 0) {
            out += "30Bit ";
        }
        out += kLineEnd;
    }
    out += (flags & 0x08U) != 0 ? "YCbCr444 DeepColor:support\r\n" : "YCbCr444 DeepColor:not support\r\n";
}

void append3dVideo(EdidImageView image, std::string& out) {
    bool supported = false;
    std::string resolutions;
    const auto block = findDataBlock(image, DataBlockTag::vendorSpecific);
    // Block bytes past the image read as 0 (see DataBlock::byte): a missing
    // flags byte means no HDMI video, a missing 3D byte no 3D, a missing
    // count byte no extended resolutions, a missing resolution byte no line.
    if (block && block->length() >= 8 && (block->byte(kVideoFlagsByte) & kHdmiVideoPresent) != 0) {
        const unsigned flags = block->byte(kVideoFlagsByte);
        std::size_t k = kFlagsWithoutLatency;
        if ((flags & kLatencyPresent) != 0) {
            k += kLatencyBytes;
        }
        if ((flags & kInterlacedLatencyPresent) != 0) {
            k += kLatencyBytes;
        }
        supported = (block->byte(k) & 0x80U) != 0;
        const unsigned count = block->byte(k + 1) >> 5U;
        if (count > 0) {
            resolutions += "Extended Resolution(4Kx2K):\r\n";
        }
        for (std::size_t i = 0; i < count; ++i) {
            resolutions += extendedResolutionLine(block->byte(k + 2 + i));
        }
    }
    out += k3dVideoLabel;
    out += supported ? ":support\r\n" : ":not support\r\n";
    out += kLineEnd;
    out += resolutions;
}

} // namespace mc::edid
