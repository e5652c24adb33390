#include "client_lines.h"
#include "hub_options.h"
#include "link/commands.h"
#include "link_owner.h"
#include "traffic_kinds.h"

#include <array>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace mc::hub {
namespace {

using namespace std::chrono_literals;

ParsedOptions parse(std::vector<std::string_view> args) {
    return parseHubOptions(args);
}

TEST(HubOptions, defaultsAreLoopbackPollingEveryTenSecondsAndSixteenClients) {
    const auto parsed = parse({"--link", "COM3", "--text", "5000"});
    const auto* options = std::get_if<HubOptions>(&parsed);
    ASSERT_NE(options, nullptr);
    EXPECT_EQ(options->pollInterval, 10s);
    EXPECT_EQ(options->maxClients, 16);
    ASSERT_TRUE(options->text);
    EXPECT_EQ(*options->text, (ListenAddress{"127.0.0.1", 5000}));
    EXPECT_EQ(std::get<SerialLinkAddress>(options->link).comPort, 3);
}

TEST(HubOptions, everyValueIsCheckedAndTheErrorNamesTheOption) {
    const std::vector<std::pair<std::vector<std::string_view>, std::string>> cases = {
        {{}, "--link is required"},
        {{"--link", "COM100"}, "--link"},
        {{"--link", "COM1", "--poll", "-1"}, "--poll"},
        {{"--link", "COM1", "--poll", "3601"}, "--poll"},
        {{"--link", "COM1", "--max-clients", "0"}, "--max-clients"},
        {{"--link", "COM1", "--text", "example.com:5000"}, "--text"},
        {{"--link", "COM1", "--text", "127.0.0.1:65536"}, "--text"},
        {{"--link", "COM1", "--log-level", "loud"}, "--log-level"},
        {{"--link", "COM1", "--text"}, "--text needs a value"},
        {{"--link", "COM1", "--site-file", "x"}, "unknown option"},
    };
    for (const auto& [args, expected] : cases) {
        const auto parsed = parse(args);
        const auto* error = std::get_if<std::string>(&parsed);
        ASSERT_NE(error, nullptr) << expected;
        EXPECT_NE(error->find(expected), std::string::npos) << *error;
    }
}

TEST(HubOptions, listenersTakeLiteralAddressesIPv6InBracketsAndPollZeroIsOff) {
    const auto parsed = parse({"--link", "tcp://10.0.0.5:5000", "--text", "[::1]:0", "--poll", "0"});
    const auto* options = std::get_if<HubOptions>(&parsed);
    ASSERT_NE(options, nullptr);
    EXPECT_EQ(options->pollInterval, 0s);
    EXPECT_EQ(*options->text, (ListenAddress{"::1", 0}));
    EXPECT_EQ(formatListenAddress(*options->text), "[::1]:0");
    EXPECT_EQ(std::get<ListenAddress>(parseListenAddress("localhost:7")), (ListenAddress{"127.0.0.1", 7}));
    EXPECT_EQ(std::get<InfoRequest>(parse({"--version"})), InfoRequest::Version);
}

TEST(RetryBackoff, waitsFromHalfASecondDoublingToThirtySecondsAndStartsOverAfterAReset) {
    RetryBackoff backoff;
    std::vector<long> waits;
    for (int i = 0; i < 9; ++i) {
        waits.push_back(static_cast<long>(backoff.next().count()));
    }
    EXPECT_EQ(waits, (std::vector<long>{500, 1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
    backoff.reset();
    EXPECT_EQ(backoff.next(), 500ms);
}

TEST(TrafficKinds, eachBuiltCommandExpectsTheReplyTheSwitcherAnswersItWith) {
    const auto expect = [](const std::optional<TextCommand>& command) { return expectationOf(command->bytes()); };
    EXPECT_EQ(expect(routingCommand(12, 9)), (CommandExpectation{CommandExpectation::Route, 12, 9, 1}));
    EXPECT_EQ(expect(routingCommand(3, 16)), (CommandExpectation{CommandExpectation::Route, 3, 16, 1}));
    EXPECT_EQ(expect(audioCommand(16, AudioState::Mute)).kind, CommandExpectation::Audio);
    EXPECT_EQ(expect(applyEdidCommand(7, 12)), (CommandExpectation{CommandExpectation::EdidChoice, 7, {}, 1}));
    EXPECT_EQ(expect(applyEdidCopyCommand(7, 2)).port, 7);
    EXPECT_EQ(expect(readOutputEdidCommand(2)).kind, CommandExpectation::EdidData);
    EXPECT_EQ(expect(readInputEdidCommand(3, 7)).kind, CommandExpectation::EdidData);
    std::array<std::uint8_t, kUploadEdidSize> edid{};
    EXPECT_EQ(expect(uploadEdidCommand(3, 1, edid)).kind, CommandExpectation::Stored);
    EXPECT_EQ(expectationOf(probeCommand().bytes()).kind, CommandExpectation::Status);
    EXPECT_EQ(expectationOf("\r\nSET TIP 5000\r\n"), (CommandExpectation{CommandExpectation::Network, -1, {}, 2}));
    EXPECT_EQ(expectationOf("\r\nSET OUT3  VS IN5 extra\r\n").kind, CommandExpectation::AnyLine);
    // Output 0 stands for every output.
    EXPECT_EQ(expectationOf("\r\nSET OUT0  VS IN5 \r\n").port, 0);
}

TEST(TrafficKinds, replyLinesAreToldApartByWhatTheyReport) {
    EXPECT_EQ(replyTopic("OUT12 VS IN3\r\n"), (ReplyTopic{ReplyTopic::Route, 12}));
    EXPECT_EQ(replyTopic("OUT16 EXA DIS\r\n"), (ReplyTopic{ReplyTopic::Audio, 16}));
    EXPECT_EQ(replyTopic("IN7 EDID 12\r\n"), (ReplyTopic{ReplyTopic::EdidChoice, 7}));
    EXPECT_EQ(replyTopic("IN3 EDID 07 DATA 00 ff\r\n").kind, ReplyTopic::EdidData);
    EXPECT_EQ(replyTopic("IN3 U1 STORED\r\n").kind, ReplyTopic::Stored);
    EXPECT_EQ(replyTopic("ERROR\r\n").kind, ReplyTopic::Error);
    EXPECT_EQ(replyTopic("TIP 5000\r\n").kind, ReplyTopic::Network);
    EXPECT_EQ(replyTopic("\x01\x02garbage\r\n").kind, ReplyTopic::Other);
    EXPECT_TRUE(isLastStatusLine(replyTopic("OUT16 EXA EN\r\n")));
    EXPECT_EQ(routeReplyLine(3, 12), "OUT3 VS IN12\r\n");
}

TEST(ClientLineFramer, blankLinesStayWithTheirCommandAndDroppedLinesSayWhy) {
    ClientLineFramer framer(32);
    std::vector<ClientLineFramer::Line> lines;
    framer.append("\r\nGET", lines);
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(framer.pendingBytes(), 3U);
    framer.append(" STA\r\n" + std::string(40, 'x') + "\nSET\x80\r\n\r\n\r\nA\n", lines);
    ASSERT_EQ(lines.size(), 4U);
    EXPECT_EQ(lines[0].kind, ClientLineFramer::Line::Command);
    EXPECT_EQ(lines[0].bytes, "\r\nGET STA\r\n");
    EXPECT_EQ(lines[1].kind, ClientLineFramer::Line::Overlong);
    EXPECT_EQ(lines[1].length, 41U);
    EXPECT_EQ(lines[2].kind, ClientLineFramer::Line::Binary);
    EXPECT_EQ(lines[3].bytes, "\r\n\r\nA\n");
}

} // namespace
} // namespace mc::hub
