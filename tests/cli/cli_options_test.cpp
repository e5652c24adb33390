// The command line of matrix-ctl: what it takes, and that everything else is
// refused as a usage error before anything could be sent.
#include "cli_options.h"
#include "edid/edid_choices.h"

#include <array>
#include <cctype>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace mc::ctl {
namespace {

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;) {
        out.push_back(w);
    }
    return out;
}

ParseResult parse(const std::string& line) {
    return parseCommandLine(words(line));
}

struct Refused {
    const char* line;
    const char* says; // part of the message
};

class RefusedCommandLine : public ::testing::TestWithParam<Refused> {};

TEST_P(RefusedCommandLine, isAUsageErrorNamingTheProblemWithTheUsageLine) {
    const Refused& c = GetParam();
    const ParseResult result = parse(c.line);
    ASSERT_EQ(result.outcome, ParseResult::Error) << c.line;
    EXPECT_NE(result.text.find(c.says), std::string::npos) << c.line << " gave: " << result.text;
    EXPECT_NE(result.text.find("usage: matrix-ctl"), std::string::npos) << result.text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedCommandLine,
    ::testing::Values(
        Refused{"", "no COMMAND"}, Refused{"frobnicate", "unknown command \"frobnicate\""},
        Refused{"route 0 5", "OUTPUT must be 1 to 16, not \"0\""},
        Refused{"route 17 5", "OUTPUT must be 1 to 16, not \"17\""}, Refused{"route x 5", "not \"x\""},
        Refused{"route -1 5", "not \"-1\""}, Refused{"route 3 0", "INPUT must be 1 to 16"},
        Refused{"route 3 17", "INPUT must be 1 to 16"}, Refused{"route 3 05x", "INPUT must be 1 to 16"},
        Refused{"route 3", "missing INPUT"}, Refused{"route", "missing OUTPUT"},
        Refused{"route 3 5 7", "unexpected argument \"7\""}, Refused{"audio 3", "missing on or mute"},
        Refused{"audio 3 loud", "on or mute, not \"loud\""}, Refused{"audio 17 on", "OUTPUT must be 1 to 16"},
        Refused{"edid", "edid needs a subcommand"}, Refused{"edid burn 1 2", "unknown subcommand \"burn\""},
        Refused{"edid set 1", "missing ITEM"}, Refused{"edid set 1 0", "ITEM must be 1 to 49"},
        Refused{"edid set 1 50", "ITEM must be 1 to 49"}, Refused{"edid set 1 NoSuchEdid", "ITEM must be"},
        Refused{"edid set 0 1", "INPUT must be 1 to 16"}, Refused{"edid copy 1 17", "OUTPUT must be 1 to 16"},
        Refused{"edid read out 2", "missing -o FILE"}, Refused{"edid read side 2 -o f", "\"out N\" or \"in N\""},
        Refused{"edid read out 0 -o f", "the output must be 1 to 16"},
        Refused{"edid read out 2 5 -o f", "unexpected argument \"5\""},
        Refused{"edid read in 2 34 -o f", "ITEM must be an EDID source 1 to 33"},
        Refused{"edid read in 2 -o", "missing FILE after -o"}, Refused{"edid write 1 4 f.bin", "SLOT must be 1 to 3"},
        Refused{"edid write 1 0 f.bin", "SLOT must be 1 to 3"}, Refused{"edid write 1 1", "missing FILE"},
        Refused{"edid write 17 1 f.bin", "INPUT must be 1 to 16"}, Refused{"edid decode", "missing FILE"},
        Refused{"net", "net needs a subcommand"}, Refused{"net set", "at least one setting"},
        Refused{"net set --host 300.1.1.1", "dotted address"}, Refused{"net set --host 1.2.3", "dotted address"},
        Refused{"net set --mask 255.255.255.0.0", "dotted address"}, Refused{"net set --dhcp maybe", "on or off"},
        Refused{"net set --tcp-port 0", "--tcp-port must be"},
        Refused{"net set --tcp-port 10000", "--tcp-port must be"},
        Refused{"net set --mac 00:11:22:33:44", "--mac needs six"}, Refused{"net set --mac 00:11:22-33:44:55", "--mac"},
        Refused{"net set --speed 9", "unknown option \"--speed\""}, Refused{"net set --host", "missing an address"},
        Refused{"net set --dhcp on --host 10.0.0.2", "only with DHCP off"}, Refused{"send", "missing TEXT"},
        Refused{"search now", "unexpected argument"}, Refused{"status --link", "--link needs an ADDRESS"},
        Refused{"--link host:0 status", "TCP port 0 is out of range"}, Refused{"--link COM100 status", "1 to 99"},
        Refused{"--timeout 0 status", "--timeout needs milliseconds"},
        Refused{"--timeout x status", "--timeout needs milliseconds"},
        Refused{"--timeout 600001 status", "--timeout needs milliseconds"}));

