#include "link/commands.h"

namespace mc {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr char kBlank = ' ';

// Command texts between the framing and the fields, as the switcher expects
// them; their blanks are part of the command.
constexpr std::string_view kSetOut = "SET OUT";
constexpr std::string_view kSetIn = "SET IN";
constexpr std::string_view kGetOut = "GET OUT";
constexpr std::string_view kGetIn = "GET IN";
constexpr std::string_view kVsIn = " VS IN";
constexpr std::string_view kAudioOn = " EXA  EN";
constexpr std::string_view kAudioMute = " EXA DIS";
constexpr std::string_view kEdid = " EDID ";
constexpr std::string_view kEdidCopyOut = " EDIDCY OUT ";
constexpr std::string_view kEmptyIndexData = " EDID  DATA";
constexpr std::string_view kData = " DATA";
constexpr std::string_view kUploadSlot = " EDID U";
constexpr std::string_view kUploadData = " DATA ";
constexpr std::string_view kProbe = "GET STA";

constexpr std::string_view kSetDhcpOn = "SET DHCP 1";
constexpr std::string_view kSetDhcpOff = "SET DHCP 0";
constexpr std::string_view kSetHostIp = "SET HIP ";
constexpr std::string_view kSetNetMask = "SET NMK ";
// The switcher takes the router address joined to its keyword.
constexpr std::string_view kSetRouterIp = "SET RIP";
constexpr std::string_view kSetTcpPort = "SET TIP ";
constexpr std::string_view kSetMac = "SET MAC ";

constexpr std::string_view kPortCodes = "123456789ABCDEFG";
constexpr std::string_view kUpperHexDigits = "0123456789ABCDEF";

// Codes from 'A' on stand for ports 10 to 16; their field is '1' and the
// code minus 0x11 ('A' gives '0').
constexpr char kFirstLetterCode = 'A';
constexpr char kLetterCodeToDigit = 0x11;

// Framed fixed-length commands are short; builders reserve this much.
constexpr std::size_t kShortCommandCapacity = 32;

// Appends the field of a port already known to be valid.
void appendPortField(std::string& out, int port) {
    const PortField field = *portField(port);
    out.append(field.data(), field.size());
}

void appendTwoDigits(std::string& out, int value) {
    out.push_back(static_cast<char>('0' + value / 10));
    out.push_back(static_cast<char>('0' + value % 10));
}

bool isValidSourceIndex(int index) {
    return index >= 0 && index <= kLastEdidSourceIndex;
}

bool holdsLineBreak(std::string_view text) {
    return text.find_first_of(kLineEnd) != std::string_view::npos;
}

// Every builder ends here; fixed-length commands always fit.
std::optional<TextCommand> finish(std::string bytes) {
    return TextCommand::fromBytes(std::move(bytes));
}

std::string framedStart() {
    std::string out;
    out.reserve(kShortCommandCapacity);
    out.append(kLineEnd);
    return out;
}

} // namespace

std::optional<char> portCode(int port) {
    if (!isValidPort(port)) {
        return std::nullopt;
    }
    return kPortCodes[static_cast<std::size_t>(port - kFirstPort)];
}

std::optional<int> portFromCode(char code) {
    const auto at = kPortCodes.find(code);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    return static_cast<int>(at) + kFirstPort;
}

std::optional<PortField> portFieldFromCode(char code) {
    if (!portFromCode(code)) {
        return std::nullopt;
    }
    if (code < kFirstLetterCode) {
        return PortField{code, kBlank};
    }
    return PortField{'1', static_cast<char>(code - kLetterCodeToDigit)};
}

std::optional<PortField> portField(int port) {
    const auto code = portCode(port);
    if (!code) {
        return std::nullopt;
    }
    return portFieldFromCode(*code);
}

Ipv4Address Ipv4Address::fromUint32(std::uint32_t value) {
    Ipv4Address address;
    for (std::size_t i = 0; i < address.octets.size(); ++i) {
        const auto shift = 8 * (address.octets.size() - 1 - i);
        address.octets[i] = static_cast<std::uint8_t>((value >> shift) & 0xFFU);
    }
    return address;
}

std::uint32_t Ipv4Address::toUint32() const {
    std::uint32_t value = 0;
    for (const std::uint8_t octet : octets) {
        value = (value << 8) | octet;
    }
    return value;
}

std::string threeDigitOctet(std::uint8_t value) {
    return {static_cast<char>('0' + value / 100), static_cast<char>('0' + value / 10 % 10),
            static_cast<char>('0' + value % 10)};
}

std::string dottedAddress(const Ipv4Address& address) {
    std::string out;
    for (std::size_t i = 0; i < address.octets.size(); ++i) {
        if (i > 0) {
            out.push_back('.');
        }
        out.append(threeDigitOctet(address.octets[i]));
    }
    return out;
}

