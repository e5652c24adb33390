#include "session/reply_parser.h"
#include "support/recording_target.h"

#include <gtest/gtest.h>

namespace mc {
namespace {

using test::forAllPorts;
using test::RecordingTarget;
using Calls = std::vector<std::string>;

Calls concat(Calls a, const Calls& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct LineCase {
    const char* name;
    std::string line;
    Calls calls;
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

class ReplyLineEffects : public testing::TestWithParam<LineCase> {};

TEST_P(ReplyLineEffects, lineMakesExactlyTheseCalls) {
    ConsoleState state;
    RecordingTarget target;
    ReplyParser parser(state, target.views());
    parser.handleLine(GetParam().line);
    EXPECT_EQ(target.calls, GetParam().calls) << "line: " << testing::PrintToString(GetParam().line);
}

const LineCase kRoutingCases[] = {
    {"oneDigitOutput", "OUT3 VS IN5\r\n", {"setOutputSelection(3,4)", "redrawRouting"}},
    {"twoDigitOutputAndInput", "OUT12 VS IN16\r\n", {"setOutputSelection(12,15)", "redrawRouting"}},
    {"inputTen", "OUT9 VS IN10\r\n", {"setOutputSelection(9,9)", "redrawRouting"}},
    {"allOutputs", "OUT0 VS IN2\r\n", concat(forAllPorts("setOutputSelection", "1"), {"redrawRouting"})},
    {"outputOutOfRangeStillRedraws", "OUT17 VS IN1\r\n", {"redrawRouting"}},
    {"nonDigitOutputStillRedraws", "OUTx VS IN1\r\n", {"redrawRouting"}},
    {"shortestOutputPrefix", "T3 VS IN1\r\n", {"setOutputSelection(3,0)", "redrawRouting"}},
    // The port digit would lie before the line's start.
    {"keywordAtPositionOne", "xVS IN1\r\n", {"redrawRouting"}},
    {"keywordAtPositionTwo", "5 VS IN1\r\n", {"redrawRouting"}},
    // Without CR the index is read from the LF: no radio.
    {"missingCarriageReturn", "OUT3 VS IN5\n", {"setOutputSelection(3,none)", "redrawRouting"}},
    {"inputPastLineEnd", "OUT3 VS \n", {"setOutputSelection(3,none)", "redrawRouting"}},
    {"inputZeroIsNoRadio", "OUT3 VS IN0\r\n", {"setOutputSelection(3,none)", "redrawRouting"}},
    {"inputSeventeenIsNoRadio", "OUT3 VS IN17\r\n", {"setOutputSelection(3,none)", "redrawRouting"}},
    {"atLineStartIsNotRouting", "VS IN5\r\n", {}},
    {"atLineStartFallsThroughToLaterKeyword", "VS OUT3 EXA EN\r\n", {"setAudioState(3,on)"}},
    {"onlyFirstOccurrenceCounts", "VS OUT3 VS IN5\r\n", {}},
    {"firstKeywordWins", "OUT3 VS IN12 EXA EN\r\n", {"setOutputSelection(3,11)", "redrawRouting"}},
    {"lineEndsAtFirstNul", std::string("OUT3\0 VS IN5\r\n", 14), {}},
    {"nulCutsTheInputField", std::string("OUT3 VS IN5\0\n", 13), {"setOutputSelection(3,none)", "redrawRouting"}},
};
INSTANTIATE_TEST_SUITE_P(Routing, ReplyLineEffects, testing::ValuesIn(kRoutingCases),
                         [](const auto& info) { return std::string(info.param.name); });

const LineCase kEdidCases[] = {
    {"oneInputNoRefresh", "IN7 EDID 12\r\n", {"selectInputEdid(7,12)"}},
    {"oneDigitChoice", "IN5 EDID 1\r\n", {"selectInputEdid(5,1)"}},
    {"inputSixteen", "IN16 EDID 1\r\n", {"selectInputEdid(16,1)"}},
    {"allInputsRefresh", "IN0 EDID 3\r\n", concat(forAllPorts("selectInputEdid", "3"), {"redrawEdidPage"})},
    {"inputOutOfRange", "IN17 EDID 1\r\n", {}},
    {"negativeChoiceIsNoItem", "IN7 EDID -\r\n", {"selectInputEdid(7,none)"}},
    {"choicePastLineEnd", "IN7 EDID \n", {"selectInputEdid(7,none)"}},
    {"atLineStartIsNotAChoice", "EDID 3\r\n", {}},
};
INSTANTIATE_TEST_SUITE_P(EdidChoice, ReplyLineEffects, testing::ValuesIn(kEdidCases),
                         [](const auto& info) { return std::string(info.param.name); });

const LineCase kIpCases[] = {
    {"mac", "MAC 00:11:22:33:44:55\r\n", {"setMacText(00:11:22:33:44:55)", "redrawIpSettings"}},
    {"macKeepsSeventeen", "MAC 00:11:22:33:44:55:66\r\n", {"setMacText(00:11:22:33:44:55)", "redrawIpSettings"}},
    {"shortMacStopsAtLineEnd", "MAC 00:11\r\n", {"setMacText(00:11)", "redrawIpSettings"}},
    {"hostAddress", "HIP 192.168.000.100\r\n", {"showHostAddress(192.168.0.100)"}},
    {"octetModulo256", "HIP 300.001.002.255\r\n", {"showHostAddress(44.1.2.255)"}},
    {"netMask", "NMK 255.255.255.000\r\n", {"showNetMask(255.255.255.0)"}},
    {"routerAddress", "RIP 010.000.000.001\r\n", {"showRouterAddress(10.0.0.1)"}},
    // The octets are read at positions 4, 8, 12 and 16 of the line, wherever
    // the keyword stands: not behind it.
    {"hostOctetsFromLineStart", "abcd010.020.030.040 HIP \r\n", {"showHostAddress(10.20.30.40)"}},
    {"netMaskOctetsFromLineStart", "abcd255.255.255.000 NMK \r\n", {"showNetMask(255.255.255.0)"}},
    {"routerOctetsFromLineStart", "abcd010.000.000.001 RIP \r\n", {"showRouterAddress(10.0.0.1)"}},
    {"keywordLaterReadsWhatStandsThere", "OUT1 HIP 192.168.000.100\r\n", {"showHostAddress(201.211.72.56)"}},
    {"addressTooShortShowsNothing", "HIP 1.2.3.4\r\n", {}},
    {"addressJustLongEnough", "HIP 001.002.003.004", {"showHostAddress(1.2.3.4)"}},
    {"tcpPortNoRefresh", "TIP 5000\r\n", {"setTcpPortText(5000)"}},
    {"tcpPortAtMostFour", "TIP 123456\r\n", {"setTcpPortText(1234)"}},
    {"tcpPortStopsAtCr", "TIP 80\r\n", {"setTcpPortText(80)"}},
    {"tcpPortStopsAtLf", "TIP 80\n", {"setTcpPortText(80)"}},
    {"tcpPortEmpty", "TIP \r\n", {"setTcpPortText()"}},
    {"dhcpOn", "DHCP 1\r\n", {"setDhcp(on)", "redrawIpSettings", "setStatusText( )"}},
    {"dhcpOff", "DHCP 0\r\n", {"setDhcp(off)", "redrawIpSettings", "setStatusText( )"}},
    // The value sits at position 5 of the line, not behind the keyword.
    {"dhcpValueAtFixedPosition", "xDHCP 0\r\n", {"setDhcp(on)", "redrawIpSettings", "setStatusText( )"}},
};
INSTANTIATE_TEST_SUITE_P(IpSettings, ReplyLineEffects, testing::ValuesIn(kIpCases),
                         [](const auto& info) { return std::string(info.param.name); });

const LineCase kAudioCases[] = {
    {"onWithoutRedraw", "OUT3 EXA EN\r\n", {"setAudioState(3,on)"}},
    {"muteOutputSixteenRedraws", "OUT16 EXA DIS\r\n", {"setAudioState(16,mute)", "redrawAudio"}},
    {"outputFifteenNoRedraw", "OUT15 EXA DIS\r\n", {"setAudioState(15,mute)"}},
    {"allOutputsRedraw", "OUT0 EXA EN\r\n", concat(forAllPorts("setAudioState", "on"), {"redrawAudio"})},
    {"assLikeExa", "OUT12 ASS DIS\r\n", {"setAudioState(12,mute)"}},
    {"assInsideAWord", "T3PASS EN\r\n", {"setAudioState(3,on)"}},
    {"bypassWithoutPortChangesNothing", "BYPASS \r\n", {}},
    {"outputOutOfRange", "OUT17 EXA EN\r\n", {}},
    {"audioDelayDiscarded", "OUT5 EXADL PH3\r\n", {}},
    {"scalerOtherOutputs", "OUT4 VIDEO 2\r\n", {}},
    {"scalerOutputEight", "OUT8 VIDEO 2\r\n", {}},
    {"scalerAllRedrawsAudio", "OUT0 VIDEO 1\r\n", {"redrawAudio"}},
    {"scalerAtLineStart", "VIDEO 0\r\n", {}},
    {"enhancementEightRedrawsAudio", "OUT8 IMAGE ENH 1\r\n", {"redrawAudio"}},
    {"enhancementAllRedrawsAudio", "OUT0 IMAGE ENH 1\r\n", {"redrawAudio"}},
    {"enhancementOtherOutput", "OUT3 IMAGE ENH 1\r\n", {}},
    // One digit only, the one before the blank: OUT10 reads as 0 (all), OUT18
    // as 8.
    {"scalerOutputTenReadsAsAll", "OUT10 VIDEO 1\r\n", {"redrawAudio"}},
    {"enhancementOutputEighteenReadsAsEight", "OUT18 IMAGE ENH 1\r\n", {"redrawAudio"}},
    {"enhancementOutputSixteenReadsAsSix", "OUT16 IMAGE ENH 1\r\n", {}},
};
INSTANTIATE_TEST_SUITE_P(Audio, ReplyLineEffects, testing::ValuesIn(kAudioCases),
                         [](const auto& info) { return std::string(info.param.name); });

const LineCase kOtherCases[] = {
    {"emptyLine", "\r\n", {}},
    {"unknownText", "HELLO\r\n", {}},
    {"keywordWithoutBlank", "OUT3 VS\r\n", {}},
};
INSTANTIATE_TEST_SUITE_P(NoKeyword, ReplyLineEffects, testing::ValuesIn(kOtherCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The confirmation goes to the connection, which alone changes the port-open
// and search flags: the parser leaves them as they are.
TEST(ReplyParser, anyLineConfirmsAWaitingSearchBeforeItsKeyword) {
    for (const std::string line : {"\r\n", "OUT3 VS IN5\r\n", "garbage\n"}) {
        ConsoleState state;
        state.searchInProgress = true;
        state.comPort = 7;
        RecordingTarget target;
        ReplyParser parser(state, target.views());
        parser.handleLine(line);

        ASSERT_FALSE(target.calls.empty()) << line;
        EXPECT_EQ(target.calls.front(), "confirmSearch") << line;
        EXPECT_FALSE(state.portOpen);
        EXPECT_TRUE(state.searchInProgress);
    }
}

TEST(ReplyParser, confirmsOnlyOnce) {
    ConsoleState state;
    state.searchInProgress = true;
    RecordingTarget target;
    target.onConfirmSearch = [&] { state.searchInProgress = false; };
    ReplyParser parser(state, target.views());
    parser.handleLine("\r\n");
    target.calls.clear();
    parser.handleLine("\r\n");
    EXPECT_TRUE(target.calls.empty());
}

TEST(ReplyParser, withoutSearchTheConsoleIsLeftAlone) {
    ConsoleState state;
    RecordingTarget target;
    ReplyParser parser(state, target.views());
    parser.handleLine("OUT3 VS IN5\r\n");
    EXPECT_FALSE(state.portOpen);
    EXPECT_EQ(target.calls, (Calls{"setOutputSelection(3,4)", "redrawRouting"}));
}

TEST(DecodeReply, readsFieldsIntoValues) {
    EXPECT_EQ(decodeReply("OUT12 VS IN16\r\n"), Reply(RoutingReply{12, 15}));
    EXPECT_EQ(decodeReply("OUT17 VS IN1\r\n"), Reply(RoutingReply{std::nullopt, 0}));
    EXPECT_EQ(decodeReply("IN0 EDID 3\r\n"), Reply(EdidChoiceReply{0, 3}));
    EXPECT_EQ(decodeReply("NMK 255.255.255.000\r\n"), Reply(AddressReply{AddressReply::NetMask, 0xFFFFFF00U}));
    EXPECT_EQ(decodeReply("OUT16 EXA DIS\r\n"), Reply(AudioReply{16, AudioState::Mute}));
    EXPECT_EQ(decodeReply("OUT5 EXADL PH3\r\n"), Reply(IgnoredReply{}));
}

} // namespace
} // namespace mc
