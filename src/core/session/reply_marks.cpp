#include "session/reply_marks.h"

#include "edid/edid_check.h"
#include "session/edid_capture.h"
#include "session/overloaded.h"
#include "session/reply_parser.h"
#include "session/traffic_format.h"

#include <string>
#include <utility>

namespace mc {

namespace {

constexpr std::string_view kEdidReadBackMark = "EDID data read back";

TrafficMark acted(std::string text) {
    return {TrafficMarkKind::ActedOn, std::move(text)};
}

TrafficMark ignored() {
    return {TrafficMarkKind::Ignored, "ignored"};
}

std::string portText(const char* what, int port) {
    return port == kAllPorts ? std::string("all ") + what + "s" : std::string(what) + " " + std::to_string(port);
}

std::string dottedAddress(std::uint32_t address) {
    return std::to_string(address >> 24U) + "." + std::to_string((address >> 16U) & 0xffU) + "." +
           std::to_string((address >> 8U) & 0xffU) + "." + std::to_string(address & 0xffU);
}

TrafficMark describe(const Reply& reply, std::string_view line) {
    return std::visit(
        Overloaded{
            [&](const IgnoredReply&) {
                return isErrorReply(line) ? TrafficMark{TrafficMarkKind::Error, std::string(kErrorReply)} : ignored();
            },
            [](const RoutingReply& r) {
                if (!r.output) {
                    return acted("routing redrawn");
                }
                const std::string input = r.input ? "input " + std::to_string(*r.input + 1) : "no input";
                return acted(portText("output", *r.output) + " -> " + input);
            },
            [](const EdidChoiceReply& r) {
                if (!r.input) {
                    return ignored();
                }
                const std::string item = r.item ? "choice " + std::to_string(*r.item) : "no choice";
                return acted(portText("input", *r.input) + " EDID -> " + item);
            },
            // Values taken from the line as text: a switcher (or whatever
            // answers in its place) may put terminal escapes in them, shown
            // like the line itself rather than passed to a terminal or a cell.
            [](const MacReply& r) { return acted("MAC -> " + visibleBytes(r.text)); },
            [](const AddressReply& r) {
                const char* what = r.kind == AddressReply::Host      ? "IP address"
                                   : r.kind == AddressReply::NetMask ? "net mask"
                                                                     : "router";
                return acted(std::string(what) + " -> " + dottedAddress(r.address));
            },
            [](const TcpPortReply& r) { return acted("TCP port -> " + visibleBytes(r.text)); },
            [](const DhcpReply& r) { return acted(std::string("DHCP -> ") + (r.on ? "on" : "off")); },
            [](const AudioReply& r) {
                if (!r.output) {
                    return ignored();
                }
                return acted(portText("output", *r.output) + " audio -> " +
                             (r.state == AudioState::On ? "on" : "mute"));
            },
            [&](const auto&) { return redrawsAudioPage(reply) ? acted("audio page redrawn") : ignored(); },
        },
        reply);
}

} // namespace

TrafficMark markReplyLine(std::string_view line, bool edidReadPending) {
    if (edidReadPending) {
        // The EDID-to-file parser takes the first data line and drops the rest.
        return isEdidDataLine(line) ? acted(std::string(kEdidReadBackMark))
                                    : TrafficMark{TrafficMarkKind::Ignored, "ignored (EDID read pending)"};
    }
    return describe(decodeReply(line), line);
}

TrafficMark markEdidReadBack(const EdidReply& checked) {
    if (!checked.problem.empty()) {
        return {TrafficMarkKind::Fault, std::string(kEdidNotSavedLog) + checked.problem};
    }
    const EdidFindings findings = checkEdid(checked.image);
    if (findings.empty()) {
        return acted(std::string(kEdidReadBackMark));
    }
    return {TrafficMarkKind::Fault,
            std::string(kEdidReadBackMark) + "; " + std::string(kEdidCheckNote) + summariseEdidFindings(findings)};
}

} // namespace mc
