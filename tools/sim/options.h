#pragma once

#include "sim/front_panel.h"
#include "sim/listen_address.h"
#include "sim/session.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace mc::sim {

inline constexpr int kMaxComPort = 99; // the console offers COM1 to COM99

struct Options {
    std::string portsDir; // with com: link the pseudo-terminal as portsDir/comN
    int com = 0;
    std::string device; // or: a real serial device
    // and/or: take TCP connections here, every client on the same switcher
    std::optional<ListenAddress> listen;
    std::string logFile; // empty: standard error
    // Front-panel changes and faults, one command a line: a FIFO (created
    // when missing) or "-" for standard input. Empty: none.
    std::string control;
    ReplyFaults faults; // as set at start; session.faults is left null here
    SessionOptions session;
    bool help = false;
    bool version = false;
};

[[nodiscard]] std::string_view usageText();

// Reads the arguments after the program name; "--name value" and
// "--name=value" alike. nullopt with a message in error when they do not
// make one valid set.
[[nodiscard]] std::optional<Options> parseOptions(std::span<const std::string_view> args, std::string& error);

} // namespace mc::sim
