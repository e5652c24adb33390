#include "session/log_hook.h"
#include "session/reply_dispatch.h"
#include "support/edid_capture_fakes.h"
#include "support/recording_target.h"

#include <gtest/gtest.h>

namespace mc {
namespace {

using test::edidDataLine;
using test::MemoryEdidFiles;
using test::RecordingTarget;
using Calls = std::vector<std::string>;

class ReplyDispatchTest : public testing::Test {
protected:
    void receive(std::string_view bytes) {
        for (const char byte : bytes) {
            dispatch.receive(static_cast<std::uint8_t>(byte));
        }
    }

    void startEdidRead() { dispatch.expectEdid(test::outputReadBack()); }

    ConsoleState state;
    RecordingTarget target;
    MemoryEdidFiles files;
    ReplyDispatch dispatch{state, target.views(), files};
};

TEST_F(ReplyDispatchTest, textLinesGoToTheReplyParser) {
    receive("\r\nOUT3 VS IN5\r\nOUT16 EXA DIS\r\n");
    EXPECT_EQ(target.calls,
              (Calls{"setOutputSelection(3,4)", "redrawRouting", "setAudioState(16,mute)", "redrawAudio"}));
}

TEST_F(ReplyDispatchTest, duringAnEdidReadTextRepliesAndTheSearchAreIgnored) {
    startEdidRead();
    state.searchInProgress = true;
    state.comPort = 5;
    receive("OUT3 VS IN5\r\n\r\nOUT1 EDID 3\r\n");
    EXPECT_TRUE(target.calls.empty());
    EXPECT_TRUE(state.searchInProgress);
    EXPECT_TRUE(dispatch.edidReadBack());

    receive(edidDataLine(EdidImage{}));
    EXPECT_FALSE(dispatch.edidReadBack());
    target.calls.clear();

    receive("OUT3 VS IN5\r\n");
    EXPECT_EQ(target.calls.front(), "confirmSearch");
    EXPECT_EQ(target.calls.back(), "redrawRouting");
}

// A data line that does not carry the whole EDID of the port asked ends the
// read-back unsaved; the bytes of an earlier read never fill the gap.
TEST_F(ReplyDispatchTest, aShortOrForeignEdidLineEndsTheReadWithoutSavingAnything) {
    EdidImage image{};
    image.fill(0x21);
    image[126] = 1;
    startEdidRead();
    receive(edidDataLine(image));
    ASSERT_EQ(files.saved.size(), 1U);
    target.calls.clear();
    std::vector<std::string> logged;
    setLogSink([&](LogLevel, std::string_view, std::string_view text) { logged.emplace_back(text); });

    for (const std::string& line : {std::string("OUT1 EDID DATA 00 ff\r\n"), edidDataLine(image, "OUT2 EDID DATA "),
                                    edidDataLine(image).substr(0, 15 + 3 * 128) + "\r\n"}) {
        startEdidRead();
        receive(line);
        EXPECT_FALSE(dispatch.edidReadBack()) << line;
        receive("OUT3 VS IN5\r\n"); // the text parser has the next line
    }
    setLogSink({});
    EXPECT_EQ(files.saved.size(), 1U);
    EXPECT_EQ(target.calls, (Calls{"setOutputSelection(3,4)", "redrawRouting", "setOutputSelection(3,4)",
                                   "redrawRouting", "setOutputSelection(3,4)", "redrawRouting"}));
    ASSERT_EQ(logged.size(), 3U);
    EXPECT_EQ(logged[0], "EDID read back not saved: the EDID of output 1 holds 2 bytes, not whole 128-byte blocks");
    EXPECT_NE(logged[1].find("not the EDID of output 1"), std::string::npos) << logged[1];
    EXPECT_NE(logged[2].find("announces an extension block"), std::string::npos) << logged[2];
}

} // namespace
} // namespace mc

namespace mc {
namespace {

// An over-long line cut off by a close left its mark behind, and the first
// complete line of the next connection was silently discarded in its place.
TEST_F(ReplyDispatchTest, aLineCutOffByACloseCostsTheNextConnectionNoLine) {
    receive(std::string(kReplyLineLimit + 1, 'x'));
    dispatch.endReadBack(); // the link closes
    EXPECT_TRUE(dispatch.pendingLine().empty());
    receive("OUT3 VS IN5\r\n");
    EXPECT_EQ(target.calls, (Calls{"setOutputSelection(3,4)", "redrawRouting"}));
    EXPECT_EQ(dispatch.discardedLines(), 0U);
}

} // namespace
} // namespace mc
