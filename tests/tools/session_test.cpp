#include "sim/session.h"

#include <gtest/gtest.h>

namespace mc::sim {
namespace {

std::string allReplies(const SessionOutput& out) {
    std::string text;
    for (const auto& exchange : out.exchanges) {
        text += exchange.reply;
    }
    return text;
}

constexpr std::string_view kRoute = "\r\nSET OUT2  VS IN7 \r\n";

TEST(Session, normalModeAnswersEachLineAndLeavesFramingUnanswered) {
    Session session({});
    const auto out = session.receive(std::string(kRoute) + "\r\n\r\nHELLO\r\n");
    ASSERT_EQ(out.exchanges.size(), 2U);
    EXPECT_EQ(out.exchanges[0].line.raw, kRoute);
    EXPECT_EQ(out.exchanges[0].reply, "OUT2 VS IN7\r\n");
    EXPECT_EQ(out.exchanges[1].line.raw, "\r\n\r\nHELLO\r\n");
    EXPECT_EQ(out.exchanges[1].reply, "ERROR\r\n");
    EXPECT_FALSE(out.hangUp);
    EXPECT_EQ(session.state().routedInput(2), 7);
}

TEST(Session, overlongLinesAreAnsweredWithAnError) {
    Session session({});
    const auto out = session.receive(std::string(kMaxLineLength + 1, 'S') + "\r\n");
    ASSERT_EQ(out.exchanges.size(), 1U);
    EXPECT_TRUE(out.exchanges[0].line.overlong);
    EXPECT_EQ(out.exchanges[0].reply, "ERROR\r\n");
}

TEST(Session, silentModeChangesStateButNeverAnswers) {
    Session session({Mode::silent});
    const auto out = session.receive(std::string(kRoute) + "\r\nGET STA\r\n");
    ASSERT_EQ(out.exchanges.size(), 2U);
    EXPECT_EQ(allReplies(out), "");
    EXPECT_EQ(session.state().routedInput(2), 7);
}

TEST(Session, garbageModeAnswersNoiseThatNeverEndsALine) {
    Session session({Mode::garbage});
    std::string noise;
    for (int i = 0; i < 50; ++i) {
        const auto out = session.receive("\r\nGET STA\r\n");
        ASSERT_EQ(out.exchanges.size(), 1U);
        const std::string& reply = out.exchanges[0].reply;
        EXPECT_GE(reply.size(), kGarbageMinLength);
        EXPECT_LE(reply.size(), kGarbageMaxLength);
        noise += reply;
    }
    EXPECT_EQ(noise.find('\n'), std::string::npos);
    EXPECT_NE(noise.find('\0'), std::string::npos) << "noise covers all byte values but LF";
    EXPECT_EQ(session.receive(kRoute).exchanges.size(), 1U);
    EXPECT_EQ(session.state().routedInput(2), 7);
}

struct HangupCase {
    std::uint64_t after;
    std::size_t answered; // exchanges before the line drops
    bool hangsUpInFirstChunk;
};

TEST(Session, hangupModeDropsTheLineAfterExactlyNBytes) {
    const std::string twoCommands = std::string(kRoute) + "\r\nGET STA\r\n"; // 21 + 11 bytes
    const HangupCase cases[] = {
        {0, 0, true},   // the first byte already drops it
        {20, 0, true},  // one byte short of the first command
        {21, 1, true},  // the first command is answered, then the line drops
        {32, 2, true},  // exactly both commands
        {33, 2, false}, // one byte more than this chunk: still up
    };
    for (const auto& c : cases) {
        Session session({Mode::hangup, c.after});
        const auto out = session.receive(twoCommands);
        EXPECT_EQ(out.exchanges.size(), c.answered) << c.after;
        EXPECT_EQ(out.hangUp, c.hangsUpInFirstChunk) << c.after;
        EXPECT_EQ(session.receivedBytes(), std::min<std::uint64_t>(c.after, twoCommands.size())) << c.after;
        if (c.answered > 0) {
            EXPECT_EQ(out.exchanges[0].reply, "OUT2 VS IN7\r\n");
        }
        const auto later = session.receive(kRoute);
        EXPECT_TRUE(session.hungUp()) << "after " << c.after;
        if (c.hangsUpInFirstChunk) {
            EXPECT_TRUE(later.exchanges.empty()) << "nothing is read after the hang-up";
        }
    }
}

} // namespace
} // namespace mc::sim
