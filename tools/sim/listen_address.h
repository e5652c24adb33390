#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mc::sim {

// Where the emulator takes TCP connections: a numeric host and a port.
struct ListenAddress {
    // What the system binds to: an IPv4 literal, an IPv6 literal without its
    // brackets, or "localhost" (taken as 127.0.0.1, so nothing is looked up).
    std::string host;
    std::uint16_t port = 0; // 0: the system picks a free port
    [[nodiscard]] bool isIpv6() const { return host.find(':') != std::string::npos; }
};

// Reads "HOST:PORT" (IPv4 literal or "localhost") or "[IPv6]:PORT", port 0
// to 65535. Host literals are checked by the system's own numeric parser;
// no name is ever resolved. nullopt with the fault named in error.
[[nodiscard]] std::optional<ListenAddress> parseListenAddress(std::string_view text, std::string& error);

// The host as the system binds it ("localhost" becomes 127.0.0.1).
[[nodiscard]] std::string bindHost(const ListenAddress& address);

} // namespace mc::sim
