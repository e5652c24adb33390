#pragma once

#include "sim/front_panel.h"
#include "sim/switcher_state.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mc::sim {

// The switcher's command handling: takes one received line (its CR LF framing
// already removed), changes the state and returns the reply lines that report
// the changed state, each ending in CR LF.
//
// Only the exact forms the console sends are taken, blank for blank (a
// command built with a blank too many or too few is refused like a real
// typo): "SET OUTpp VS INpp", "SET OUTpp EXA  EN", "SET OUTpp EXA DIS",
// "SET INpp EDID dd", "SET INpp EDIDCY OUT pp", "GET OUTpp EDID  DATA",
// "GET INpp EDID dd DATA", "SET INn EDID Ud DATA <hex>", "SET DHCP d",
// "SET HIP a", "SET NMK a", "SET RIPa", "SET TIP t", "SET MAC t", "GET STA".
// A line of another form, or with a number out of range, gets kErrorReply.
// A network value the switcher cannot take (DHCP other than 0 or 1, a TCP
// port that is not 1 to 4 digits or is 0, a MAC address that is not six hex
// octets) is not stored and the line reporting the current value is sent
// instead, so the console shows what the switcher really holds.
class CommandInterpreter {
public:
    // faults, if not null, outlives the interpreter; a route command to an
    // output it marks is dropped: no change, no reply.
    explicit CommandInterpreter(SwitcherState& state, const ReplyFaults* faults = nullptr)
        : state_(state), faults_(faults) {}

    [[nodiscard]] std::vector<std::string> execute(std::string_view line);

private:
    SwitcherState& state_;
    const ReplyFaults* faults_;
};

// Normalises a MAC address text to "XX:XX:XX:XX:XX:XX" (upper case). Takes
// six octets of two hex digits, separated by ':' or '-' or not at all;
// nullopt for anything else.
[[nodiscard]] std::optional<std::string> normaliseMac(std::string_view text);

// Normalises a TCP port text of 1 to 4 digits to its decimal value without
// leading zeros; nullopt for anything else and for 0.
[[nodiscard]] std::optional<std::string> normaliseTcpPort(std::string_view text);

} // namespace mc::sim
