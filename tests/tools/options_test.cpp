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
        {"--device", "/dev/ttyS0", "--control="},
        {"--device", "/dev/ttyS0", "--unanswered-output", "0"},
        {"--device", "/dev/ttyS0", "--unanswered-output", "17"},
        {"--device", "/dev/ttyS0", "--unanswered-output", "3 "},
    };
    for (const auto& args : cases) {
        std::string error;
        EXPECT_FALSE(parseOptions(args, error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(Options, controlInputAndUnansweredOutputs) {
    std::string error;
    const auto options = parse(
        {"--listen", "127.0.0.1:0", "--control", "/tmp/panel", "--unanswered-output", "16", "--unanswered-output=3"},
        error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->control, "/tmp/panel");
    for (int output = 1; output <= kPortCount; ++output) {
        EXPECT_EQ(options->faults.routeUnanswered(output), output == 3 || output == 16) << output;
    }
    EXPECT_EQ(parse({"--listen", "127.0.0.1:0", "--control=-"}, error)->control, "-");
    EXPECT_FALSE(parse({"--listen", "127.0.0.1:0"}, error)->faults.routeUnanswered(1));
}

TEST(Options, listenAloneOrBesideASerialLine) {
    std::string error;
    const std::pair<std::vector<std::string_view>, std::pair<std::string, int>> good[] = {
        {{"--listen", "127.0.0.1:0"}, {"127.0.0.1", 0}},
        {{"--listen=127.0.0.1:65535"}, {"127.0.0.1", 65535}},
        {{"--listen", "localhost:5000"}, {"localhost", 5000}},
        {{"--listen", "[::1]:23"}, {"::1", 23}},
        {{"--listen", "[::]:8000", "--ports", "/tmp/p", "--com", "2"}, {"::", 8000}},
        {{"--device", "/dev/ttyS0", "--listen", "0.0.0.0:4001", "--hangup-after", "9"}, {"0.0.0.0", 4001}},
    };
    for (const auto& [args, expected] : good) {
        const auto options = parseOptions(args, error);
        ASSERT_TRUE(options) << error;
        ASSERT_TRUE(options->listen);
        EXPECT_EQ(options->listen->host, expected.first);
        EXPECT_EQ(options->listen->port, expected.second);
    }
    EXPECT_EQ(bindHost(*parse({"--listen", "localhost:1"}, error)->listen), "127.0.0.1");
    EXPECT_TRUE(parse({"--listen", "[::1]:1"}, error)->listen->isIpv6());
    EXPECT_FALSE(parse({"--listen", "127.0.0.1:1"}, error)->listen->isIpv6());
}

TEST(Options, malformedListenAddressesNameTheFault) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"127.0.0.1", "no port"},
        {"127.0.0.1:", "no port"},
        {"[::1]", "no port"},
        {"[::1]:", "no port"},
        {":5000", "no host"},
        {"[]:5000", "no host"},
        {"127.0.0.1:65536", "above 65535"},
        {"127.0.0.1:99999999999999999999999", "above 65535"},
        {"127.0.0.1:-1", "not a number"},
        {"127.0.0.1:50x", "not a number"},
        {"127.0.0.1: 50", "not a number"},
        {"::1:5000", "brackets"},
        {"[::1:5000", "']'"},
        {"[127.0.0.1]:5000", "not an IPv6 address"},
        {"[::1]x:5000", "no port"},
        {"300.1.1.1:5000", "not an IPv4 address"},
        {"switcher.example:5000", "not looked up"},
        {"127.0.0.1 :5000", "not an IPv4 address"},
    };
    for (const auto& [address, fault] : cases) {
        std::string error;
        const std::vector<std::string_view> args{"--listen", address};
        EXPECT_FALSE(parseOptions(args, error)) << address;
        EXPECT_NE(error.find(fault), std::string::npos) << address << ": " << error;
        EXPECT_NE(error.find(address), std::string::npos) << error;
    }
}

} // namespace
} // namespace mc::sim
