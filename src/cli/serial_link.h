#pragma once

#include "line_link.h"
#include "link/serial_channel.h"
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

    explicit ByteQueue(const SerialChannel& channel) : channel_(channel) {}

    // Port worker thread.
    void receiveBytes(std::span<const std::uint8_t> bytes, int comPort, std::stop_token stop) override;

    // Main thread. Moves out what is queued, waiting until the deadline (in
    // short slices, so an interrupt is seen). failed is set when the channel
    // flagged a port error; such bytes are dropped, as the console drops them.
    std::string take(Clock::time_point deadline, bool& failed);

private:
    const SerialChannel& channel_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string bytes_;
    bool failed_ = false;
};

// COMn through the core's serial channel.
class SerialLink final : public LineLink {
public:
    SerialLink();
    ~SerialLink() override;
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // Opens COMn and starts its worker; false with error() naming why.
    bool open(int comPort);
    void close();

    bool send(std::string_view bytes) override;
    Wait nextLine(std::string& line, Clock::time_point deadline) override;
    [[nodiscard]] std::string error() const override { return error_; }
    [[nodiscard]] std::string name() const override { return "COM" + std::to_string(comPort_); }

private:
    std::unique_ptr<SerialChannel> channel_;
    std::unique_ptr<ByteQueue> queue_;
    std::string buffer_;
    LineAssembler assembler_{buffer_};
    std::string pending_; // received; assembled up to pendingAt_
    std::size_t pendingAt_ = 0;
    int comPort_ = 0;
    std::string error_;
};

// Why COMn cannot be opened, as the user should read it: the device, then the
// OS reason ("no such device", "permission denied; add your user to the
// dialout group, then log in again", "in use by another program").
[[nodiscard]] std::string diagnoseOpenFailure(int comPort);

// The COM port whose device is the file at path (through the port directory
// or the standard device names); nullopt when none is.
[[nodiscard]] std::optional<int> comPortOfDevice(const std::string& path);

} // namespace mc::ctl
