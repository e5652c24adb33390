// matrix-edid run as a program: framing of its output, byte-exact reports,
// and what happens with unreadable files.
#include "edid/edid_decoder.h"
#include "edid/edid_file.h"
#include "edid/edid_summary.h"
#include "version.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace mc {
namespace {

namespace fs = std::filesystem;

const fs::path kSamples = fs::path(MC_TEST_DATA_DIR) / "edid-samples";

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

ToolRun runTool(const std::vector<std::string>& args) {
    const fs::path errFile = fs::temp_directory_path() / ("matrix-edid-test-" + std::to_string(::getpid()) + ".err");
    std::string command = "'" MC_MATRIX_EDID "'";
    for (const std::string& arg : args) {
        command += " '" + arg + "'";
    }
    command += " 2>'" + errFile.string() + "'";
    ToolRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        run.out.append(buffer.data(), n);
    }
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(errFile, std::ios::binary);
    run.err.assign(std::istreambuf_iterator<char>(err), {});
    fs::remove(errFile);
    return run;
}

std::string expectedOutput(const fs::path& file) {
    const auto image = readEdidFile(file.string());
    if (!image) {
        return {};
    }
    const EdidReports reports = decodeEdid(*image);
    return "==== video\n" + reports.video + "==== audio\n" + reports.audio + "==== general\n" + reports.general +
           "==== summary\n" + fillEdidSummary(reports);
}

TEST(MatrixEdid, printsTheReportsAndSummaryByteForByte) {
    const fs::path file = kSamples / "108-marantz-mji0031.bin";
    const ToolRun run = runTool({file.string()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, expectedOutput(file));
    EXPECT_EQ(run.out.rfind("==== video\nPreferred Timing:1920x1080@60Hz\r\n", 0), 0U);
    EXPECT_NE(run.out.find("\r\n==== summary\nManufacture's Name:MJI\r\n"), std::string::npos);
}

TEST(MatrixEdid, decodesTheOtherFilesWhenOneIsUnreadable) {
    const fs::path first = kSamples / "001-aoc-aoc2703.bin";
    const fs::path missing = kSamples / "missing.bin";
    const fs::path last = kSamples / "195-hannspree-hsg1ac3.bin";
    const ToolRun run = runTool({first.string(), missing.string(), kSamples.string(), last.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, expectedOutput(first) + expectedOutput(last));
    EXPECT_NE(run.err.find("cannot read " + missing.string()), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("cannot read " + kSamples.string()), std::string::npos) << run.err;
}

TEST(MatrixEdid, readsAtMost256BytesAndFillsShortFilesWithOnes) {
    const fs::path dir = fs::temp_directory_path() / ("matrix-edid-test-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::vector<char> bytes(300, 0);
    bytes[299] = 0x7F;
    {
        std::ofstream(dir / "long.bin", std::ios::binary).write(bytes.data(), 300);
        std::ofstream(dir / "empty.bin", std::ios::binary);
    }
    const ToolRun run = runTool({(dir / "long.bin").string(), (dir / "empty.bin").string()});
    fs::remove_all(dir);
    EXPECT_EQ(run.status, 0);
    // 300 zero bytes decode as the all-zero image; an empty file as all ones.
    EXPECT_EQ(run.out.rfind("==== video\nPreferred Timing:0x0@0Hz\r\n==== audio\n\r\n", 0), 0U) << run.out;
    EXPECT_NE(run.out.find("==== video\nPreferred Timing:4095x8190i@10Hz \r\n"), std::string::npos) << run.out;
}

TEST(MatrixEdid, refusesAFifoAtOnceAndDecodesTheOtherFiles) {
    const fs::path fifo = fs::temp_directory_path() / ("matrix-edid-test-" + std::to_string(::getpid()) + ".bin");
    fs::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path sample = kSamples / "001-aoc-aoc2703.bin";
    // Should the program wait for a writer, one comes (and goes) after a
    // while, so the test ends either way.
    std::atomic<bool> finished = false;
    std::thread writer([&] {
        for (int i = 0; i < 300 && !finished; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
    });
    const auto start = std::chrono::steady_clock::now();
    const ToolRun run = runTool({fifo.string(), sample.string()});
    const auto took = std::chrono::steady_clock::now() - start;
    finished = true;
    writer.join();
    fs::remove(fifo);
    EXPECT_LT(took, std::chrono::seconds(3));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, expectedOutput(sample));
    EXPECT_EQ(run.err, "matrix-edid: cannot read " + fifo.string() + ": a FIFO, not a regular file\n");
}

TEST(MatrixEdid, withoutFilesPrintsUsage) {
    const ToolRun run = runTool({});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("usage: matrix-edid [--] FILE.bin..."), std::string::npos);
}

TEST(MatrixEdid, helpPrintsTheUsageAndDoubleDashEndsTheOptions) {
    const ToolRun help = runTool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: matrix-edid [--] FILE.bin...\n", 0), 0U) << help.out;
    EXPECT_EQ(help.err, "");

    // A file named like an option is read when it follows "--", and refused as
    // an unknown option before it.
    const fs::path dir = fs::temp_directory_path() / ("matrix-edid-test-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::copy_file(kSamples / "001-aoc-aoc2703.bin", dir / "-x.bin", fs::copy_options::overwrite_existing);
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    const ToolRun dashed = runTool({"--", "-x.bin"});
    const ToolRun unknown = runTool({"-x.bin"});
    const ToolRun onlyDashes = runTool({"--"});
    fs::current_path(before);
    const std::string expected = expectedOutput(dir / "-x.bin");
    fs::remove_all(dir);
    EXPECT_EQ(dashed.status, 0) << dashed.err;
    EXPECT_EQ(dashed.out, expected);
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.out, "");
    EXPECT_NE(unknown.err.find("unknown option -x.bin"), std::string::npos) << unknown.err;
    EXPECT_EQ(onlyDashes.status, 2);
    EXPECT_NE(onlyDashes.err.find("usage: matrix-edid"), std::string::npos) << onlyDashes.err;
}

TEST(MatrixEdid, versionPrintsTheProjectsVersionAlone) {
    const ToolRun run = runTool({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string("matrix-edid ") + kVersion + "\n");
    EXPECT_EQ(run.err, "");
}

// A sound EDID, one with a warning only (reserved manufacturer bit) and one
// with an error (a checksum), written to a scratch folder.
class MatrixEdidCheck : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir_);
        std::ifstream in(kSamples / "034-mi-xmi27a1.bin", std::ios::binary);
        sound_.assign(std::istreambuf_iterator<char>(in), {});
        ASSERT_EQ(sound_.size(), 256U);
        write("sound.bin", sound_);
        std::string warned = sound_;
        warned[8] = static_cast<char>(warned[8] | 0x80);
        warned[127] = static_cast<char>(warned[127] - 0x80);
        write("warned.bin", warned);
        std::string broken = sound_;
        broken[255] = static_cast<char>(broken[255] + 1);
        write("broken.bin", broken);
    }
    void TearDown() override { fs::remove_all(dir_); }

    void write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    const fs::path dir_ = fs::temp_directory_path() / ("matrix-edid-check-" + std::to_string(::getpid()));
    std::string sound_;
};

