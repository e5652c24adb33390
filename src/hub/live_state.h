#pragma once

#include "link/commands.h"
#include "link/ports.h"
#include "session/reply_parser.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// The switcher's state as its replies last reported it, each value with the
// time it was reported. The values come from the core's reply parser.
namespace mc::hub {

using WallClock = std::chrono::system_clock;

template <class T> struct Reported {
    std::optional<T> value;
    WallClock::time_point at{};
    friend bool operator==(const Reported&, const Reported&) = default;
};

struct LiveNetwork {
    Reported<std::string> mac;
    Reported<std::uint32_t> host;
    Reported<std::uint32_t> netMask;
    Reported<std::uint32_t> router;
    Reported<std::string> tcpPort;
    Reported<bool> dhcp;
};

class LiveState {
public:
    // Stores what the reply reports; true when a value differs from the one
    // held (or none was held). A reply naming no usable port changes nothing.
    bool apply(const Reply& reply, WallClock::time_point at);

    // Input 1..16 routed to the output, if reported.
    [[nodiscard]] const Reported<int>& route(int output) const { return routes_.at(index(output)); }
    [[nodiscard]] const Reported<AudioState>& audio(int output) const { return audio_.at(index(output)); }
    [[nodiscard]] const Reported<int>& edidChoice(int input) const { return edid_.at(index(input)); }
    [[nodiscard]] const LiveNetwork& network() const { return network_; }

private:
    static std::size_t index(int port) { return static_cast<std::size_t>(port - kFirstPort); }

    std::array<Reported<int>, kPortCount> routes_{};
    std::array<Reported<AudioState>, kPortCount> audio_{};
    std::array<Reported<int>, kPortCount> edid_{};
    LiveNetwork network_;
};

} // namespace mc::hub
