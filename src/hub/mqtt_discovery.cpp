#include "mqtt_discovery.h"

#include "version.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace mc::hub {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kModel = "16x16 HDMI matrix switcher";
constexpr std::string_view kConfigLevel = "/config";
constexpr std::string_view kPresetObjectPrefix = "preset_";
// Letters and digits of a preset's name kept in its object id, at most.
constexpr std::size_t kPresetSlugLength = 32;

std::string text(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string configTopic(std::string_view prefix, std::string_view component, const std::string& node,
                        std::string_view objectId) {
    return std::string(prefix) + "/" + std::string(component) + "/" + node + "/" + std::string(objectId) +
           std::string(kConfigLevel);
}

// 32-bit FNV-1a of the name as sameSiteName compares it (ASCII case folded).
std::uint32_t foldedHash(std::string_view name) {
    std::uint32_t hash = 2166136261U;
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
        hash *= 16777619U;
    }
    return hash;
}

class Builder {
public:
    explicit Builder(const DiscoverySource& source)
        : source_(source), node_(discoveryNodeId(source.topics)),
          uniquePrefix_("matrix-hub_" + source.topics.deviceId()) {
        device_ = Json{
            {"identifiers", Json::array({uniquePrefix_})},
            {"name", source.site.name().empty() ? "Matrix switcher " + source.topics.deviceId() : source.site.name()},
            {"model", std::string(kModel)},
            {"sw_version", std::string(kVersion)}};
        if (!source.mac.empty()) {
            device_["connections"] = Json::array({Json::array({"mac", lowerCase(source.mac)})});
        }
        hubOnline_ = Json{{"topic", source.topics.availability()},
                          {"payload_available", std::string(kOnline)},
                          {"payload_not_available", std::string(kOffline)}};
        // The link's JSON read as the same two words.
        linkUp_ = Json{{"topic", source.topics.link()},
                       {"value_template", "{{ 'online' if value_json.state == 'up' else 'offline' }}"},
                       {"payload_available", std::string(kOnline)},
                       {"payload_not_available", std::string(kOffline)}};
    }

    std::vector<DiscoveryDocument> build() {
        for (int output = kFirstPort; output <= kLastPort; ++output) {
            outputEntities(output);
        }
        for (const Preset& preset : source_.site.presets()) {
            const std::string objectId = presetObjectId(preset.name);
            add("button", objectId,
                Json{{"name", "Recall " + preset.name},
                     {"command_topic", source_.topics.presetRecall()},
                     {"payload_press", preset.name},
                     {"icon", "mdi:play-box-multiple"}},
                false);
        }
        add("binary_sensor", "link",
            Json{{"name", "Switcher link"},
                 {"state_topic", source_.topics.link()},
                 {"value_template", "{{ 'ON' if value_json.state == 'up' else 'OFF' }}"},
                 {"device_class", "connectivity"},
                 {"entity_category", "diagnostic"}},
            false);
        return std::move(documents_);
    }

private:
    static std::string lowerCase(std::string_view textIn) {
        std::string out(textIn);
        for (char& c : out) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return out;
    }

