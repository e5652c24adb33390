#include "sim/builtin_edids.h"
#include "sim/display_edids.h"
#include "sim/switcher_state.h"
#include "tools/sim_test_util.h"

#include <gtest/gtest.h>
#include <set>

namespace mc::sim {
namespace {

using test::bytesOf;
using test::dataFile;

TEST(EdidImage, hexTextRoundTripsEveryByteValue) {
    EdidImage image{};
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i);
    }
    const std::string text = toHexText(image);
    EXPECT_EQ(text.size(), kEdidHexLength);
    EXPECT_TRUE(text.starts_with("00 01 02"));
    EXPECT_TRUE(text.ends_with("fd fe ff"));
    EXPECT_EQ(parseHexText(text), image);
}

TEST(EdidImage, hexTextOfAnotherShapeIsRefused) {
    const std::string good = toHexText(EdidImage{});
    std::string tab = good;
    tab[2] = '\t';
    std::string notHex = good;
    notHex[300] = 'g';
    std::string noSeparator = good;
    noSeparator.replace(5, 1, "0");
    for (const auto& bad : {good.substr(1), good + " ", good + " 00", tab, notHex, noSeparator, std::string()}) {
        EXPECT_FALSE(parseHexText(bad)) << bad.substr(0, 12);
    }
}

TEST(EdidImage, checksumFixMakesTheBlockSumToZero) {
    EdidImage image = test::patternImage(3);
    EXPECT_FALSE(blockChecksumValid(image, 0));
    fixBlockChecksum(image, 0);
    fixBlockChecksum(image, kEdidBlockSize);
    EXPECT_TRUE(blockChecksumValid(image, 0));
    EXPECT_TRUE(blockChecksumValid(image, kEdidBlockSize));
    EXPECT_FALSE(blockChecksumValid(image, 1)) << "a block past the image end is never valid";
}

TEST(DisplayEdids, embeddedImagesAreTheDataFilesByteForByte) {
    const auto all = displayEdids();
    ASSERT_EQ(all.size(), 6U);
    for (const auto& display : all) {
        EXPECT_EQ(bytesOf(display.image), dataFile(std::string(display.name))) << display.name;
        EXPECT_TRUE(blockChecksumValid(display.image, 0)) << display.name;
        EXPECT_TRUE(blockChecksumValid(display.image, kEdidBlockSize)) << display.name;
    }
    EXPECT_THROW(static_cast<void>(displayEdid("no-such-display")), std::out_of_range);
}

// Offsets into an EDID as the standard lays it out.
std::string displayName(const EdidImage& image) {
    for (std::size_t at = 54; at < 126; at += 18) {
        if (image[at] == 0 && image[at + 1] == 0 && image[at + 3] == 0xfc) {
            std::string name(image.begin() + static_cast<std::ptrdiff_t>(at + 5),
                             image.begin() + static_cast<std::ptrdiff_t>(at + 18));
            return name.substr(0, name.find('\n'));
        }
    }
    return {};
}

int firstPcmChannels(const EdidImage& image) {
    const std::size_t end = 128 + image[130];
    for (std::size_t at = 132; at < end; at += 1 + (image[at] & 0x1fU)) {
        if ((image[at] >> 5) == 1 && ((image[at + 1] >> 3) & 0x0fU) == 1) {
            return (image[at + 1] & 0x07) + 1;
        }
    }
    return 0;
}

TEST(BuiltinEdids, everyChoiceIsAValidDistinctEdidMatchingItsName) {
    std::set<EdidImage> seen;
    for (int index = 0; index < kBuiltinEdidCount; ++index) {
        const EdidImage image = builtinEdid(index);
        EXPECT_TRUE(blockChecksumValid(image, 0)) << index;
        EXPECT_TRUE(blockChecksumValid(image, kEdidBlockSize)) << index;
        EXPECT_EQ(image[10] | (image[11] << 8), 0x0100 + index) << "product code";
        EXPECT_EQ(image[12], index + 1) << "serial number";
        const std::string name = displayName(image);
        EXPECT_EQ(name, builtinEdidName(index));
        const int expectedChannels = name.ends_with("2CH") ? 2 : name.ends_with("5.1") ? 6 : 8;
        EXPECT_EQ(firstPcmChannels(image), expectedChannels) << name;
        // 4K choices come from the 4K set: its first detailed timing is 3840 wide.
        const int width = image[56] | ((image[58] & 0xf0) << 4);
        EXPECT_EQ(width, name.starts_with("4K") ? 3840 : 1920) << name;
        seen.insert(image);
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kBuiltinEdidCount));
    EXPECT_THROW(static_cast<void>(builtinEdid(kBuiltinEdidCount)), std::out_of_range);
    EXPECT_THROW(static_cast<void>(builtinEdid(-1)), std::out_of_range);
}

TEST(SwitcherState, presentedEdidFollowsTheSourceIndexRanges) {
    SwitcherState state;
    state.storeUserSlot(2, 3, test::patternImage(4));
    EXPECT_EQ(state.presentedEdid(2, 0), builtinEdid(0));
    EXPECT_EQ(state.presentedEdid(2, 29), builtinEdid(29));
    EXPECT_EQ(state.presentedEdid(2, 32), test::patternImage(4));
    EXPECT_NE(state.presentedEdid(3, 32), test::patternImage(4)) << "slots belong to one input";
    EXPECT_EQ(state.presentedEdid(2, 33), state.display(1));
    EXPECT_EQ(state.presentedEdid(2, 48), state.display(16));
    EXPECT_THROW(static_cast<void>(state.presentedEdid(2, 49)), std::out_of_range);
    EXPECT_THROW(static_cast<void>(state.presentedEdid(17, 0)), std::out_of_range);
    EXPECT_THROW(state.route(0, 1), std::out_of_range);
    EXPECT_THROW(state.storeUserSlot(1, 4, EdidImage{}), std::out_of_range);
}

} // namespace
} // namespace mc::sim
