#pragma once

#include "mqtt_topics.h"
#include "site/site.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Home Assistant's MQTT discovery for one hub: retained documents under
// <prefix>/<component>/<node id>/<object id>/config that make the switcher
// one device with
//   a select per output (its options are the inputs' names),
//   a switch per output's audio and one per output's lock,
//   a button per preset (pressed: the preset is recalled),
//   a binary_sensor for the link to the switcher,
// each available while the hub is online; the outputs' entities also only
// while the link is up, so a value the switcher cannot confirm is never
// shown as live. An empty retained document removes an entity.
namespace mc::hub {

struct DiscoveryDocument {
    std::string topic;
    std::string payload;
};

struct DiscoverySource {
    const MqttTopics& topics;
    std::string_view prefix; // "homeassistant"
    const Site& site;
    std::string_view mac; // as the switcher reported it; empty when unknown
};

// "matrix_hub_<device id>": the node id of the device's discovery topics.
[[nodiscard]] std::string discoveryNodeId(const MqttTopics& topics);

// A preset's object id: its name folded to lower-case ASCII letters and
// digits, with a hash of the whole name, so two names never share one and
// the same name always gets the same (a deleted preset's button can be found
// again after a restart).
[[nodiscard]] std::string presetObjectId(std::string_view presetName);

// Every document of the device, in a stable order.
[[nodiscard]] std::vector<DiscoveryDocument> discoveryDocuments(const DiscoverySource& source);

// The pattern matching the device's preset buttons, and the object id of one
// of its topics (nullopt for another topic).
[[nodiscard]] std::string presetButtonPattern(std::string_view prefix, const MqttTopics& topics);
[[nodiscard]] std::optional<std::string> presetButtonObjectId(std::string_view prefix, const MqttTopics& topics,
                                                              std::string_view topic);

} // namespace mc::hub
