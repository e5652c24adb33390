#include "session/command_exchange.h"

#include "session/edid_capture.h"

#include <utility>

namespace mc {

namespace {

using Answer = CommandExchange::Answer;

// The port a reply names is the asked one, or all ports.
bool names(std::optional<int> replyPort, int asked) {
    return replyPort && (*replyPort == kAllPorts || *replyPort == asked);
}

Answer agreement(bool same) {
    return same ? Answer::Confirms : Answer::Disagrees;
}

} // namespace

CommandExchange::CommandExchange(TextCommand command, std::string awaited, Judge judge)
    : command_(std::move(command)), awaited_(std::move(awaited)), judge_(std::move(judge)) {
}

void CommandExchange::start(Clock::time_point now, std::chrono::milliseconds timeout) {
    if (waiting()) {
        deadline_ = now + timeout;
    }
}

ExchangeState CommandExchange::takeLine(std::string_view line) {
    if (!waiting()) {
        return state_;
    }
    Reply reply = decodeReply(line);
    switch (judge_(line, reply)) {
    case Answer::NotYet:
        return state_;
    case Answer::Confirms:
        state_ = ExchangeState::Confirmed;
        break;
    case Answer::Disagrees:
        state_ = ExchangeState::Disagreed;
        break;
    }
    answerLine_ = std::string(line);
    answer_ = std::move(reply);
    return state_;
}

ExchangeState CommandExchange::tick(Clock::time_point now) {
    if (waiting() && now >= deadline_) {
        state_ = ExchangeState::TimedOut;
    }
    return state_;
}

std::optional<CommandExchange> routeExchange(int output, int input) {
    auto command = routingCommand(output, input);
    if (!command) {
        return std::nullopt;
    }
    return CommandExchange(std::move(*command), "routing confirmation",
                           [output, input](std::string_view, const Reply& reply) {
                               const auto* routing = std::get_if<RoutingReply>(&reply);
                               if (routing == nullptr || !names(routing->output, output)) {
                                   return Answer::NotYet;
                               }
                               return agreement(routing->input == input - 1);
                           });
}

std::optional<CommandExchange> audioExchange(int output, AudioState state) {
    auto command = audioCommand(output, state);
    if (!command) {
        return std::nullopt;
    }
    return CommandExchange(std::move(*command), "audio confirmation",
                           [output, state](std::string_view, const Reply& reply) {
                               const auto* audio = std::get_if<AudioReply>(&reply);
                               if (audio == nullptr || !names(audio->output, output)) {
                                   return Answer::NotYet;
                               }
                               return agreement(audio->state == state);
                           });
}

std::optional<CommandExchange> edidChoiceExchange(int input, int choice) {
    auto command = applyEdidChoiceCommand(input, choice);
    if (!command) {
        return std::nullopt;
    }
    return CommandExchange(std::move(*command), "EDID confirmation",
                           [input, choice](std::string_view line, const Reply& reply) {
                               // An EDID data line holds "EDID " too, but reports no choice.
                               if (isEdidDataLine(line)) {
                                   return Answer::NotYet;
                               }
                               const auto* edid = std::get_if<EdidChoiceReply>(&reply);
                               if (edid == nullptr || !names(edid->input, input)) {
                                   return Answer::NotYet;
                               }
                               return agreement(edid->item == choice);
                           });
}

std::optional<CommandExchange> edidUploadExchange(int input, int userSlot,
                                                  std::span<const std::uint8_t, kUploadEdidSize> edid) {
    auto command = uploadEdidCommand(input, userSlot, edid);
    if (!command) {
        return std::nullopt;
    }
    return CommandExchange(std::move(*command), "reply to the upload", [](std::string_view line, const Reply&) {
        // The CR LF a reply may start with is not the answer.
        if (line.find_first_not_of("\r\n") == std::string_view::npos) {
            return Answer::NotYet;
        }
        return agreement(!isErrorReply(line));
    });
}

CommandExchange probeExchange() {
    return CommandExchange(probeCommand(), "answer to the search probe",
                           [](std::string_view, const Reply&) { return Answer::Confirms; });
}

} // namespace mc
