#include "link/commands.h"

#include <array>
#include <gtest/gtest.h>
#include <sstream>

namespace mc {
namespace {

// "0D 0A 53" -> the bytes it spells.
std::string fromHex(std::string_view hex) {
    std::istringstream in{std::string(hex)};
    std::string bytes;
    unsigned value = 0;
    while (in >> std::hex >> value) {
        bytes.push_back(static_cast<char>(value));
    }
    return bytes;
}

std::string bytesOf(const std::optional<TextCommand>& command) {
    EXPECT_TRUE(command.has_value());
    return command ? std::string(command->bytes()) : std::string();
}

TEST(PortField, EveryPortHasItsCodeAndField) {
    struct Row {
        int port;
        char code;
        std::string_view field;
    };
    constexpr std::array<Row, 16> rows{{{1, '1', "1 "},
                                        {2, '2', "2 "},
                                        {3, '3', "3 "},
                                        {4, '4', "4 "},
                                        {5, '5', "5 "},
                                        {6, '6', "6 "},
                                        {7, '7', "7 "},
                                        {8, '8', "8 "},
                                        {9, '9', "9 "},
                                        {10, 'A', "10"},
                                        {11, 'B', "11"},
                                        {12, 'C', "12"},
                                        {13, 'D', "13"},
                                        {14, 'E', "14"},
                                        {15, 'F', "15"},
                                        {16, 'G', "16"}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.port);
        ASSERT_EQ(portCode(row.port), row.code);
        EXPECT_EQ(portFromCode(row.code), row.port);
        const auto byNumber = portField(row.port);
        const auto byCode = portFieldFromCode(row.code);
        ASSERT_TRUE(byNumber && byCode);
        EXPECT_EQ(std::string_view(byNumber->data(), 2), row.field);
        EXPECT_EQ(*byCode, *byNumber);
    }
}

TEST(PortField, OutOfRangePortsAndCodesGiveNothing) {
    for (int port : {-1, 0, 17, 255}) {
        EXPECT_FALSE(portCode(port)) << port;
        EXPECT_FALSE(portField(port)) << port;
    }
    for (char code : {'0', ':', '@', 'H', 'a', 'g', ' ', '\0'}) {
        EXPECT_FALSE(portFromCode(code)) << int(code);
        EXPECT_FALSE(portFieldFromCode(code)) << int(code);
    }
}

struct Example {
    const char* name;
    std::optional<TextCommand> command;
    std::string expected;
};

void expectExamples(const std::vector<Example>& examples) {
    for (const Example& example : examples) {
        SCOPED_TRACE(example.name);
        EXPECT_EQ(bytesOf(example.command), example.expected);
    }
}

TEST(RoutingCommand, MatchesTheDocumentedBytes) {
    expectExamples({
        {"out1 in1", routingCommand(1, 1), fromHex("0D 0A 53 45 54 20 4F 55 54 31 20 20 56 53 20 49 4E 31 20 0D 0A")},
        {"out1 in2", routingCommand(1, 2), fromHex("0D 0A 53 45 54 20 4F 55 54 31 20 20 56 53 20 49 4E 32 20 0D 0A")},
        {"out12 in3", routingCommand(12, 3), fromHex("0D 0A 53 45 54 20 4F 55 54 31 32 20 56 53 20 49 4E 33 20 0D 0A")},
        {"out16 in16", routingCommand(16, 16),
         fromHex("0D 0A 53 45 54 20 4F 55 54 31 36 20 56 53 20 49 4E 31 36 0D 0A")},
        {"out10 in16", routingCommand(10, 16),
         fromHex("0D 0A 53 45 54 20 4F 55 54 31 30 20 56 53 20 49 4E 31 36 0D 0A")},
        {"out9 in10", routingCommand(9, 10), fromHex("0D 0A 53 45 54 20 4F 55 54 39 20 20 56 53 20 49 4E 31 30 0D 0A")},
    });
}

TEST(RoutingCommand, IsTwentyOneBytesForEveryPairAndRefusesOthers) {
    for (int output = kFirstPort; output <= kLastPort; ++output) {
        for (int input = kFirstPort; input <= kLastPort; ++input) {
            const auto command = routingCommand(output, input);
            ASSERT_TRUE(command);
            EXPECT_EQ(command->size(), 21U);
        }
    }
    EXPECT_FALSE(routingCommand(0, 1));
    EXPECT_FALSE(routingCommand(1, 17));
    EXPECT_FALSE(routingCommand(-1, -1));
}

TEST(AudioCommand, MatchesTheDocumentedBytes) {
    expectExamples({
        {"mute out1", audioCommand(1, AudioState::Mute),
         fromHex("0D 0A 53 45 54 20 4F 55 54 31 20 20 45 58 41 20 44 49 53 0D 0A")},
        {"on out12", audioCommand(12, AudioState::On),
         fromHex("0D 0A 53 45 54 20 4F 55 54 31 32 20 45 58 41 20 20 45 4E 0D 0A")},
        {"on out9", audioCommand(9, AudioState::On), "\r\nSET OUT9  EXA  EN\r\n"},
        {"mute out16", audioCommand(16, AudioState::Mute), "\r\nSET OUT16 EXA DIS\r\n"},
    });
    EXPECT_FALSE(audioCommand(0, AudioState::On));
    EXPECT_FALSE(audioCommand(17, AudioState::Mute));
}

TEST(EdidCommands, MatchTheDocumentedBytes) {
    expectExamples({
        {"apply in1 index 5", applyEdidCommand(1, 5), "\r\nSET IN1  EDID 05\r\n"},
        {"apply in12 index 31", applyEdidCommand(12, 31), "\r\nSET IN12 EDID 31\r\n"},
        {"apply in9 user EDID3", applyEdidCommand(9, 32), "\r\nSET IN9  EDID 32\r\n"},
        {"apply in1 index 0", applyEdidCommand(1, 0), "\r\nSET IN1  EDID 00\r\n"},
        {"copy in10 from out16", applyEdidCopyCommand(10, 16), "\r\nSET IN10 EDIDCY OUT 16\r\n"},
        {"copy in1 from out1", applyEdidCopyCommand(1, 1), "\r\nSET IN1  EDIDCY OUT 1 \r\n"},
        {"choice 32 is the EDID form", applyEdidChoiceCommand(9, 32), "\r\nSET IN9  EDID 32\r\n"},
        {"choice 33 copies out1", applyEdidChoiceCommand(1, 33), "\r\nSET IN1  EDIDCY OUT 1 \r\n"},
        {"choice 48 copies out16", applyEdidChoiceCommand(10, 48), "\r\nSET IN10 EDIDCY OUT 16\r\n"},
        {"read out1", readOutputEdidCommand(1), "\r\nGET OUT1  EDID  DATA\r\n"},
        {"read out16", readOutputEdidCommand(16), "\r\nGET OUT16 EDID  DATA\r\n"},
        {"read in3 index 7", readInputEdidCommand(3, 7), "\r\nGET IN3  EDID 07 DATA\r\n"},
        {"read in16 index 30", readInputEdidCommand(16, 30), "\r\nGET IN16 EDID 30 DATA\r\n"},
    });
    EXPECT_EQ(applyEdidCommand(9, 0)->size(), 20U);
    EXPECT_EQ(applyEdidCopyCommand(1, 1)->size(), 26U);
    EXPECT_EQ(readOutputEdidCommand(1)->size(), 24U);
    EXPECT_EQ(readInputEdidCommand(1, 0)->size(), 25U);
}

TEST(EdidCommands, RefuseIndexesAndPortsOutOfRange) {
    // -1 is what an input's choice reads before any status reply arrived.
    for (int index : {-1, 33, 48, 99, 100}) {
        EXPECT_FALSE(applyEdidCommand(1, index)) << index;
        EXPECT_FALSE(readInputEdidCommand(1, index)) << index;
    }
    for (int choice : {-1, 49, 1000}) {
        EXPECT_FALSE(applyEdidChoiceCommand(1, choice)) << choice;
    }
    for (int port : {0, 17}) {
        EXPECT_FALSE(applyEdidCommand(port, 0));
        EXPECT_FALSE(applyEdidCopyCommand(port, 1));
        EXPECT_FALSE(applyEdidCopyCommand(1, port));
        EXPECT_FALSE(applyEdidChoiceCommand(port, 40));
        EXPECT_FALSE(readOutputEdidCommand(port));
        EXPECT_FALSE(readInputEdidCommand(port, 0));
    }
}

std::array<std::uint8_t, kUploadEdidSize> countingEdid() {
    std::array<std::uint8_t, kUploadEdidSize> edid{};
    for (std::size_t i = 0; i < edid.size(); ++i) {
        edid[i] = static_cast<std::uint8_t>(i);
    }
    return edid;
}

TEST(UploadEdidCommand, StartsWithoutLineEndAndWritesUpperCaseHex) {
    const auto edid = countingEdid();
    const std::string in16 = bytesOf(uploadEdidCommand(16, 3, edid));
    ASSERT_EQ(in16.size(), 791U);
    EXPECT_EQ(in16.substr(0, 22), "SET IN16 EDID U3 DATA ");
    EXPECT_EQ(in16.substr(22, 12), "00 01 02 03 ");
    EXPECT_EQ(in16.substr(22 + 3 * 0xAB, 3), "AB ");
    EXPECT_EQ(in16.substr(in16.size() - 5), " FF\r\n");

    const std::string in1 = bytesOf(uploadEdidCommand(1, 1, edid));
    ASSERT_EQ(in1.size(), 790U);
    EXPECT_EQ(in1.substr(0, 21), "SET IN1 EDID U1 DATA ");
    EXPECT_EQ(in1.substr(21), in16.substr(22));
}

TEST(UploadEdidCommand, ShortFilePaddedWithFfIsSentAsIs) {
    // A 128-byte file leaves the second block at 0xFF.
    std::array<std::uint8_t, kUploadEdidSize> edid{};
    edid.fill(0xFF);
    for (std::size_t i = 0; i < 128; ++i) {
        edid[i] = 0x00;
    }
    const std::string command = bytesOf(uploadEdidCommand(9, 2, edid));
    ASSERT_EQ(command.size(), 790U);
    std::string expected = "SET IN9 EDID U2 DATA ";
    for (int i = 0; i < 128; ++i) {
        expected += "00 ";
    }
    for (int i = 0; i < 127; ++i) {
        expected += "FF ";
    }
    expected += "FF\r\n";
    EXPECT_EQ(command, expected);
}

TEST(UploadEdidCommand, RefusesInputsAndSlotsOutOfRange) {
    const auto edid = countingEdid();
    EXPECT_FALSE(uploadEdidCommand(0, 1, edid));
    EXPECT_FALSE(uploadEdidCommand(17, 1, edid));
    EXPECT_FALSE(uploadEdidCommand(1, 0, edid));
    EXPECT_FALSE(uploadEdidCommand(1, 4, edid));
}

TEST(NetworkSettings, OctetsAreThreeDigitsWithLeadingZeros) {
    EXPECT_EQ(threeDigitOctet(0), "000");
    EXPECT_EQ(threeDigitOctet(5), "005");
    EXPECT_EQ(threeDigitOctet(64), "064");
    EXPECT_EQ(threeDigitOctet(255), "255");
    const auto address = Ipv4Address::fromUint32(0xC0A80164U);
    EXPECT_EQ(dottedAddress(address), "192.168.001.100");
    EXPECT_EQ(address.toUint32(), 0xC0A80164U);
}

TEST(NetworkSettings, DhcpOnSendsNoAddressLines) {
    NetworkSettings settings;
    settings.dhcp = true;
    settings.host = Ipv4Address::fromUint32(0x01020304U);
    settings.tcpPort = "5000";
    EXPECT_EQ(bytesOf(networkSettingsCommand(settings)), "\r\nSET DHCP 1\r\nSET TIP 5000\r\n");
}

TEST(NetworkSettings, DhcpOffSendsTheAddressesRouterWithoutBlank) {
    NetworkSettings settings;
    settings.dhcp = false;
    settings.host = {{192, 168, 1, 100}};
    settings.netMask = {{255, 255, 255, 0}};
    settings.router = {{192, 168, 1, 1}};
    settings.tcpPort = "8000";
    EXPECT_EQ(bytesOf(networkSettingsCommand(settings)), "\r\nSET DHCP 0\r\n"
                                                         "SET HIP 192.168.001.100\r\n"
                                                         "SET NMK 255.255.255.000\r\n"
                                                         "SET RIP192.168.001.001\r\n"
                                                         "SET TIP 8000\r\n");
}

TEST(NetworkSettings, MacLineComesLastOnlyWhenGivenAndTextsGoUnchecked) {
    NetworkSettings settings;
    settings.dhcp = true;
    settings.tcpPort = "";
    settings.mac = "00-1A-2B-3C-4D-5E";
    EXPECT_EQ(bytesOf(networkSettingsCommand(settings)), "\r\nSET DHCP 1\r\nSET TIP \r\nSET MAC 00-1A-2B-3C-4D-5E\r\n");
    settings.mac = "";
    EXPECT_EQ(bytesOf(networkSettingsCommand(settings)), "\r\nSET DHCP 1\r\nSET TIP \r\nSET MAC \r\n");
}

TEST(NetworkSettings, RefusesTextsThatWouldOverflowOrSplitTheBlock) {
    NetworkSettings settings;
    settings.tcpPort = "12345";
    EXPECT_FALSE(networkSettingsCommand(settings));
    settings.tcpPort = "80\r";
    EXPECT_FALSE(networkSettingsCommand(settings));
    settings.tcpPort = "80";
    settings.mac = "AA\r\nSET DHCP 1";
    EXPECT_FALSE(networkSettingsCommand(settings));

    // The longest MAC text the page takes gives exactly the write buffer
    // with the longest of the other lines.
    settings.dhcp = false;
    settings.tcpPort = "8000";
    settings.mac = std::string(kMacTextMaxLength, 'A');
    const auto fits = networkSettingsCommand(settings);
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->size(), kWriteBufferSize);
    settings.mac->push_back('A');
    EXPECT_FALSE(networkSettingsCommand(settings));
    settings.mac = std::string(1 << 20, 'A');
    EXPECT_FALSE(networkSettingsCommand(settings));
}

TEST(ProbeCommand, IsElevenBytes) {
    EXPECT_EQ(probeCommand().bytes(), "\r\nGET STA\r\n");
    EXPECT_EQ(probeCommand().size(), 11U);
}

} // namespace
} // namespace mc
