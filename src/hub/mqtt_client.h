#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The hub's connection to an MQTT broker, over libmosquitto.
//
// libmosquitto's connect looks the broker's name up, connects and (with TLS)
// shakes hands, each blocking. So the client runs on one thread of its own:
// it connects, runs the connection, and after a loss waits and tries again
// (0.5 s, doubling, at most 30 s). Everything it learns (connected, lost,
// a message) is posted into the hub's event loop, which is never blocked on
// the broker; publishing from the loop only queues (libmosquitto's threaded
// mode: its own lock, and a wake-up of this thread, which writes).
namespace mc::hub {

struct MqttConnection {
    std::string host;
    std::uint16_t port = 0;
    std::string user; // empty: none
    std::string password;
    std::string caFile; // TLS with this CA file; empty: plain TCP
    std::string clientId;
    // The broker publishes this (retained) when the hub vanishes.
    std::string willTopic;
    std::string willPayload;
    // Subscribed to (QoS 1) on every connection, before `connected` is told.
    std::vector<std::string> subscriptions;
};

struct MqttMessage {
    std::string topic;
    std::string payload;
    bool retained = false;
};

// Messages larger than this are cut to it plus one byte: no command or
// document of this hub comes near it, and a bigger one is refused as such.
inline constexpr std::size_t kMaxMqttMessage = std::size_t{64} * 1024;
// How long the broker waits for a sign of life before it publishes the will.
inline constexpr std::chrono::seconds kMqttKeepAlive{30};
// A connection that stood this long starts its retries from the first wait.
inline constexpr std::chrono::seconds kMqttStableTime{5};

class MqttClient {
public:
    // Runs a function on the event loop's thread (later, never inside the call).
    using Post = std::function<void(std::function<void()>)>;
    struct Events {
        std::function<void()> connected;
        std::function<void(const std::string& reason)> lost; // also: a connection attempt failed
        std::function<void(MqttMessage)> message;
    };

    // Checks the settings (the CA file, the library); nullopt and a client
    // ready to start, or why not.
    static std::unique_ptr<MqttClient> create(MqttConnection connection, Post post, Events events, std::string& error);
    ~MqttClient();
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    void start();
    // Event loop only. Queues a message for the broker (QoS 1); false when
    // the library refused it (not connected).
    bool publish(const std::string& topic, const std::string& payload, bool retained);
    // Publishes the last words (as the will would), says goodbye to the
    // broker and ends the thread, waiting at most `grace` for it (a connect
    // that hangs on an unreachable broker is left to the process's end).
    void stop(const std::string& lastTopic, const std::string& lastPayload, std::chrono::milliseconds grace);

    [[nodiscard]] std::string address() const;

private:
    struct Shared;
    explicit MqttClient(std::shared_ptr<Shared> shared);
    std::shared_ptr<Shared> shared_;
};

// Reads a credentials file: the user name on its first line, the password on
// its second. The error names the file and the system's reason; a file that
// everyone may read is refused, since it holds a password.
struct MqttCredentials {
    std::string user;
    std::string password;
};
[[nodiscard]] std::optional<MqttCredentials> readMqttCredentials(const std::string& file, std::string& error);

} // namespace mc::hub