    void outputEntities(int output) {
        const auto name = source_.site.outputName(output);
        const std::string label = name ? *name : "Output " + std::to_string(output);
        const std::string id = "output_" + std::to_string(output);
        Json options = Json::array();
        Json labels = Json::object();
        for (int input = kFirstPort; input <= kLastPort; ++input) {
            const auto inputName = source_.site.inputName(input);
            // A name is never all digits, so a number left for an unnamed
            // input can never be taken for another input's name.
            options.push_back(inputName ? *inputName : std::to_string(input));
            if (inputName) {
                labels[std::to_string(input)] = *inputName;
            }
        }
        Json select{{"name", label},
                    {"state_topic", source_.topics.outputInput(output)},
                    {"command_topic", MqttTopics::setTopic(source_.topics.outputInput(output))},
                    {"options", std::move(options)},
                    {"icon", "mdi:video-input-hdmi"}};
        if (!labels.empty()) {
            // The topic carries the input's number; the select shows its name.
            select["value_template"] = "{{ " + text(labels) + ".get(value, value) }}";
        }
        add("select", id + "_input", std::move(select), true);
        add("switch", id + "_audio",
            Json{{"name", label + " audio"},
                 {"state_topic", source_.topics.outputAudio(output)},
                 {"command_topic", MqttTopics::setTopic(source_.topics.outputAudio(output))},
                 {"payload_on", "on"},
                 {"payload_off", "mute"},
                 {"state_on", "on"},
                 {"state_off", "mute"},
                 {"icon", "mdi:volume-high"}},
            true);
        add("switch", id + "_locked",
            Json{{"name", label + " locked"},
                 {"state_topic", source_.topics.outputLocked(output)},
                 {"command_topic", MqttTopics::setTopic(source_.topics.outputLocked(output))},
                 {"payload_on", std::string(kLockedTrue)},
                 {"payload_off", std::string(kLockedFalse)},
                 {"state_on", std::string(kLockedTrue)},
                 {"state_off", std::string(kLockedFalse)},
                 {"icon", "mdi:lock"},
                 {"entity_category", "config"}},
            false);
    }

    // Fills in what every entity carries and keeps the document.
    void add(std::string_view component, std::string_view objectId, Json entity, bool needsLink) {
        entity["unique_id"] = uniquePrefix_ + "_" + std::string(objectId);
        entity["object_id"] = node_ + "_" + std::string(objectId);
        if (entity.contains("command_topic")) {
            entity["qos"] = 1;
        }
        if (needsLink) {
            entity["availability"] = Json::array({hubOnline_, linkUp_});
            entity["availability_mode"] = "all";
        } else {
            entity["availability"] = Json::array({hubOnline_});
        }
        entity["device"] = device_;
        documents_.push_back({configTopic(source_.prefix, component, node_, objectId), text(entity)});
    }

    const DiscoverySource& source_;
    std::string node_;
    std::string uniquePrefix_;
    Json device_;
    Json hubOnline_;
    Json linkUp_;
    std::vector<DiscoveryDocument> documents_;
};

} // namespace

std::string discoveryNodeId(const MqttTopics& topics) {
    return "matrix_hub_" + topics.deviceId();
}

std::string presetObjectId(std::string_view presetName) {
    std::string slug;
    for (const char c : presetName) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 && byte < 0x80) {
            if (slug.size() < kPresetSlugLength) {
                slug += static_cast<char>(std::tolower(byte));
            }
        } else if (!slug.empty() && slug.back() != '_' && slug.size() < kPresetSlugLength) {
            slug += '_';
        }
    }
    char hash[9];
    std::snprintf(hash, sizeof hash, "%08x", static_cast<unsigned>(foldedHash(presetName)));
    if (!slug.empty() && slug.back() != '_') {
        slug += '_';
    }
    return std::string(kPresetObjectPrefix) + slug + hash;
}

std::vector<DiscoveryDocument> discoveryDocuments(const DiscoverySource& source) {
    return Builder(source).build();
}

std::string presetButtonPattern(std::string_view prefix, const MqttTopics& topics) {
    return configTopic(prefix, "button", discoveryNodeId(topics), "+");
}

std::optional<std::string> presetButtonObjectId(std::string_view prefix, const MqttTopics& topics,
                                                std::string_view topic) {
    const std::string start = std::string(prefix) + "/button/" + discoveryNodeId(topics) + "/";
    if (!topic.starts_with(start) || !topic.ends_with(kConfigLevel)) {
        return std::nullopt;
    }
    const std::string_view objectId = topic.substr(start.size(), topic.size() - start.size() - kConfigLevel.size());
    if (!objectId.starts_with(kPresetObjectPrefix) || objectId.find('/') != std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(objectId);
}

} // namespace mc::hub
