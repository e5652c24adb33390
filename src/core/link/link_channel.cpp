// The channel's port worker, the same on every platform: the thread, bursts,
// hand-overs, the error flag and pending commands. Device calls go to the
// LinkBackend.
#include "link/link_channel.h"

#include "link/com_port_name.h"

#include <array>
#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace mc {

namespace {

// Bytes received and not yet handed over.
class Burst {
public:
    void push(std::uint8_t byte) { bytes_[size_++] = byte; }
    [[nodiscard]] bool full() const { return size_ == bytes_.size(); }
    [[nodiscard]] bool empty() const { return size_ == 0; }
    [[nodiscard]] std::span<const std::uint8_t> bytes() const { return {bytes_.data(), size_}; }
    void clear() { size_ = 0; }

private:
    std::array<std::uint8_t, kReceiveBurstLimit> bytes_{};
    std::size_t size_ = 0;
};

} // namespace

class LinkChannel::Impl {
public:
    explicit Impl(LinkBackendFactory backends) : backends_(std::move(backends)) {}
    ~Impl() { closeLink(); }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    bool openLink(ByteSink& owner, int linkNumber, const LineSettings& line) {
        std::unique_ptr<LinkBackend> backend = backends_ ? backends_(linkNumber) : nullptr;
        if (!backend) {
            closeLink();
            linkNumber_.store(linkNumber);
            recordFailure(comPortName(linkNumber) + " names no device here");
            return false;
        }
        return openLink(owner, linkNumber, std::move(backend), line);
    }

    bool openLink(ByteSink& owner, int linkNumber, std::unique_ptr<LinkBackend> backend, const LineSettings& line) {
        closeLink();
        owner_ = &owner;
        linkNumber_.store(linkNumber);
        line_ = line;
        const std::lock_guard lock(portLock_);
        if (!backend->open()) {
            recordFailure(backend->failure(), backend->refusal());
            return false;
        }
        backend_ = std::move(backend);
        pending_.open(line.writeBufferSize);
        state_.store(State::OpenIdle);
        if (!backend_->configure(line_)) {
            reportFailure();
        }
        backend_->purgeAll();
        return true;
    }

    bool startPortWorker() {
        if (state_.load() != State::OpenIdle) {
            return false;
        }
        {
            // Purged here rather than on the new thread, so that every byte
            // arriving after this call returns is kept.
            const std::lock_guard lock(portLock_);
            backend_->purgeAll();
        }
        stopSource_ = std::stop_source();
        try {
            worker_ = std::thread([this, stop = stopSource_.get_token()] { run(stop); });
        } catch (const std::system_error&) {
            return false;
        }
        state_.store(State::Running);
        return true;
    }

    SendResult sendTextCommand(std::string_view bytes) {
        const SendResult result = pending_.push(bytes);
        if (result == SendResult::Queued) {
            backend_->wakeForWrite();
        }
        return result;
    }

    void closeLink() {
        stopWorker();
        pending_.close();
        const std::lock_guard lock(portLock_);
        if (backend_) {
            backend_->close();
            backend_.reset();
        }
        state_.store(State::Closed);
    }

    [[nodiscard]] bool portError() const { return portError_.load(); }
    void clearPortError() { portError_.store(false); }
    [[nodiscard]] std::string lastFailure() const {
        const std::lock_guard lock(failureLock_);
        return lastFailure_;
    }
    [[nodiscard]] PortRefusal lastRefusal() const {
        const std::lock_guard lock(failureLock_);
        return lastRefusal_;
    }
    [[nodiscard]] State state() const { return state_.load(); }
    [[nodiscard]] int linkNumber() const { return linkNumber_.load(); }

private:
    void recordFailure(std::string reason, PortRefusal refusal = PortRefusal::None) {
        const std::lock_guard lock(failureLock_);
        lastFailure_ = std::move(reason);
        lastRefusal_ = refusal;
    }

    // A failed call on the open link: its reason, then the flag, so whoever
    // sees the flag finds the reason.
    void reportFailure() {
        recordFailure(backend_->failure());
        portError_.store(true);
    }

    void stopWorker() {
        if (!worker_.joinable()) {
            return;
        }
        state_.store(State::Stopping);
        stopSource_.request_stop(); // releases a hand-over waiting for room
        backend_->wakeForStop();
        worker_.join();
        state_.store(State::OpenIdle);
    }

    void handOver(Burst& burst, const std::stop_token& stop) {
        if (!burst.empty()) {
            owner_->receiveBytes(burst.bytes(), linkNumber_.load(), stop);
            burst.clear();
        }
    }

