#include "mqtt_topics.h"

#include "link/ports.h"
#include "session/hex_digit.h"

#include <cctype>
#include <charconv>

namespace mc::hub {
namespace {

constexpr std::string_view kSetSuffix = "/set";
constexpr std::string_view kOutputLevel = "output/";

bool isIdCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-';
}

} // namespace

std::optional<std::string> deviceIdFromMac(std::string_view mac) {
    std::string id;
    for (const char c : mac) {
        if (c == ':' || c == '-') {
            continue;
        }
        if (hexDigitValue(c) < 0) {
            return std::nullopt;
        }
        id += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (id.size() != 12) {
        return std::nullopt;
    }
    return id;
}

std::optional<std::string> deviceIdProblem(std::string_view id) {
    if (id.empty() || id.size() > kMaxDeviceIdLength) {
        return "a device id has 1 to " + std::to_string(kMaxDeviceIdLength) + " characters";
    }
    for (const char c : id) {
        if (!isIdCharacter(c)) {
            return "a device id holds only letters, digits, '_' and '-'";
        }
    }
    return std::nullopt;
}

std::optional<std::string> topicPrefixProblem(std::string_view prefix) {
    if (prefix.empty() || prefix.size() > kMaxTopicPrefixLength) {
        return "a topic prefix has 1 to " + std::to_string(kMaxTopicPrefixLength) + " characters";
    }
    if (prefix.front() == '/' || prefix.back() == '/' || prefix.find("//") != std::string_view::npos) {
        return "a topic prefix has no empty level ('/' at either end or twice)";
    }
    for (const char c : prefix) {
        if (c <= ' ' || c > '~' || c == '+' || c == '#') {
            return "a topic prefix holds printable characters without blanks and without the wildcards '+' and '#'";
        }
    }
    return std::nullopt;
}

MqttTopics::MqttTopics(std::string_view base, std::string_view deviceId)
    : deviceId_(deviceId), root_(std::string(base) + "/" + std::string(deviceId)) {
}

std::string MqttTopics::outputTopic(int output, std::string_view what) const {
    return root_ + "/" + std::string(kOutputLevel) + std::to_string(output) + "/" + std::string(what);
}

std::vector<std::string> MqttTopics::commandSubscriptions() const {
    return {root_ + "/output/+/input/set", root_ + "/output/+/audio/set", root_ + "/output/+/locked/set",
            presetRecall()};
}

std::optional<MqttTopics::Parsed> MqttTopics::parseCommand(std::string_view topic) const {
    if (topic == presetRecall()) {
        return MqttCommandTopic{MqttCommandTopic::Recall, 0};
    }
    const std::string prefix = root_ + "/" + std::string(kOutputLevel);
    if (!topic.starts_with(prefix) || !topic.ends_with(kSetSuffix)) {
        return std::nullopt;
    }
    // "<n>/<what>" between the prefix and "/set"
    const std::string_view middle = topic.substr(prefix.size(), topic.size() - prefix.size() - kSetSuffix.size());
    const auto slash = middle.find('/');
    if (slash == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view number = middle.substr(0, slash);
    const std::string_view what = middle.substr(slash + 1);
    MqttCommandTopic command;
    if (what == "input") {
        command.kind = MqttCommandTopic::Input;
    } else if (what == "audio") {
        command.kind = MqttCommandTopic::Audio;
    } else if (what == "locked") {
        command.kind = MqttCommandTopic::Locked;
    } else {
        return std::nullopt;
    }
    int output = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), output);
    if (number.empty() || error != std::errc{} || end != number.data() + number.size() || !isValidPort(output)) {
        return Parsed{"there is no output '" + std::string(number.substr(0, 16)) + "' (1 to 16)"};
    }
    command.output = output;
    return Parsed{command};
}

} // namespace mc::hub
