// Real EDIDs: a few worked out by hand from their bytes, and every sample
// decoded within its image.
#include "edid/edid_decoder.h"
#include "edid/edid_file.h"
#include "edid/edid_summary.h"
#include "support/edid_builder.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace mc {
namespace {

const std::filesystem::path kSamples = std::filesystem::path(MC_TEST_DATA_DIR) / "edid-samples";

EdidReports decodeSample(const char* name) {
    const auto image = readEdidFile((kSamples / name).string());
    EXPECT_TRUE(image.has_value()) << name;
    return image ? decodeEdid(*image) : EdidReports{};
}

TEST(EdidSamples, analogMonitorWithBaseBlockOnly) {
    const EdidReports reports = decodeSample("195-hannspree-hsg1ac3.bin");
    EXPECT_EQ(reports.video, "Preferred Timing:1920x1080@60Hz\r\n");
    EXPECT_EQ(reports.audio, "\r\n");
    EXPECT_EQ(reports.general, "\r\n"
                               "Manufacture's Name:HSG\r\n"
                               "Product Code:6851\r\n"
                               "Video Signal Interface:Analog\r\n"
                               "Color Bit Depth:Reserved\r\n"
                               "Display Product Name:HF237        \r\n"
                               "Vertical Rate:56Hz--76Hz\r\n"
                               "Horizontal Rate:31KHz--82KHz\r\n"
                               "Maximum Pixel Clock:180MHz\r\n"
                               "\r\n");
    EXPECT_EQ(fillEdidSummary(reports),
              "Manufacture's Name:HSG\r\nMaximum Pixel Clock:180MHz\r\nPreferred Timing:1920x1080@60Hz\r\n");
}

TEST(EdidSamples, audioReceiverWithSevenAudioFormatsAnd3d) {
    const EdidReports reports = decodeSample("108-marantz-mji0031.bin");
    EXPECT_EQ(reports.video, "Preferred Timing:1920x1080@60Hz\r\n"
                             "Detailed Timing:1920x1080@60Hz\r\n"
                             "Extension Detailed Timing1:1920x1080@50Hz\r\n"
                             "Extension Detailed Timing2:1920x1080i@60Hz\r\n"
                             "\r\n"
                             "Short Video Descripter\r\n"
                             "1920x1080p@60Hz  16:9\r\n"
                             "1920x1080p@50Hz  16:9\r\n"
                             "1920x1080p@24Hz  16:9\r\n"
                             "1920x1080i@60Hz  16:9\r\n"
                             "1920x1080i@50Hz  16:9\r\n"
                             "1280x720p@60Hz  16:9\r\n"
                             "1280x720p@50Hz  16:9\r\n"
                             "720x480p@60Hz  16:9\r\n"
                             "720x576p@50Hz  16:9\r\n"
                             "720(1440)x480i@60Hz  16:9\r\n"
                             "720(1440)x576i@50Hz  16:9\r\n"
                             "640x480p@60Hz  4:3\r\n"
                             "1440x480p@60Hz  16:9\r\n"
                             "2880x480p@60Hz  16:9\r\n"
                             "1440x576p@50Hz  16:9\r\n"
                             "2880x576p@50Hz  16:9\r\n");
    EXPECT_EQ(reports.audio, "Audio Format:LPCM.\r\nAudio Channel(s):8\r\nSample Frequency:\r\n192KHz\r\n176KHz\r\n"
                             "96KHz\r\n88KHz\r\n48KHz\r\n44.1KHz\r\n32KHz\r\nSample Bit:\r\n24Bit \r\n20Bit \r\n"
                             "16Bit \r\n\r\n\r\n"
                             "Audio Format:AC-3.\r\nAudio Channel(s):6\r\nSample Frequency:\r\n48KHz\r\n44.1KHz\r\n"
                             "32KHz\r\n\r\n"
                             "Audio Format:DTS.\r\nAudio Channel(s):6\r\nSample Frequency:\r\n96KHz\r\n88KHz\r\n"
                             "48KHz\r\n44.1KHz\r\n\r\n"
                             "Audio Format:OneBitAudio.\r\nAudio Channel(s):6\r\nSample Frequency:\r\n44.1KHz\r\n\r\n"
                             "Audio Format:Dolby D+.\r\nAudio Channel(s):8\r\nSample Frequency:\r\n48KHz\r\n44.1KHz\r\n"
                             "Sample Bit:\r\n16Bit \r\n\r\n\r\n"
                             "Audio Format:DTS-HD.\r\nAudio Channel(s):8\r\nSample Frequency:\r\n192KHz\r\n176KHz\r\n"
                             "96KHz\r\n88KHz\r\n48KHz\r\n44.1KHz\r\nSample Bit:\r\n16Bit \r\n\r\n\r\n"
                             "Audio Format:MAT(MLP).\r\nAudio Channel(s):8\r\nSample Frequency:\r\n192KHz\r\n176KHz\r\n"
                             "96KHz\r\n88KHz\r\n48KHz\r\n44.1KHz\r\nSample Bit:\r\n16Bit \r\n\r\n\r\n"
                             "\r\n");
    EXPECT_EQ(reports.general, "\r\n"
                               "Manufacture's Name:MJI\r\n"
                               "Product Code:49\r\n"
                               "Video Signal Interface:Digtal\r\n"
                               "Color Bit Depth:Reserved\r\n"
                               "Display Product Name:marantz-AVR  \r\n"
                               "Vertical Rate:23Hz--64Hz\r\n"
                               "Horizontal Rate:15KHz--68KHz\r\n"
                               "Maximum Pixel Clock:150MHz\r\n"
                               "Extension Device Support:\r\nBase Audio\r\nYCbCr4:4:4\r\nYCbCr4:2:2\r\n\r\n"
                               "Native Timings:0\r\n"
                               "YCbCr444 DeepColor:not support\r\n"
                               "3D video:support\r\n"
                               "\r\n"
                               "\r\n");
    EXPECT_EQ(fillEdidSummary(reports), "Manufacture's Name:MJI\r\n"
                                        "Maximum Pixel Clock:150MHz\r\n"
                                        "3D video:support\r\n"
                                        "Preferred Timing:1920x1080@60Hz\r\n"
                                        "Detailed Timing:1920x1080@60Hz\r\n"
                                        "Audio Format:LPCM.\r\n"
                                        "Audio Channel(s):8\r\n");
}

TEST(EdidSamples, uhdMonitorWithDeepColorAndYcbcr420Map) {
    const EdidReports reports = decodeSample("001-aoc-aoc2703.bin");
    EXPECT_EQ(reports.video, "Preferred Timing:3840x2160@60Hz\r\n"
                             "Detailed Timing:3840x2160@30Hz\r\n"
                             "Extension Detailed Timing1:2560x1440@60Hz\r\n"
                             "Extension Detailed Timing2:1920x1080@60Hz\r\n"
                             "Extension Detailed Timing3:1280x720@60Hz\r\n"
                             "Extension Detailed Timing4:1920x2160@60Hz\r\n"
                             "\r\n"
                             "Short Video Descripter\r\n"
                             "1920x1080p@60Hz  16:9  Native\r\n"
                             "1280x720p@60Hz  16:9\r\n"
                             "720x480p@60Hz  16:9\r\n"
                             "1920x1080p@50Hz  16:9\r\n"
                             "1280x720p@50Hz  16:9\r\n"
                             "640x480p@60Hz  4:3\r\n"
                             "720x576p@50Hz  16:9\r\n"
                             "3840x2160p@24Hz  16:9\r\n"
                             "3840x2160p@25Hz  16:9\r\n"
                             "3840x2160p@30Hz  16:9\r\n"
                             "3840x2160p@50Hz  16:9\r\n"
                             "3840x2160p@60Hz  16:9\r\n");
    EXPECT_EQ(reports.audio, "Audio Format:LPCM.\r\nAudio Channel(s):2\r\nSample Frequency:\r\n48KHz\r\n44.1KHz\r\n"
                             "32KHz\r\nSample Bit:\r\n24Bit \r\n20Bit \r\n16Bit \r\n\r\n\r\n\r\n");
    EXPECT_EQ(reports.general, "\r\n"
                               "Manufacture's Name:AOC\r\n"
                               "Product Code:9987\r\n"
                               "Video Signal Interface:Digtal\r\n"
                               "Color Bit Depth:Reserved\r\n"
                               "Display Product Name:U27V3B       \r\n"
                               "Vertical Rate:23Hz--75Hz\r\n"
                               "Horizontal Rate:30KHz--160KHz\r\n"
                               "Maximum Pixel Clock:600MHz\r\n"
                               "Extension Device Support:\r\nBase Audio\r\nYCbCr4:4:4\r\nYCbCr4:2:2\r\n\r\n"
                               "Native Timings:1\r\n"
                               "Deep Color:\r\n36Bit 30Bit \r\n"
                               "YCbCr444 DeepColor:support\r\n"
                               "3D video:not support\r\n"
                               "\r\n"
                               "Extended Resolution(4Kx2K):\r\n4Kx2K@30Hz\r\n4Kx2K@25Hz\r\n4Kx2K@24Hz\r\n"
                               "\r\nY420CMDB Descripter :\r\n3840x2160p@50Hz  16:9\r\n3840x2160p@60Hz  16:9\r\n"
                               "\r\n");
}

TEST(EdidSamples, everySampleDecodesWithinItsImage) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kSamples)) {
        if (entry.path().extension() != ".bin") {
            continue;
        }
        ++count;
        SCOPED_TRACE(entry.path().filename().string());
        const auto image = readEdidFile(entry.path().string());
        ASSERT_TRUE(image.has_value());
        if (std::filesystem::file_size(entry.path()) == 128) {
            EXPECT_EQ((*image)[128], 0xFF);
            EXPECT_EQ((*image)[255], 0xFF);
        }
        const test::GuardedImage guarded(*image);
        const EdidReports reports = decodeEdid(guarded.view());
        EXPECT_EQ(reports.video.rfind("Preferred Timing:", 0), 0U);
        EXPECT_EQ(reports.general.rfind("\r\nManufacture's Name:", 0), 0U);
        for (const std::string* text : {&reports.video, &reports.audio, &reports.general}) {
            ASSERT_GE(text->size(), 2U);
            EXPECT_EQ(text->substr(text->size() - 2), "\r\n");
            EXPECT_EQ(text->find('\0'), std::string::npos);
        }
        EXPECT_EQ(fillEdidSummary(reports).rfind("Manufacture's Name:", 0), 0U);
    }
    EXPECT_EQ(count, 400);
}

