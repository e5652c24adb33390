#include "edid/edid_data_blocks.h"

namespace mc::edid {
namespace {

constexpr std::size_t kFirstBlockOffset = kFirstDataBlock - kExtensionStart;
constexpr unsigned kLengthMask = 0x1F;
constexpr unsigned kTagShift = 5;

} // namespace

DataBlock::DataBlock(EdidImageView image, std::size_t headerPosition) : image_(image), header_(headerPosition) {
}

unsigned DataBlock::length() const {
    return image_[header_] & kLengthMask;
}

std::uint8_t DataBlock::byte(std::size_t k) const {
    const std::size_t pos = header_ + k;
    return inImage(pos) ? image_[pos] : 0;
}

bool DataBlock::holds(std::size_t k, std::size_t count) const {
    return inImage(header_ + k, count);
}

std::optional<DataBlock> findDataBlock(EdidImageView image, DataBlockTag tag) {
    if (!hasCeaExtension(image)) {
        return std::nullopt;
    }
    const std::size_t offset = timingOffset(image);
    if (offset <= kFirstBlockOffset) {
        return std::nullopt;
    }
    // An offset above 127 points past the image; the walk then ends with the
    // image instead of reading headers beyond it.
    for (std::size_t pos = kFirstBlockOffset; pos < offset && inImage(kExtensionStart + pos);) {
        const std::size_t header = kExtensionStart + pos;
        if ((image[header] >> kTagShift) == static_cast<unsigned>(tag)) {
            return DataBlock(image, header);
        }
        pos += (image[header] & kLengthMask) + 1U;
    }
    return std::nullopt;
}

} // namespace mc::edid
