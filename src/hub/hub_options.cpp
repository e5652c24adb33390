#include "hub_options.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif
#include <algorithm>
#include <charconv>
#include <iterator>
#include <vector>

namespace mc::hub {
namespace {

constexpr std::string_view kUsage =
    "usage: matrix-hub --link COMn|DEVICE|HOST:PORT [--text [HOST:]PORT] [--http [HOST:]PORT]\n"
    "                  [--token-file FILE] [--poll SECONDS] [--max-clients N] [--site FILE]\n"
    "                  [--log-level debug|info|warning|error]\n"
    "                  [--mqtt HOST:PORT [--mqtt-credentials FILE] [--mqtt-ca FILE] [--mqtt-base TOPIC]\n"
    "                   [--device-id ID] [--discovery-prefix TOPIC | --no-discovery]]\n"
    "       matrix-hub --print-token [--token-file FILE]\n"
    "       matrix-hub --version | --help\n";

std::optional<long> decimal(std::string_view text, long first, long last) {
    long value = 0;
    const auto* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || at != end || value < first || value > last) {
        return std::nullopt;
    }
    return value;
}

bool isIpLiteral(const std::string& host, bool v6) {
    unsigned char buffer[16];
    return ::inet_pton(v6 ? AF_INET6 : AF_INET, host.c_str(), buffer) == 1;
}

std::optional<LogLevel> logLevelNamed(std::string_view name) {
    for (const LogLevel level : {LogLevel::Debug, LogLevel::Info, LogLevel::Warning, LogLevel::Error}) {
        if (name == logLevelName(level)) {
            return level;
        }
    }
    return std::nullopt;
}

constexpr std::string_view kMqttOptions[] = {"--mqtt-credentials", "--mqtt-ca", "--mqtt-base", "--device-id",
                                             "--discovery-prefix"};

bool isMqttOption(std::string_view arg) {
    return std::find(std::begin(kMqttOptions), std::end(kMqttOptions), arg) != std::end(kMqttOptions);
}

// The broker's address as a link's TCP peer is written ("HOST:PORT",
// "[IPv6]:PORT"); the name is looked up when the hub connects.
std::optional<std::string> parseBroker(std::string_view value, MqttOptions& mqtt) {
    auto parsed = parseLinkAddress(value);
    if (const auto* error = std::get_if<LinkAddressError>(&parsed)) {
        return "--mqtt: " + error->message;
    }
    const auto* tcp = std::get_if<TcpLinkAddress>(&std::get<LinkAddress>(parsed));
    if (tcp == nullptr) {
        return "--mqtt: '" + std::string(value) + "' is no HOST:PORT of a broker";
    }
    mqtt.host = tcp->host;
    mqtt.port = tcp->port;
    return std::nullopt;
}

// One of the options that shape the hub on the broker.
std::optional<std::string> parseMqttOption(std::string_view arg, std::string_view value, MqttOptions& mqtt) {
    if (arg == "--mqtt-credentials" || arg == "--mqtt-ca") {
        if (value.empty()) {
            return std::string(arg) + " needs a file name";
        }
        (arg == "--mqtt-ca" ? mqtt.caFile : mqtt.credentialsFile) = std::string(value);
    } else if (arg == "--device-id") {
        if (const auto problem = deviceIdProblem(value)) {
            return "--device-id '" + std::string(value) + "': " + *problem;
        }
        mqtt.deviceId = std::string(value);
    } else if (const auto problem = topicPrefixProblem(value)) {
        return std::string(arg) + " '" + std::string(value) + "': " + *problem;
    } else {
        (arg == "--mqtt-base" ? mqtt.base : mqtt.discoveryPrefix) = std::string(value);
    }
    return std::nullopt;
}

} // namespace

std::string_view usageText() {
    return kUsage;
}

std::variant<ListenAddress, std::string> parseListenAddress(std::string_view text) {
    const std::string quoted = "'" + std::string(text) + "'";
    ListenAddress address;
    std::string_view portText = text;
    if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
        std::string_view host = text.substr(0, colon);
        portText = text.substr(colon + 1);
        const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
        if (bracketed) {
            host = host.substr(1, host.size() - 2);
        }
        address.host = host == "localhost" ? kLoopbackHost : std::string(host);
        if (!isIpLiteral(address.host, bracketed)) {
            return quoted + ": the host must be an IPv4 address or an IPv6 address in brackets";
        }
    }
    const auto port = decimal(portText, 0, 65535);
    if (!port) {
        return quoted + ": the port must be a number from 0 to 65535";
    }
    address.port = static_cast<std::uint16_t>(*port);
    return address;
}

