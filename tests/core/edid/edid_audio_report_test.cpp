#include "edid/edid_decoder.h"
#include "support/edid_builder.h"

#include <gtest/gtest.h>
#include <string>

namespace mc {
namespace {

using test::block;
using test::EdidBuilder;

std::string audioReport(const EdidBuilder& builder) {
    return decodeEdid(builder.image()).audio;
}

constexpr const char* kLpcmStereoAllSizes = "Audio Format:LPCM.\r\n"
                                            "Audio Channel(s):2\r\n"
                                            "Sample Frequency:\r\n"
                                            "48KHz\r\n"
                                            "44.1KHz\r\n"
                                            "32KHz\r\n"
                                            "Sample Bit:\r\n"
                                            "24Bit \r\n"
                                            "20Bit \r\n"
                                            "16Bit \r\n"
                                            "\r\n"
                                            "\r\n";

struct AudioCase {
    const char* name;
    std::uint8_t format, rates, sizes;
    const char* text;
};

class ShortAudioDescriptor : public testing::TestWithParam<AudioCase> {};

TEST_P(ShortAudioDescriptor, isWrittenAsFormatChannelsRatesAndSizes) {
    const AudioCase& c = GetParam();
    EdidBuilder edid;
    edid.dataBlocks({block(2, {0x10}), block(1, {c.format, c.rates, c.sizes})});
    EXPECT_EQ(audioReport(edid), std::string(c.text) + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Edid, ShortAudioDescriptor,
    testing::Values(
        AudioCase{"lpcm", 0x09, 0x07, 0x07, kLpcmStereoAllSizes},
        // Highest rate first; bit 7 of the rate byte names nothing.
        AudioCase{"everyRate", 0x0F, 0xFF, 0x01,
                  "Audio Format:LPCM.\r\nAudio Channel(s):8\r\nSample Frequency:\r\n192KHz\r\n176KHz\r\n"
                  "96KHz\r\n88KHz\r\n48KHz\r\n44.1KHz\r\n32KHz\r\nSample Bit:\r\n16Bit \r\n\r\n\r\n"},
        // The header stays without any rate; no sizes, no "Sample Bit:" section.
        AudioCase{"noRateNoSize", 0x10, 0x00, 0xF8,
                  "Audio Format:AC-3.\r\nAudio Channel(s):1\r\nSample Frequency:\r\n\r\n"},
        // A compressed format's third byte is read as sizes all the same.
        AudioCase{"compressedWithSizeBits", 0x3E, 0x40, 0x05,
                  "Audio Format:DTS.\r\nAudio Channel(s):7\r\nSample Frequency:\r\n192KHz\r\nSample Bit:\r\n"
                  "24Bit \r\n16Bit \r\n\r\n\r\n"},
        // Bit 7 of the first byte is not part of the format code.
        AudioCase{"formatCodeIsFourBits", 0xF9, 0x01, 0x00,
                  "Audio Format:Reserved.\r\nAudio Channel(s):2\r\nSample Frequency:\r\n32KHz\r\n\r\n"},
        AudioCase{"codeZero", 0x00, 0x00, 0x00,
                  "Audio Format:Refer to Stream Header.\r\nAudio Channel(s):1\r\nSample Frequency:\r\n\r\n"}),
    [](const testing::TestParamInfo<AudioCase>& info) { return std::string(info.param.name); });

TEST(EdidAudioReport, namesEveryFormatCode) {
    const char* const names[] = {"Refer to Stream Header.",
                                 "LPCM.",
                                 "AC-3.",
                                 "MPEG1.",
                                 "MP3(Layer3).",
                                 "MPEG2.",
                                 "AAC.",
                                 "DTS.",
                                 "ATRAC.",
                                 "OneBitAudio.",
                                 "Dolby D+.",
                                 "DTS-HD.",
                                 "MAT(MLP).",
                                 "DST.",
                                 "WMA Pro.",
                                 "Reserved."};
    for (unsigned code = 0; code < 16; ++code) {
        EdidBuilder edid;
        edid.dataBlocks({block(1, {static_cast<std::uint8_t>(code << 3U), 0, 0})});
        EXPECT_EQ(audioReport(edid).substr(0, audioReport(edid).find("\r\n")),
                  std::string("Audio Format:") + names[code])
            << "code " << code;
    }
}

TEST(EdidAudioReport, writesOneDescriptorPerThreeBytesStartingWhileInsideTheBlock) {
    // Length 4: one descriptor (the fourth byte starts none). Length 5: the
    // second descriptor starts inside the block and takes its last byte from
    // the next block's header.
    EdidBuilder four;
    four.dataBlocks({block(1, {0x09, 0x07, 0x07, 0x15}), block(2, {0x10})});
    EXPECT_EQ(audioReport(four), std::string(kLpcmStereoAllSizes) + "\r\n");

    EdidBuilder five;
    five.dataBlocks({block(1, {0x09, 0x07, 0x07, 0x15, 0x07}), block(2, {0x10})});
    // Third byte of the second descriptor: header 0x41, sizes bit 0 only.
    EXPECT_EQ(audioReport(five), std::string(kLpcmStereoAllSizes) +
                                     "Audio Format:AC-3.\r\nAudio Channel(s):6\r\nSample Frequency:\r\n48KHz\r\n"
                                     "44.1KHz\r\n32KHz\r\nSample Bit:\r\n16Bit \r\n\r\n\r\n\r\n");
}

TEST(EdidAudioReport, isOneLineBreakWithoutAnAudioBlock) {
    const auto expectEmpty = [](const EdidBuilder& edid, const char* why) {
        EXPECT_EQ(audioReport(edid), "\r\n") << why;
    };
    expectEmpty(EdidBuilder{}, "no extension");
    EdidBuilder lengthOne;
    lengthOne.dataBlocks({block(1, {0x09})});
    expectEmpty(lengthOne, "length 1");
    EdidBuilder lengthZero;
    lengthZero.dataBlocks({block(1, {}), block(2, {0x10})});
    expectEmpty(lengthZero, "length 0");
    EdidBuilder offsetFour;
    offsetFour.dataBlocks({block(1, {0x09, 0x07, 0x07})}).set(130, {4});
    expectEmpty(offsetFour, "timing offset 4: no data blocks");
    EdidBuilder pastOffset;
    pastOffset.dataBlocks({block(2, {0x10})}).set(134, {0x23, 0x09, 0x07, 0x07});
    expectEmpty(pastOffset, "block after the timing offset");
}

TEST(EdidAudioReport, usesTheFirstAudioBlockOnly) {
    EdidBuilder edid;
    edid.dataBlocks(
        {block(2, {0x10, 0x04}), block(4, {0x01, 0, 0}), block(1, {0x09, 0x07, 0x07}), block(1, {0x15, 0x07, 0x50})});
    EXPECT_EQ(audioReport(edid), std::string(kLpcmStereoAllSizes) + "\r\n");
}

} // namespace
} // namespace mc
