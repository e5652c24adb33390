// The MQTT client of a hub built without libmosquitto (the Windows cross
// build: Debian has no libmosquitto for MinGW). Every way in says so, so
// --mqtt ends the hub at its start with the reason instead of running
// without the broker the operator asked for.
#include "mqtt_client.h"

namespace mc::hub {

namespace {
constexpr const char* kNoMqtt = "this build of matrix-hub has no MQTT client (it was built without libmosquitto)";
} // namespace

std::unique_ptr<MqttClient> MqttClient::create(MqttConnection /*connection*/, Post /*post*/, Events /*events*/,
                                               std::string& error) {
    error = kNoMqtt;
    return nullptr;
}

// No client is ever made, so these are never reached; they complete the class.
MqttClient::MqttClient(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
MqttClient::~MqttClient() = default;
void MqttClient::start() {}
bool MqttClient::publish(const std::string& /*topic*/, const std::string& /*payload*/, bool /*retained*/) {
    return false;
}
void MqttClient::stop(const std::string& /*lastTopic*/, const std::string& /*lastPayload*/,
                      std::chrono::milliseconds /*grace*/) {}
std::string MqttClient::address() const {
    return {};
}

std::optional<MqttCredentials> readMqttCredentials(const std::string& /*file*/, std::string& error) {
    error = kNoMqtt;
    return std::nullopt;
}

} // namespace mc::hub
