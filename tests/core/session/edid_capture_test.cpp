#include "session/edid_capture.h"
#include "session/log_hook.h"
#include "support/edid_capture_fakes.h"
#include "support/file_size_limit.h"
#include "support/recording_target.h"

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

TEST(ScanEdidData, readsTheSwitchersLowerCaseLine) {
    const EdidImage sample = sampleImage();
    EdidImage image = filled(0x55);
    scanEdidData(edidDataLine(sample), image);
    EXPECT_EQ(image, sample);
}

struct PairCase {
    const char* name;
    std::string data; // what follows "DATA "
    std::vector<std::uint8_t> firstBytes;
};

void PrintTo(const PairCase& c, std::ostream* os) {
    *os << c.name;
}

class ScanEdidPairs : public testing::TestWithParam<PairCase> {};

// Bytes not given by the line keep 0xEE.
TEST_P(ScanEdidPairs, givesTheseBytes) {
    EdidImage image = filled(0xEE);
    scanEdidData("IN1 EDID DATA " + GetParam().data, image);
    const auto& expected = GetParam().firstBytes;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(image[i], expected[i]) << "byte " << i;
    }
    for (std::size_t i = expected.size(); i < image.size(); ++i) {
        ASSERT_EQ(image[i], 0xEE) << "byte " << i;
    }
}

