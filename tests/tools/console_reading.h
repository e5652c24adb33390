#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mc::sim::test {

// What the console takes from one reply line, read by its documented rules
// (first keyword found decides; port digits right before the keyword; values
// at fixed offsets after it). Written independently of the emulator's reply
// builders so the two check each other.
struct ConsoleReading {
    std::string keyword;                   // "" when the line holds no keyword the console knows
    int port = -1;                         // VS, EDID, EXA: the port number as the console computes it
    int value = -1;                        // VS: input index (0-based); EDID: choice; EXA: 0 On, 1 Mute; DHCP: 0/1
    std::array<std::uint8_t, 4> address{}; // HIP, NMK, RIP
    std::string text;                      // MAC (17 characters), TIP (up to 4)
};

// line: one whole line, CR LF included.
[[nodiscard]] ConsoleReading readAsConsole(std::string_view line);

// The EDID-to-file rule: both "EDID " and "DATA " on the line, then lower-case
// hex pairs from behind "DATA ". nullopt if the line holds no EDID data or
// fewer than 256 pairs.
[[nodiscard]] std::optional<std::array<std::uint8_t, 256>> readEdidAsConsole(std::string_view line);

} // namespace mc::sim::test
