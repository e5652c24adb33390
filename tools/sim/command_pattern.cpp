#include "sim/command_pattern.h"

namespace mc::sim {

namespace {

constexpr std::size_t kAddressLength = 15; // "ddd.ddd.ddd.ddd"

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Each reader consumes its field from the front of `line`; false when the
// field is not there.
bool readPortField(std::string_view& line, CommandFields& fields) {
    if (line.size() < 2) {
        return false;
    }
    const char first = line[0];
    const char second = line[1];
    if (first >= '1' && first <= '9' && second == ' ') {
        fields.numbers.push_back(first - '0');
    } else if (first == '1' && second >= '0' && second <= '6') {
        fields.numbers.push_back(10 + second - '0');
    } else {
        return false;
    }
    line.remove_prefix(2);
    return true;
}

bool readPlainPort(std::string_view& line, CommandFields& fields) {
    if (line.empty() || !isDigit(line[0]) || line[0] == '0') {
        return false;
    }
    int value = line[0] - '0';
    std::size_t used = 1;
    if (line.size() > 1 && isDigit(line[1])) {
        value = value * 10 + (line[1] - '0');
        used = 2;
    }
    if (value > kPortCount) {
        return false;
    }
    fields.numbers.push_back(value);
    line.remove_prefix(used);
    return true;
}

bool readDigits(std::string_view& line, std::size_t count, CommandFields& fields) {
    if (line.size() < count) {
        return false;
    }
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!isDigit(line[i])) {
            return false;
        }
        value = value * 10 + (line[i] - '0');
    }
    fields.numbers.push_back(value);
    line.remove_prefix(count);
    return true;
}

bool readAddress(std::string_view& line, CommandFields& fields) {
    if (line.size() < kAddressLength) {
        return false;
    }
    Ipv4Address address;
    for (std::size_t octet = 0; octet < 4; ++octet) {
        const std::size_t at = octet * 4;
        if (octet > 0 && line[at - 1] != '.') {
            return false;
        }
        int value = 0;
        for (std::size_t i = at; i < at + 3; ++i) {
            if (!isDigit(line[i])) {
                return false;
            }
            value = value * 10 + (line[i] - '0');
        }
        if (value > 255) {
            return false;
        }
        address.octets.at(octet) = static_cast<std::uint8_t>(value);
    }
    fields.address = address;
    line.remove_prefix(kAddressLength);
    return true;
}

bool readHex(std::string_view& line, CommandFields& fields) {
    fields.edid = parseHexText(line);
    line = {};
    return fields.edid.has_value();
}

bool readField(std::string_view name, std::string_view& line, CommandFields& fields) {
    if (name == "pp") {
        return readPortField(line, fields);
    }
    if (name == "n") {
        return readPlainPort(line, fields);
    }
    if (name == "d") {
        return readDigits(line, 1, fields);
    }
    if (name == "dd") {
        return readDigits(line, 2, fields);
    }
    if (name == "addr") {
        return readAddress(line, fields);
    }
    if (name == "hex") {
        return readHex(line, fields);
    }
    if (name == "text") {
        fields.text = line;
        line = {};
        return true;
    }
    return false;
}

} // namespace

std::optional<CommandFields> matchCommand(std::string_view pattern, std::string_view line) {
    CommandFields fields;
    while (!pattern.empty()) {
        if (pattern.front() == '{') {
            const std::size_t close = pattern.find('}');
            if (close == std::string_view::npos || !readField(pattern.substr(1, close - 1), line, fields)) {
                return std::nullopt;
            }
            pattern.remove_prefix(close + 1);
            continue;
        }
        if (line.empty() || line.front() != pattern.front()) {
            return std::nullopt;
        }
        line.remove_prefix(1);
        pattern.remove_prefix(1);
    }
    if (!line.empty()) {
        return std::nullopt;
    }
    return fields;
}

} // namespace mc::sim