TEST(CommandLine, routeTakesOutputThenInputAndTheGlobalOptionsAnywhere) {
    const ParseResult r = parse("route 3 5 --json --link COM4 --timeout 500 --quiet");
    ASSERT_EQ(r.outcome, ParseResult::Run) << r.text;
    EXPECT_EQ(r.invocation.command, Command::Route);
    EXPECT_EQ(r.invocation.output, 3);
    EXPECT_EQ(r.invocation.input, 5);
    EXPECT_TRUE(r.invocation.json);
    EXPECT_TRUE(r.invocation.quiet);
    EXPECT_EQ(r.invocation.timeoutMs, 500);
    ASSERT_TRUE(r.invocation.link);
    EXPECT_EQ(*r.invocation.link, LinkAddress(SerialLinkAddress{4, {}}));
}

TEST(CommandLine, portsSixteenAndOneAreTheEdgesTaken) {
    const ParseResult r = parse("route 16 1");
    ASSERT_EQ(r.outcome, ParseResult::Run) << r.text;
    EXPECT_EQ(r.invocation.output, 16);
    EXPECT_EQ(r.invocation.input, 1);
}

TEST(CommandLine, optionValuesMayBeJoinedWithAnEqualsSign) {
    const ParseResult r = parse("--link=[::1]:5000 --timeout=250 status");
    ASSERT_EQ(r.outcome, ParseResult::Run) << r.text;
    EXPECT_EQ(*r.invocation.link, LinkAddress(TcpLinkAddress{"::1", 5000}));
    EXPECT_EQ(r.invocation.timeoutMs, 250);
}

TEST(CommandLine, edidSetTakesTheOneBasedNumberOrTheNameAsListed) {
    EXPECT_EQ(parse("edid set 7 13").invocation.item, 12);
    EXPECT_EQ(parse("edid set 7 49").invocation.item, 48);
    // Listed with a trailing blank; typed without it.
    EXPECT_EQ(parseCommandLine({"edid", "set", "7", "1080P_2CH(PCM)"}).invocation.item, 0);
    EXPECT_EQ(parseCommandLine({"edid", "set", "7", "1080P_2CH(PCM) "}).invocation.item, 0);
    EXPECT_EQ(parseCommandLine({"edid", "set", "7", "From Out3"}).invocation.item, 35);
    // Any case, any run of blanks for a blank, or none.
    EXPECT_EQ(parseCommandLine({"edid", "set", "7", "from out3"}).invocation.item, 35);
    EXPECT_EQ(parseCommandLine({"edid", "set", "7", "1080p_ audio5.1"}).invocation.item, 1);
    EXPECT_EQ(parseCommandLine({"edid", "set", "7", " 1080P_   AUDIO5.1 "}).invocation.item, 1);
    EXPECT_EQ(parseCommandLine({"edid", "set", "7", "1080p_audio5.1"}).invocation.item, 1);
    EXPECT_EQ(parseCommandLine({"edid", "set", "7", "1080p_audio5.1_hdr"}).invocation.item, 16);
    EXPECT_EQ(parseCommandLine({"edid", "set", "7", "fromout16"}).invocation.item, 48);
    // Only the sources where an output's copy is no choice.
    EXPECT_EQ(parseCommandLine({"edid", "read", "in", "2", "user edid2", "-o", "f"}).invocation.readSource, 31);
    EXPECT_EQ(parseCommandLine({"edid", "read", "in", "2", "from out1", "-o", "f"}).outcome, ParseResult::Error);
    EXPECT_EQ(parseCommandLine({"edid", "set", "7", "1080p audio5.1"}).outcome, ParseResult::Error);
    EXPECT_EQ(parseCommandLine({"edid", "set", "7", "   "}).outcome, ParseResult::Error);
}

TEST(CommandLine, aNameMatchesWhereThatLeavesOneChoiceAndTheExactNameFirst) {
    const std::array<std::string_view, 4> names{"Mode A", "MODE a", "Mode  B ", "modeb"};
    EXPECT_EQ(matchItemName(names, "MODE a"), 1) << "letter for letter first";
    EXPECT_EQ(matchItemName(names, "Mode  B"), 2);
    EXPECT_FALSE(matchItemName(names, "mode a")) << "two names fold alike: no guess";
    EXPECT_EQ(matchItemName(names, "mode b"), 2) << "blanks kept before blanks dropped";
    EXPECT_EQ(matchItemName(names, "MODEB"), 3);
    EXPECT_FALSE(matchItemName(names, "mode"));
    EXPECT_FALSE(matchItemName(names, ""));
    // Every listed name is found as listed and in lower case with blanks dropped.
    for (int item = 0; item < kInputEdidItemCount; ++item) {
        std::string typed;
        for (const char c : kInputEdidItems.at(static_cast<std::size_t>(item))) {
            if (c != ' ') {
                typed.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
            }
        }
        EXPECT_EQ(matchItemName(kInputEdidItems, typed), item) << typed;
    }
}

