#pragma once

#include "link/ports.h"
#include "link_owner.h"
#include "switchboard.h"

#include <array>
#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

// The hub's state as its network interfaces show it (the HTTP API and its
// event stream, the MQTT state topic): one JSON form, built here only.
//
//   {"link": {"state": "up", "reason": null, "since": "2026-12-08T09:40:01.123Z",
//             "address": "/dev/ttyUSB0"},
//    "stale": false,
//    "outputs": [{"output": 3, "name": "Projector", "input": 5, "audio": "on",
//                 "locked": false, "confirmed_at": "..."}, ...],
//    "inputs": [{"input": 5, "name": "Lectern PC",
//                "edid": {"item": 4, "confirmed_at": "..."}}, ...],
//    "network": {"mac": ..., "host": "192.168.0.100", "net_mask": ..., "router": ...,
//                "tcp_port": "5000", "dhcp": false, "confirmed_at": "..."}}
//
// A value the switcher has not reported is null. "stale" is true while the
// link is down or any shown value was reported before the link last came up:
// cached values are never passed off as live.
namespace mc::hub {

using Json = nlohmann::ordered_json;
using WallClock = std::chrono::system_clock;

// What the room calls its ports; an empty text is no name (numbers shown).
struct PortNames {
    std::array<std::string, kPortCount> inputs{};
    std::array<std::string, kPortCount> outputs{};

    [[nodiscard]] const std::string& input(int port) const { return inputs.at(index(port)); }
    [[nodiscard]] const std::string& output(int port) const { return outputs.at(index(port)); }
    [[nodiscard]] static std::size_t index(int port) { return static_cast<std::size_t>(port - kFirstPort); }
};

// The names a site gives its ports.
[[nodiscard]] PortNames portNamesOf(const Site& site);

// Everything the state is made of, borrowed for one call.
struct StateView {
    const Switchboard& board;
    const LinkStatus& link;
    std::string_view linkAddress; // as the hub was told (--link)
    const PortNames& names;
};

// "2026-12-08T09:40:01.123Z" (UTC, milliseconds).
[[nodiscard]] std::string isoTime(WallClock::time_point at);
// The time of day of a report stamped on the steady clock (the state model's
// clock, which no change of the system time moves), as of now.
[[nodiscard]] WallClock::time_point wallTimeOf(SteadyClock::time_point at);

[[nodiscard]] Json linkJson(const LinkStatus& link, std::string_view address);
[[nodiscard]] bool isStale(const Switchboard& board);
[[nodiscard]] Json outputJson(const StateView& view, int output);
[[nodiscard]] Json inputJson(const StateView& view, int input);
[[nodiscard]] Json networkJson(const Switchboard& board);
[[nodiscard]] Json stateJson(const StateView& view);

} // namespace mc::hub
