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

    void startEdidRead() {
        state.edidFileName = "Matrix_EDID_out1_%02d.bin";
        state.edidToFile = true;
    }

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
    EXPECT_TRUE(state.edidToFile);

    receive(edidDataLine(EdidImage{}));
    EXPECT_FALSE(state.edidToFile);
    target.calls.clear();

    receive("OUT3 VS IN5\r\n");
    EXPECT_EQ(target.calls.front(), "confirmSearch");
    EXPECT_EQ(target.calls.back(), "redrawRouting");
}

// A message box's event loop delivers bytes while the EDID line is still
// being handled; they are handled after it, in order, as text replies.
TEST_F(ReplyDispatchTest, bytesArrivingInsideAMessageFollowTheLineBeingHandled) {
    startEdidRead();
    target.onMessage = [&](std::string_view) { receive("OUT3 VS IN5\r\nOUT4 V"); };
    const EdidImage image = [] {
        EdidImage i{};
        i[0] = 0x12;
        return i;
    }();
    receive(edidDataLine(image));
    target.onMessage = nullptr;

    EXPECT_EQ(target.calls, (Calls{"showMessage(Save to file: Matrix_EDID_out1_00.bin)", "showCapturedEdid",
                                   "setOutputSelection(3,4)", "redrawRouting"}));
    EXPECT_EQ(files.saved.at("Matrix_EDID_out1_00.bin"), image);
    EXPECT_EQ(dispatch.pendingLine(), "OUT4 V");

    target.calls.clear();
    receive("S IN6\r\n");
    EXPECT_EQ(target.calls, (Calls{"setOutputSelection(4,5)", "redrawRouting"}));
}

// A second EDID line arriving inside the first one's message is not taken
// for the pending read (the read has ended) and does not re-enter the capture.
TEST_F(ReplyDispatchTest, nestedEdidLineDoesNotStartASecondCapture) {
    startEdidRead();
    const std::string line = edidDataLine(EdidImage{});
    int depth = 0;
    int maxDepth = 0;
    target.onMessage = [&](std::string_view) {
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        receive(line);
        --depth;
    };
    receive(line);
    EXPECT_EQ(maxDepth, 1);
    EXPECT_EQ(files.saved.size(), 1U);
    EXPECT_FALSE(state.edidToFile);
}

TEST_F(ReplyDispatchTest, aFloodInsideAMessageIsBoundedAndTheLineCutByTheGapDiscarded) {
    startEdidRead();
    const std::string reply = "OUT1 VS IN2\r\n";
    const std::size_t repeats = kDeferredByteLimit / reply.size() + 1;
    std::string flood;
    for (std::size_t i = 0; i < repeats; ++i) {
        flood += reply;
    }
    target.onMessage = [&](std::string_view) { receive(flood); };
    receive(edidDataLine(EdidImage{}));
    target.onMessage = nullptr;

    EXPECT_EQ(dispatch.droppedBytes(), flood.size() - kDeferredByteLimit);
    const std::size_t wholeLines = kDeferredByteLimit / reply.size();
    EXPECT_EQ(target.calls.size(), 2 + 2 * wholeLines);
    EXPECT_EQ(target.calls.back(), "redrawRouting");

    // The queue ended inside a line ("OUT"); joined to what comes next it
    // would read as output 5. It is dropped at its LF instead.
    ASSERT_NE(kDeferredByteLimit % reply.size(), 0U);
    target.calls.clear();
    receive("5 VS IN7\r\nOUT6 VS IN8\r\n");
    EXPECT_EQ(target.calls, (Calls{"setOutputSelection(6,7)", "redrawRouting"}));
    EXPECT_EQ(dispatch.discardedLines(), 1U);
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
