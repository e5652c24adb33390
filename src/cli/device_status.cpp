#include "device_status.h"

#include "cli_options.h"
#include "edid/edid_choices.h"
#include "session/traffic_format.h"

#include <cstdio>
#include <string>

namespace mc::ctl {

namespace {

// Each port's shown input, audio and EDID choice, as the table and the JSON
// both spell them.
struct PortRow {
    std::optional<int> input; // 0-based
    std::string audio;
    std::optional<int> item;
};

PortRow portRow(const SwitcherState& s, int port) {
    const auto& route = s.route(port);
    const auto& audio = s.audio(port);
    const auto& edid = s.edidChoice(port);
    return {route ? route->value : std::nullopt, audio ? audioName(audio->value) : std::string("-"),
            edid ? edid->value : std::nullopt};
}

template <typename T, typename Show> std::string shown(const Report<T>& value, Show show) {
    return value ? show(value->value) : std::string("-");
}

template <typename T, typename Show> Json jsonOf(const Report<T>& value, Show show) {
    return value ? Json(show(value->value)) : Json();
}

// A text from the wire as a person reads it: control characters visible, so
// a reply cannot steer the terminal.
std::string visible(const std::string& text) {
    return visibleBytes(text);
}

// The TCP port as a JSON number; null when the switcher's text is none.
Json tcpPortJson(const Report<std::string>& port) {
    if (!port || port->value.empty() || port->value.size() > 5 ||
        port->value.find_first_not_of("0123456789") != std::string::npos) {
        return Json();
    }
    const long number = std::stol(port->value);
    return number <= 65535 ? Json(static_cast<int>(number)) : Json();
}

} // namespace

std::string dotted(std::uint32_t packed) {
    return dottedDecimal(Ipv4Address::fromUint32(packed));
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

std::string statusText(const SwitcherState& s) {
    // Port N is output N for the route and the audio but input N for the
    // EDID: the headings say which.
    std::string text = "Port  Output N shows input  Output N audio  Input N presents EDID\n";
    char row[160];
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        const PortRow r = portRow(s, port);
        const std::string inputText = !r.input ? "-" : std::to_string(*r.input + 1);
        const std::string itemText =
            !r.item ? " -" : (*r.item < 9 ? " " : "") + std::to_string(*r.item + 1) + " " + itemName(*r.item);
        std::snprintf(row, sizeof row, "%4d  %20s  %-14s  %s\n", port, inputText.c_str(), r.audio.c_str(),
                      itemText.c_str());
        text += row;
    }
    return text + "\n" + networkText(s);
}

Json outputsJson(const SwitcherState& s) {
    Json outputs = Json::array();
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        const PortRow r = portRow(s, port);
        Json out = Json::object();
        out.set("output", port);
        out.set("input", !r.input ? Json() : Json(*r.input + 1));
        out.set("audio", r.audio);
        outputs.push(std::move(out));
    }
    return outputs;
}

Json inputsJson(const SwitcherState& s) {
    Json inputs = Json::array();
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        const PortRow r = portRow(s, port);
        Json in = Json::object();
        in.set("input", port);
        in.set("edid", !r.item ? Json() : Json(*r.item + 1));
        in.set("edid_name", !r.item ? Json() : Json(itemName(*r.item)));
        inputs.push(std::move(in));
    }
    return inputs;
}

Json networkJson(const SwitcherState& s) {
    Json net = Json::object();
    net.set("dhcp", s.dhcp() ? Json(s.dhcp()->value) : Json());
    net.set("host", jsonOf(s.hostAddress(), dotted));
    net.set("mask", jsonOf(s.netMask(), dotted));
    net.set("router", jsonOf(s.routerAddress(), dotted));
    net.set("tcp_port", tcpPortJson(s.tcpPort()));
    net.set("mac", s.mac() ? Json(s.mac()->value) : Json());
    return net;
}

std::string networkText(const SwitcherState& s) {
    std::string text;
    text += "DHCP      " + shown(s.dhcp(), [](bool on) { return std::string(on ? "on" : "off"); }) + "\n";
    text += "Host      " + shown(s.hostAddress(), dotted) + "\n";
    text += "Mask      " + shown(s.netMask(), dotted) + "\n";
    text += "Router    " + shown(s.routerAddress(), dotted) + "\n";
    text += "TCP port  " + shown(s.tcpPort(), visible) + "\n";
    text += "MAC       " + shown(s.mac(), visible) + "\n";
    return text;
}

} // namespace mc::ctl
