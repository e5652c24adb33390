#include "state_json.h"

#include <gtest/gtest.h>
#include <string>

namespace mc::hub {
namespace {

class NoWires final : public SwitchboardWires {
public:
    bool writeToLink(std::string_view /*bytes*/) override { return true; }
    void writeToClient(ClientId /*client*/, std::string_view /*bytes*/) override {}
};

std::string statusAnswer() {
    std::string lines;
    for (int port = 1; port <= 16; ++port) {
        lines += "OUT" + std::to_string(port) + " VS IN" + std::to_string(17 - port) + "\r\n";
    }
    for (int port = 1; port <= 16; ++port) {
        lines += "IN" + std::to_string(port) + " EDID " + std::to_string(port + 1) + "\r\n";
    }
    lines += "HIP 192.168.000.100\r\nNMK 255.255.255.000\r\nRIP 192.168.000.001\r\nTIP 5000\r\n";
    lines += "MAC 00:1A:2B:3C:4D:5E\r\nDHCP 0\r\n";
    for (int port = 1; port <= 16; ++port) {
        lines += "OUT" + std::to_string(port) + (port == 2 ? " EXA DIS\r\n" : " EXA EN\r\n");
    }
    return lines;
}

class StateJsonTest : public ::testing::Test {
protected:
    Json state() const { return stateJson(StateView{board, link, "/dev/ttyUSB0", names}); }

    void bringUp() {
        link.state = LinkStatus::Up;
        board.linkUp(SteadyClock::now());
        board.linkBytes(statusAnswer(), SteadyClock::now());
    }

    NoWires wires;
    Switchboard board{wires};
    LinkStatus link;
    PortNames names;
};

TEST_F(StateJsonTest, BeforeAnyReportEveryValueIsNullAndTheStateStale) {
    link.state = LinkStatus::Down;
    link.reason = "/dev/ttyUSB0: No such file or directory";
    const Json json = state();
    EXPECT_EQ(json["link"]["state"], "down");
    EXPECT_EQ(json["link"]["reason"], link.reason);
    EXPECT_EQ(json["link"]["address"], "/dev/ttyUSB0");
    EXPECT_TRUE(json["stale"].get<bool>());
    ASSERT_EQ(json["outputs"].size(), 16U);
    ASSERT_EQ(json["inputs"].size(), 16U);
    EXPECT_TRUE(json["outputs"][0]["input"].is_null());
    EXPECT_TRUE(json["outputs"][0]["audio"].is_null());
    EXPECT_TRUE(json["outputs"][0]["confirmed_at"].is_null());
    EXPECT_TRUE(json["inputs"][0]["edid"]["item"].is_null());
    EXPECT_TRUE(json["network"]["host"].is_null());
}

TEST_F(StateJsonTest, AStatusAnswerFillsEveryPortInTheSwitchersNumbers) {
    bringUp();
    const Json json = state();
    EXPECT_FALSE(json["stale"].get<bool>());
    EXPECT_EQ(json["link"]["state"], "up");
    EXPECT_TRUE(json["link"]["reason"].is_null());
    const Json& third = json["outputs"][2];
    EXPECT_EQ(third["output"], 3);
    EXPECT_EQ(third["input"], 14);
    EXPECT_EQ(third["audio"], "on");
    EXPECT_EQ(json["outputs"][1]["audio"], "mute");
    EXPECT_EQ(third["locked"], false);
    EXPECT_TRUE(third["name"].is_null());
    EXPECT_TRUE(third["confirmed_at"].is_string());
    EXPECT_EQ(json["inputs"][4]["input"], 5);
    EXPECT_EQ(json["inputs"][4]["edid"]["item"], 6);
    EXPECT_EQ(json["network"]["host"], "192.168.0.100");
    EXPECT_EQ(json["network"]["net_mask"], "255.255.255.0");
    EXPECT_EQ(json["network"]["tcp_port"], "5000");
    EXPECT_EQ(json["network"]["dhcp"], false);
}

TEST_F(StateJsonTest, ALostLinkKeepsTheValuesButMarksThemStale) {
    bringUp();
    board.linkDown("read failed: Input/output error");
    link.state = LinkStatus::Down;
    const Json json = state();
    EXPECT_TRUE(json["stale"].get<bool>());
    EXPECT_EQ(json["outputs"][2]["input"], 14);
}

TEST_F(StateJsonTest, AReturningLinkIsStaleUntilTheStatusIsAnsweredAgain) {
    bringUp();
    board.linkDown("gone");
    board.linkUp(SteadyClock::now() + std::chrono::seconds(1));
    link.state = LinkStatus::Up;
    EXPECT_TRUE(state()["stale"].get<bool>());
}

TEST_F(StateJsonTest, NamesAndLocksShowBesideTheNumbers) {
    bringUp();
    names.outputs[2] = "Projector";
    names.inputs[4] = "Lectern PC";
    Site site;
    ASSERT_TRUE(site.setLocked(3, true).ok());
    board.useSite(&site);
    const Json json = state();
    EXPECT_EQ(json["outputs"][2]["name"], "Projector");
    EXPECT_EQ(json["outputs"][2]["locked"], true);
    EXPECT_EQ(json["outputs"][3]["locked"], false);
    EXPECT_EQ(json["inputs"][4]["name"], "Lectern PC");
}

TEST(PortNamesTest, TakenFromTheSite) {
    Site site;
    ASSERT_TRUE(site.updateNames({{{5, "Lectern PC"}}, {{3, "Projector"}}}).ok());
    const PortNames names = portNamesOf(site);
    EXPECT_EQ(names.input(5), "Lectern PC");
    EXPECT_EQ(names.output(3), "Projector");
    EXPECT_EQ(names.input(3), "");
}

TEST(IsoTimeTest, UtcWithMilliseconds) {
    const auto at = WallClock::time_point(std::chrono::milliseconds(1796729201123LL));
    EXPECT_EQ(isoTime(at), "2026-12-08T11:26:41.123Z");
}

} // namespace
} // namespace mc::hub
