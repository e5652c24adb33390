// Malformed images that would make a step read past the 256 bytes. Each is
// decoded from a guarded buffer whose next byte is unreadable, so a read past
// the image faults instead of passing unnoticed.
#include "edid/edid_decoder.h"
#include "edid/edid_file.h"
#include "edid/edid_summary.h"
#include "support/edid_builder.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace mc {
namespace {

using test::EdidBuilder;
using test::GuardedImage;

EdidReports decodeGuarded(const EdidImage& image) {
    const GuardedImage guarded(image);
    EdidReports reports = decodeEdid(guarded.view());
    fillEdidSummary(reports);
    return reports;
}

// A CEA extension whose data blocks are chained by filler blocks (tag 0) so
// that the block under test starts at `last`.
EdidBuilder chainTo(std::size_t last, std::uint8_t offset) {
    EdidBuilder edid;
    edid.ceaExtension(offset);
    std::size_t pos = 132;
    while (last - pos > 32) {
        edid.set(pos, {0x1F});
        pos += 32;
    }
    if (pos != last) {
        edid.set(pos, {static_cast<std::uint8_t>(last - pos - 1)});
    }
    return edid;
}

TEST(EdidBounds, guardPageIsInPlace) {
    const GuardedImage guarded(EdidImage{});
#if defined(__unix__) || defined(__APPLE__)
    EXPECT_TRUE(guarded.guarded());
#endif
}

TEST(EdidBounds, allOnesImage) {
    EdidImage image;
    image.fill(0xFF);
    const EdidReports reports = decodeGuarded(image);
    EXPECT_EQ(reports.video, "Preferred Timing:4095x8190i@10Hz \r\n"
                             "Detailed Timing:4095x8190i@10Hz\r\n"
                             "Detailed Timing:4095x8190i@10Hz\r\n"
                             "Detailed Timing:4095x8190i@10Hz\r\n");
    EXPECT_EQ(reports.audio, "\r\n");
    EXPECT_EQ(reports.general,
              "\r\nManufacture's Name:\x7F__\r\nProduct Code:65535\r\nVideo Signal Interface:Digtal\r\n"
              "Color Bit Depth:Reserved\r\n\r\n");
}

TEST(EdidBounds, allZeroImage) {
    const EdidReports reports = decodeGuarded(EdidImage{});
    EXPECT_EQ(reports.video, "Preferred Timing:0x0@0Hz\r\n");
    EXPECT_EQ(reports.audio, "\r\n");
    EXPECT_EQ(reports.general, "\r\nManufacture's Name:@@@\r\nProduct Code:0\r\nVideo Signal Interface:Analog\r\n"
                               "Color Bit Depth:Reserved\r\n\r\n");
}

TEST(EdidBounds, fileCutAfterTheExtensionHeaderReadsTheRestAsOnes) {
    std::vector<std::uint8_t> bytes(128, 0);
    bytes[126] = 1;
    bytes.insert(bytes.end(), {0x02, 0x03, 0x30});
    const EdidReports reports = decodeGuarded(edidImageFromBytes(bytes));
    // Slots from 176: four lie in the image, the fifth would end at 265.
    // The data blocks are 0xFF: extended tag 31, no video or audio block.
    EXPECT_EQ(reports.video, "Preferred Timing:0x0@0Hz\r\n"
                             "Extension Detailed Timing1:4095x8190i@10Hz\r\n"
                             "Extension Detailed Timing2:4095x8190i@10Hz\r\n"
                             "Extension Detailed Timing3:4095x8190i@10Hz\r\n"
                             "Extension Detailed Timing4:4095x8190i@10Hz\r\n"
                             "\r\n"
                             "Short Video Descripter\r\n");
    EXPECT_EQ(reports.audio, "\r\n");
    EXPECT_EQ(reports.general,
              "\r\nManufacture's Name:@@@\r\nProduct Code:0\r\nVideo Signal Interface:Analog\r\n"
              "Color Bit Depth:Reserved\r\n"
              "Extension Device Support:\r\nBase Audio\r\nYCbCr4:4:4\r\nYCbCr4:2:2\r\n\r\n"
              "Native Timings:0\r\nYCbCr444 DeepColor:not support\r\n3D video:not support\r\n\r\n\r\n");
}

TEST(EdidBounds, baseBlockAloneHasNoExtension) {
    std::vector<std::uint8_t> bytes(128, 0);
    bytes[126] = 1;
    const EdidImage image = edidImageFromBytes(bytes);
    EXPECT_EQ(image[127], 0);
    EXPECT_EQ(image[128], 0xFF);
    EXPECT_EQ(image[255], 0xFF);
    const EdidReports reports = decodeGuarded(image);
    EXPECT_EQ(reports.video, "Preferred Timing:0x0@0Hz\r\n");
    EXPECT_EQ(reports.audio, "\r\n");
}

struct BoundsCase {
    const char* name;
    EdidBuilder edid;
    const char* part; // "video", "audio" or "general"
    const char* expected;
};

std::vector<BoundsCase> boundsCases() {
    std::vector<BoundsCase> cases;

    // Offset 0: the first slot is the extension header itself (clock bytes 2
    // and 3); the eighth slot would start at 254 and is dropped.
    EdidBuilder offsetZero;
    offsetZero.ceaExtension(0).set(254, {0x11, 0x22});
    cases.push_back(
        {"offsetZero", offsetZero, "video",
         "Preferred Timing:0x0@0Hz\r\nExtension Detailed Timing1:0x0@0Hz\r\n\r\nShort Video Descripter\r\n"});

    // Offset 240: the chain would put the fifth header at byte 260.
    EdidBuilder farOffset = chainTo(228, 240);
    farOffset.set(228, {0x1F});
    cases.push_back({"walkStopsAtTheImageEnd", farOffset, "audio", "\r\n"});

    // Header at 251: one descriptor at 252..254, the next would reach 257.
    EdidBuilder audio = chainTo(251, 127);
    audio.set(251, {0x3F, 0x09, 0x07, 0x07, 0x15});
    cases.push_back({"audioDescriptorPastTheImage", audio, "audio",
                     "Audio Format:LPCM.\r\nAudio Channel(s):2\r\nSample Frequency:\r\n48KHz\r\n44.1KHz\r\n32KHz\r\n"
                     "Sample Bit:\r\n24Bit \r\n20Bit \r\n16Bit \r\n\r\n\r\n\r\n"});

    // Vendor block at 250: byte 6 and the flags lie past the image.
    EdidBuilder deep = chainTo(250, 127);
    deep.set(250, {0x7F, 0x03, 0x0C, 0x00, 0x10, 0x00});
    cases.push_back({"deepColorBytePastTheImage", deep, "general",
                     "Native Timings:0\r\nYCbCr444 DeepColor:not support\r\n3D video:not support\r\n\r\n\r\n"});

    // Flags at 254 ask for both latencies: the 3D byte would be at 259.
    EdidBuilder threeD = chainTo(246, 127);
    threeD.set(246, {0x7F, 0x03, 0x0C, 0x00, 0x10, 0x00, 0x00, 0x00, 0xE0, 0x80});
    cases.push_back({"3dBytePastTheImage", threeD, "general",
                     "Native Timings:0\r\nYCbCr444 DeepColor:not support\r\n3D video:not support\r\n\r\n\r\n"});

    // Seven extended resolutions announced, two in the image.
    EdidBuilder resolutions = chainTo(243, 127);
    resolutions.set(243, {0x7F, 0x03, 0x0C, 0x00, 0x10, 0x00, 0x00, 0x00, 0x20, 0x80, 0xE0, 0x01, 0x02});
    cases.push_back({"extendedResolutionsPastTheImage", resolutions, "general",
                     "Native Timings:0\r\nYCbCr444 DeepColor:not support\r\n3D video:support\r\n\r\n"
                     "Extended Resolution(4Kx2K):\r\n4Kx2K@30Hz\r\n4Kx2K@25Hz\r\n\r\n"});

    // A video block of 31 bytes from 250: five in the image.
    EdidBuilder native = chainTo(250, 127);
    native.set(250, {0x5F, 0x90, 0x90, 0x90, 0x90, 0x90});
    cases.push_back({"videoBlockPastTheImage", native, "general",
                     "Native Timings:5\r\nYCbCr444 DeepColor:not support\r\n3D video:not support\r\n\r\n\r\n"});

    // A capability map whose bits reach descriptors up to byte 372.
    EdidBuilder map;
    map.ceaExtension(36).set(132, {0xFF, 15});
    for (std::size_t pos = 134; pos < 164; ++pos) {
        map.set(pos, {0xFF});
    }
    cases.push_back({"capabilityMapPastTheImage", map, "general",
                     "Native Timings:0\r\nYCbCr444 DeepColor:not support\r\n3D video:not support\r\n\r\n"
                     "\r\nY420CMDB Descripter :\r\n1440x480p@60Hz  16:9\r\n\r\n"});

    // A 4:2:0 video block of 31 bytes from 250: four codes in the image.
    EdidBuilder vdb = chainTo(250, 127);
    vdb.set(250, {0xFF, 14, 0x10, 0x04, 0x61, 0x60});
    cases.push_back({"ycbcr420VideoBlockPastTheImage", vdb, "general",
                     "Native Timings:0\r\nYCbCr444 DeepColor:not support\r\n3D video:not support\r\n\r\n"
                     "\r\nY420VDB Descripter :\r\n1920x1080p@60Hz  16:9\r\n1280x720p@60Hz  16:9\r\n"
                     "3840x2160p@60Hz  16:9\r\n3840x2160p@50Hz  16:9\r\n\r\n"});

    // An extended-tag header in the last byte: its tag byte would be byte 256.
    EdidBuilder lastHeader = chainTo(255, 200);
    lastHeader.set(255, {0xFF});
    cases.push_back({"extendedHeaderInTheLastByte", lastHeader, "general",
                     "Native Timings:0\r\nYCbCr444 DeepColor:not support\r\n3D video:not support\r\n\r\n\r\n"});
    return cases;
}

TEST(EdidBounds, malformedExtensionsNeverReadPastTheImage) {
    for (const BoundsCase& c : boundsCases()) {
        SCOPED_TRACE(c.name);
        const EdidReports reports = decodeGuarded(c.edid.image());
        const std::string part = c.part;
        const std::string& text = part == "video" ? reports.video : part == "audio" ? reports.audio : reports.general;
        if (part == "general") {
            const std::size_t at = text.find("Native Timings:");
            ASSERT_NE(at, std::string::npos) << text;
            EXPECT_EQ(text.substr(at), c.expected);
        } else {
            EXPECT_EQ(text, c.expected);
        }
    }
}

TEST(EdidBounds, randomImagesDecodeWithinTheImage) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 3000; ++round) {
        EdidImage image;
        for (auto& b : image) {
            b = static_cast<std::uint8_t>(byte(random));
        }
        // Most rounds get a CEA extension, so the extension steps run too.
        if (round % 4 != 0) {
            image[126] = 1;
            image[128] = 2;
        }
        const EdidReports reports = decodeGuarded(image);
        ASSERT_GE(reports.video.size(), 2U);
        ASSERT_EQ(reports.video.substr(reports.video.size() - 2), "\r\n");
        ASSERT_EQ(reports.general.substr(reports.general.size() - 2), "\r\n");
        ASSERT_EQ(reports.audio.substr(reports.audio.size() - 2), "\r\n");
    }
}

} // namespace
} // namespace mc
