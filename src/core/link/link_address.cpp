#include "link/link_address.h"

#include "link/com_port_name.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <vector>

namespace mc {
namespace {

constexpr std::string_view kSchemeSeparator = "://";
constexpr std::string_view kTcpScheme = "tcp";
constexpr std::string_view kWin32DevicePrefix = R"(\\.\)";
constexpr std::uint32_t kLastTcpPort = 65535;
constexpr std::size_t kMaxPortDigits = 5;
constexpr std::size_t kMaxHexGroupDigits = 4;
constexpr std::size_t kIpv6Groups = 8;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}
bool isAlnum(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}
bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}
bool allDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), isDigit);
}

LinkAddressError fail(LinkAddressProblem problem, std::string_view text, std::string_view what) {
    std::string message = "link address \"";
    message.append(text);
    message.append("\": ");
    message.append(what);
    return {problem, std::move(message)};
}

// "COMn" in any case; nullopt when the text is not of that form at all.
std::optional<std::string_view> comDigits(std::string_view text) {
    if (text.size() > 3 && equalsIgnoringCase(text.substr(0, 3), "COM") && allDigits(text.substr(3))) {
        return text.substr(3);
    }
    return std::nullopt;
}

LinkAddressResult parseCom(std::string_view whole, std::string_view digits) {
    int n = 0;
    // No leading zero: "COM03" is not a name the COM selector has.
    const bool ok = digits.size() <= 2 && digits.front() != '0' &&
                    std::from_chars(digits.data(), digits.data() + digits.size(), n).ec == std::errc{};
    if (!ok || n < kFirstComPort || n > kLastComPort) {
        return fail(LinkAddressProblem::ComNumber, whole, "the COM port number must be 1 to 99");
    }
    return LinkAddress{SerialLinkAddress{n, {}}};
}

bool isIpv4(std::string_view s) {
    int parts = 0;
    while (true) {
        const std::size_t dot = s.find('.');
        const std::string_view part = s.substr(0, dot);
        int value = 0;
        if (part.empty() || part.size() > 3 || !allDigits(part) ||
            std::from_chars(part.data(), part.data() + part.size(), value).ec != std::errc{} || value > 255) {
            return false;
        }
        ++parts;
        if (dot == std::string_view::npos) {
            break;
        }
        s.remove_prefix(dot + 1);
    }
    return parts == 4;
}

// The groups of one side of "::" (or of a whole address without it).
std::optional<std::vector<std::string_view>> hexGroups(std::string_view s) {
    std::vector<std::string_view> groups;
    if (s.empty()) {
        return groups;
    }
    while (true) {
        const std::size_t colon = s.find(':');
        const std::string_view group = s.substr(0, colon);
        if (group.empty()) {
            return std::nullopt;
        }
        groups.push_back(group);
        if (colon == std::string_view::npos) {
            break;
        }
        s.remove_prefix(colon + 1);
    }
    return groups;
}

bool isIpv6(std::string_view s) {
    // A zone ("%eth0") names the interface of a link-local address.
    if (const std::size_t percent = s.find('%'); percent != std::string_view::npos) {
        const std::string_view zone = s.substr(percent + 1);
        if (zone.empty() || !std::all_of(zone.begin(), zone.end(),
                                         [](char c) { return isAlnum(c) || c == '-' || c == '_' || c == '.'; })) {
            return false;
        }
        s = s.substr(0, percent);
    }
    const std::size_t gap = s.find("::");
    const bool compressed = gap != std::string_view::npos;
    std::optional<std::vector<std::string_view>> left;
    std::optional<std::vector<std::string_view>> right;
    if (compressed) {
        left = hexGroups(s.substr(0, gap));
        right = hexGroups(s.substr(gap + 2));
    } else {
        left = hexGroups(s);
        right = std::vector<std::string_view>{};
    }
    if (!left || !right) {
        return false; // ":::" or a second "::" leaves an empty group
    }
    std::vector<std::string_view> all = *left;
    all.insert(all.end(), right->begin(), right->end());
    std::size_t count = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::string_view group = all[i];
        const bool last = i + 1 == all.size() && (!compressed || !right->empty());
        if (last && group.find('.') != std::string_view::npos) {
            if (!isIpv4(group)) {
                return false;
            }
            count += 2;
            continue;
        }
        if (group.size() > kMaxHexGroupDigits || !std::all_of(group.begin(), group.end(), isHexDigit)) {
            return false;
        }
        ++count;
    }
    return compressed ? count < kIpv6Groups : count == kIpv6Groups;
}

std::variant<std::uint16_t, LinkAddressError> parsePort(std::string_view whole, std::string_view port) {
    if (port.empty()) {
        return fail(LinkAddressProblem::NoPort, whole, "no TCP port after the colon (write HOST:PORT)");
    }
    if (!allDigits(port)) {
        return fail(LinkAddressProblem::BadPort, whole, "the TCP port must be a decimal number");
    }
    const std::size_t significant = port.find_first_not_of('0');
    if (significant == std::string_view::npos) {
        return fail(LinkAddressProblem::PortOutOfRange, whole, "TCP port 0 is out of range (1 to 65535)");
    }
    std::uint32_t value = 0;
    const std::string_view digits = port.substr(significant);
    if (digits.size() > kMaxPortDigits ||
        std::from_chars(digits.data(), digits.data() + digits.size(), value).ec != std::errc{} ||
        value > kLastTcpPort) {
        return fail(LinkAddressProblem::PortOutOfRange, whole, "the TCP port is above 65535");
    }
    return static_cast<std::uint16_t>(value);
}

