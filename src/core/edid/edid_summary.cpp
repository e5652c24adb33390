#include "edid/edid_summary.h"

namespace mc {
namespace {

// Appends the text from the first occurrence of `label` up to and including
// the next line feed (to the end when none follows). False when absent.
bool copyLineFrom(std::string_view report, std::string_view label, std::string& summary) {
    const std::size_t start = report.find(label);
    if (start == std::string_view::npos) {
        return false;
    }
    const std::size_t lineFeed = report.find('\n', start);
    summary += report.substr(start, lineFeed == std::string_view::npos ? std::string_view::npos : lineFeed + 1 - start);
    return true;
}

} // namespace

std::string fillEdidSummary(const EdidReports& reports) {
    std::string summary;
    copyLineFrom(reports.general, kManufacturerLabel, summary);
    copyLineFrom(reports.general, kMaximumPixelClockLabel, summary);
    copyLineFrom(reports.general, k3dVideoLabel, summary);
    copyLineFrom(reports.video, kPreferredTimingLabel, summary);
    // Also found inside "Extension Detailed Timing1:" when the base block has
    // no further timing; the copy then starts at "Detailed Timing1:".
    copyLineFrom(reports.video, kDetailedTimingLabel, summary);
    if (copyLineFrom(reports.audio, kAudioFormatLabel, summary)) {
        copyLineFrom(reports.audio, kAudioChannelLabel, summary);
    }
    return summary;
}

} // namespace mc
