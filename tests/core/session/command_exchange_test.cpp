#include "session/command_exchange.h"
#include "support/edid_capture_fakes.h"

#include <gtest/gtest.h>

namespace mc {
namespace {

using namespace std::chrono_literals;
using Clock = CommandExchange::Clock;

const Clock::time_point kStart{std::chrono::seconds(50)};

TEST(CommandExchange, aRouteIsConfirmedByItsOutputOrAllOutputsAndOtherLinesWait) {
    auto exchange = routeExchange(3, 5);
    ASSERT_TRUE(exchange);
    EXPECT_EQ(exchange->command(), routingCommand(3, 5));
    exchange->start(kStart, 2s);
    EXPECT_EQ(exchange->takeLine("\r\n"), ExchangeState::Waiting);
    EXPECT_EQ(exchange->takeLine("OUT4 VS IN1\r\n"), ExchangeState::Waiting);
    EXPECT_EQ(exchange->takeLine("OUT3 EXA EN\r\n"), ExchangeState::Waiting);
    EXPECT_EQ(exchange->takeLine("OUT3 VS IN5\r\n"), ExchangeState::Confirmed);
    EXPECT_EQ(exchange->answerLine(), "OUT3 VS IN5\r\n");
    EXPECT_EQ(std::get<RoutingReply>(exchange->answer()).input, 4);
    // Settled: later lines and the clock change nothing.
    EXPECT_EQ(exchange->takeLine("OUT3 VS IN6\r\n"), ExchangeState::Confirmed);
    EXPECT_EQ(exchange->tick(kStart + 1h), ExchangeState::Confirmed);

    auto all = routeExchange(16, 2);
    EXPECT_EQ(all->takeLine("OUT0 VS IN2\r\n"), ExchangeState::Confirmed);
}

TEST(CommandExchange, aDifferentValueOrNoneDisagrees) {
    auto route = routeExchange(3, 5);
    EXPECT_EQ(route->takeLine("OUT3 VS IN6\r\n"), ExchangeState::Disagreed);
    EXPECT_EQ(std::get<RoutingReply>(route->answer()).input, 5);
    auto none = routeExchange(3, 5);
    EXPECT_EQ(none->takeLine("OUT3 VS INxx\r\n"), ExchangeState::Disagreed);

    auto audio = audioExchange(7, AudioState::Mute);
    EXPECT_EQ(audio->takeLine("OUT8 EXA EN\r\n"), ExchangeState::Waiting);
    EXPECT_EQ(audio->takeLine("OUT7 EXA EN\r\n"), ExchangeState::Disagreed);
    auto muted = audioExchange(7, AudioState::Mute);
    EXPECT_EQ(muted->takeLine("OUT7 EXA DIS\r\n"), ExchangeState::Confirmed);
}

TEST(CommandExchange, withoutAnAnswerItTimesOutAtItsDeadline) {
    auto exchange = audioExchange(1, AudioState::On);
    EXPECT_EQ(exchange->tick(kStart + 24h), ExchangeState::Waiting) << "not started: no deadline";
    exchange->start(kStart, 2s);
    EXPECT_EQ(exchange->deadline(), kStart + 2s);
    EXPECT_EQ(exchange->tick(kStart + 1999ms), ExchangeState::Waiting);
    EXPECT_EQ(exchange->tick(kStart + 2s), ExchangeState::TimedOut);
    EXPECT_EQ(exchange->takeLine("OUT1 EXA EN\r\n"), ExchangeState::TimedOut);
    EXPECT_TRUE(exchange->answerLine().empty());
}

TEST(CommandExchange, anEdidChoiceSkipsDataLinesAndCopiesCountAsChoices) {
    auto exchange = edidChoiceExchange(4, 9);
    EXPECT_EQ(exchange->takeLine(test::edidDataLine(EdidImage{})), ExchangeState::Waiting);
    EXPECT_EQ(exchange->takeLine("IN4 EDID 9\r\n"), ExchangeState::Confirmed);

    // Choice 33 + n copies output n: the copy command, confirmed as that choice.
    auto copy = edidChoiceExchange(2, kLastEdidSourceIndex + 5);
    EXPECT_EQ(copy->command(), applyEdidCopyCommand(2, 5));
    EXPECT_EQ(copy->takeLine("IN2 EDID 3\r\n"), ExchangeState::Disagreed);
    EXPECT_FALSE(edidChoiceExchange(17, 1));
}

TEST(CommandExchange, anUploadIsAnsweredByItsFirstLineAndRefusedByAnError) {
    EdidImage image{};
    auto accepted = edidUploadExchange(1, 2, image);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->takeLine("\r\n"), ExchangeState::Waiting);
    EXPECT_EQ(accepted->takeLine("IN1 EDID U2 DATA OK\r\n"), ExchangeState::Confirmed);
    auto refused = edidUploadExchange(1, 2, image);
    EXPECT_EQ(refused->takeLine("ERROR\r\n"), ExchangeState::Disagreed);
    EXPECT_FALSE(edidUploadExchange(1, 4, image));

    auto probe = probeExchange();
    EXPECT_EQ(probe.command(), probeCommand());
    EXPECT_EQ(probe.takeLine("anything\n"), ExchangeState::Confirmed);
}

} // namespace
} // namespace mc
