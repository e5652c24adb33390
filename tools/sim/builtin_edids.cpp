#include "sim/builtin_edids.h"

#include "sim/display_edids.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

namespace mc::sim {

namespace {

enum class Base { fullHd, ultraHd };

struct BuiltinEdid {
    std::string_view name;
    Base base;
    int pcmChannels;
};

// One row per source index 0..29, in the order of the console's choice list.
constexpr std::array<BuiltinEdid, kBuiltinEdidCount> kBuiltins{{
    {"FHD 2CH", Base::fullHd, 2},        {"FHD 5.1", Base::fullHd, 6},        {"FHD 7.1", Base::fullHd, 8},
    {"FHD 3D 2CH", Base::fullHd, 2},     {"FHD 3D 5.1", Base::fullHd, 6},     {"FHD 3D 7.1", Base::fullHd, 8},
    {"4K30 3D 2CH", Base::ultraHd, 2},   {"4K30 3D 5.1", Base::ultraHd, 6},   {"4K30 3D 7.1", Base::ultraHd, 8},
    {"4K60 Y420 2CH", Base::ultraHd, 2}, {"4K60 Y420 5.1", Base::ultraHd, 6}, {"4K60 Y420 7.1", Base::ultraHd, 8},
    {"4K60 444 2CH", Base::ultraHd, 2},  {"4K60 444 5.1", Base::ultraHd, 6},  {"4K60 444 7.1", Base::ultraHd, 8},
    {"FHD HDR 2CH", Base::fullHd, 2},    {"FHD HDR 5.1", Base::fullHd, 6},    {"FHD HDR 7.1", Base::fullHd, 8},
    {"FHD3D HDR 2CH", Base::fullHd, 2},  {"FHD3D HDR 5.1", Base::fullHd, 6},  {"FHD3D HDR 7.1", Base::fullHd, 8},
    {"4K30 HDR 2CH", Base::ultraHd, 2},  {"4K30 HDR 5.1", Base::ultraHd, 6},  {"4K30 HDR 7.1", Base::ultraHd, 8},
    {"4K420 HDR 2CH", Base::ultraHd, 2}, {"4K420 HDR 5.1", Base::ultraHd, 6}, {"4K420 HDR 7.1", Base::ultraHd, 8},
    {"4K60 HDR 2CH", Base::ultraHd, 2},  {"4K60 HDR 5.1", Base::ultraHd, 6},  {"4K60 HDR 7.1", Base::ultraHd, 8},
}};

static_assert(std::all_of(kBuiltins.begin(), kBuiltins.end(), [](const BuiltinEdid& b) { return b.name.size() <= 13; }),
              "a display name descriptor holds at most 13 characters");

constexpr std::string_view kFullHdBase = "110-sony-sny7402";
constexpr std::string_view kUltraHdBase = "019-sony-sny2b05";

constexpr std::size_t kProductCodeOffset = 10;
constexpr std::size_t kSerialNumberOffset = 12;
constexpr std::size_t kFirstDescriptorOffset = 54;
constexpr std::size_t kDescriptorSize = 18;
constexpr std::size_t kDescriptorCount = 4;
constexpr std::uint8_t kNameDescriptorTag = 0xfc;
constexpr std::size_t kDescriptorTextOffset = 5;
constexpr std::size_t kDescriptorTextSize = 13;

constexpr std::uint8_t kCtaExtensionTag = 0x02;
constexpr int kAudioDataBlockTag = 1;
constexpr int kLinearPcmFormat = 1;
constexpr std::size_t kShortAudioDescriptorSize = 3;

const BuiltinEdid& row(int index) {
    if (index < 0 || index >= kBuiltinEdidCount) {
        throw std::out_of_range("built-in EDID index " + std::to_string(index));
    }
    return kBuiltins.at(static_cast<std::size_t>(index));
}

void writeName(EdidImage& image, std::string_view name) {
    for (std::size_t d = 0; d < kDescriptorCount; ++d) {
        const std::size_t at = kFirstDescriptorOffset + d * kDescriptorSize;
        if (image[at] == 0 && image[at + 1] == 0 && image[at + 3] == kNameDescriptorTag) {
            // The text ends in a line feed and is padded with blanks.
            for (std::size_t i = 0; i < kDescriptorTextSize; ++i) {
                const std::uint8_t c = i < name.size()    ? static_cast<std::uint8_t>(name[i])
                                       : i == name.size() ? 0x0a
                                                          : 0x20;
                image[at + kDescriptorTextOffset + i] = c;
            }
            return;
        }
    }
    throw std::logic_error("built-in EDID base has no display name descriptor");
}

// Sets the channel count of every linear PCM entry in the CTA extension's
// audio data blocks.
void writePcmChannels(EdidImage& image, int channels) {
    const std::size_t ext = kEdidBlockSize;
    if (image[ext] != kCtaExtensionTag) {
        throw std::logic_error("built-in EDID base has no CTA extension");
    }
    // Data blocks run from byte 4 of the extension up to its DTD offset.
    const std::size_t end = ext + std::min<std::size_t>(image[ext + 2], kEdidBlockSize - 1);
    bool patched = false;
    for (std::size_t at = ext + 4; at < end;) {
        const int tag = image[at] >> 5;
        const std::size_t length = image[at] & 0x1fU;
        const std::size_t blockEnd = std::min(at + 1 + length, end);
        if (tag == kAudioDataBlockTag) {
            for (std::size_t sad = at + 1; sad + kShortAudioDescriptorSize <= blockEnd;
                 sad += kShortAudioDescriptorSize) {
                if (((image[sad] >> 3) & 0x0fU) == kLinearPcmFormat) {
                    image[sad] = static_cast<std::uint8_t>((image[sad] & ~0x07U) | static_cast<unsigned>(channels - 1));
                    patched = true;
                }
            }
        }
        at = blockEnd;
    }
    if (!patched) {
        throw std::logic_error("built-in EDID base has no linear PCM audio entry");
    }
}

} // namespace

EdidImage builtinEdid(int index) {
    const BuiltinEdid& builtin = row(index);
    EdidImage image = displayEdid(builtin.base == Base::ultraHd ? kUltraHdBase : kFullHdBase);
    const auto code = static_cast<unsigned>(0x0100 + index);
    image[kProductCodeOffset] = static_cast<std::uint8_t>(code & 0xffU);
    image[kProductCodeOffset + 1] = static_cast<std::uint8_t>(code >> 8);
    const auto serial = static_cast<unsigned>(index + 1);
    for (std::size_t i = 0; i < 4; ++i) {
        image[kSerialNumberOffset + i] = static_cast<std::uint8_t>((serial >> (8 * i)) & 0xffU);
    }
    writeName(image, builtin.name);
    writePcmChannels(image, builtin.pcmChannels);
    fixBlockChecksum(image, 0);
    fixBlockChecksum(image, kEdidBlockSize);
    return image;
}

std::string_view builtinEdidName(int index) {
    return row(index).name;
}

} // namespace mc::sim
