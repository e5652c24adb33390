#include "hub_options.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif
#include <charconv>
#include <vector>

namespace mc::hub {
namespace {

constexpr std::string_view kUsage =
    "usage: matrix-hub --link COMn|DEVICE|HOST:PORT [--text [HOST:]PORT] [--http [HOST:]PORT]\n"
    "                  [--token-file FILE] [--poll SECONDS] [--max-clients N] [--site FILE]\n"
    "                  [--log-level debug|info|warning|error]\n"
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
        if (arg != "--link" && arg != "--text" && arg != "--http" && arg != "--token-file" && arg != "--poll" &&
            arg != "--max-clients" && arg != "--log-level" && arg != "--site") {
            return "unknown option '" + std::string(arg) + "'";
        }
        if (i + 1 >= args.size()) {
            return std::string(arg) + " needs a value";
        }
        const std::string_view value = args[++i];
        if (arg == "--link") {
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
    if (!haveLink && !options.printToken) {
        return std::string("--link is required: the switcher's COM port, device path or HOST:PORT");
    }
    return options;
}

} // namespace mc::hub
