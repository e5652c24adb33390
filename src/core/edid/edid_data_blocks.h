#pragma once

#include "edid/edid_image.h"

#include <optional>

namespace mc::edid {

// Data block tags of the CEA-861 extension that the reports look at.
enum class DataBlockTag : unsigned {
    audio = 1,
    video = 2,
    vendorSpecific = 3,
    extended = 7,
};

// One data block of the CEA extension. Block byte 0 is the header; the
// stated length counts the bytes after it.
class DataBlock {
public:
    DataBlock(EdidImageView image, std::size_t headerPosition);

    [[nodiscard]] std::size_t headerPosition() const { return header_; }
    [[nodiscard]] unsigned length() const;

    // Block byte k. The steps that read a block may run past its stated
    // length (that is how the device firmware reads it) and even past the
    // image: a byte past the image reads as 0, which every such step takes
    // as "flag clear / no entry", so nothing is written for it.
    [[nodiscard]] std::uint8_t byte(std::size_t k) const;

    // True when block bytes k to k + count - 1 all lie in the image.
    [[nodiscard]] bool holds(std::size_t k, std::size_t count) const;

private:
    EdidImageView image_;
    std::size_t header_;
};

// The first data block with this tag, walking from byte 132 up to the timing
// descriptor offset. Nothing when there is no CEA extension or the offset is
// 4 or less. Later blocks with the same tag are never looked at.
std::optional<DataBlock> findDataBlock(EdidImageView image, DataBlockTag tag);

} // namespace mc::edid