std::optional<TextCommand> routingCommand(int output, int input) {
    if (!isValidPort(output) || !isValidPort(input)) {
        return std::nullopt;
    }
    std::string out = framedStart();
    out.append(kSetOut);
    appendPortField(out, output);
    out.append(kVsIn);
    appendPortField(out, input);
    out.append(kLineEnd);
    return finish(std::move(out));
}

std::optional<TextCommand> audioCommand(int output, AudioState setting) {
    if (!isValidPort(output)) {
        return std::nullopt;
    }
    std::string out = framedStart();
    out.append(kSetOut);
    appendPortField(out, output);
    out.append(setting == AudioState::On ? kAudioOn : kAudioMute);
    out.append(kLineEnd);
    return finish(std::move(out));
}

std::optional<TextCommand> applyEdidCommand(int input, int sourceIndex) {
    if (!isValidPort(input) || !isValidSourceIndex(sourceIndex)) {
        return std::nullopt;
    }
    std::string out = framedStart();
    out.append(kSetIn);
    appendPortField(out, input);
    out.append(kEdid);
    appendTwoDigits(out, sourceIndex);
    out.append(kLineEnd);
    return finish(std::move(out));
}

std::optional<TextCommand> applyEdidCopyCommand(int input, int output) {
    if (!isValidPort(input) || !isValidPort(output)) {
        return std::nullopt;
    }
    std::string out = framedStart();
    out.append(kSetIn);
    appendPortField(out, input);
    out.append(kEdidCopyOut);
    appendPortField(out, output);
    out.append(kLineEnd);
    return finish(std::move(out));
}

std::optional<TextCommand> applyEdidChoiceCommand(int input, int choice) {
    if (choice >= kFirstCopyEdidChoice && choice <= kLastEdidChoice) {
        return applyEdidCopyCommand(input, choice - kLastEdidSourceIndex);
    }
    return applyEdidCommand(input, choice);
}

std::optional<TextCommand> readOutputEdidCommand(int output) {
    if (!isValidPort(output)) {
        return std::nullopt;
    }
    std::string out = framedStart();
    out.append(kGetOut);
    appendPortField(out, output);
    out.append(kEmptyIndexData);
    out.append(kLineEnd);
    return finish(std::move(out));
}

std::optional<TextCommand> readInputEdidCommand(int input, int sourceIndex) {
    if (!isValidPort(input) || !isValidSourceIndex(sourceIndex)) {
        return std::nullopt;
    }
    std::string out = framedStart();
    out.append(kGetIn);
    appendPortField(out, input);
    out.append(kEdid);
    appendTwoDigits(out, sourceIndex);
    out.append(kData);
    out.append(kLineEnd);
    return finish(std::move(out));
}

std::optional<TextCommand> uploadEdidCommand(int input, int userSlot,
                                             std::span<const std::uint8_t, kUploadEdidSize> edid) {
    if (!isValidPort(input) || userSlot < kFirstUserSlot || userSlot > kLastUserSlot) {
        return std::nullopt;
    }
    std::string out;
    out.reserve(kSetIn.size() + 2 + kUploadSlot.size() + 1 + kUploadData.size() + 3 * kUploadEdidSize +
                kLineEnd.size());
    // No CR LF ahead: the switcher takes the upload line as it starts.
    out.append(kSetIn);
    out.append(std::to_string(input));
    out.append(kUploadSlot);
    out.push_back(static_cast<char>('0' + userSlot));
    out.append(kUploadData);
    for (std::size_t i = 0; i < edid.size(); ++i) {
        if (i > 0) {
            out.push_back(kBlank);
        }
        out.push_back(kUpperHexDigits[edid[i] >> 4]);
        out.push_back(kUpperHexDigits[edid[i] & 0x0F]);
    }
    out.append(kLineEnd);
    return finish(std::move(out));
}

std::optional<TextCommand> networkSettingsCommand(const NetworkSettings& settings) {
    if (settings.tcpPort.size() > kTcpPortTextMaxLength || holdsLineBreak(settings.tcpPort) ||
        (settings.mac && (holdsLineBreak(*settings.mac) || settings.mac->size() > kWriteBufferSize))) {
        return std::nullopt;
    }
    std::string out;
    out.append(kLineEnd);
    const auto line = [&out](std::string_view keyword, std::string_view value) {
        out.append(keyword);
        out.append(value);
        out.append(kLineEnd);
    };
    if (settings.dhcp) {
        line(kSetDhcpOn, {});
    } else {
        line(kSetDhcpOff, {});
        line(kSetHostIp, dottedAddress(settings.host));
        line(kSetNetMask, dottedAddress(settings.netMask));
        line(kSetRouterIp, dottedAddress(settings.router));
    }
    line(kSetTcpPort, settings.tcpPort);
    if (settings.mac) {
        line(kSetMac, *settings.mac);
    }
    return finish(std::move(out));
}

TextCommand probeCommand() {
    std::string out = framedStart();
    out.append(kProbe);
    out.append(kLineEnd);
    return *finish(std::move(out));
}

} // namespace mc
