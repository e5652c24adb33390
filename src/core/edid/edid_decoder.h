#pragma once

#include "edid/edid_image.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace mc {

// The three texts an EDID decodes into. Every line ends in CR LF; the texts
// are byte strings (a display name may hold any byte but NUL and LF).
struct EdidReports {
    std::string video;
    std::string audio;
    std::string general;

    void clear() {
        video.clear();
        audio.clear();
        general.clear();
    }

    friend bool operator==(const EdidReports&, const EdidReports&) = default;
};

// Report parts as the callers pass them: one byte, any other value does
// nothing.
inline constexpr std::uint8_t kVideoReportPart = 0;
inline constexpr std::uint8_t kAudioReportPart = 1;
inline constexpr std::uint8_t kGeneralReportPart = 2;

// Line labels that the EDID summary looks for in the reports.
inline constexpr std::string_view kManufacturerLabel = "Manufacture's Name";
inline constexpr std::string_view kMaximumPixelClockLabel = "Maximum Pixel Clock";
inline constexpr std::string_view k3dVideoLabel = "3D video";
inline constexpr std::string_view kPreferredTimingLabel = "Preferred Timing";
inline constexpr std::string_view kDetailedTimingLabel = "Detailed Timing";
inline constexpr std::string_view kAudioFormatLabel = "Audio Format";
inline constexpr std::string_view kAudioChannelLabel = "Audio Channel";

// Appends one report part of the image to its text in `reports`. The image is
// not validated (no checksum, no header test); nothing outside its 256 bytes
// is ever read.
void decodeEdidPart(EdidImageView image, std::uint8_t part, EdidReports& reports);

// Fresh reports: all three parts decoded in order.
EdidReports decodeEdid(EdidImageView image);

} // namespace mc
