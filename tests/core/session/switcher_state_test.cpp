#include "session/reply_parser.h"
#include "session/switcher_state.h"
#include "support/recording_target.h"

#include <gtest/gtest.h>

namespace mc {
namespace {

using namespace std::chrono_literals;
using Time = std::chrono::steady_clock::time_point;

class SwitcherStateTest : public testing::Test {
protected:
    void report(std::string_view line) { state.apply(decodeReply(line)); }

    // A full answer to the status query, as the switcher sends it.
    void reportEverything() {
        for (int port = kFirstPort; port <= kLastPort; ++port) {
            const std::string p = std::to_string(port);
            report("OUT" + p + " VS IN" + std::to_string(kLastPort + 1 - port) + "\r\n");
            report("IN" + p + " EDID " + std::to_string(port % 10) + "\r\n");
            report("OUT" + p + (port % 2 == 0 ? " EXA EN\r\n" : " EXA DIS\r\n"));
        }
        report("MAC 00-11-22-33-44-55\r\n");
        report("HIP 192.168.000.100\r\n");
        report("NMK 255.255.255.000\r\n");
        report("RIP 192.168.000.001\r\n");
        report("TIP 5000\r\n");
        report("DHCP 0\r\n");
    }

    Time now{std::chrono::seconds(1000)};
    SwitcherState state{[this] { return now; }};
};

TEST_F(SwitcherStateTest, aStatusDumpFillsEveryValueWithItsTime) {
    EXPECT_FALSE(state.complete());
    EXPECT_EQ(state.missing(), "routes, EDID choices, network settings, audio states");
    reportEverything();
    ASSERT_TRUE(state.complete());
    EXPECT_EQ(state.missing(), "");
    EXPECT_EQ(state.route(1)->value, 15);
    EXPECT_EQ(state.route(16)->value, 0);
    EXPECT_EQ(state.edidChoice(12)->value, 2);
    EXPECT_EQ(state.audio(2)->value, AudioState::On);
    EXPECT_EQ(state.audio(3)->value, AudioState::Mute);
    EXPECT_EQ(state.hostAddress()->value, 0xC0A80064U);
    EXPECT_EQ(state.netMask()->value, 0xFFFFFF00U);
    EXPECT_EQ(state.routerAddress()->value, 0xC0A80001U);
    EXPECT_EQ(state.tcpPort()->value, "5000");
    EXPECT_EQ(state.mac()->value, "00-11-22-33-44-55");
    EXPECT_FALSE(state.dhcp()->value);
    EXPECT_EQ(state.route(7)->reportedAt, now);
    EXPECT_FALSE(state.route(7)->stale);
    // Outside the switcher's ports there is nothing, never a neighbour's value.
    EXPECT_FALSE(state.route(0));
    EXPECT_FALSE(state.audio(17));
    EXPECT_FALSE(state.edidChoice(-1));
}

TEST_F(SwitcherStateTest, aReplyForAllPortsSetsEachOfThemAndBadFieldsAreNone) {
    report("OUT0 VS IN3\r\n");
    for (int output = kFirstPort; output <= kLastPort; ++output) {
        ASSERT_TRUE(state.route(output)) << output;
        EXPECT_EQ(state.route(output)->value, 2);
    }
    now += 5s;
    // Output 4 shows no usable input: reported as none, not left as it was.
    report("OUT4 VS INx\r\n");
    ASSERT_TRUE(state.route(4));
    EXPECT_EQ(state.route(4)->value, std::nullopt);
    EXPECT_EQ(state.route(4)->reportedAt, now);
    EXPECT_EQ(state.route(5)->reportedAt, now - 5s);
    // Lines that report nothing change nothing.
    report("EXADL 3\r\nVIDEO 0\r\nERROR\r\n");
    EXPECT_FALSE(state.audio(3));
}

TEST_F(SwitcherStateTest, aLostLinkLeavesEveryValueStaleUntilItIsReportedAgain) {
    reportEverything();
    now += 1s;
    state.linkLost();
    EXPECT_TRUE(state.complete()) << "the last known values stay";
    EXPECT_TRUE(state.route(3)->stale);
    EXPECT_TRUE(state.tcpPort()->stale);
    EXPECT_TRUE(state.audio(16)->stale);

    now += 1s;
    report("OUT3 VS IN9\r\n");
    report("TIP 5001\r\n");
    EXPECT_FALSE(state.route(3)->stale);
    EXPECT_EQ(state.route(3)->value, 8);
    EXPECT_EQ(state.route(3)->reportedAt, now);
    EXPECT_FALSE(state.tcpPort()->stale);
    EXPECT_TRUE(state.route(4)->stale);
    EXPECT_TRUE(state.mac()->stale);

    state.clear();
    EXPECT_FALSE(state.route(3));
    EXPECT_FALSE(state.networkComplete());
}

// The parser tells the state model what it shows on the pages, as one more view.
TEST_F(SwitcherStateTest, theReplyParserFeedsItBesideThePages) {
    test::RecordingTarget target;
    ReplyViews views = target.views();
    views.reports = &state;
    ConsoleState console;
    ReplyParser parser(console, views);
    parser.handleLine("OUT5 VS IN2\r\n");
    parser.handleLine("IN0 EDID 7\r\n");
    parser.handleLine("DHCP 1\r\n");
    EXPECT_EQ(target.calls.front(), "setOutputSelection(5,1)");
    EXPECT_EQ(state.route(5)->value, 1);
    EXPECT_EQ(state.edidChoice(16)->value, 7);
    EXPECT_TRUE(state.dhcp()->value);
    EXPECT_FALSE(state.networkComplete());
}

} // namespace
} // namespace mc
