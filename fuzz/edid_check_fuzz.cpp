// Fuzz target for the EDID check: any input is checked as the bytes of an
// EDID file, from a heap block of exactly its size, so AddressSanitizer
// reports any read past it. The findings must be ordered by offset, point
// inside the data (or just past a short one), carry text, and come out the
// same on a second run.
#include "edid/edid_check.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    const mc::EdidFindings findings = mc::checkEdid(bytes);

    const std::size_t limit = std::max(std::min(size, mc::kMaxEdidBytes), mc::kEdidBlockBytes);
    for (std::size_t i = 0; i < findings.size(); ++i) {
        const mc::EdidFinding& f = findings[i];
        if (f.text.empty() || f.offset > limit || (i > 0 && findings[i - 1].offset > f.offset)) {
            __builtin_trap();
        }
    }
    // Anything short of a whole base block is an error.
    if (size < mc::kEdidBlockBytes && !mc::hasEdidErrors(findings)) {
        __builtin_trap();
    }
    if (!(mc::checkEdid(bytes) == findings)) {
        __builtin_trap();
    }
    (void)mc::summariseEdidFindings(findings);
    return 0;
}
