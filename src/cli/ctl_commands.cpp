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
// The device search's waits, as the console's search timer has them.
constexpr auto kFirstProbeWait = 500ms;
constexpr auto kNextProbeWait = 400ms;

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

std::string audioName(AudioState state) {
    return state == AudioState::On ? "on" : "mute";
}

std::string itemName(int item) {
    if (item < 0 || item >= kInputEdidItemCount) {
        return {};
    }
    std::string_view name = kInputEdidItems.at(static_cast<std::size_t>(item));
    while (!name.empty() && name.back() == ' ') {
        name.remove_suffix(1);
    }
    return std::string(name);
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
std::optional<Outcome> Runner::settle(Clock::time_point until, DeviceStatus& status) {
    std::string line;
    while (true) {
        const auto quietUntil = std::min(until, Clock::now() + kSettle);
        switch (env_.link->nextLine(line, quietUntil)) {
        case LineLink::Wait::Line:
            status.apply(decodeReply(line));
            continue;
        case LineLink::Wait::Timeout:
            return std::nullopt;
        case LineLink::Wait::HungUp:
            return failure(kExitLink, std::string(commandName(inv_.command)) + ": " + env_.link->error());
        case LineLink::Wait::Interrupted:
            return failure(kExitLink, std::string(commandName(inv_.command)) + ": interrupted");
        }
    }
}

std::optional<Outcome> Runner::send(const std::optional<TextCommand>& command) {
    if (!command) {
        // Every argument was checked already; a builder refusing one is a fault here.
        return failure(kExitUsage, std::string(commandName(inv_.command)) + ": the command cannot be built");
    }
    if (!env_.link->send(command->bytes())) {
        return failure(kExitLink, std::string(commandName(inv_.command)) + ": " + env_.link->error());
    }
    return std::nullopt;
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
        return edidChoice(inv_.item, applyEdidChoiceCommand(inv_.input, inv_.item));
    case Command::EdidCopy:
        return edidChoice(kLastEdidSourceIndex + inv_.output, applyEdidCopyCommand(inv_.input, inv_.output));
    case Command::EdidRead:
        return edidRead();
    case Command::EdidWrite:
        return edidWrite();
    case Command::EdidDecode:
        return edidDecode();
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
    DeviceStatus s;
    const auto until = deadline();
    if (auto failed = send(probeCommand())) {
        return *failed;
    }
    auto failed = waitFor(until, "complete status", [&](const std::string& line) {
        s.apply(decodeReply(line));
        return s.complete();
    });
    if (failed) {
        if (failed->exit == kExitNoReply) {
            failed->error += " (missing: " + s.missing() + ")";
        }
        return *failed;
    }
    Outcome outcome;
    Json outputs = Json::array();
    Json inputs = Json::array();
    char row[160];
    outcome.text = "Port  Input shown  Audio  EDID presented\n";
    for (std::size_t i = 0; i < kPorts; ++i) {
        const int port = static_cast<int>(i) + 1;
        const std::optional<int> input = *s.route.at(i);
        const AudioState audio = *s.audio.at(i);
        const std::optional<int> item = *s.edid.at(i);
        const std::string audioText = audioName(audio);
        const std::string inputText = !input ? "-" : std::to_string(*input + 1);
        const std::string itemText =
            !item ? " -" : (*item < 9 ? " " : "") + std::to_string(*item + 1) + " " + itemName(*item);
        std::snprintf(row, sizeof row, "%4d  %11s  %-5s  %s\n", port, inputText.c_str(), audioText.c_str(),
                      itemText.c_str());
        outcome.text += row;
        Json out = Json::object();
        out.set("output", port);
        out.set("input", !input ? Json() : Json(*input + 1));
        out.set("audio", audioText);
        outputs.push(std::move(out));
        Json in = Json::object();
        in.set("input", port);
        in.set("edid", !item ? Json() : Json(*item + 1));
        in.set("edid_name", !item ? Json() : Json(itemName(*item)));
        inputs.push(std::move(in));
    }
    outcome.text += "\n" + networkText(s);
    outcome.json.set("outputs", std::move(outputs));
    outcome.json.set("inputs", std::move(inputs));
    outcome.json.set("network", networkJson(s));
    return outcome;
}

Outcome Runner::route() {
    if (auto failed = send(routingCommand(inv_.output, inv_.input))) {
        return *failed;
    }
    std::optional<int> shown;
    if (auto failed = waitFor(deadline(), "routing confirmation", [&](const std::string& line) {
            const Reply reply = decodeReply(line);
            const auto* routing = std::get_if<RoutingReply>(&reply);
            if (routing == nullptr || !routing->output || (*routing->output != 0 && *routing->output != inv_.output)) {
                return false;
            }
            shown = routing->input;
            return true;
        })) {
        return *failed;
    }
    Outcome outcome;
    outcome.json.set("output", inv_.output);
    outcome.json.set("input", !shown ? Json() : Json(*shown + 1));
    const std::string shownText = !shown ? "no input" : "input " + std::to_string(*shown + 1);
    outcome.text = "output " + std::to_string(inv_.output) + " shows " + shownText + "\n";
    if (shown != inv_.input - 1) { // none disagrees too
        outcome.exit = kExitDisagrees;
        outcome.error = "route: output " + std::to_string(inv_.output) + " shows " + shownText + ", not input " +
                        std::to_string(inv_.input);
    }
    return outcome;
}

Outcome Runner::audio() {
    if (auto failed = send(audioCommand(inv_.output, inv_.audio))) {
        return *failed;
    }
    AudioState state = AudioState::On;
    if (auto failed = waitFor(deadline(), "audio confirmation", [&](const std::string& line) {
            const Reply reply = decodeReply(line);
            const auto* audio = std::get_if<AudioReply>(&reply);
            if (audio == nullptr || !audio->output || (*audio->output != 0 && *audio->output != inv_.output)) {
                return false;
            }
            state = audio->state;
            return true;
        })) {
        return *failed;
    }
    const std::string stateText = audioName(state);
    Outcome outcome;
    outcome.json.set("output", inv_.output);
    outcome.json.set("audio", stateText);
    outcome.text = "output " + std::to_string(inv_.output) + " audio " + stateText + "\n";
    if (state != inv_.audio) {
        outcome.exit = kExitDisagrees;
        outcome.error = "audio: output " + std::to_string(inv_.output) + " reports audio " + stateText + ", not " +
                        audioName(inv_.audio);
    }
    return outcome;
}

Outcome Runner::edidChoice(int expectedItem, const std::optional<TextCommand>& command) {
    if (auto failed = send(command)) {
        return *failed;
    }
    std::optional<int> item;
    if (auto failed = waitFor(deadline(), "EDID confirmation", [&](const std::string& line) {
            if (isEdidDataLine(line)) {
                return false;
            }
            const Reply reply = decodeReply(line);
            const auto* choice = std::get_if<EdidChoiceReply>(&reply);
            if (choice == nullptr || !choice->input || (*choice->input != 0 && *choice->input != inv_.input)) {
                return false;
            }
            item = choice->item;
            return true;
        })) {
        return *failed;
    }
    Outcome outcome;
    outcome.json.set("input", inv_.input);
    outcome.json.set("edid", !item ? Json() : Json(*item + 1));
    outcome.json.set("edid_name", !item ? Json() : Json(itemName(*item)));
    const std::string itemText = !item ? "no EDID" : "EDID " + std::to_string(*item + 1) + " " + itemName(*item);
    outcome.text = "input " + std::to_string(inv_.input) + " presents " + itemText + "\n";
    if (item != expectedItem) {
        outcome.exit = kExitDisagrees;
        outcome.error = std::string(commandName(inv_.command)) + ": input " + std::to_string(inv_.input) +
                        " presents " + itemText + ", not EDID " + std::to_string(expectedItem + 1) + " " +
                        itemName(expectedItem);
    }
    return outcome;
}

Outcome Runner::netShow() {
    DeviceStatus s;
    if (auto failed = queryStatus(s, "network settings", [](const DeviceStatus& st) { return st.networkComplete(); })) {
        return *failed;
    }
    Outcome outcome;
    outcome.json.set("network", networkJson(s));
    outcome.text = networkText(s);
    return outcome;
}

Outcome Runner::netSet() {
    DeviceStatus current;
    if (auto failed =
            queryStatus(current, "network settings", [](const DeviceStatus& st) { return st.networkComplete(); })) {
        return *failed;
    }
    if (auto failed = settle(deadline(), current)) {
        return *failed;
    }
    const NetChanges& change = inv_.net;
    NetworkSettings settings;
    settings.dhcp = change.dhcp.value_or(*current.dhcp);
    if (settings.dhcp && (change.host || change.mask || change.router)) {
        return failure(kExitUsage, "net set: the switcher has DHCP on; --host, --mask and --router need --dhcp off");
    }
    settings.host = change.host.value_or(Ipv4Address::fromUint32(*current.host));
    settings.netMask = change.mask.value_or(Ipv4Address::fromUint32(*current.mask));
    settings.router = change.router.value_or(Ipv4Address::fromUint32(*current.router));
    settings.tcpPort = change.tcpPort.value_or(*current.tcpPort);
    settings.mac = change.mac;
    if (auto failed = send(networkSettingsCommand(settings))) {
        return *failed;
    }
    DeviceStatus confirmed;
    auto confirmedAll = [&](const DeviceStatus& s) {
        return s.dhcp && s.tcpPort && (settings.dhcp || (s.host && s.mask && s.router)) && (!settings.mac || s.mac);
    };
    if (auto failed = waitFor(deadline(), "confirmation of the network settings", [&](const std::string& line) {
            confirmed.apply(decodeReply(line));
            return confirmedAll(confirmed);
        })) {
        return *failed;
    }
    std::string differs;
    auto check = [&differs](bool same, std::string_view what) {
        if (!same) {
            differs.append(differs.empty() ? "" : ", ");
            differs.append(what);
        }
    };
    check(*confirmed.dhcp == settings.dhcp, "DHCP");
    check(*confirmed.tcpPort == settings.tcpPort, "TCP port");
    if (!settings.dhcp) {
        check(*confirmed.host == settings.host.toUint32(), "host");
        check(*confirmed.mask == settings.netMask.toUint32(), "mask");
        check(*confirmed.router == settings.router.toUint32(), "router");
    }
    if (settings.mac) {
        check(normaliseMac(*confirmed.mac) == settings.mac, "MAC");
    }
    // What the switcher reports now: confirmed values over the earlier ones.
    DeviceStatus shown = current;
    shown.dhcp = confirmed.dhcp;
    shown.tcpPort = confirmed.tcpPort;
    for (auto [into, from] : {std::pair{&shown.host, &confirmed.host}, std::pair{&shown.mask, &confirmed.mask},
                              std::pair{&shown.router, &confirmed.router}}) {
        if (*from) {
            *into = *from;
        }
    }
    if (confirmed.mac) {
        shown.mac = confirmed.mac;
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

Outcome Runner::search() {
    bool first = true;
    int opened = 0;
    for (int n = kFirstComPort; n <= kLastComPort && !interruptRequested(); ++n) {
        std::string error;
        const std::unique_ptr<LineLink> link = env_.openCom(n, error);
        if (!link) {
            continue;
        }
        ++opened;
        if (!link->send(probeCommand().bytes())) {
            continue;
        }
        const auto until = Clock::now() + (first ? kFirstProbeWait : kNextProbeWait);
        first = false;
        std::string line;
        // Any complete line, whatever it holds, is a switcher's answer.
        if (link->nextLine(line, until) == LineLink::Wait::Line) {
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
        return failure(kExitLink, "search: no port from COM1 to COM99 can be opened");
    }
    return failure(kExitNoReply, "search: no switcher answered on the " + std::to_string(opened) +
                                     " port(s) that opened from COM1 to COM99");
}

Outcome Runner::sendText() {
    const auto command = TextCommand::fromBytes("\r\n" + inv_.text + "\r\n");
    if (auto failed = send(command)) {
        return *failed;
    }
    Outcome outcome;
    Json replies = Json::array();
    auto until = deadline();
    const auto last = until + std::chrono::milliseconds(inv_.timeoutMs) * 4;
    std::size_t count = 0;
    std::string line;
    while (count < kSendLineLimit) {
        const auto wait = env_.link->nextLine(line, std::min(until, last));
        if (wait == LineLink::Wait::HungUp) {
            return failure(kExitLink, "send: " + env_.link->error());
        }
        if (wait == LineLink::Wait::Interrupted || wait == LineLink::Wait::Timeout) {
            break;
        }
        std::string text = stripLineEnd(line);
        if (text.empty()) {
            continue; // the CR LF a reply may start with
        }
        outcome.text += text + "\n";
        replies.push(std::move(text));
        ++count;
        until = Clock::now() + kQuiet;
    }
    outcome.json.set("sent", inv_.text);
    outcome.json.set("replies", std::move(replies));
    if (count == 0) {
        outcome.exit = kExitNoReply;
        outcome.error =
            "send: no reply to \"" + inv_.text + "\" from " + env_.link->name() + " within " + timeoutText(inv_);
    }
    return outcome;
}

namespace {

std::string timeStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(ms));
    return text;
}

} // namespace

Outcome Runner::monitor() {
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
                env_.stream(record.dump() + "\n");
            } else if (!inv_.quiet) {
                // The console's traffic row: the same text as its monitor and --log.
                const TrafficRow row{std::chrono::system_clock::now(), TrafficDirection::Received, env_.link->name(),
                                     line, markReplyLine(line)};
                env_.stream(formatTrafficRow(row) + "\n");
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

} // namespace mc::ctl
