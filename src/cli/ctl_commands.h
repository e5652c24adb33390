#pragma once

#include "cli_options.h"
#include "json.h"
#include "line_link.h"
#include "link/link_backend.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace mc::ctl {

// What one command produced: its exit status, the text for a person, the
// members of the JSON document, and on failure the reason.
struct Outcome {
    int exit = kExitOk;
    std::string text;
    Json json = Json::object();
    std::string error;
    // Whole lines for standard error whatever the outcome, --json and
    // --quiet too, before the reason (the EDID check's findings).
    std::string diagnostics = {};
};

// Why COMn did not open for the device search.
struct OpenFailure {
    std::string reason;
    PortRefusal refusal = PortRefusal::None; // a port that is there but held or forbidden
};
// Opens COMn for the device search; nullptr (and why in failure) when it cannot.
using ComOpener = std::function<std::unique_ptr<LineLink>(int comPort, OpenFailure& failure)>;
// Where monitor (and nothing else) writes as lines arrive; false once the
// output cannot be written, which ends the monitor.
using LineWriter = std::function<bool(std::string_view)>;

struct Environment {
    LineLink* link = nullptr; // open link for the commands that need one
    ComOpener openCom;        // search
    LineWriter stream;        // monitor
    // Standard error while it is a terminal, for what a person at it needs
    // to know that a script does not (monitor: what it watches, how to end it).
    LineWriter notice;
};

[[nodiscard]] Outcome runCommand(const Invocation& invocation, const Environment& environment);

// The JSON document as printed: command, ok, exit, link, error, then the
// command's own members.
[[nodiscard]] Json jsonDocument(const Invocation& invocation, const Outcome& outcome, std::string_view link);
// The same for a command line that was refused (exit status 2): the command
// when it could be told, else null.
[[nodiscard]] Json usageErrorDocument(std::optional<Command> command, std::string_view message);

} // namespace mc::ctl
