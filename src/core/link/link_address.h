#pragma once

#include "link/com_port_name.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

// The one text form of a link, shared by every front end: a COM port
// ("COM3"), a serial device path ("/dev/ttyUSB0", "\\.\COM12") or a TCP peer
// ("HOST:PORT", "[IPv6]:PORT", "tcp://HOST:PORT"). Parsing opens nothing.
namespace mc {

// Longer text is refused before it is looked at: no host name or device path
// a link needs comes near it.
inline constexpr std::size_t kLinkAddressMaxLength = 255;

// A serial line: COMn (comPort 1..99, devicePath empty) or a device given by
// its path (comPort 0).
struct SerialLinkAddress {
    int comPort = 0;
    std::string devicePath;
    friend bool operator==(const SerialLinkAddress&, const SerialLinkAddress&) = default;
};

// A TCP peer. host is a name, an IPv4 literal or an IPv6 literal (without its
// brackets; an IPv6 literal is the only host holding ':').
struct TcpLinkAddress {
    std::string host;
    std::uint16_t port = 0;
    friend bool operator==(const TcpLinkAddress&, const TcpLinkAddress&) = default;
};

using LinkAddress = std::variant<SerialLinkAddress, TcpLinkAddress>;

// What is wrong with a text that is no link address.
enum class LinkAddressProblem {
    Empty,
    TooLong,
    Blank,            // a blank or tab anywhere
    ControlCharacter, // any other byte below 0x20, or 0x7F
    ComNumber,        // COMn with n not 1..99
    UnknownScheme,    // "xyz://", only tcp:// is known
    NoPort,           // HOST without ":PORT", or nothing after the colon
    BadPort,          // not all decimal digits
    PortOutOfRange,   // 0 or above 65535
    EmptyHost,
    BadHost,         // a character no host name has
    BadBrackets,     // "[" without "]", or brackets outside an IPv6 literal
    BadIpv6,         // inside the brackets: not an IPv6 literal
    UnbracketedIpv6, // more than one ':' without brackets
    BadDevicePath,   // "\\.\" not followed by COMn
};

struct LinkAddressError {
    LinkAddressProblem problem = LinkAddressProblem::Empty;
    // Names the address and what is wrong, for the user as it stands.
    std::string message;
    friend bool operator==(const LinkAddressError&, const LinkAddressError&) = default;
};

using LinkAddressResult = std::variant<LinkAddress, LinkAddressError>;

[[nodiscard]] LinkAddressResult parseLinkAddress(std::string_view text);

// The canonical text of an address: "COM3", the device path, "host:port" or
// "[v6]:port". Parsing it gives the same address back.
[[nodiscard]] std::string formatLinkAddress(const LinkAddress& address);

} // namespace mc