LinkAddressResult parseHostPort(std::string_view whole, std::string_view rest) {
    std::string_view host;
    std::string_view portText;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) {
            return fail(LinkAddressProblem::BadBrackets, whole, R"("[" without "]" around the IPv6 address)");
        }
        host = rest.substr(1, close - 1);
        if (host.empty()) {
            return fail(LinkAddressProblem::EmptyHost, whole, "no IPv6 address between the brackets");
        }
        if (host.find_first_of("[]") != std::string_view::npos) {
            return fail(LinkAddressProblem::BadBrackets, whole, "brackets inside the IPv6 address");
        }
        if (!isIpv6(host)) {
            return fail(LinkAddressProblem::BadIpv6, whole, "not an IPv6 address between the brackets");
        }
        const std::string_view after = rest.substr(close + 1);
        if (after.empty()) {
            return fail(LinkAddressProblem::NoPort, whole, "no TCP port (write [IPv6]:PORT)");
        }
        if (after.front() != ':') {
            return fail(LinkAddressProblem::BadBrackets, whole, R"(":PORT" must follow the "]")");
        }
        portText = after.substr(1);
    } else {
        if (rest.find_first_of("[]") != std::string_view::npos) {
            return fail(LinkAddressProblem::BadBrackets, whole,
                        "brackets belong only around an IPv6 address, as in [::1]:5000");
        }
        const std::size_t colon = rest.rfind(':');
        if (colon == std::string_view::npos) {
            return fail(LinkAddressProblem::NoPort, whole,
                        "no TCP port; give COM1 to COM99, a device path, or HOST:PORT");
        }
        host = rest.substr(0, colon);
        portText = rest.substr(colon + 1);
        if (host.find(':') != std::string_view::npos) {
            return fail(LinkAddressProblem::UnbracketedIpv6, whole, "an IPv6 address needs brackets, as in [::1]:5000");
        }
        if (host.empty()) {
            return fail(LinkAddressProblem::EmptyHost, whole, "no host before the colon");
        }
        if (!std::all_of(host.begin(), host.end(),
                         [](char c) { return isAlnum(c) || c == '-' || c == '.' || c == '_'; })) {
            return fail(LinkAddressProblem::BadHost, whole, "the host may hold only letters, digits, '-', '_' and '.'");
        }
    }
    auto port = parsePort(whole, portText);
    if (auto* error = std::get_if<LinkAddressError>(&port)) {
        return std::move(*error);
    }
    return LinkAddress{TcpLinkAddress{std::string(host), std::get<std::uint16_t>(port)}};
}

} // namespace

LinkAddressResult parseLinkAddress(std::string_view text) {
    if (text.empty()) {
        return fail(LinkAddressProblem::Empty, text, "empty; give COM1 to COM99, a device path, or HOST:PORT");
    }
    if (text.size() > kLinkAddressMaxLength) {
        // The text itself is not repeated: it may be anything, of any length.
        return LinkAddressError{LinkAddressProblem::TooLong, "link address of " + std::to_string(text.size()) +
                                                                 " characters: longer than " +
                                                                 std::to_string(kLinkAddressMaxLength)};
    }
    for (const char c : text) {
        if (c == ' ' || c == '\t') {
            return fail(LinkAddressProblem::Blank, text, "holds a blank");
        }
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return LinkAddressError{LinkAddressProblem::ControlCharacter, "link address holds a control character"};
        }
    }
    if (const auto digits = comDigits(text)) {
        return parseCom(text, *digits);
    }
    if (text.substr(0, kWin32DevicePrefix.size()) == kWin32DevicePrefix) {
        const std::string_view name = text.substr(kWin32DevicePrefix.size());
        if (const auto digits = comDigits(name)) {
            return parseCom(text, *digits);
        }
        return fail(LinkAddressProblem::BadDevicePath, text, R"(a \\.\ device must be COM1 to COM99)");
    }
    if (text.front() == '/') {
        return LinkAddress{SerialLinkAddress{0, std::string(text)}};
    }
    if (const std::size_t scheme = text.find(kSchemeSeparator); scheme != std::string_view::npos) {
        if (!equalsIgnoringCase(text.substr(0, scheme), kTcpScheme)) {
            return fail(LinkAddressProblem::UnknownScheme, text, "unknown scheme; only tcp:// is known");
        }
        return parseHostPort(text, text.substr(scheme + kSchemeSeparator.size()));
    }
    return parseHostPort(text, text);
}

std::string formatLinkAddress(const LinkAddress& address) {
    if (const auto* serial = std::get_if<SerialLinkAddress>(&address)) {
        return serial->comPort != 0 ? comPortName(serial->comPort) : serial->devicePath;
    }
    const auto& tcp = std::get<TcpLinkAddress>(address);
    const bool v6 = tcp.host.find(':') != std::string::npos;
    return (v6 ? "[" + tcp.host + "]" : tcp.host) + ":" + std::to_string(tcp.port);
}

} // namespace mc
