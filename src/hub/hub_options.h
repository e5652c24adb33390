#pragma once

#include "link/link_address.h"
#include "mqtt_topics.h"
#include "session/log_hook.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

// The command line of matrix-hub, checked in full before anything is opened.
namespace mc::hub {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1; // a listener or the site file could not be had
inline constexpr int kExitUsage = 2;

inline constexpr std::chrono::seconds kDefaultPollInterval{10};
// A poll rarer than once an hour would leave changes made elsewhere unseen
// for longer than anyone waits for them.
inline constexpr std::chrono::seconds kMaxPollInterval{3600};
inline constexpr int kDefaultMaxClients = 16;
// Each client holds a socket and a bounded output buffer; beyond this the
// limit is a typing error rather than a plan.
inline constexpr int kMaxMaxClients = 1000;

// Every listener takes loopback unless an address is given.
inline constexpr char kLoopbackHost[] = "127.0.0.1";

// Where a listener binds: an IPv4 or IPv6 literal (IPv6 without brackets) and
// a port; port 0 lets the system pick one.
struct ListenAddress {
    std::string host = kLoopbackHost;
    std::uint16_t port = 0;
    friend bool operator==(const ListenAddress&, const ListenAddress&) = default;
};

// The broker the hub publishes on (--mqtt) and how it appears there.
struct MqttOptions {
    std::string host; // a name or an address (IPv6 without brackets)
    std::uint16_t port = 0;
    std::string credentialsFile; // user and password; empty: none
    std::string caFile;          // TLS with this CA; empty: plain TCP
    std::string base = std::string(kDefaultMqttBase);
    std::string deviceId;                                               // empty: from the switcher's MAC address
    std::string discoveryPrefix = std::string(kDefaultDiscoveryPrefix); // empty: no discovery
    friend bool operator==(const MqttOptions&, const MqttOptions&) = default;
};

struct HubOptions {
    LinkAddress link;
    std::chrono::seconds pollInterval = kDefaultPollInterval; // 0: no polling
    std::optional<ListenAddress> text;
    std::optional<ListenAddress> http;
    // The bearer token's file; empty: defaultTokenPath().
    std::string tokenFile;
    // Print the token (made when missing) and end.
    bool printToken = false;
    int maxClients = kDefaultMaxClients;
    LogLevel logLevel = LogLevel::Info;
    // The site file (names, presets, locks); empty: the user's default.
    std::string site;
    std::optional<MqttOptions> mqtt;
};

enum class InfoRequest { Version, Help };

// The options, a request for --version or --help, or what is wrong (for the
// user, naming the option).
using ParsedOptions = std::variant<HubOptions, InfoRequest, std::string>;

[[nodiscard]] ParsedOptions parseHubOptions(std::span<const std::string_view> args);

// "PORT", "HOST:PORT" or "[IPv6]:PORT"; the host must be a literal address
// (a listener never looks a name up), "localhost" meaning 127.0.0.1.
[[nodiscard]] std::variant<ListenAddress, std::string> parseListenAddress(std::string_view text);

// "127.0.0.1:5000", "[::1]:5000".
[[nodiscard]] std::string formatListenAddress(const ListenAddress& address);

[[nodiscard]] std::string_view usageText();

} // namespace mc::hub
