// Front-panel changes and the faults a test switches on: control lines
// parsed and carried out, and what the command handling does with them.
#include "sim/front_panel.h"
#include "sim/session.h"

#include <gtest/gtest.h>

namespace mc::sim {
namespace {

PanelCommand parsed(std::string_view line) {
    std::string error;
    const auto command = parsePanelCommand(line, error);
    EXPECT_TRUE(command) << line << ": " << error;
    return command.value_or(PanelCommand{PanelRoute{0, 0}});
}

TEST(FrontPanel, controlLinesChangeStateAndFaultsAndSayWhat) {
    SwitcherState state;
    ReplyFaults faults;
    EXPECT_EQ(applyPanelCommand(parsed("route 3 5"), state, faults), "OUT3 VS IN5");
    EXPECT_EQ(state.routedInput(3), 5);
    EXPECT_EQ(applyPanelCommand(parsed("  ROUTE\t16  1 "), state, faults), "OUT16 VS IN1");
    EXPECT_EQ(state.routedInput(16), 1);

    EXPECT_EQ(applyPanelCommand(parsed("audio 3 mute"), state, faults), "OUT3 EXA DIS");
    EXPECT_FALSE(state.audioOn(3));
    EXPECT_EQ(applyPanelCommand(parsed("Audio 3 on"), state, faults), "OUT3 EXA EN");
    EXPECT_TRUE(state.audioOn(3));
    applyPanelCommand(parsed("audio 7 off"), state, faults);
    EXPECT_FALSE(state.audioOn(7));
    applyPanelCommand(parsed("audio 7 unmute"), state, faults);
    EXPECT_TRUE(state.audioOn(7));

    EXPECT_EQ(applyPanelCommand(parsed("unanswered 4"), state, faults), "route commands to OUT4 go unanswered");
    EXPECT_TRUE(faults.routeUnanswered(4));
    EXPECT_FALSE(faults.routeUnanswered(5));
    EXPECT_EQ(applyPanelCommand(parsed("answered 4"), state, faults), "route commands to OUT4 are answered");
    EXPECT_FALSE(faults.routeUnanswered(4));
}

TEST(FrontPanel, malformedLinesAreRefusedWithAReasonAndChangeNothing) {
    const std::string_view bad[] = {
        "",
        "route",
        "route 3",
        "route 0 5",
        "route 3 17",
        "route 3 5 7",
        "route 3 x",
        "route -3 5",
        "route 3 +5",
        "audio 3",
        "audio 3 loud",
        "audio 17 on",
        "unanswered",
        "unanswered 0",
        "answered 4 5",
        "reboot",
        "routes 3 5",
        "route\x1b 3 5",
        std::string_view("route 3\0 5", 10),
    };
    for (const auto line : bad) {
        std::string error;
        EXPECT_FALSE(parsePanelCommand(line, error)) << line;
        EXPECT_FALSE(error.empty()) << line;
    }
    std::string error;
    EXPECT_FALSE(parsePanelCommand("route 3 5" + std::string(300, ' '), error));
    EXPECT_NE(error.find("longer than"), std::string::npos) << error;
}

std::string allReplies(const SessionOutput& out) {
    std::string text;
    for (const auto& exchange : out.exchanges) {
        text += exchange.reply;
    }
    return text;
}

// A route command to a marked output is lost: not carried out, not answered,
// on every line that shares the faults; everything else is served as usual.
TEST(FrontPanel, routeCommandsToAnUnansweredOutputAreLostOnEveryLine) {
    SwitcherState state;
    ReplyFaults faults;
    faults.unansweredRoutes.at(3) = true; // output 4
    SessionOptions options;
    options.faults = &faults;
    Session serial(options, &state);
    Session client(options, &state);

    EXPECT_EQ(allReplies(serial.receive("\r\nSET OUT4  VS IN9 \r\n")), "");
    EXPECT_EQ(allReplies(client.receive("SET OUT4  VS IN2 \r\n")), "");
    EXPECT_EQ(state.routedInput(4), 4);
    EXPECT_EQ(allReplies(client.receive("SET OUT5  VS IN2 \r\nSET OUT4  EXA DIS\r\n")),
              "OUT5 VS IN2\r\nOUT4 EXA DIS\r\n");
    EXPECT_EQ(state.routedInput(5), 2);
    // A malformed line still gets its error, whatever output it names.
    EXPECT_EQ(allReplies(serial.receive("SET OUT4 VS IN2\r\n")), "ERROR\r\n");

    faults.unansweredRoutes.at(3) = false;
    EXPECT_EQ(allReplies(serial.receive("SET OUT4  VS IN9 \r\n")), "OUT4 VS IN9\r\n");
    EXPECT_EQ(state.routedInput(4), 9);
}

} // namespace
} // namespace mc::sim
