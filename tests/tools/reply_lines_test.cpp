#include "sim/reply_lines.h"
#include "tools/console_reading.h"

#include <gtest/gtest.h>

namespace mc::sim {
namespace {

using test::readAsConsole;
using test::readEdidAsConsole;

// Every reply must come out of the console's parser as the value it reports,
// for every port: the port digits sit right before the keyword, so one-digit
// and two-digit ports need different positions.
TEST(ReplyLines, routesReadBackAsTheConsoleParsesThemForEveryOutputAndInput) {
    for (int output = 1; output <= kPortCount; ++output) {
        for (int input = 1; input <= kPortCount; ++input) {
            const auto reading = readAsConsole(routeReply(output, input));
            ASSERT_EQ(reading.keyword, "VS ") << output << "/" << input;
            EXPECT_EQ(reading.port, output);
            EXPECT_EQ(reading.value, input - 1);
        }
    }
    EXPECT_EQ(routeReply(3, 5), "OUT3 VS IN5\r\n");
    EXPECT_EQ(routeReply(12, 16), "OUT12 VS IN16\r\n");
}

TEST(ReplyLines, edidChoicesReadBackForEveryInputAndSourceIndex) {
    for (int input = 1; input <= kPortCount; ++input) {
        for (int index = 0; index <= kLastSourceIndex; ++index) {
            const auto reading = readAsConsole(edidChoiceReply(input, index));
            ASSERT_EQ(reading.keyword, "EDID ") << input << "/" << index;
            EXPECT_EQ(reading.port, input);
            EXPECT_EQ(reading.value, index);
        }
    }
    EXPECT_EQ(edidChoiceReply(7, 12), "IN7 EDID 12\r\n");
    EXPECT_EQ(edidChoiceReply(16, 5), "IN16 EDID 05\r\n");
}

TEST(ReplyLines, audioStatesReadBackForEveryOutput) {
    for (int output = 1; output <= kPortCount; ++output) {
        for (const bool on : {true, false}) {
            const auto reading = readAsConsole(audioReply(output, on));
            ASSERT_EQ(reading.keyword, "EXA ") << output;
            EXPECT_EQ(reading.port, output);
            EXPECT_EQ(reading.value, on ? 0 : 1);
        }
    }
    EXPECT_EQ(audioReply(3, true), "OUT3 EXA EN\r\n");
    EXPECT_EQ(audioReply(16, false), "OUT16 EXA DIS\r\n");
}

TEST(ReplyLines, networkLinesPutTheirValuesWhereTheConsoleReadsThem) {
    const Ipv4Address address{{10, 0, 255, 7}};
    for (const auto& [line, keyword] :
         {std::pair{hostIpReply(address), "HIP "}, std::pair{netMaskReply(address), "NMK "},
          std::pair{routerIpReply(address), "RIP "}}) {
        const auto reading = readAsConsole(line);
        EXPECT_EQ(reading.keyword, keyword);
        EXPECT_EQ(reading.address, address.octets) << line;
    }
    EXPECT_EQ(hostIpReply(Ipv4Address{{192, 168, 0, 100}}), "HIP 192.168.000.100\r\n");

    EXPECT_EQ(readAsConsole(tcpPortReply("5000")).text, "5000");
    EXPECT_EQ(readAsConsole(tcpPortReply("80")).text, "80");
    EXPECT_EQ(readAsConsole(macReply("00:1A:2B:3C:4D:5E")).text, "00:1A:2B:3C:4D:5E");
    EXPECT_EQ(readAsConsole(dhcpReply(false)).value, 0);
    EXPECT_EQ(readAsConsole(dhcpReply(true)).value, 1);
}

TEST(ReplyLines, acknowledgementsCarryNoReplyKeyword) {
    // Anything the console recognises would change one of its pages.
    for (int input = 1; input <= kPortCount; ++input) {
        for (int slot = 1; slot <= kUserSlotCount; ++slot) {
            EXPECT_EQ(readAsConsole(uploadReply(input, slot)).keyword, "") << uploadReply(input, slot);
        }
    }
    EXPECT_EQ(readAsConsole(kErrorReply).keyword, "");
}

TEST(ReplyLines, edidDataLinesGiveTheConsoleTheExactBytes) {
    EdidImage image{};
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(255 - i);
    }
    for (int port = 1; port <= kPortCount; ++port) {
        for (const auto& line : {outputEdidReply(port, image), inputEdidReply(port, 31, image)}) {
            ASSERT_TRUE(line.ends_with("\r\n"));
            EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line only";
            const auto read = readEdidAsConsole(line);
            ASSERT_TRUE(read) << line;
            EXPECT_EQ(*read, image);
        }
    }
    EXPECT_TRUE(outputEdidReply(2, image).starts_with("OUT2 EDID DATA ff fe fd "));
    EXPECT_TRUE(inputEdidReply(3, 7, image).starts_with("IN3 EDID 07 DATA ff fe "));
}

TEST(ReplyLines, statusDumpLetsTheConsoleShowEveryValue) {
    SwitcherState state;
    state.route(4, 11);
    state.chooseEdid(9, 40);
    state.setAudioOn(16, false);
    state.network().tcpPort = "8000";
    const auto lines = statusReplies(state);
    ASSERT_EQ(lines.size(), 16U + 16U + 6U + 16U);

    std::array<int, kPortCount> routes{};
    std::array<int, kPortCount> choices{};
    std::array<int, kPortCount> audio{};
    std::size_t tipAt = 0;
    std::size_t redrawAfterTip = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto reading = readAsConsole(lines[i]);
        const auto port = static_cast<std::size_t>(reading.port - 1);
        if (reading.keyword == "VS ") {
            routes.at(port) = reading.value + 1;
        } else if (reading.keyword == "EDID ") {
            choices.at(port) = reading.value;
        } else if (reading.keyword == "EXA ") {
            audio.at(port) = reading.value;
        } else if (reading.keyword == "TIP ") {
            tipAt = i;
            EXPECT_EQ(reading.text, "8000");
        } else if ((reading.keyword == "MAC " || reading.keyword == "DHCP ") && tipAt != 0) {
            redrawAfterTip = i;
        }
    }
    for (int n = 1; n <= kPortCount; ++n) {
        const auto i = static_cast<std::size_t>(n - 1);
        EXPECT_EQ(routes[i], state.routedInput(n));
        EXPECT_EQ(choices[i], state.edidChoice(n));
        EXPECT_EQ(audio[i], state.audioOn(n) ? 0 : 1);
    }
    EXPECT_GT(redrawAfterTip, tipAt) << "the TCP port shows only after a MAC or DHCP line";
    // The console redraws its audio page on output 16's line only.
    EXPECT_EQ(lines.back(), "OUT16 EXA DIS\r\n");
}

} // namespace
} // namespace mc::sim
