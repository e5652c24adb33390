// The --log file: only regular files, opened without waiting; rotated at a
// size; followed when logrotate moves it; a queue that overflows says so.
#include "session/traffic_file.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace mc;

namespace {

namespace fs = std::filesystem;

class TrafficLogFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("traffic-file-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    [[nodiscard]] std::string path(const std::string& name = "console.log") const { return (dir_ / name).string(); }

    static std::string text(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // A row whose text line tells it apart: "... sent  COM1  row 17".
    static TrafficRow row(int n) {
        return {std::chrono::system_clock::now(), TrafficDirection::Sent, "COM1", "row " + std::to_string(n), {}};
    }

    fs::path dir_;
};

TEST_F(TrafficLogFile, rotatesAtItsSizeIntoOneOlderFile) {
    TrafficFileLimits limits;
    limits.rotateAt = 1000;
    std::string error;
    auto file = TrafficFile::open(path(), error, limits);
    ASSERT_TRUE(file) << error;
    constexpr int kRows = 200; // about 9 KB in all
    for (int n = 0; n < kRows; ++n) {
        file->write(row(n));
    }
    file->flush();
    EXPECT_EQ(file->failure(), "");
    file.reset();

    const std::string newest = text(path());
    const std::string older = text(path() + ".1");
    EXPECT_LE(newest.size(), limits.rotateAt);
    EXPECT_GT(older.size(), limits.rotateAt / 2);
    EXPECT_LE(older.size(), limits.rotateAt);
    EXPECT_FALSE(fs::exists(path() + ".2"));
    // The two files hold the newest rows, in order, none missing in between.
    const std::string both = older + newest;
    EXPECT_EQ(both.substr(both.size() - std::string("row 199\n").size()), "row 199\n");
    std::size_t at = 0;
    int expected = -1;
    while ((at = both.find("  row ", at)) != std::string::npos) {
        const int n = std::stoi(both.substr(at + 6));
        if (expected >= 0) {
            EXPECT_EQ(n, expected) << both;
        }
        expected = n + 1;
        at += 6;
    }
    EXPECT_EQ(expected, kRows);
}

TEST_F(TrafficLogFile, aRowTooBigForTheQueueIsDroppedAndTheFileSaysSo) {
    TrafficFileLimits limits;
    limits.queueBytes = 200;
    std::string error;
    auto file = TrafficFile::open(path(), error, limits);
    ASSERT_TRUE(file) << error;
    TrafficRow big = row(1);
    big.bytes = std::string(300, 'x');
    file->write(big);
    file->write(row(2));
    file->flush();
    EXPECT_EQ(file->droppedRows(), 1U);
    file.reset();
    const std::string written = text(path());
    EXPECT_EQ(written.find("xxx"), std::string::npos);
    EXPECT_NE(written.find("row 2\n"), std::string::npos) << written;
    EXPECT_NE(written.find("(1 rows not written: the file could not keep up)\n"), std::string::npos) << written;
}

#ifndef _WIN32
// logrotate moves the file away (or someone removes it); the rows go on in
// a new file at the path, the moved one keeps what it had.
TEST_F(TrafficLogFile, startsANewFileWhenItsFileIsMovedOrRemoved) {
    std::string error;
    auto file = TrafficFile::open(path(), error);
    ASSERT_TRUE(file) << error;
    file->write(row(1));
    file->flush();
    fs::rename(path(), path("console.log.moved"));
    file->write(row(2));
    file->flush();
    EXPECT_NE(text(path("console.log.moved")).find("row 1\n"), std::string::npos);
    EXPECT_EQ(text(path("console.log.moved")).find("row 2"), std::string::npos);
    EXPECT_NE(text(path()).find("row 2\n"), std::string::npos);

    fs::remove(path());
    file->write(row(3));
    file->flush();
    EXPECT_EQ(file->failure(), "");
    const std::string now = text(path());
    EXPECT_EQ(now.find("row 2"), std::string::npos);
    EXPECT_NE(now.find("row 3\n"), std::string::npos) << now;
}

// A FIFO (with or without a reader), a directory or a device is refused at
// once with the reason; an open for writing would wait for a FIFO's reader.
TEST_F(TrafficLogFile, takesOnlyARegularFileAndNeverWaitsToFindOut) {
    const std::string fifo = path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const std::pair<std::string, std::string> refused[] = {
        {fifo, "a FIFO"},
        {dir_.string(), "a directory"},
        {"/dev/null", "a device"},
    };
    for (const auto& [target, kind] : refused) {
        const auto started = std::chrono::steady_clock::now();
        std::string error;
        EXPECT_EQ(TrafficFile::open(target, error), nullptr) << target;
        EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
        EXPECT_NE(error.find(kind), std::string::npos) << error;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    }
    ::close(reader);
    std::string error;
    EXPECT_EQ(TrafficFile::open(fifo, error), nullptr) << "a FIFO nobody reads";
    EXPECT_NE(error.find("a FIFO"), std::string::npos) << error;
}
#endif

} // namespace
