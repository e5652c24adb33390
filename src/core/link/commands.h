#pragma once

#include "link/ports.h"
#include "link/text_command.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Builders of the switcher's text commands. Each returns the exact bytes of
// one command, or nullopt when a port, value or text is out of range, so no
// command is ever built from garbage or longer than the write buffer.
namespace mc {

// One-character name of a port: '1'-'9' for 1 to 9, 'A'-'G' for 10 to 16.
[[nodiscard]] std::optional<char> portCode(int port);

// The port a port code names; nullopt for any other character.
[[nodiscard]] std::optional<int> portFromCode(char code);

// The two-character field a command writes a port in: the digit and a blank
// for 1 to 9, '1' and the digit 0 to 6 for 10 to 16.
using PortField = std::array<char, 2>;
[[nodiscard]] std::optional<PortField> portFieldFromCode(char code);
[[nodiscard]] std::optional<PortField> portField(int port);

// EDID source index as the apply and read commands carry it: 0-29 built-in
// EDIDs, 30-32 the input's three user slots.
inline constexpr int kLastEdidSourceIndex = 32;
// An input's EDID choice beyond the source indexes copies output (choice - 32).
inline constexpr int kFirstCopyEdidChoice = kLastEdidSourceIndex + 1;
inline constexpr int kLastEdidChoice = kLastEdidSourceIndex + kLastPort;

inline constexpr int kFirstUserSlot = 1;
inline constexpr int kLastUserSlot = 3;
inline constexpr std::size_t kUploadEdidSize = 256;

// De-embedded audio of an output: what the audio command sets, the switcher
// reports and the audio page shows.
enum class AudioState { On, Mute };

// An IPv4 address, first octet first (the most significant).
struct Ipv4Address {
    std::array<std::uint8_t, 4> octets{};

    [[nodiscard]] static Ipv4Address fromUint32(std::uint32_t value);
    [[nodiscard]] std::uint32_t toUint32() const;
    friend bool operator==(const Ipv4Address&, const Ipv4Address&) = default;
};

// An octet as exactly three decimal digits: "005", "064", "255".
[[nodiscard]] std::string threeDigitOctet(std::uint8_t value);
// Four three-digit octets joined by full stops: "192.168.001.100".
[[nodiscard]] std::string dottedAddress(const Ipv4Address& address);

// Longest TCP port text the IP settings page takes.
inline constexpr std::size_t kTcpPortTextMaxLength = 4;
// Longest MAC text that still fits the write buffer: the largest block
// without it (DHCP off, four-character TCP port, empty MAC line) is 112 bytes.
inline constexpr std::size_t kMacTextMaxLength = kWriteBufferSize - 112;

// What one save of the IP settings page sends.
struct NetworkSettings {
    bool dhcp = false;
    Ipv4Address host;
    Ipv4Address netMask;
    Ipv4Address router;
    std::string tcpPort;
    // Present only once the MAC edit has been unlocked.
    std::optional<std::string> mac;
};

// CR LF SET OUT{pp} VS IN{pp} CR LF, 21 bytes.
[[nodiscard]] std::optional<TextCommand> routingCommand(int output, int input);

// CR LF SET OUT{pp} EXA  EN / EXA DIS CR LF, 21 bytes.
[[nodiscard]] std::optional<TextCommand> audioCommand(int output, AudioState setting);

// CR LF SET IN{pp} EDID {dd} CR LF, 20 bytes; source index 0 to 32.
[[nodiscard]] std::optional<TextCommand> applyEdidCommand(int input, int sourceIndex);

// CR LF SET IN{pp} EDIDCY OUT {pp} CR LF, 26 bytes: the input takes the EDID of
// the display on the output.
[[nodiscard]] std::optional<TextCommand> applyEdidCopyCommand(int input, int output);

// The apply command for an input's EDID choice 0 to 48: the EDID form up to 32,
// the copy form of output (choice - 32) above.
[[nodiscard]] std::optional<TextCommand> applyEdidChoiceCommand(int input, int choice);

// CR LF GET OUT{pp} EDID  DATA CR LF, 24 bytes.
[[nodiscard]] std::optional<TextCommand> readOutputEdidCommand(int output);

// CR LF GET IN{pp} EDID {dd} DATA CR LF, 25 bytes; source index 0 to 32.
[[nodiscard]] std::optional<TextCommand> readInputEdidCommand(int input, int sourceIndex);

// SET IN{n} EDID U{k} DATA and the 256 bytes as upper-case hex, CR LF; no CR LF
// before. 790 bytes for inputs 1 to 9, 791 for 10 to 16.
[[nodiscard]] std::optional<TextCommand> uploadEdidCommand(int input, int userSlot,
                                                           std::span<const std::uint8_t, kUploadEdidSize> edid);

// The network settings block: one CR LF, then each line followed by CR LF.
// nullopt when the TCP port text is longer than four characters, a text holds
// a line break (it would split the block into other commands), or the block
// would not fit the write buffer.
[[nodiscard]] std::optional<TextCommand> networkSettingsCommand(const NetworkSettings& settings);

// CR LF GET STA CR LF: the device search's status query.
[[nodiscard]] TextCommand probeCommand();
// How long a device search waits for any line in answer to the probe: longer
// on the first port it opens than on each further one.
inline constexpr std::chrono::milliseconds kFirstProbeWait{500};
inline constexpr std::chrono::milliseconds kNextProbeWait{400};

} // namespace mc
