#include "live_state.h"

#include <variant>

namespace mc::hub {
namespace {

// A port number of 0 in a reply stands for every port.
constexpr int kEveryPort = 0;

template <class T> bool store(Reported<T>& slot, const T& value, WallClock::time_point at) {
    const bool changed = slot.value != value;
    slot.value = value;
    slot.at = at;
    return changed;
}

// Stores the value for one port, or for every port when the reply says 0.
template <class T, std::size_t N>
bool storeForPorts(std::array<Reported<T>, N>& slots, std::optional<int> port, const T& value,
                   WallClock::time_point at) {
    if (!port) {
        return false;
    }
    if (*port == kEveryPort) {
        bool changed = false;
        for (auto& slot : slots) {
            changed = store(slot, value, at) || changed;
        }
        return changed;
    }
    if (!isValidPort(*port)) {
        return false;
    }
    return store(slots.at(static_cast<std::size_t>(*port - kFirstPort)), value, at);
}

} // namespace

bool LiveState::apply(const Reply& reply, WallClock::time_point at) {
    if (const auto* route = std::get_if<RoutingReply>(&reply)) {
        // The parser's input is 0-based; the state keeps the switcher's numbers.
        return route->input && storeForPorts(routes_, route->output, *route->input + kFirstPort, at);
    }
    if (const auto* audio = std::get_if<AudioReply>(&reply)) {
        return storeForPorts(audio_, audio->output, audio->state, at);
    }
    if (const auto* edid = std::get_if<EdidChoiceReply>(&reply)) {
        return edid->item && storeForPorts(edid_, edid->input, *edid->item, at);
    }
    if (const auto* mac = std::get_if<MacReply>(&reply)) {
        return store(network_.mac, mac->text, at);
    }
    if (const auto* address = std::get_if<AddressReply>(&reply)) {
        switch (address->kind) {
        case AddressReply::Host:
            return store(network_.host, address->address, at);
        case AddressReply::NetMask:
            return store(network_.netMask, address->address, at);
        case AddressReply::Router:
            return store(network_.router, address->address, at);
        }
    }
    if (const auto* port = std::get_if<TcpPortReply>(&reply)) {
        return store(network_.tcpPort, port->text, at);
    }
    if (const auto* dhcp = std::get_if<DhcpReply>(&reply)) {
        return store(network_.dhcp, dhcp->on, at);
    }
    return false;
}

} // namespace mc::hub
