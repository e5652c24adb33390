#include "sim/command_interpreter.h"

#include "sim/command_pattern.h"
#include "sim/reply_lines.h"

#include <array>
#include <cctype>

namespace mc::sim {

namespace {

using Replies = std::vector<std::string>;
using Handler = Replies (*)(SwitcherState&, const CommandFields&);

Replies error() {
    return {std::string(kErrorReply)};
}

Replies route(SwitcherState& state, const CommandFields& f) {
    state.route(f.numbers[0], f.numbers[1]);
    return {routeReply(f.numbers[0], f.numbers[1])};
}

Replies audio(SwitcherState& state, int output, bool on) {
    state.setAudioOn(output, on);
    return {audioReply(output, on)};
}

Replies audioOn(SwitcherState& state, const CommandFields& f) {
    return audio(state, f.numbers[0], true);
}

Replies audioMute(SwitcherState& state, const CommandFields& f) {
    return audio(state, f.numbers[0], false);
}

Replies chooseEdid(SwitcherState& state, int input, int sourceIndex) {
    state.chooseEdid(input, sourceIndex);
    return {edidChoiceReply(input, sourceIndex)};
}

// Copies are chosen with the copy form only, so the index form stops at the
// last user slot.
Replies applyEdid(SwitcherState& state, const CommandFields& f) {
    if (f.numbers[1] >= kFirstCopyIndex) {
        return error();
    }
    return chooseEdid(state, f.numbers[0], f.numbers[1]);
}

Replies copyEdid(SwitcherState& state, const CommandFields& f) {
    return chooseEdid(state, f.numbers[0], kFirstCopyIndex + f.numbers[1] - 1);
}

Replies readOutputEdid(SwitcherState& state, const CommandFields& f) {
    return {outputEdidReply(f.numbers[0], state.display(f.numbers[0]))};
}

// Any source index can be read, copies included, whatever the input presents now.
Replies readInputEdid(SwitcherState& state, const CommandFields& f) {
    if (f.numbers[1] > kLastSourceIndex) {
        return error();
    }
    return {inputEdidReply(f.numbers[0], f.numbers[1], state.presentedEdid(f.numbers[0], f.numbers[1]))};
}

Replies upload(SwitcherState& state, const CommandFields& f) {
    const int input = f.numbers[0];
    const int slot = f.numbers[1];
    if (slot < 1 || slot > kUserSlotCount) {
        return error();
    }
    state.storeUserSlot(input, slot, *f.edid);
    return {uploadReply(input, slot)};
}

Replies setDhcp(SwitcherState& state, const CommandFields& f) {
    if (f.numbers[0] <= 1) {
        state.network().dhcp = f.numbers[0] == 1;
    }
    return {dhcpReply(state.network().dhcp)};
}

Replies setHostIp(SwitcherState& state, const CommandFields& f) {
    state.network().host = *f.address;
    return {hostIpReply(state.network().host)};
}

Replies setNetMask(SwitcherState& state, const CommandFields& f) {
    state.network().netMask = *f.address;
    return {netMaskReply(state.network().netMask)};
}

Replies setRouterIp(SwitcherState& state, const CommandFields& f) {
    state.network().router = *f.address;
    return {routerIpReply(state.network().router)};
}

// The console stores a reported TCP port without redrawing its page; the
// DHCP line after it makes the page show it.
Replies setTcpPort(SwitcherState& state, const CommandFields& f) {
    if (auto port = normaliseTcpPort(f.text)) {
        state.network().tcpPort = std::move(*port);
    }
    return {tcpPortReply(state.network().tcpPort), dhcpReply(state.network().dhcp)};
}

Replies setMac(SwitcherState& state, const CommandFields& f) {
    if (auto mac = normaliseMac(f.text)) {
        state.network().mac = std::move(*mac);
    }
    return {macReply(state.network().mac)};
}

Replies status(SwitcherState& state, const CommandFields& /*fields*/) {
    return statusReplies(state);
}

struct Command {
    std::string_view pattern;
    Handler handler;
};

// The commands as the console sends them (see matchCommand for the fields).
constexpr std::array<Command, 15> kCommands{{
    {"SET OUT{pp} VS IN{pp}", route},
    {"SET OUT{pp} EXA  EN", audioOn},
    {"SET OUT{pp} EXA DIS", audioMute},
    {"SET IN{pp} EDID {dd}", applyEdid},
    {"SET IN{pp} EDIDCY OUT {pp}", copyEdid},
    {"GET OUT{pp} EDID  DATA", readOutputEdid},
    {"GET IN{pp} EDID {dd} DATA", readInputEdid},
    {"SET IN{n} EDID U{d} DATA {hex}", upload},
    {"SET DHCP {d}", setDhcp},
    {"SET HIP {addr}", setHostIp},
    {"SET NMK {addr}", setNetMask},
    {"SET RIP{addr}", setRouterIp},
    {"SET TIP {text}", setTcpPort},
    {"SET MAC {text}", setMac},
    {"GET STA", status},
}};

bool isHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

} // namespace

std::vector<std::string> CommandInterpreter::execute(std::string_view line) {
    for (const Command& command : kCommands) {
        if (auto fields = matchCommand(command.pattern, line)) {
            if (command.handler == route && faults_ != nullptr && faults_->routeUnanswered(fields->numbers[0])) {
                return {};
            }
            return command.handler(state_, *fields);
        }
    }
    return error();
}

std::optional<std::string> normaliseMac(std::string_view text) {
    constexpr std::size_t kOctets = 6;
    const bool separated = text.size() == kOctets * 3 - 1;
    if (!separated && text.size() != kOctets * 2) {
        return std::nullopt;
    }
    const std::size_t stride = separated ? 3 : 2;
    std::string mac;
    for (std::size_t octet = 0; octet < kOctets; ++octet) {
        const std::size_t at = octet * stride;
        if (separated && octet > 0 && text[at - 1] != ':' && text[at - 1] != '-') {
            return std::nullopt;
        }
        if (!isHexDigit(text[at]) || !isHexDigit(text[at + 1])) {
            return std::nullopt;
        }
        if (octet > 0) {
            mac += ':';
        }
        mac += static_cast<char>(std::toupper(static_cast<unsigned char>(text[at])));
        mac += static_cast<char>(std::toupper(static_cast<unsigned char>(text[at + 1])));
    }
    return mac;
}

std::optional<std::string> normaliseTcpPort(std::string_view text) {
    constexpr std::size_t kMaxDigits = 4; // all the console shows
    if (text.empty() || text.size() > kMaxDigits) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value == 0) {
        return std::nullopt;
    }
    return std::to_string(value);
}

} // namespace mc::sim
