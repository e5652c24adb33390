#pragma once

#include "sim/line_hooks.h"
#include "sim/reply_backlog.h"
#include "sim/serial_line.h"
#include "sim/session.h"

#include <chrono>
#include <optional>
#include <poll.h>
#include <span>
#include <vector>

namespace mc::sim {

// A reply backlog the serial line takes none of for this long is dropped
// (a serial line cannot be disconnected like a client): a console that
// stopped reading gets its input read again, and memory stays bounded.
inline constexpr std::chrono::milliseconds kSerialStallLimit{2000};
// Hangup mode: longest wait for the console to take the last replies.
inline constexpr std::chrono::milliseconds kSerialHangupGrace{2000};

// The switcher on the serial line (POSIX), served like a TCP client: its
// replies wait in their own bounded backlog, written as the line takes them,
// so a console that stops reading holds up no client. While no console holds
// a pseudo-terminal, its master reports a hang-up without end; the service
// then waits for the next open of the slave side (inotify) instead of
// polling. Nothing here waits except the hang-up's bounded wait for the
// console to read (through the caller's pause, so a stop request ends it).
class SerialService {
public:
    using Clock = std::chrono::steady_clock;

    SerialService(SerialLine& line, Session& session, LineHooks hooks);
    ~SerialService();
    SerialService(const SerialService&) = delete;
    SerialService& operator=(const SerialService&) = delete;

    // Appends exactly two pollfds, the line and the watch for its next open
    // (a descriptor not to be watched now is -1), in the order handle expects.
    void addPollFds(std::vector<pollfd>& fds, Clock::time_point now) const;
    // Takes what the poll reported for exactly those two. Returns the exit
    // status when the program ends: a hang-up of hangup mode (0) or a dead
    // device (1).
    [[nodiscard]] std::optional<int> handle(std::span<const pollfd> fds, Clock::time_point now,
                                            const SerialLine::Pause& pause);
    // When handle must run again even if nothing arrives.
    [[nodiscard]] std::optional<Clock::time_point> nextDeadline() const;

private:
    std::optional<int> readLine(Clock::time_point now);
    void flush(Clock::time_point now);
    void consoleGone();
    int finishHangup(Clock::time_point now, const SerialLine::Pause& pause);

    SerialLine& line_;
    Session& session_;
    LineHooks hooks_;
    ReplyBacklog backlog_;
    int openWatch_ = -1;            // inotify on the slave side; -1: none
    bool waitingForOpen_ = false;   // no console holds the line
    Clock::time_point idleUntil_{}; // without a watch: the line rests until then
    bool consoleAttached_ = false;
    bool hangingUp_ = false;
    Clock::time_point hangupDeadline_{};
};

} // namespace mc::sim
