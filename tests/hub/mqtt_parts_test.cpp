#include "hub_options.h"
#include "link/commands.h"
#include "mqtt_bridge.h"
#include "mqtt_client.h"
#include "mqtt_discovery.h"
#include "mqtt_topics.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace mc::hub {
namespace {

TEST(MqttTopicsTest, DeviceIdsComeFromTheMacOrAreCheckedWhenGiven) {
    EXPECT_EQ(deviceIdFromMac("00:1A:2B:3C:4D:5E"), "001a2b3c4d5e");
    EXPECT_EQ(deviceIdFromMac("00-1a-2b-3c-4d-5e"), "001a2b3c4d5e");
    EXPECT_EQ(deviceIdFromMac("00:1A:2B:3C:4D"), std::nullopt);
    EXPECT_EQ(deviceIdFromMac("00:1A:2B:3C:4D:5G"), std::nullopt);
    EXPECT_EQ(deviceIdProblem("room-101_a"), std::nullopt);
    for (const std::string& bad :
         std::vector<std::string>{"", "room/101", "room+", "a#", "room 1", std::string(65, 'a')}) {
        EXPECT_NE(deviceIdProblem(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(topicPrefixProblem("site/av"), std::nullopt);
    for (const std::string& bad :
         std::vector<std::string>{"", "/av", "av/", "a//b", "a/+", "a#", "a b", std::string(129, 'a')}) {
        EXPECT_NE(topicPrefixProblem(bad), std::nullopt) << bad;
    }
}

TEST(MqttTopicsTest, OnlyThisDevicesCommandTopicsAreCommandsAndTheirOutputIsChecked) {
    const MqttTopics topics("matrix-hub", "abc");
    EXPECT_EQ(topics.outputInput(3), "matrix-hub/abc/output/3/input");
    const auto input = topics.parseCommand("matrix-hub/abc/output/16/input/set");
    ASSERT_TRUE(input && std::holds_alternative<MqttCommandTopic>(*input));
    EXPECT_EQ(std::get<MqttCommandTopic>(*input).kind, MqttCommandTopic::Input);
    EXPECT_EQ(std::get<MqttCommandTopic>(*input).output, 16);
    EXPECT_EQ(std::get<MqttCommandTopic>(*topics.parseCommand("matrix-hub/abc/output/1/locked/set")).kind,
              MqttCommandTopic::Locked);
    EXPECT_EQ(std::get<MqttCommandTopic>(*topics.parseCommand("matrix-hub/abc/preset/recall")).kind,
              MqttCommandTopic::Recall);
    for (const char* bad : {"matrix-hub/abc/output/0/input/set", "matrix-hub/abc/output/17/audio/set",
                            "matrix-hub/abc/output/03x/input/set", "matrix-hub/abc/output//input/set"}) {
        const auto parsed = topics.parseCommand(bad);
        ASSERT_TRUE(parsed) << bad;
        EXPECT_TRUE(std::holds_alternative<std::string>(*parsed)) << bad;
    }
    for (const char* other : {"matrix-hub/abc/output/3/input", "matrix-hub/abd/output/3/input/set",
                              "matrix-hub/abc/output/3/volume/set", "matrix-hub/abc/preset/result"}) {
        EXPECT_FALSE(topics.parseCommand(other)) << other;
    }
}

TEST(MqttOptionsTest, TheBrokerIsHostAndPortAndItsOptionsNeedIt) {
    std::vector<std::string_view> args{"--link", "COM1",        "--mqtt",  "broker.lan:1883", "--device-id",
                                       "room-1", "--mqtt-base", "site/av", "--no-discovery"};
    const auto parsed = parseHubOptions(args);
    ASSERT_TRUE(std::holds_alternative<HubOptions>(parsed)) << std::get<std::string>(parsed);
    const MqttOptions& mqtt = *std::get<HubOptions>(parsed).mqtt;
    EXPECT_EQ(mqtt.host, "broker.lan");
    EXPECT_EQ(mqtt.port, 1883);
    EXPECT_EQ(mqtt.deviceId, "room-1");
    EXPECT_EQ(mqtt.base, "site/av");
    EXPECT_EQ(mqtt.discoveryPrefix, "");

    const auto defaults = parseHubOptions(std::vector<std::string_view>{"--link", "COM1", "--mqtt", "[::1]:8883"});
    const MqttOptions& plain = *std::get<HubOptions>(defaults).mqtt;
    EXPECT_EQ(plain.host, "::1");
    EXPECT_EQ(plain.base, "matrix-hub");
    EXPECT_EQ(plain.discoveryPrefix, "homeassistant");
    EXPECT_EQ(std::get<HubOptions>(parseHubOptions(std::vector<std::string_view>{"--link", "COM1"})).mqtt,
              std::nullopt);

    for (const auto& bad : std::vector<std::vector<std::string_view>>{
             {"--link", "COM1", "--mqtt", "broker.lan"},
             {"--link", "COM1", "--mqtt", "COM3"},
             {"--link", "COM1", "--device-id", "room-1"},
             {"--link", "COM1", "--mqtt-ca", "ca.pem"},
             {"--link", "COM1", "--mqtt", "h:1", "--device-id", "a/b"},
             {"--link", "COM1", "--mqtt", "h:1", "--discovery-prefix", "home/#"}}) {
        const auto refused = parseHubOptions(bad);
        ASSERT_TRUE(std::holds_alternative<std::string>(refused)) << bad.back();
    }
    const auto lonely = parseHubOptions(std::vector<std::string_view>{"--link", "COM1", "--mqtt-ca", "ca.pem"});
    EXPECT_NE(std::get<std::string>(lonely).find("--mqtt-ca needs --mqtt"), std::string::npos);
}

TEST(MqttDiscoveryTest, PresetObjectIdsAreStableAcrossCaseAndNeverShared) {
    EXPECT_EQ(presetObjectId("Quiz Night"), presetObjectId("quiz night"));
    EXPECT_NE(presetObjectId("A b"), presetObjectId("A_b"));
    EXPECT_NE(presetObjectId("Über"), presetObjectId("Ober"));
    const std::string id = presetObjectId("Quiz Night / Bühne");
    EXPECT_TRUE(id.starts_with("preset_quiz_night_b_hne_")) << id;
    EXPECT_EQ(id.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_"), std::string::npos) << id;
    const MqttTopics topics("matrix-hub", "abc");
    const std::string topic = "homeassistant/button/matrix_hub_abc/" + id + "/config";
    EXPECT_EQ(presetButtonObjectId("homeassistant", topics, topic), id);
    EXPECT_EQ(presetButtonObjectId("homeassistant", topics, "homeassistant/button/matrix_hub_abd/" + id + "/config"),
              std::nullopt);
    EXPECT_EQ(presetButtonObjectId("homeassistant", topics, "homeassistant/switch/matrix_hub_abc/link/config"),
              std::nullopt);
}

TEST(MqttDiscoveryTest, TheSelectShowsNamesWhileItsTopicCarriesNumbers) {
    Site site;
    ASSERT_TRUE(site.updateNames({{{5, "Lectern \"PC\""}}, {{3, "Projector"}}}).ok());
    ASSERT_TRUE(site.setName("Hall 2").ok());
    const MqttTopics topics("matrix-hub", "abc");
    const auto documents = discoveryDocuments({topics, "ha", site, "00:1A:2B:3C:4D:5E"});
    const auto found = std::find_if(documents.begin(), documents.end(), [](const DiscoveryDocument& d) {
        return d.topic == "ha/select/matrix_hub_abc/output_3_input/config";
    });
    ASSERT_NE(found, documents.end());
    const auto select = nlohmann::json::parse(found->payload);
    EXPECT_EQ(select["name"], "Projector");
    EXPECT_EQ(select["options"][4], "Lectern \"PC\"");
    EXPECT_EQ(select["options"][5], "6");
    EXPECT_EQ(select["value_template"], R"({{ {"5":"Lectern \"PC\""}.get(value, value) }})");
    EXPECT_EQ(select["device"]["name"], "Hall 2");
    EXPECT_EQ(select["device"]["connections"][0][1], "00:1a:2b:3c:4d:5e");
    EXPECT_EQ(select["availability_mode"], "all");
}

// A bridge over a real switchboard whose link and broker are recorded.
class MqttBridgeTest : public ::testing::Test, public SwitchboardWires {
protected:
    struct Published {
        std::string topic;
        std::string payload;
        bool retained;
    };

    bool writeToLink(std::string_view bytes) override {
        link.emplace_back(bytes);
        return true;
    }
    void writeToClient(ClientId /*client*/, std::string_view /*bytes*/) override {}

    void SetUp() override {
        MqttBridge::Wires wires;
        wires.publish = [this](const std::string& topic, const std::string& payload, bool retained) {
            published.push_back({topic, payload, retained});
        };
        wires.saveSite = [this](const Site& /*next*/) -> std::optional<std::string> {
            ++saves;
            return saveFailure;
        };
        wires.siteChanged = [this] { ++siteChanges; };
        board.useSite(&site);
        bridge =
            std::make_unique<MqttBridge>(board, status, "127.0.0.1:5000", site,
                                         MqttBridgeSettings{"matrix-hub", "abc", "homeassistant"}, std::move(wires));
        board.linkUp(now);
        status.state = LinkStatus::Up;
        std::string lines;
        for (int port = 1; port <= 16; ++port) {
            lines += "OUT" + std::to_string(port) + " VS IN1\r\nOUT" + std::to_string(port) + " EXA EN\r\n";
        }
        board.linkBytes(lines + "MAC 00:1A:2B:3C:4D:5E\r\n", now);
        link.clear();
    }

    std::vector<Published> take() { return std::exchange(published, {}); }
    static std::optional<Published> find(const std::vector<Published>& list, const std::string& topic) {
        for (const auto& item : list) {
            if (item.topic == topic) {
                return item;
            }
        }
        return std::nullopt;
    }
    void send(const std::string& topic, const std::string& payload, bool retained = false) {
        bridge->message("matrix-hub/abc/" + topic, payload, retained);
    }

    SteadyClock::time_point now = SteadyClock::now();
    Switchboard board{*this};
    LinkStatus status;
    Site site;
    std::unique_ptr<MqttBridge> bridge;
    std::vector<std::string> link;
    std::vector<Published> published;
    std::optional<std::string> saveFailure;
    int saves = 0;
    int siteChanges = 0;
};

TEST_F(MqttBridgeTest, EachConnectionPublishesEverythingRetainedAndThenOnlyWhatChanged) {
    bridge->update();
    EXPECT_TRUE(take().empty()); // not connected: nothing
    bridge->connected();
    auto first = take();
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first[0].topic, "matrix-hub/abc/availability");
    EXPECT_EQ(first[0].payload, "online");
    for (const char* topic : {"matrix-hub/abc/state", "matrix-hub/abc/link", "matrix-hub/abc/output/16/input",
                              "matrix-hub/abc/output/16/audio", "matrix-hub/abc/output/16/locked",
                              "homeassistant/binary_sensor/matrix_hub_abc/link/config"}) {
        const auto item = find(first, topic);
        ASSERT_TRUE(item) << topic;
        EXPECT_TRUE(item->retained) << topic;
    }
    bridge->update();
    EXPECT_TRUE(take().empty());

    // A poll that finds everything as it was changes only times: silence.
    board.linkBytes("OUT3 VS IN1\r\n", now + std::chrono::seconds(10));
    bridge->update();
    EXPECT_TRUE(take().empty());

    board.linkBytes("OUT3 VS IN7\r\n", now);
    bridge->update();
    const auto change = take();
    ASSERT_EQ(change.size(), 2U);
    EXPECT_EQ(change[0].topic, "matrix-hub/abc/state");
    EXPECT_EQ(change[1].topic, "matrix-hub/abc/output/3/input");
    EXPECT_EQ(change[1].payload, "7");

    bridge->disconnected();
    bridge->connected();
    EXPECT_EQ(take().size(), first.size());
}

TEST_F(MqttBridgeTest, SetsGoToTheLineUnlessRetainedLockedOrMalformed) {
    bridge->connected();
    take();
    send("output/3/input/set", "5", true);
    send("output/3/input/set", "17");
    send("output/3/audio/set", "off");
    send("output/18/input/set", "2");
    EXPECT_TRUE(link.empty());

    send("output/3/input/set", " 5 ");
    send("output/4/audio/set", "MUTE");
    EXPECT_EQ(link, (std::vector<std::string>{std::string(routingCommand(3, 5)->bytes()),
                                              std::string(audioCommand(4, AudioState::Mute)->bytes())}));
    link.clear();

    send("output/6/locked/set", "true");
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(siteChanges, 1);
    EXPECT_TRUE(site.isLocked(6));
    const auto locked = find(take(), "matrix-hub/abc/output/6/locked");
    ASSERT_TRUE(locked);
    EXPECT_EQ(locked->payload, "true");
    send("output/6/input/set", "2");
    EXPECT_TRUE(link.empty());

    // A lock the site file cannot keep is not taken.
    saveFailure = "disk full";
    send("output/7/locked/set", "true");
    EXPECT_FALSE(site.isLocked(7));
    EXPECT_FALSE(find(take(), "matrix-hub/abc/output/7/locked"));
}

TEST_F(MqttBridgeTest, ARecallReportsOnTheResultTopicAndADeletedPresetLosesItsButton) {
    ASSERT_TRUE(site.savePreset({"Lecture", {{2, 4, std::nullopt}}}).ok());
    bridge->connected();
    const std::string button = "homeassistant/button/matrix_hub_abc/" + presetObjectId("Lecture") + "/config";
    ASSERT_TRUE(find(take(), button));

    send("preset/recall", "LECTURE");
    ASSERT_EQ(link, std::vector<std::string>{std::string(routingCommand(2, 4)->bytes())});
    board.linkBytes("OUT2 VS IN4\r\n", now);
    const auto result = find(take(), "matrix-hub/abc/preset/result");
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->retained);
    const auto report = nlohmann::json::parse(result->payload);
    EXPECT_EQ(report["outputs"][0]["result"], "applied");

