#include "sim/edid_image.h"

#include <numeric>

namespace mc::sim {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

unsigned blockSum(const EdidImage& image, std::size_t blockOffset, std::size_t length) {
    const auto* begin = image.data() + blockOffset;
    return std::accumulate(begin, begin + length, 0U);
}

} // namespace

void fixBlockChecksum(EdidImage& image, std::size_t blockOffset) {
    const unsigned sum = blockSum(image, blockOffset, kEdidBlockSize - 1);
    image.at(blockOffset + kEdidBlockSize - 1) = static_cast<std::uint8_t>((256U - sum % 256U) % 256U);
}

bool blockChecksumValid(const EdidImage& image, std::size_t blockOffset) {
    return blockOffset + kEdidBlockSize <= kEdidSize && blockSum(image, blockOffset, kEdidBlockSize) % 256U == 0;
}

std::string toHexText(const EdidImage& image) {
    std::string text;
    text.reserve(kEdidHexLength);
    for (std::size_t i = 0; i < image.size(); ++i) {
        if (i > 0) {
            text += ' ';
        }
        text += kHexDigits[image[i] >> 4];
        text += kHexDigits[image[i] & 0x0f];
    }
    return text;
}

std::optional<EdidImage> parseHexText(std::string_view text) {
    if (text.size() != kEdidHexLength) {
        return std::nullopt;
    }
    EdidImage image{};
    for (std::size_t i = 0; i < kEdidSize; ++i) {
        const std::size_t at = i * 3;
        if (i > 0 && text[at - 1] != ' ') {
            return std::nullopt;
        }
        const int high = hexValue(text[at]);
        const int low = hexValue(text[at + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        image[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return image;
}

} // namespace mc::sim
