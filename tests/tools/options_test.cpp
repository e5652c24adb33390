#include "sim/options.h"

#include <gtest/gtest.h>

namespace mc::sim {
namespace {

std::optional<Options> parse(std::initializer_list<std::string_view> args, std::string& error) {
    const std::vector<std::string_view> list(args);
    return parseOptions(list, error);
}

TEST(Options, pseudoTerminalAndDeviceLinesWithEveryMode) {
    std::string error;
    auto pty = parse({"--ports", "/tmp/p", "--com", "7", "--log=/tmp/sim.log"}, error);
    ASSERT_TRUE(pty) << error;
    EXPECT_EQ(pty->portsDir, "/tmp/p");
    EXPECT_EQ(pty->com, 7);
    EXPECT_EQ(pty->logFile, "/tmp/sim.log");
    EXPECT_EQ(pty->session.mode, Mode::normal);

    auto device = parse({"--device", "/dev/ttyUSB0", "--mode", "garbage"}, error);
    ASSERT_TRUE(device) << error;
    EXPECT_EQ(device->device, "/dev/ttyUSB0");
    EXPECT_EQ(device->session.mode, Mode::garbage);

    const std::pair<std::vector<std::string_view>, std::pair<Mode, std::uint64_t>> modes[] = {
        {{"--mode=silent"}, {Mode::silent, 0}},
        {{"--mode", "hangup"}, {Mode::hangup, 0}},
        {{"--hangup-after", "11"}, {Mode::hangup, 11}},
        {{"--mode", "hangup", "--hangup-after=40"}, {Mode::hangup, 40}},
    };
    for (const auto& [extra, expected] : modes) {
        std::vector<std::string_view> args{"--device", "/dev/ttyS0"};
        args.insert(args.end(), extra.begin(), extra.end());
        const auto options = parseOptions(args, error);
        ASSERT_TRUE(options) << error;
        EXPECT_EQ(options->session.mode, expected.first);
        EXPECT_EQ(options->session.hangupAfter, expected.second);
    }
    EXPECT_TRUE(parse({"--help"}, error)->help);
    const auto version = parse({"--version"}, error);
    ASSERT_TRUE(version) << error;
    EXPECT_TRUE(version->version);
    EXPECT_FALSE(version->help);
}

TEST(Options, inconsistentOrMalformedArgumentsAreRefusedWithAReason) {
    const std::vector<std::string_view> cases[] = {
        {},
        {"--ports", "/tmp/p"},
        {"--com", "3"},
        {"--ports", "/tmp/p", "--com", "3", "--device", "/dev/ttyS0"},
        {"--ports", "/tmp/p", "--com", "0"},
        {"--ports", "/tmp/p", "--com", "100"},
        {"--ports", "/tmp/p", "--com", "3x"},
        {"--ports", "/tmp/p", "--com"},
        {"--device", "/dev/ttyS0", "--mode", "loud"},
        {"--device", "/dev/ttyS0", "--mode", "silent", "--hangup-after", "3"},
        {"--device", "/dev/ttyS0", "--hangup-after", "-1"},
        {"--device", "/dev/ttyS0", "--verbose"},
    };
    for (const auto& args : cases) {
        std::string error;
        EXPECT_FALSE(parseOptions(args, error));
        EXPECT_FALSE(error.empty());
    }
}

} // namespace
} // namespace mc::sim
