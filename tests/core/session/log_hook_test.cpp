#include "session/log_hook.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace mc {
namespace {

TEST(LogHook, goesNowhereUntilASinkIsAttachedAndStopsWhenDetached) {
    logMessage(LogLevel::Error, "test", "before"); // no sink: nothing happens
    std::vector<std::string> seen;
    setLogSink([&](LogLevel level, std::string_view source, std::string_view text) {
        seen.push_back(std::string(logLevelName(level)) + " " + std::string(source) + ": " + std::string(text));
    });
    logMessage(LogLevel::Warning, "connection", "COM3 cannot be opened");
    setLogSink({});
    logMessage(LogLevel::Error, "test", "after");
    EXPECT_EQ(seen, std::vector<std::string>{"warning connection: COM3 cannot be opened"});
}

TEST(LogHook, callsFromSeveralThreadsReachTheSinkOneAtATime) {
    int inside = 0;
    int most = 0;
    int count = 0;
    setLogSink([&](LogLevel, std::string_view, std::string_view) {
        most = std::max(most, ++inside);
        ++count;
        --inside;
    });
    std::vector<std::thread> threads;
    threads.reserve(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 500; ++i) {
                logMessage(LogLevel::Debug, "test", "x");
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    setLogSink({});
    EXPECT_EQ(count, 2000);
    EXPECT_EQ(most, 1);
}

} // namespace
} // namespace mc
