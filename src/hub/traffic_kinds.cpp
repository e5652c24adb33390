#include "traffic_kinds.h"

#include "link/commands.h"
#include "link/ports.h"
#include "session/edid_capture.h"
#include "session/reply_parser.h"

#include <variant>

namespace mc::hub {
namespace {

constexpr std::string_view kStoredReply = " STORED";
// The switcher's status answer ends with the audio line of the last output.
constexpr int kStatusLastAudioOutput = kLastPort;
// SET TIP is answered with the TCP port and then the DHCP flag.
constexpr int kTcpPortAnswerLines = 2;

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == '\r' || text.front() == '\n')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

// The two-character port field at `at` ("3 ", "12"); 0 for "0 " or "00"
// (every port, where the switcher takes it); -1 when it is none.
int portFieldAt(std::string_view text, std::size_t at) {
    if (at + 2 > text.size()) {
        return -1;
    }
    if (text[at] == '0' && (text[at + 1] == ' ' || text[at + 1] == '0')) {
        return 0;
    }
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        const auto field = portField(port);
        if (field && text[at] == (*field)[0] && text[at + 1] == (*field)[1]) {
            return port;
        }
    }
    return -1;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

} // namespace

ReplyTopic replyTopic(std::string_view line) {
    if (isEdidDataLine(line)) {
        return {ReplyTopic::EdidData, -1};
    }
    const std::string_view text = trimmed(line);
    if (text == kErrorReply) {
        return {ReplyTopic::Error, -1};
    }
    if (contains(text, kStoredReply)) {
        return {ReplyTopic::Stored, -1};
    }
    const Reply reply = decodeReply(line);
    if (const auto* route = std::get_if<RoutingReply>(&reply)) {
        return {ReplyTopic::Route, route->output.value_or(-1)};
    }
    if (const auto* audio = std::get_if<AudioReply>(&reply)) {
        return {ReplyTopic::Audio, audio->output.value_or(-1)};
    }
    if (const auto* edid = std::get_if<EdidChoiceReply>(&reply)) {
        return {ReplyTopic::EdidChoice, edid->input.value_or(-1)};
    }
    if (std::holds_alternative<MacReply>(reply) || std::holds_alternative<AddressReply>(reply) ||
        std::holds_alternative<TcpPortReply>(reply) || std::holds_alternative<DhcpReply>(reply)) {
        return {ReplyTopic::Network, -1};
    }
    return {ReplyTopic::Other, -1};
}

CommandExpectation expectationOf(std::string_view command) {
    const std::string_view text = trimmed(command);
    CommandExpectation expectation;
    if (text == "GET STA") {
        expectation.kind = CommandExpectation::Status;
    } else if (startsWith(text, "GET ") && contains(text, " EDID") && contains(text, "DATA")) {
        expectation.kind = CommandExpectation::EdidData;
    } else if (startsWith(text, "SET IN") && contains(text, " EDID ") && contains(text, " DATA")) {
        expectation.kind = CommandExpectation::Stored;
    } else if (startsWith(text, "SET OUT")) {
        const int output = portFieldAt(text, 7);
        const std::string_view rest = text.substr(std::min<std::size_t>(9, text.size()));
        if (output >= 0 && startsWith(rest, " VS IN")) {
            const int input = portFieldAt(rest, 6);
            if (input > 0 && rest.size() <= 8) {
                expectation = {CommandExpectation::Route, output, input, 1};
            }
        } else if (output > 0 && startsWith(rest, " EXA ")) {
            expectation = {CommandExpectation::Audio, output, std::nullopt, 1};
        }
    } else if (startsWith(text, "SET IN") && contains(text, " EDID")) {
        const int input = portFieldAt(text, 6);
        if (input > 0) {
            expectation = {CommandExpectation::EdidChoice, input, std::nullopt, 1};
        }
    } else {
        for (const std::string_view keyword : {"SET DHCP", "SET HIP", "SET NMK", "SET RIP", "SET TIP", "SET MAC"}) {
            if (startsWith(text, keyword)) {
                expectation.kind = CommandExpectation::Network;
                expectation.lines = keyword == "SET TIP" ? kTcpPortAnswerLines : 1;
            }
        }
    }
    return expectation;
}

bool answers(const CommandExpectation& expectation, const ReplyTopic& topic) {
    const auto samePort = [&] {
        return expectation.port == kAllPorts || topic.port == expectation.port || topic.port == kAllPorts;
    };
    switch (expectation.kind) {
    case CommandExpectation::Route:
        return topic.kind == ReplyTopic::Error || (topic.kind == ReplyTopic::Route && samePort());
    case CommandExpectation::Audio:
        return topic.kind == ReplyTopic::Error || (topic.kind == ReplyTopic::Audio && samePort());
    case CommandExpectation::EdidChoice:
        return topic.kind == ReplyTopic::Error || (topic.kind == ReplyTopic::EdidChoice && samePort());
    case CommandExpectation::Network:
        return topic.kind == ReplyTopic::Error || topic.kind == ReplyTopic::Network;
    case CommandExpectation::EdidData:
        return topic.kind == ReplyTopic::Error || topic.kind == ReplyTopic::EdidData;
    case CommandExpectation::Stored:
        return topic.kind == ReplyTopic::Error || topic.kind == ReplyTopic::Stored;
    case CommandExpectation::Status:
        return topic.kind == ReplyTopic::Route || topic.kind == ReplyTopic::Audio ||
               topic.kind == ReplyTopic::EdidChoice || topic.kind == ReplyTopic::Network ||
               topic.kind == ReplyTopic::Other;
    case CommandExpectation::AnyLine:
        return true;
    }
    return false;
}

bool isLastStatusLine(const ReplyTopic& topic) {
    return topic.kind == ReplyTopic::Audio && topic.port == kStatusLastAudioOutput;
}

std::string routeReplyLine(int output, int input) {
    return "OUT" + std::to_string(output) + " VS IN" + std::to_string(input) + "\r\n";
}

} // namespace mc::hub
