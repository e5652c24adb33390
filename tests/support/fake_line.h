#pragma once

#include "link/link_backend.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace mc::test {

// The far end of a fake serial line: scripted bytes in, recorded bytes out, a
// far-end failure on demand. No pseudo-terminal, no sleeps: the channel's port
// worker waits on it through a condition variable. Lives in FakeLines, which
// makes the backends a LinkChannel opens on it. Thread-safe.
class FakeLine {
public:
    // Bytes the far end sends; they wake the worker when it watches the line.
    void feed(std::string_view bytes);
    // Sent back in whole after every write (a switcher that answers).
    void answerEachWrite(std::string_view reply);
    // The far end hangs up: queued bytes can still be read, then reads fail.
    void failFarEnd();
    // The far end is back (for the next open).
    void restoreFarEnd();
    // The next opens fail as if another program held the port.
    void refuseOpens();
    // The worker's connect fails ("Connection refused"), or waits until the
    // close stops it, as a network link's may.
    void refuseConnects();
    void holdConnects();

    // Every call the channel made, in order: "open", "configure", "purge all",
    // "purge input", "write <bytes>", "close".
    [[nodiscard]] std::vector<std::string> journal() const;
    [[nodiscard]] std::string written() const;
    // Bytes fed and not yet read or purged.
    [[nodiscard]] std::size_t queued() const;
    [[nodiscard]] bool isOpen() const;
    // Waits until `count` bytes have been written in all.
    bool waitWritten(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    friend class FakeLineBackend;

    void note(std::string entry); // under mutex_

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<std::uint8_t> input_;
    std::string written_;
    std::string reply_;
    std::vector<std::string> journal_;
    bool hungUp_ = false;
    bool refuseOpens_ = false;
    bool refuseConnects_ = false;
    bool holdConnects_ = false;
    bool open_ = false;
    // Wake-ups of the backend open on this line.
    bool stop_ = false;
    bool write_ = false;
};

// Fake lines by COM number, and the backend factory a LinkChannel takes.
// A number with no line names no device, like an absent port.
class FakeLines {
public:
    FakeLine& add(int comPort);
    [[nodiscard]] LinkBackendFactory factory();

private:
    using Lines = std::map<int, std::shared_ptr<FakeLine>>;
    // Shared with the factories, which see lines added later too.
    std::shared_ptr<Lines> lines_ = std::make_shared<Lines>();
};

} // namespace mc::test