    // Reads the receive queue one byte per read while bytes are queued, and
    // hands them over in bursts. `hungUp`: the wait reported a hang-up or an
    // error. False when the line failed: the error flag is set and the owner
    // has been told.
    bool drain(bool hungUp, const std::stop_token& stop) {
        Burst burst;
        bool readAny = false;
        long known = 0; // bytes the device reported and not yet read
        while (!stop.stop_requested()) {
            if (known == 0) {
                {
                    const std::lock_guard lock(portLock_);
                    known = backend_->queuedBytes();
                }
                if (known < 0) {
                    return fail(burst, stop);
                }
                if (known == 0 && readAny) {
                    break;
                }
                // Woken with nothing queued: one read tells a hang-up from a
                // byte that has just come in or a spurious wake.
            }
            std::uint8_t byte = 0;
            LinkRead result = LinkRead::Empty;
            {
                const std::lock_guard lock(portLock_);
                result = backend_->readByte(byte);
            }
            if (result == LinkRead::Failed) {
                return fail(burst, stop);
            }
            if (result == LinkRead::Empty) {
                if (hungUp && !readAny) {
                    return fail(burst, stop);
                }
                break;
            }
            readAny = true;
            burst.push(byte);
            if (known > 0) {
                --known;
            }
            if (burst.full()) {
                handOver(burst, stop);
            }
        }
        handOver(burst, stop);
        return true;
    }

    bool fail(Burst& burst, const std::stop_token& stop) {
        handOver(burst, stop);
        reportFailure();
        owner_->linkFailed(linkNumber_.load(), lastFailure(), stop);
        return false;
    }

    // Writes one pending command: purge the input, then every byte within
    // kWriteTimeout.
    void writeOne() {
        // Taken before the pop, so a send racing with it wakes the worker again.
        backend_->takeWriteWake();
        const std::optional<std::string> command = pending_.pop();
        if (!pending_.empty()) {
            backend_->wakeForWrite();
        }
        if (!command) {
            return;
        }
        const std::lock_guard lock(portLock_);
        if (line_.purgeInputBeforeWrite) {
            backend_->purgeInput();
        }
        if (backend_->write(*command, LinkBackend::Clock::now() + kWriteTimeout) == LinkWrite::Failed) {
            reportFailure();
        }
    }

    void run(const std::stop_token& stop) {
        loop(stop);
        backend_->endWait();
    }

    void loop(const std::stop_token& stop) {
        // After a failure the line is no longer watched, so a hung-up line
        // cannot keep waking the worker; stop and writes still can.
        bool watchLine = line_.readReceived;
        if (!backend_->connect()) {
            if (stop.stop_requested()) {
                return; // ended by the close, not by the line
            }
            Burst none;
            watchLine = fail(none, stop);
        } else {
            owner_->linkConnected(linkNumber_.load(), stop);
        }
        while (!stop.stop_requested()) {
            switch (backend_->wait(watchLine)) {
            case LinkWake::Stop:
                return;
            case LinkWake::Readable:
                watchLine = drain(false, stop);
                break;
            case LinkWake::HungUp:
                watchLine = drain(true, stop);
                break;
            case LinkWake::Write:
                writeOne();
                break;
            case LinkWake::Failed: {
                Burst none;
                fail(none, stop);
                return;
            }
            }
        }
    }

    LinkBackendFactory backends_;
    std::mutex portLock_; // serialises the backend's device calls
    std::unique_ptr<LinkBackend> backend_;
    std::thread worker_;
    std::stop_source stopSource_{std::nostopstate};
    std::atomic<State> state_{State::Closed};
    std::atomic<bool> portError_{false};
    std::atomic<int> linkNumber_{0};
    mutable std::mutex failureLock_;
    std::string lastFailure_;
    PortRefusal lastRefusal_ = PortRefusal::None;
    ByteSink* owner_ = nullptr;
    LineSettings line_;
    PendingCommands pending_;
};

LinkChannel::LinkChannel() : LinkChannel(makeSerialBackend) {
}
LinkChannel::LinkChannel(LinkBackendFactory backends) : impl_(std::make_unique<Impl>(std::move(backends))) {
}
LinkChannel::~LinkChannel() = default;

bool LinkChannel::openLink(ByteSink& owner, int linkNumber, const LineSettings& line) {
    return impl_->openLink(owner, linkNumber, line);
}
bool LinkChannel::openLink(ByteSink& owner, int linkNumber, std::unique_ptr<LinkBackend> backend,
                           const LineSettings& line) {
    if (!backend) {
        return false;
    }
    return impl_->openLink(owner, linkNumber, std::move(backend), line);
}
bool LinkChannel::startPortWorker() {
    return impl_->startPortWorker();
}
SendResult LinkChannel::sendTextCommand(std::string_view bytes) {
    return impl_->sendTextCommand(bytes);
}
void LinkChannel::closeLink() {
    impl_->closeLink();
}
bool LinkChannel::portError() const {
    return impl_->portError();
}
void LinkChannel::clearPortError() {
    impl_->clearPortError();
}
std::string LinkChannel::lastFailure() const {
    return impl_->lastFailure();
}
PortRefusal LinkChannel::lastRefusal() const {
    return impl_->lastRefusal();
}
LinkChannel::State LinkChannel::state() const {
    return impl_->state();
}
int LinkChannel::linkNumber() const {
    return impl_->linkNumber();
}

} // namespace mc
