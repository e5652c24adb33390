#include "sim/reply_lines.h"

#include <cstdio>

namespace mc::sim {

namespace {

std::string line(std::string text) {
    text += kLineEnd;
    return text;
}

std::string number(int value) {
    return std::to_string(value);
}

std::string twoDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

std::string dotted(const Ipv4Address& address) {
    char text[16];
    std::snprintf(text, sizeof text, "%03u.%03u.%03u.%03u", unsigned{address.octets[0]}, unsigned{address.octets[1]},
                  unsigned{address.octets[2]}, unsigned{address.octets[3]});
    return text;
}

} // namespace

std::string routeReply(int output, int input) {
    return line("OUT" + number(output) + " VS IN" + number(input));
}

std::string edidChoiceReply(int input, int sourceIndex) {
    return line("IN" + number(input) + " EDID " + twoDigits(sourceIndex));
}

std::string audioReply(int output, bool on) {
    return line("OUT" + number(output) + (on ? " EXA EN" : " EXA DIS"));
}

std::string dhcpReply(bool on) {
    return line(on ? "DHCP 1" : "DHCP 0");
}

std::string hostIpReply(const Ipv4Address& address) {
    return line("HIP " + dotted(address));
}

std::string netMaskReply(const Ipv4Address& address) {
    return line("NMK " + dotted(address));
}

std::string routerIpReply(const Ipv4Address& address) {
    return line("RIP " + dotted(address));
}

std::string tcpPortReply(std::string_view port) {
    return line("TIP " + std::string(port));
}

std::string macReply(std::string_view mac) {
    return line("MAC " + std::string(mac));
}

std::string uploadReply(int input, int slot) {
    return line("IN" + number(input) + " U" + number(slot) + " STORED");
}

std::string outputEdidReply(int output, const EdidImage& image) {
    return line("OUT" + number(output) + " EDID DATA " + toHexText(image));
}

std::string inputEdidReply(int input, int sourceIndex, const EdidImage& image) {
    return line("IN" + number(input) + " EDID " + twoDigits(sourceIndex) + " DATA " + toHexText(image));
}

std::vector<std::string> networkReplies(const NetworkSettings& network) {
    return {hostIpReply(network.host),     netMaskReply(network.netMask), routerIpReply(network.router),
            tcpPortReply(network.tcpPort), macReply(network.mac),         dhcpReply(network.dhcp)};
}

std::vector<std::string> statusReplies(const SwitcherState& state) {
    std::vector<std::string> lines;
    for (int output = 1; output <= kPortCount; ++output) {
        lines.push_back(routeReply(output, state.routedInput(output)));
    }
    for (int input = 1; input <= kPortCount; ++input) {
        lines.push_back(edidChoiceReply(input, state.edidChoice(input)));
    }
    for (auto& network : networkReplies(state.network())) {
        lines.push_back(std::move(network));
    }
    for (int output = 1; output <= kPortCount; ++output) {
        lines.push_back(audioReply(output, state.audioOn(output)));
    }
    return lines;
}

} // namespace mc::sim
