// What matrix-ctl prints of the switcher's network settings: text for a
// person, JSON for a script.
#include "device_status.h"
#include "session/reply_parser.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace mc::ctl {
namespace {

SwitcherState reported(std::initializer_list<const char*> lines) {
    SwitcherState state;
    for (const char* line : lines) {
        state.apply(decodeReply(line));
    }
    return state;
}

TEST(NetworkText, aTextFromTheWireShowsItsControlCharactersSoItCannotSteerTheTerminal) {
    const std::string text = networkText(reported({"MAC \x1b]0;PWNED\x07\x1b[2J\r\n", "TIP \x1b[2J\r\n"}));
    EXPECT_NE(text.find("MAC       \\x1B]0;PWNED\\x07\\x1B[2J\n"), std::string::npos) << text;
    EXPECT_NE(text.find("TCP port  \\x1B[2J\n"), std::string::npos) << text;
    EXPECT_TRUE(std::none_of(text.begin(), text.end(), [](char c) { return c != '\n' && c >= 0 && c < 0x20; })) << text;
}

TEST(NetworkJson, theTcpPortIsANumberAndNullWhenTheSwitcherSentNone) {
    EXPECT_NE(networkJson(reported({"TIP 5000\r\n"})).dump().find("\"tcp_port\":5000"), std::string::npos);
    EXPECT_NE(networkJson(reported({"TIP 50x0\r\n"})).dump().find("\"tcp_port\":null"), std::string::npos);
    EXPECT_NE(networkJson(reported({})).dump().find("\"tcp_port\":null"), std::string::npos);
}

} // namespace
} // namespace mc::ctl
