#include "edid/edid_decoder.h"

#include "edid/edid_report_parts.h"

namespace mc {

void decodeEdidPart(EdidImageView image, std::uint8_t part, EdidReports& reports) {
    switch (part) {
    case kVideoReportPart:
        edid::appendVideoReport(image, reports.video);
        break;
    case kAudioReportPart:
        edid::appendAudioReport(image, reports.audio);
        break;
    case kGeneralReportPart:
        edid::appendGeneralReport(image, reports.general);
        break;
    default:
        break;
    }
}

EdidReports decodeEdid(EdidImageView image) {
    EdidReports reports;
    for (const std::uint8_t part : {kVideoReportPart, kAudioReportPart, kGeneralReportPart}) {
        decodeEdidPart(image, part, reports);
    }
    return reports;
}

} // namespace mc
