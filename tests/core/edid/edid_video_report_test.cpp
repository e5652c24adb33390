#include "edid/edid_decoder.h"
#include "support/edid_builder.h"

#include <gtest/gtest.h>
#include <string>

namespace mc {
namespace {

using test::block;
using test::EdidBuilder;

std::string videoReport(const EdidBuilder& builder) {
    return decodeEdid(builder.image()).video;
}

struct TimingCase {
    const char* name;
    unsigned pixelClock;
    unsigned hActive, hBlank, vActive, vBlank;
    bool interlaced;
    const char* line;
};

class PreferredTiming : public testing::TestWithParam<TimingCase> {};

TEST_P(PreferredTiming, isWrittenWithTheRoundedRefresh) {
    const TimingCase& c = GetParam();
    EdidBuilder edid;
    edid.timing(54, c.pixelClock, c.hActive, c.hBlank, c.vActive, c.vBlank, c.interlaced);
    EXPECT_EQ(videoReport(edid), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Edid, PreferredTiming,
    testing::Values(
        // One field of 1080i: height doubled, the field rate, a blank before CR LF.
        TimingCase{"interlaced", 7425, 1920, 280, 540, 22, true, "Preferred Timing:1920x1080i@60Hz \r\n"},
        // 594 MHz is above 0x7FFF in 10 kHz units: read unsigned.
        TimingCase{"clockAbove32767", 59400, 3840, 560, 2160, 90, false, "Preferred Timing:3840x2160@60Hz\r\n"},
        TimingCase{"halfRoundsUp", 119, 100, 0, 200, 0, false, "Preferred Timing:100x200@60Hz\r\n"},
        TimingCase{"belowHalfTruncates", 1189, 1000, 0, 200, 0, false, "Preferred Timing:1000x200@59Hz\r\n"},
        TimingCase{"filmRate", 7417, 1920, 830, 1080, 45, false, "Preferred Timing:1920x1080@24Hz\r\n"},
        // The largest fields the descriptor can hold: 12-bit actives and blankings.
        TimingCase{"twelveBitFields", 65535, 4095, 4095, 4095, 4095, false, "Preferred Timing:4095x4095@10Hz\r\n"},
        // A total of 0 has no rate: written as 0 Hz.
        TimingCase{"zeroTotals", 1000, 0, 0, 0, 0, false, "Preferred Timing:0x0@0Hz\r\n"},
        TimingCase{"zeroVerticalTotal", 1000, 640, 160, 0, 0, false, "Preferred Timing:640x0@0Hz\r\n"}),
    [](const testing::TestParamInfo<TimingCase>& info) { return std::string(info.param.name); });

TEST(EdidVideoReport, listsFurtherTimingsWhoseClockBytesAreBothNonZero) {
    EdidBuilder edid;
    edid.timing(54, 14850, 1920, 280, 1080, 45)
        .timing(72, 7425, 1920, 280, 540, 22, true)
        .displayDescriptor(90, 0xFC, {'A', 0x0A})
        // 76.80 MHz has a low byte of 0 and is skipped like a display descriptor.
        .timing(108, 7680, 1280, 160, 800, 23);
    EXPECT_EQ(videoReport(edid), "Preferred Timing:1920x1080@60Hz\r\n"
                                 "Detailed Timing:1920x1080i@60Hz\r\n");

    EdidBuilder highByteZero;
    highByteZero.timing(54, 7425, 1280, 370, 720, 30).timing(90, 0x00FF, 640, 160, 480, 45);
    EXPECT_EQ(videoReport(highByteZero), "Preferred Timing:1280x720@60Hz\r\n");
}

TEST(EdidVideoReport, extensionIsDecodedOnlyWithCountAndCeaTag) {
    EdidBuilder withoutCount;
    withoutCount.dataBlocks({block(2, {0x90})}).set(126, {0});
    EXPECT_EQ(videoReport(withoutCount), "Preferred Timing:0x0@0Hz\r\n");

    EdidBuilder otherTag;
    otherTag.dataBlocks({block(2, {0x90})}).set(128, {0x70});
    EXPECT_EQ(videoReport(otherTag), "Preferred Timing:0x0@0Hz\r\n");

    EdidBuilder anyCount;
    anyCount.dataBlocks({block(2, {0x90})}).set(126, {7});
    EXPECT_EQ(videoReport(anyCount), "Preferred Timing:0x0@0Hz\r\n\r\nShort Video Descripter\r\n"
                                     "1920x1080p@60Hz  16:9  Native\r\n");
}

TEST(EdidVideoReport, extensionTimingsAreNumberedInTheOrderWritten) {
    EdidBuilder edid;
    // Data blocks end at 135, so the slots start there; the second slot stays empty.
    edid.dataBlocks({block(2, {0x90, 0x04})})
        .timing(135, 7425, 1280, 370, 720, 30)
        .timing(171, 1350, 720, 138, 240, 22, true);
    EXPECT_EQ(videoReport(edid), "Preferred Timing:0x0@0Hz\r\n"
                                 "Extension Detailed Timing1:1280x720@60Hz\r\n"
                                 "Extension Detailed Timing2:720x480i@60Hz\r\n"
                                 "\r\n"
                                 "Short Video Descripter\r\n"
                                 "1920x1080p@60Hz  16:9  Native\r\n"
                                 "1280x720p@60Hz  16:9\r\n");
}

struct SlotCase {
    const char* name;
    std::uint8_t offset;
    std::size_t slotStart;
    bool listed;
};

class ExtensionSlot : public testing::TestWithParam<SlotCase> {};

TEST_P(ExtensionSlot, isListedOnlyWhenItLiesInTheImage) {
    const SlotCase& c = GetParam();
    EdidBuilder edid;
    edid.ceaExtension(c.offset);
    // Non-zero clock bytes at the slot; what follows may run past the image.
    edid.set(c.slotStart, {0x10, 0x20});
    if (c.slotStart + 18 <= kEdidImageBytes) {
        edid.timing(c.slotStart, 7425, 1280, 370, 720, 30);
    }
    const std::string report = videoReport(edid);
    EXPECT_EQ(report.find("Extension Detailed Timing1:") != std::string::npos, c.listed) << report;
}

INSTANTIATE_TEST_SUITE_P(Edid, ExtensionSlot,
                         testing::Values(
                             // Six slots from 148; the last ends exactly at byte 255.
                             SlotCase{"lastSlotEndingAtTheImageEnd", 20, 238, true},
                             // Seven slots from 132; the last would end at byte 257.
                             SlotCase{"lastSlotPastTheImage", 4, 240, false},
                             // One slot at 254, which can never hold a whole timing.
                             SlotCase{"offset126", 126, 254, false},
                             // No slot at all.
                             SlotCase{"offset127", 127, 254, false}),
                         [](const testing::TestParamInfo<SlotCase>& info) { return std::string(info.param.name); });

TEST(EdidVideoReport, shortVideoDescriptorsComeFromTheFirstBlockWhateverItsTag) {
    EdidBuilder edid;
    // 0x90 is VIC 16 marked native; 0, 0x80 and codes 108 to 127 name nothing;
    // 0xEB is VIC 107 marked native. 47 and 55 keep their quirks.
    edid.dataBlocks({block(1, {0x90, 0x00, 0x80, 0x6C, 0x7F, 0xEB, 47, 55, 0x01})});
    EXPECT_EQ(videoReport(edid), "Preferred Timing:0x0@0Hz\r\n"
                                 "\r\n"
                                 "Short Video Descripter\r\n"
                                 "1920x1080p@60Hz  16:9  Native\r\n"
                                 "3840x2160p@60Hz  64:27  Native\r\n"
                                 "1280x720@120Hz  16:9\r\n"
                                 "720(1440)x576i@200Hz  16:3\r\n"
                                 "640x480p@60Hz  4:3\r\n");
}

TEST(EdidVideoReport, vicTableRowsAreIndexedByCode) {
    // Spot checks across the table: a shifted row would break these.
    const std::pair<std::uint8_t, const char*> rows[] = {
        {5, "1920x1080i@60Hz  16:9"},     {39, "1920x1080i(1250 total)@50Hz  16:9"}, {64, "1920x1080p@100Hz  16:9"},
        {65, "1280x720p@24Hz  64:27"},    {92, "2560x1080p@120Hz  64:27"},           {93, "3840x2160p@24Hz  16:9"},
        {98, "4096x2160p@24Hz  256:135"}, {106, "3840x2160p@50Hz  64:27"},           {107, "3840x2160p@60Hz  64:27"},
    };
    for (const auto& [code, name] : rows) {
        EdidBuilder edid;
        edid.dataBlocks({block(2, {code})});
        EXPECT_EQ(videoReport(edid),
                  std::string("Preferred Timing:0x0@0Hz\r\n\r\nShort Video Descripter\r\n") + name + "\r\n")
            << "VIC " << int{code};
    }
}

TEST(EdidVideoReport, appendsToWhatTheCallerLeftAndIgnoresOtherParts) {
    EdidBuilder edid;
    edid.timing(54, 7425, 1280, 370, 720, 30);
    EdidReports reports;
    reports.video = "kept\r\n";
    decodeEdidPart(edid.image(), kVideoReportPart, reports);
    decodeEdidPart(edid.image(), 3, reports);
    decodeEdidPart(edid.image(), 255, reports);
    EXPECT_EQ(reports.video, "kept\r\nPreferred Timing:1280x720@60Hz\r\n");
    EXPECT_TRUE(reports.audio.empty());
    EXPECT_TRUE(reports.general.empty());
}

} // namespace
} // namespace mc
