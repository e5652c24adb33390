// Any text through the link address parser: it never reads outside the text,
// and every address it accepts formats into a text that parses back to the
// same address.
#include "link/link_address.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const mc::LinkAddressResult result = mc::parseLinkAddress(text);
    if (const auto* address = std::get_if<mc::LinkAddress>(&result)) {
        const auto again = mc::parseLinkAddress(mc::formatLinkAddress(*address));
        const auto* same = std::get_if<mc::LinkAddress>(&again);
        if (same == nullptr || !(*same == *address)) {
            std::abort();
        }
    }
    return 0;
}
