#pragma once

#include "sim/edid_image.h"
#include "sim/switcher_state.h"

#include <optional>
#include <string_view>
#include <vector>

namespace mc::sim {

// What the fields of a matched command held, in the order of the pattern.
struct CommandFields {
    std::vector<int> numbers;           // {pp} {n} {d} {dd}
    std::optional<Ipv4Address> address; // {addr}
    std::optional<EdidImage> edid;      // {hex}
    std::string_view text;              // {text}: the rest of the line, may be empty
};

// Matches one command line (framing removed) against a pattern. Everything
// outside braces must be there exactly, blank for blank. Fields:
//   {pp}   two-character port field: "1 " to "9 ", "10" to "16"
//   {n}    port in plain decimal, 1 to 16, no fill and no leading zero
//   {d}    one decimal digit
//   {dd}   two decimal digits
//   {addr} four octets of three decimal digits joined by full stops, each <= 255
//   {hex}  256 bytes in hexadecimal (see parseHexText); must end the pattern
//   {text} the rest of the line; must end the pattern
// nullopt when the line does not have that form.
[[nodiscard]] std::optional<CommandFields> matchCommand(std::string_view pattern, std::string_view line);

} // namespace mc::sim
