#pragma once

#include "link/link_channel.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace mc::test {

// A channel owner for tests: records every hand-over, and can hold the port
// worker inside a hand-over until released (or until the channel stops it).
class RecordingSink : public ByteSink {
public:
    struct Received {
        std::uint8_t byte;
        int linkNumber;
    };

    void receiveBytes(std::span<const std::uint8_t> bytes, int linkNumber, std::stop_token stop) override {
        std::unique_lock lock(mutex_);
        ++handOversStarted_;
        changed_.notify_all();
        changed_.wait(lock, stop, [this] { return !holding_; });
        for (std::uint8_t byte : bytes) {
            received_.push_back({byte, linkNumber});
        }
        burstSizes_.push_back(bytes.size());
        ++handOversFinished_;
        changed_.notify_all();
    }

    void linkFailed(int linkNumber, std::string reason, std::stop_token /*stop*/) override {
        const std::lock_guard lock(mutex_);
        failures_.push_back({linkNumber, std::move(reason), received_.size()});
        changed_.notify_all();
    }

    void linkConnected(int linkNumber, const std::stop_token& /*stop*/) override {
        const std::lock_guard lock(mutex_);
        connects_.push_back(linkNumber);
        changed_.notify_all();
    }
    // Removes and returns the links told up since the last take.
    std::vector<int> takeConnects() {
        const std::lock_guard lock(mutex_);
        return std::exchange(connects_, {});
    }

    // A failure told by the channel, with the count of bytes received before it.
    struct Failure {
        int linkNumber;
        std::string reason;
        std::size_t bytesBefore;
    };
    // Until a byte or a failure waits to be taken.
    bool waitForNews(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return !received_.empty() || !failures_.empty(); });
    }
    bool waitForFailure(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return !failures_.empty(); });
    }
    [[nodiscard]] std::vector<Failure> failures() const {
        const std::lock_guard lock(mutex_);
        return failures_;
    }
    // Removes and returns the failures told since the last take.
    std::vector<Failure> takeFailures() {
        const std::lock_guard lock(mutex_);
        return std::exchange(failures_, {});
    }

    // While held, every hand-over waits until release() or the channel's stop.
    void hold() {
        const std::lock_guard lock(mutex_);
        holding_ = true;
    }
    void release() {
        {
            const std::lock_guard lock(mutex_);
            holding_ = false;
        }
        changed_.notify_all();
    }

    bool waitForBytes(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
    }
    bool waitForHandOversStarted(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return handOversStarted_ >= count; });
    }

    // Everything received so far, as text.
    [[nodiscard]] std::string text() const {
        const std::lock_guard lock(mutex_);
        std::string out;
        for (const Received& r : received_) {
            out.push_back(static_cast<char>(r.byte));
        }
        return out;
    }
    [[nodiscard]] std::vector<Received> received() const {
        const std::lock_guard lock(mutex_);
        return received_;
    }
    // Removes and returns what has been received since the last take.
    std::vector<Received> take() {
        const std::lock_guard lock(mutex_);
        return std::exchange(received_, {});
    }
    [[nodiscard]] std::vector<std::size_t> burstSizes() const {
        const std::lock_guard lock(mutex_);
        return burstSizes_;
    }
    [[nodiscard]] std::size_t handOversStarted() const {
        const std::lock_guard lock(mutex_);
        return handOversStarted_;
    }
    [[nodiscard]] std::size_t handOversFinished() const {
        const std::lock_guard lock(mutex_);
        return handOversFinished_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable_any changed_;
    std::vector<Received> received_;
    std::vector<std::size_t> burstSizes_;
    std::vector<Failure> failures_;
    std::vector<int> connects_;
    std::size_t handOversStarted_ = 0;
    std::size_t handOversFinished_ = 0;
    bool holding_ = false;
};

} // namespace mc::test
