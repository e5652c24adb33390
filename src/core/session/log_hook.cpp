#include "session/log_hook.h"

#include <mutex>
#include <utility>

namespace mc {

namespace {

struct Hook {
    std::mutex lock; // held around every call into the sink
    LogSink sink;
};

Hook& hook() {
    static Hook instance;
    return instance;
}

} // namespace

void setLogSink(LogSink sink) {
    Hook& h = hook();
    const std::lock_guard lock(h.lock);
    h.sink = std::move(sink);
}

void logMessage(LogLevel level, std::string_view source, std::string_view text) {
    Hook& h = hook();
    const std::lock_guard lock(h.lock);
    if (h.sink) {
        h.sink(level, source, text);
    }
}

const char* logLevelName(LogLevel level) {
    switch (level) {
    case LogLevel::Debug:
        return "debug";
    case LogLevel::Info:
        return "info";
    case LogLevel::Warning:
        return "warning";
    case LogLevel::Error:
        return "error";
    }
    return "?";
}

} // namespace mc
