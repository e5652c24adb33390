#include "session/edid_reply.h"

#include "session/edid_capture.h"
#include "session/hex_digit.h"
#include "session/traffic_format.h"

namespace mc {
namespace {

constexpr std::size_t kBlockBytes = 128;
// Byte 126 of the base block: how many extension blocks follow it.
constexpr std::size_t kExtensionCountByte = 126;
// How much of a foreign line an error message repeats.
constexpr std::size_t kQuotedLength = 40;

std::string quoted(std::string_view text) {
    const bool cut = text.size() > kQuotedLength;
    return "\"" + visibleBytes(text.substr(0, kQuotedLength)) + (cut ? "...\"" : "\"");
}

EdidReply refused(std::string problem) {
    EdidReply reply;
    reply.problem = std::move(problem);
    return reply;
}

} // namespace

EdidReply checkEdidReply(std::string_view line, const EdidPort& port) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    const bool output = port.kind == EdidPort::Output;
    const std::string portName = (output ? "output " : "input ") + std::to_string(port.port);
    const std::string portWord = (output ? "OUT" : "IN") + std::to_string(port.port) + " ";
    const std::size_t data = line.find(kEdidDataKeyword);
    const std::string_view header = line.substr(0, data);
    if (data == std::string_view::npos || header.substr(0, portWord.size()) != portWord ||
        header.substr(portWord.size(), kEdidKeyword.size()) != kEdidKeyword) {
        return refused("the switcher answered " + quoted(line) + ", not the EDID of " + portName);
    }
    EdidReply reply;
    reply.image.fill(kEdidFillByte);
    std::string_view pairs = line.substr(data + kEdidDataKeyword.size());
    while (!pairs.empty() && pairs.back() == ' ') {
        pairs.remove_suffix(1);
    }
    std::size_t count = 0;
    while (!pairs.empty()) {
        const int high = hexDigitValue(pairs[0]);
        const int low = pairs.size() > 1 ? hexDigitValue(pairs[1]) : -1;
        if (high < 0 || low < 0 || (pairs.size() > 2 && pairs[2] != ' ')) {
            return refused("the EDID of " + portName + " holds " + quoted(pairs.substr(0, 3)) + " at byte " +
                           std::to_string(count) + ", not a hex pair");
        }
        if (count == kEdidImageBytes) {
            return refused("the EDID of " + portName + " holds more than " + std::to_string(kEdidImageBytes) +
                           " bytes");
        }
        reply.image.at(count++) = static_cast<std::uint8_t>(high * 16 + low);
        pairs.remove_prefix(std::min<std::size_t>(pairs.size(), 3));
    }
    if (count != kBlockBytes && count != 2 * kBlockBytes) {
        return refused("the EDID of " + portName + " holds " + std::to_string(count) +
                       " bytes, not whole 128-byte blocks");
    }
    if (count == kBlockBytes && reply.image.at(kExtensionCountByte) != 0) {
        return refused("the EDID of " + portName + " announces an extension block but holds only the base block");
    }
    return reply;
}

} // namespace mc
