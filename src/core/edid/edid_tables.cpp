#include "edid/edid_tables.h"

#include <array>

namespace mc::edid {
namespace {

// Indexed by VIC - 1. The texts are kept letter for letter, as operators'
// notes and the summary tests quote them: 47 has no scan letter and 55 ends
// in 16:3.
constexpr std::array<std::string_view, kLastVic> kVicNames = {
    "640x480p@60Hz  4:3",                // 1
    "720x480p@60Hz  4:3",                // 2
    "720x480p@60Hz  16:9",               // 3
    "1280x720p@60Hz  16:9",              // 4
    "1920x1080i@60Hz  16:9",             // 5
    "720(1440)x480i@60Hz  4:3",          // 6
    "720(1440)x480i@60Hz  16:9",         // 7
    "720(1440)x240p@60Hz  4:3",          // 8
    "720(1440)x240p@60Hz  16:9",         // 9
    "2880x480i@60Hz  4:3",               // 10
    "2880x480i@60Hz  16:9",              // 11
    "2880x240p@60Hz  4:3",               // 12
    "2880x240p@60Hz  16:9",              // 13
    "1440x480p@60Hz  4:3",               // 14
    "1440x480p@60Hz  16:9",              // 15
    "1920x1080p@60Hz  16:9",             // 16
    "720x576p@50Hz  4:3",                // 17
    "720x576p@50Hz  16:9",               // 18
    "1280x720p@50Hz  16:9",              // 19
    "1920x1080i@50Hz  16:9",             // 20
    "720(1440)x576i@50Hz  4:3",          // 21
    "720(1440)x576i@50Hz  16:9",         // 22
    "720(1440)x288p@50Hz  4:3",          // 23
    "720(1440)x288p@50Hz  16:9",         // 24
    "2880x576i@50Hz  4:3",               // 25
    "2880x576i@50Hz  16:9",              // 26
    "2880x288p@50Hz  4:3",               // 27
    "2880x288p@50Hz  16:9",              // 28
    "1440x576p@50Hz  4:3",               // 29
    "1440x576p@50Hz  16:9",              // 30
    "1920x1080p@50Hz  16:9",             // 31
    "1920x1080p@24Hz  16:9",             // 32
    "1920x1080p@25Hz  16:9",             // 33
    "1920x1080p@30Hz  16:9",             // 34
    "2880x480p@60Hz  4:3",               // 35
    "2880x480p@60Hz  16:9",              // 36
    "2880x576p@50Hz  4:3",               // 37
    "2880x576p@50Hz  16:9",              // 38
    "1920x1080i(1250 total)@50Hz  16:9", // 39
    "1920x1080i@100Hz  16:9",            // 40
    "1280x720p@100Hz  16:9",             // 41
    "720x576p@100Hz  4:3",               // 42
    "720x576p@100Hz  16:9",              // 43
    "720(1440)x576i@100Hz  4:3",         // 44
    "720(1440)x576i@100Hz  16:9",        // 45
    "1920x1080i@120Hz  16:9",            // 46
    "1280x720@120Hz  16:9",              // 47
    "720x480p@120Hz  4:3",               // 48
    "720x480p@120Hz  16:9",              // 49
    "720(1440)x480i@120Hz  4:3",         // 50
    "720(1440)x480i@120Hz  16:9",        // 51
    "720x576p@200Hz  4:3",               // 52
    "720x576p@200Hz  16:9",              // 53
    "720(1440)x576i@200Hz  4:3",         // 54
    "720(1440)x576i@200Hz  16:3",        // 55
    "720x480p@240Hz  4:3",               // 56
    "720x480p@240Hz  16:9",              // 57
    "720(1440)x480i@240Hz  4:3",         // 58
    "720(1440)x480i@240Hz  16:9",        // 59
    "1280x720p@24Hz  16:9",              // 60
    "1280x720p@25Hz  16:9",              // 61
    "1280x720p@30Hz  16:9",              // 62
    "1920x1080p@120Hz  16:9",            // 63
    "1920x1080p@100Hz  16:9",            // 64
    "1280x720p@24Hz  64:27",             // 65
    "1280x720p@25Hz  64:27",             // 66
    "1280x720p@30Hz  64:27",             // 67
    "1280x720p@50Hz  64:27",             // 68
    "1280x720p@60Hz  64:27",             // 69
    "1280x720p@100Hz  64:27",            // 70
    "1280x720p@120Hz  64:27",            // 71
    "1920x1080p@24Hz  64:27",            // 72
    "1920x1080p@25Hz  64:27",            // 73
    "1920x1080p@30Hz  64:27",            // 74
    "1920x1080p@50Hz  64:27",            // 75
    "1920x1080p@60Hz  64:27",            // 76
    "1920x1080p@100Hz  64:27",           // 77
    "1920x1080p@120Hz  64:27",           // 78
    "1680x720p@24Hz  64:27",             // 79
    "1680x720p@25Hz  64:27",             // 80
    "1680x720p@30Hz  64:27",             // 81
    "1680x720p@50Hz  64:27",             // 82
    "1680x720p@60Hz  64:27",             // 83
    "1680x720p@100Hz  64:27",            // 84
    "1680x720p@120Hz  64:27",            // 85
    "2560x1080p@24Hz  64:27",            // 86
    "2560x1080p@25Hz  64:27",            // 87
    "2560x1080p@30Hz  64:27",            // 88
    "2560x1080p@50Hz  64:27",            // 89
    "2560x1080p@60Hz  64:27",            // 90
    "2560x1080p@100Hz  64:27",           // 91
    "2560x1080p@120Hz  64:27",           // 92
    "3840x2160p@24Hz  16:9",             // 93
    "3840x2160p@25Hz  16:9",             // 94
    "3840x2160p@30Hz  16:9",             // 95
    "3840x2160p@50Hz  16:9",             // 96
    "3840x2160p@60Hz  16:9",             // 97
    "4096x2160p@24Hz  256:135",          // 98
    "4096x2160p@25Hz  256:135",          // 99
    "4096x2160p@30Hz  256:135",          // 100
    "4096x2160p@50Hz  256:135",          // 101
    "4096x2160p@60Hz  256:135",          // 102
    "3840x2160p@24Hz  64:27",            // 103
    "3840x2160p@25Hz  64:27",            // 104
    "3840x2160p@30Hz  64:27",            // 105
    "3840x2160p@50Hz  64:27",            // 106
    "3840x2160p@60Hz  64:27",            // 107
};

constexpr std::array<std::string_view, 16> kAudioFormatNames = {
    "Refer to Stream Header.",
    "LPCM.",
    "AC-3.",
    "MPEG1.",
    "MP3(Layer3).",
    "MPEG2.",
    "AAC.",
    "DTS.",
    "ATRAC.",
    "OneBitAudio.",
    "Dolby D+.",
    "DTS-HD.",
    "MAT(MLP).",
    "DST.",
    "WMA Pro.",
    "Reserved.",
};

constexpr std::array<std::string_view, kSampleRateBits> kSampleRateNames = {
    "32KHz", "44.1KHz", "48KHz", "88KHz", "96KHz", "176KHz", "192KHz",
};

constexpr std::array<std::string_view, kSampleSizeBits> kSampleSizeNames = {"16Bit", "20Bit", "24Bit"};

} // namespace

std::string_view vicName(unsigned code) {
    if (code < kFirstVic || code > kLastVic) {
        return {};
    }
    return kVicNames[code - kFirstVic];
}

std::string_view audioFormatName(unsigned code) {
    return kAudioFormatNames[code & 0x0FU];
}

std::string_view sampleRateName(unsigned bit) {
    return bit < kSampleRateNames.size() ? kSampleRateNames[bit] : std::string_view{};
}

std::string_view sampleSizeName(unsigned bit) {
    return bit < kSampleSizeNames.size() ? kSampleSizeNames[bit] : std::string_view{};
}

} // namespace mc::edid