TEST(CommandLine, edidListNeedsNoLinkAndTakesNoArgument) {
    const ParseResult r = parse("edid list");
    ASSERT_EQ(r.outcome, ParseResult::Run) << r.text;
    EXPECT_EQ(r.invocation.command, Command::EdidList);
    EXPECT_FALSE(needsLink(Command::EdidList));
    EXPECT_EQ(parse("edid list 3").outcome, ParseResult::Error);
}

TEST(CommandLine, edidReadOfAnInputTakesAnOptionalSourceAndForce) {
    const ParseResult r = parse("edid read in 4 31 -o x.bin --force");
    ASSERT_EQ(r.outcome, ParseResult::Run) << r.text;
    EXPECT_FALSE(r.invocation.readOutput);
    EXPECT_EQ(r.invocation.readPort, 4);
    EXPECT_EQ(r.invocation.readSource, 30);
    EXPECT_EQ(r.invocation.file, "x.bin");
    EXPECT_TRUE(r.invocation.force);
    const ParseResult current = parse("edid read in 4 -o x.bin");
    ASSERT_EQ(current.outcome, ParseResult::Run);
    EXPECT_FALSE(current.invocation.readSource);
    EXPECT_FALSE(current.invocation.force);
}

TEST(CommandLine, netSetKeepsOnlyWhatIsGiven) {
    const ParseResult r = parse("net set --dhcp off --host 10.0.0.5 --mac 00-1a-2b-3c-4d-5e");
    ASSERT_EQ(r.outcome, ParseResult::Run) << r.text;
    EXPECT_EQ(r.invocation.net.dhcp, false);
    ASSERT_TRUE(r.invocation.net.host);
    EXPECT_EQ(dottedDecimal(*r.invocation.net.host), "10.0.0.5");
    EXPECT_FALSE(r.invocation.net.mask);
    EXPECT_FALSE(r.invocation.net.tcpPort);
    EXPECT_EQ(r.invocation.net.mac, "00:1A:2B:3C:4D:5E");
}

TEST(CommandLine, sendTakesTextAfterTheEndOfOptions) {
    const ParseResult r = parseCommandLine({"send", "--", "--json"});
    ASSERT_EQ(r.outcome, ParseResult::Run) << r.text;
    EXPECT_EQ(r.invocation.text, "--json");
    EXPECT_FALSE(r.invocation.json);
    EXPECT_EQ(parseCommandLine({"send", "GET STA\r\nSET OUT1  VS IN2 "}).outcome, ParseResult::Error);
    EXPECT_EQ(parseCommandLine({"send", std::string(1021, 'A')}).outcome, ParseResult::Error);
    EXPECT_EQ(parseCommandLine({"send", std::string(1020, 'A')}).outcome, ParseResult::Run);
}

TEST(CommandLine, helpAndVersionAreAnsweredWithoutACommandRun) {
    EXPECT_EQ(parse("--help").outcome, ParseResult::Help);
    EXPECT_EQ(parse("--version").outcome, ParseResult::Version);
    const ParseResult routeHelp = parse("route --help");
    ASSERT_EQ(routeHelp.outcome, ParseResult::Help);
    EXPECT_NE(routeHelp.text.find("route OUTPUT INPUT"), std::string::npos);
    const ParseResult edidHelp = parse("help edid write");
    ASSERT_EQ(edidHelp.outcome, ParseResult::Help);
    EXPECT_NE(edidHelp.text.find("--pad"), std::string::npos);
    // Help wins over arguments that would be refused.
    EXPECT_EQ(parse("route 99 --help").outcome, ParseResult::Help);
}

TEST(CommandLine, valueParsersRefuseWhatTheSwitcherCannotTake) {
    EXPECT_EQ(parsePortNumber("16"), 16);
    EXPECT_FALSE(parsePortNumber("+3"));
    EXPECT_FALSE(parsePortNumber(""));
    EXPECT_FALSE(parsePortNumber("99999999999999"));
    EXPECT_EQ(parseIpv4("0.0.0.0").has_value(), true);
    EXPECT_FALSE(parseIpv4("1.2.3.4."));
    EXPECT_FALSE(parseIpv4(".1.2.3"));
    EXPECT_FALSE(parseIpv4("1..2.3"));
    EXPECT_FALSE(parseIpv4("1.2.3.0255"));
    EXPECT_EQ(normaliseMac("001a2b3c4d5e"), "00:1A:2B:3C:4D:5E");
    EXPECT_FALSE(normaliseMac("00:1a:2b:3c:4d:5e:"));
    EXPECT_FALSE(normaliseMac(":00:1a:2b:3c:4d:5e"));
    EXPECT_FALSE(normaliseMac("00::1a:2b:3c:4d:5e"));
    EXPECT_FALSE(normaliseMac("0:01a:2b:3c:4d:5e"));
    EXPECT_FALSE(normaliseMac("00:1a:2b:3c:4d:5g"));
}

} // namespace
} // namespace mc::ctl
