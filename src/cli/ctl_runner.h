#pragma once

#include "cli_options.h"
#include "ctl_commands.h"
#include "device_status.h"
#include "line_link.h"
#include "link/text_command.h"

#include <chrono>
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
// As the command line takes it and the JSON schema spells it.
[[nodiscard]] std::string audioName(AudioState state);
// An EDID choice's name without its padding; empty for none.
[[nodiscard]] std::string itemName(int item);
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

    // Reads lines until `handle` returns true (done) or the deadline passes.
    // Returns the exit status for a failure to get there, or nullopt.
    template <typename Handle>
    std::optional<Outcome> waitFor(Clock::time_point until, std::string_view what, Handle handle) {
        std::string line;
        while (true) {
            switch (env_.link->nextLine(line, until)) {
            case LineLink::Wait::Line:
                if (handle(line)) {
                    return std::nullopt;
                }
                break;
            case LineLink::Wait::Timeout:
                return failure(kExitNoReply, std::string(commandName(inv_.command)) + ": no " + std::string(what) +
                                                 " from " + env_.link->name() + " within " + timeoutText(inv_));
            case LineLink::Wait::HungUp:
                return failure(kExitLink, std::string(commandName(inv_.command)) + ": " + env_.link->error());
            case LineLink::Wait::Interrupted:
                return failure(kExitLink, std::string(commandName(inv_.command)) + ": interrupted");
            }
        }
    }

    // Reads on until the line has been quiet for kSettle (bounded by until),
    // feeding what arrives to the status.
    std::optional<Outcome> settle(Clock::time_point until, DeviceStatus& status);

    // Sends one built command; a failure when it cannot be built or sent.
    std::optional<Outcome> send(const std::optional<TextCommand>& command);

    // Sends the status query and waits until `enough` holds.
    template <typename Enough>
    std::optional<Outcome> queryStatus(DeviceStatus& status, std::string_view what, Enough enough) {
        if (auto failed = send(probeCommand())) {
            return failed;
        }
        return waitFor(deadline(), what, [&](const std::string& line) {
            status.apply(decodeReply(line));
            return enough(status);
        });
    }

    Outcome status();
    Outcome route();
    Outcome audio();
    Outcome edidChoice(int expectedItem, const std::optional<TextCommand>& command);
    Outcome edidRead();
    Outcome edidWrite();
    Outcome edidDecode();
    Outcome netShow();
    Outcome netSet();
    Outcome search();
    Outcome sendText();
    Outcome monitor();

    const Invocation& inv_;
    const Environment& env_;
};
} // namespace mc::ctl
