#include "edid/edid_decoder.h"
#include "support/edid_builder.h"

#include <gtest/gtest.h>
#include <string>

namespace mc {
namespace {

using test::block;
using test::EdidBuilder;

std::string generalReport(const EdidBuilder& builder) {
    return decodeEdid(builder.image()).general;
}

// What follows the base block's lines in the report of an all-zero base block.
std::string extensionPart(const EdidBuilder& builder) {
    const std::string report = generalReport(builder);
    const std::string base = "\r\nManufacture's Name:@@@\r\nProduct Code:0\r\nVideo Signal Interface:Analog\r\n"
                             "Color Bit Depth:Reserved\r\n";
    EXPECT_EQ(report.substr(0, base.size()), base);
    return report.substr(base.size());
}

TEST(EdidGeneralReport, baseBlockWithoutExtensionEndsAfterTheRangeLimits) {
    EdidBuilder edid;
    edid.set(8, {0x04, 0x43, 0x90, 0x12})
        .set(20, {0x80})
        .displayDescriptor(90, 0xFC, {'A', 'B', 'C', 0x0A, ' ', ' '})
        .displayDescriptor(108, 0xFD, {48, 144, 30, 160, 60});
    EXPECT_EQ(generalReport(edid), "\r\n"
                                   "Manufacture's Name:ABC\r\n"
                                   "Product Code:4752\r\n"
                                   "Video Signal Interface:Digtal\r\n"
                                   "Color Bit Depth:Reserved\r\n"
                                   "Display Product Name:ABC          \r\n"
                                   "Vertical Rate:48Hz--144Hz\r\n"
                                   "Horizontal Rate:30KHz--160KHz\r\n"
                                   "Maximum Pixel Clock:600MHz\r\n"
                                   "\r\n");
}

TEST(EdidGeneralReport, manufacturerLettersAreFiveBitCodesFromAt) {
    const struct {
        std::uint8_t high, low;
        const char* letters;
    } cases[] = {
        {0x04, 0x43, "ABC"},
        {0x00, 0x00, "@@@"},
        {0x6F, 0x7B, "[[["},
        {0x7F, 0xFF, "___"},
        {0x10, 0xAC, "DEL"},
        // Bit 7 of the first byte is part of the first code.
        {0x84, 0x43, "aBC"},
    };
    for (const auto& c : cases) {
        EdidBuilder edid;
        edid.set(8, {c.high, c.low});
        EXPECT_NE(generalReport(edid).find(std::string("\r\nManufacture's Name:") + c.letters + "\r\n"),
                  std::string::npos)
            << c.letters;
    }
}

TEST(EdidGeneralReport, productCodeIsLittleEndianAndInterfaceIsBitSeven) {
    EdidBuilder edid;
    edid.set(10, {0xFF, 0xFF}).set(20, {0x7F});
    const std::string report = generalReport(edid);
    EXPECT_NE(report.find("Product Code:65535\r\nVideo Signal Interface:Analog\r\n"), std::string::npos) << report;
}

TEST(EdidGeneralReport, productNameFieldIsThirteenCharactersAndNotRefilled) {
    // Thirteen characters without a line feed: the fourteenth byte is dropped.
    EdidBuilder full;
    full.displayDescriptor(72, 0xFC, {'L', 'O', 'N', 'G', 'N', 'A', 'M', 'E', '1', '2', '3', '4', '5', 'X'});
    EXPECT_NE(generalReport(full).find("Display Product Name:LONGNAME12345\r\n"), std::string::npos);

    // A later, shorter name leaves the tail of the earlier one; a name is also
    // found away from the descriptor starts.
    EdidBuilder two;
    two.displayDescriptor(60, 0xFC, {'L', 'O', 'N', 'G', 'N', 'A', 'M', 'E', '1', '2', '3', '4', '5'})
        .displayDescriptor(90, 0xFC, {'X', 'Y', 0x0A});
    const std::string report = generalReport(two);
    EXPECT_NE(report.find("Display Product Name:XYNGNAME12345\r\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("Display Product Name:", report.find("Display Product Name:") + 1), std::string::npos);

    // An empty name is thirteen blanks.
    EdidBuilder empty;
    empty.displayDescriptor(108, 0xFC, {0x0A});
    EXPECT_NE(generalReport(empty).find("Display Product Name:             \r\n"), std::string::npos);

    EdidBuilder none;
    none.displayDescriptor(90, 0xFE, {'A', 'B', 0x0A});
    EXPECT_EQ(generalReport(none).find("Display Product Name"), std::string::npos);
}

TEST(EdidGeneralReport, productNameEndsAtANulByte) {
    EdidBuilder edid;
    edid.displayDescriptor(90, 0xFC, {'A', 'B', 0x00, 'C', 0x0A});
    const std::string report = generalReport(edid);
    EXPECT_NE(report.find("Display Product Name:AB\r\n"), std::string::npos) << report;
    EXPECT_EQ(report.find('\0'), std::string::npos);
}

TEST(EdidGeneralReport, everyRangeLimitsPositionWritesItsLines) {
    EdidBuilder edid;
    edid.displayDescriptor(72, 0xFD, {56, 76, 31, 83, 17}).displayDescriptor(108, 0xFD, {1, 255, 0, 255, 255});
    // The rate offset flags of the fifth byte are not applied.
    edid.set(76, {0x0F});
    const std::string report = generalReport(edid);
    EXPECT_NE(report.find("Color Bit Depth:Reserved\r\n"
                          "Vertical Rate:56Hz--76Hz\r\nHorizontal Rate:31KHz--83KHz\r\nMaximum Pixel Clock:170MHz\r\n"
                          "Vertical Rate:1Hz--255Hz\r\nHorizontal Rate:0KHz--255KHz\r\nMaximum Pixel Clock:2550MHz\r\n"
                          "\r\n"),
              std::string::npos)
        << report;
}

TEST(EdidGeneralReport, extensionWithoutDataBlocks) {
    EdidBuilder edid;
    edid.ceaExtension(4).set(131, {0x70});
    EXPECT_EQ(extensionPart(edid), "Extension Device Support:\r\nBase Audio\r\nYCbCr4:4:4\r\nYCbCr4:2:2\r\n\r\n"
                                   "Native Timings:0\r\n"
                                   "YCbCr444 DeepColor:not support\r\n"
                                   "3D video:not support\r\n"
                                   "\r\n"
                                   "\r\n");
    EdidBuilder quiet;
    quiet.ceaExtension(4).set(131, {0x8F});
    EXPECT_EQ(extensionPart(quiet).find("Extension Device Support"), std::string::npos);
    EdidBuilder yuv422;
    yuv422.ceaExtension(4).set(131, {0x10});
    EXPECT_EQ(extensionPart(yuv422).substr(0, 41), "Extension Device Support:\r\nYCbCr4:2:2\r\n\r\n");
}

TEST(EdidGeneralReport, nativeTimingsCountTheMarkedDescriptorsOfTheFirstVideoBlock) {
    EdidBuilder edid;
    edid.dataBlocks({block(1, {0x09, 0x07, 0x07}), block(2, {0x90, 0x04, 0x84, 0x80}), block(2, {0x90})});
    EXPECT_NE(extensionPart(edid).find("Native Timings:3\r\n"), std::string::npos);
}

// The vendor-specific block's lines: from "Native Timings:0" on.
struct VendorCase {
    const char* name;
    std::vector<std::vector<std::uint8_t>> blocks;
    const char* lines;
};

class VendorSpecificBlock : public testing::TestWithParam<VendorCase> {};

TEST_P(VendorSpecificBlock, givesDeepColorAnd3dLines) {
    const VendorCase& c = GetParam();
    EdidBuilder edid;
    std::size_t pos = 132;
    for (const auto& b : c.blocks) {
        for (const std::uint8_t byte : b) {
            edid.set(pos++, {byte});
        }
    }
    edid.ceaExtension(static_cast<std::uint8_t>(pos - 128));
    EXPECT_EQ(extensionPart(edid), std::string("Native Timings:0\r\n") + c.lines + "\r\n");
}

const std::vector<std::uint8_t> kOui = {0x03, 0x0C, 0x00};

std::vector<std::uint8_t> hdmiBlock(std::initializer_list<std::uint8_t> afterOui) {
    std::vector<std::uint8_t> payload = kOui;
    payload.insert(payload.end(), afterOui);
    std::vector<std::uint8_t> bytes{test::EdidBuilder::header(3, payload.size())};
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Edid, VendorSpecificBlock,
    testing::Values(
        VendorCase{"allDeepColors",
                   {hdmiBlock({0x10, 0x00, 0x78})},
                   "Deep Color:\r\n48Bit 36Bit 30Bit \r\nYCbCr444 DeepColor:support\r\n3D video:not support\r\n\r\n"},
        VendorCase{"onlyYcbcr444",
                   {hdmiBlock({0x10, 0x00, 0x88})},
                   "YCbCr444 DeepColor:support\r\n3D video:not support\r\n\r\n"},
        VendorCase{"thirtyBitOnly",
                   {hdmiBlock({0x10, 0x00, 0x17})},
                   "Deep Color:\r\n30Bit \r\nYCbCr444 DeepColor:not support\r\n3D video:not support\r\n\r\n"},
        // Length 5: byte 6 is the next block's header and is not read.
        VendorCase{"tooShortForDeepColor",
                   {hdmiBlock({0x10, 0x00}), {0x78}},
                   "YCbCr444 DeepColor:not support\r\n3D video:not support\r\n\r\n"},
        VendorCase{"threeDWithoutLatency",
                   {hdmiBlock({0x10, 0x00, 0x00, 0x00, 0x20, 0x80, 0x00})},
                   "YCbCr444 DeepColor:not support\r\n3D video:support\r\n\r\n"},
        // Latency and interlaced latency move the 3D byte to 13.
        VendorCase{"threeDAfterBothLatencies",
                   {hdmiBlock({0x10, 0x00, 0x00, 0x00, 0xE0, 0x80, 0x80, 0x00, 0x00, 0x80, 0xA0, 1, 2, 5, 3, 4})},
                   "YCbCr444 DeepColor:not support\r\n3D video:support\r\n\r\nExtended Resolution(4Kx2K):\r\n"
                   "4Kx2K@30Hz\r\n4Kx2K@25Hz\r\n4Kx2K@24Hz\r\n4Kx2K@24Hz(SMPTE)\r\n"},
        VendorCase{"threeDAfterLatency",
                   {hdmiBlock({0x10, 0x00, 0x00, 0x00, 0xA0, 0x00, 0x00, 0x80, 0x00})},
                   "YCbCr444 DeepColor:not support\r\n3D video:support\r\n\r\n"},
        // Interlaced latency alone also moves the 3D byte by two.
        VendorCase{"threeDAfterInterlacedLatencyOnly",
                   {hdmiBlock({0x10, 0x00, 0x00, 0x00, 0x60, 0x00, 0x00, 0x80, 0x00})},
                   "YCbCr444 DeepColor:not support\r\n3D video:support\r\n\r\n"},
        VendorCase{"extendedResolutionsWithout3d",
                   {hdmiBlock({0x10, 0x00, 0x00, 0x00, 0x20, 0x00, 0x20, 0x03})},
                   "YCbCr444 DeepColor:not support\r\n3D video:not support\r\n\r\nExtended Resolution(4Kx2K):\r\n"
                   "4Kx2K@24Hz\r\n"},
        // No HDMI video present: the bytes after it mean nothing.
        VendorCase{"hdmiVideoFlagClear",
                   {hdmiBlock({0x10, 0x00, 0x00, 0x00, 0xC0, 0x80, 0xE0, 1, 1, 1})},
                   "YCbCr444 DeepColor:not support\r\n3D video:not support\r\n\r\n"},
        VendorCase{"tooShortFor3d",
                   {hdmiBlock({0x10, 0x00, 0x00, 0x00}), {0x20, 0x80, 0x20, 1}},
                   "YCbCr444 DeepColor:not support\r\n3D video:not support\r\n\r\n"},
        // The first vendor-specific block counts, whatever its vendor.
        VendorCase{"firstBlockWhateverItsVendor",
                   {{0x66, 0xD8, 0x5D, 0xC4, 0x01, 0x78, 0x08}, hdmiBlock({0x10, 0x00, 0x78})},
                   "YCbCr444 DeepColor:support\r\n3D video:not support\r\n\r\n"}),
    [](const testing::TestParamInfo<VendorCase>& info) { return std::string(info.param.name); });

struct Ycbcr420Case {
    const char* name;
    std::vector<std::vector<std::uint8_t>> blocks;
    const char* lines;
};

class Ycbcr420Block : public testing::TestWithParam<Ycbcr420Case> {};

TEST_P(Ycbcr420Block, listsItsVideoFormats) {
    const Ycbcr420Case& c = GetParam();
    EdidBuilder edid;
    std::size_t pos = 132;
    for (const auto& b : c.blocks) {
        for (const std::uint8_t byte : b) {
            edid.set(pos++, {byte});
        }
    }
    edid.ceaExtension(static_cast<std::uint8_t>(pos - 128));
    const std::string part = extensionPart(edid);
    const std::string before = "3D video:not support\r\n\r\n";
    const std::size_t at = part.find(before);
    ASSERT_NE(at, std::string::npos) << part;
    EXPECT_EQ(part.substr(at + before.size()), std::string(c.lines) + "\r\n");
}

const std::vector<std::uint8_t> kVideoBlock = {0x49, 0x90, 0x04, 0x61, 0x60, 0x10, 0x05, 0x06, 0x07, 0x11};

INSTANTIATE_TEST_SUITE_P(
    Edid, Ycbcr420Block,
    testing::Values(
        // Payload bytes are codes; 0 and 108 name nothing.
        Ycbcr420Case{"videoBlock",
                     {{0xE5, 14, 0x60, 0x61, 0x00, 0x6C}},
                     "\r\nY420VDB Descripter :\r\n3840x2160p@50Hz  16:9\r\n3840x2160p@60Hz  16:9\r\n"},
        Ycbcr420Case{"emptyCapabilityMap", {{0xE1, 15}}, "\r\nY420CMDB Descripter :\r\nAll SVDs do support YUV420\r\n"},
        // Bits 0 and 2 of the first byte and bit 0 of the second pick the 1st,
        // 3rd and 9th short video descriptor; the native mark is dropped.
        Ycbcr420Case{"capabilityMap",
                     {kVideoBlock, {0xE3, 15, 0x05, 0x01}},
                     "\r\nY420CMDB Descripter :\r\n1920x1080p@60Hz  16:9\r\n3840x2160p@60Hz  16:9\r\n"
                     "720x576p@50Hz  4:3\r\n"},
        // Only the low five bits of the extended tag are compared with 15.
        Ycbcr420Case{
            "capabilityMapTagHighBits", {{0xE1, 47}}, "\r\nY420CMDB Descripter :\r\nAll SVDs do support YUV420\r\n"},
        Ycbcr420Case{"videoBlockTagHighBits", {{0xE2, 46, 0x10}}, ""},
        // Another extended-tag block first hides the 4:2:0 blocks.
        Ycbcr420Case{"hiddenByAnotherExtendedBlock", {{0xE3, 5, 0x81, 0x00}, {0xE2, 14, 0x10}}, ""},
        // A length-0 extended block has no tag byte: nothing, and the later block is not looked at.
        Ycbcr420Case{"lengthZeroBlock", {{0xE0}, {0xE1, 15}}, ""}),
    [](const testing::TestParamInfo<Ycbcr420Case>& info) { return std::string(info.param.name); });

} // namespace
} // namespace mc
