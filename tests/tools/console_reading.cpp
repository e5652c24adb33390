#include "tools/console_reading.h"

#include <algorithm>

namespace mc::sim::test {

namespace {

constexpr std::array<std::string_view, 13> kKeywords = {
    "VS ", "EDID ", "MAC ", "HIP ", "NMK ", "RIP ", "TIP ", "DHCP ", "EXADL ", "EXA ", "ASS ", "VIDEO ", "IMAGE ENH "};

// Positions outside the line read as NUL, which no rule accepts as a digit.
char at(std::string_view line, std::ptrdiff_t i) {
    return i >= 0 && static_cast<std::size_t>(i) < line.size() ? line[static_cast<std::size_t>(i)] : '\0';
}

int portBefore(std::string_view line, std::ptrdiff_t k, char letter) {
    const int digit = at(line, k - 2) - '0';
    return at(line, k - 3) == letter ? digit : digit + 10;
}

std::uint8_t octet(std::string_view line, std::ptrdiff_t from) {
    const int value = 100 * (at(line, from) - '0') + 10 * (at(line, from + 1) - '0') + (at(line, from + 2) - '0');
    return static_cast<std::uint8_t>(value % 256);
}

int nibble(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c - 'a' + 10;
}

} // namespace

ConsoleReading readAsConsole(std::string_view line) {
    ConsoleReading reading;
    for (const std::string_view keyword : kKeywords) {
        const std::size_t found = line.find(keyword);
        if (found == std::string_view::npos || ((keyword == "VS " || keyword == "EDID ") && found == 0)) {
            continue;
        }
        const auto k = static_cast<std::ptrdiff_t>(found);
        reading.keyword = keyword;
        if (keyword == "VS ") {
            reading.port = portBefore(line, k, 'T');
            reading.value = at(line, k + 6) == '\r' ? at(line, k + 5) - '1' : at(line, k + 6) - '0' + 9;
        } else if (keyword == "EDID ") {
            reading.port = portBefore(line, k, 'N');
            reading.value = at(line, k + 6) == '\r' ? at(line, k + 5) - '0'
                                                    : 10 * (at(line, k + 5) - '0') + (at(line, k + 6) - '0');
        } else if (keyword == "MAC ") {
            reading.text = line.substr(found + 4, 17);
        } else if (keyword == "HIP " || keyword == "NMK " || keyword == "RIP ") {
            for (std::size_t i = 0; i < 4; ++i) {
                reading.address.at(i) = octet(line, static_cast<std::ptrdiff_t>(4 + 4 * i));
            }
        } else if (keyword == "TIP ") {
            for (std::size_t i = found + 4; i < line.size() && i < found + 8 && line[i] != '\r'; ++i) {
                reading.text += line[i];
            }
        } else if (keyword == "DHCP ") {
            reading.value = at(line, 5) == '0' ? 0 : 1;
        } else if (keyword == "EXA " || keyword == "ASS ") {
            reading.port = portBefore(line, k, 'T');
            reading.value = at(line, k + 4) == 'E' ? 0 : 1;
        }
        return reading;
    }
    return reading;
}

std::optional<std::array<std::uint8_t, 256>> readEdidAsConsole(std::string_view line) {
    const std::size_t data = line.find("DATA ");
    if (line.find("EDID ") == std::string_view::npos || data == std::string_view::npos) {
        return std::nullopt;
    }
    constexpr std::size_t kScanLimit = 2000;
    std::array<std::uint8_t, 256> image{};
    std::size_t i = data + 5;
    const std::size_t end = std::min(line.size(), kScanLimit);
    for (auto& byte : image) {
        while (i < end && !((line[i] >= '0' && line[i] <= '9') || (line[i] >= 'a' && line[i] <= 'f'))) {
            ++i;
        }
        if (i + 1 >= end) {
            return std::nullopt;
        }
        byte = static_cast<std::uint8_t>(nibble(line[i]) * 16 + nibble(line[i + 1]));
        i += 2;
    }
    return image;
}

} // namespace mc::sim::test
