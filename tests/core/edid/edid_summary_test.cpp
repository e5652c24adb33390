#include "edid/edid_summary.h"

#include <gtest/gtest.h>

namespace mc {
namespace {

TEST(EdidSummary, copiesSevenWholeLinesInItsOwnOrder) {
    EdidReports reports;
    reports.video = "Preferred Timing:1920x1080@60Hz\r\nDetailed Timing:1280x720@60Hz\r\n"
                    "Detailed Timing:640x480@60Hz\r\n";
    reports.audio = "Audio Format:LPCM.\r\nAudio Channel(s):2\r\nSample Frequency:\r\n48KHz\r\n\r\n"
                    "Audio Format:AC-3.\r\nAudio Channel(s):6\r\n\r\n\r\n";
    reports.general = "\r\nManufacture's Name:ABC\r\nProduct Code:1\r\nMaximum Pixel Clock:600MHz\r\n"
                      "Maximum Pixel Clock:170MHz\r\n3D video:support\r\n\r\n\r\n";
    EXPECT_EQ(fillEdidSummary(reports), "Manufacture's Name:ABC\r\n"
                                        "Maximum Pixel Clock:600MHz\r\n"
                                        "3D video:support\r\n"
                                        "Preferred Timing:1920x1080@60Hz\r\n"
                                        "Detailed Timing:1280x720@60Hz\r\n"
                                        "Audio Format:LPCM.\r\n"
                                        "Audio Channel(s):2\r\n");
}

TEST(EdidSummary, leavesOutWhatTheReportsDoNotHold) {
    EdidReports reports;
    reports.video = "Preferred Timing:640x480@60Hz\r\n";
    reports.audio = "\r\n";
    reports.general = "\r\nManufacture's Name:ABC\r\nProduct Code:1\r\n\r\n";
    EXPECT_EQ(fillEdidSummary(reports), "Manufacture's Name:ABC\r\nPreferred Timing:640x480@60Hz\r\n");
    EXPECT_EQ(fillEdidSummary(EdidReports{}), "");
}

TEST(EdidSummary, takesTheFirstDetailedTimingEvenInsideAnExtensionTimingLine) {
    EdidReports reports;
    reports.video = "Preferred Timing:3840x2160@60Hz\r\nExtension Detailed Timing1:2560x1440@60Hz\r\n"
                    "Extension Detailed Timing2:1920x1080@60Hz\r\n";
    reports.general = "\r\nManufacture's Name:ABC\r\n";
    EXPECT_EQ(fillEdidSummary(reports),
              "Manufacture's Name:ABC\r\nPreferred Timing:3840x2160@60Hz\r\nDetailed Timing1:2560x1440@60Hz\r\n");
}

TEST(EdidSummary, channelLineOnlyFollowsAFormatLine) {
    EdidReports reports;
    reports.audio = "Audio Channel(s):2\r\n";
    EXPECT_EQ(fillEdidSummary(reports), "");
}

TEST(EdidSummary, lineWithoutLineFeedIsCopiedToTheEnd) {
    EdidReports reports;
    reports.general = "Manufacture's Name:ABC";
    EXPECT_EQ(fillEdidSummary(reports), "Manufacture's Name:ABC");
}

} // namespace
} // namespace mc
