#include "sim/front_panel.h"

#include "sim/reply_lines.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <vector>

namespace mc::sim {

namespace {

// Longer lines are refused before they are split, so a stray binary write
// cannot make the words list grow.
constexpr std::size_t kMaxControlLine = 256;

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t", at);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(line.find_first_of(" \t", start), line.size());
        out.push_back(line.substr(start, end - start));
        at = end;
    }
    return out;
}

bool sameWord(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// 1 to 16; 0 for anything else.
int port(std::string_view text) {
    int value = 0;
    const auto* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end || value < 1 || value > kPortCount) {
        return 0;
    }
    return value;
}

std::optional<bool> audioState(std::string_view text) {
    if (sameWord(text, "on") || sameWord(text, "unmute")) {
        return true;
    }
    if (sameWord(text, "off") || sameWord(text, "mute")) {
        return false;
    }
    return std::nullopt;
}

std::string outputName(int output) {
    return "OUT" + std::to_string(output);
}

// The reply line the switcher would have sent, for the log.
std::string withoutLineEnd(std::string line) {
    line.resize(line.size() - kLineEnd.size());
    return line;
}

} // namespace

std::optional<PanelCommand> parsePanelCommand(std::string_view line, std::string& error) {
    if (line.size() > kMaxControlLine) {
        error = "longer than " + std::to_string(kMaxControlLine) + " bytes";
        return std::nullopt;
    }
    const auto w = words(line);
    if (w.empty()) {
        error = "empty";
        return std::nullopt;
    }
    const std::string_view keyword = w[0];
    const int output = w.size() > 1 ? port(w[1]) : 0;
    if (sameWord(keyword, "route") && w.size() == 3) {
        const int input = port(w[2]);
        if (output != 0 && input != 0) {
            return PanelRoute{output, input};
        }
        error = "route takes an output and an input, 1 to 16";
        return std::nullopt;
    }
    if (sameWord(keyword, "audio") && w.size() == 3) {
        const auto on = audioState(w[2]);
        if (output != 0 && on) {
            return PanelAudio{output, *on};
        }
        error = "audio takes an output (1 to 16) and on, off, mute or unmute";
        return std::nullopt;
    }
    const bool unanswered = sameWord(keyword, "unanswered");
    if ((unanswered || sameWord(keyword, "answered")) && w.size() == 2) {
        if (output != 0) {
            return PanelUnanswered{output, unanswered};
        }
        error = std::string(keyword) + " takes an output, 1 to 16";
        return std::nullopt;
    }
    error = "not a control command (route OUT IN, audio OUT on|off, unanswered OUT, answered OUT)";
    return std::nullopt;
}

std::string applyPanelCommand(const PanelCommand& command, SwitcherState& state, ReplyFaults& faults) {
    if (const auto* route = std::get_if<PanelRoute>(&command)) {
        state.route(route->output, route->input);
        return withoutLineEnd(routeReply(route->output, route->input));
    }
    if (const auto* audio = std::get_if<PanelAudio>(&command)) {
        state.setAudioOn(audio->output, audio->on);
        return withoutLineEnd(audioReply(audio->output, audio->on));
    }
    const auto& fault = std::get<PanelUnanswered>(command);
    faults.unansweredRoutes.at(fault.output - 1) = fault.unanswered;
    return "route commands to " + outputName(fault.output) + (fault.unanswered ? " go unanswered" : " are answered");
}

} // namespace mc::sim
