#pragma once

#include <chrono>
#include <string>
#include <string_view>

// A link to the switcher as matrix-ctl uses it: blocking, one caller thread.
namespace mc::ctl {

using Clock = std::chrono::steady_clock;

class LineLink {
public:
    enum class Wait {
        Line,        // a complete line (LF included) is in `line`
        Timeout,     // the deadline passed first
        HungUp,      // the line failed; see error()
        Interrupted, // SIGINT or SIGTERM
    };

    virtual ~LineLink() = default;

    // Hands one command to the link; false (with error()) when refused.
    virtual bool send(std::string_view bytes) = 0;
    // The next received line, waiting at most until the deadline.
    virtual Wait nextLine(std::string& line, Clock::time_point deadline) = 0;
    // Why the link failed, for the user.
    [[nodiscard]] virtual std::string error() const = 0;
    // The link as the user names it ("COM3").
    [[nodiscard]] virtual std::string name() const = 0;
};

// Set from the signal handlers of SIGINT and SIGTERM; waits end soon after.
void requestInterrupt();
[[nodiscard]] bool interruptRequested();

} // namespace mc::ctl
