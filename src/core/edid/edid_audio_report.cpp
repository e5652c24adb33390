// Audio report: the short audio descriptors of the first audio data block.
#include "edid/edid_data_blocks.h"
#include "edid/edid_report_parts.h"
#include "edid/edid_tables.h"
#include "edid/edid_text.h"

namespace mc::edid {
namespace {

constexpr std::size_t kAudioDescriptorBytes = 3;

void appendAudioDescriptor(std::uint8_t format, std::uint8_t rates, std::uint8_t sizes, std::string& out) {
    appendFormat(out, "Audio Format:%s\r\n", audioFormatName((format >> 3U) & 0x0FU).data());
    appendFormat(out, "Audio Channel(s):%d\r\n", (format & 7) + 1);
    // Highest rate first; the header stays even when no rate bit is set.
    out += "Sample Frequency:\r\n";
    for (unsigned bit = kSampleRateBits; bit-- > 0;) {
        if ((rates & (1U << bit)) != 0) {
            appendFormat(out, "%s\r\n", sampleRateName(bit).data());
        }
    }
    // Read alike for every format, compressed ones included.
    if ((sizes & 7) != 0) {
        out += "Sample Bit:\r\n";
        for (unsigned bit = kSampleSizeBits; bit-- > 0;) {
            if ((sizes & (1U << bit)) != 0) {
                appendFormat(out, "%s \r\n", sampleSizeName(bit).data());
            }
        }
        out += kLineEnd;
    }
    out += kLineEnd;
}

} // namespace

void appendAudioReport(EdidImageView image, std::string& out) {
    const auto block = findDataBlock(image, DataBlockTag::audio);
    if (block && block->length() >= 2) {
        // A last descriptor may reach past the stated length (it is read all
        // the same) but one that would reach past the image is not listed:
        // its bytes do not exist.
        for (std::size_t i = 1; i < block->length() && block->holds(i, kAudioDescriptorBytes);
             i += kAudioDescriptorBytes) {
            appendAudioDescriptor(block->byte(i), block->byte(i + 1), block->byte(i + 2), out);
        }
    }
    out += kLineEnd;
}

} // namespace mc::edid
