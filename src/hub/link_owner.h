#pragma once

#include "link/link_address.h"
#include "link/link_channel.h"
#include "link/pending_commands.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

// The hub's one link to the switcher: the core channel with its port worker,
// opened again and again for as long as the hub runs. Everything but
// receiveBytes runs on the event loop's thread; the worker hands its bursts
// over by posting them into that loop.
namespace mc::hub {

// Waits between attempts to open the link: from 0.5 s, doubling, at most
// 30 s. A link that stood for a while starts again from the first wait.
class RetryBackoff {
public:
    static constexpr std::chrono::milliseconds kFirst{500};
    static constexpr std::chrono::milliseconds kLongest{30000};

    // The wait before the next attempt; each call doubles the one after.
    std::chrono::milliseconds next();
    void reset() { next_ = kFirst; }

private:
    std::chrono::milliseconds next_ = kFirst;
};

struct LinkStatus {
    enum State { Connecting, Up, Down };
    State state = Down;
    std::string reason; // why it is down, in the system's words
    std::chrono::system_clock::time_point since{};
};

[[nodiscard]] const char* linkStateName(LinkStatus::State state);

class LinkOwner final : public ByteSink {
public:
    // Runs a function on the event loop's thread (later, never inside the call).
    using Post = std::function<void(std::function<void()>)>;
    struct Events {
        std::function<void()> up;
        std::function<void(std::string_view bytes)> received;
        std::function<void(const std::string& reason)> failed;
    };

    LinkOwner(LinkAddress address, Post post, Events events);
    ~LinkOwner() override;
    LinkOwner(const LinkOwner&) = delete;
    LinkOwner& operator=(const LinkOwner&) = delete;

    // One attempt. A serial line is up (or failed) at once; a TCP link
    // connects on the worker and reports through the events.
    void open();
    void close();
    [[nodiscard]] SendResult send(std::string_view bytes);

    [[nodiscard]] const LinkStatus& status() const { return status_; }
    [[nodiscard]] const std::string& name() const { return name_; }

    // A serial device that was missing (or was another device) at the last
    // failure and is there now: worth trying again at once. A USB adapter
    // plugged back or a switcher's line coming back shows up this way.
    [[nodiscard]] bool deviceReturned();
    [[nodiscard]] bool isSerial() const;

    // Port worker thread.
    void receiveBytes(std::span<const std::uint8_t> bytes, int comPort, std::stop_token stop) override;
    void linkFailed(int comPort, std::string reason, std::stop_token stop) override;

private:
    // Called with inboxLock_ held.
    void postDrain();
    void drain(std::uint64_t generation);
    void fail(const std::string& reason);
    void setStatus(LinkStatus::State state, std::string reason);
    [[nodiscard]] std::optional<std::string> devicePath() const;
    [[nodiscard]] std::string deviceIdentity() const;

    LinkAddress address_;
    std::string name_;
    Post post_;
    Events events_;
    LinkChannel channel_;
    LinkStatus status_;
    std::string deviceAtFailure_;

    // Shared with the port worker.
    std::mutex inboxLock_;
    std::condition_variable inboxDrained_;
    std::string inbox_;
    bool inboxFailed_ = false;
    bool drainPosted_ = false;
    std::uint64_t generation_ = 0; // of the open link; stale posts are ignored
};

} // namespace mc::hub
