#pragma once

#include "cli_options.h"
#include "ctl_commands.h"
#include "device_status.h"
#include "line_link.h"
#include "link/text_command.h"
#include "session/command_exchange.h"
#include "session/switcher_state.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The commands' shared parts: the runner that waits for replies and the texts
// the commands' outputs share. ctl_commands.cpp runs the switcher commands,
// edid_commands.cpp the EDID reads, writes and decodes.
namespace mc::ctl {

// Without its CR LF.
[[nodiscard]] std::string stripLineEnd(std::string line);
// The decoder's reports end lines in CR LF; a terminal wants LF.
[[nodiscard]] std::string unixLines(std::string_view text);
// A report as a JSON array of its lines.
[[nodiscard]] Json linesOf(std::string_view text);
[[nodiscard]] std::string timeoutText(const Invocation& inv);
[[nodiscard]] Outcome failure(int exit, std::string message);

class Runner {
public:
    Runner(const Invocation& inv, const Environment& env) : inv_(inv), env_(env) {}

    Outcome run();

private:
    [[nodiscard]] Clock::time_point deadline() const {
        return Clock::now() + std::chrono::milliseconds(inv_.timeoutMs);
    }

    // Sends the exchange's command and waits until the switcher settles it
    // or its deadline passes: the blocking loop over the core's exchange. A
    // failure to send or to get an answer is returned; a confirmation or a
    // disagreement is the exchange's state.
    std::optional<Outcome> runExchange(CommandExchange& exchange);

    // Sends the status query and waits until `enough` holds for the state.
    std::optional<Outcome> queryStatus(SwitcherState& status, std::string what,
                                       std::function<bool(const SwitcherState&)> enough);

    // Reads on until the line has been quiet for kSettle (bounded by until),
    // feeding what arrives to the status.
    std::optional<Outcome> settle(Clock::time_point until, SwitcherState& status);

    // The failure when the link hung up or the wait was interrupted.
    [[nodiscard]] Outcome linkFailure(LineLink::Wait wait) const;
    [[nodiscard]] Outcome unbuilt() const;

    Outcome status();
    Outcome route();
    Outcome audio();
    // choice 0..48: an EDID source, or past them a copy of an output's EDID.
    Outcome edidChoice(int expectedItem);
    Outcome edidRead();
    Outcome edidWrite();
    Outcome edidDecode();
    [[nodiscard]] Outcome edidList() const;
    Outcome netShow();
    Outcome netSet();
    Outcome search();
    Outcome sendText();
    Outcome monitor();

    const Invocation& inv_;
    const Environment& env_;
};
} // namespace mc::ctl
