#pragma once

#ifndef _WIN32

#include "link/link_backend.h"

namespace mc {

// Milliseconds left until `deadline`, for poll(); 0 once it has passed.
int remainingMs(LinkBackend::Clock::time_point deadline);

// Closes an open descriptor and marks it closed; harmless on a closed one.
void closeFd(int& fd);

// Counts one wake-up on an eventfd.
void signalEventFd(int eventFd);

// The stop and write wake-ups of a POSIX backend (two eventfds), and the port
// worker's waits on them beside the device's own descriptor. Every POSIX link
// waits the same way, whatever its device.
class PosixWakeups {
public:
    PosixWakeups() = default;
    ~PosixWakeups();
    PosixWakeups(const PosixWakeups&) = delete;
    PosixWakeups& operator=(const PosixWakeups&) = delete;

    // False (errno set) when the eventfds cannot be had: no worker could run.
    bool create();

    void wakeForStop() const;
    void wakeForWrite() const;
    void takeWriteWake() const;

    // Waits without time limit for a stop, the device `fd` (when `watchLine`)
    // or a write wake-up, in that order of priority. Failed leaves errno set.
    [[nodiscard]] LinkWake wait(int fd, bool watchLine) const;

    enum class Writable {
        Ready,    // try the write again
        Stopped,  // a stop request came first
        TimedOut, // the deadline passed
        HungUp,   // the device reported an error or a hang-up
        Failed,   // the wait itself failed (errno set)
    };
    // After a write to `fd` would block: waits until it takes more, a stop
    // request or the deadline.
    [[nodiscard]] Writable waitWritable(int fd, LinkBackend::Clock::time_point deadline) const;

    // For waits of the backend's own that a stop request must also end.
    [[nodiscard]] int stopFd() const { return stopFd_; }

private:
    int stopFd_ = -1;
    int writeFd_ = -1;
};

} // namespace mc

#endif
