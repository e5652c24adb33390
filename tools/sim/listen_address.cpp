#include "sim/listen_address.h"

#include <charconv>
#include <netdb.h>
#include <sys/socket.h>

namespace mc::sim {

namespace {

constexpr std::string_view kLocalhost = "localhost";

// The system's numeric parser alone: AI_NUMERICHOST never looks anything up.
bool isNumericHost(const std::string& host, int family) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    const int result = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (found != nullptr) {
        ::freeaddrinfo(found);
    }
    return result == 0;
}

} // namespace

std::optional<ListenAddress> parseListenAddress(std::string_view text, std::string& error) {
    const std::string quoted = "--listen " + std::string(text) + ": ";
    std::string_view host;
    std::string_view rest;
    const bool bracketed = text.starts_with('[');
    if (bracketed) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) {
            error = quoted + "no ']' after the IPv6 address";
            return std::nullopt;
        }
        host = text.substr(1, close - 1);
        rest = text.substr(close + 1);
        if (!rest.starts_with(':')) {
            error = quoted + "no port (give [IPv6]:PORT)";
            return std::nullopt;
        }
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string_view::npos) {
            error = quoted + "no port (give HOST:PORT)";
            return std::nullopt;
        }
        host = text.substr(0, colon);
        rest = text.substr(colon);
        if (host.find(':') != std::string_view::npos) {
            error = quoted + "an IPv6 address goes in brackets, as [::1]:PORT";
            return std::nullopt;
        }
    }
    const std::string_view portText = rest.substr(1);
    if (host.empty()) {
        error = quoted + "no host";
        return std::nullopt;
    }
    if (portText.empty()) {
        error = quoted + "no port";
        return std::nullopt;
    }
    unsigned long port = 0;
    const auto* end = portText.data() + portText.size();
    const auto parsed = std::from_chars(portText.data(), end, port);
    if (parsed.ptr != end || (parsed.ec != std::errc() && parsed.ec != std::errc::result_out_of_range)) {
        error = quoted + "the port is not a number";
        return std::nullopt;
    }
    if (parsed.ec == std::errc::result_out_of_range || port > 65535) {
        error = quoted + "the port is above 65535";
        return std::nullopt;
    }

    ListenAddress address{std::string(host), static_cast<std::uint16_t>(port)};
    const bool valid =
        bracketed ? isNumericHost(address.host, AF_INET6) : host == kLocalhost || isNumericHost(address.host, AF_INET);
    if (!valid) {
        error = quoted + (bracketed ? "not an IPv6 address" : "not an IPv4 address or localhost") +
                " (host names are not looked up)";
        return std::nullopt;
    }
    return address;
}

std::string bindHost(const ListenAddress& address) {
    return address.host == kLocalhost ? std::string("127.0.0.1") : address.host;
}

} // namespace mc::sim
