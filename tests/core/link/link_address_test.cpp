#include "link/link_address.h"

#include <gtest/gtest.h>
#include <string>

namespace mc {
namespace {

struct GoodCase {
    const char* text;
    LinkAddress expected;
    const char* canonical;
};

class GoodLinkAddress : public ::testing::TestWithParam<GoodCase> {};

TEST_P(GoodLinkAddress, parsesToTheAddressAndFormatsBackToItsCanonicalText) {
    const GoodCase& c = GetParam();
    const LinkAddressResult result = parseLinkAddress(c.text);
    ASSERT_TRUE(std::holds_alternative<LinkAddress>(result))
        << c.text << ": " << std::get<LinkAddressError>(result).message;
    const auto& address = std::get<LinkAddress>(result);
    EXPECT_EQ(address, c.expected) << c.text;
    EXPECT_EQ(formatLinkAddress(address), c.canonical);
    // The canonical text is itself an address and means the same.
    const LinkAddressResult again = parseLinkAddress(formatLinkAddress(address));
    ASSERT_TRUE(std::holds_alternative<LinkAddress>(again));
    EXPECT_EQ(std::get<LinkAddress>(again), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, GoodLinkAddress,
    ::testing::Values(GoodCase{"COM3", SerialLinkAddress{3, {}}, "COM3"},
                      GoodCase{"com1", SerialLinkAddress{1, {}}, "COM1"},
                      GoodCase{"COM99", SerialLinkAddress{99, {}}, "COM99"},
                      GoodCase{"\\\\.\\COM12", SerialLinkAddress{12, {}}, "COM12"},
                      GoodCase{"/dev/ttyUSB0", SerialLinkAddress{0, "/dev/ttyUSB0"}, "/dev/ttyUSB0"},
                      GoodCase{"/tmp/ports/com1", SerialLinkAddress{0, "/tmp/ports/com1"}, "/tmp/ports/com1"},
                      GoodCase{"192.168.0.100:5000", TcpLinkAddress{"192.168.0.100", 5000}, "192.168.0.100:5000"},
                      GoodCase{"switcher.local:23", TcpLinkAddress{"switcher.local", 23}, "switcher.local:23"},
                      GoodCase{"localhost:65535", TcpLinkAddress{"localhost", 65535}, "localhost:65535"},
                      GoodCase{"host:1", TcpLinkAddress{"host", 1}, "host:1"},
                      GoodCase{"host:00080", TcpLinkAddress{"host", 80}, "host:80"},
                      GoodCase{"tcp://127.0.0.1:4001", TcpLinkAddress{"127.0.0.1", 4001}, "127.0.0.1:4001"},
                      GoodCase{"TCP://my-switcher_1:4001", TcpLinkAddress{"my-switcher_1", 4001}, "my-switcher_1:4001"},
                      GoodCase{"[::1]:5000", TcpLinkAddress{"::1", 5000}, "[::1]:5000"},
                      GoodCase{"[::]:5000", TcpLinkAddress{"::", 5000}, "[::]:5000"},
                      GoodCase{"[2001:db8::8a2e:370:7334]:80", TcpLinkAddress{"2001:db8::8a2e:370:7334", 80},
                               "[2001:db8::8a2e:370:7334]:80"},
                      GoodCase{"[2001:0db8:0000:0000:0000:ff00:0042:8329]:1",
                               TcpLinkAddress{"2001:0db8:0000:0000:0000:ff00:0042:8329", 1},
                               "[2001:0db8:0000:0000:0000:ff00:0042:8329]:1"},
                      GoodCase{"[::ffff:192.168.0.1]:5000", TcpLinkAddress{"::ffff:192.168.0.1", 5000},
                               "[::ffff:192.168.0.1]:5000"},
                      GoodCase{"[fe80::1%eth0]:5000", TcpLinkAddress{"fe80::1%eth0", 5000}, "[fe80::1%eth0]:5000"},
                      GoodCase{"tcp://[::1]:7", TcpLinkAddress{"::1", 7}, "[::1]:7"}));

struct BadCase {
    std::string text;
    LinkAddressProblem problem;
};

class BadLinkAddress : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadLinkAddress, isRefusedWithTheProblemNamed) {
    const BadCase& c = GetParam();
    const LinkAddressResult result = parseLinkAddress(c.text);
    ASSERT_TRUE(std::holds_alternative<LinkAddressError>(result)) << c.text;
    const auto& error = std::get<LinkAddressError>(result);
    EXPECT_EQ(error.problem, c.problem) << c.text << ": " << error.message;
    EXPECT_NE(error.message.find("link address"), std::string::npos) << error.message;
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadLinkAddress,
    ::testing::Values(
        BadCase{"", LinkAddressProblem::Empty},
        BadCase{std::string(kLinkAddressMaxLength + 1, 'a'), LinkAddressProblem::TooLong},
        BadCase{"COM 3", LinkAddressProblem::Blank}, BadCase{" COM3", LinkAddressProblem::Blank},
        BadCase{"host:50 00", LinkAddressProblem::Blank}, BadCase{"host\t:5", LinkAddressProblem::Blank},
        BadCase{"COM3\n", LinkAddressProblem::ControlCharacter},
        BadCase{std::string("COM\0"
                            "3",
                            5),
                LinkAddressProblem::ControlCharacter},
        BadCase{"COM0", LinkAddressProblem::ComNumber}, BadCase{"COM100", LinkAddressProblem::ComNumber},
        BadCase{"COM03", LinkAddressProblem::ComNumber}, BadCase{"\\\\.\\COM0", LinkAddressProblem::ComNumber},
        BadCase{"\\\\.\\LPT1", LinkAddressProblem::BadDevicePath},
        BadCase{"udp://host:5000", LinkAddressProblem::UnknownScheme},
        BadCase{"://host:5000", LinkAddressProblem::UnknownScheme}, BadCase{"host", LinkAddressProblem::NoPort},
        BadCase{"COMX", LinkAddressProblem::NoPort}, BadCase{"host:", LinkAddressProblem::NoPort},
        BadCase{"tcp://host", LinkAddressProblem::NoPort}, BadCase{"[::1]", LinkAddressProblem::NoPort},
        BadCase{"[::1]:", LinkAddressProblem::NoPort}, BadCase{"host:http", LinkAddressProblem::BadPort},
        BadCase{"host:-1", LinkAddressProblem::BadPort}, BadCase{"host:+80", LinkAddressProblem::BadPort},
        BadCase{"tcp://host:80/", LinkAddressProblem::BadPort}, BadCase{"host:0", LinkAddressProblem::PortOutOfRange},
        BadCase{"host:000", LinkAddressProblem::PortOutOfRange},
        BadCase{"host:65536", LinkAddressProblem::PortOutOfRange},
        BadCase{"host:99999999999999999999", LinkAddressProblem::PortOutOfRange},
        BadCase{":5000", LinkAddressProblem::EmptyHost}, BadCase{"tcp://:5000", LinkAddressProblem::EmptyHost},
        BadCase{"[]:5000", LinkAddressProblem::EmptyHost}, BadCase{"ho$t:5000", LinkAddressProblem::BadHost},
        BadCase{"user@host:5000", LinkAddressProblem::BadHost}, BadCase{"[::1:5000", LinkAddressProblem::BadBrackets},
        BadCase{"::1]:5000", LinkAddressProblem::BadBrackets}, BadCase{"[::1]5000", LinkAddressProblem::BadBrackets},
        BadCase{"[[::1]]:5000", LinkAddressProblem::BadBrackets},
        BadCase{"host[1]:5000", LinkAddressProblem::BadBrackets},
        BadCase{"[127.0.0.1]:5000", LinkAddressProblem::BadIpv6}, BadCase{"[host]:5000", LinkAddressProblem::BadIpv6},
        BadCase{"[1:2:3:4:5:6:7:8:9]:5000", LinkAddressProblem::BadIpv6},
        BadCase{"[1:2:3:4:5:6:7]:5000", LinkAddressProblem::BadIpv6},
        // "::" stands for at least one group: eight more groups beside it are too many.
        BadCase{"[1:2:3:4::5:6:7:8]:5000", LinkAddressProblem::BadIpv6},
        BadCase{"[1:2:3:4:5:6:7:8::]:5000", LinkAddressProblem::BadIpv6},
        BadCase{"[1::2::3]:5000", LinkAddressProblem::BadIpv6}, BadCase{"[:::1]:5000", LinkAddressProblem::BadIpv6},
        BadCase{"[12345::1]:5000", LinkAddressProblem::BadIpv6},
        BadCase{"[::ffff:300.1.1.1]:5000", LinkAddressProblem::BadIpv6},
        BadCase{"[fe80::1%]:5000", LinkAddressProblem::BadIpv6},
        BadCase{"::1:5000", LinkAddressProblem::UnbracketedIpv6},
        BadCase{"2001:db8::1:80", LinkAddressProblem::UnbracketedIpv6}));

TEST(LinkAddress, anOverlongAddressIsNotRepeatedInItsMessage) {
    const auto result = parseLinkAddress(std::string(100000, 'x'));
    ASSERT_TRUE(std::holds_alternative<LinkAddressError>(result));
    EXPECT_LT(std::get<LinkAddressError>(result).message.size(), 200U);
}

TEST(LinkAddress, theLongestAllowedHostIsTaken) {
    const std::string text = std::string(kLinkAddressMaxLength - 6, 'h') + ":65535";
    ASSERT_EQ(text.size(), kLinkAddressMaxLength);
    EXPECT_TRUE(std::holds_alternative<LinkAddress>(parseLinkAddress(text)));
}

} // namespace
} // namespace mc
