#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The hub's topics on an MQTT broker, free of any client library: every
// topic is <base>/<device id>/..., so many hubs share one broker, each under
// the identity of its switcher.
//
//   availability              "online" / "offline" (the broker's last will)
//   link                      {"state": "up", "reason": null, "since": "..."}
//   state                     the whole state, as the HTTP API's JSON
//   output/<n>/input          the input number          .../set: a number or an input's name
//   output/<n>/audio          "on" / "mute"             .../set: the same
//   output/<n>/locked         "true" / "false"          .../set: the same
//   preset/recall             a preset's name (a command)
//   preset/result             the recall's result per output
namespace mc::hub {

inline constexpr std::string_view kDefaultMqttBase = "matrix-hub";
inline constexpr std::string_view kDefaultDiscoveryPrefix = "homeassistant";
// A topic prefix longer than this is a typing error rather than a plan.
inline constexpr std::size_t kMaxTopicPrefixLength = 128;
// The device id also names the device's Home Assistant entities, whose ids
// take letters, digits, '_' and '-' only.
inline constexpr std::size_t kMaxDeviceIdLength = 64;
// A command's payload is a number, a word or a name of at most 40
// characters; anything longer is refused unread.
inline constexpr std::size_t kMaxCommandPayload = 256;

inline constexpr std::string_view kOnline = "online";
inline constexpr std::string_view kOffline = "offline";
inline constexpr std::string_view kLockedTrue = "true";
inline constexpr std::string_view kLockedFalse = "false";

// The device id of a switcher that reported MAC "00:1A:2B:3C:4D:5E":
// "001a2b3c4d5e". nullopt when the text is no MAC address.
[[nodiscard]] std::optional<std::string> deviceIdFromMac(std::string_view mac);

// What is wrong with a device id given by the user (letters, digits, '_' and
// '-', 1 to 64 of them), or nullopt.
[[nodiscard]] std::optional<std::string> deviceIdProblem(std::string_view id);

// What is wrong with a topic prefix (printable ASCII without blanks, no
// wildcard, no empty level, no '/' at either end), or nullopt.
[[nodiscard]] std::optional<std::string> topicPrefixProblem(std::string_view prefix);

// The command an incoming topic asks for.
struct MqttCommandTopic {
    enum Kind { Input, Audio, Locked, Recall };
    Kind kind = Input;
    int output = 0; // 1 to 16; 0 for a recall
};

class MqttTopics {
public:
    MqttTopics(std::string_view base, std::string_view deviceId);

    [[nodiscard]] const std::string& deviceId() const { return deviceId_; }
    // "<base>/<device id>"
    [[nodiscard]] const std::string& root() const { return root_; }

    [[nodiscard]] std::string availability() const { return root_ + "/availability"; }
    [[nodiscard]] std::string link() const { return root_ + "/link"; }
    [[nodiscard]] std::string state() const { return root_ + "/state"; }
    [[nodiscard]] std::string outputInput(int output) const { return outputTopic(output, "input"); }
    [[nodiscard]] std::string outputAudio(int output) const { return outputTopic(output, "audio"); }
    [[nodiscard]] std::string outputLocked(int output) const { return outputTopic(output, "locked"); }
    [[nodiscard]] std::string presetRecall() const { return root_ + "/preset/recall"; }
    [[nodiscard]] std::string presetResult() const { return root_ + "/preset/result"; }
    // ".../set" beside a state topic.
    [[nodiscard]] static std::string setTopic(const std::string& topic) { return topic + "/set"; }

    // The patterns the hub subscribes to for commands.
    [[nodiscard]] std::vector<std::string> commandSubscriptions() const;

    // A command topic of this device: its kind and output; an error message
    // for a command topic naming no output from 1 to 16; nullopt for a topic
    // that is no command of this device.
    using Parsed = std::variant<MqttCommandTopic, std::string>;
    [[nodiscard]] std::optional<Parsed> parseCommand(std::string_view topic) const;

private:
    [[nodiscard]] std::string outputTopic(int output, std::string_view what) const;

    std::string deviceId_;
    std::string root_;
};

} // namespace mc::hub
