#include "session/edid_capture.h"
#include "session/log_hook.h"
#include "support/edid_capture_fakes.h"
#include "support/file_size_limit.h"
#include "support/recording_target.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace mc {
namespace {

using test::edidDataLine;
using test::MemoryEdidFiles;
using test::RecordingTarget;
using Calls = std::vector<std::string>;

EdidImage sampleImage() {
    std::ifstream file(std::string(MC_TEST_DATA_DIR) + "/edid-samples/004-dell-dela1cf.bin", std::ios::binary);
    EdidImage image{};
    file.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
    EXPECT_EQ(file.gcount(), 256);
    return image;
}

EdidImage filled(std::uint8_t value) {
    EdidImage image;
    image.fill(value);
    return image;
}

TEST(IsEdidDataLine, needsBothKeywordsBeforeAnyNul) {
    EXPECT_TRUE(isEdidDataLine("OUT1 EDID DATA 00\r\n"));
    EXPECT_TRUE(isEdidDataLine("DATA 00 EDID \r\n"));
    EXPECT_FALSE(isEdidDataLine("OUT1 EDID 3\r\n"));
    EXPECT_FALSE(isEdidDataLine("DATA 00\r\n"));
    EXPECT_FALSE(isEdidDataLine(std::string("EDID \0DATA 00\n", 14)));
}

TEST(EdidFileName, fillsTheSerialAsTwoDigits) {
    EXPECT_EQ(edidFileName("Matrix_EDID_out1_%02d.bin", 0), "Matrix_EDID_out1_00.bin");
    EXPECT_EQ(edidFileName("Matrix_EDID_inp16_%02d.bin", 7), "Matrix_EDID_inp16_07.bin");
    EXPECT_EQ(edidFileName("Matrix_EDID_out1_%02d.bin", 99), "Matrix_EDID_out1_99.bin");
}

TEST(EdidFileName, refusesPatternsThatAreNotOneSerialField) {
    for (const char* pattern : {"", "name.bin", "%s_%02d.bin", "%02d_%02d.bin", "%02d%n", "%2d.bin", "100%_%02d"}) {
        EXPECT_EQ(edidFileName(pattern, 1), std::nullopt) << pattern;
    }
    EXPECT_EQ(edidFileName("a_%02d.bin", -1), std::nullopt);
    EXPECT_EQ(edidFileName("a_%02d.bin", 100), std::nullopt);
}

class EdidCaptureTest : public testing::Test {
protected:
    EdidCaptureTest() { capture.expect(test::outputReadBack()); }

