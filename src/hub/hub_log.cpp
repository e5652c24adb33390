#include "hub_log.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace mc::hub {
namespace {

int syslogPriority(LogLevel level) {
    switch (level) {
    case LogLevel::Debug:
        return 7;
    case LogLevel::Info:
        return 6;
    case LogLevel::Warning:
        return 4;
    case LogLevel::Error:
        return 3;
    }
    return 6;
}

std::string localTime() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm parts{};
#ifdef _WIN32
    localtime_s(&parts, &seconds);
#else
    ::localtime_r(&seconds, &parts);
#endif
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    char out[48];
    std::snprintf(out, sizeof out, "%.*s.%03d", static_cast<int>(length), text, static_cast<int>(millis));
    return out;
}

} // namespace

void logToStandardError(LogLevel threshold) {
    const bool journal = std::getenv("JOURNAL_STREAM") != nullptr;
    setLogSink([threshold, journal](LogLevel level, std::string_view source, std::string_view text) {
        if (level < threshold) {
            return;
        }
        std::string line;
        if (journal) {
            line = "<" + std::to_string(syslogPriority(level)) + ">";
        } else {
            line = localTime() + " " + logLevelName(level) + " ";
        }
        line += source;
        line += ": ";
        line += text;
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
    });
}

} // namespace mc::hub
