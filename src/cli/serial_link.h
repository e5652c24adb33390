#pragma once

#include "line_link.h"
#include "link/link_address.h"
#include "link/link_channel.h"
#include "link/tcp_backend.h"
#include "session/line_assembler.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace mc::ctl {

// The channel's owner side for a program without an event loop: the port
// worker queues bytes here and the main thread waits for them. Bounded: when
// the reader falls behind, the worker waits (the channel's back-pressure).
class ByteQueue final : public ByteSink {
public:
    static constexpr std::size_t kLimit = std::size_t{64} * 1024;

    explicit ByteQueue(const LinkChannel& channel);
    ~ByteQueue() override;
    ByteQueue(const ByteQueue&) = delete;
    ByteQueue& operator=(const ByteQueue&) = delete;

    // Port worker thread.
    void receiveBytes(std::span<const std::uint8_t> bytes, int comPort, std::stop_token stop) override;
    void linkFailed(int linkNumber, std::string reason, std::stop_token stop) override;

    // Main thread. Moves out what is queued, waiting until the deadline, the
    // worker's next hand-over or an interrupt, whichever comes first: an idle
    // link costs no wake-ups. failed is set when the channel flagged a port
    // error; such bytes are dropped, as the console drops them.
    std::string take(Clock::time_point deadline, bool& failed);
    // Ends a wait in take() to let it see an interrupt; any thread but a
    // signal handler's.
    void wake();

private:
    const LinkChannel& channel_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string bytes_;
    bool failed_ = false;
};

// COMn or a TCP peer through the core's channel: one port worker, the same
// bytes either way.
class SerialLink final : public LineLink {
public:
    SerialLink();
    ~SerialLink() override;
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // Opens COMn and starts its worker; false with error() naming why.
    bool open(int comPort);
#ifndef _WIN32
    // Opens the terminal device at path (any tty, whatever COMn it may be)
    // and starts its worker; false with error() naming why.
    bool openDevice(const std::string& path);
#endif
    // Connects to a TCP peer (on the worker, bounded) and waits for the
    // outcome; false with error() naming the peer and why.
    bool openNetwork(const TcpLinkAddress& address, std::chrono::milliseconds bound = kTcpConnectTimeout);
    void close();

    bool send(std::string_view bytes) override;
    Wait nextLine(std::string& line, Clock::time_point deadline) override;
    [[nodiscard]] std::string error() const override {
        return error_;
    }
    [[nodiscard]] std::string name() const override {
        return name_;
    }
    // After a failed open: whether the port is there but held or forbidden.
    [[nodiscard]] PortRefusal refusal() const {
        return channel_->lastRefusal();
    }

private:
    // After the channel opened the line: sets it up and starts the worker.
    bool startOpened();

    std::unique_ptr<LinkChannel> channel_;
    std::unique_ptr<ByteQueue> queue_;
    LineAssembler assembler_;
    std::string pending_; // received; assembled up to pendingAt_
    std::size_t pendingAt_ = 0;
    std::string name_;
    bool network_ = false;
    std::string error_;
};

// The COM port whose device is the file at path (through the port directory
// or the standard device names); nullopt when none is.
[[nodiscard]] std::optional<int> comPortOfDevice(const std::string& path);

} // namespace mc::ctl