TEST_F(MatrixEdidCheck, exitStatusIsTheWorstOverAllFiles) {
    const ToolRun clean = runTool({"--check", path("sound.bin")});
    EXPECT_EQ(clean.status, 0);
    EXPECT_EQ(clean.out, path("sound.bin") + ": no findings\n");

    const ToolRun warned = runTool({"--check", path("sound.bin"), path("warned.bin")});
    EXPECT_EQ(warned.status, 1);
    EXPECT_EQ(warned.out,
              path("sound.bin") + ": no findings\n" + path("warned.bin") +
                  ": warning at byte 8: the manufacturer ID (bytes 8 and 9) has its reserved top bit set\n");

    const ToolRun broken = runTool({"--check", path("broken.bin"), path("warned.bin")});
    EXPECT_EQ(broken.status, 2);
    EXPECT_EQ(broken.out.rfind(path("broken.bin") + ": error at byte 255: checksum of block 1 is 0x", 0), 0U);

    // A missing file is worse than any finding, and the others are still checked.
    const ToolRun missing = runTool({"--check", path("broken.bin"), path("absent.bin")});
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.err.find("matrix-edid: cannot read " + path("absent.bin") + ": No such file or directory"),
              std::string::npos);
    EXPECT_NE(missing.out.find(path("broken.bin") + ": error"), std::string::npos);

    EXPECT_EQ(runTool({"--check"}).status, 2);
    EXPECT_EQ(runTool({"--json", path("sound.bin")}).status, 2);
}

TEST_F(MatrixEdidCheck, checksTheWholeFileNotTheFilledImage) {
    // 128 bytes that count one extension: the decoder fills up, the check does not.
    write("short.bin", sound_.substr(0, 128));
    const ToolRun run = runTool({"--check", path("short.bin")});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, path("short.bin") +
                           ": error at byte 126: the extension count (byte 126) is 1, but only 0 extension blocks "
                           "follow\n");
}

TEST_F(MatrixEdidCheck, jsonHasOneDocumentForAllFiles) {
    const ToolRun run = runTool({"--check", "--json", path("sound.bin"), path("broken.bin"), path("absent.bin")});
    EXPECT_EQ(run.status, 3);
    const auto expected =
        std::string(R"({"files":[{"file":")") + path("sound.bin") +
        R"(","bytes":256,"errors":false,"findings":[]},{"file":")" + path("broken.bin") +
        R"(","bytes":256,"errors":true,"findings":[{"severity":"error","offset":255,"text":"checksum of block 1 is 0x)";
    EXPECT_EQ(run.out.rfind(expected, 0), 0U) << run.out;
    EXPECT_NE(run.out.find(R"({"file":")" + path("absent.bin") + R"(","error":"No such file or directory"}]})"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1);
}

} // namespace
} // namespace mc
