#pragma once

#include "sim/switcher_state.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace mc::sim {

// Outputs whose route commands are lost on the way in: neither carried out
// nor answered, as if the line had dropped them. Shared by every line, so a
// client waiting for a confirmation sees none whichever way it is connected.
struct ReplyFaults {
    std::array<bool, kPortCount> unansweredRoutes{}; // index: output - 1

    [[nodiscard]] bool routeUnanswered(int output) const { return unansweredRoutes.at(output - 1); }
};

// What someone at the switcher itself does (its front panel, an IR remote),
// and the faults a test switches on while the emulator runs. A panel change
// changes the state and sends nothing on any line: the switcher does not
// announce them, clients learn of them by asking.
struct PanelRoute {
    int output;
    int input;
};
struct PanelAudio {
    int output;
    bool on;
};
struct PanelUnanswered {
    int output;
    bool unanswered;
};
using PanelCommand = std::variant<PanelRoute, PanelAudio, PanelUnanswered>;

// Control lines, keywords in any case, fields separated by blanks or tabs:
//   route OUT IN                 OUT and IN 1 to 16
//   audio OUT on|off|mute|unmute
//   unanswered OUT               route commands to OUT get no answer
//   answered OUT                 ... and are answered again
// nullopt with the reason in error for anything else.
[[nodiscard]] std::optional<PanelCommand> parsePanelCommand(std::string_view line, std::string& error);

// Carries the command out; returns what changed, for the log:
// "OUT3 VS IN5", "OUT3 EXA DIS", "route commands to OUT3 go unanswered".
std::string applyPanelCommand(const PanelCommand& command, SwitcherState& state, ReplyFaults& faults);

} // namespace mc::sim
