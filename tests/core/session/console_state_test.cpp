#include "session/console_state.h"

#include <gtest/gtest.h>

namespace mc {
namespace {

TEST(ConsoleState, startsClosedOnCom1WithTheFixedLineSettings) {
    const ConsoleState state;
    EXPECT_FALSE(state.portOpen);
    EXPECT_FALSE(state.searchInProgress);
    EXPECT_EQ(state.comPort, 1);
    EXPECT_EQ(state.line.baudRate, 57600);
    EXPECT_EQ(state.line.parity, 'N');
    EXPECT_EQ(state.line.dataBits, 8);
    EXPECT_EQ(state.line.stopBits, 1);
    EXPECT_TRUE(state.line.readReceived);
    EXPECT_EQ(state.line.writeBufferSize, 1024);
}

TEST(ConsoleState, comPortRangeIsOneToNinetyNine) {
    EXPECT_FALSE(isValidComPort(0));
    EXPECT_TRUE(isValidComPort(1));
    EXPECT_TRUE(isValidComPort(99));
    EXPECT_FALSE(isValidComPort(100));
    EXPECT_EQ(comPortName(1), "COM1");
    EXPECT_EQ(comPortName(99), "COM99");
}

} // namespace
} // namespace mc
