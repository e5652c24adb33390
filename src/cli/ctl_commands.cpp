#include "ctl_commands.h"

#include "ctl_runner.h"
#include "edid/edid_choices.h"
#include "link/commands.h"
#include "session/edid_capture.h"
#include "session/reply_marks.h"
#include "session/reply_parser.h"
#include "session/traffic_format.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <variant>

namespace mc::ctl {
namespace {

using namespace std::chrono_literals;

// After a status the switcher may still be sending; the channel purges unread
// input before each write, which would cut a line in two. Wait for this much
// silence before the next command.
constexpr auto kSettle = 150ms;
// `send`: the reply is over after this much silence.
constexpr auto kQuiet = 300ms;
constexpr std::size_t kSendLineLimit = 10000;

} // namespace

std::string stripLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

std::string unixLines(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

Json linesOf(std::string_view text) {
    Json lines = Json::array();
    std::istringstream in{unixLines(text)};
    for (std::string line; std::getline(in, line);) {
        lines.push(line);
    }
    return lines;
}

std::string timeoutText(const Invocation& inv) {
    return std::to_string(inv.timeoutMs) + " ms";
}

Outcome failure(int exit, std::string message) {
    Outcome outcome;
    outcome.exit = exit;
    outcome.error = std::move(message);
    return outcome;
}

// Reads on until the line has been quiet for kSettle (bounded by until),
// feeding what arrives to the status.
Outcome Runner::linkFailure(LineLink::Wait wait) const {
    const std::string command(commandName(inv_.command));
    return wait == LineLink::Wait::Interrupted ? failure(kExitLink, command + ": interrupted")
                                               : failure(kExitLink, command + ": " + env_.link->error());
}

Outcome Runner::unbuilt() const {
    // Every argument was checked already; a builder refusing one is a fault here.
    return failure(kExitUsage, std::string(commandName(inv_.command)) + ": the command cannot be built");
}

std::optional<Outcome> Runner::runExchange(CommandExchange& exchange) {
    if (!env_.link->send(exchange.command().bytes())) {
        return failure(kExitLink, std::string(commandName(inv_.command)) + ": " + env_.link->error());
    }
    exchange.start(Clock::now(), std::chrono::milliseconds(inv_.timeoutMs));
    std::string line;
    while (exchange.waiting()) {
        const LineLink::Wait wait = env_.link->nextLine(line, exchange.deadline());
        if (wait == LineLink::Wait::Line) {
            exchange.takeLine(line);
        } else if (wait == LineLink::Wait::Timeout) {
            exchange.tick(Clock::now());
        } else {
            return linkFailure(wait);
        }
    }
    if (exchange.state() == ExchangeState::TimedOut) {
        return failure(kExitNoReply, std::string(commandName(inv_.command)) + ": no " + exchange.awaited() + " from " +
                                         env_.link->name() + " within " + timeoutText(inv_));
    }
    return std::nullopt;
}

std::optional<Outcome> Runner::queryStatus(SwitcherState& status, std::string what,
                                           std::function<bool(const SwitcherState&)> enough) {
    CommandExchange query(probeCommand(), std::move(what), [&](std::string_view, const Reply& reply) {
        status.apply(reply);
        return enough(status) ? CommandExchange::Answer::Confirms : CommandExchange::Answer::NotYet;
    });
    return runExchange(query);
}

std::optional<Outcome> Runner::settle(Clock::time_point until, SwitcherState& status) {
    std::string line;
    while (true) {
        const auto quietUntil = std::min(until, Clock::now() + kSettle);
        const LineLink::Wait wait = env_.link->nextLine(line, quietUntil);
        if (wait == LineLink::Wait::Line) {
            status.apply(decodeReply(line));
        } else if (wait == LineLink::Wait::Timeout) {
            return std::nullopt;
        } else {
            return linkFailure(wait);
        }
    }
}

Outcome Runner::run() {
    switch (inv_.command) {
    case Command::Status:
        return status();
    case Command::Route:
        return route();
    case Command::Audio:
        return audio();
    case Command::EdidSet:
        return edidChoice(inv_.item);
    case Command::EdidCopy:
        // The choice past the source indexes that copies the output's EDID.
        return edidChoice(kLastEdidSourceIndex + inv_.output);
    case Command::EdidRead:
        return edidRead();
    case Command::EdidWrite:
        return edidWrite();
    case Command::EdidDecode:
        return edidDecode();
    case Command::EdidList:
        return edidList();
    case Command::NetShow:
        return netShow();
    case Command::NetSet:
        return netSet();
    case Command::Search:
        return search();
    case Command::Send:
        return sendText();
    case Command::Monitor:
        return monitor();
    }
    return failure(kExitUsage, "unknown command");
}

Outcome Runner::status() {
    SwitcherState s;
    if (auto failed = queryStatus(s, "complete status", [](const SwitcherState& st) { return st.complete(); })) {
        if (failed->exit == kExitNoReply) {
            failed->error += " (missing: " + s.missing() + ")";
        }
        return *failed;
    }
    Outcome outcome;
    outcome.text = statusText(s);
    outcome.json.set("outputs", outputsJson(s));
    outcome.json.set("inputs", inputsJson(s));
    outcome.json.set("network", networkJson(s));
    return outcome;
}

Outcome Runner::route() {
    auto exchange = routeExchange(inv_.output, inv_.input);
    if (!exchange) {
        return unbuilt();
    }
    if (auto failed = runExchange(*exchange)) {
        return *failed;
    }
    const std::optional<int> shown = std::get<RoutingReply>(exchange->answer()).input;
    Outcome outcome;
    outcome.json.set("output", inv_.output);
    outcome.json.set("input", !shown ? Json() : Json(*shown + 1));
    const std::string shownText = !shown ? "no input" : "input " + std::to_string(*shown + 1);
    outcome.text = "output " + std::to_string(inv_.output) + " shows " + shownText + "\n";
    if (exchange->state() == ExchangeState::Disagreed) { // none disagrees too
        outcome.exit = kExitDisagrees;
        outcome.error = "route: output " + std::to_string(inv_.output) + " shows " + shownText + ", not input " +
                        std::to_string(inv_.input);
    }
    return outcome;
}

Outcome Runner::audio() {
    auto exchange = audioExchange(inv_.output, inv_.audio);
    if (!exchange) {
        return unbuilt();
    }
    if (auto failed = runExchange(*exchange)) {
        return *failed;
    }
    const std::string stateText = audioName(std::get<AudioReply>(exchange->answer()).state);
    Outcome outcome;
    outcome.json.set("output", inv_.output);
    outcome.json.set("audio", stateText);
    outcome.text = "output " + std::to_string(inv_.output) + " audio " + stateText + "\n";
    if (exchange->state() == ExchangeState::Disagreed) {
        outcome.exit = kExitDisagrees;
        outcome.error = "audio: output " + std::to_string(inv_.output) + " reports audio " + stateText + ", not " +
                        audioName(inv_.audio);
    }
    return outcome;
}

Outcome Runner::edidChoice(int expectedItem) {
    auto exchange = edidChoiceExchange(inv_.input, expectedItem);
    if (!exchange) {
        return unbuilt();
    }
    if (auto failed = runExchange(*exchange)) {
        return *failed;
    }
    const std::optional<int> item = std::get<EdidChoiceReply>(exchange->answer()).item;
    Outcome outcome;
    outcome.json.set("input", inv_.input);
    outcome.json.set("edid", !item ? Json() : Json(*item + 1));
    outcome.json.set("edid_name", !item ? Json() : Json(itemName(*item)));
    const std::string itemText = !item ? "no EDID" : "EDID " + std::to_string(*item + 1) + " " + itemName(*item);
    outcome.text = "input " + std::to_string(inv_.input) + " presents " + itemText + "\n";
    if (exchange->state() == ExchangeState::Disagreed) {
        outcome.exit = kExitDisagrees;
        outcome.error = std::string(commandName(inv_.command)) + ": input " + std::to_string(inv_.input) +
                        " presents " + itemText + ", not EDID " + std::to_string(expectedItem + 1) + " " +
                        itemName(expectedItem);
    }
    return outcome;
}

Outcome Runner::edidList() const {
    Outcome outcome;
    Json items = Json::array();
    char row[64];
    for (int item = 0; item < kInputEdidItemCount; ++item) {
        const std::string name = itemName(item);
        std::snprintf(row, sizeof row, "%2d  %s\n", item + 1, name.c_str());
        outcome.text += row;
        Json entry = Json::object();
        entry.set("edid", item + 1);
        entry.set("edid_name", name);
        items.push(std::move(entry));
    }
    outcome.json.set("items", std::move(items));
    return outcome;
}

Outcome Runner::netShow() {
    SwitcherState s;
    if (auto failed =
            queryStatus(s, "network settings", [](const SwitcherState& st) { return st.networkComplete(); })) {
        return *failed;
    }
    Outcome outcome;
    outcome.json.set("network", networkJson(s));
    outcome.text = networkText(s);
    return outcome;
}

Outcome Runner::netSet() {
    SwitcherState current;
    if (auto failed =
            queryStatus(current, "network settings", [](const SwitcherState& st) { return st.networkComplete(); })) {
        return *failed;
    }
    if (auto failed = settle(deadline(), current)) {
        return *failed;
    }
    const NetChanges& change = inv_.net;
    NetworkSettings settings;
    settings.dhcp = change.dhcp.value_or(current.dhcp()->value);
    if (settings.dhcp && (change.host || change.mask || change.router)) {
        return failure(kExitUsage, "net set: the switcher has DHCP on; --host, --mask and --router need --dhcp off");
    }
    settings.host = change.host.value_or(Ipv4Address::fromUint32(current.hostAddress()->value));
    settings.netMask = change.mask.value_or(Ipv4Address::fromUint32(current.netMask()->value));
    settings.router = change.router.value_or(Ipv4Address::fromUint32(current.routerAddress()->value));
    settings.tcpPort = change.tcpPort.value_or(current.tcpPort()->value);
    settings.mac = change.mac;
    auto command = networkSettingsCommand(settings);
    if (!command) {
        return unbuilt();
    }
    // What the switcher reports after the settings block, fed by the lines
    // the exchange takes.
    SwitcherState confirmed;
    CommandExchange exchange(
        std::move(*command), "confirmation of the network settings", [&](std::string_view, const Reply& reply) {
            confirmed.apply(reply);
            const bool all =
                confirmed.dhcp() && confirmed.tcpPort() &&
                (settings.dhcp || (confirmed.hostAddress() && confirmed.netMask() && confirmed.routerAddress())) &&
                (!settings.mac || confirmed.mac());
            return all ? CommandExchange::Answer::Confirms : CommandExchange::Answer::NotYet;
        });
    if (auto failed = runExchange(exchange)) {
        return *failed;
    }
    std::string differs;
    auto check = [&differs](bool same, std::string_view what) {
        if (!same) {
            differs.append(differs.empty() ? "" : ", ");
            differs.append(what);
        }
    };
    check(confirmed.dhcp()->value == settings.dhcp, "DHCP");
    check(confirmed.tcpPort()->value == settings.tcpPort, "TCP port");
    if (!settings.dhcp) {
        check(confirmed.hostAddress()->value == settings.host.toUint32(), "host");
        check(confirmed.netMask()->value == settings.netMask.toUint32(), "mask");
        check(confirmed.routerAddress()->value == settings.router.toUint32(), "router");
    }
    if (settings.mac) {
        check(normaliseMac(confirmed.mac()->value) == settings.mac, "MAC");
    }
    // What the switcher reports now: confirmed values over the earlier ones.
    SwitcherState shown = current;
    shown.dhcpReported(confirmed.dhcp()->value);
    shown.tcpPortReported(confirmed.tcpPort()->value);
    using Address = SwitchReportView::NetworkAddress;
    for (auto [which, from] :
         {std::pair{Address::Host, &confirmed.hostAddress()}, std::pair{Address::NetMask, &confirmed.netMask()},
          std::pair{Address::Router, &confirmed.routerAddress()}}) {
        if (*from) {
            shown.addressReported(which, (*from)->value);
        }
    }
    if (confirmed.mac()) {
        shown.macReported(confirmed.mac()->value);
    }
    Outcome outcome;
    outcome.json.set("network", networkJson(shown));
    outcome.text = networkText(shown);
    if (!differs.empty()) {
        outcome.exit = kExitDisagrees;
        outcome.error = "net set: the switcher reports other values for: " + differs;
    }
    return outcome;
}

namespace {

// The ports a search could not open although they are there, by reason:
// "in use by another program: COM2, COM4; permission denied: COM5 (add ...)".
std::string refusedPortsText(const std::vector<std::pair<int, PortRefusal>>& refused) {
    std::string text;
    for (const auto& [kind, what] : {std::pair{PortRefusal::InUse, "in use by another program"},
                                     std::pair{PortRefusal::PermissionDenied, "permission denied"}}) {
        std::string ports;
        for (const auto& [port, refusal] : refused) {
            if (refusal == kind) {
                ports += (ports.empty() ? "" : ", ") + std::string("COM") + std::to_string(port);
            }
        }
        if (ports.empty()) {
            continue;
        }
        text += "; " + std::string(what) + ": " + ports;
        if (kind == PortRefusal::PermissionDenied) {
            text += " " + std::string(kSerialPermissionHint);
        }
    }
    return text;
}

} // namespace

Outcome Runner::search() {
    bool first = true;
    int opened = 0;
    // A port held by another program may be the switcher's: the user is told.
    std::vector<std::pair<int, PortRefusal>> refused;
    for (int n = kFirstComPort; n <= kLastComPort && !interruptRequested(); ++n) {
        OpenFailure failed;
        const std::unique_ptr<LineLink> link = env_.openCom(n, failed);
        if (!link) {
            if (failed.refusal != PortRefusal::None) {
                refused.emplace_back(n, failed.refusal);
            }
            continue;
        }
        ++opened;
        CommandExchange probe = probeExchange();
        if (!link->send(probe.command().bytes())) {
            continue;
        }
        probe.start(Clock::now(), first ? kFirstProbeWait : kNextProbeWait);
        first = false;
        std::string line;
        if (link->nextLine(line, probe.deadline()) == LineLink::Wait::Line &&
            probe.takeLine(line) == ExchangeState::Confirmed) {
            Outcome outcome;
            outcome.json.set("found", link->name());
            outcome.text = link->name() + "\n";
            return outcome;
        }
    }
    if (interruptRequested()) {
        return failure(kExitLink, "search: interrupted");
    }
    if (opened == 0) {
        return failure(kExitLink, "search: no port from COM1 to COM99 can be opened" + refusedPortsText(refused));
    }
    return failure(kExitNoReply, "search: no switcher answered on the " + std::to_string(opened) +
                                     " port(s) that opened from COM1 to COM99" + refusedPortsText(refused));
}

Outcome Runner::sendText() {
    const auto command = TextCommand::fromBytes("\r\n" + inv_.text + "\r\n");
    if (!command) {
        return unbuilt();
    }
    if (!env_.link->send(command->bytes())) {
        return failure(kExitLink, "send: " + env_.link->error());
    }
    Outcome outcome;
    Json replies = Json::array();
    auto until = deadline();
    const auto last = until + std::chrono::milliseconds(inv_.timeoutMs) * 4;
    std::size_t count = 0;
    std::optional<std::string> refusal;
    bool interrupted = false;
    std::string line;
    while (count < kSendLineLimit) {
        const auto wait = env_.link->nextLine(line, std::min(until, last));
        if (wait == LineLink::Wait::HungUp) {
            return failure(kExitLink, "send: " + env_.link->error());
        }
        if (wait == LineLink::Wait::Interrupted) {
            interrupted = true;
            break;
        }
        if (wait == LineLink::Wait::Timeout) {
            break;
        }
        std::string text = stripLineEnd(line);
        if (text.empty()) {
            continue; // the CR LF a reply may start with
        }
        if (!refusal && isErrorReply(text)) {
            refusal = text;
        }
        // The replies as they came in JSON; for a person, control characters visible.
        outcome.text += visibleBytes(text) + "\n";
        replies.push(std::move(text));
        ++count;
        until = Clock::now() + kQuiet;
    }
    outcome.json.set("sent", inv_.text);
    outcome.json.set("replies", std::move(replies));
    if (interrupted) {
        outcome.exit = kExitLink;
        outcome.error = "send: interrupted";
    } else if (refusal) {
        outcome.exit = kExitDisagrees;
        outcome.error = "send: the switcher refused \"" + inv_.text + "\": " + visibleBytes(*refusal);
    } else if (count == 0) {
        outcome.exit = kExitNoReply;
        outcome.error =
            "send: no reply to \"" + inv_.text + "\" from " + env_.link->name() + " within " + timeoutText(inv_);
    }
    return outcome;
}

namespace {

std::string timeStamp() {
    const LocalTime local = localTime(std::chrono::system_clock::now());
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local.calendar);
    std::snprintf(text + n, sizeof text - n, ".%03d", local.milliseconds);
    return text;
}

} // namespace

Outcome Runner::monitor() {
    if (env_.notice) {
        env_.notice("matrix-ctl: watching " + visibleBytes(env_.link->name()) +
                    " for the lines the switcher sends; press Ctrl+C to end\n");
    }
    std::string line;
    std::size_t count = 0;
    while (true) {
        switch (env_.link->nextLine(line, Clock::now() + 1h)) {
        case LineLink::Wait::Line: {
            const std::string text = stripLineEnd(line);
            if (inv_.json) {
                Json record = Json::object();
                record.set("time", timeStamp());
                record.set("line", text);
                if (!env_.stream(record.dump() + "\n")) {
                    return failure(kExitLink, {}); // main() tells why
                }
            } else if (!inv_.quiet) {
                // The console's traffic row: the same text as its monitor and --log.
                const TrafficRow row{std::chrono::system_clock::now(), TrafficDirection::Received, env_.link->name(),
                                     line, markReplyLine(line)};
                if (!env_.stream(formatTrafficRow(row) + "\n")) {
                    return failure(kExitLink, {});
                }
            }
            ++count;
            break;
        }
        case LineLink::Wait::Timeout:
            break;
        case LineLink::Wait::HungUp:
            return failure(kExitLink, "monitor: " + env_.link->error());
        case LineLink::Wait::Interrupted: {
            Outcome outcome;
            outcome.json.set("lines", static_cast<std::int64_t>(count));
            return outcome;
        }
        }
    }
}

Outcome runCommand(const Invocation& invocation, const Environment& environment) {
    return Runner(invocation, environment).run();
}

Json jsonDocument(const Invocation& invocation, const Outcome& outcome, std::string_view link) {
    Json doc = Json::object();
    doc.set("command", commandName(invocation.command));
    doc.set("ok", outcome.exit == kExitOk);
    doc.set("exit", outcome.exit);
    doc.set("link", link.empty() ? Json() : Json(link));
    doc.set("error", outcome.error.empty() ? Json() : Json(outcome.error));
    // The command's members follow; a failure before any result has none.
    Json members = outcome.json;
    doc.set("result", std::move(members));
    return doc;
}

Json usageErrorDocument(std::optional<Command> command, std::string_view message) {
    Json doc = Json::object();
    doc.set("command", command ? Json(commandName(*command)) : Json());
    doc.set("ok", false);
    doc.set("exit", kExitUsage);
    doc.set("link", Json());
    doc.set("error", Json(message));
    doc.set("result", Json::object());
    return doc;
}

} // namespace mc::ctl
