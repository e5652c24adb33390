// YCbCr 4:2:0 lines of the general report, from the first extended-tag data
// block only: any other extended tag placed first hides the 4:2:0 blocks.
#include "edid/edid_data_blocks.h"
#include "edid/edid_report_parts.h"
#include "edid/edid_tables.h"
#include "edid/edid_text.h"

namespace mc::edid {
namespace {

constexpr unsigned kY420VideoBlock = 14;
constexpr unsigned kY420CapabilityMap = 15;
constexpr std::size_t kFirstPayloadByte = 2;
constexpr std::size_t kFirstShortVideoDescriptor = kFirstDataBlock + 1;

void appendVicLine(unsigned code, std::string& out) {
    const std::string_view name = vicName(code);
    if (!name.empty()) {
        out += name;
        out += kLineEnd;
    }
}

} // namespace

void appendYcbcr420(EdidImageView image, std::string& out) {
    const auto block = findDataBlock(image, DataBlockTag::extended);
    // A block of length 0 has no extended tag byte and no payload: it writes
    // nothing (its payload count would otherwise wrap round).
    if (!block || block->length() == 0) {
        return;
    }
    const unsigned extendedTag = block->byte(1);
    const std::size_t end = std::size_t{block->length()} + 1;
    if (extendedTag == kY420VideoBlock) {
        out += "\r\nY420VDB Descripter :\r\n";
        for (std::size_t k = kFirstPayloadByte; k < end; ++k) {
            appendVicLine(block->byte(k), out);
        }
    } else if ((extendedTag & 0x1FU) == kY420CapabilityMap) {
        out += "\r\nY420CMDB Descripter :\r\n";
        if (end == kFirstPayloadByte) {
            out += "All SVDs do support YUV420\r\n";
            return;
        }
        // Bit j of payload byte i marks the (8i + j)-th short video
        // descriptor, counted from byte 133 whatever the video block's length.
        // A descriptor past the image writes nothing.
        for (std::size_t i = 0; kFirstPayloadByte + i < end; ++i) {
            const unsigned map = block->byte(kFirstPayloadByte + i);
            for (unsigned j = 0; j < 8; ++j) {
                const std::size_t pos = kFirstShortVideoDescriptor + 8 * i + j;
                if ((map & (1U << j)) != 0 && inImage(pos)) {
                    appendVicLine(image[pos] & 0x7FU, out);
                }
            }
        }
    }
}

} // namespace mc::edid
