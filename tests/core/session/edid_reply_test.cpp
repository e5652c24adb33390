// The EDID data line of matrix-ctl's `edid read`: saved only when it names the
// port asked for and carries whole 128-byte blocks of hex pairs.
#include "session/edid_reply.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace mc {
namespace {

// "PREFIX xx xx ...\r\n" for the bytes, as the switcher sends them.
std::string dataLine(const std::string& prefix, const std::vector<std::uint8_t>& bytes, const char* format = " %02x") {
    std::string line = prefix;
    char pair[8];
    for (const std::uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, format, byte);
        line += pair;
    }
    return line + "\r\n";
}

std::vector<std::uint8_t> block(std::uint8_t extensions, std::uint8_t fill = 0x11) {
    std::vector<std::uint8_t> bytes(128, fill);
    bytes[126] = extensions;
    return bytes;
}

const EdidPort kOut2{EdidPort::Output, 2};

TEST(EdidReply, aBaseBlockAloneFillsTheRestWithOnes) {
    const EdidReply reply = checkEdidReply(dataLine("OUT2 EDID DATA", block(0)), kOut2);
    ASSERT_EQ(reply.problem, "");
    EXPECT_EQ(reply.image[0], 0x11);
    EXPECT_EQ(reply.image[127], 0x11);
    EXPECT_EQ(reply.image[128], 0xFF);
    EXPECT_EQ(reply.image[255], 0xFF);
}

TEST(EdidReply, twoBlocksInEitherCaseAndAnInputsReplyAreTakenWhole) {
    std::vector<std::uint8_t> bytes = block(1, 0xAB);
    const std::vector<std::uint8_t> extension(128, 0x02);
    bytes.insert(bytes.end(), extension.begin(), extension.end());
    for (const char* format : {" %02x", " %02X"}) {
        const EdidReply reply = checkEdidReply(dataLine("OUT2 EDID DATA", bytes, format), kOut2);
        ASSERT_EQ(reply.problem, "") << format;
        EXPECT_EQ(reply.image[0], 0xAB);
        EXPECT_EQ(reply.image[126], 1);
        EXPECT_EQ(reply.image[255], 0x02);
    }
    EXPECT_EQ(checkEdidReply(dataLine("IN3 EDID 02 DATA", bytes), EdidPort{EdidPort::Input, 3}).problem, "");
}

TEST(EdidReply, anythingElseIsRefusedWithTheReason) {
    std::vector<std::uint8_t> bytes = block(1);
    bytes.resize(256, 0);
    std::string zz = "OUT2 EDID DATA";
    for (int i = 0; i < 256; ++i) {
        zz += " zz";
    }
    const struct {
        std::string line;
        EdidPort port;
        std::string problem;
    } cases[] = {
        {"ERROR EDID DATA \r\n", kOut2, "the switcher answered \"ERROR EDID DATA \", not the EDID of output 2"},
        {"OUT2 EDID DATA \r\n", kOut2, "holds 0 bytes"},
        {dataLine("OUT2 EDID DATA", {0x00, 0xff}), kOut2, "holds 2 bytes, not whole 128-byte blocks"},
        {zz + "\r\n", kOut2, "holds \"zz \" at byte 0, not a hex pair"},
        {dataLine("OUT5 EDID DATA", bytes), kOut2, "not the EDID of output 2"},
        {dataLine("OUT2 EDID DATA", bytes), EdidPort{EdidPort::Input, 2}, "not the EDID of input 2"},
        {dataLine("OUT22 EDID DATA", bytes), kOut2, "not the EDID of output 2"},
        {dataLine("OUT2 VS IN1 DATA", bytes), kOut2, "not the EDID of output 2"},
        {dataLine("OUT2 EDID DATA", block(1)), kOut2, "announces an extension block but holds only the base"},
        {dataLine("OUT2 EDID DATA", std::vector<std::uint8_t>(129, 0)), kOut2, "holds 129 bytes"},
        {dataLine("OUT2 EDID DATA", std::vector<std::uint8_t>(257, 0)), kOut2, "holds more than 256 bytes"},
        {dataLine("OUT2 EDID DATA", block(0), "  %02x"), kOut2, "not a hex pair"},
        {dataLine("OUT2 EDID DATA", block(0), " %x"), kOut2, "not a hex pair"},
        {"OUT2 EDID DATA \x1b]0;PWNED\x07\r\n", kOut2, "holds \"\\x1B]0\" at byte 0"},
    };
    for (const auto& c : cases) {
        const EdidReply reply = checkEdidReply(c.line, c.port);
        EXPECT_NE(reply.problem.find(c.problem), std::string::npos) << reply.problem << "\n for " << c.line;
    }
}

} // namespace
} // namespace mc