    RecordingTarget target;
    MemoryEdidFiles files;
    EdidCapture capture{target.views(), files};
};

TEST_F(EdidCaptureTest, linesWithoutBothKeywordsLeaveTheModeOn) {
    for (const char* line : {"OUT3 VS IN5\r\n", "OUT1 EDID 3\r\n", "DATA 00 11\r\n", "\r\n"}) {
        capture.handleLine(line);
    }
    EXPECT_TRUE(capture.pending());
    EXPECT_TRUE(target.calls.empty());
    EXPECT_TRUE(files.saved.empty());
}

TEST_F(EdidCaptureTest, savesUnderTheFirstFreeNameAndShowsIt) {
    files.existing = {"Matrix_EDID_out1_00.bin", "Matrix_EDID_out1_01.bin", "Matrix_EDID_out1_03.bin"};
    const EdidImage sample = sampleImage();
    capture.handleLine(edidDataLine(sample));

    ASSERT_EQ(files.saved.size(), 1U);
    EXPECT_EQ(files.saved.begin()->first, "Matrix_EDID_out1_02.bin");
    EXPECT_EQ(files.saved.begin()->second, sample);
    EXPECT_EQ(target.calls, (Calls{"showMessage(Save to file: Matrix_EDID_out1_02.bin)", "showCapturedEdid"}));
    ASSERT_EQ(target.capturedEdids.size(), 1U);
    EXPECT_EQ(target.capturedEdids[0], sample);
    EXPECT_FALSE(capture.pending());
}

TEST_F(EdidCaptureTest, aReadBackWithErrorsIsSavedAndShownAsAnyAndTheLogSaysWhatIsWrong) {
    std::vector<std::string> logged;
    setLogSink([&](LogLevel level, std::string_view source, std::string_view text) {
        logged.push_back(std::string(logLevelName(level)) + " " + std::string(source) + ": " + std::string(text));
    });
    EdidImage broken = sampleImage();
    broken[255] = static_cast<std::uint8_t>(broken[255] ^ 0x01);
    char finding[64];
    std::snprintf(finding, sizeof finding, "checksum of block 1 is 0x%02X, should be 0x%02X", broken[255],
                  broken[255] ^ 0x01);
    capture.handleLine(edidDataLine(broken));
    setLogSink({});

    ASSERT_EQ(files.saved.size(), 1U);
    EXPECT_EQ(files.saved.begin()->second, broken);
    EXPECT_EQ(target.calls, (Calls{"showMessage(Save to file: Matrix_EDID_out1_00.bin)", "showCapturedEdid"}));
    EXPECT_EQ(logged, std::vector<std::string>{std::string(logLevelName(LogLevel::Error)) +
                                               " EDID check: EDID read back into Matrix_EDID_out1_00.bin: " + finding});

    // A sound one logs nothing.
    logged.clear();
    capture.expect(test::outputReadBack());
    setLogSink([&](LogLevel, std::string_view, std::string_view text) { logged.emplace_back(text); });
    capture.handleLine(edidDataLine(sampleImage()));
    setLogSink({});
    EXPECT_TRUE(logged.empty());
}

TEST_F(EdidCaptureTest, withAllHundredNamesTakenNinetyNineIsOverwritten) {
    for (int serial = 0; serial < kEdidFileSerials; ++serial) {
        files.existing.insert(*edidFileName(test::outputReadBack().fileNamePattern, serial));
    }
    capture.handleLine(edidDataLine(sampleImage()));
    ASSERT_EQ(files.saved.size(), 1U);
    EXPECT_EQ(files.saved.begin()->first, "Matrix_EDID_out1_99.bin");
}

struct FailureCase {
    const char* name;
    EdidFiles::SaveResult result;
    const char* message;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class EdidCaptureFailure : public EdidCaptureTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(EdidCaptureFailure, showsTheMessageDecodesNothingAndEndsTheMode) {
    files.result = GetParam().result;
    capture.handleLine(edidDataLine(sampleImage()));
    EXPECT_EQ(target.calls, Calls{std::string("showMessage(") + GetParam().message + ")"});
    EXPECT_FALSE(capture.pending());
}

const FailureCase kFailureCases[] = {
    {"cannotCreate", EdidFiles::SaveResult::CannotCreate, "Faild to create file"},
    {"missingAfterCreate", EdidFiles::SaveResult::MissingAfterCreate, "failed"},
    {"writeFailed", EdidFiles::SaveResult::WriteFailed, "failed"},
};
INSTANTIATE_TEST_SUITE_P(Save, EdidCaptureFailure, testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EdidCaptureTest, badNamePatternIsNeverFormattedAndCreatesNothing) {
    capture.expect(EdidReadBack{EdidPort{EdidPort::Output, 1}, "%s%n%02d.bin"});
    capture.handleLine(edidDataLine(sampleImage()));
    EXPECT_TRUE(files.saved.empty());
    EXPECT_EQ(target.calls, Calls{"showMessage(Faild to create file)"});
    EXPECT_FALSE(capture.pending());
}

// After a full read-back, a line with a few bytes was saved as a new file
// holding the earlier EDID's bytes behind them. Now nothing of it is saved
// or shown, the log says why, and the read-back is over.
TEST_F(EdidCaptureTest, aLineWithoutTheWholeEdidOfThePortAskedIsNeitherSavedNorShown) {
    capture.handleLine(edidDataLine(sampleImage()));
    ASSERT_EQ(files.saved.size(), 1U);
    std::vector<std::string> logged;
    setLogSink([&](LogLevel level, std::string_view, std::string_view text) {
        logged.push_back(std::string(logLevelName(level)) + " " + std::string(text));
    });
    const std::string whole = edidDataLine(sampleImage());
    const std::string cases[] = {
        "OUT1 EDID DATA 00 01\r\n",
        whole.substr(0, whole.size() - 6) + "\r\n",      // the last byte missing
        whole.substr(0, 17) + '\0' + whole.substr(17),   // a NUL ends the line
        edidDataLine(sampleImage(), "IN1 EDID DATA "),   // another port's EDID
        edidDataLine(filled(0x7a)).replace(15, 2, "zz"), // not hex
    };
    for (const std::string& line : cases) {
        target.calls.clear();
        capture.expect(test::outputReadBack());
        capture.handleLine(line);
        EXPECT_FALSE(capture.pending()) << line;
        EXPECT_TRUE(target.calls.empty()) << line;
    }
    setLogSink({});
    EXPECT_EQ(files.saved.size(), 1U);
    ASSERT_EQ(logged.size(), std::size(cases));
    const std::string refused = std::string(logLevelName(LogLevel::Error)) + " EDID read back not saved: ";
    EXPECT_EQ(logged[0], refused + "the EDID of output 1 holds 2 bytes, not whole 128-byte blocks");
    EXPECT_EQ(logged[1], refused + "the EDID of output 1 holds 255 bytes, not whole 128-byte blocks");
    EXPECT_EQ(logged[2], refused + "the EDID of output 1 holds 1 bytes, not whole 128-byte blocks");
}

TEST_F(EdidCaptureTest, upperCaseHexAndABaseBlockAloneAreTakenAsTheyAre) {
    EdidImage base = sampleImage();
    base[126] = 0;
    std::string line = edidDataLine(base).substr(0, 15 + 3 * 128) + "\r\n";
    for (char& c : line) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    line.replace(0, 15, "OUT1 EDID DATA ");
    capture.handleLine(line);
    ASSERT_EQ(files.saved.size(), 1U);
    EdidImage expected = filled(kEdidFillByte);
    std::copy_n(base.begin(), 128, expected.begin());
    EXPECT_EQ(files.saved.begin()->second, expected);
}

class DirectoryEdidFilesTest : public testing::Test {
protected:
    void SetUp() override {
        directory = std::filesystem::temp_directory_path() /
                    ("mc-edid-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(directory);
        std::filesystem::create_directories(directory);
    }
    void TearDown() override { std::filesystem::remove_all(directory); }

    [[nodiscard]] std::string read(const std::string& name) const {
        std::ifstream file(directory / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

    std::filesystem::path directory;
};

TEST_F(DirectoryEdidFilesTest, writesExactlyTheImageOverAnyOlderFile) {
    DirectoryEdidFiles files(directory);
    EXPECT_FALSE(files.exists("a_00.bin"));
    std::ofstream(directory / "a_00.bin") << std::string(1000, 'x');
    EXPECT_TRUE(files.exists("a_00.bin"));

    const EdidImage sample = sampleImage();
    EXPECT_EQ(files.save("a_00.bin", sample), EdidFiles::SaveResult::Saved);
    EXPECT_EQ(read("a_00.bin"), std::string(reinterpret_cast<const char*>(sample.data()), sample.size()));
}

TEST_F(DirectoryEdidFilesTest, reportsAFileThatCannotBeCreated) {
    DirectoryEdidFiles files(directory / "missing-subdirectory");
    EXPECT_EQ(files.save("a_00.bin", sampleImage()), EdidFiles::SaveResult::CannotCreate);
}

TEST_F(DirectoryEdidFilesTest, captureTakesTheNextNumberOnDisk) {
    DirectoryEdidFiles files(directory);
    RecordingTarget target;
    EdidCapture capture(target.views(), files);
    for (int i = 0; i < 3; ++i) {
        capture.expect(EdidReadBack{EdidPort{EdidPort::Input, 2}, "Matrix_EDID_inp2_%02d.bin"});
        capture.handleLine(edidDataLine(sampleImage(), "IN2 EDID 01 DATA "));
    }
    EXPECT_EQ(read("Matrix_EDID_inp2_02.bin").size(), 256U);
    EXPECT_EQ(target.calls.at(4), "showMessage(Save to file: Matrix_EDID_inp2_02.bin)");
}

#ifndef _WIN32 // a failing write is made with the POSIX file-size limit
// As on a full disk: the cut file must neither stay (a later upload would
// send it padded with 0xFF as if it were an EDID) nor use up its number.
TEST_F(DirectoryEdidFilesTest, aFailedWriteLeavesNoFileAndFreesItsNumber) {
    DirectoryEdidFiles files(directory);
    RecordingTarget target;
    EdidCapture capture(target.views(), files);
    {
        const test::FileSizeLimit limit(100);
        capture.expect(test::outputReadBack());
        capture.handleLine(edidDataLine(sampleImage()));
    }
    EXPECT_EQ(target.calls, Calls{"showMessage(failed)"});
    EXPECT_TRUE(std::filesystem::is_empty(directory));

    capture.expect(test::outputReadBack());
    capture.handleLine(edidDataLine(sampleImage()));
    EXPECT_EQ(target.calls.at(1), "showMessage(Save to file: Matrix_EDID_out1_00.bin)");
    EXPECT_EQ(read("Matrix_EDID_out1_00.bin").size(), 256U);
}
#endif

// Links in the working directory never lead a file outside it: a dangling
// link takes its name like any file, and a save never goes through a link,
// not even one that appears after the name was chosen.
TEST_F(DirectoryEdidFilesTest, linksTakeTheirNameAndNothingIsWrittenThroughThem) {
    const std::filesystem::path outside = directory / "outside";
    std::filesystem::create_directory(outside);
    const std::filesystem::path work = directory / "work";
    std::filesystem::create_directory(work);
    std::error_code error;
    std::filesystem::create_symlink(outside / "planted.bin", work / "Matrix_EDID_out1_00.bin", error);
    if (error) {
        GTEST_SKIP() << "this system makes no symbolic links (Wine): " << error.message();
    }
    std::ofstream(outside / "victim.bin") << "keep";
    std::filesystem::create_symlink(outside / "victim.bin", work / "Matrix_EDID_out1_01.bin");

    DirectoryEdidFiles files(work);
    RecordingTarget target;
    EdidCapture capture(target.views(), files);
    capture.expect(test::outputReadBack());
    capture.handleLine(edidDataLine(sampleImage()));
    EXPECT_EQ(target.calls.at(0), "showMessage(Save to file: Matrix_EDID_out1_02.bin)");

    EXPECT_EQ(files.save("Matrix_EDID_out1_00.bin", sampleImage()), EdidFiles::SaveResult::CannotCreate);
    EXPECT_EQ(files.save("Matrix_EDID_out1_01.bin", sampleImage()), EdidFiles::SaveResult::CannotCreate);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(outside / "planted.bin")));
    EXPECT_EQ(read("outside/victim.bin"), "keep");
}

} // namespace
} // namespace mc
