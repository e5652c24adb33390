#include "sim/command_pattern.h"

#include <gtest/gtest.h>

namespace mc::sim {
namespace {

struct NumberCase {
    std::string_view pattern;
    std::string_view line;
    int expected; // -1: no match
};

// The number fields, at the edges of their ranges and just past them.
TEST(CommandPattern, numberFieldsTakeExactlyTheirForms) {
    const NumberCase cases[] = {
        {"X{pp}", "X1 ", 1},   {"X{pp}", "X9 ", 9},   {"X{pp}", "X10", 10},  {"X{pp}", "X16", 16},
        {"X{pp}", "X17", -1},  {"X{pp}", "X0 ", -1},  {"X{pp}", "X1", -1},   {"X{pp}", "X01", -1},
        {"X{pp}", "XA ", -1},  {"X{pp}", "X 1", -1},  {"X{pp}", "X20", -1},  {"X{n}", "X1", 1},
        {"X{n}", "X16", 16},   {"X{n}", "X9", 9},     {"X{n}", "X17", -1},   {"X{n}", "X0", -1},
        {"X{n}", "X01", -1},   {"X{n}", "X", -1},     {"X{n}", "X100", -1},  {"X{d}", "X7", 7},
        {"X{d}", "X", -1},     {"X{d}", "Xa", -1},    {"X{dd}", "X00", 0},   {"X{dd}", "X99", 99},
        {"X{dd}", "X5", -1},   {"X{dd}", "X5 ", -1},  {"X{dd}", "X123", -1}, {"X{n} Y", "X12 Y", 12},
        {"X{n} Y", "X1 Y", 1}, {"X{n} Y", "X1Y", -1},
    };
    for (const auto& c : cases) {
        const auto fields = matchCommand(c.pattern, c.line);
        if (c.expected < 0) {
            EXPECT_FALSE(fields) << c.pattern << " / '" << c.line << "'";
        } else {
            ASSERT_TRUE(fields) << c.pattern << " / '" << c.line << "'";
            EXPECT_EQ(fields->numbers, std::vector<int>{c.expected}) << c.line;
        }
    }
}

TEST(CommandPattern, addressesAreFourThreeDigitOctets) {
    const auto good = matchCommand("A {addr}", "A 010.000.255.199");
    ASSERT_TRUE(good);
    EXPECT_EQ(good->address, (Ipv4Address{{10, 0, 255, 199}}));
    for (const std::string_view bad : {"A 10.0.255.199", "A 010.000.255.19", "A 010.000.256.199", "A 010,000,255,199",
                                       "A 010.000.255.1999", "A 010.000.255", "A "}) {
        EXPECT_FALSE(matchCommand("A {addr}", bad)) << bad;
    }
}

TEST(CommandPattern, literalsMatchByteForByteAndTheWholeLineMustBeUsed) {
    EXPECT_TRUE(matchCommand("GET STA", "GET STA"));
    for (const std::string_view bad : {"GET  STA", "GET STA ", "GET ST", "get sta", "", "GET STA\r"}) {
        EXPECT_FALSE(matchCommand("GET STA", bad)) << '"' << bad << '"';
    }
    const auto text = matchCommand("SET TIP {text}", "SET TIP 12 x");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->text, "12 x");
    const auto empty = matchCommand("SET TIP {text}", "SET TIP ");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->text, "");
    EXPECT_FALSE(matchCommand("SET TIP {text}", "SET TIP"));
}

TEST(CommandPattern, fieldsComeOutInPatternOrder) {
    const auto fields = matchCommand("SET IN{pp} EDIDCY OUT {pp}", "SET IN10 EDIDCY OUT 7 ");
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->numbers, (std::vector<int>{10, 7}));
}

} // namespace
} // namespace mc::sim