const PairCase kPairCases[] = {
    {"lowerCaseHex", "00 ff 7a 10\r\n", {0x00, 0xFF, 0x7A, 0x10}},
    {"pairsNeedNoBlank", "00ff7a\r\n", {0x00, 0xFF, 0x7A}},
    // Upper case cannot start a pair; as a second character it counts as a
    // "letter": 'A' - 'a' + 10 = -22, so "0A" gives 0x00 - 22 = 0xEA.
    {"upperCaseSkippedOrMisread", "0A 1B\r\n", {0xEA, 0xFB}},
    {"upperCaseOnlyGivesNothing", "FF AB CD\r\n", {}},
    {"oddSecondCharacterWraps", "fz\r\n", {0x13}}, // 15 * 16 + 35 = 275
    {"crAsSecondCharacter", "1\r\n", {static_cast<std::uint8_t>(16 + '\r' - 'a' + 10)}},
    {"loneLastCharacterKeepsTheByte", "12 3", {0x12}},
    {"nulEndsTheLine", std::string("12 34\0 56\n", 10), {0x12, 0x34}},
    {"noDataAtAll", "\r\n", {}},
};
INSTANTIATE_TEST_SUITE_P(Pairs, ScanEdidPairs, testing::ValuesIn(kPairCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ScanEdidData, neverReadsAtOrBeyondPositionTwoThousand) {
    const std::string prefix = "EDID DATA ";
    // A pair at 1998-1999 is the last one read; one starting at 1999 is not.
    std::string line = prefix + std::string(1998 - prefix.size(), ' ') + "ab";
    EdidImage image = filled(0xEE);
    scanEdidData(line + "cd\n", image);
    EXPECT_EQ(image[0], 0xAB);
    EXPECT_EQ(image[1], 0xEE);

    line = prefix + std::string(1999 - prefix.size(), ' ') + "ab\n";
    image = filled(0xEE);
    scanEdidData(line, image);
    EXPECT_EQ(image, filled(0xEE));
}

TEST(ScanEdidData, startsBehindTheFirstDataKeyword) {
    EdidImage image = filled(0xEE);
    scanEdidData("12 EDID 34 DATA 56 DATA 78\n", image);
    EXPECT_EQ(image[0], 0x56);
    // The second "DATA" is upper case and skipped like blanks.
    EXPECT_EQ(image[1], 0x78);
    EXPECT_EQ(image[2], 0xEE);
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
    EdidCaptureTest() {
        state.edidToFile = true;
        state.edidFileName = "Matrix_EDID_out1_%02d.bin";
    }

    ConsoleState state;
    RecordingTarget target;
    MemoryEdidFiles files;
    EdidCapture capture{state, target.views(), files};
};

TEST_F(EdidCaptureTest, linesWithoutBothKeywordsLeaveTheModeOn) {
    for (const char* line : {"OUT3 VS IN5\r\n", "OUT1 EDID 3\r\n", "DATA 00 11\r\n", "\r\n"}) {
        capture.handleLine(line);
    }
    EXPECT_TRUE(state.edidToFile);
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
    EXPECT_EQ(state.receivedEdid, sample);
    EXPECT_FALSE(state.edidToFile);
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
    state.edidToFile = true;
    setLogSink([&](LogLevel, std::string_view, std::string_view text) { logged.emplace_back(text); });
    capture.handleLine(edidDataLine(sampleImage()));
    setLogSink({});
    EXPECT_TRUE(logged.empty());
}

TEST_F(EdidCaptureTest, withAllHundredNamesTakenNinetyNineIsOverwritten) {
    for (int serial = 0; serial < kEdidFileSerials; ++serial) {
        files.existing.insert(*edidFileName(state.edidFileName, serial));
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
    EXPECT_FALSE(state.edidToFile);
}

const FailureCase kFailureCases[] = {
    {"cannotCreate", EdidFiles::SaveResult::CannotCreate, "Faild to create file"},
    {"missingAfterCreate", EdidFiles::SaveResult::MissingAfterCreate, "failed"},
    {"writeFailed", EdidFiles::SaveResult::WriteFailed, "failed"},
};
INSTANTIATE_TEST_SUITE_P(Save, EdidCaptureFailure, testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EdidCaptureTest, badNamePatternIsNeverFormattedAndCreatesNothing) {
    state.edidFileName = "%s%n%02d.bin";
    capture.handleLine(edidDataLine(sampleImage()));
    EXPECT_TRUE(files.saved.empty());
    EXPECT_EQ(target.calls, Calls{"showMessage(Faild to create file)"});
    EXPECT_FALSE(state.edidToFile);
}

TEST_F(EdidCaptureTest, bytesTheLineDoesNotGiveKeepTheLastCapture) {
    state.receivedEdid = filled(0x42);
    capture.handleLine("OUT1 EDID DATA 00 01\r\n");
    ASSERT_EQ(files.saved.size(), 1U);
    EdidImage expected = filled(0x42);
    expected[0] = 0x00;
    expected[1] = 0x01;
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
    ConsoleState state;
    RecordingTarget target;
    EdidCapture capture(state, target.views(), files);
    for (int i = 0; i < 3; ++i) {
        state.edidToFile = true;
        state.edidFileName = "Matrix_EDID_inp2_%02d.bin";
        capture.handleLine(edidDataLine(sampleImage()));
    }
    EXPECT_EQ(read("Matrix_EDID_inp2_02.bin").size(), 256U);
    EXPECT_EQ(target.calls.at(4), "showMessage(Save to file: Matrix_EDID_inp2_02.bin)");
}

#ifndef _WIN32 // a failing write is made with the POSIX file-size limit
// As on a full disk: the cut file must neither stay (a later upload would
// send it padded with 0xFF as if it were an EDID) nor use up its number.
TEST_F(DirectoryEdidFilesTest, aFailedWriteLeavesNoFileAndFreesItsNumber) {
    DirectoryEdidFiles files(directory);
    ConsoleState state;
    RecordingTarget target;
    EdidCapture capture(state, target.views(), files);
    state.edidFileName = "Matrix_EDID_out1_%02d.bin";
    {
        const test::FileSizeLimit limit(100);
        state.edidToFile = true;
        capture.handleLine(edidDataLine(sampleImage()));
    }
    EXPECT_EQ(target.calls, Calls{"showMessage(failed)"});
    EXPECT_TRUE(std::filesystem::is_empty(directory));

    state.edidToFile = true;
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
    ConsoleState state;
    RecordingTarget target;
    EdidCapture capture(state, target.views(), files);
    state.edidToFile = true;
    state.edidFileName = "Matrix_EDID_out1_%02d.bin";
    capture.handleLine(edidDataLine(sampleImage()));
    EXPECT_EQ(target.calls.at(0), "showMessage(Save to file: Matrix_EDID_out1_02.bin)");

    EXPECT_EQ(files.save("Matrix_EDID_out1_00.bin", sampleImage()), EdidFiles::SaveResult::CannotCreate);
    EXPECT_EQ(files.save("Matrix_EDID_out1_01.bin", sampleImage()), EdidFiles::SaveResult::CannotCreate);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(outside / "planted.bin")));
    EXPECT_EQ(read("outside/victim.bin"), "keep");
}

} // namespace
} // namespace mc
