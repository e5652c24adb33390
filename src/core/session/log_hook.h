#pragma once

#include <functional>
#include <string_view>

namespace mc {

enum class LogLevel { Debug, Info, Warning, Error };

// Where the core's diagnostics go: one sink, attached by a front end (a log
// window, stderr, a file). Nothing is logged until one is attached. The
// operator's message boxes are separate and unaffected.
// `source` names the part that logs ("connection"), `text` says what failed
// and why.
using LogSink = std::function<void(LogLevel level, std::string_view source, std::string_view text)>;

// Replaces the sink; an empty one detaches. Any thread. Returns once no call
// into the old sink is in progress, so a front end may detach and then go.
void setLogSink(LogSink sink);

// Hands one entry to the sink, if any. Any thread; calls are serialised, so a
// sink needs no lock of its own, but it must not log itself.
void logMessage(LogLevel level, std::string_view source, std::string_view text);

[[nodiscard]] const char* logLevelName(LogLevel level);

} // namespace mc
