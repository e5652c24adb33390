// Fuzz target for the EDID decoder: any input is loaded as an EDID file is
// (first 256 bytes, the rest 0xFF) and decoded into the three reports and
// the summary. The image is decoded from a heap block of exactly 256 bytes,
// so AddressSanitizer reports any read past it.
#include "edid/edid_decoder.h"
#include "edid/edid_file.h"
#include "edid/edid_summary.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace {

bool endsWithLineBreak(const std::string& text) {
    return text.size() >= 2 && text.ends_with("\r\n");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const mc::EdidImage image = mc::edidImageFromBytes({data, size});
    const auto heap = std::make_unique<std::uint8_t[]>(mc::kEdidImageBytes);
    std::copy(image.begin(), image.end(), heap.get());
    const mc::EdidImageView view(heap.get(), mc::kEdidImageBytes);

    const mc::EdidReports reports = mc::decodeEdid(view);
    const std::string summary = mc::fillEdidSummary(reports);

    // Every report is whole lines; the summary at most seven of them.
    if (!endsWithLineBreak(reports.video) || !endsWithLineBreak(reports.audio) || !endsWithLineBreak(reports.general)) {
        __builtin_trap();
    }
    if (std::count(summary.begin(), summary.end(), '\n') > 7 || summary.find('\0') != std::string::npos) {
        __builtin_trap();
    }
    // Report parts other than 0 to 2 append nothing.
    mc::EdidReports untouched;
    mc::decodeEdidPart(view, size > 0 ? static_cast<std::uint8_t>(data[0] | 3U) : 3, untouched);
    if (!(untouched == mc::EdidReports{})) {
        __builtin_trap();
    }
    return 0;
}
