#include "sim/builtin_edids.h"
#include "sim/command_interpreter.h"
#include "sim/reply_lines.h"
#include "tools/sim_test_util.h"

#include <cctype>
#include <gtest/gtest.h>

namespace mc::sim {
namespace {

using test::bytesOf;
using test::dataFile;
using test::patternImage;
using test::uploadLine;
using Lines = std::vector<std::string>;

// Everything a reply can report, to see that a refused command changed nothing.
Lines snapshot(const SwitcherState& state) {
    Lines all = statusReplies(state);
    for (int input = 1; input <= kPortCount; ++input) {
        for (int slot = 1; slot <= kUserSlotCount; ++slot) {
            all.push_back(toHexText(state.userSlot(input, slot)));
        }
    }
    return all;
}

class CommandInterpreterTest : public ::testing::Test {
protected:
    Lines run(std::string_view line) { return interpreter.execute(line); }

    SwitcherState state;
    CommandInterpreter interpreter{state};
};

// Command lines below are byte for byte what the console sends between its
// CR LF framing: two-character port fields ("1 " to "9 ", "10" to "16").
struct RouteCase {
    std::string_view line;
    int output;
    int input;
    std::string_view reply;
};

TEST_F(CommandInterpreterTest, routingCommandsSwitchTheOutputAndReportIt) {
    const RouteCase cases[] = {
        {"SET OUT1  VS IN2 ", 1, 2, "OUT1 VS IN2\r\n"},     {"SET OUT12 VS IN3 ", 12, 3, "OUT12 VS IN3\r\n"},
        {"SET OUT16 VS IN16", 16, 16, "OUT16 VS IN16\r\n"}, {"SET OUT10 VS IN16", 10, 16, "OUT10 VS IN16\r\n"},
        {"SET OUT9  VS IN10", 9, 10, "OUT9 VS IN10\r\n"},   {"SET OUT3  VS IN1 ", 3, 1, "OUT3 VS IN1\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.line), Lines{std::string(c.reply)}) << c.line;
        EXPECT_EQ(state.routedInput(c.output), c.input) << c.line;
    }
    EXPECT_EQ(state.routedInput(2), 2) << "other outputs keep their input";
}

TEST_F(CommandInterpreterTest, audioCommandsMuteAndUnmuteOneOutput) {
    EXPECT_EQ(run("SET OUT1  EXA DIS"), Lines{"OUT1 EXA DIS\r\n"});
    EXPECT_FALSE(state.audioOn(1));
    EXPECT_EQ(run("SET OUT12 EXA DIS"), Lines{"OUT12 EXA DIS\r\n"});
    EXPECT_EQ(run("SET OUT12 EXA  EN"), Lines{"OUT12 EXA EN\r\n"});
    EXPECT_TRUE(state.audioOn(12));
    EXPECT_FALSE(state.audioOn(1));
    EXPECT_TRUE(state.audioOn(2));
}

struct EdidChoiceCase {
    std::string_view line;
    int input;
    int choice;
    std::string_view reply;
};

TEST_F(CommandInterpreterTest, applyEdidCommandsSetTheChoiceOfOneInput) {
    const EdidChoiceCase cases[] = {
        {"SET IN1  EDID 05", 1, 5, "IN1 EDID 05\r\n"},
        {"SET IN12 EDID 31", 12, 31, "IN12 EDID 31\r\n"},
        {"SET IN9  EDID 32", 9, 32, "IN9 EDID 32\r\n"},
        {"SET IN2  EDID 00", 2, 0, "IN2 EDID 00\r\n"},
        // The copy form: choice 32 + output, as the console lists "From OutN".
        {"SET IN10 EDIDCY OUT 16", 10, 48, "IN10 EDID 48\r\n"},
        {"SET IN1  EDIDCY OUT 1 ", 1, 33, "IN1 EDID 33\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.line), Lines{std::string(c.reply)}) << c.line;
        EXPECT_EQ(state.edidChoice(c.input), c.choice) << c.line;
    }
}

TEST_F(CommandInterpreterTest, outputReadsAnswerWithThatDisplaysRealEdid) {
    // Output n shows file (n - 1) mod 6 of tools/data/.
    struct Case {
        std::string_view line;
        std::string_view prefix;
        std::string file;
    };
    const Case cases[] = {
        {"GET OUT1  EDID  DATA", "OUT1 EDID DATA ", "019-sony-sny2b05"},
        {"GET OUT2  EDID  DATA", "OUT2 EDID DATA ", "042-panasonic-meia296"},
        {"GET OUT6  EDID  DATA", "OUT6 EDID DATA ", "004-dell-dela1cf"},
        {"GET OUT7  EDID  DATA", "OUT7 EDID DATA ", "019-sony-sny2b05"},
        {"GET OUT16 EDID  DATA", "OUT16 EDID DATA ", "110-sony-sny7402"},
    };
    for (const auto& c : cases) {
        const Lines reply = run(c.line);
        ASSERT_EQ(reply.size(), 1U) << c.line;
        ASSERT_TRUE(reply[0].starts_with(c.prefix)) << reply[0].substr(0, 20);
        ASSERT_TRUE(reply[0].ends_with("\r\n"));
        const auto image = parseHexText(std::string_view(reply[0]).substr(c.prefix.size(), kEdidHexLength));
        ASSERT_TRUE(image);
        EXPECT_EQ(bytesOf(*image), dataFile(c.file)) << c.line;
    }
}

TEST_F(CommandInterpreterTest, inputReadsAnswerWithTheEdidOfTheAskedSourceIndex) {
    state.storeUserSlot(5, 2, patternImage(9));
    EdidImage erased;
    erased.fill(0xff);
    struct Case {
        std::string_view line;
        std::string_view prefix;
        EdidImage expected;
    };
    const Case cases[] = {
        {"GET IN3  EDID 07 DATA", "IN3 EDID 07 DATA ", builtinEdid(7)},
        {"GET IN16 EDID 29 DATA", "IN16 EDID 29 DATA ", builtinEdid(29)},
        {"GET IN5  EDID 31 DATA", "IN5 EDID 31 DATA ", patternImage(9)},
        {"GET IN4  EDID 31 DATA", "IN4 EDID 31 DATA ", erased}, // user slots start erased
        {"GET IN2  EDID 35 DATA", "IN2 EDID 35 DATA ", state.display(3)},
    };
    for (const auto& c : cases) {
        const Lines reply = run(c.line);
        ASSERT_EQ(reply.size(), 1U) << c.line;
        EXPECT_EQ(reply[0], std::string(c.prefix) + toHexText(c.expected) + "\r\n") << c.line;
    }
}

TEST_F(CommandInterpreterTest, uploadsAreStoredAndReadBackByteIdentical) {
    struct Case {
        int input;
        int slot;
        std::string_view readLine;
        std::size_t lengthWithFraming;
    };
    const Case cases[] = {
        {1, 1, "GET IN1  EDID 30 DATA", 790},
        {9, 3, "GET IN9  EDID 32 DATA", 790},
        {10, 2, "GET IN10 EDID 31 DATA", 791},
        {16, 3, "GET IN16 EDID 32 DATA", 791},
    };
    std::uint8_t seed = 1;
    for (const auto& c : cases) {
        const EdidImage image = patternImage(seed++);
        const std::string line = uploadLine(c.input, c.slot, image);
        ASSERT_EQ(line.size() + 2, c.lengthWithFraming) << "the console's upload sizes";
        EXPECT_EQ(run(line), Lines{"IN" + std::to_string(c.input) + " U" + std::to_string(c.slot) + " STORED\r\n"});
        EXPECT_EQ(run(c.readLine), Lines{inputEdidReply(c.input, 29 + c.slot, image)}) << c.readLine;
    }
    // Each upload went to its own slot only.
    EXPECT_EQ(state.userSlot(1, 1), patternImage(1));
    EXPECT_EQ(state.userSlot(1, 2)[0], 0xff);
    EXPECT_EQ(state.userSlot(2, 1)[0], 0xff);
    // Lower-case hex is taken as well.
    std::string lower = uploadLine(4, 1, patternImage(77));
    for (std::size_t i = lower.find("DATA ") + 5; i < lower.size(); ++i) {
        lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower[i])));
    }
    EXPECT_EQ(run(lower), Lines{"IN4 U1 STORED\r\n"});
    EXPECT_EQ(state.userSlot(4, 1), patternImage(77));
}

TEST_F(CommandInterpreterTest, networkBlockSetsEveryValueAndReportsIt) {
    EXPECT_EQ(run("SET DHCP 1"), Lines{"DHCP 1\r\n"});
    EXPECT_TRUE(state.network().dhcp);
    EXPECT_EQ(run("SET DHCP 0"), Lines{"DHCP 0\r\n"});
    EXPECT_EQ(run("SET HIP 192.168.001.100"), Lines{"HIP 192.168.001.100\r\n"});
    EXPECT_EQ(run("SET NMK 255.255.255.000"), Lines{"NMK 255.255.255.000\r\n"});
    EXPECT_EQ(run("SET RIP192.168.001.001"), Lines{"RIP 192.168.001.001\r\n"});
    EXPECT_EQ(run("SET TIP 8000"), (Lines{"TIP 8000\r\n", "DHCP 0\r\n"}));
    EXPECT_EQ(run("SET MAC 0a-1b-2c-3d-4e-5f"), Lines{"MAC 0A:1B:2C:3D:4E:5F\r\n"});

    const NetworkSettings& net = state.network();
    EXPECT_FALSE(net.dhcp);
    EXPECT_EQ(net.host, (Ipv4Address{{192, 168, 1, 100}}));
    EXPECT_EQ(net.netMask, (Ipv4Address{{255, 255, 255, 0}}));
    EXPECT_EQ(net.router, (Ipv4Address{{192, 168, 1, 1}}));
    EXPECT_EQ(net.tcpPort, "8000");
    EXPECT_EQ(net.mac, "0A:1B:2C:3D:4E:5F");
}

TEST_F(CommandInterpreterTest, networkValuesTheSwitcherCannotTakeAreAnsweredWithTheCurrentOne) {
    const std::pair<std::string_view, Lines> cases[] = {
        {"SET TIP ", {"TIP 5000\r\n", "DHCP 0\r\n"}},
        {"SET TIP 12345", {"TIP 5000\r\n", "DHCP 0\r\n"}},
        {"SET TIP 80a", {"TIP 5000\r\n", "DHCP 0\r\n"}},
        {"SET TIP 0000", {"TIP 5000\r\n", "DHCP 0\r\n"}},
        {"SET MAC ", {"MAC 00:1A:2B:3C:4D:5E\r\n"}},
        {"SET MAC 00:1A:2B:3C:4D", {"MAC 00:1A:2B:3C:4D:5E\r\n"}},
        {"SET MAC 00:1A:2B:3C:4D:5G", {"MAC 00:1A:2B:3C:4D:5E\r\n"}},
        {"SET MAC 00:1A:2B:3C:4D:5E:6F", {"MAC 00:1A:2B:3C:4D:5E\r\n"}},
        {"SET MAC 00.1A.2B.3C.4D.5E", {"MAC 00:1A:2B:3C:4D:5E\r\n"}},
        {"SET DHCP 7", {"DHCP 0\r\n"}},
    };
    for (const auto& [line, reply] : cases) {
        EXPECT_EQ(run(line), reply) << line;
    }
    EXPECT_EQ(state.network().tcpPort, "5000");
    EXPECT_EQ(state.network().mac, "00:1A:2B:3C:4D:5E");
    EXPECT_EQ(run("SET TIP 0080"), (Lines{"TIP 80\r\n", "DHCP 0\r\n"}));
    EXPECT_EQ(run("SET MAC 001a2b3c4d5f"), Lines{"MAC 00:1A:2B:3C:4D:5F\r\n"});
}

// A console that builds a command with a blank too many or too few, a wrong
// port field or a value out of range must see it fail, not be forgiven.
TEST_F(CommandInterpreterTest, linesNotInTheConsolesExactFormAreRefusedAndChangeNothing) {
    const std::string goodUpload = uploadLine(3, 1, patternImage(5));
    const std::string cases[] = {
        "SET OUT1 VS IN1 ",                               // port 1 without its fill blank
        "SET OUT1  VS IN1",                               // nor at the end
        "SET OUT01 VS IN1 ",                              // no leading zero in a port field
        "SET OUT17 VS IN1 ",                              // no output 17
        "SET OUT0  VS IN1 ",                              // nor 0
        "SET OUTA  VS IN1 ",                              // port codes stay in the console
        "set out1  vs in1 ",                              // keywords are upper case
        " SET OUT1  VS IN1 ",                             //
        "SET OUT1  EXA EN",                               // "EN" comes with two blanks
        "SET OUT1  EXA  DIS",                             //
        "SET IN1  EDID 5",                                // two digits
        "SET IN1  EDID 33",                               // copies go through EDIDCY
        "SET IN1  EDIDCY OUT 17",                         //
        "SET IN1  EDIDCY OUT1 ",                          // a blank before the output field
        "GET OUT1  EDID DATA",                            // the empty index field is a blank
        "GET IN1  EDID 49 DATA",                          // no source index 49
        "GET IN1  EDID 07  DATA",                         //
        "SET HIP 192.168.0.1",                            // three digits per octet
        "SET HIP 256.000.000.000",                        //
        "SET RIP 192.168.000.001",                        // RIP has no blank before its address
        "SET NMK255.255.255.000",                         // the others have one
        "SET DHCP ",                                      //
        "GET STA ",                                       //
        "GET STATUS",                                     //
        "HELLO",                                          //
        goodUpload.substr(0, goodUpload.size() - 3),      // 255 bytes and a half
        goodUpload + " 00",                               // 257 bytes
        "SET IN03 EDID U1 DATA " + goodUpload.substr(22), // plain decimal has no fill
        "SET IN17 EDID U1 DATA " + goodUpload.substr(22), //
        "SET IN3 EDID U4 DATA " + goodUpload.substr(21),  // three slots
        "SET IN3 EDID U0 DATA " + goodUpload.substr(21),  //
        "SET IN3  EDID U1 DATA " + goodUpload.substr(21), //
        "SET IN3 EDID U1 DATA  " + goodUpload.substr(21), //
    };
    const Lines before = snapshot(state);
    for (const auto& line : cases) {
        EXPECT_EQ(run(line), Lines{std::string(kErrorReply)}) << '"' << line.substr(0, 40) << '"';
    }
    EXPECT_EQ(snapshot(state), before);
    EXPECT_EQ(run(goodUpload).size(), 1U) << "the untouched upload is taken";
}

TEST_F(CommandInterpreterTest, statusQueryReportsTheWholeState) {
    run("SET OUT5  VS IN9 ");
    run("SET IN4  EDIDCY OUT 2 ");
    run("SET OUT16 EXA DIS");
    run("SET DHCP 1");
    const Lines lines = run("GET STA");
    ASSERT_EQ(lines.size(), 54U);
    EXPECT_EQ(lines[0], "OUT1 VS IN1\r\n");
    EXPECT_EQ(lines[4], "OUT5 VS IN9\r\n");
    EXPECT_EQ(lines[16], "IN1 EDID 00\r\n");
    EXPECT_EQ(lines[19], "IN4 EDID 34\r\n");
    EXPECT_EQ(lines[31], "IN16 EDID 15\r\n");
    const Lines network(lines.begin() + 32, lines.begin() + 38);
    EXPECT_EQ(network, (Lines{"HIP 192.168.000.100\r\n", "NMK 255.255.255.000\r\n", "RIP 192.168.000.001\r\n",
                              "TIP 5000\r\n", "MAC 00:1A:2B:3C:4D:5E\r\n", "DHCP 1\r\n"}));
    EXPECT_EQ(lines[38], "OUT1 EXA EN\r\n");
    EXPECT_EQ(lines[53], "OUT16 EXA DIS\r\n");
}

} // namespace
} // namespace mc::sim