std::string formatListenAddress(const ListenAddress& address) {
    const bool v6 = address.host.find(':') != std::string::npos;
    return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

ParsedOptions parseHubOptions(std::span<const std::string_view> args) {
    HubOptions options;
    bool haveLink = false;
    MqttOptions mqtt;
    bool haveBroker = false;
    std::string_view brokerOption; // the first option about the broker
    bool noDiscovery = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--version") {
            return InfoRequest::Version;
        }
        if (arg == "--help" || arg == "-h") {
            return InfoRequest::Help;
        }
        if (arg == "--print-token") {
            options.printToken = true;
            continue;
        }
        if (arg == "--no-discovery") {
            noDiscovery = true;
            brokerOption = brokerOption.empty() ? arg : brokerOption;
            continue;
        }
        if (arg != "--link" && arg != "--text" && arg != "--http" && arg != "--token-file" && arg != "--poll" &&
            arg != "--max-clients" && arg != "--log-level" && arg != "--site" && arg != "--mqtt" &&
            !isMqttOption(arg)) {
            return "unknown option '" + std::string(arg) + "'";
        }
        if (i + 1 >= args.size()) {
            return std::string(arg) + " needs a value";
        }
        const std::string_view value = args[++i];
        if (arg == "--mqtt") {
            if (auto problem = parseBroker(value, mqtt)) {
                return std::move(*problem);
            }
            haveBroker = true;
        } else if (isMqttOption(arg)) {
            if (auto problem = parseMqttOption(arg, value, mqtt)) {
                return std::move(*problem);
            }
            brokerOption = brokerOption.empty() ? arg : brokerOption;
        } else if (arg == "--link") {
            auto parsed = parseLinkAddress(value);
            if (const auto* error = std::get_if<LinkAddressError>(&parsed)) {
                return "--link: " + error->message;
            }
            options.link = std::get<LinkAddress>(std::move(parsed));
            haveLink = true;
        } else if (arg == "--text") {
            auto parsed = parseListenAddress(value);
            if (const auto* error = std::get_if<std::string>(&parsed)) {
                return "--text " + *error;
            }
            options.text = std::get<ListenAddress>(parsed);
        } else if (arg == "--http") {
            auto parsed = parseListenAddress(value);
            if (const auto* error = std::get_if<std::string>(&parsed)) {
                return "--http " + *error;
            }
            options.http = std::get<ListenAddress>(parsed);
        } else if (arg == "--token-file") {
            if (value.empty()) {
                return std::string("--token-file needs a file name");
            }
            options.tokenFile = std::string(value);
        } else if (arg == "--poll") {
            const auto seconds = decimal(value, 0, kMaxPollInterval.count());
            if (!seconds) {
                return "--poll: '" + std::string(value) + "' is not a whole number of seconds from 0 (off) to " +
                       std::to_string(kMaxPollInterval.count());
            }
            options.pollInterval = std::chrono::seconds(*seconds);
        } else if (arg == "--max-clients") {
            const auto count = decimal(value, 1, kMaxMaxClients);
            if (!count) {
                return "--max-clients: '" + std::string(value) + "' is not a number from 1 to " +
                       std::to_string(kMaxMaxClients);
            }
            options.maxClients = static_cast<int>(*count);
        } else if (arg == "--site") {
            if (value.empty()) {
                return std::string("--site needs a file name");
            }
            options.site = std::string(value);
        } else {
            const auto level = logLevelNamed(value);
            if (!level) {
                return "--log-level: '" + std::string(value) + "' is none of debug, info, warning, error";
            }
            options.logLevel = *level;
        }
    }
    if (!haveBroker && !brokerOption.empty()) {
        return std::string(brokerOption) + " needs --mqtt HOST:PORT";
    }
    if (haveBroker) {
        if (noDiscovery) {
            mqtt.discoveryPrefix.clear();
        }
        options.mqtt = std::move(mqtt);
    }
    if (!haveLink && !options.printToken) {
        return std::string("--link is required: the switcher's COM port, device path or HOST:PORT");
    }
    return options;
}

} // namespace mc::hub
