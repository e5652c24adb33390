#pragma once

#include "link_owner.h"
#include "mqtt_topics.h"
#include "site/site.h"
#include "state_json.h"
#include "switchboard.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// The hub on an MQTT broker, free of any client library: what to publish
// when (the state as it changes, everything again on each connection, Home
// Assistant's discovery as names and presets change), and what an incoming
// command does. The event loop feeds it and carries out its publications.
namespace mc::hub {

struct MqttBridgeSettings {
    std::string base = std::string(kDefaultMqttBase);
    std::string deviceId;
    // Home Assistant's discovery prefix; empty: no discovery.
    std::string discoveryPrefix = std::string(kDefaultDiscoveryPrefix);
};

class MqttBridge {
public:
    struct Wires {
        // Publishes with QoS 1.
        std::function<void(const std::string& topic, const std::string& payload, bool retained)> publish;
        // Writes the site file; nullopt when saved, else why not. Empty: the
        // hub has no site file, a change lives until the hub stops.
        std::function<std::optional<std::string>(const Site&)> saveSite;
        // A change of the site (a lock) was taken: the other interfaces follow.
        std::function<void()> siteChanged;
    };

    MqttBridge(Switchboard& board, const LinkStatus& link, std::string linkAddress, Site& site,
               MqttBridgeSettings settings, Wires wires);

    [[nodiscard]] const MqttTopics& topics() const { return topics_; }
    // Every pattern to subscribe to on each connection (QoS 1).
    [[nodiscard]] std::vector<std::string> subscriptions() const;

    // A (re)connection: everything retained is published again, as the
    // broker may have lost it.
    void connected();
    void disconnected();
    [[nodiscard]] bool isConnected() const { return connected_; }

    // Publishes what changed since the last call: the state, an output's
    // values, the link, the discovery documents when names or presets
    // changed.
    void update();

    // A message from the broker. A retained command is stale by nature (it
    // was left on the broker earlier) and is never acted upon.
    void message(const std::string& topic, const std::string& payload, bool retained);

private:
    void publishRetained(const std::string& topic, const std::string& payload);
    void publishState();
    void publishDiscovery();
    void command(const MqttCommandTopic& target, const std::string& topic, std::string_view payload);
    void setInput(int output, std::string_view payload);
    void setAudio(int output, std::string_view payload);
    void setLocked(int output, std::string_view payload);
    void recall(std::string_view payload);
    void publishRecallError(std::string_view preset, std::string_view code, const std::string& message);
    void staleButton(const std::string& topic, const std::string& payload);

    Switchboard& board_;
    const LinkStatus& link_;
    std::string linkAddress_;
    Site& site_;
    MqttBridgeSettings settings_;
    MqttTopics topics_;
    Wires wires_;
    bool connected_ = false;
    // What each retained topic last carried on this connection; the state's
    // entry leaves the confirmation times out, which alone are no change.
    std::map<std::string, std::string> published_;
    // The site the discovery documents and names were last built from.
    std::optional<Site> discoverySite_;
    std::string discoveryMac_;
    PortNames names_;
    // Preset buttons published (their config topics).
    std::set<std::string> buttons_;
};

} // namespace mc::hub
