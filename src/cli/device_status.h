#pragma once

#include "json.h"
#include "link/commands.h"
#include "link/ports.h"
#include "session/reply_parser.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace mc::ctl {

inline constexpr std::size_t kPorts = kLastPort;

// Everything the status query reports, as far as it has arrived.
struct DeviceStatus {
    // Each port's value once reported; a reported route or EDID choice may be
    // none (a reply the console would show with nothing selected).
    std::array<std::optional<std::optional<int>>, kPorts> route{}; // 0-based input
    std::array<std::optional<std::optional<int>>, kPorts> edid{};  // choice
    std::array<std::optional<AudioState>, kPorts> audio{};
    std::optional<bool> dhcp;
    std::optional<std::uint32_t> host;
    std::optional<std::uint32_t> mask;
    std::optional<std::uint32_t> router;
    std::optional<std::string> tcpPort;
    std::optional<std::string> mac;

    // One port (1..16) or all of them (0), as the replies address them.
    template <typename T>
    static void store(std::array<std::optional<T>, kPorts>& into, std::optional<int> port, const T& value) {
        if (!port) {
            return;
        }
        if (*port == 0) {
            into.fill(value);
        } else if (isValidPort(*port)) {
            into.at(static_cast<std::size_t>(*port - 1)) = value;
        }
    }

    void apply(const Reply& reply) {
        std::visit(
            [this](const auto& r) {
                using T = std::decay_t<decltype(r)>;
                if constexpr (std::is_same_v<T, RoutingReply>) {
                    store(route, r.output, r.input);
                } else if constexpr (std::is_same_v<T, EdidChoiceReply>) {
                    store(edid, r.input, r.item);
                } else if constexpr (std::is_same_v<T, AudioReply>) {
                    store(audio, r.output, r.state);
                } else if constexpr (std::is_same_v<T, MacReply>) {
                    mac = r.text;
                } else if constexpr (std::is_same_v<T, TcpPortReply>) {
                    tcpPort = r.text;
                } else if constexpr (std::is_same_v<T, DhcpReply>) {
                    dhcp = r.on;
                } else if constexpr (std::is_same_v<T, AddressReply>) {
                    (r.kind == AddressReply::Host ? host : r.kind == AddressReply::NetMask ? mask : router) = r.address;
                }
            },
            reply);
    }

    [[nodiscard]] bool networkComplete() const { return dhcp && host && mask && router && tcpPort && mac; }

    template <typename T> static bool allKnown(const std::array<std::optional<T>, kPorts>& values) {
        return std::all_of(values.begin(), values.end(), [](const auto& v) { return v.has_value(); });
    }

    [[nodiscard]] bool complete() const {
        return networkComplete() && allKnown(route) && allKnown(edid) && allKnown(audio);
    }

    [[nodiscard]] std::string missing() const {
        std::string text;
        auto add = [&text](bool known, std::string_view what) {
            if (!known) {
                text.append(text.empty() ? "" : ", ");
                text.append(what);
            }
        };
        add(allKnown(route), "routes");
        add(allKnown(edid), "EDID choices");
        add(networkComplete(), "network settings");
        add(allKnown(audio), "audio states");
        return text;
    }
};

// The network settings as the JSON document and the text show them; a value
// not reported is null or "-".
[[nodiscard]] Json networkJson(const DeviceStatus& s);
[[nodiscard]] std::string networkText(const DeviceStatus& s);

// An address the replies carry packed, as "a.b.c.d".
[[nodiscard]] std::string dotted(std::uint32_t packed);

} // namespace mc::ctl