    // A button of a preset deleted while the hub was away comes back from
    // the broker retained and is removed; the current one stays.
    const std::string stale = "homeassistant/button/matrix_hub_abc/" + presetObjectId("Old") + "/config";
    bridge->message(stale, "{}", true);
    bridge->message(button, "{}", true);
    auto removals = take();
    ASSERT_EQ(removals.size(), 1U);
    EXPECT_EQ(removals[0].topic, stale);
    EXPECT_EQ(removals[0].payload, "");

    ASSERT_TRUE(site.deletePreset("Lecture").ok());
    bridge->update();
    const auto gone = find(take(), button);
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->payload, "");
    EXPECT_TRUE(gone->retained);
}

#ifdef _WIN32
// The Windows hub has no MQTT client: --mqtt must stop it with the reason, not
// leave it running without the broker.
TEST(MqttClientTest, AHubBuiltWithoutTheClientRefusesWithTheReason) {
    std::string error;
    EXPECT_FALSE(MqttClient::create({}, {}, {}, error));
    EXPECT_NE(error.find("no MQTT client"), std::string::npos) << error;
    EXPECT_FALSE(readMqttCredentials("credentials", error));
    EXPECT_NE(error.find("no MQTT client"), std::string::npos) << error;
}
#else
class CredentialsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/hub-mqtt-XXXXXX";
        directory = ::mkdtemp(pattern);
        file = (directory / "credentials").string();
    }
    void TearDown() override { std::filesystem::remove_all(directory); }
    void write(const std::string& text, mode_t mode) {
        std::ofstream(file, std::ios::binary) << text;
        ::chmod(file.c_str(), mode);
    }

    std::filesystem::path directory;
    std::string file;
    std::string error;
};

TEST_F(CredentialsFileTest, UserAndPasswordOnTwoLinesFromAFileOthersCannotRead) {
    write("hub\r\npass word\r\n", 0640);
    const auto read = readMqttCredentials(file, error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(read->user, "hub");
    EXPECT_EQ(read->password, "pass word");

    write("hub\npass\n", 0644);
    EXPECT_FALSE(readMqttCredentials(file, error));
    EXPECT_NE(error.find("644"), std::string::npos) << error;
    write("\npass\n", 0600);
    EXPECT_FALSE(readMqttCredentials(file, error));
    write(std::string(5000, 'a'), 0600);
    EXPECT_FALSE(readMqttCredentials(file, error));
    EXPECT_FALSE(readMqttCredentials((directory / "missing").string(), error));
    EXPECT_NE(error.find("missing"), std::string::npos) << error;
}
#endif

} // namespace
} // namespace mc::hub