TEST(EdidFile, unreadableFileGivesNothing) {
    EXPECT_FALSE(readEdidFile((kSamples / "no-such-file.bin").string()).has_value());
    EXPECT_FALSE(readEdidFile(kSamples.string()).has_value()) << "a directory is not an EDID file";
}

#ifndef _WIN32 // FIFOs in the file system are POSIX's
// A FIFO named like an EDID file would hold open() until some writer came,
// and with it the window that asked.
TEST(EdidFile, aFifoIsRefusedWithoutWaitingForAWriter) {
    const auto fifo = std::filesystem::temp_directory_path() / ("mc-edid-fifo-" + std::to_string(::getpid()) + ".bin");
    std::filesystem::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::promise<bool> result;
    auto done = result.get_future();
    std::thread reader([&] { result.set_value(readEdidFile(fifo.string()).has_value()); });
    const bool returned = done.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
    if (!returned) {
        // Lets a reader stuck in open() go: it sees a writer come and leave.
        ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
    }
    reader.join();
    std::filesystem::remove(fifo);
    ASSERT_TRUE(returned) << "readEdidFile waited for a writer";
    EXPECT_FALSE(done.get());
}
#endif

TEST(EdidFile, saysWhyAFileCannotBeRead) {
    std::string reason;
    EXPECT_FALSE(readEdidFile((kSamples / "no-such-file.bin").string(), &reason));
    EXPECT_EQ(reason, std::strerror(ENOENT));
    EXPECT_FALSE(readEdidFile(kSamples.string(), &reason));
    EXPECT_EQ(reason, "a directory, not a regular file");
}

TEST(EdidFile, aRegularFileIsReadUpToTheLimitAndNoFurther) {
    const auto bytes = readRegularFile((kSamples / "001-aoc-aoc2703.bin").string(), 257);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), 256U);
    EXPECT_EQ(readRegularFile((kSamples / "001-aoc-aoc2703.bin").string(), 100)->size(), 100U);
}

} // namespace
} // namespace mc
