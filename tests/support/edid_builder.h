#pragma once

#include "edid/edid_image.h"

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace mc::test {

// Builds EDID images byte by byte for the decoder tests. Starts all zero, so
// only what a test writes is there.
class EdidBuilder {
public:
    EdidBuilder() { image_.fill(0); }

    EdidBuilder& fill(std::uint8_t value) {
        image_.fill(value);
        return *this;
    }

    EdidBuilder& set(std::size_t pos, std::initializer_list<std::uint8_t> bytes) {
        for (const std::uint8_t b : bytes) {
            image_.at(pos++) = b;
        }
        return *this;
    }

    // An 18-byte detailed timing descriptor; the clock is in 10 kHz units.
    EdidBuilder& timing(std::size_t start, unsigned pixelClock, unsigned hActive, unsigned hBlank, unsigned vActive,
                        unsigned vBlank, bool interlaced = false) {
        set(start, {lo(pixelClock), hi(pixelClock), lo(hActive), lo(hBlank),
                    static_cast<std::uint8_t>(((hActive >> 8U) << 4U) | (hBlank >> 8U)), lo(vActive), lo(vBlank),
                    static_cast<std::uint8_t>(((vActive >> 8U) << 4U) | (vBlank >> 8U))});
        image_.at(start + 17) = interlaced ? 0x80 : 0x00;
        return *this;
    }

    // A display descriptor (tag 0xFC name, 0xFD range limits) at any position.
    EdidBuilder& displayDescriptor(std::size_t start, std::uint8_t tag, std::initializer_list<std::uint8_t> payload) {
        set(start, {0, 0, 0, tag, 0});
        return set(start + 5, payload);
    }

    // A CEA-861 extension (count 1, tag 2) whose timing descriptors start at
    // `offset` within the extension block.
    EdidBuilder& ceaExtension(std::uint8_t offset) {
        image_[126] = 1;
        return set(128, {2, 3, offset});
    }

    // Data blocks from byte 132 on, each given with its header, and the
    // timing offset just after them.
    EdidBuilder& dataBlocks(std::initializer_list<std::vector<std::uint8_t>> blocks) {
        std::size_t pos = 132;
        for (const auto& block : blocks) {
            for (const std::uint8_t b : block) {
                image_.at(pos++) = b;
            }
        }
        return ceaExtension(static_cast<std::uint8_t>(pos - 128));
    }

    [[nodiscard]] const EdidImage& image() const { return image_; }

    static std::uint8_t header(unsigned tag, std::size_t length) {
        return static_cast<std::uint8_t>((tag << 5U) | length);
    }

private:
    static std::uint8_t lo(unsigned v) { return static_cast<std::uint8_t>(v & 0xFFU); }
    static std::uint8_t hi(unsigned v) { return static_cast<std::uint8_t>((v >> 8U) & 0xFFU); }

    EdidImage image_{};
};

// A data block: header from tag and payload length, then the payload.
inline std::vector<std::uint8_t> block(unsigned tag, std::initializer_list<std::uint8_t> payload) {
    std::vector<std::uint8_t> bytes{EdidBuilder::header(tag, payload.size())};
    bytes.insert(bytes.end(), payload);
    return bytes;
}

// An image placed so that its last byte is the last readable byte before an
// inaccessible page: a read past the image faults at once, without needing a
// sanitizer. Falls back to plain memory where pages cannot be protected.
class GuardedImage {
public:
    explicit GuardedImage(const EdidImage& image);
    ~GuardedImage();
    GuardedImage(const GuardedImage&) = delete;
    GuardedImage& operator=(const GuardedImage&) = delete;

    [[nodiscard]] EdidImageView view() const { return EdidImageView(bytes_, kEdidImageBytes); }
    [[nodiscard]] bool guarded() const { return guarded_; }

private:
    void* mapping_ = nullptr;
    std::size_t mappingSize_ = 0;
    std::uint8_t* bytes_ = nullptr;
    bool guarded_ = false;
    std::vector<std::uint8_t> fallback_;
};

} // namespace mc::test
